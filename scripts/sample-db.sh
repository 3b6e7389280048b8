#!/usr/bin/env bash
# (Re)creates the deterministic sample pharmacy database from scratch.
#
#   scripts/sample-db.sh KIND TARGET [--scale N] [--role source|target]
#
#   KIND mysql     TARGET = database name on the test server (127.0.0.1:3306, root)
#   KIND firebird  TARGET = absolute .fdb path, created through the test server as
#                  127.0.0.1:TARGET with SYSDBA/pondglass (e.g. /tmp/nompack-fb/sample.fdb)
#   KIND sqlite    TARGET = file path (for the ODBC layer's tests)
#
# Whatever exists under TARGET is dropped first. After loading, the row count of
# every table is compared with what the generator wrote; a difference fails.
# The servers come from scripts/test-servers.sh start. What the sample holds:
# scripts/sampledb/README.md.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
GEN="$HERE/sampledb/generate.py"
FB_USER=SYSDBA
FB_PASSWORD=pondglass

usage() {
  echo "usage: $0 mysql|firebird|sqlite TARGET [--scale N] [--role source|target]" >&2
  exit 2
}
die() {
  echo "sample-db: ERROR: $*" >&2
  exit 1
}
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

[ $# -ge 2 ] || usage
KIND=$1
TARGET=$2
shift 2
SCALE=1
ROLE=source
while [ $# -gt 0 ]; do
  case "$1" in
    --scale) SCALE=${2:-}; shift 2 || usage ;;
    --scale=*) SCALE=${1#--scale=}; shift ;;
    --role) ROLE=${2:-}; shift 2 || usage ;;
    --role=*) ROLE=${1#--role=}; shift ;;
    *) usage ;;
  esac
done
[[ "$SCALE" =~ ^[1-9][0-9]*$ ]] || die "--scale wants a positive whole number, not '$SCALE'"
[ "$ROLE" = source ] || [ "$ROLE" = target ] || die "--role is source or target, not '$ROLE'"
[ -n "$TARGET" ] || usage

WORK=$(mktemp -d /tmp/nompack-sample.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
chmod 0755 "$WORK"
SQL="$WORK/sample.sql"
EXPECTED="$WORK/expected.txt"
ACTUAL="$WORK/actual.txt"

mariadb_tcp() {
  mariadb --no-defaults --protocol=TCP -h 127.0.0.1 -P 3306 -u root --password= \
    --default-character-set=utf8mb4 "$@"
}

fb_isql() {
  isql-fb -q -b -ch UTF8 -user "$FB_USER" -password "$FB_PASSWORD" "$@" </dev/null
}

# One statement that counts every table: "TABLE ROWS" lines.
count_query() {
  local first=1 t
  while read -r t _; do
    [ $first -eq 1 ] || printf ' UNION ALL\n'
    printf "SELECT '%s', COUNT(*) FROM %s" "$t" "$t"
    first=0
  done <"$EXPECTED"
  printf ';\n'
}

seconds() { date +%s.%N; }
elapsed() { LC_ALL=C awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

start=$(seconds)
python3 "$GEN" sql "$KIND" "$TARGET" --role "$ROLE" --scale "$SCALE" --out "$SQL" --counts-out "$EXPECTED"
generated=$(seconds)

case "$KIND" in
  mysql)
    [[ "$TARGET" =~ ^[A-Za-z0-9_]+$ ]] || die "MySQL database name '$TARGET': letters, digits and _ only"
    mariadb_tcp -e "SELECT 1" >/dev/null 2>&1 ||
      die "no MariaDB on 127.0.0.1:3306 with root and an empty password (scripts/test-servers.sh start)"
    mariadb_tcp <"$SQL" || die "loading $TARGET failed"
    count_query | mariadb_tcp -N -B "$TARGET" | tr '\t' ' ' >"$ACTUAL"
    ;;
  firebird)
    case "$TARGET" in /*) ;; *) die "Firebird TARGET must be an absolute path" ;; esac
    dir=$(dirname "$TARGET")
    if [ ! -d "$dir" ]; then
      # The server (user firebird) creates the file, so it must own the folder.
      as_root mkdir -p "$dir"
      as_root chown firebird:firebird "$dir"
    fi
    if [ -e "$TARGET" ]; then
      # Through the server, so that an attached client makes this fail instead of
      # leaving it on an unlinked file.
      printf "CONNECT '127.0.0.1:%s';\nDROP DATABASE;\n" "$TARGET" >"$WORK/drop.sql"
      if ! out=$(fb_isql -i "$WORK/drop.sql" 2>&1); then
        case "$out" in
          *"in use"* | *"lock"*) die "cannot drop $TARGET, it is in use: $out" ;;
        esac
        echo "sample-db: $TARGET is no database the server can open, removing the file ($out)" >&2
        as_root rm -f "$TARGET"
      fi
    fi
    isql-fb -q -b -ch UTF8 -i "$SQL" </dev/null || die "loading $TARGET failed (is the server up? scripts/test-servers.sh start)"
    { echo "SET HEADING OFF;"; count_query; } >"$WORK/count.sql"
    fb_isql -i "$WORK/count.sql" "127.0.0.1:$TARGET" | awk 'NF == 2 { print $1, $2 }' >"$ACTUAL"
    ;;
  sqlite)
    command -v sqlite3 >/dev/null || die "sqlite3 is missing (scripts/setup.sh installs it)"
    rm -f "$TARGET" "$TARGET-journal" "$TARGET-wal" "$TARGET-shm"
    sqlite3 -bail "$TARGET" <"$SQL" >/dev/null || die "loading $TARGET failed"
    count_query | sqlite3 -separator ' ' "$TARGET" >"$ACTUAL"
    ;;
  *) usage ;;
esac
loaded=$(seconds)

if ! diff -u "$EXPECTED" "$ACTUAL" >"$WORK/diff.txt"; then
  cat "$WORK/diff.txt" >&2
  die "row counts of $TARGET differ from the generated data"
fi
total=$(awk '{ s += $2 } END { print s }' "$EXPECTED")
tables=$(wc -l <"$EXPECTED")
printf 'sample-db: %s %s (%s, scale %s): %s rows in %s tables; generated in %s s, loaded and counted in %s s\n' \
  "$KIND" "$TARGET" "$ROLE" "$SCALE" "$total" "$tables" \
  "$(elapsed "$start" "$generated")" "$(elapsed "$generated" "$loaded")"
