#!/usr/bin/env bash
# Builds the benchmarks optimised, in a build directory of their own, and runs each.
# Usage: bash benchmarks/run.sh [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-benchmarks}
benchmarks=(bench_logfile)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_TESTS=OFF > /dev/null
cmake --build "$build_dir" --target "${benchmarks[@]}"
for benchmark in "${benchmarks[@]}"; do
  echo "== $benchmark"
  "$build_dir/bin/$benchmark"
done
