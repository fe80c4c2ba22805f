#!/usr/bin/env bash
# A station on the simulated bench, end to end: korvane-cli in --loop with "TRACE" on and
# "DUPLICATE_CPUID" "refuse" provisions three boards attached and removed in turn with
# zvsim; a second pass of the same boards is refused board by board; SIGINT stops it
# with the totals; korvane-trace verifies the trace and counts it.
# Usage: bash scripts/rehearse-station.sh [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$(realpath -m "${1:-build}")
bin_dir=$build_dir/bin

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build_dir" --target korvane-cli korvane-trace zvsim korvane_aes

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The station's folder, as on a station PC: config.json, log and trace beside the programs.
station=$(mktemp -d)
trap 'rm -rf "$station"' EXIT
cp "$bin_dir/korvane-cli" "$bin_dir/korvane-trace" "$bin_dir/libkorvane_aes.so" "$station/"
cat > "$station/config.json" <<JSON
{
    "DLL": "$station/libkorvane_aes.so",
    "LOG": true,
    "TRACE": true,
    "STATION": "line-1 station-4",
    "DUPLICATE_CPUID": "refuse"
}
JSON
export ZVSIM_BENCH=$station/bench
zvsim() { "$bin_dir/zvsim" "$@" > /dev/null; }

coproc STATION { cd "$station" && exec ./korvane-cli basic --loop 2>&1; }
station_pid=$STATION_PID

# Prints the station's lines up to one that starts with the given text.
read_until() {
  local line
  while IFS= read -r -t 30 line <&"${STATION[0]}"; do
    echo "  | $line"
    case $line in "$1"*) last=$line; return ;; esac
  done
  fail "no line starting with \"$1\" from the station"
}

for pass in first second; do
  for board in b1 b2 b3; do
    read_until WAITING
    echo "$pass pass: attaching $board"
    zvsim attach "$board" --state loader
    read_until RESULT
    case $pass in
      first) [[ $last == "RESULT basic ok exit_code=0 "* ]] || fail "$board was not provisioned" ;;
      second) [[ $last == "RESULT basic failed exit_code=-11 "* ]] || fail "$board was not refused" ;;
    esac
    read_until UNITS
    zvsim detach "$board"
  done
done
read_until WAITING
kill -INT "$station_pid"
read_until TOTAL
[ "$last" = "TOTAL passed=3 failed=3" ] || fail "totals: $last"
status=0
wait "$station_pid" || status=$?
[ "$status" = 5 ] || fail "exit status $status, expected 5 (some units failed)"
echo "station ended with exit status $status: some units failed, as the second pass must"

cd "$station"
./korvane-trace verify trace/*.jsonl
./korvane-trace summary
[ "$(./korvane-trace summary | tail -n +2 | cut -f2-)" = "$(printf 'basic\t3\t3')" ] || fail "summary"
echo "PASS: three boards provisioned once each, refused on the second pass, trace verified"
