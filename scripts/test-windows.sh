#!/usr/bin/env bash
# Cross-builds Korvane for Windows (scripts/build-windows.sh) and runs the whole test suite
# under Wine, in a Wine prefix of its own inside the build directory that reports Windows 10.
# Tests that need a real window (the windows platform plug-in) get a virtual X server.
# Usage: bash scripts/test-windows.sh [build-directory] [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-windows-mingw}
shift || true

bash scripts/build-windows.sh "$build_dir"
source scripts/wine-session.sh "$build_dir/wineprefix"

ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)" "$@"
