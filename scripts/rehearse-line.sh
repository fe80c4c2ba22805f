#!/usr/bin/env bash
# A production line on the simulated bench, end to end, against a throwaway line database:
# three stations, each korvane-cli in --loop in a folder of its own on its own bench, with
# its own login (its password in a password file, never in config.json). Boards are
# provisioned; a board moved to another station is refused there; a station killed while
# writing leaves its board in doubt line-wide until a supervisor releases it; during an
# outage a station on "LINE_DB_OFFLINE" "local" goes on and is caught up afterwards, one on
# "refuse" stops with -12, and one that sat idle through it writes its next board as if
# nothing had happened. It ends with korvane-line status clean, every station's records on
# the line database, every trace file verified and the line report counting every board.
# Usage: bash scripts/rehearse-line.sh [build-directory]
# With KEEP_REHEARSAL=1 the folders stay for a look afterwards (the server stopped all the same).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$(realpath -m "${1:-build}")
bin_dir=$build_dir/bin
SECONDS=0

bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build_dir" --target korvane-cli korvane-trace korvane-line zvsim korvane_aes

# Settings from the caller's environment must not steer the stations' or the tool's libpq.
while read -r v; do unset "$v"; done < <(compgen -e | grep '^PG' || true)

root=$(mktemp -d)
server=$root/server
declare -A station_pid=() station_fd=()

cleanup() {
  local n
  for n in "${!station_pid[@]}"; do
    kill -9 "${station_pid[$n]}" 2> /dev/null || true
    { wait "${station_pid[$n]}" || true; } 2> /dev/null
  done
  bash scripts/line-server.sh stop "$server" || true
  if [ -n "${KEEP_REHEARSAL:-}" ]; then
    echo "the stations and the server's files stay in $root"
  else
    rm -rf "$root"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

random_password() {
  head -c 24 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 20
}

# A board's CPU id: 16 bytes in hex, one per board of the rehearsal.
cpuid() { printf 'c0ffee%026d' "$1"; }

line_tool() { "$bin_dir/korvane-line" "$@"; }

echo "== the line database"
# --owner: should this script be killed outright, the server still stops.
bash scripts/line-server.sh start "$server" --owner $$
port=$(< "$server/port")
admin_db=$(< "$server/conninfo")
server_db="host=127.0.0.1 port=$port dbname=korvane sslmode=verify-full sslrootcert=$server/tls/root.crt"
supervisor_db="$server_db user=supervisor passfile=$server/pgpass"
line_tool --db "$admin_db" init --roles
bash scripts/line-server.sh add-login "$server" supervisor "$(random_password)" korvane_supervisor

# A station's folder, as on a station PC: the programs, config.json, its own password file
# readable by its user only, log and trace beside them. Station 2 goes on without the line
# database ("local"), stations 1 and 3 stop ("refuse", the default). Station 3 finds its
# password file through PGPASSFILE, the others through passfile= in "LINE_DB".
make_station() {
  local n=$1
  local dir=$root/station-$n password line_db offline=""
  password=$(random_password)
  bash scripts/line-server.sh add-login "$server" "station-$n" "$password" korvane_station
  mkdir "$dir"
  cp "$bin_dir/korvane-cli" "$bin_dir/korvane-trace" "$bin_dir/libkorvane_aes.so" "$dir/"
  (umask 077 && printf '127.0.0.1:%s:korvane:station-%s:%s\n' "$port" "$n" "$password" > "$dir/pgpass")
  line_db="$server_db user=station-$n"
  [ "$n" = 3 ] || line_db+=" passfile=$dir/pgpass"
  [ "$n" != 2 ] || offline=$'\n    "LINE_DB_OFFLINE": "local",'
  cat > "$dir/config.json" <<JSON
{
    "DLL": "$dir/libkorvane_aes.so",
    "LOG": true,
    "TRACE": true,
    "STATION": "line-1 station-$n",
    "DUPLICATE_CPUID": "refuse",$offline
    "LINE_DB": "$line_db"
}
JSON
}

# Starts station N's loop; its output comes through a pipe read by read_until.
start_station() {
  local n=$1
  local dir=$root/station-$n fd
  rm -f "$dir/output"
  mkfifo "$dir/output"
  if [ "$n" = 3 ]; then
    (cd "$dir" && PGPASSFILE=$dir/pgpass ZVSIM_BENCH=$dir/bench exec ./korvane-cli basic --loop) \
      > "$dir/output" 2>&1 &
  else
    (cd "$dir" && ZVSIM_BENCH=$dir/bench exec ./korvane-cli basic --loop) > "$dir/output" 2>&1 &
  fi
  station_pid[$n]=$!
  exec {fd}< "$dir/output"
  station_fd[$n]=$fd
}

# Waits for station N's program to end; its exit status in $ended.
end_station() {
  local n=$1 fd=${station_fd[$1]}
  ended=0
  # Quietly: the shell would announce a killed station.
  { wait "${station_pid[$n]}" || ended=$?; } 2> /dev/null
  unset "station_pid[$n]"
  exec {fd}<&-
}

# Prints station N's lines up to one that starts with the given text: that line in $last,
# the lines since the station's last WAITING in $unit.
read_until() {
  local n=$1 awaited=$2 line
  while IFS= read -r -t 30 line <&"${station_fd[$n]}"; do
    echo "  station-$n | $line"
    case $line in WAITING*) unit="" ;; *) unit+="$line"$'\n' ;; esac
    case $line in "$awaited"*)
      last=$line
      return
      ;;
    esac
  done
  fail "no line starting with \"$awaited\" from station-$n"
}

zvsim() {
  local n=$1
  shift
  ZVSIM_BENCH=$root/station-$n/bench "$bin_dir/zvsim" "$@" > /dev/null
}

# Attaches board NAME with the CPU id of board K to station N once it waits for a board.
present() {
  local n=$1 name=$2 k=$3
  read_until "$n" WAITING
  echo "station-$n: attaching $name (CPU id $(cpuid "$k"))"
  zvsim "$n" attach "$name" --state loader --cpuid "$(cpuid "$k")"
}

# Station N's result for the board NAME, which must start with EXPECTED; then the board goes.
expect_result() {
  local n=$1 name=$2 expected=$3
  read_until "$n" RESULT
  [[ $last == "$expected"* ]] || fail "station-$n, $name: \"$last\", expected \"$expected\""
  local result=$unit
  read_until "$n" UNITS
  unit=$result
  zvsim "$n" detach "$name"
}

# The unit's lines hold one matching the extended regular expression.
expect_line() {
  grep -Eq "^$1\$" <<< "$unit" || fail "no line \"$1\" in: $unit"
}

# Records of the station on the line database, from korvane-line status.
stored_records() {
  sed -n "s/^  line-1 station-$1: \([0-9]*\) records,.*/\1/p" "$root/status.txt"
}

local_records() {
  cat "$root/station-$1"/trace/Trace*.jsonl | grep -c '^{'
}

for n in 1 2 3; do
  make_station "$n"
  start_station "$n"
done
time_pattern='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+Z'

echo "== three stations provision a board each at once"
for n in 1 2 3; do present "$n" "board-$n" "$n"; done
for n in 1 2 3; do expect_result "$n" "board-$n" "RESULT basic ok exit_code=0 "; done

echo "== board 1 moved to station 2: written on station 1, refused"
present 2 board-1 1
expect_result 2 board-1 "RESULT basic failed exit_code=-11 "
expect_line "FAIL cpuid already written at $time_pattern on line-1 station-1"

echo "== station 3 killed while writing board 4: in doubt line-wide"
# Attached as a board the loop does not act on, slowed down, then turned into a Loader
# board, so that the delay is in place before the station reads it.
read_until 3 WAITING
zvsim 3 attach board-4 --state 9 --cpuid "$(cpuid 4)"
zvsim 3 set board-4 --delay 1000 --state loader
read_until 3 "write cpuid..."
kill -9 "${station_pid[3]}"
end_station 3
[ "$ended" = 137 ] || fail "station-3 ended with $ended, not killed"
echo "station-3 killed during \"write cpuid...\"; board 4 taken off to be checked"
zvsim 3 detach board-4
present 1 board-4 4
expect_result 1 board-4 "RESULT basic failed exit_code=-11 "
expect_line "FAIL cpuid in doubt since $time_pattern on line-1 station-3"
status=0
line_tool --db "$supervisor_db" status > "$root/status.txt" || status=$?
sed 's/^/  | /' "$root/status.txt"
[ "$status" = 4 ] || fail "korvane-line status gave $status with a claim in doubt, expected 4"
grep -Eq "^  $(cpuid 4) claimed by line-1 station-3 since $time_pattern\$" "$root/status.txt" ||
  fail "status does not show board 4 in doubt"

echo "== the supervisor checks board 4 (not written) and releases it"
status=0
line_tool --db "$server_db user=station-1 passfile=$root/station-1/pgpass" \
  release "$(cpuid 4)" --reason "a station may not" 2> /dev/null || status=$?
[ "$status" = 1 ] || fail "a station's login released a claim (status $status)"
line_tool --db "$supervisor_db" release "$(cpuid 4)" --reason "read back: not written"
present 1 board-4 4
expect_result 1 board-4 "RESULT basic ok exit_code=0 "
# Station 3's own claim stays in its trace folder until it is released there too.
(cd "$root/station-3" && ./korvane-trace release "$(cpuid 4)" --reason "read back: not written" > /dev/null)
start_station 3

echo "== the line database goes away"
bash scripts/line-server.sh stop "$server"
present 2 board-5 5
expect_result 2 board-5 "RESULT basic ok exit_code=0 "
present 3 board-6 6
expect_result 3 board-6 "RESULT basic failed exit_code=-12 "
expect_line "FAIL check line database...fail"
grep -q "line database unreachable: " "$root"/station-3/log/App*.log ||
  fail "station-3 did not log why the line database was unreachable"
waiting=$(cd "$root/station-2" && ZVSIM_BENCH=$PWD/bench ./korvane-cli status | tail -n 1)
echo "  station-2 status | $waiting"
[ "$waiting" = "LINE offline, 1 records waiting" ] || fail "station-2's status: $waiting"

echo "== the line database is back"
bash scripts/line-server.sh start "$server"
present 2 board-7 7
expect_result 2 board-7 "RESULT basic ok exit_code=0 "
line_tool --db "$supervisor_db" find "$(cpuid 5)" | grep -q '"station":"line-1 station-2".*"exit_code":0' ||
  fail "board 5's record, written during the outage, did not reach the line database"
present 3 board-6 6
expect_result 3 board-6 "RESULT basic ok exit_code=0 "
# Station 1 ("refuse") sat idle through the outage: the connection it kept is dead, and its
# next board must not pay for that.
present 1 board-8 8
expect_result 1 board-8 "RESULT basic ok exit_code=0 "

echo "== the stations stop"
for n in 1 2 3; do read_until "$n" WAITING; done
for n in 1 2 3; do kill -INT "${station_pid[$n]}"; done
for n in 1 2 3; do
  read_until "$n" TOTAL
  totals[n]=$last
  end_station "$n"
  [ "$ended" = 5 ] || fail "station-$n ended with $ended, expected 5 (some units failed)"
done
[ "${totals[1]}" = "TOTAL passed=3 failed=1" ] || fail "station-1: ${totals[1]}"
[ "${totals[2]}" = "TOTAL passed=3 failed=1" ] || fail "station-2: ${totals[2]}"
# Station 3's second run: board 6 refused during the outage, then written.
[ "${totals[3]}" = "TOTAL passed=1 failed=1" ] || fail "station-3: ${totals[3]}"

echo "== what the line database holds"
status=0
line_tool --db "$supervisor_db" status > "$root/status.txt" || status=$?
sed 's/^/  | /' "$root/status.txt"
[ "$status" = 0 ] || fail "korvane-line status gave $status at the end, expected 0"
for n in 1 2 3; do
  stored=$(stored_records "$n")
  [ "$stored" = "$(local_records "$n")" ] ||
    fail "station-$n: $stored records on the line, $(local_records "$n") in its trace"
done
for n in 1 2 3; do
  (cd "$root/station-$n" && ./korvane-trace verify trace/Trace*.jsonl)
done

echo "== the line report"
line_tool --db "$supervisor_db" report --html "$root/report.html" --lang en
# The page's first figure of that name: the headline's.
figure() { grep -o "data-figure=\"$1\" data-value=\"[0-9]*\"" "$root/report.html" | head -n 1 | tr -dc 0-9; }
boards=$(cat "$root"/station-*/trace/Trace*.jsonl | grep -o '"cpu_id":"[0-9a-f]\+"' | sort -u | wc -l)
[ "$(figure units)" = "$boards" ] || fail "the line report counts $(figure units) units, the traces $boards"
[ "$(figure claims-in-doubt)" = 0 ] || fail "the line report shows claims in doubt after the release"
echo "PASS: boards provisioned once each line-wide, a moved board and one in doubt refused," \
  "the outage caught up, every trace verified (${SECONDS}s)"
