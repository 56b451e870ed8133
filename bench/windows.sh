#!/usr/bin/env bash
# The Windows build's figures, for bench/run.sh: the sizes of the ZIP and of the installer; the
# start-up to the first painted frame of the window and of a bare QMainWindow, both cross-built
# the same way and run alternately under Wine (startup.py); and, against the simulated logger of
# the Linux build, Connect and Read in the window (bench-link.exe connect-read) and a verified
# tempyra-cli.exe write, beside the Linux tempyra-cli doing the same write on the same logger.
# Runs in a fresh prefix with Wine's own fonts and a wineserver kept running between the
# programs, under the X server in $DISPLAY. The programs reach the logger on COM5 through the
# serial shim and the device node of ../shared/toolchains/wine-serial, as the Windows tier does.
#
#   bench/windows.sh WINDOWS_BUILD_DIR RUNS [LINUX_BUILD_DIR]
#
# Prints "key value" lines; exits 77 with the reason on standard error where it cannot run. The
# figures with a logger are left out ("serial 0", the reason on standard error) without a Linux
# build or the shim.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
runs=$2
linux=${3:-}
serial=${BENCH_WINE_SERIAL:-../shared/toolchains/wine-serial}

skip() {
    echo "$*" >&2
    exit 77
}
# The packages, if tools/build-windows.sh has made them (a pattern that matches nothing stays as
# it is).
zip=$(echo "$build"/tempyra-config-*-win64.zip)
installer=$(echo "$build"/tempyra-config-*-win64.exe)
[[ -f $zip && -f $installer ]] || skip "no Windows packages in $build (tools/build-windows.sh)"
command -v wine >/dev/null || skip "Wine is not installed (tools/install-deps.sh wine wine64 fonts-wine)"
echo "zip_bytes $(stat -c %s "$zip")"
echo "installer_bytes $(stat -c %s "$installer")"

# The three programs, built in the Windows tree with the benchmark programs switched on.
cmake -S . -B "$build" -DTEMPYRA_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench >/dev/null

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
trap 'kill $(jobs -p) 2>/dev/null || true; wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
tools/wine-prefix.sh "$WINEPREFIX"
# COM5 reserved for the simulated logger's line before the session of the measured programs,
# so that Wine's mount manager does not give the name to a serial port of this machine.
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d ../com5 /f >/dev/null 2>&1
wineserver --wait
# The packaged DLLs and plugins, with the programs beside them (bench-link.exe drives the window
# with QTest, which the packages do not hold).
mkdir -p "$WINEPREFIX/drive_c/bench"
zip=$(realpath "$zip")
(cd "$WINEPREFIX/drive_c/bench" && cmake -E tar xf "$zip")
bin=$(echo "$WINEPREFIX"/drive_c/bench/*/bin)
cp "$build"/bench/bench-*.exe "$(find "$build/qt" -name Qt5Test.dll -print -quit)" "$bin/"
for program in tool bare; do
    printf '#!/bin/sh\nexec wine %q\n' "$bin/bench-window-$program.exe" >"$work/$program"
    chmod +x "$work/$program"
done
wineserver --persistent >/dev/null 2>&1
python3 bench/startup.py "$runs" tool="$work/tool" bare="$work/bare"

# --- With a simulated logger on COM5 -----------------------------------------------------------

no_serial() {
    echo "serial 0"
    echo "$*" >&2
    exit 0
}
sim=$linux/tools/loggersim/tempyra-logger-sim
cli=$linux/cli/tempyra-cli
[[ -n $linux && -f $linux/CMakeCache.txt ]] || no_serial "no Linux build named for the simulated logger"
cmake --build "$linux" --target tempyra-logger-sim tempyra-cli >/dev/null
[[ -f $serial/wine-pty-serial-shim.c ]] || no_serial "no serial shim for Wine at $serial"
gcc -shared -fPIC -O2 -o "$work/shim.so" "$serial/wine-pty-serial-shim.c" -ldl
wine regedit /S "$serial/logger-com5.reg"
"$sim" --link "$WINEPREFIX/com5" >/dev/null 2>&1 &
for ((i = 0; i < 50; i++)); do [[ -e $WINEPREFIX/com5 ]] && break || sleep 0.1; done
[[ -e $WINEPREFIX/com5 ]] || no_serial "the simulated logger did not start"
# preloaded PROGRAM ARGS...: under Wine with the shim, output in $work/out and $work/err.
# shimmed PROGRAM ARGS...: the same for a program that opens the port, which fails (1) unless the
# shim took (it patches Wine when the program makes its first device request).
preloaded() { LD_PRELOAD=$work/shim.so WINE_PTY_SHIM_DEBUG=1 wine "$@" </dev/null >"$work/out" 2>"$work/err"; }
shimmed() {
    preloaded "$@" || return 1
    grep -q 'syscall table entry .* now calls' "$work/err" || {
        echo "the serial shim did not take under $(wine --version)" >>"$work/err"
        return 1
    }
}
# Connect and Read in the window, and the same with a plain QSerialPort, under Wine.
shimmed "$bin/bench-link.exe" connect-read "$runs" || no_serial "$(tail -n 1 "$work/err")"
sed 's/^/win_/; s/\r$//' "$work/out"

# median COMMAND...: the median milliseconds of $runs runs after 2 to warm up, each from the
# program's start to its end.
median() {
    local i start end
    : >"$work/times"
    for ((i = 0; i < runs + 2; i++)); do
        start=$(date +%s%N)
        "$@" || return 1
        end=$(date +%s%N)
        ((i < 2)) || echo "$((end - start))" >>"$work/times"
    done
    sort -n "$work/times" | awk '{ v[NR] = $1 } END {
        printf "%.1f", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1e6 }'
}
# A verified write of the same profile by either build, on the same logger.
echo '{"alarm": {"enabled": true, "lower": 2, "upper": 8}, "interval": "00:15"}' \
    >"$WINEPREFIX/drive_c/profile.json"
verified() { grep -q ' verified' "$work/out" || { cat "$work/out" "$work/err" >&2 && return 1; }; }
win_write() { shimmed "$bin/tempyra-cli.exe" write 'C:\profile.json' --port COM5 && verified; }
linux_write() {
    "$cli" write "$WINEPREFIX/drive_c/profile.json" --port "$WINEPREFIX/com5" \
        --log "$work/audit.jsonl" >"$work/out" 2>"$work/err" && verified
}
win_ms=$(median win_write) || no_serial "tempyra-cli.exe write did not verify"
linux_ms=$(median linux_write) || no_serial "tempyra-cli write did not verify"
# Wine's share of it: starting the same console program, which then opens no port.
version_ms=$(median preloaded "$bin/tempyra-cli.exe" --version) || no_serial "tempyra-cli.exe --version failed"
echo "win_write_ms $win_ms"
echo "linux_write_ms $linux_ms"
echo "win_version_ms $version_ms"
echo "serial 1"
