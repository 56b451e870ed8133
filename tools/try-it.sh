#!/usr/bin/env bash
# First run: installs what the build needs (Debian 12), builds into build/ and starts
# tempyra-config with a simulated logger plugged in; the simulator's lines appear in this
# terminal as "[sim0] ...". Arguments go to the simulator, e.g.
#   tools/try-it.sh --latency 50 --device-id TL-DEMO
# Environment: TEMPYRA_BUILD_DIR (default build), TEMPYRA_BUILD_TYPE (default Release).
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."
build=${TEMPYRA_BUILD_DIR:-build}

say() {
    echo "try-it: $*" >&2
}

tools/install-deps.sh

# The simulator and the bench come with the tests.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${TEMPYRA_BUILD_TYPE:-Release}" \
    -DTEMPYRA_BUILD_TESTS=ON
cmake --build "$build" --target tempyra-config tempyra-logger-sim tempyra-vusb

if [[ -z ${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-} ]]; then
    say "no graphical session (DISPLAY and WAYLAND_DISPLAY are unset); start it from a desktop"
    exit 1
fi

# The program is started unchanged: the bench makes the simulator look like a plugged-in logger
# to Qt's own port enumeration, so discovery, opening and unplug detection run exactly as with
# hardware. Root gets a private mount namespace, a normal user an unprivileged user namespace.
# Where user namespaces are disabled, the bench needs root; sudo keeps the session's display.
bench=("$build/tools/vusb/tempyra-vusb" "--logger=$*" -- "$build/tempyra-config")
say "starting tempyra-config with a simulated logger on /dev/ttyACM0"
set +e
"${bench[@]}"
rc=$?
set -e
if [[ $rc -eq 77 && $EUID -ne 0 ]] && command -v sudo >/dev/null; then
    say "retrying with sudo"
    exec sudo --preserve-env=DISPLAY,WAYLAND_DISPLAY,XAUTHORITY,XDG_RUNTIME_DIR,QT_QPA_PLATFORM \
        "${bench[@]}"
fi
exit "$rc"
