#!/usr/bin/env bash
# Regenerates the screenshots in docs/screenshots after a change to the window: builds
# Korvane, then under a virtual X server photographs the real window in English and in
# Chinese, idle, after a Basic action that succeeded and after one that failed, against
# a temporary simulated bench and configuration.
# With --windows, the cross build for Windows instead (scripts/build-windows.sh, by default
# into build-windows-mingw), under Wine with the windows platform plug-in: windows-en-idle,
# windows-en-success and windows-zh_CN-idle.
# Usage: bash scripts/screenshots.sh [build-directory]
#        bash scripts/screenshots.sh --windows [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out_dir=$root/docs/screenshots
mkdir -p "$out_dir"

# The driver's first line names the translation it installed and the style in use.
check_driver_output() {
  local output=$1 language=$2 expected=$3
  echo "$output"
  case "$output" in
    *"translation: $expected;"*) ;;
    *) echo "expected the translation '$expected' for $language" >&2; exit 1 ;;
  esac
}

if [ "${1:-}" = --windows ]; then
  build_dir=$(realpath -m "${2:-build-windows-mingw}")
  bin_dir=$build_dir/bin
  bash scripts/build-windows.sh "$build_dir"
  source scripts/wine-session.sh "$build_dir/wineprefix"
  source scripts/wine-desktop.sh

  # Staged as on a bench PC, in C:\Korvane, so that the plug-in path in the pictures stays
  # the same from run to run.
  stage=$WINEPREFIX/drive_c/Korvane
  rm -rf "$stage"
  mkdir -p "$stage/bench" "$stage/shots"
  cp "$bin_dir/korvane_aes.dll" "$stage/"
  version=$(sed -n 's/^project(Korvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  cat > "$stage/config.json" <<JSON
{
    "APP_VERSION": "$version",
    "DLL": "C:\\\\Korvane\\\\korvane_aes.dll",
    "LOG": false
}
JSON
  export ZVSIM_BENCH='C:\Korvane\bench'
  "$wine_program" "$bin_dir/zvsim.exe" attach b1 --state loader

  # Runs the driver with Windows in one language; the pictures go to C:\Korvane\shots.
  photograph() {
    local language=$1 expected=$2 output driver status=0 waited=0 done_at=
    shift 2
    korvane_wine_desktop "$language"
    # Output into files: Wine's helper processes may hold a pipe open after a program ends.
    env -u LC_ALL -u LC_MESSAGES LANG="$language" "$wine_program" "$bin_dir/korvane-screenshots.exe" \
      --app-dir 'C:\Korvane' "$@" >"$stage/driver.out" 2>"$stage/driver.log" &
    driver=$!
    # Under Wine a program that has shown a message box sometimes hangs for good while it
    # unloads its libraries; once the driver has said "done" that costs only the wait.
    # waited and done_at count tenths of a second.
    while kill -0 "$driver" 2>/dev/null; do
      if [ -z "$done_at" ] && grep -q '^done' "$stage/driver.out"; then
        done_at=$waited
      fi
      if [ -n "$done_at" ] && [ $((waited - done_at)) -ge 150 ]; then
        echo "warning: korvane-screenshots hung while ending, after all its steps; ended it" >&2
        kill "$driver"
        break
      fi
      if [ -z "$done_at" ] && [ "$waited" -ge 1200 ]; then
        echo "korvane-screenshots did not finish its steps within 120 seconds" >&2
        kill "$driver"
        break
      fi
      sleep 0.1
      waited=$((waited + 1))
    done
    wait "$driver" || status=$?
    # The program ends its lines the Windows way, with CR LF.
    output=$(tr -d '\r' <"$stage/driver.out")
    if [ "$status" != 0 ] && ! grep -q '^done' <<<"$output"; then
      cat "$stage/driver.log" >&2
      exit 1
    fi
    check_driver_output "$output" "$language" "$expected"
    # Without its style plug-in Qt falls back to a plain style: not what Windows shows.
    case "$output" in
      *"style: windowsvista"*) ;;
      *) echo "expected the windowsvista style" >&2; exit 1 ;;
    esac
  }

  photograph en_US.UTF-8 none 'shot:C:\Korvane\shots\windows-en-idle.png' \
    'run:basicRunButton=C:\Korvane\shots\windows-en-success.png'
  photograph zh_CN.UTF-8 zh_CN 'shot:C:\Korvane\shots\windows-zh_CN-idle.png'
  for picture in windows-en-idle windows-en-success windows-zh_CN-idle; do
    # A single-coloured picture means that the screen grab saw nothing of the window.
    if [ "$(convert "$stage/shots/$picture.png" -format '%[fx:standard_deviation>0]' info:)" != 1 ]; then
      echo "$picture.png is blank" >&2
      exit 1
    fi
    cp "$stage/shots/$picture.png" "$out_dir/"
  done
  echo "Screenshots written to $out_dir"
  exit 0
fi

build_dir=${1:-$root/build}
bin_dir=$build_dir/bin
bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" --target korvane-screenshots zvsim korvane_aes

# A fixed folder, so that the plug-in path in the pictures stays the same from run to run.
stage=/tmp/korvane-screenshots
rm -rf "$stage"
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/korvane" "$stage/bench"
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

# Runs the driver in one language.
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
  check_driver_output "$output" "$language" "$expected"
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
