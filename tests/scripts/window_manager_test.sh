#!/usr/bin/env bash
# The window tests that need a real window manager: runs the Window_Manager_Test cases of the
# window test binary ($1) on Xvfb with openbox. Fails when they were skipped or did not all pass.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
status=0
TZ=Europe/Vilnius bash "$here/scripts/with_window_manager.sh" \
  "$1" --gtest_filter='Window_Manager_Test.*' >"$out" 2>&1 || status=$?
cat "$out"
if [ "$status" -ne 0 ]; then exit "$status"; fi
if grep -q "SKIPPED" "$out" || ! grep -q "\[  PASSED  \] 7 tests" "$out"; then
  echo "FAIL: the window-manager cases did not all run and pass"
  exit 1
fi
