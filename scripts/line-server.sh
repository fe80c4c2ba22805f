#!/usr/bin/env bash
# Throwaway PostgreSQL 15 servers for the line database's tests, the rehearsal and benchmarks,
# from Debian's packages. Everything a server needs lives in DIR, ports are picked at start,
# so any number of servers can run side by side.
#
# Usage:
#   line-server.sh start DIR [--standby] [--allow-plain] [--silent] [--owner PID]
#       First start: a new cluster in DIR (database "korvane", superuser korvane_admin with a
#       random password, SCRAM, TLS with a CA of its own), listening on 127.0.0.1 only.
#       --standby      also a synchronous streaming standby on a second port
#       --allow-plain  also accept connections without TLS (by default only TLS is accepted,
#                      so sslmode=disable is refused by the server)
#       --silent       no PostgreSQL: a listener that takes every connection and never says a
#                      word (a server that hangs); DIR/caller appears once one has connected
#       --owner PID    stop the servers when process PID ends (a test that crashed)
#       Later starts of the same DIR start its stopped servers again on the same ports; after
#       "promote" the old primary stays down (it would be a second primary).
#   line-server.sh stop DIR            both servers (or the silent listener), fast shutdown;
#                                      nothing running is fine
#   line-server.sh stop-primary DIR    the primary only, immediate shutdown (a crash)
#   line-server.sh stop-standby DIR    the standby only, fast shutdown
#   line-server.sh promote DIR         the standby becomes a primary
#   line-server.sh add-login DIR NAME PASSWORD [ROLE]
#       a login role (member of ROLE when given) and its line in DIR/pgpass
#   line-server.sh broker-start ROOT / broker-stop ROOT
#       For programs that cannot run this script themselves (Windows tests under Wine): a
#       process that runs this script for them. A request is ROOT/requests/ID.req, this
#       script's arguments one per line, written whole (renamed into place); the answer is
#       ROOT/requests/ID.done: the exit status on the first line, then the output.
#       broker-start makes ROOT afresh (stopping servers left in it); broker-stop ends the
#       broker, stops every server under ROOT/servers/ and removes their data (logs stay).
#
# Files in DIR:
#   conninfo        host=127.0.0.1 port=N dbname=korvane user=korvane_admin sslmode=verify-full
#                   sslrootcert=DIR/tls/root.crt passfile=DIR/pgpass (one line)
#   conninfo.multi  the same for both servers with target_session_attrs=read-write (--standby)
#   pgpass          PGPASSFILE format, mode 0600, one line per login
#   port, standby.port
#   tls/root.crt    the CA that signed tls/server.crt (CN 127.0.0.1, SAN 127.0.0.1 and localhost)
#   tls/other-root.crt  an unrelated CA: verify-full with it must fail
#   primary/, standby/  data directories; primary.log, standby.log in run/
#   run/            unix sockets and server logs
#   silent.pid, silent.log, caller   the listener of --silent, its log, and a mark left once a
#                   caller has connected
# As root the servers run as user "postgres": DIR's data belongs to it and DIR and its parents
# are made traversable.
set -euo pipefail

pg_bin=${KORVANE_PG_BIN:-/usr/lib/postgresql/15/bin}
self=$(realpath "${BASH_SOURCE[0]}")
standby_name=korvane_standby

# Settings from the caller's environment must not redirect our own client calls.
while read -r v; do unset "$v"; done < <(compgen -e | grep '^PG' || true)

die() {
  echo "line-server: $*" >&2
  exit 1
}

is_root() { [ "$(id -u)" -eq 0 ]; }

# Runs a command as the servers' owner.
as_owner() {
  if is_root; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# A connection string value, quoted when it needs to be.
conn_value() {
  local v=$1
  if [[ $v =~ ^[A-Za-z0-9_./:,=-]+$ ]]; then
    printf '%s' "$v"
  else
    v=${v//\\/\\\\}
    v=${v//\'/\\\'}
    printf "'%s'" "$v"
  fi
}

# A pgpass field: ':' and '\' escaped.
pgpass_field() {
  local v=${1//\\/\\\\}
  printf '%s' "${v//:/\\:}"
}

random_password() {
  head -c 24 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 24
}

# Ports below Linux's ephemeral range, so outgoing connections do not take them meanwhile.
random_port() {
  echo $((20000 + (RANDOM * 32768 + RANDOM) % 12000))
}

running() {
  [ -f "$1/postmaster.pid" ] && as_owner "$pg_bin/pg_ctl" status -D "$1" > /dev/null 2>&1
}

make_traversable() {
  is_root || return 0
  local d=$1
  while [ "$d" != / ]; do
    local mode
    mode=$(stat -c %a "$d")
    if (((8#$mode & 1) == 0)); then
      chmod o+x "$d"
    fi
    d=$(dirname "$d")
  done
}

make_tls() {
  local tls=$1
  mkdir -p "$tls"
  local ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  openssl req -x509 "${ec[@]}" -keyout "$tls/root.key" -out "$tls/root.crt" -days 3650 \
    -subj "/CN=Korvane line test CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    2> /dev/null
  openssl req -x509 "${ec[@]}" -keyout "$tls/other-root.key" -out "$tls/other-root.crt" \
    -days 3650 -subj "/CN=Korvane line test CA" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    2> /dev/null
  openssl req -new "${ec[@]}" -keyout "$tls/server.key" -out "$tls/server.csr" \
    -subj "/CN=127.0.0.1" 2> /dev/null
  printf '%s\n' "subjectAltName=IP:127.0.0.1,DNS:localhost" "basicConstraints=CA:FALSE" \
    "extendedKeyUsage=serverAuth" > "$tls/server.ext"
  openssl x509 -req -in "$tls/server.csr" -CA "$tls/root.crt" -CAkey "$tls/root.key" \
    -set_serial "0x$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')" -days 3650 \
    -extfile "$tls/server.ext" -out "$tls/server.crt" 2> /dev/null
  rm -f "$tls/server.csr" "$tls/server.ext" "$tls/root.key" "$tls/other-root.key"
  chmod 0600 "$tls/server.key"
  chmod 0644 "$tls/root.crt" "$tls/other-root.crt" "$tls/server.crt"
  is_root && chown postgres: "$tls/server.key"
  return 0
}

# Starts the server of data directory $1 on port $2; returns 2 when the port is taken.
start_server() {
  local data=$1 port=$2 log=$3
  if as_owner "$pg_bin/pg_ctl" start -w -t 60 -D "$data" -l "$log" -o "-p $port" > /dev/null 2>&1; then
    return 0
  fi
  if grep -q -e 'could not bind' -e 'Address already in use' -e 'could not create any TCP/IP sockets' \
    "$log" 2> /dev/null; then
    return 2
  fi
  tail -n 20 "$log" >&2 || true
  return 1
}

# Starts a new server trying free ports until one binds; prints the port.
start_on_free_port() {
  local data=$1 log=$2 rc port
  for _ in $(seq 1 30); do
    port=$(random_port)
    rm -f "$log"
    rc=0
    start_server "$data" "$port" "$log" || rc=$?
    if [ $rc -eq 0 ]; then
      echo "$port"
      return 0
    fi
    [ $rc -eq 2 ] || return 1
  done
  echo "line-server: no free port found" >&2
  return 1
}

# Runs SQL as korvane_admin on whichever server takes writes.
admin_psql() {
  local dir=$1
  shift
  local info
  if [ -f "$dir/conninfo.multi" ]; then
    info=$(< "$dir/conninfo.multi")
  else
    info=$(< "$dir/conninfo")
  fi
  "$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -d "$info" "$@"
}

write_conninfo() {
  local dir=$1 port=$2 standby_port=${3:-}
  local common
  common="dbname=korvane user=korvane_admin sslmode=verify-full"
  common+=" sslrootcert=$(conn_value "$dir/tls/root.crt") passfile=$(conn_value "$dir/pgpass")"
  echo "host=127.0.0.1 port=$port $common" > "$dir/conninfo"
  echo "$port" > "$dir/port"
  if [ -n "$standby_port" ]; then
    echo "host=127.0.0.1,127.0.0.1 port=$port,$standby_port $common target_session_attrs=read-write" \
      > "$dir/conninfo.multi"
    echo "$standby_port" > "$dir/standby.port"
  fi
}

watch_owner() {
  local dir=$1 owner=$2
  tail --pid="$owner" -f /dev/null 2> /dev/null || true
  [ -d "$dir" ] && bash "$self" stop "$dir"
}

# Perl's own sockets (perl-base): the listener holds what it accepts and writes nothing.
start_silent() {
  local dir=$1
  [ -z "$(ls -A "$dir")" ] || die "$dir is not empty"
  # shellcheck disable=SC2016 # the variables are Perl's
  setsid perl -MIO::Socket::INET -e '
    $0 = "korvane-silent-listener";
    my $dir = shift;
    my $listener = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 0, Listen => 16)
      or die "cannot listen: $!";
    open(my $port, ">", "$dir/port.new") or die "$dir/port.new: $!";
    print $port $listener->sockport, "\n";
    close $port;
    rename("$dir/port.new", "$dir/port") or die "$dir/port: $!";
    my @callers;
    while (my $caller = $listener->accept) {
      push @callers, $caller;
      open(my $seen, ">", "$dir/caller") and close $seen;
    }' "$dir" < /dev/null > "$dir/silent.log" 2>&1 &
  echo $! > "$dir/silent.pid"
  for _ in $(seq 100); do
    [ -f "$dir/port" ] && return 0
    sleep 0.1
  done
  die "the silent listener did not start (log: $dir/silent.log)"
}

cmd_start() {
  local dir="" standby=0 plain=0 silent=0 owner=""
  while [ $# -gt 0 ]; do
    case $1 in
      --standby) standby=1 ;;
      --allow-plain) plain=1 ;;
      --silent) silent=1 ;;
      --owner)
        owner=${2:?--owner needs a process id}
        shift
        ;;
      -*) die "unknown option $1" ;;
      *)
        [ -z "$dir" ] || die "one DIR only"
        dir=$1
        ;;
    esac
    shift
  done
  [ -n "$dir" ] || die "start needs DIR"
  mkdir -p "$dir"
  dir=$(realpath "$dir")
  if [ "$silent" = 1 ]; then
    start_silent "$dir"
  elif [ -f "$dir/port" ]; then
    restart "$dir"
  else
    create "$dir" "$standby" "$plain"
  fi
  if [ -n "$owner" ]; then
    setsid bash "$self" watch "$dir" "$owner" < /dev/null > /dev/null 2>&1 &
  fi
}

restart() {
  local dir=$1
  if [ ! -f "$dir/promoted" ] && ! running "$dir/primary"; then
    start_server "$dir/primary" "$(< "$dir/port")" "$dir/run/primary.log" ||
      die "the primary did not start again (log: $dir/run/primary.log)"
  fi
  if [ -d "$dir/standby" ] && ! running "$dir/standby"; then
    start_server "$dir/standby" "$(< "$dir/standby.port")" "$dir/run/standby.log" ||
      die "the standby did not start again (log: $dir/run/standby.log)"
  fi
}

create() {
  local dir=$1 standby=$2 plain=$3
  [ -z "$(ls -A "$dir")" ] || die "$dir is not empty"
  [ -x "$pg_bin/initdb" ] || die "no PostgreSQL 15 in $pg_bin (bash scripts/install-deps.sh)"
  make_traversable "$dir"
  umask 077
  mkdir "$dir/primary" "$dir/run"
  chmod 0755 "$dir/run"
  is_root && chown postgres: "$dir/primary" "$dir/run"
  make_tls "$dir/tls"
  chmod 0755 "$dir/tls"

  local password
  password=$(random_password)
  printf '%s\n' "$password" > "$dir/run/pwfile"
  is_root && chown postgres: "$dir/run/pwfile"
  printf '*:*:*:korvane_admin:%s\n' "$password" > "$dir/pgpass"
  chmod 0600 "$dir/pgpass"

  (cd / && as_owner "$pg_bin/initdb" -D "$dir/primary" -U korvane_admin --pwfile="$dir/run/pwfile" \
    --auth=scram-sha-256 --encoding=UTF8 --locale=C --no-sync --no-instructions > "$dir/run/initdb.log" 2>&1) ||
    {
      cat "$dir/run/initdb.log" >&2
      die "initdb failed"
    }
  rm -f "$dir/run/pwfile"

  {
    echo "local all all scram-sha-256"
    echo "hostssl all all 127.0.0.1/32 scram-sha-256"
    echo "hostssl replication all 127.0.0.1/32 scram-sha-256"
    [ "$plain" -eq 1 ] && echo "host all all 127.0.0.1/32 scram-sha-256"
    true
  } > "$dir/primary/pg_hba.conf"
  local socket_dir=$dir/run
  # A unix socket path longer than the system allows would stop the server from starting.
  [ ${#socket_dir} -le 80 ] || socket_dir=""
  cat >> "$dir/primary/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$socket_dir'
ssl = on
ssl_cert_file = '$dir/tls/server.crt'
ssl_key_file = '$dir/tls/server.key'
password_encryption = 'scram-sha-256'
# Throwaway servers: speed over durability, and small enough for many at once.
fsync = off
full_page_writes = off
shared_buffers = 16MB
max_connections = 60
max_wal_senders = 4
wal_keep_size = 64MB
logging_collector = off
log_min_messages = warning
synchronous_commit = on
CONF
  if [ "$standby" -eq 1 ]; then
    echo "synchronous_standby_names = '$standby_name'" >> "$dir/primary/postgresql.conf"
  fi

  local port
  port=$(start_on_free_port "$dir/primary" "$dir/run/primary.log") ||
    die "the primary did not start (log: $dir/run/primary.log)"
  write_conninfo "$dir" "$port"
  # Until the standby runs, commits must not wait for it.
  PGOPTIONS="-c synchronous_commit=local" admin_psql "$dir" -d "$(sed 's/dbname=korvane/dbname=postgres/' "$dir/conninfo")" \
    -c "CREATE DATABASE korvane" > /dev/null

  [ "$standby" -eq 1 ] || return 0
  mkdir "$dir/standby"
  is_root && chown postgres: "$dir/standby"
  chmod 0700 "$dir/standby"
  # As the servers' owner, so the copy belongs to it; the password in its environment only.
  PGPASSWORD=$password as_owner "$pg_bin/pg_basebackup" -D "$dir/standby" -R -X stream -c fast --no-sync \
    -d "host=127.0.0.1 port=$port user=korvane_admin sslmode=require" > "$dir/run/basebackup.log" 2>&1 ||
    {
      cat "$dir/run/basebackup.log" >&2
      die "pg_basebackup failed"
    }
  # The standby needs its own password (it cannot read DIR/pgpass) and must not wait for a
  # synchronous standby of its own once promoted.
  as_owner tee -a "$dir/standby/postgresql.auto.conf" > /dev/null <<CONF
primary_conninfo = 'host=127.0.0.1 port=$port user=korvane_admin password=$password sslmode=require application_name=$standby_name'
synchronous_standby_names = ''
hot_standby = on
CONF
  local standby_port
  standby_port=$(start_on_free_port "$dir/standby" "$dir/run/standby.log") ||
    die "the standby did not start (log: $dir/run/standby.log)"
  write_conninfo "$dir" "$port" "$standby_port"
  # A commit that wrote WAL returns only once the synchronous standby has confirmed it: when
  # this returns, the standby streams and is synchronous. (A transaction that only took an xid
  # writes no WAL before its commit record and does not wait.)
  timeout 60 "$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -d "$(< "$dir/conninfo")" \
    -c "SELECT pg_logical_emit_message(true, 'korvane', 'standby ready')" > /dev/null ||
    die "the standby did not become synchronous"
}

cmd_stop() {
  local dir=${1:?stop needs DIR} mode=${2:-fast} which=${3:-primary standby}
  local d pid
  pid=$(cat "$dir/silent.pid" 2> /dev/null || true)
  if [ -n "$pid" ] && grep -qa korvane-silent-listener "/proc/$pid/cmdline" 2> /dev/null; then
    kill "$pid" 2> /dev/null || true
  fi
  for d in $which; do
    if [ -f "$dir/$d/postmaster.pid" ]; then
      as_owner "$pg_bin/pg_ctl" stop -w -t 60 -m "$mode" -D "$dir/$d" > /dev/null 2>&1 || true
    fi
  done
}

cmd_promote() {
  local dir=${1:?promote needs DIR}
  [ -d "$dir/standby" ] || die "$dir has no standby"
  as_owner "$pg_bin/pg_ctl" promote -w -t 60 -D "$dir/standby" > /dev/null
  touch "$dir/promoted"
}

cmd_add_login() {
  local dir=${1:?add-login needs DIR} name=${2:?add-login needs NAME} password=${3:?add-login needs PASSWORD}
  local role=${4:-}
  {
    if [ -n "$role" ]; then
      echo 'CREATE ROLE :"name" LOGIN PASSWORD :'"'"'password'"'"' IN ROLE :"role";'
    else
      echo 'CREATE ROLE :"name" LOGIN PASSWORD :'"'"'password'"'"';'
    fi
  } | admin_psql "$dir" -v name="$name" -v password="$password" -v role="$role" > /dev/null
  printf '*:*:*:%s:%s\n' "$(pgpass_field "$name")" "$(pgpass_field "$password")" >> "$dir/pgpass"
}

broker_loop() {
  local root=$1 request id
  shopt -s nullglob
  while [ -d "$root/requests" ] && [ ! -f "$root/broker.stop" ]; do
    for request in "$root"/requests/*.req; do
      id=${request%.req}
      mv "$request" "$id.taken"
      local args=() rc=0 output
      mapfile -t args < "$id.taken"
      output=$(bash "$self" "${args[@]}" 2>&1) || rc=$?
      printf '%s\n%s\n' "$rc" "$output" > "$id.answer"
      mv "$id.answer" "$id.done"
      rm -f "$id.taken"
    done
    # Requests are rare and each takes far longer than this.
    sleep 0.05
  done
}

# Stops every server under ROOT/servers/ and drops their data; their logs stay in run/.
stop_servers_under() {
  local server
  for server in "$1"/servers/*/; do
    [ -f "$server/port" ] && cmd_stop "${server%/}" fast
    rm -rf "$server/primary" "$server/standby"
  done
  return 0
}

cmd_broker_start() {
  local root=${1:?broker-start needs ROOT}
  if [ -d "$root" ]; then
    cmd_broker_stop "$root"
    rm -rf "$root"
  fi
  mkdir -p "$root/requests" "$root/servers"
  root=$(realpath "$root")
  setsid bash "$self" broker "$root" < /dev/null > "$root/broker.log" 2>&1 &
  echo $! > "$root/broker.pid"
}

cmd_broker_stop() {
  local root=${1:?broker-stop needs ROOT}
  [ -d "$root" ] || return 0
  touch "$root/broker.stop"
  local pid
  pid=$(cat "$root/broker.pid" 2> /dev/null || true)
  if [ -n "$pid" ] && grep -qa broker "/proc/$pid/cmdline" 2> /dev/null; then
    kill "$pid" 2> /dev/null || true
  fi
  shopt -s nullglob
  stop_servers_under "$root"
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
  start) cmd_start "$@" ;;
  stop) cmd_stop "${1:?stop needs DIR}" fast ;;
  stop-primary) cmd_stop "${1:?stop-primary needs DIR}" immediate primary ;;
  stop-standby) cmd_stop "${1:?stop-standby needs DIR}" fast standby ;;
  promote) cmd_promote "$@" ;;
  add-login) cmd_add_login "$@" ;;
  watch) watch_owner "$@" ;;
  broker) broker_loop "$@" ;;
  broker-start) cmd_broker_start "$@" ;;
  broker-stop) cmd_broker_stop "$@" ;;
  *)
    sed -n '2,/^set -euo/p' "$self" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 3
    ;;
esac
