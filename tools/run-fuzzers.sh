#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each from its committed seed corpus for a
# bounded time (FUZZ_SECONDS, default 30). Any crash, sanitizer report or failed check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-30}
tools/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTEMPYRA_FUZZ=ON -DTEMPYRA_BUILD_TESTS=OFF
cmake --build "$build" --parallel "$(nproc)" --target fuzz_replies fuzz_command
for target in replies command; do
    work=$(mktemp -d)
    cp -r "tests/fuzz/corpus/$target/." "$work/"
    echo "fuzz_$target: ${seconds}s from $(ls "$work" | wc -l) seeds"
    "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$build/fuzz_$target-" "$work" 2>&1 | tail -n 12
    rm -rf "$work"
done
