#!/usr/bin/env bash
# The Windows build's figures, for bench/run.sh: the sizes of the ZIP and of the installer, and
# the start-up to the first painted frame of the window and of a bare QMainWindow, both
# cross-built the same way and run alternately under Wine (startup.py), in a fresh prefix with
# Wine's own fonts and a wineserver kept running between the starts, under the X server in
# $DISPLAY.
#
#   bench/windows.sh WINDOWS_BUILD_DIR RUNS
#
# Prints "key value" lines; exits 77 with the reason on standard error where it cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
runs=$2

skip() {
    echo "$*" >&2
    exit 77
}
zip=$(ls "$build"/tempyra-config-*-win64.zip 2>/dev/null | head -n 1)
installer=$(ls "$build"/tempyra-config-*-win64.exe 2>/dev/null | head -n 1)
[[ -n $zip && -n $installer ]] || skip "no Windows packages in $build (tools/build-windows.sh)"
command -v wine >/dev/null || skip "Wine is not installed"
echo "zip_bytes $(stat -c %s "$zip")"
echo "installer_bytes $(stat -c %s "$installer")"

# The two programs, built in the Windows tree with the benchmark programs switched on.
cmake -S . -B "$build" -DTEMPYRA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench >/dev/null

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
tools/wine-prefix.sh "$WINEPREFIX"
# The packaged DLLs and plugins, with the two programs beside them.
mkdir -p "$WINEPREFIX/drive_c/bench"
zip=$(realpath "$zip")
(cd "$WINEPREFIX/drive_c/bench" && cmake -E tar xf "$zip")
bin=$(echo "$WINEPREFIX"/drive_c/bench/*/bin)
for program in tool bare; do
    cp "$build/bench/bench-window-$program.exe" "$bin/"
    printf '#!/bin/sh\nexec wine %q\n' "$bin/bench-window-$program.exe" >"$work/$program"
    chmod +x "$work/$program"
done
wineserver --persistent
python3 bench/startup.py "$runs" tool="$work/tool" bare="$work/bare"
