#!/usr/bin/env bash
# First run: installs what the build needs (Debian 12), builds into build/ and starts
# tempyra-config with a simulated logger plugged in; the simulator's lines appear in this
# terminal as "[sim0] ...". Arguments go to the simulator, e.g.
#   tools/try-it.sh --latency 50 --device-id TL-DEMO
#
#   tools/try-it.sh --station
# starts the station window instead, on a shipment of four loggers with a sample profile and
# list (in build/try-station/): the loggers are plugged in one after another, the third gets its
# first write wrong, and a fifth from another batch is not on the list. The station keeps its
# record there too.
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
station=0
if [[ ${1:-} == --station ]]; then
    station=1
    shift
fi
cmake --build "$build" --target tempyra-config tempyra-station tempyra-logger-sim tempyra-vusb

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
if [[ $station -eq 1 ]]; then
    demo=$(readlink -f "$build")/try-station
    mkdir -p "$demo"
    cat >"$demo/cold-chain.json" <<'JSON'
{"scale": "C", "alarm": {"enabled": true, "lower": 2, "upper": 8},
 "startDelay": "00:30", "interval": "00:10", "zone": "UTC+05:30", "report": "pdf"}
JSON
    printf '# shipment 0412, cold chain\nTL-0001\nTL-0002\nTL-0003\nTL-0004\n' >"$demo/0412.txt"
    # Inside the bench: every logger unplugged, the station started, then one logger plugged in
    # every two seconds, as a person at the bench would.
    plug_in_turn='for n in 0 1 2 3 4; do "$TEMPYRA_VUSB_CTL" unplug $n; done
        "$@" & station=$!
        for n in 0 1 2 4 3; do sleep 2; "$TEMPYRA_VUSB_CTL" replug $n >/dev/null; done
        wait $station'
    bench=("$build/tools/vusb/tempyra-vusb" --sim-output=none --logger
        "--logger=--device-id TL-0002"
        "--logger=--device-id TL-0003 --corrupt-field interval --faulty-writes 1"
        "--logger=--device-id TL-0004" "--logger=--device-id TL-0099" --
        bash -c "$plug_in_turn" plug-in-turn "$build/stationwindow/tempyra-station"
        --profile "$demo/cold-chain.json" --expect "$demo/0412.txt" --operator "${USER:-$(id -un)}"
        --log "$demo/shipment-0412.jsonl")
    say "starting tempyra-station with shipment 0412 (TL-0001 to TL-0004) on the bench; the"
    say "loggers are plugged in one after another, TL-0099 is not on the list; files in $demo"
fi
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
