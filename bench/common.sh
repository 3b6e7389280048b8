# shellcheck shell=bash
# Helpers the benchmarks share; sourced by bench/*.sh after ROOT is set. The
# functions write their scratch files to $WORK, which the caller makes.

# The 37 tables of a packet, in packet order.
TABLES=$(sed -n 's/^ *QStringLiteral("\([A-Z_]*\)"),$/\1/p' "$ROOT/src/data/PacketLayout.cpp")
[ "$(echo "$TABLES" | wc -l)" -eq 37 ] || { echo "bench: cannot read the 37 tables" >&2; exit 1; }

# The test server's MariaDB connection; a script may add options before use.
MARIADB_ARGS=(--no-defaults --protocol=TCP -h 127.0.0.1 -P 3306 -u root --password=)
mariadb_q() { mariadb "${MARIADB_ARGS[@]}" -N -B "$@"; }
seconds() { date +%s.%N; }
calc() { LC_ALL=C awk "BEGIN { printf \"$1\", $2 }"; }
# The fastest wall time in seconds of REPEAT runs of the command; its standard
# output goes to OUTPUT (the last run's stays there).
fastest() {  # repeat output command...
  local repeat=$1 output=$2 best='' t0 t1 t i
  shift 2
  for ((i = 0; i < repeat; i++)); do
    t0=$(seconds)
    "$@" >"$output"
    t1=$(seconds)
    t=$(calc %.3f "$t1 - $t0")
    if [ -z "$best" ] || [ "$(calc %d "$t < $best")" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

# One SQL expression summing the row counts of all the tables.
count_sql() {
  local first=1 t
  for t in $TABLES; do
    [ $first -eq 1 ] || printf ' + '
    printf '(SELECT COUNT(*) FROM %s)' "$t"
    first=0
  done
}
# The single value of a SELECT on a Firebird database of the test server.
fb_value() {  # database select
  printf 'SET HEADING OFF;\n%s\n' "$2" >"$WORK/fb_value.sql"
  isql-fb -q -b -user SYSDBA -password pondglass -i "$WORK/fb_value.sql" "127.0.0.1:$1" </dev/null |
    awk 'NF == 1 { print $1 }'
}
mysql_rows() { mariadb_q "$1" -e "SELECT $(count_sql);"; }
fb_rows() { fb_value "$1" "SELECT $(count_sql) FROM RDB\$DATABASE;"; }

# Benchmarks run on servers with their default durability: every commit is on
# disk before the server answers. The test servers relax that for the speed of
# the tests, which would flatter a loader that commits often. MariaDB's
# innodb_flush_log_at_trx_commit is set back to 1 for the run and restored after
# (innodb_doublewrite cannot change while the server runs: it is reported);
# Firebird databases of the benchmark get forced writes (their default).
DURABILITY_OLD_FLUSH=''
durable_servers() {
  DURABILITY_OLD_FLUSH=$(mariadb_q -e "SELECT @@GLOBAL.innodb_flush_log_at_trx_commit")
  mariadb_q -e "SET GLOBAL innodb_flush_log_at_trx_commit = 1"
}
restore_servers() {
  if [ -n "$DURABILITY_OLD_FLUSH" ]; then
    mariadb_q -e "SET GLOBAL innodb_flush_log_at_trx_commit = $DURABILITY_OLD_FLUSH" || true
  fi
}
fb_forced_writes() {  # database
  gfix -user SYSDBA -password pondglass -write sync "127.0.0.1:$1"
}
# One line naming the settings the run had.
durability_line() {  # firebird-database
  local flush dw fw
  flush=$(mariadb_q -e "SELECT @@GLOBAL.innodb_flush_log_at_trx_commit")
  dw=$(mariadb_q -e "SELECT @@GLOBAL.innodb_doublewrite")
  fw=$(fb_value "$1" "SELECT MON\$FORCED_WRITES FROM MON\$DATABASE;")
  echo "server settings: MariaDB innodb_flush_log_at_trx_commit=$flush innodb_doublewrite=$dw;" \
    "Firebird forced writes=$fw ($1)"
}
# Peak resident memory of a timed_run.py report, in MiB.
report_maxrss_mib() { awk '$1 == "maxrss" { printf "%.1f", $2 / 1024 }' "$1"; }
