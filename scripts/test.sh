#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test: the format and layer checks, the clang
# thread-safety build of the logic libraries, the parser fuzz
# target (60 s), the protocol and core tests under AddressSanitizer + UndefinedBehaviorSanitizer,
# the core tests (all the threads) under ThreadSanitizer, and finally the whole suite (window
# and whole-program tests included) in build/; last, as root only, the Debian package packed from
# build/, installed, used and purged.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export CTEST_OUTPUT_ON_FAILURE=1

echo "== format check"
find src tests tools bench fuzz -name '*.cpp' -o -name '*.h' | xargs -r clang-format --dry-run -Werror

echo "== layer check"
bash scripts/check_layers.sh

echo "== lock rules: clang -Wthread-safety on the logic libraries"
cmake --preset tsa >/dev/null
cmake --build --preset tsa --target quenor_core

echo "== fuzz: DC-09 parser, 60 s"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build-fuzz/corpus
./build-fuzz/parse_fuzz -max_total_time=60 -print_final_stats=1 build-fuzz/corpus fuzz/seeds 2>&1 | tail -n 12

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan --target protocol_tests core_tests
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  ctest --test-dir build-asan -L 'protocol_tests|core_tests' -j2 --timeout 300

echo "== ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target core_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan -L core_tests -j2 --timeout 600

echo "== all tests"
cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --test-dir build -j2 --timeout 600

echo "== package: cpack from build/, installed, used and purged (root only; QUENOR_SKIP_PACKAGE_TEST=1 skips)"
started=$SECONDS
bash tests/scripts/package_install_test.sh build
echo "package step: $((SECONDS - started)) s"
