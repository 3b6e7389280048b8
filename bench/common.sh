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
