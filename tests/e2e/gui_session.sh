#!/usr/bin/env bash
# A person at the desktop, played by xdotool: the unmodified tempyra-config on the virtual USB
# bench under Xvfb, one simulated logger plugged in. Run as
#   xvfb-run -a tempyra-vusb --logger -- gui_session.sh PROGRAM OUTDIR
# It checks what the simulator received and what the activity log says (read back through the
# X selection, as a person would copy it), and leaves a screenshot of a failure in OUTDIR.
set -euo pipefail

program=$1
out=$2
mkdir -p "$out"
: "${TEMPYRA_VUSB_DIR:?run through tempyra-vusb}" "${DISPLAY:?run under Xvfb}"
for tool in xdotool xclip import; do
    command -v "$tool" >/dev/null || { echo "gui_session: $tool missing" >&2; exit 77; }
done
sim_log=$TEMPYRA_VUSB_DIR/sim0.log
# A real X program: whatever platform the environment names (offscreen, as for the other tests),
# this one draws on the X server.
export QT_QPA_PLATFORM=xcb

fail() {
    echo "gui_session: FAIL: $*" >&2
    import -window root "$out/gui-failure.png" 2>/dev/null || true
    exit 1
}

# Waits up to about five seconds for a command to succeed.
eventually() {
    for _ in $(seq 50); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# The codes of the commands the logger has received, in order: "320" for 3, 2 and 0.
commands_are() { [[ $(sed -n 's/^cmd \(.\) .*/\1/p' "$sim_log" | tr -d '\n') == "$1" ]]; }

"$program" &
app=$!
trap 'kill "$app" 2>/dev/null || true' EXIT
find_window() {
    kill -0 "$app" 2>/dev/null || fail "the program ended before showing its window"
    win=$(xdotool search --onlyvisible --name '^Tempyra Config Tool$' 2>/dev/null | head -n 1)
    [[ -n $win ]]
}
eventually find_window || fail "no window"
eval "$(xdotool getwindowgeometry --shell "$win")"
# The window is fixed in size, so its controls sit at fixed places (from its screenshot).
[[ $WIDTH -eq 440 && $HEIGHT -eq 655 ]] || fail "window is ${WIDTH}x${HEIGHT}, not 440x655"
click() {
    xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1
    sleep 0.3
}

# Selects the whole activity log with the mouse and prints its last entry. The drag starts below
# the last line, up to the start of the first: a press inside an earlier selection would start
# dragging that instead.
activity_log() {
    xdotool mousemove --sync $((X + 425)) $((Y + 588)) mousedown 1 \
        mousemove --sync $((X + 16)) $((Y + 480)) mouseup 1
    sleep 0.2
    xclip -o -selection primary 2>/dev/null | sed 's/^[0-9:]* : //'
}
# The last entry is TEXT, once the window has had its turn (a loaded machine may paint late).
last_entry_is() { [[ $(activity_log | tail -n 1) == "$1" ]]; }
expect_log() { eventually last_entry_is "$1" || fail "log after $2: $(activity_log)"; }

# Start-up: connected before the window was shown, identifier asked for. Then Read.
eventually commands_are 32 || fail "start-up commands: $(cat "$sim_log")"
expect_log "Connected!" "start-up"
click 400 49 # Read
eventually commands_are 320 || fail "Read sent: $(cat "$sim_log")"
expect_log "Reading Data" "Read"

# Fahrenheit, alarm on, limits 85 and -5, typed; then Set Configuration.
click 297 83
click 18 373
click 380 412
xdotool key --clearmodifiers ctrl+a BackSpace type '85'
click 165 412
xdotool key --clearmodifiers ctrl+a BackSpace type -- '-5'
click 225 629
eventually commands_are 3201 || fail "Set Configuration sent: $(cat "$sim_log")"
line=$(grep '^cmd 1 ' "$sim_log")
expected='cmd 1 config: scale=F alarm=on upper=085 lower=-05 delay=00:30 interval=00:10 file=PDF clock='
[[ $line == "$expected"*' zone=+0530' ]] || fail "simulator received: $line"
# The clock field is the time of UTC+05:30, within a few seconds of now.
clock=$(sed -E 's/.*clock=([0-9:]+) ([0-9]+)-([0-9]+)-([0-9]+) zone.*/\4-\3-\2 \1/' <<<"$line")
offset=$(($(date -u -d "$clock" +%s) - $(date -u +%s) - 19800))
((offset >= -5 && offset <= 5)) || fail "clock sent $clock is not the time of UTC+05:30"
expect_log "Device Configured!" "Set Configuration"

# Unplugged: noticed within about a second, reported once. Plugged in again, Connect finds it.
"$TEMPYRA_VUSB_CTL" unplug 0 >/dev/null
sleep 2
expect_log "Disonnected!" "unplug"
[[ $(activity_log | grep -c '^Disonnected!$') -eq 1 ]] || fail "unplug reported more than once"
"$TEMPYRA_VUSB_CTL" replug 0 >/dev/null
click 313 49 # Connect
eventually commands_are 320132 || fail "Connect after replug sent: $(cat "$sim_log")"
expect_log "Connected!" "replug"

# Ended from outside (a logout, a shutdown) as if the window were closed: the port's lock goes.
lock=/run/lock/LCK..ttyACM0
[[ -e $lock ]] || fail "no lock file on the connected port"
kill -TERM "$app"
status=0
wait "$app" || status=$?
trap - EXIT
[[ $status -eq 0 ]] || fail "SIGTERM ended the program with status $status"
[[ ! -e $lock ]] || fail "the port's lock file is left behind"
echo "gui_session: all steps passed"
