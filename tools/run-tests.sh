#!/usr/bin/env bash
# Builds the tool and runs the whole test suite: unit, widget (offscreen) and end-to-end tests
# (the simulated logger over a pseudo-terminal; the program on the virtual USB bench under Xvfb,
# which needs root and reports itself skipped elsewhere).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
tools/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" ${CMAKE_ARGS:-}
cmake --build "$build" --parallel "$(nproc)"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
ctest --test-dir "$build" --output-on-failure --timeout 300 "$@"
