#!/usr/bin/env bash
# Writes one PNG per window into DIR (main window with each tab, Event List, Object List with a
# lost object, Data Log, System Log, serial dialog, About) and default_places.png (the whole screen
# with the main window and the three lists where they first open), as they look on an X server with the
# openbox window manager and the fonts of a Debian desktop. Builds the window tests first.
# Usage: scripts/screenshots.sh DIR
set -euo pipefail
if [ "$#" -ne 1 ]; then echo "usage: $0 DIR" >&2; exit 2; fi
here="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$1"
dir="$(cd "$1" && pwd)"
cmake --build "$here/build" --target ui_tests >/dev/null
QUENOR_SCREENSHOT_DIR="$dir" TZ=Europe/Vilnius bash "$here/scripts/with_window_manager.sh" \
  "$here/build/ui_tests" --gtest_filter='Screenshots.*'
ls "$dir"/*.png
