#!/usr/bin/env bash
# Runs a command on a fresh X server (Xvfb, 1280 x 1024) under the openbox window manager, with
# DISPLAY and QT_QPA_PLATFORM=xcb set, and takes both down afterwards. The exit code is the
# command's. Used by the window-manager test and by scripts/screenshots.sh.
set -euo pipefail
work="$(mktemp -d)"
xvfb_pid=""
wm_pid=""
cleanup() {
  if [ -n "${tray_pid:-}" ]; then kill "$tray_pid" 2>/dev/null || true; fi
  if [ -n "$wm_pid" ]; then kill "$wm_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb writes its display number to fd 3 once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.05
done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
# openbox announces itself on the root window once it manages windows.
for _ in $(seq 200); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  kill -0 "$wm_pid" 2>/dev/null || { cat "$work/openbox.log" >&2; exit 1; }
  sleep 0.05
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" || { echo "openbox did not start" >&2; exit 1; }

# A notification area (trayer, when installed) at the screen's bottom edge, for the icon and its
# balloon.
tray_pid=""
if command -v trayer >/dev/null 2>&1; then
  trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true \
    >"$work/trayer.log" 2>&1 &
  tray_pid=$!
  for _ in $(seq 200); do
    xprop -root _NET_SUPPORTED >/dev/null 2>&1 &&
      xprop -root 2>/dev/null | grep -q "_NET_SYSTEM_TRAY" && break
    xwininfo -root -tree 2>/dev/null | grep -qi "panel\|trayer" && break
    sleep 0.05
  done
fi

export QT_QPA_PLATFORM=xcb
"$@"
