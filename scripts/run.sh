#!/usr/bin/env bash
# Installs what is needed, builds the receiver in build/ and runs it. Without a display it runs
# headless (quenor --headless: the log also goes to standard output).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
if [ -x build/quenor ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running headless. Set the receiver up with 'build/quenor settings' while it"
    echo "is stopped (see the README); SIGTERM or Ctrl+C ends the receiver."
    exec build/quenor --headless
  fi
  exec build/quenor
fi
echo "The program itself is not built yet; running the protocol benchmarks instead."
exec build/quenor_bench
