#!/usr/bin/env bash
# Packet installation benchmark (not a test): rows per second of nompack-cli
# install into MySQL and into Firebird from one packet of the large sample,
# beside an anchor on the same rows in the same run: the mariadb client
# replaying the extended-insert dump (multi-row INSERTs) of the same tables into
# an empty copy of the schema. The servers run with their default durability
# for the benchmark, and the peak memory of each nompack run is reported.
#
#   bench/install.sh [--scale N] [--reuse]
#
#   --scale N   the sample the packet is made from (default 60: about 241,000 rows
#               in the 37 tables)
#   --reuse     keep the source database loaded by an earlier run of this script
#
# Needs the test servers (scripts/test-servers.sh start) and a built nompack-cli
# (NOMPACK_CLI, default build/src/cli/nompack-cli). Databases: nompack_ibench_src,
# nompack_ibench_target and nompack_ibench_anchor on MariaDB,
# /tmp/nompack-fb/nompack_ibench_target.fdb on Firebird.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI=${NOMPACK_CLI:-$ROOT/build/src/cli/nompack-cli}
SCALE=60
REUSE=0
while [ $# -gt 0 ]; do
  case "$1" in
    --scale) SCALE=$2; shift 2 ;;
    --reuse) REUSE=1; shift ;;
    *) echo "usage: $0 [--scale N] [--reuse]" >&2; exit 2 ;;
  esac
done
[ -x "$CLI" ] || { echo "bench: no nompack-cli at $CLI (set NOMPACK_CLI)" >&2; exit 1; }

SRC=nompack_ibench_src
MY_TARGET=nompack_ibench_target
ANCHOR=nompack_ibench_anchor
FB_TARGET=/tmp/nompack-fb/nompack_ibench_target.fdb
# shellcheck source=bench/common.sh
. "$ROOT/bench/common.sh"
MARIADB_ARGS+=(--default-character-set=utf8mb4)

WORK=$(mktemp -d /tmp/nompack-ibench.XXXXXX)
trap 'restore_servers; rm -rf "$WORK"' EXIT

# Runs the command and prints its wall time in seconds; its output goes to $WORK/$1.log.
timed() {
  local label=$1 t0 t1
  shift
  t0=$(seconds)
  "$@" >"$WORK/$label.log" 2>&1 || { echo "bench: $label failed:" >&2; tail -n 20 "$WORK/$label.log" >&2; exit 1; }
  t1=$(seconds)
  calc %.3f "$t1 - $t0"
}
# The same for nompack-cli, through timed_run.py, which also takes its peak
# memory (into $WORK/$1.times).
timed_cli() {
  local label=$1
  shift
  python3 "$ROOT/bench/timed_run.py" "$WORK/$label.times" -- "$@" >"$WORK/$label.log" 2>&1 ||
    { echo "bench: $label failed:" >&2; tail -n 20 "$WORK/$label.log" >&2; exit 1; }
  awk '$1 == "total" { print $2 }' "$WORK/$label.times"
}

echo "bench: loading the sample (scale $SCALE) and the targets..." >&2
if [ $REUSE -eq 0 ] || ! mariadb_q -e "USE $SRC" 2>/dev/null; then
  "$ROOT/scripts/sample-db.sh" mysql $SRC --scale "$SCALE" >&2
fi
ROWS=$(mysql_rows $SRC)

echo "bench: generating the packet..." >&2
mkdir -p "$WORK/out"
"$CLI" generate --kind mysql --host 127.0.0.1 --database $SRC --out "$WORK/out" >"$WORK/generate.log" 2>&1 ||
  { echo "bench: generate failed" >&2; tail "$WORK/generate.log" >&2; exit 1; }
PACKET=$(tail -n 1 "$WORK/generate.log")
PACKET_SIZE=$(stat -c %s "$PACKET")
# Each installation unpacks its own copy, in a folder of its own, and nothing
# is deleted until the end: on a file system without a journal (this
# machine's), a file created shortly after thousands were deleted nearby costs
# about ten times as much, and the benchmark's own deletions would be timed.
packet_copy() {  # label
  mkdir -p "$WORK/$1"
  cp "$PACKET" "$WORK/$1/"
  echo "$WORK/$1/$(basename "$PACKET")"
}
MY_PACKET=$(packet_copy packet-mysql)
FB_PACKET=$(packet_copy packet-firebird)

# The anchor replays the same rows into an empty copy of the schema.
# shellcheck disable=SC2086
mysqldump "${MARIADB_ARGS[@]}" --no-data --skip-triggers $SRC $TABLES >"$WORK/schema.sql"
# shellcheck disable=SC2086
mysqldump "${MARIADB_ARGS[@]}" --no-create-info --skip-triggers --compact --extended-insert \
  $SRC $TABLES >"$WORK/bulk.sql"
fresh_anchor() {
  mariadb_q -e "DROP DATABASE IF EXISTS $ANCHOR; CREATE DATABASE $ANCHOR CHARACTER SET cp1251"
  mariadb_q $ANCHOR <"$WORK/schema.sql"
}

echo "bench: timing..." >&2
durable_servers
"$ROOT/scripts/sample-db.sh" mysql $MY_TARGET --role target >&2
MY_TIME=$(timed_cli install-mysql "$CLI" install --kind mysql --host 127.0.0.1 --database $MY_TARGET \
  --user root --packet "$MY_PACKET")
MY_ROWS=$(mysql_rows $MY_TARGET)
MY_REFUSED=$(grep -c ' table: ' "$WORK/install-mysql.log" || true)

"$ROOT/scripts/sample-db.sh" firebird $FB_TARGET --role target >&2
fb_forced_writes $FB_TARGET
FB_TIME=$(timed_cli install-firebird "$CLI" install --kind firebird --host 127.0.0.1 \
  --fb-path $FB_TARGET --packet "$FB_PACKET")
FB_ROWS=$(fb_rows $FB_TARGET)
FB_REFUSED=$(grep -c ' table: ' "$WORK/install-firebird.log" || true)

# The Firebird server's own insert work on the same rows, as a floor for any
# loader through it: every table copied into itself under new IDs by one
# INSERT ... SELECT, in one transaction that is then rolled back (no client,
# no parameters, no round trips; into tables that already hold the rows, so
# a little above the floor). The time is the server's sum of the inserts.
fb_insert_floor() {  # database
  local db=$1 t cols
  printf 'SET HEADING OFF;\nSELECT TRIM(RDB$RELATION_NAME) || %s || LIST(TRIM(RDB$FIELD_NAME), %s)
FROM RDB$RELATION_FIELDS GROUP BY RDB$RELATION_NAME;\n' "'|'" "','" >"$WORK/floor-cols.sql"
  isql-fb -q -b -user SYSDBA -password pondglass -i "$WORK/floor-cols.sql" "127.0.0.1:$db" \
    </dev/null | tr -d ' ' | grep '|' >"$WORK/floor-cols.txt"
  {
    echo 'SET STATS ON;'
    for t in $TABLES; do
      cols=$(awk -F'|' -v t="$t" '$1 == t { print $2 }' "$WORK/floor-cols.txt")
      case ",$cols," in *,ID,*) ;; *) echo "bench: $t has no ID column" >&2; return 1 ;; esac
      echo "INSERT INTO $t ($cols) SELECT $(echo ",$cols," | sed 's/,ID,/,ID + 1000000000,/; s/^,//; s/,$//') FROM $t;"
    done
    echo 'ROLLBACK;'
  } >"$WORK/floor.sql"
  isql-fb -q -b -user SYSDBA -password pondglass -i "$WORK/floor.sql" "127.0.0.1:$db" </dev/null \
    >"$WORK/floor.log" 2>&1 || { echo "bench: the insert floor failed:" >&2; tail "$WORK/floor.log" >&2; return 1; }
  # One "Elapsed time" per statement: the inserts, then the rollback.
  awk '/Elapsed time/ { n++; if (n <= '"$(echo "$TABLES" | wc -w)"') s += $3 } END { printf "%.2f", s }' \
    "$WORK/floor.log"
}
FB_FLOOR=$(fb_insert_floor $FB_TARGET)

fresh_anchor
BULK_TIME=$(timed anchor-bulk mariadb "${MARIADB_ARGS[@]}" $ANCHOR -e "source $WORK/bulk.sql")
BULK_ROWS=$(mysql_rows $ANCHOR)

[ "$MY_ROWS" -eq "$ROWS" ] && [ "$FB_ROWS" -eq "$ROWS" ] && [ "$BULK_ROWS" -eq "$ROWS" ] ||
  { echo "bench: row counts differ: source $ROWS, MySQL $MY_ROWS, Firebird $FB_ROWS," \
      "dump replay $BULK_ROWS" >&2; exit 1; }

rate() { calc %.0f "$ROWS / $1"; }
echo
echo "nompack packet installation benchmark ($(nproc) cores, $(date -u +%Y-%m-%dT%H:%MZ))"
echo "packet: $ROWS rows in 37 tables from the MySQL sample at scale $SCALE, $PACKET_SIZE bytes"
durability_line $FB_TARGET
echo
printf '%-52s %10s %12s %9s\n' "run" "seconds" "rows/s" "peak MiB"
printf '%-52s %10.2f %12s %9s\n' "nompack-cli install into MySQL (refused rows: $MY_REFUSED)" "$MY_TIME" \
  "$(rate "$MY_TIME")" "$(report_maxrss_mib "$WORK/install-mysql.times")"
printf '%-52s %10.2f %12s %9s\n' "nompack-cli install into Firebird (refused rows: $FB_REFUSED)" "$FB_TIME" \
  "$(rate "$FB_TIME")" "$(report_maxrss_mib "$WORK/install-firebird.times")"
printf '%-52s %10.2f %12s\n' "mariadb client replaying the extended-insert dump" "$BULK_TIME" "$(rate "$BULK_TIME")"
printf '%-52s %10.2f %12s\n' "Firebird's own INSERT ... SELECT of the same rows" "$FB_FLOOR" "$(rate "$FB_FLOOR")"
echo
echo "ratios (installation rows/s over the anchor's rows/s on the same rows; 1 is as fast):"
echo "  MySQL install    / dump replay: $(calc %.2f "$BULK_TIME / $MY_TIME")   (goal >= 0.5)"
echo "  Firebird install / dump replay: $(calc %.2f "$BULK_TIME / $FB_TIME")   (goal >= 0.5)"
echo
echo "The installation times are whole runs: unpacking, the packet check, the cleanup,"
echo "the inserts and the identity resets."
echo "The Firebird server's own INSERT ... SELECT (each table into itself, rolled back) is"
echo "the least any loader through that server needs for the inserts alone: against the"
echo "dump replay it is $(calc %.2f "$BULK_TIME / $FB_FLOOR")."
