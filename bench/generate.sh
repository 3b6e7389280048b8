#!/usr/bin/env bash
# Packet generation benchmark (not a test): rows per second of nompack-cli
# generate on MySQL and Firebird from a large sample database, beside anchors
# on the same rows in the same run (mysqldump --xml of the 37 tables of the
# MySQL database; isql-fb reading the 37 tables of the Firebird database), the
# peak memory of each run, and the time of one table at about 1x and 4x its
# size. The servers run with their default durability for the benchmark.
#
#   bench/generate.sh [--scale N] [--small-scale M] [--table T] [--repeat R] [--reuse]
#
#   --scale N        the large sample (default 50: about 200,000 rows in the 37 tables)
#   --small-scale M  the second sample whose table T has about a quarter of the rows
#                    (default 13: ARTICLE 12,120 rows against 49,120 at scale 50)
#   --table T        the table timed at both sizes (default ARTICLE)
#   --repeat R       run every measurement R times and keep the fastest (default 2;
#                    the machine is shared, the fastest run is the least disturbed)
#   --reuse          keep databases loaded by an earlier run of this script
#
# Needs the test servers (scripts/test-servers.sh start) and a built nompack-cli
# (NOMPACK_CLI, default build/src/cli/nompack-cli). Databases: nompack_bench and
# nompack_bench_small on MariaDB, /tmp/nompack-fb/nompack_bench*.fdb on Firebird.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CLI=${NOMPACK_CLI:-$ROOT/build/src/cli/nompack-cli}
SCALE=50
SMALL_SCALE=13
TABLE=ARTICLE
REUSE=0
REPEAT=2
while [ $# -gt 0 ]; do
  case "$1" in
    --scale) SCALE=$2; shift 2 ;;
    --small-scale) SMALL_SCALE=$2; shift 2 ;;
    --table) TABLE=$2; shift 2 ;;
    --repeat) REPEAT=$2; shift 2 ;;
    --reuse) REUSE=1; shift ;;
    *) echo "usage: $0 [--scale N] [--small-scale M] [--table T] [--repeat R] [--reuse]" >&2; exit 2 ;;
  esac
done
[ -x "$CLI" ] || { echo "bench: no nompack-cli at $CLI (set NOMPACK_CLI)" >&2; exit 1; }

MY_DB=nompack_bench
MY_SMALL=nompack_bench_small
FB_DB=/tmp/nompack-fb/nompack_bench.fdb
FB_SMALL=/tmp/nompack-fb/nompack_bench_small.fdb
# shellcheck source=bench/common.sh
. "$ROOT/bench/common.sh"

WORK=$(mktemp -d /tmp/nompack-bench.XXXXXX)
trap 'restore_servers; rm -rf "$WORK"' EXIT

fb_q() { isql-fb -q -b -user SYSDBA -password pondglass "127.0.0.1:$1" </dev/null; }
mysql_table_rows() { mariadb_q "$1" -e "SELECT COUNT(*) FROM $2;"; }
fb_table_rows() { fb_value "$1" "SELECT COUNT(*) FROM $2;"; }

load() {  # kind target scale
  if [ $REUSE -eq 1 ]; then
    case "$1" in
      mysql) mariadb_q -e "USE $2" 2>/dev/null && return 0 ;;
      firebird) [ -e "$2" ] && return 0 ;;
    esac
  fi
  "$ROOT/scripts/sample-db.sh" "$1" "$2" --scale "$3" >&2
}

# Runs nompack-cli generate REPEAT times; sets RUN_TOTAL and RUN_TABLE (seconds
# of the whole run and of $TABLE, each the fastest) and RUN_PACKET_SIZE.
generate() {  # label args...
  local label=$1 report=$WORK/$1.times out=$WORK/out-$1 i total table
  shift
  RUN_TOTAL='' RUN_TABLE='' RUN_MAXRSS=''
  for ((i = 0; i < REPEAT; i++)); do
    mkdir -p "$out"
    python3 "$ROOT/bench/timed_run.py" "$report" -- "$CLI" generate "$@" --out "$out" >"$WORK/stdout" ||
      { echo "bench: nompack-cli generate $* failed" >&2; exit 1; }
    total=$(awk '$1 == "total" { print $2 }' "$report")
    table=$(awk -v t="$TABLE" '$1 == "table" && $2 == t { print $3 }' "$report")
    RUN_PACKET_SIZE=$(stat -c %s "$(tail -n 1 "$WORK/stdout")")
    RUN_MAXRSS=$(report_maxrss_mib "$report")
    rm -rf "$out"
    if [ -z "$RUN_TOTAL" ] || [ "$(calc %d "$total < $RUN_TOTAL")" = 1 ]; then RUN_TOTAL=$total; fi
    if [ -z "$RUN_TABLE" ] || [ "$(calc %d "$table < $RUN_TABLE")" = 1 ]; then RUN_TABLE=$table; fi
  done
  echo "bench: $label: ${RUN_TOTAL} s, $TABLE ${RUN_TABLE} s" >&2
}

echo "bench: loading the samples (scale $SCALE and $SMALL_SCALE)..." >&2
load mysql $MY_DB "$SCALE"
load mysql $MY_SMALL "$SMALL_SCALE"
load firebird $FB_DB "$SCALE"
load firebird $FB_SMALL "$SMALL_SCALE"
fb_forced_writes $FB_DB
fb_forced_writes $FB_SMALL

MY_ROWS=$(mysql_rows $MY_DB)
FB_ROWS=$(fb_rows $FB_DB)

echo "bench: timing..." >&2
durable_servers
# The anchor: the same 37 tables of the same database as XML, fastest of REPEAT.
# shellcheck disable=SC2086
DUMP_TIME=$(fastest "$REPEAT" "$WORK/dump.xml" mysqldump "${MARIADB_ARGS[@]}" --xml $MY_DB $TABLES)
DUMP_SIZE=$(stat -c %s "$WORK/dump.xml")
rm -f "$WORK/dump.xml"

# The Firebird anchor: isql-fb reading every row of the same 37 tables.
for t in $TABLES; do echo "SELECT * FROM $t;"; done >"$WORK/fb_read.sql"
FB_READ_TIME=$(fastest "$REPEAT" "$WORK/fb_read.txt" isql-fb -q -b -user SYSDBA -password pondglass \
  -ch WIN1251 -i "$WORK/fb_read.sql" "127.0.0.1:$FB_DB" </dev/null)
FB_READ_SIZE=$(stat -c %s "$WORK/fb_read.txt")
rm -f "$WORK/fb_read.txt"

generate my --kind mysql --host 127.0.0.1 --database $MY_DB
MY_TIME=$RUN_TOTAL MY_TABLE_BIG=$RUN_TABLE MY_PACKET=$RUN_PACKET_SIZE MY_RSS=$RUN_MAXRSS
generate fb --kind firebird --host 127.0.0.1 --fb-path $FB_DB
FB_TIME=$RUN_TOTAL FB_TABLE_BIG=$RUN_TABLE FB_PACKET=$RUN_PACKET_SIZE FB_RSS=$RUN_MAXRSS
generate mysmall --kind mysql --host 127.0.0.1 --database $MY_SMALL
MY_TABLE_SMALL=$RUN_TABLE
generate fbsmall --kind firebird --host 127.0.0.1 --fb-path $FB_SMALL
FB_TABLE_SMALL=$RUN_TABLE

T_BIG=$(mysql_table_rows $MY_DB "$TABLE")
T_SMALL=$(mysql_table_rows $MY_SMALL "$TABLE")
T_BIG_FB=$(fb_table_rows $FB_DB "$TABLE")
T_SMALL_FB=$(fb_table_rows $FB_SMALL "$TABLE")

echo
echo "nompack packet generation benchmark ($(nproc) cores, $(date -u +%Y-%m-%dT%H:%MZ))"
durability_line $FB_DB
echo
printf '%-52s %10s %12s %14s %9s\n' "run" "seconds" "rows/s" "output bytes" "peak MiB"
printf '%-52s %10.2f %12.0f %14s\n' "mysqldump --xml, MySQL $MY_DB ($MY_ROWS rows)" \
  "$DUMP_TIME" "$(calc %.0f "$MY_ROWS / $DUMP_TIME")" "$DUMP_SIZE"
printf '%-52s %10.2f %12.0f %14s %9s\n' "nompack-cli generate, MySQL ($MY_ROWS rows)" \
  "$MY_TIME" "$(calc %.0f "$MY_ROWS / $MY_TIME")" "$MY_PACKET" "$MY_RSS"
printf '%-52s %10.2f %12.0f %14s\n' "isql-fb reading the tables, Firebird ($FB_ROWS rows)" \
  "$FB_READ_TIME" "$(calc %.0f "$FB_ROWS / $FB_READ_TIME")" "$FB_READ_SIZE"
printf '%-52s %10.2f %12.0f %14s %9s\n' "nompack-cli generate, Firebird ($FB_ROWS rows)" \
  "$FB_TIME" "$(calc %.0f "$FB_ROWS / $FB_TIME")" "$FB_PACKET" "$FB_RSS"
echo
echo "ratios (nompack rows/s over the anchor's rows/s on the same rows; 1 is as fast):"
echo "  MySQL generation    / mysqldump --xml: $(calc %.3f "$DUMP_TIME / $MY_TIME")   (goal >= 0.5)"
echo "  Firebird generation / isql-fb read:    $(calc %.3f "$FB_READ_TIME / $FB_TIME")   (goal >= 1)"
echo
echo "one table, $TABLE, at two sizes (time between its progress line and the next):"
growth() {  # label small big tsmall tbig
  local rows_ratio time_ratio
  rows_ratio=$(calc %.2f "$3 / $2")
  time_ratio=$(calc %.2f "$5 / $4")
  printf '  %-9s %7d rows %7.2f s   %7d rows %7.2f s   rows x%s, time x%s, exponent %s\n' \
    "$1" "$2" "$4" "$3" "$5" "$rows_ratio" "$time_ratio" \
    "$(calc %.2f "log($5 / $4) / log($3 / $2)")"
  # t = a*n + b*n*n through both points: the per-page work and the skipping.
  LC_ALL=C awk -v n1="$2" -v n2="$3" -v t1="$4" -v t2="$5" 'BEGIN {
    b = (t2 / n2 - t1 / n1) / (n2 - n1); a = t1 / n1 - b * n1
    if (b <= 0) { print "            no quadratic part measurable at these sizes"; exit }
    if (a <= 0) { print "            fit t = a*n + b*n^2: no linear part measurable, the skipping is all of it"; exit }
    printf "            fit t = a*n + b*n^2: the quadratic part is %.0f%% of the time at %d rows,\n", 100 * b * n2 * n2 / t2, n2
    printf "            and would be %.0f%% at %d rows (%.0f s for the table)\n", 100 * b * 16 * n2 * n2 / (a * 4 * n2 + b * 16 * n2 * n2), 4 * n2, a * 4 * n2 + b * 16 * n2 * n2
  }'
}
growth MySQL "$T_SMALL" "$T_BIG" "$MY_TABLE_SMALL" "$MY_TABLE_BIG"
growth Firebird "$T_SMALL_FB" "$T_BIG_FB" "$FB_TABLE_SMALL" "$FB_TABLE_BIG"
echo
echo "The growth exponent is log(time ratio) / log(rows ratio): 1 for work linear in the"
echo "rows (goal: 4x the rows in at most 4.4x the time)."
