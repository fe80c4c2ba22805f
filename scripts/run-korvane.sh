#!/usr/bin/env bash
# Builds Korvane and starts it on its default: a simulated bench with one Loader board
# and a config.json beside the executable that names the reference plug-in.
# Without a display it runs under a virtual X server, saves a screenshot of the window,
# says where, and closes Korvane again.
# With --windows the same with the cross build for Windows (scripts/build-windows.sh, by
# default into build-windows-mingw), run under Wine with the windows platform plug-in;
# Wine takes the Windows language from LANG.
# Usage: bash scripts/run-korvane.sh
#        bash scripts/run-korvane.sh --windows [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=$root/build
bin_dir=$build_dir/bin
screenshot=$build_dir/korvane-screenshot.png

# Writes config.json beside the executable unless there is one: the reference plug-in
# PLUGIN, named as the executable sees it (SEEN-AS, by default the same), the version from
# the build's CMake cache, and "LOG" on.
# Usage: write_config PLUGIN [SEEN-AS]
write_config() {
  local config=$bin_dir/config.json plugin=${2:-$1} version escaped_plugin
  [ ! -e "$config" ] || return 0
  if [ ! -f "$1" ]; then
    echo "The reference plug-in $1 was not found" >&2
    exit 1
  fi
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
  escaped_plugin=$(printf '%s' "$plugin" | sed 's/\\/\\\\/g; s/"/\\"/g')
  printf '{\n    "APP_VERSION": "%s",\n    "DLL": "%s",\n    "LOG": true\n}\n' "$version" "$escaped_plugin" >"$config"
  echo "Created $config"
}

if [ "${1:-}" = "--windows" ]; then
  build_dir=$(realpath -m "${2:-build-windows-mingw}")
  bin_dir=$build_dir/bin
  screenshot=$build_dir/korvane-screenshot.png
  bash scripts/build-windows.sh "$build_dir"
  source scripts/wine-session.sh "$build_dir/wineprefix"
  source scripts/wine-desktop.sh
  korvane_wine_desktop "${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}"
  # Wine shows the Unix root as drive Z:.
  windows_path() { printf 'Z:%s' "$(tr / '\\' <<<"$1")"; }

  export ZVSIM_BENCH
  ZVSIM_BENCH=$(windows_path "$bin_dir/bench")
  mkdir -p "$bin_dir/bench"
  # Output into files: Wine's helper processes may hold a pipe open after a program ends.
  "$wine_program" "$bin_dir/zvsim.exe" list >"$build_dir/zvsim-list.txt"
  if ! grep -q '^board ' "$build_dir/zvsim-list.txt"; then
    "$wine_program" "$bin_dir/zvsim.exe" attach b1 --state loader
  fi
  write_config "$bin_dir/korvane_aes.dll" "$(windows_path "$bin_dir/korvane_aes.dll")"

  if [ -z "${korvane_xvfb_pid:-}" ]; then
    "$wine_program" "$bin_dir/korvane.exe"
    exit
  fi
  echo "No display: Korvane runs on a virtual X server"
  "$wine_program" "$bin_dir/korvane.exe" >"$build_dir/korvane-wine.log" 2>&1 &
  korvane_pid=$!
  trap 'kill "$korvane_pid" 2>/dev/null || true; wait "$korvane_pid" 2>/dev/null || true; korvane_end_wine_session' EXIT
  # Wine names the X window's class after the executable; the window shows its painted
  # pixels a little later, so the picture counts once two grabs in a row are the same.
  previous=
  for _ in $(seq 1 150); do
    window_id=$(xwininfo -root -tree 2>/dev/null |
      awk '/\("korvane.exe" "korvane.exe"\)/ && !/"Default IME"/ { print $1; exit }')
    if [ -n "$window_id" ] && xwininfo -id "$window_id" 2>/dev/null | grep -q IsViewable &&
      import -window "$window_id" "$screenshot" 2>/dev/null &&
      [ "$(convert "$screenshot" -format '%[fx:standard_deviation>0]' info:)" = 1 ]; then
      current=$(identify -format '%#' "$screenshot")
      if [ "$current" = "$previous" ]; then
        echo "Screenshot of the Korvane window saved to $screenshot"
        exit 0
      fi
      previous=$current
    fi
    kill -0 "$korvane_pid" 2>/dev/null || { echo "Korvane ended before its window showed" >&2; exit 1; }
    sleep 0.2
  done
  echo "Korvane's window did not show within 30 seconds" >&2
  exit 1
fi

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

write_config "$bin_dir/libkorvane_aes.so"

if [ -n "${DISPLAY:-}" ]; then
  exec "$bin_dir/korvane"
fi
echo "No display: starting Korvane under a virtual X server"
xvfb-run -a -s "-screen 0 1024x768x24" bash "$root/scripts/run-korvane.sh" --screenshot
