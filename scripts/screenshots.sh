#!/usr/bin/env bash
# Regenerates the screenshots in docs/screenshots after a change to the window: builds
# Korvane, then under a virtual X server photographs the real window in English and in
# Chinese, idle, after a Basic action that succeeded and after one that failed, against
# a temporary simulated bench and configuration.
# Usage: bash scripts/screenshots.sh [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=${1:-$root/build}
bin_dir=$build_dir/bin
out_dir=$root/docs/screenshots

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" --target korvane-screenshots zvsim korvane_aes

# A fixed folder, so that the plug-in path in the pictures stays the same from run to run.
stage=/tmp/korvane-screenshots
rm -rf "$stage"
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/korvane" "$stage/bench" "$out_dir"
cp "$bin_dir/libkorvane_aes.so" "$stage/korvane/"
version=$(sed -n 's/^project(Korvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cat > "$stage/korvane/config.json" <<JSON
{
    "APP_VERSION": "$version",
    "DLL": "$stage/korvane/libkorvane_aes.so",
    "LOG": false
}
JSON
export ZVSIM_BENCH=$stage/bench
"$bin_dir/zvsim" attach b1 --state loader

# Runs the driver in one language; its first line names the translation it installed,
# which must be the expected one.
photograph() {
  local language=$1 expected=$2
  shift 2
  local output
  output=$(env -u LC_ALL -u LC_MESSAGES LANGUAGE="${language%%.*}" LANG="$language" \
    xvfb-run -a -s "-screen 0 1024x768x24" \
    "$bin_dir/korvane-screenshots" --app-dir "$stage/korvane" "$@" 2>"$stage/driver.log") || {
    cat "$stage/driver.log" >&2
    exit 1
  }
  echo "$output"
  case "$output" in
    *"translation: $expected"*) ;;
    *) echo "expected the translation '$expected' for $language" >&2; exit 1 ;;
  esac
}

for language in en_US.UTF-8:none:en zh_CN.UTF-8:zh_CN:zh_CN; do
  IFS=: read -r locale expected name <<<"$language"
  "$bin_dir/zvsim" set b1 --no-fail
  photograph "$locale" "$expected" \
    "shot:$out_dir/$name-idle.png" "run:basicRunButton=$out_dir/$name-success.png"
  # The board refuses the write: the last progress line turns red, the box gives -1.
  "$bin_dir/zvsim" set b1 --fail ZV_WriteVendorRpmbData
  photograph "$locale" "$expected" "run:basicRunButton=$out_dir/$name-failure.png"
done
echo "Screenshots written to $out_dir"
