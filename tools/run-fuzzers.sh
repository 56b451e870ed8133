#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it from its committed seed corpus for a bounded
# time (FUZZ_SECONDS, default 30). Any crash, sanitizer report or failed check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-30}
tools/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTEMPYRA_FUZZ=ON -DTEMPYRA_BUILD_TESTS=OFF
cmake --build "$build" --parallel "$(nproc)" --target fuzz_core
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r tests/fuzz/corpus/. "$work/"
echo "fuzz_core: ${seconds}s from $(ls "$work" | wc -l) seeds"
"$build/tests/fuzz/fuzz_core" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/fuzz_core-" "$work" 2>&1 | tail -n 12
