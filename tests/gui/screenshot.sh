#!/usr/bin/env bash
# Opens the window under a private Xvfb display and writes a PNG of it, for reviewing the layout
# by eye.   screenshot.sh OUTPUT.png PROGRAM [ARGS...]
# PROGRAM may be the demo wrapper, which starts the window as its child: the window is then
# closed by its own pid, and the wrapper ends by itself and takes its print server with it.
set -euo pipefail
output=$1
shift
work=$(mktemp -d)
cleanup() {
  local child
  for child in $(pgrep -P "${app:-0}" 2>/dev/null); do kill "$child" 2>/dev/null || true; done
  [ -n "${app:-}" ] && { kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true; }
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb :97 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=:97 XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$@" &
app=$!
# The window is up once the display holds a window with its title.
for _ in $(seq 100); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Send many files to printer"' && break
  sleep 0.1
done
sleep 0.5
import -window root -crop 761x606+0+0 "$output"
echo "wrote $output"
