#!/usr/bin/env bash
# Cross-builds Korvane, its tools, plug-ins and tests for Windows x64 with mingw-w64.
# Qt and OpenSSL for Windows come from the toolchain archive (KORVANE_CROSS_ARCHIVE, by
# default the shared one beside the project), checked against the checksum kept here and
# unpacked once into .cache/cross-toolchain; without the archive they are rebuilt from
# Debian's source packages by scripts/cross-toolchain/build-cross-toolchain.sh (about 40
# minutes on 2 cores). PostgreSQL's libpq for Windows comes the same way from its own archive
# (KORVANE_LIBPQ_ARCHIVE), unpacked into .cache/cross-toolchain/libpq, or is rebuilt by
# scripts/cross-toolchain/build-libpq.sh (about 3 minutes).
# Usage: bash scripts/build-windows.sh [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=${1:-build-windows-mingw}
cross_dir=${KORVANE_CROSS_DIR:-$root/.cache/cross-toolchain}
archive_name=qt-6.4.2-openssl-3.0-mingw-w64-x86_64.tar.xz
archive=${KORVANE_CROSS_ARCHIVE:-$root/../shared/toolchains/$archive_name}
libpq_archive_name=libpq-15-mingw-w64-x86_64.tar.xz
libpq_archive=${KORVANE_LIBPQ_ARCHIVE:-$root/../shared/toolchains/$libpq_archive_name}

bash scripts/install-deps.sh windows

# Unpacks an archive into the cross directory once its SHA-256 is the one kept in
# scripts/cross-toolchain/SHA256SUMS; without the archive, the given command rebuilds it
# into REBUILT-INTO. The stamp names what was unpacked: the archive's
# checksum, or "rebuilt" for a local build.
# Usage: unpack NAME ARCHIVE STAMP OLD-PATH REBUILT-INTO COMMAND...
unpack() {
  local name=$1 archive=$2 stamp=$3 old=$4 rebuilt_into=$5
  shift 5
  local expected unpacked actual
  expected=$(awk -v name="$name" '$2 == name { print $1 }' scripts/cross-toolchain/SHA256SUMS)
  unpacked=$(cat "$stamp" 2>/dev/null || true)
  if [ "$unpacked" = "$expected" ] || { [ "$unpacked" = rebuilt ] && [ ! -f "$archive" ]; }; then
    return
  fi
  rm -rf "$old" "$stamp"
  mkdir -p "$cross_dir"
  if [ -f "$archive" ]; then
    actual=$(sha256sum "$archive" | cut -d' ' -f1)
    if [ "$actual" != "$expected" ]; then
      echo "$archive: SHA-256 $actual, expected $expected" >&2
      exit 1
    fi
    tar -C "$cross_dir" -xJf "$archive"
    echo "$expected" >"$stamp"
  else
    echo "No archive at $archive: building it from Debian's source packages"
    "$@"
    tar -C "$cross_dir" -xJf "$rebuilt_into/$name"
    echo rebuilt >"$stamp"
  fi
}

qt_work=$root/.cache/cross-toolchain-work
unpack "$archive_name" "$archive" "$cross_dir/.unpacked-from" "$cross_dir" "$qt_work" \
  bash scripts/cross-toolchain/build-cross-toolchain.sh "$qt_work" "$qt_work/install"
# libpq, against the OpenSSL unpacked above; its own stamp, as the Qt archive can change alone.
libpq_work=$root/.cache/libpq-work
unpack "$libpq_archive_name" "$libpq_archive" "$cross_dir/.libpq-unpacked-from" "$cross_dir/libpq" "$libpq_work" \
  bash scripts/cross-toolchain/build-libpq.sh "$cross_dir/openssl" "$libpq_work" "$libpq_work"

export KORVANE_CROSS_DIR=$cross_dir
cmake --preset windows-mingw -B "$build_dir" -DKORVANE_CROSS_DIR="$cross_dir" \
  -DPostgreSQL_ROOT="$cross_dir/libpq"
cmake --build "$build_dir"
