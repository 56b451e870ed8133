#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole
# suite; any sanitizer report fails the test that caused it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${SANITIZE_BUILD_DIR:-build-asan}
tools/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTEMPYRA_SANITIZE=ON
cmake --build "$build" --parallel "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# No OpenGL integration on X: under Xvfb it loads Mesa's software driver, which leaks a little
# and is unloaded at exit, where a suppression can no longer name it. The window draws no GL.
export QT_XCB_GL_INTEGRATION=none
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
