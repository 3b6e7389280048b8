#!/usr/bin/env bash
# Takes PNG screenshots of the main window and the chunk file explorer in a
# real X display (Xvfb), into docs/:
#   docs/main-window.png           the main window as it starts (MySQL kind)
#   docs/main-window-firebird.png  the same with the FireBird kind chosen
#   docs/explorer.png              the explorer over the main window, on a sample chunk
#   docs/explorer-date-check.png   the same after Ctrl+Shift+C, with its result box
#   docs/after-generation.png      the window after "Генерирай" on the demo database
#   docs/after-installation.png    the window after that packet went into a Firebird
#                                  target that refuses some of its rows
#
#   scripts/screenshot.sh [CHUNK_FILE]
#
# Builds what it needs into build/ (BUILD_DIR to change it). No window manager
# runs, so the pictures show the windows without title bars. The two run
# pictures need the test servers (they are started, and stopped again if this
# script started them); the fields show the demo folder scripts/run.sh makes
# (NOMPACK_DEMO_FOLDER, default /tmp/nompack-demo/).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
DISPLAY_NUMBER=${SCREENSHOT_DISPLAY:-99}
OUT=$ROOT/docs
CHUNK=${1:-}
DEMO=${NOMPACK_DEMO_FOLDER:-/tmp/nompack-demo/}
DEMO=${DEMO%/}/
DEMO_TARGET=/tmp/nompack-fb/nompack-demo-target.fdb

cmake -S . -B "$BUILD_DIR" -DNOMPACK_WERROR=ON >/dev/null
cmake --build "$BUILD_DIR" --target nompack_screenshot -j"$(nproc)" >/dev/null
TOOL=$BUILD_DIR/tests/window/nompack_screenshot
mkdir -p "$OUT"

XVFB_PID=
SERVERS_STARTED=0
cleanup() {
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
  if [ "$SERVERS_STARTED" = 1 ]; then bash scripts/test-servers.sh stop >/dev/null || true; fi
}
trap cleanup EXIT
Xvfb ":$DISPLAY_NUMBER" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
export DISPLAY=":$DISPLAY_NUMBER"
export QT_QPA_PLATFORM=xcb
for _ in $(seq 50); do
  xwininfo -root >/dev/null 2>&1 && break
  sleep 0.1
done

# shoot MODE FILE [ARGS]: runs the tool, waits for the geometry line of the
# window it was asked for, grabs the screen and cuts that window out.
shoot() {
  local mode=$1 file=$2
  shift 2
  local fifo tool_pid line geometry
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$TOOL" "$mode" "$@" >"$fifo" &
  tool_pid=$!
  line=
  if ! read -r -t 120 line <"$fifo"; then line=; fi
  rm -f "$fifo"
  if [ -z "$line" ]; then
    kill "$tool_pid" 2>/dev/null || true
    echo "screenshot: the window of \"$mode\" did not appear" >&2
    return 1
  fi
  read -r _ x y w h <<<"$line"
  geometry="${w}x${h}+${x}+${y}"
  import -window root -crop "$geometry" +repage "$file"
  kill "$tool_pid" 2>/dev/null || true
  wait "$tool_pid" 2>/dev/null || true
  echo "screenshot: $file ($geometry)"
}

shoot main "$OUT/main-window.png" "$DEMO"
shoot firebird "$OUT/main-window-firebird.png" "$DEMO"
for mode in explorer datecheck; do
  file=$OUT/explorer.png
  [ "$mode" = datecheck ] && file=$OUT/explorer-date-check.png
  if [ -n "$CHUNK" ]; then shoot "$mode" "$file" "$CHUNK"; else shoot "$mode" "$file"; fi
done

# The runs: the demo database generated into the demo folder, and the packet
# installed into a Firebird target of another pharmacy whose DOCTOR table
# refuses identifiers ending in 7 (a check constraint), so that the log shows
# refused rows and the summary counts them.
if ! bash scripts/test-servers.sh status >/dev/null 2>&1; then
  bash scripts/test-servers.sh start >/dev/null
  SERVERS_STARTED=1
fi
mkdir -p "$DEMO"
rm -f "$DEMO"*.mpd "$DEMO"*.mpd.log
bash scripts/sample-db.sh mysql quillmarsh1 >/dev/null
bash scripts/sample-db.sh firebird "$DEMO_TARGET" --role target >/dev/null
isql-fb -q -user SYSDBA -password pondglass "127.0.0.1/3050:$DEMO_TARGET" <<'SQL' >/dev/null
ALTER TABLE DOCTOR ADD CONSTRAINT DOCTOR_UIN_NOT_7 CHECK (UIN NOT LIKE '%7');
COMMIT;
SQL
shoot generated "$OUT/after-generation.png" "$DEMO"
PACKET=$(ls -t "$DEMO"*.mpd 2>/dev/null | head -n 1)
[ -n "$PACKET" ] || { echo "screenshot: the generation made no packet in $DEMO" >&2; exit 1; }
shoot installed "$OUT/after-installation.png" "$DEMO" "$PACKET" "$DEMO_TARGET"
