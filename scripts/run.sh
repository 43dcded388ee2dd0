#!/usr/bin/env bash
# Installs what is needed, builds the receiver in build/ and runs it. Without a display it runs
# headless (QT_QPA_PLATFORM=offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "No display: running headless. Settings come from the saved dorvex.cfg in the data folder"
  echo "(see the README); SIGTERM or Ctrl+C ends the receiver."
fi
if [ -x build/quenor ]; then
  exec build/quenor
fi
echo "The program itself is not built yet; running the protocol benchmarks instead."
exec build/quenor_bench
