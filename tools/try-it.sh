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

needed=(cmake ninja-build g++ qtbase5-dev libqt5serialport5-dev util-linux mount)
missing=()
if command -v dpkg-query >/dev/null; then
    for pkg in "${needed[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
else
    say "no dpkg here; make sure these are installed: ${needed[*]}"
fi
if [[ ${#missing[@]} -gt 0 ]]; then
    say "installing ${missing[*]}"
    as_root=()
    if [[ $EUID -ne 0 ]]; then
        command -v sudo >/dev/null || {
            say "please install as root: apt-get install ${missing[*]}"
            exit 1
        }
        as_root=(sudo)
    fi
    "${as_root[@]}" apt-get update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y --no-install-recommends "${missing[@]}"
fi

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
