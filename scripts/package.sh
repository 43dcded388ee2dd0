#!/usr/bin/env bash
# Builds the Debian package quenor_<version>_<arch>.deb: a release build of the programs alone
# (no tests, no benchmarks) in build-package/, then cpack -G DEB, which works out the Qt runtime
# dependencies with dpkg-shlibdeps. Install it with: apt-get install ./build-package/quenor_*.deb
# Usage: scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-package}"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENOR_TESTS=OFF \
  -DQUENOR_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build"
rm -f "$build"/quenor_*.deb
(cd "$build" && cpack -G DEB)
ls "$build"/quenor_*.deb
