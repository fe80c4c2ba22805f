#!/usr/bin/env bash
# Cross-builds Korvane (scripts/build-windows.sh), makes both Windows zips with CPack in the
# build directory, and checks them as a bench PC gets them: each one unpacked into an empty
# folder, korvane.exe started from there under Wine with the real windows platform on a
# virtual display must write its start line to log/App<date>.log with the DLLs of the zip
# alone. The bench zip holds no device library: korvane.exe must first refuse to start for
# want of ZVUpgrade_DLL.dll and nothing else, then start with the simulated one beside it.
# The rehearsal window must see a board staged with the zip's own zvsim.exe.
# Usage: bash scripts/package-windows.sh [build-directory]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-windows-mingw}
version=$(sed -n 's/^project(Korvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
plain=Korvane-$version-win64
rehearsal=$plain-rehearsal

SECONDS=0
bash scripts/build-windows.sh "$build_dir"
echo "== build: $SECONDS s"
SECONDS=0
rm -f "$build_dir/$plain.zip" "$build_dir/$rehearsal.zip"
(cd "$build_dir" && cpack --config CPackConfig.cmake && cpack --config CPackConfig-rehearsal.cmake)
echo "== packaging: $SECONDS s"
SECONDS=0

source scripts/wine-session.sh "$build_dir/wineprefix"
work=$(mktemp -d)
trap 'korvane_end_wine_session; rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Lists a zip, checks what every bench folder needs and what none may hold, and unpacks it
# into an empty folder of its own: $work/NAME/NAME.
unpack() {
  local zip=$build_dir/$1.zip listing
  echo "== $zip"
  unzip -l "$zip"
  listing=$(unzip -Z1 "$zip")
  for file in korvane.exe korvane-plugin-check.exe korvane-trace.exe korvane-cli.exe korvane-line.exe \
    korvane_aes.dll libpq.dll \
    config.json README.txt LICENSE.txt \
    licenses/Qt-LGPL-3.txt licenses/GPL-3.txt licenses/NOTICE.txt licenses/PostgreSQL-COPYRIGHT.txt; do
    grep -qx "$1/$file" <<<"$listing" || fail "$zip lacks $file"
  done
  if grep -E 'tst_|test_plugin|example_plugin|screenshots|Qt6Test|qoffscreen|\.a$' <<<"$listing"; then
    fail "$zip holds test or build files"
  fi
  if [ "$1" = "$plain" ] && grep -E 'ZVUpgrade_DLL|zvsim' <<<"$listing"; then
    fail "$zip holds the simulated bench"
  fi
  mkdir "$work/$1"
  unzip -q "$zip" -d "$work/$1"
}

# Starts korvane.exe in a folder, as a double-click does, and waits up to 60 s for the start
# line with the window title ("Korvane " + APP_VERSION), then ends it. Sets status to
# "started", "silent" (no line in time) or the exit status of a program that ended by itself.
# Wine's loader errors and the DLLs it loaded go to FOLDER.wine.
run_korvane() {
  local pid
  (cd "$1" && WINEDEBUG=err+module,+loaddll exec "$wine_program" korvane.exe) >"$1.wine" 2>&1 &
  pid=$!
  status=silent
  for _ in $(seq 120); do
    if grep -qsF "\"Korvane $2\" ...start" "$1"/log/App*.log; then
      status=started
      break
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      status=0
      wait "$pid" || status=$?
      return
    fi
    sleep 0.5
  done
  kill "$pid"
  wait "$pid" || true
}

# The libraries Wine's loader did not find for FOLDER/korvane.exe, once each.
missing_dlls() {
  grep -o 'Library [^ ]* (which is needed by' "$1.wine" | sort -u | cut -d' ' -f1-2
}

# korvane.exe in FOLDER started with the title TITLE, its DLLs and Qt plug-ins all from FOLDER.
expect_start() {
  run_korvane "$1" "$2"
  if [ "$status" = 53 ]; then
    missing_dlls "$1" >&2
    fail "korvane.exe ended at once with status 53 (0xc0000135): a DLL is missing"
  fi
  # A Qt plug-in that cannot be loaded leaves Qt's message box waiting.
  [ "$status" = started ] || fail "korvane.exe: no start line within 60 s (status $status)"
  grep -hF '...start' "$1"/log/App*.log
  grep -qF 'styles\\qwindowsvistastyle.dll' "$1.wine" || fail "the style plug-in was not loaded"
  if grep 'Loaded L"Z:' "$1.wine" | grep -vF "$(basename "$1")"; then
    fail "DLLs above were loaded from outside the package"
  fi
}

unpack "$plain"
unpack "$rehearsal"

dir=$work/$plain/$plain
echo "== $plain without a device library"
run_korvane "$dir" "$version"
echo "korvane.exe: status $status; missing: $(missing_dlls "$dir" | cut -d' ' -f2 | xargs)"
[ "$status" = 53 ] || fail "korvane.exe without ZVUpgrade_DLL.dll: status $status, expected 53 (0xc0000135)"
[ "$(missing_dlls "$dir")" = "Library ZVUpgrade_DLL.dll" ] || fail "korvane.exe misses more than ZVUpgrade_DLL.dll"
echo "== $plain with the simulated device library beside korvane.exe"
unzip -qj "$build_dir/$rehearsal.zip" "$rehearsal/ZVUpgrade_DLL.dll" -d "$dir"
expect_start "$dir" "$version"

dir=$work/$rehearsal/$rehearsal
echo "== $rehearsal with board b1 attached"
# The bench folder as the Windows programs see it: Wine maps / to Z:.
export ZVSIM_BENCH=Z:$work/bench
(cd "$dir" && "$wine_program" zvsim.exe attach b1 --state loader)
expect_start "$dir" "$version rehearsal (simulated bench)"
grep -F '"call":"ZV_ScanDeviceW"' "$work/bench/journal.jsonl" ||
  fail "korvane.exe did not scan the bench"
grep -F '"call":"ZV_ScanDeviceW"' "$work/bench/journal.jsonl" | grep -qF '"boards":["b1"]' ||
  fail "korvane.exe did not see board b1"
echo "== $rehearsal: the console programs on the same bench"
(cd "$dir" && "$wine_program" korvane-cli.exe status >"$work/cli.out" 2>&1) || fail "korvane-cli.exe status failed"
tr -d '\r' <"$work/cli.out"
grep -qx 'STATUS count=1 One Loader device' <(tr -d '\r' <"$work/cli.out") || fail "korvane-cli.exe did not see board b1"
(cd "$dir" && "$wine_program" korvane-trace.exe --version >"$work/trace.out" 2>&1) || fail "korvane-trace.exe failed"
grep -q "korvane-trace $version" "$work/trace.out" || fail "korvane-trace.exe did not start"
echo "== check: $SECONDS s"
echo "PASS: $plain.zip and $rehearsal.zip"
