#!/usr/bin/env bash
# Builds the Windows x64 cross toolchain that sits beside this script as
# qt-6.4.2-openssl-3.0-mingw-w64-x86_64.tar.xz, from Debian 12's own source packages:
#   - Qt 6.4.2 (qt6-base): Core, Gui, Widgets, Test; platform plugins windows and offscreen;
#     styles Fusion, Windows, WindowsVista; bundled zlib/pcre2/harfbuzz/freetype/png/jpeg;
#     no network, sql, dbus, opengl, printsupport, concurrent, xml, vulkan, icu; no accessibility and
#     no tablet events, because Debian's source package leaves out src/3rdparty/iaccessible2 and
#     src/3rdparty/wintab (their licences do not allow modification).
#     dynamicgl is off too: with OpenGL off, Qt 6.4.2's windows platform plug-in does not build with it.
#   - OpenSSL 3.0 (openssl): libcrypto and libssl as static libraries (no-shared), so a plug-in DLL
#     linking libcrypto is self-contained.
# Compiler: Debian's mingw-w64 g++ 12, posix thread model. Host tools (moc, rcc, uic) come from
# Debian's qt6-base-dev-tools of the same version (QT_HOST_PATH=/usr).
# Each source package is taken at the newest version whose source the archive still serves: it can
# list a security update's binaries before it serves that update's source.
# Usage: bash build-cross-toolchain.sh [work-dir] [install-prefix]   (about 40 minutes on 2 cores)
set -euo pipefail
work=${1:-/tmp/korvane-cross-toolchain}
prefix=${2:-/opt/korvane-cross}      # what the archive holds: qt/ and openssl/
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work" && cd "$work"

export DEBIAN_FRONTEND=noninteractive
# Source packages come from the same archive as the machine's binary packages: copy its deb822
# entries with the type changed to deb-src.
if [ ! -f /etc/apt/sources.list.d/korvane-src.sources ]; then
  sed -n '/^Types: deb$/,/^$/p' /etc/apt/sources.list.d/*.sources 2>/dev/null \
    | sed 's/^Types: deb$/Types: deb-src/' > /etc/apt/sources.list.d/korvane-src.sources
  [ -s /etc/apt/sources.list.d/korvane-src.sources ] || { echo "no deb822 apt sources to copy" >&2; exit 1; }
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends cmake ninja-build perl make xz-utils \
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools dpkg-dev
# Fetches PKG's source into src/PKG, newest version first, and prints the version taken.
fetch_source() {
  local pkg=$1 dir=src/$1 v out
  for v in $(apt-cache showsrc "$pkg" 2>/dev/null | awk '/^Version:/ { print $2 }' | sort -rV | uniq); do
    rm -rf "$dir" && mkdir -p "$dir"   # nothing a failed try left may be taken for this one
    if out=$(cd "$dir" && apt-get source --download-only -qq "$pkg=$v" 2>&1); then
      echo "$v"; return 0
    fi
    echo "$pkg $v: source not served ($(printf '%s\n' "$out" | grep -m1 '^E:' || true)), trying an older one" >&2
  done
  rm -rf "$dir"
  echo "no source of $pkg could be fetched (is a deb-src entry missing?)" >&2
  return 1
}
qt_version=$(fetch_source qt6-base)
ssl_version=$(fetch_source openssl)
qt_upstream=${qt_version#*:} && qt_upstream=${qt_upstream%-*}      # 6.4.2+dfsg
ssl_upstream=${ssl_version#*:} && ssl_upstream=${ssl_upstream%-*}  # 3.0.N
qt_release=${qt_upstream%%+*}
echo "sources taken: qt6-base $qt_version, openssl $ssl_version"
# The archive's name, and the host tools from qt6-base-dev-tools, are Qt 6.4.2 and OpenSSL 3.0.
[ "$qt_release" = 6.4.2 ] || { echo "qt6-base $qt_version is not Qt 6.4.2" >&2; exit 1; }
case $ssl_upstream in 3.0.*) ;; *) echo "openssl $ssl_version is not OpenSSL 3.0" >&2; exit 1 ;; esac

cat > mingw.cmake <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
TC

rm -rf "qtbase-everywhere-src-$qt_release" && tar xf "src/qt6-base/qt6-base_$qt_upstream.orig.tar.xz"
cmake -S "qtbase-everywhere-src-$qt_release" -B build-qt -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX=$prefix/qt -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_accessibility=OFF -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
  -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF -DFEATURE_icu=OFF \
  -DFEATURE_zstd=OFF -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF
cmake --build build-qt --parallel "$(nproc)"
rm -rf $prefix/qt && cmake --install build-qt

rm -rf openssl-3.0.* && tar xf "src/openssl/openssl_$ssl_upstream.orig.tar.gz"
cd "openssl-$ssl_upstream"
./Configure mingw64 no-shared no-tests --cross-compile-prefix=x86_64-w64-mingw32- \
  --prefix=$prefix/openssl --libdir=lib
make -j"$(nproc)" build_libs >/dev/null
make install_dev >/dev/null
cd "$work"

tar -C $prefix -cJf "$work/qt-6.4.2-openssl-3.0-mingw-w64-x86_64.tar.xz" qt openssl
echo "sources taken: qt6-base $qt_version, openssl $ssl_version"
sha256sum "$work/qt-6.4.2-openssl-3.0-mingw-w64-x86_64.tar.xz"
echo "archive: $work/qt-6.4.2-openssl-3.0-mingw-w64-x86_64.tar.xz (copy it beside $here/ to replace the shared one)"
