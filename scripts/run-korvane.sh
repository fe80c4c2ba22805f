#!/usr/bin/env bash
# Builds Korvane and starts it on its default: a simulated bench with one Loader board
# and a config.json beside the executable that names the reference plug-in.
# Without a display it runs under a virtual X server, saves a screenshot of the window,
# says where, and closes Korvane again.
# Usage: bash scripts/run-korvane.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=$root/build
bin_dir=$build_dir/bin
screenshot=$build_dir/korvane-screenshot.png

# Runs inside xvfb-run: start Korvane, wait until its window shows, photograph it, close it.
if [ "${1:-}" = "--screenshot" ]; then
  "$bin_dir/korvane" &
  korvane_pid=$!
  trap 'kill "$korvane_pid" 2>/dev/null || true; wait "$korvane_pid" 2>/dev/null || true' EXIT
  # Qt names the window class after the executable, whatever language the title is in.
  for _ in $(seq 1 150); do
    window_id=$(xwininfo -root -tree 2>/dev/null | awk '/\("korvane" "korvane"\)/ { print $1; exit }')
    if [ -n "$window_id" ] && xwininfo -id "$window_id" 2>/dev/null | grep -q IsViewable; then
      import -window root "$screenshot"
      # A single-coloured picture means the window has not painted yet.
      if [ "$(convert "$screenshot" -format '%[fx:standard_deviation>0]' info:)" = 1 ]; then
        echo "Screenshot of the Korvane window saved to $screenshot"
        exit 0
      fi
    fi
    kill -0 "$korvane_pid" 2>/dev/null || { echo "Korvane ended before its window showed" >&2; exit 1; }
    sleep 0.2
  done
  echo "Korvane's window did not show within 30 seconds" >&2
  exit 1
fi

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" --target korvane zvsim korvane_aes

# Korvane and the zvsim tool both find the bench through this variable.
export ZVSIM_BENCH=$bin_dir/bench
mkdir -p "$ZVSIM_BENCH"
bench_listing=$("$bin_dir/zvsim" list)
if ! grep -q '^board ' <<<"$bench_listing"; then
  "$bin_dir/zvsim" attach b1 --state loader
fi

config=$bin_dir/config.json
if [ ! -e "$config" ]; then
  plugin=$(find "$bin_dir" -maxdepth 1 -type f \( -name '*korvane_aes.so' -o -name '*korvane_aes.dll' \) | head -n 1)
  if [ -z "$plugin" ]; then
    echo "The reference plug-in was not found in $bin_dir" >&2
    exit 1
  fi
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
  escaped_plugin=$(printf '%s' "$plugin" | sed 's/\\/\\\\/g; s/"/\\"/g')
  printf '{\n    "APP_VERSION": "%s",\n    "DLL": "%s",\n    "LOG": true\n}\n' "$version" "$escaped_plugin" >"$config"
  echo "Created $config"
fi

if [ -n "${DISPLAY:-}" ]; then
  exec "$bin_dir/korvane"
fi
echo "No display: starting Korvane under a virtual X server"
xvfb-run -a -s "-screen 0 1024x768x24" bash "$root/scripts/run-korvane.sh" --screenshot
