#!/usr/bin/env bash
# The program itself, as the operator starts it: Qt's own options on its command line are not
# taken, a start without a display says so and ends with 0, and a window closed through the
# window manager ends the program with 0. Run through with_wm.sh (a display with openbox).
#   program_test.sh DEMO PROGRAM      (DEMO: batchspool_demo, which gives PROGRAM a print server)
set -uo pipefail
demo=$1
program=$2
title="Send many files to printer"
bound=20
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# No display at all, and -platform asking for one that needs none: were the option taken, the
# window would open offscreen and wait there until the bound ends it.
err=$(mktemp)
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb timeout "$bound" "$program" -platform offscreen \
  2>"$err" >/dev/null
status=$?
[ "$status" -eq 0 ] || fail "without a display the exit code is $status, not 0"
grep -q "no display" "$err" || fail "without a display stderr does not say so: $(cat "$err")"
rm -f "$err"

# On the desktop, with options that would move the window offscreen, mirror it and restyle it:
# the window still opens on this display, and closing it through the window manager ends the
# program with 0.
command -v wmctrl >/dev/null || { echo "FAILED: wmctrl is not installed" >&2; exit 1; }
"$demo" "$program" -platform offscreen -reverse -stylesheet /nonexistent.qss >/dev/null &
pid=$!
shown=0
for _ in $(seq $((bound * 20))); do
  if wmctrl -l 2>/dev/null | grep -qF "$title"; then
    shown=1
    break
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
if [ "$shown" -eq 1 ]; then
  wmctrl -c "$title"
else
  fail "the window never showed on the display"
  kill "$pid" 2>/dev/null
fi
for _ in $(seq $((bound * 20))); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
if kill -0 "$pid" 2>/dev/null; then
  fail "the program did not end after its window was closed"
  kill -9 "$pid" 2>/dev/null
fi
wait "$pid"
status=$?
[ "$shown" -eq 0 ] || [ "$status" -eq 0 ] || fail "closed through the window manager, the exit code is $status"

[ "$failures" -eq 0 ] && echo "program ends with 0 with and without a display; Qt options ignored"
exit $((failures > 0))
