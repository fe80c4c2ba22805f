#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in a build directory of their own and runs
# each for a bounded time. A finding stops the run and leaves the crashing input in
# the build directory.
# Usage: bash scripts/fuzz.sh [seconds-per-target] [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build_dir=${2:-build-fuzz}
targets=(fuzz_config fuzz_otp fuzz_trace)

bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S fuzz -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build_dir" --target "${targets[@]}"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export QT_QPA_PLATFORM=offscreen
for target in "${targets[@]}"; do
  corpus_name=${target#fuzz_}
  # New inputs go into the build directory; the committed seeds stay as they are.
  corpus="$build_dir/corpus/$corpus_name"
  mkdir -p "$corpus" "$build_dir/findings"
  dictionary=()
  [ -f "fuzz/$corpus_name.dict" ] && dictionary=("-dict=fuzz/$corpus_name.dict")
  echo "== $target for ${seconds}s"
  "$build_dir/bin/$target" "$corpus" "fuzz/corpus/$corpus_name" "${dictionary[@]}" \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build_dir/findings/$target-"
done
