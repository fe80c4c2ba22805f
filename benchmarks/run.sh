#!/usr/bin/env bash
# Builds the benchmarks optimised, in a build directory of their own, and runs each.
# The tests' simulated bench and recording plug-in drive the window benchmarks, and
# bench_line and bench_report start the tests' throwaway PostgreSQL servers (scripts/line-server.sh), so
# the test support is configured too; no test is built or run.
# Usage: bash benchmarks/run.sh [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-benchmarks}
benchmarks=(bench_startup bench_responsiveness bench_actionoverhead bench_logfile bench_trace bench_cli bench_line bench_report)

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_TESTS=ON > /dev/null
cmake --build "$build_dir" --target "${benchmarks[@]}"
for benchmark in "${benchmarks[@]}"; do
  echo "== $benchmark"
  "$build_dir/bin/$benchmark"
done
