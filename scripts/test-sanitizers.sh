#!/usr/bin/env bash
# Builds Korvane and its tests with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole suite offscreen. Any sanitizer report ends its test with a failure.
# Usage: bash scripts/test-sanitizers.sh [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-sanitize}

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON
cmake --build "$build_dir"

# LeakSanitizer runs too (detect_leaks): no leak is suppressed.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)"
