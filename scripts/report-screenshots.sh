#!/usr/bin/env bash
# Regenerates docs/screenshots/line-report.png and line-report-zh_CN.png after a change to
# the line report: a throwaway line database gets a week of four stations (failures and
# retries, a refused duplicate, a board written twice during an outage, a claim in doubt,
# a station gone silent) from korvane-report-week, korvane-line report writes the page in
# English and in Chinese, and headless Chromium photographs it.
# Usage: bash scripts/report-screenshots.sh [build-directory]
# With KEEP_REPORT=1 the pages and the station folders stay for a look afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=$(realpath -m "${1:-build}")
bin_dir=$build_dir/bin
out_dir=$root/docs/screenshots

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja > /dev/null
cmake --build "$build_dir" --target korvane-line korvane-report-week

while read -r v; do unset "$v"; done < <(compgen -e | grep '^PG' || true)
work=$(mktemp -d)
cleanup() {
  bash scripts/line-server.sh stop "$work/server" > /dev/null || true
  if [ -n "${KEEP_REPORT:-}" ]; then echo "the pages and folders stay in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

bash scripts/line-server.sh start "$work/server" --owner $$ > /dev/null
db=$(cat "$work/server/conninfo")
"$bin_dir/korvane-line" --db "$db" init > /dev/null
"$bin_dir/korvane-report-week" "$work/stations" "$db"

for lang in en zh_CN; do
  page=$work/line-report-$lang.html
  "$bin_dir/korvane-line" --db "$db" report --html "$page" --lang "$lang"
  name=line-report.png
  [ "$lang" = en ] || name=line-report-$lang.png
  # A tall window, then the empty space below the page cut off.
  chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --hide-scrollbars --user-data-dir="$work/chromium" \
    --window-size=980,4200 --screenshot="$work/$name" "file://$page" 2> /dev/null
  convert "$work/$name" -background white -gravity north -splice 0x1 -trim +repage \
    -bordercolor white -border 12 "$out_dir/$name"
  echo "wrote $out_dir/$name ($(identify -format '%wx%h' "$out_dir/$name"))"
done
