#!/usr/bin/env bash
# Runs one command on a desktop of its own: a private Xvfb display with openbox managing it, as
# an operator's window would be framed and placed. The command runs with DISPLAY set,
# QT_QPA_PLATFORM=xcb, a runtime folder of its own and no session bus; its exit status is this
# script's. The display and the window manager are torn down however the command ends, also
# when this script is interrupted or terminated.
#
#   tests/gui/with_wm.sh [--no-wm] PROGRAM [ARGS...]
#
# --no-wm leaves the display bare (no window manager at all: nothing frames, places or focuses
# windows), for a test of that case.
#
# A test registers its executable through it in CMake:
#
#   add_test(NAME my_wm_test
#            COMMAND ${CMAKE_SOURCE_DIR}/tests/gui/with_wm.sh $<TARGET_FILE:my_wm_test> [ARGS...])
#   set_tests_properties(my_wm_test PROPERTIES LABELS wm)
#
# or, inside tests/gui/CMakeLists.txt, through its function:
#
#   batchspool_add_wm_test(NAME my_wm_test TARGET my_wm_test [NO_WM] [ARGS ...])
#
# A gtest executable built on tests/gui/gui_main.cpp works unchanged: its application object
# opens the display it is given. Each run picks a free display number itself (Xvfb -displayfd),
# so such tests may run in parallel. The window is then a real X11 window: wait for what the
# window manager does (QTest::qWaitFor, qWaitForWindowExposed), never for a fixed time.
#
# Fails (status 125) when Xvfb or openbox cannot be started or the window manager has not taken
# the screen within WM_WAIT_SECONDS (default 20): a window-manager test is never skipped.
set -uo pipefail

if [ $# -eq 0 ]; then
  sed -n '2,29p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi

with_wm=1
if [ "$1" = --no-wm ]; then
  with_wm=0
  shift
fi
wait_seconds=${WM_WAIT_SECONDS:-20}
work=$(mktemp -d "${TMPDIR:-/tmp}/batchspool-wm-XXXXXX")
xvfb=
wm=
child=

stop() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  # Bounded: a process that ignores SIGTERM gets SIGKILL after 5 s.
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  stop "$child"
  stop "$wm"
  stop "$xvfb"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

fail() {
  echo "with_wm.sh: $*" >&2
  for log in "$work"/*.log; do
    [ -s "$log" ] && { echo "--- $(basename "$log")" >&2; cat "$log" >&2; }
  done
  exit 125
}

tools=(Xvfb)
[ "$with_wm" -eq 0 ] || tools+=(openbox xprop)
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (./dev installs it)"
done

# Polls `condition` every 50 ms until it holds or the bound passes.
wait_for() {
  local deadline=$((SECONDS + wait_seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
  3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
display_written() { grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null || ! kill -0 "$xvfb" 2>/dev/null; }
wait_for display_written
grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

start_wm() {
  # openbox keeps its settings and caches in the run's own folder, not the user's.
  mkdir -p "$work/config" "$work/cache" "$work/data"
  XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data \
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
  wm=$!

  # The window manager has taken the screen once the root names a check window whose own
  # _NET_SUPPORTING_WM_CHECK points at itself (the EWMH handshake), with the WM's name on it.
  wm_ready() {
    kill -0 "$wm" 2>/dev/null || return 0
    local check
    check=$(xprop -root -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
    [ -n "$check" ] || return 1
    xprop -id "$check" -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "# $check\$" &&
      xprop -id "$check" -notype _NET_WM_NAME 2>/dev/null | grep -q '='
  }
  wait_for wm_ready || fail "openbox did not take the screen within ${wait_seconds} s"
  kill -0 "$wm" 2>/dev/null || fail "openbox ended before the command ran"
}
[ "$with_wm" -eq 0 ] || start_wm

# A runtime folder of the run's own, as a desktop session gives one.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime
# The desktop has no session bus: without an address libdbus would try to autolaunch one for the
# display (and leak in the attempt), and with the caller's it would reach the caller's desktop.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-session-bus
export QT_QPA_PLATFORM=xcb
"$@" &
child=$!
wait "$child"
status=$?
child=
exit "$status"
