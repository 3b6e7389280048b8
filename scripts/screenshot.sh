#!/usr/bin/env bash
# Takes PNG screenshots of the main window and the chunk file explorer in a
# real X display (Xvfb), into docs/:
#   docs/main-window.png           the main window as it starts (MySQL kind)
#   docs/main-window-firebird.png  the same with the FireBird kind chosen
#   docs/explorer.png              the explorer over the main window, on a sample chunk
#   docs/explorer-date-check.png   the same after Ctrl+Shift+C, with its result box
#
#   scripts/screenshot.sh [CHUNK_FILE]
#
# Builds what it needs into build/ (BUILD_DIR to change it). No window manager
# runs, so the pictures show the windows without title bars.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
DISPLAY_NUMBER=${SCREENSHOT_DISPLAY:-99}
OUT=$ROOT/docs
CHUNK=${1:-}

cmake -S . -B "$BUILD_DIR" -DNOMPACK_WERROR=ON >/dev/null
cmake --build "$BUILD_DIR" --target nompack_screenshot -j"$(nproc)" >/dev/null
TOOL=$BUILD_DIR/tests/window/nompack_screenshot
mkdir -p "$OUT"

XVFB_PID=
cleanup() {
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
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
  if ! read -r -t 30 line <"$fifo"; then line=; fi
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

shoot main "$OUT/main-window.png"
shoot firebird "$OUT/main-window-firebird.png"
for mode in explorer datecheck; do
  file=$OUT/explorer.png
  [ "$mode" = datecheck ] && file=$OUT/explorer-date-check.png
  if [ -n "$CHUNK" ]; then shoot "$mode" "$file" "$CHUNK"; else shoot "$mode" "$file"; fi
done
