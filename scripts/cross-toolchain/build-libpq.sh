#!/usr/bin/env bash
# Builds PostgreSQL's client library libpq for Windows x64 with Debian's mingw-w64 (posix), against
# the static OpenSSL 3.0 of the unpacked cross toolchain, and packs it as
# libpq-15-mingw-w64-x86_64.tar.xz: libpq/bin/libpq.dll (OpenSSL linked in; imports system DLLs
# only), libpq/lib/libpq.dll.a (import library), libpq/include/ (libpq-fe.h, libpq-events.h,
# postgres_ext.h, pg_config_ext.h, and pg_config.h, from which CMake's FindPostgreSQL reads the
# version), libpq/COPYRIGHT, libpq/VERSION.
# Source: Debian 12's own postgresql-15 source package (apt-get source; a deb-src entry is added
# from the machine's deb822 entries when missing). The newest version whose source the archive
# still serves is taken: it can list a security update's binaries before it serves that update's
# source. No patches are needed. About 3 minutes on 2 cores.
# scripts/build-windows.sh runs it when the shared archive is missing.
# Usage: bash build-libpq.sh OPENSSL-DIR [work-dir] [output-dir]
#   OPENSSL-DIR  the unpacked openssl/ of the Qt toolchain (include/, lib/libssl.a, lib/libcrypto.a)
set -euo pipefail
ssl=$(realpath "${1:?usage: build-libpq.sh OPENSSL-DIR [work-dir] [output-dir]}")
work=$(realpath -m "${2:-/tmp/korvane-libpq}")
out=$(realpath -m "${3:-$work}")
[ -f "$ssl/lib/libssl.a" ] || { echo "$ssl holds no static OpenSSL (lib/libssl.a)" >&2; exit 1; }
mkdir -p "$work" "$out" && cd "$work"

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [ ! -f /etc/apt/sources.list.d/korvane-src.sources ]; then
  sed -n '/^Types: deb$/,/^$/p' /etc/apt/sources.list.d/*.sources 2>/dev/null \
    | sed 's/^Types: deb$/Types: deb-src/' | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/korvane-src.sources >/dev/null
  [ -s /etc/apt/sources.list.d/korvane-src.sources ] || { echo "no deb822 apt sources to copy" >&2; exit 1; }
fi
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends make xz-utils bzip2 dpkg-dev bison flex perl \
  gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 >/dev/null

# Fetches the source, newest version first, and prints the version taken.
fetch_source() {
  local pkg=$1 v out
  for v in $(apt-cache showsrc "$pkg" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -rV | uniq); do
    rm -rf src && mkdir src   # nothing a failed try left may be taken for this one
    if out=$(cd src && apt-get source --download-only -qq "$pkg=$v" 2>&1); then
      echo "$v"; return 0
    fi
    echo "$pkg $v: source not served ($(printf '%s\n' "$out" | grep -m1 '^E:' || true)), trying an older one" >&2
  done
  rm -rf src
  echo "no source of $pkg could be fetched (is a deb-src entry missing?)" >&2
  return 1
}
fetched=$(fetch_source postgresql-15)
upstream=${fetched%%-*}
echo "postgresql-15 $fetched"

rm -rf "postgresql-$upstream" && tar -xjf src/postgresql-15_"$upstream".orig.tar.bz2
cd "postgresql-$upstream"
./configure -q --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
  --without-readline --without-zlib --without-icu --with-ssl=openssl \
  CPPFLAGS="-I$ssl/include" LDFLAGS="-L$ssl/lib" LIBS="-lcrypt32 -lws2_32"
make -s -C src/interfaces/libpq -j"$(nproc)"

pkg=$work/pkg/libpq
rm -rf "$work/pkg" && mkdir -p "$pkg/bin" "$pkg/lib" "$pkg/include"
x86_64-w64-mingw32-strip -o "$pkg/bin/libpq.dll" src/interfaces/libpq/libpq.dll
cp src/interfaces/libpq/libpq.a "$pkg/lib/libpq.dll.a"   # on mingw this is the import library
cp src/interfaces/libpq/libpq-fe.h src/interfaces/libpq/libpq-events.h \
   src/include/postgres_ext.h src/include/pg_config_ext.h src/include/pg_config.h "$pkg/include/"
cp COPYRIGHT "$pkg/COPYRIGHT"
echo "libpq $upstream (Debian postgresql-15 $fetched), OpenSSL from the Qt toolchain archive" >"$pkg/VERSION"
tar -C "$work/pkg" --owner=0 --group=0 --sort=name --mtime=@0 -cJf "$out/libpq-15-mingw-w64-x86_64.tar.xz" libpq
echo "$out/libpq-15-mingw-w64-x86_64.tar.xz"
