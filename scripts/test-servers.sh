#!/usr/bin/env bash
# Starts, stops and reports the two database servers the tests and the demo use:
#   MariaDB  on 127.0.0.1:3306, user root with an empty password, data under /tmp;
#   Firebird on 127.0.0.1:3050, SYSDBA / pondglass, databases in /tmp/nompack-fb/
#            (reached as 127.0.0.1:/tmp/nompack-fb/<name>.fdb; probe.fdb there is
#            this script's own login check).
#
#   scripts/test-servers.sh start|stop|status
#
# A server that already listens on its port is used as it is (after checking that
# the fixed credentials work) and is never stopped by this script; "stop" ends only
# the servers that "start" launched, as remembered in the state file. Needs no
# systemd and no terminal: CI runs it as root with CI=true.
set -euo pipefail

MARIADB_DIR=/tmp/nompack-mariadb
MARIADB_CNF=$MARIADB_DIR/my.cnf
MARIADB_SOCK=$MARIADB_DIR/mysqld.sock
MARIADB_PORT=3306

FB_DB_DIR=/tmp/nompack-fb
FB_RUN_DIR=/tmp/nompack-fb-server
FB_PORT=3050
FB_USER=SYSDBA
FB_PASSWORD=pondglass
FB_PROBE_DB=$FB_DB_DIR/probe.fdb

STATE_FILE=/tmp/nompack-test-servers.state
START_TIMEOUT=60

log() { echo "test-servers: $*"; }
die() {
  echo "test-servers: ERROR: $*" >&2
  exit 1
}

# Privileged steps (the Firebird server runs as the firebird user, the security
# database belongs to it) go through sudo when we are not root.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

port_open() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# A process that has exited but was not reaped yet (the init of a container may
# take its time) still answers kill -0; it must count as gone. Read from /proc, so
# that nothing beyond the base system is needed.
pid_alive() {
  local pid=$1 stat
  [ -n "$pid" ] && [ -r "/proc/$pid/stat" ] || return 1
  stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ] && [ "${stat%% *}" != X ]
}

pid_comm() {
  cat "/proc/$1/comm" 2>/dev/null || true
}

state_pid() {
  [ -f "$STATE_FILE" ] || return 0
  awk -v n="$1" '$1 == n { print $2 }' "$STATE_FILE"
}

state_set() {
  local name=$1 pid=$2 tmp
  tmp=$(mktemp)
  [ -f "$STATE_FILE" ] && awk -v n="$name" '$1 != n' "$STATE_FILE" >"$tmp"
  [ -n "$pid" ] && echo "$name $pid" >>"$tmp"
  if [ -s "$tmp" ]; then mv "$tmp" "$STATE_FILE"; else rm -f "$tmp" "$STATE_FILE"; fi
}

# True when the server recorded under NAME is still the process we started.
ours_running() {
  local pid
  pid=$(state_pid "$1")
  [ -n "$pid" ] && pid_alive "$pid" && [ "$(pid_comm "$pid")" = "$2" ]
}

stop_pid() {
  local name=$1 pid=$2 i
  kill -TERM "$pid" 2>/dev/null || as_root kill -TERM "$pid" || true
  for ((i = 0; i < 30 * 5; i++)); do
    pid_alive "$pid" || return 0
    sleep 0.2
  done
  log "$name (pid $pid) did not stop within 30 s, killing it"
  kill -KILL "$pid" 2>/dev/null || as_root kill -KILL "$pid" || true
  sleep 1
}

# Stops the server recorded under NAME (process COMM) if this script started it.
server_stop() {  # label name comm port
  local label=$1 name=$2 comm=$3 port=$4 pid
  pid=$(state_pid "$name")
  if [ -z "$pid" ]; then
    if port_open "$port"; then
      log "$label: not started by this script, leaving it alone"
    else
      log "$label: not running"
    fi
    return 0
  fi
  if ours_running "$name" "$comm"; then
    log "$label: stopping pid $pid"
    stop_pid "$label" "$pid"
  else
    log "$label: pid $pid is gone already"
  fi
  state_set "$name" ""
}

# One status line; LOGIN_OK checks the fixed credentials, UP_DETAIL prints what
# a server that lets them in shows.
server_status() {  # label name comm port login_ok up_detail credentials
  local label=$1 name=$2 comm=$3 port=$4 login_ok=$5 up_detail=$6 credentials=$7
  local who="not started by this script" where
  ours_running "$name" "$comm" && who="started by this script, pid $(state_pid "$name")"
  where=$(printf '%-8s 127.0.0.1:%s' "$label" "$port")
  if ! port_open "$port"; then
    echo "$where  DOWN"
    return 1
  fi
  if "$login_ok"; then
    echo "$where  UP ($("$up_detail"), $who)"
  else
    echo "$where  UP but $credentials REFUSED ($who)"
    return 1
  fi
}

# ---------------------------------------------------------------- MariaDB

mariadb_tcp() {
  mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P "$MARIADB_PORT" -u root --password= \
    --connect-timeout=5 "$@"
}

mariadb_login_ok() {
  mariadb_tcp -N -e "SELECT 1" >/dev/null 2>&1
}

mariadb_write_config() {
  local run_user=$1
  cat >"$MARIADB_CNF" <<EOF
# Written by scripts/test-servers.sh; a throw-away server for tests and the demo.
[mysqld]
user = $run_user
datadir = $MARIADB_DIR/data
socket = $MARIADB_SOCK
pid-file = $MARIADB_DIR/mysqld.pid
log-error = $MARIADB_DIR/error.log
port = $MARIADB_PORT
bind-address = 127.0.0.1
skip-name-resolve
character-set-server = utf8mb4
collation-server = utf8mb4_general_ci
max_allowed_packet = 64M
# Durability does not matter here; load speed of the big samples does.
innodb_buffer_pool_size = 256M
innodb_log_file_size = 256M
innodb_flush_log_at_trx_commit = 2
innodb_doublewrite = 0
skip-log-bin
EOF
}

mariadb_start() {
  if ours_running mariadb mariadbd; then
    log "MariaDB already running (started by this script, pid $(state_pid mariadb))"
    mariadb_login_ok || die "MariaDB (pid $(state_pid mariadb)) refuses root without password over TCP"
    return 0
  fi
  if port_open "$MARIADB_PORT"; then
    if mariadb_login_ok; then
      log "MariaDB: port $MARIADB_PORT already served by another server; root with empty password works, using it"
      return 0
    fi
    if [ "${CI:-}" = "true" ]; then
      # On a throw-away CI machine the packaged server may have been started by
      # its postinst; it only lets root in over the socket. Take the port over.
      log "MariaDB: a foreign server on port $MARIADB_PORT refuses root/empty password; CI: stopping the packaged service"
      as_root service mariadb stop || as_root /etc/init.d/mariadb stop || true
      sleep 1
      port_open "$MARIADB_PORT" && die "port $MARIADB_PORT is still taken after stopping the packaged MariaDB"
    else
      die "port $MARIADB_PORT is taken by a server that refuses root with an empty password over TCP." \
        "Stop it (e.g. 'service mariadb stop') or give 'root'@'127.0.0.1' an empty password, then rerun."
    fi
  fi

  local run_user
  run_user=$(id -un)
  [ "$(id -u)" -eq 0 ] && run_user=mysql
  mkdir -p "$MARIADB_DIR"
  mariadb_write_config "$run_user"
  # A folder left by an interrupted initialisation has no privilege tables.
  if [ ! -f "$MARIADB_DIR/data/mysql/global_priv.MAI" ] && [ ! -f "$MARIADB_DIR/data/mysql/global_priv.frm" ]; then
    log "MariaDB: initialising $MARIADB_DIR/data"
    rm -rf "$MARIADB_DIR/data"
    mariadb-install-db --defaults-file="$MARIADB_CNF" --auth-root-authentication-method=normal \
      --skip-test-db >"$MARIADB_DIR/install.log" 2>&1 ||
      {
        tail -n 30 "$MARIADB_DIR/install.log" >&2
        die "mariadb-install-db failed (log: $MARIADB_DIR/install.log)"
      }
  fi
  [ "$(id -u)" -eq 0 ] && chown -R mysql:mysql "$MARIADB_DIR"
  : >"$MARIADB_DIR/error.log"
  [ "$(id -u)" -eq 0 ] && chown mysql:mysql "$MARIADB_DIR/error.log"

  log "MariaDB: starting on 127.0.0.1:$MARIADB_PORT"
  start-stop-daemon --start --background --make-pidfile --pidfile "$MARIADB_DIR/launcher.pid" \
    --output "$MARIADB_DIR/stdout.log" --exec /usr/sbin/mariadbd -- --defaults-file="$MARIADB_CNF"
  local pid i
  pid=$(cat "$MARIADB_DIR/launcher.pid")
  state_set mariadb "$pid"

  for ((i = 0; i < START_TIMEOUT * 5; i++)); do
    pid_alive "$pid" || break
    mariadb-admin --no-defaults -S "$MARIADB_SOCK" -u root --password= ping >/dev/null 2>&1 && break
    sleep 0.2
  done
  if ! pid_alive "$pid" || ! mariadb-admin --no-defaults -S "$MARIADB_SOCK" -u root --password= ping >/dev/null 2>&1; then
    tail -n 30 "$MARIADB_DIR/error.log" >&2 || true
    state_set mariadb ""
    pid_alive "$pid" && stop_pid MariaDB "$pid"
    die "MariaDB did not come up within $START_TIMEOUT s (log: $MARIADB_DIR/error.log)"
  fi
  # With skip-name-resolve a TCP client from loopback is 'root'@'127.0.0.1',
  # which the initialisation does not create.
  mariadb --no-defaults -S "$MARIADB_SOCK" -u root --password= -e "
    CREATE USER IF NOT EXISTS 'root'@'127.0.0.1' IDENTIFIED BY '';
    GRANT ALL PRIVILEGES ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION;
    FLUSH PRIVILEGES;" || die "MariaDB: could not set up root@127.0.0.1"
  mariadb_login_ok || die "MariaDB runs but root with an empty password cannot log in over TCP"
  log "MariaDB: up (pid $pid), $(mariadb_tcp -N -e 'SELECT VERSION()')"
}

mariadb_up_detail() {
  echo "$(mariadb_tcp -N -e 'SELECT VERSION()'), root/empty password OK"
}

# ---------------------------------------------------------------- Firebird

# Attaches to (or first creates) a small database through the server: proves that
# the server accepts SYSDBA/pondglass on a plain TCP attachment.
fb_login_ok() {
  local sql
  sql=$(mktemp)
  if [ -f "$FB_PROBE_DB" ]; then
    printf "CONNECT '127.0.0.1:%s' USER '%s' PASSWORD '%s';\nSELECT 1 FROM RDB\$DATABASE;\n" \
      "$FB_PROBE_DB" "$FB_USER" "$FB_PASSWORD" >"$sql"
  else
    printf "CREATE DATABASE '127.0.0.1:%s' USER '%s' PASSWORD '%s' DEFAULT CHARACTER SET WIN1251;\n" \
      "$FB_PROBE_DB" "$FB_USER" "$FB_PASSWORD" >"$sql"
  fi
  local rc=0
  isql-fb -q -b -i "$sql" >/dev/null 2>&1 </dev/null || rc=$?
  rm -f "$sql"
  return $rc
}

fb_prepare_db_dir() {
  as_root mkdir -p "$FB_DB_DIR" "$FB_RUN_DIR"
  as_root chown firebird:firebird "$FB_DB_DIR"
  as_root chmod 0775 "$FB_DB_DIR"
}

# The package's debconf question may or may not have set the password; setting it
# through an embedded attachment to the security database (the server is down at
# this point, the superserver would hold the file) makes sure of it.
fb_set_sysdba_password() {
  local sql=$FB_RUN_DIR/set-sysdba.sql
  echo "CREATE OR ALTER USER $FB_USER PASSWORD '$FB_PASSWORD' USING PLUGIN Srp; COMMIT;" | as_root tee "$sql" >/dev/null
  as_root chmod 0644 "$sql"
  # Embedded work as root would leave lock files the server's user cannot open.
  as_root setpriv --reuid=firebird --regid=firebird --init-groups -- \
    isql-fb -q -b -user "$FB_USER" -i "$sql" security.db </dev/null ||
    die "Firebird: could not set the $FB_USER password in the security database"
}

fb_start() {
  if ours_running firebird firebird; then
    log "Firebird already running (started by this script, pid $(state_pid firebird))"
    fb_login_ok || die "Firebird (pid $(state_pid firebird)) refuses $FB_USER/$FB_PASSWORD"
    return 0
  fi
  fb_prepare_db_dir
  if port_open "$FB_PORT"; then
    if fb_login_ok; then
      log "Firebird: port $FB_PORT already served by another server; $FB_USER/$FB_PASSWORD works, using it"
      return 0
    fi
    if [ "${CI:-}" = "true" ]; then
      log "Firebird: a foreign server on port $FB_PORT refuses $FB_USER/$FB_PASSWORD; CI: stopping the packaged service"
      as_root service firebird3.0 stop || as_root /etc/init.d/firebird3.0 stop || true
      sleep 1
      port_open "$FB_PORT" && die "port $FB_PORT is still taken after stopping the packaged Firebird"
    else
      die "port $FB_PORT is taken by a Firebird server that refuses $FB_USER/$FB_PASSWORD." \
        "Stop it (e.g. 'service firebird3.0 stop') so that this script can set the password and start its own, then rerun."
    fi
  fi

  # The lock folder may hold files an earlier root-run embedded session created.
  [ -d /tmp/firebird ] && as_root chown -R firebird:firebird /tmp/firebird
  fb_set_sysdba_password

  log "Firebird: starting on 127.0.0.1:$FB_PORT"
  as_root start-stop-daemon --start --background --make-pidfile --pidfile "$FB_RUN_DIR/firebird.pid" \
    --chuid firebird --output "$FB_RUN_DIR/stdout.log" --exec /usr/sbin/firebird
  local pid i
  pid=$(cat "$FB_RUN_DIR/firebird.pid")
  state_set firebird "$pid"

  for ((i = 0; i < START_TIMEOUT * 5; i++)); do
    pid_alive "$pid" || break
    port_open "$FB_PORT" && break
    sleep 0.2
  done
  if ! pid_alive "$pid" || ! port_open "$FB_PORT" || ! fb_login_ok; then
    cat "$FB_RUN_DIR/stdout.log" >&2 || true
    tail -n 20 /var/log/firebird/firebird3.0.log >&2 2>/dev/null || true
    state_set firebird ""
    pid_alive "$pid" && stop_pid Firebird "$pid"
    die "Firebird did not come up within $START_TIMEOUT s, or refuses $FB_USER/$FB_PASSWORD"
  fi
  log "Firebird: up (pid $pid)"
}

fb_up_detail() {
  echo "$FB_USER/$FB_PASSWORD OK, databases in $FB_DB_DIR"
}

# ---------------------------------------------------------------- main

case "${1:-}" in
  start)
    mariadb_start
    fb_start
    ;;
  stop)
    server_stop MariaDB mariadb mariadbd "$MARIADB_PORT"
    server_stop Firebird firebird firebird "$FB_PORT"
    ;;
  status)
    rc=0
    server_status MariaDB mariadb mariadbd "$MARIADB_PORT" mariadb_login_ok mariadb_up_detail \
      "root/empty password" || rc=1
    server_status Firebird firebird firebird "$FB_PORT" fb_login_ok fb_up_detail \
      "$FB_USER/$FB_PASSWORD" || rc=1
    exit $rc
    ;;
  *)
    echo "usage: $0 start|stop|status" >&2
    exit 2
    ;;
esac
