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
    shot failure
    exit 1
}
pass() { echo "gui_session: ok: $*"; }

# Waits up to about five seconds for a command to succeed.
eventually() {
    for _ in $(seq 50); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

shot() { import -window root "$out/gui-$1.png" 2>/dev/null || true; }

commands() { grep -c '^cmd ' "$sim_log" || true; }

"$program" &
app=$!
trap 'kill "$app" 2>/dev/null || true' EXIT

find_window() {
    kill -0 "$app" 2>/dev/null || fail "the program ended before showing its window"
    win=$(xdotool search --onlyvisible --name '^Tempyra Config Tool$' 2>/dev/null | head -n 1)
    [[ -n $win ]]
}
win=
eventually find_window || fail "no window"

eval "$(xdotool getwindowgeometry --shell "$win")"
[[ $WIDTH -eq 440 && $HEIGHT -eq 655 ]] || fail "window is ${WIDTH}x${HEIGHT}, not 440x655"
pass "window shown at 440x655"

# The window is fixed in size, so its controls sit at fixed places (from its screenshot).
click() {
    xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1
    sleep 0.3
}
connect_button() { click 313 49; }
read_button() { click 400 49; }
set_button() { click 225 629; }
fahrenheit() { click 297 88; }
alarm_box() { click 18 392; }
upper_field() { click 380 433; }
lower_field() { click 165 433; }

# Selects the whole activity log with the mouse and prints it, a line per entry. The drag starts
# below the last line: a press inside an earlier selection would start dragging that instead.
activity_log() {
    xdotool mousemove --sync $((X + 425)) $((Y + 588)) mousedown 1 \
        mousemove --sync $((X + 22)) $((Y + 503)) mouseup 1
    sleep 0.2
    xclip -o -selection primary 2>/dev/null | sed 's/^[0-9:]* : //'
    echo
}
log_has_last() { [[ $(activity_log | sed '/^$/d' | tail -n 1) == "$1" ]]; }

# Start-up: connected before the window was shown, identifier asked for.
eventually grep -q '^cmd 2 device-id request' "$sim_log" || fail "no start-up connection"
[[ $(sed -n '/^cmd /p' "$sim_log" | head -n 2 | tr '\n' '|') == \
    "cmd 3 identification request|cmd 2 device-id request|" ]] || fail "start-up commands: $(cat "$sim_log")"
log_has_last "Connected!" || fail "log after start-up: $(activity_log)"
pass "connected at start-up"

read_button
eventually grep -q '^cmd 0 config read request' "$sim_log" || fail "Read sent nothing"
log_has_last "Reading Data" || fail "log after Read: $(activity_log)"
pass "Read asked for the configuration"

# Edit: Fahrenheit, alarm on, limits 85 and -5; then Set Configuration.
fahrenheit
alarm_box
upper_field
xdotool key --clearmodifiers ctrl+a BackSpace type '85'
lower_field
xdotool key --clearmodifiers ctrl+a BackSpace type -- '-5'
before=$(commands)
set_button
eventually [ "$(commands)" -gt "$before" ] || fail "Set Configuration sent nothing"
line=$(grep '^cmd 1 ' "$sim_log" | tail -n 1)
expected='cmd 1 config: scale=F alarm=on upper=085 lower=-05 delay=00:30 interval=00:10 file=PDF clock='
[[ $line == "$expected"*' zone=+0530' ]] || fail "simulator received: $line"
# The clock field is the time of UTC+05:30, within a few seconds of now.
clock=$(sed -E 's/.*clock=([0-9:]+ [0-9-]+) zone.*/\1/' <<<"$line")
sent=$(date -u -d "$(awk '{split($2,d,"-"); print d[3]"-"d[2]"-"d[1]" "$1}' <<<"$clock")" +%s)
now=$(( $(date -u +%s) + 19800 ))
(( sent - now <= 5 && now - sent <= 5 )) || fail "clock sent $clock is not the time of UTC+05:30"
log_has_last "Device Configured!" || fail "log after Set Configuration: $(activity_log)"
pass "Set Configuration received byte for byte: $line"

# Unplug: noticed within about a second, reported once.
"$TEMPYRA_VUSB_CTL" unplug 0 >/dev/null
sleep 2
log_has_last "Disonnected!" || fail "log after unplug: $(activity_log)"
[[ $(activity_log | grep -c '^Disonnected!$') -eq 1 ]] || fail "unplug reported more than once"
pass "unplug noticed"

# Plugged in again, Connect finds it.
"$TEMPYRA_VUSB_CTL" replug 0 >/dev/null
before=$(commands)
connect_button
eventually [ "$(commands)" -ge $((before + 2)) ] || fail "Connect after replug sent nothing"
log_has_last "Connected!" || fail "log after replug: $(activity_log)"
pass "reconnected after replug"

kill "$app"
wait "$app" 2>/dev/null || true
trap - EXIT
echo "gui_session: all steps passed"
