#!/usr/bin/env bash
# Installs what is missing, builds Korvane with its tests and runs them all offscreen.
# Usage: bash scripts/test.sh [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)"
