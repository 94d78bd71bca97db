#!/usr/bin/env bash
# Opens the window under a private Xvfb display and writes a PNG of it, for reviewing the layout
# by eye.   screenshot.sh PROGRAM OUTPUT.png
set -euo pipefail
program=$1
output=$2
work=$(mktemp -d)
trap 'kill "${app:-}" "${xvfb:-}" 2>/dev/null || true; rm -rf "$work"' EXIT

Xvfb :97 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=:97 XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=xcb
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$program" &
app=$!
# The window is up once the display holds a window with its title.
for _ in $(seq 100); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Send many files to printer"' && break
  sleep 0.1
done
sleep 0.5
import -window root -crop 761x606+0+0 "$output"
echo "wrote $output"
