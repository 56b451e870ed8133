#!/usr/bin/env bash
# The station window as a screen reader sees it: the unmodified tempyra-station under Xvfb with a
# session D-Bus and the accessibility bus, read through AT-SPI (pyatspi) while it provisions. Run
#   xvfb-run -a tempyra-vusb --logger --logger='--device-id TL-0099' -- \
#       dbus-run-session station_atspi.sh TEMPYRA_STATION
# Also: a second tempyra-station on the computer is refused, naming the first; a start from the
# command line with a bad profile ends with status 2.
set -euo pipefail
program=$1
: "${TEMPYRA_VUSB_DIR:?run through tempyra-vusb}" "${DISPLAY:?run under Xvfb}"
launcher=/usr/libexec/at-spi-bus-launcher
[[ -x $launcher ]] && /usr/bin/python3 -c 'import pyatspi' 2>/dev/null \
    || { echo "station_atspi: no at-spi2-core or python3-pyatspi" >&2; exit 77; }
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "station_atspi: FAIL: $*" >&2; exit 1; }
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 HOME=$work
echo '{"alarm": {"enabled": true, "lower": 2, "upper": 8}, "interval": "00:10"}' >"$work/profile.json"
printf 'TL-0001\nTL-0002\n' >"$work/list.txt"
# The names a screen reader reads: of every object of tempyra-station, one a line.
cat >"$work/names.py" <<'PY'
import pyatspi
def walk(acc):
    yield acc.name
    for i in range(acc.childCount):
        yield from walk(acc.getChildAtIndex(i))
for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.name == "tempyra-station":
        print("\n".join(name for name in walk(app) if name))
PY
read_names() { /usr/bin/python3 "$work/names.py" >"$work/names" 2>/dev/null; }
says() { grep -qE -- "$1" "$work/names"; }
heard() {
    read_names
    says '^1 of 2 verified$' && says '^TL-0001 verified: set at [0-9]{2}:[0-9]{2}:[0-9]{2}$' \
        && says '^TL-0099 refused: not on the list: put it aside$' && says '^TL-0002 waiting$'
}
registered() { /usr/bin/python3 -c 'import pyatspi, sys
sys.exit(not any(a and a.name == "tempyra-station" for a in pyatspi.Registry.getDesktop(0)))'; }
# The window first, then the accessibility bus: Qt's bridge registers the window once it sees
# the bus come (a window started on a bus already there was seen not to register here). Both
# started again if it never registers: on a loaded machine the bridge may miss the bus.
for attempt in 1 2 3; do
    "$program" --profile "$work/profile.json" --expect "$work/list.txt" --operator "Ana Lima" \
        --log "$work/audit.jsonl" 2>"$work/err" &
    station=$!
    sleep 0.5
    setsid "$launcher" --launch-immediately &
    bus=$!
    for _ in $(seq 75); do registered && break 2; sleep 0.2; done
    [[ $attempt -eq 3 ]] && fail "the window did not register with the accessibility bus"
    echo "station_atspi: the window did not register with the accessibility bus; once more" >&2
    kill "$station" && wait "$station" || true
    kill -- -"$bus" 2>/dev/null || true
    wait "$bus" 2>/dev/null || true
done
for _ in $(seq 300); do heard && break; sleep 0.2; done
heard || fail "a screen reader reads: $(cat "$work/names") $(cat "$work/err")"

# A second station is refused and names the first.
second=0
timeout 10 "$program" 2>"$work/second.err" || second=$?
grep -q "a station is running on this computer already (process $station of " "$work/second.err" \
    || fail "the second station: status $second, $(cat "$work/second.err")"
kill -TERM "$station"
wait "$station" || fail "the station ended with $? on SIGTERM"

# A start from the command line refused: the reason on standard error (and in the window, which
# stays for it to be put right), exit status 2 once the window is closed.
echo '{"alarm": {"enabled": true, "lower": 2, "upper": 90}}' >"$work/bad.json"
"$program" --profile "$work/bad.json" --log "$work/audit.jsonl" 2>"$work/bad.err" &
bad=$!
for _ in $(seq 100); do grep -q 'alarm.upper' "$work/bad.err" && break; sleep 0.1; done
grep -q '^tempyra-station: alarm.upper: 90 is not allowed' "$work/bad.err" \
    || fail "a bad profile: $(cat "$work/bad.err")"
kill -TERM "$bad"
status=0
wait "$bad" || status=$?
[[ $status -eq 2 ]] || fail "a refused start ended with $status, not 2"
echo "station_atspi: a screen reader reads the tiles and the counter"
