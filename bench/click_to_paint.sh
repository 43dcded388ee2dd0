#!/usr/bin/env bash
# Click-to-paint under a log flood (bench/click_to_paint/click_to_paint.cpp): builds the program
# in TREE (default: this tree) and runs it on Xvfb 1280 x 1024 with openbox. An older tree gets
# the program and its build line copied in (uncommitted), so the same measurement runs on it.
# Usage: bench/click_to_paint.sh [TREE [PREFILL RATE SECONDS]]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tree="$(cd "${1:-$here}" && pwd)"
shift || true
if [ "$tree" != "$here" ]; then
  mkdir -p "$tree/bench/click_to_paint"
  cp "$here/bench/click_to_paint/click_to_paint.cpp" "$tree/bench/click_to_paint/"
  if ! grep -q "click-to-paint" "$tree/CMakeLists.txt"; then
    printf '%s\n' 'add_executable(click-to-paint bench/click_to_paint/click_to_paint.cpp)' \
      'target_link_libraries(click-to-paint PRIVATE quenor_ui)' >>"$tree/CMakeLists.txt"
  fi
fi
if [ ! -f "$tree/build/build.ninja" ]; then
  (cd "$tree" && cmake --preset dev -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null)
fi
cmake --build "$tree/build" --target click-to-paint -- -j2 >/dev/null
bash "$here/scripts/with_window_manager.sh" "$tree/build/click-to-paint" "$@"
