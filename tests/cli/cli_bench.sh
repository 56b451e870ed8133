#!/usr/bin/env bash
# tempyra-cli against simulated loggers on the virtual USB bench, one case per bench:
#   tempyra-vusb --logger[=OPTIONS]... -- cli_bench.sh TEMPYRA_CLI CASE
# The cases and their loggers are listed in CMakeLists.txt.
set -euo pipefail
program=$1
case=$2
: "${TEMPYRA_VUSB_DIR:?run through tempyra-vusb}"
ctl=$TEMPYRA_VUSB_CTL
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
audit=$work/audit.jsonl
profile=$work/profile.json
cat >"$profile" <<'JSON'
{"scale": "F", "alarm": {"enabled": true, "lower": 2, "upper": 8}, "startDelay": "00:30",
 "interval": "00:15", "zone": "UTC-03:00", "report": "pdf"}
JSON

fail() {
    echo "cli_bench $case: FAIL: $*" >&2
    exit 1
}
# cli STATUS ARGS...: tempyra-cli, which must exit with STATUS; output in $work/out and err.
cli() {
    local want=$1 status=0
    shift
    "$program" "$@" >"$work/out" 2>"$work/err" || status=$?
    [[ $status -eq $want ]] || fail "tempyra-cli $* exited $status, not $want: $(cat "$work/err")"
}
# has FILE PATTERN...: each extended regular expression matches a line of FILE.
has() {
    local file=$1 pattern
    shift
    for pattern; do
        grep -qE -- "$pattern" "$file" || fail "no line of $file matches /$pattern/: $(cat "$file")"
    done
}
# count FILE PATTERN EXPECTED: that many lines of FILE match.
count() {
    local n
    n=$(grep -cE -- "$2" "$1" || true)
    [[ $n -eq $3 ]] || fail "$n lines of $1 match /$2/, not $3: $(cat "$1")"
}
sim() { echo "$TEMPYRA_VUSB_DIR/sim$1.log"; }
eventually() {
    for _ in $(seq 100); do
        "$@" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "timed out waiting for: $*"
}
at_least() { [[ $(grep -cE -- "$2" "$1") -ge $3 ]]; }

case $case in
write) # one logger, its record, and a record that cannot be kept
    cli 0 write "$profile" --log "$audit"
    has "$work/out" '^ttyACM0 TL-0001 verified$'
    has "$(sim 0)" '^cmd 1 config: scale=F alarm=on upper=008 lower=002 delay=00:30 interval=00:15 file=PDF clock=[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{4} zone=-0300$'
    has "$audit" '^\{"clock":"[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}","configuration":\{"alarm":\{"enabled":true,"lower":2,"upper":8\},"interval":"00:15","report":"pdf","scale":"F","startDelay":"00:30","zone":"UTC-03:00"\},"device":"TL-0001","host":"[^"]+","location":"/dev/ttyACM0","outcome":"verified","port":"ttyACM0","time":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z","user":"[^"]+"\}$'
    cli 1 write "$profile" --log /dev/full
    has "$work/err" '^tempyra-cli: cannot write the audit record to /dev/full'
    ;;
all) # three loggers at once, told apart by their identifiers
    cli 2 read
    has "$work/err" 'choose one' '^  ttyACM0$' '^  ttyACM1$' '^  ttyACM2$'
    cli 0 list
    for n in 0 1 2; do
        has "$work/out" "^ttyACM$n +/dev/ttyACM$n +TL00000$((n + 1)) +yes +TL-000$((n + 1))$"
    done
    cli 0 write "$profile" --all --log "$audit"
    for n in 0 1 2; do
        has "$work/out" "^ttyACM$n TL-000$((n + 1)) verified$"
        count "$(sim $n)" '^cmd 1 config:' 1
        has "$audit" "\"device\":\"TL-000$((n + 1))\".*\"port\":\"ttyACM$n\""
    done
    count "$audit" . 3
    ;;
mismatch) # a logger that ignores the write, one that changes the interval, one the clock
    cli 1 write "$profile" --all --log "$audit"
    has "$work/out" '^ttyACM0 TL-0001 mismatch: scale, alarm.enabled, alarm.lower, alarm.upper, interval, zone, clock$' \
        '^ttyACM1 TL-0002 mismatch: interval$' '^ttyACM2 TL-0003 mismatch: clock$'
    has "$audit" '"device":"TL-0002","fields":\["interval"\].*"outcome":"mismatch"'
    ;;
provision) # plugged and unplugged while it runs; Ctrl-C during a write lets it finish
    "$ctl" unplug 1
    "$program" provision "$profile" --log "$audit" >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$work/out" TL-0001 1
    "$ctl" replug 1
    eventually at_least "$work/out" TL-0002 1
    "$ctl" unplug 0
    sleep 1
    "$ctl" replug 0
    eventually at_least "$(sim 0)" '^cmd 3' 2
    kill -INT "$pid"
    status=0
    wait "$pid" || status=$?
    [[ $status -eq 0 ]] || fail "provision exited $status: $(cat "$work/err")"
    count "$work/out" '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ttyACM0 TL-0001 verified$' 2
    count "$work/out" '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ttyACM1 TL-0002 verified$' 1
    count "$work/out" . 3
    count "$(sim 0)" '^cmd 1 config:' 2
    count "$(sim 1)" '^cmd 1 config:' 1
    count "$audit" '"outcome":"verified"' 3
    ;;
refused) # profile errors end the program before a port is opened
    echo '{"interval": "00:15", "colour": "red"}' >"$work/unknown.json"
    cli 2 write "$work/unknown.json" --log "$audit"
    has "$work/err" '^tempyra-cli: unknown key "colour"; the keys are scale, alarm.enabled,'
    cli 2 write "$profile" --set alarm.upper=90 --log "$audit"
    has "$work/err" '^tempyra-cli: alarm.upper: 90 is not allowed; allowed is a whole number from -40 to 85$'
    count "$(sim 0)" '^cmd ' 0
    [[ ! -e $audit ]] || fail "an audit record was made"
    ;;
round_trip) # read --json, write something else, write what was read: the same settings again
    cli 0 read --json
    grep -v '"clock' "$work/out" >"$work/before.json"
    has "$work/out" '"device": "TL-0001"' '"clockOffset": 0'
    cli 0 write "$profile" --log "$audit"
    cli 0 write "$work/before.json" --log "$audit"
    cli 0 read --json
    grep -v '"clock' "$work/out" | diff "$work/before.json" - || fail "settings not restored"
    ;;
named_port) # --port reaches a port the system does not list: the logger's bare pseudo-terminal
    pty=$(<"$TEMPYRA_VUSB_DIR/ports/0/pty")
    cli 0 write "$profile" --port "$pty" --log "$audit"
    has "$work/out" "^${pty#/dev/} TL-0001 verified$"
    has "$audit" "\"location\":\"$pty\""
    cli 1 read --port ttyACM7
    has "$work/out" '^ttyACM7 -$' '^  not read: cannot open the port'
    "$program" provision "$profile" --port "$pty" --log "$audit" >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$work/out" verified 1
    kill -INT "$pid"
    wait "$pid" || fail "provision --port exited $?: $(cat "$work/err")"
    count "$(sim 0)" '^cmd 1 config:' 2
    # Help names the program, not the path it was started with, on standard output.
    cli 0 --help
    has "$work/out" '^Usage: tempyra-cli \[options\] command$'
    ;;
slow_identifier) # the identifier comes late, but inside its bound
    cli 0 read --json
    has "$work/out" '"device": "TL-0001"' '"interval": "00:10"' '"zone": "UTC\+05:30"'
    ;;
repeated_replies | repeated_fast_replies) # every reply comes twice
    cli 0 write "$profile" --log "$audit"
    has "$work/out" '^ttyACM0 TL-0001 verified$'
    ;;
flood) # a logger that never stops talking: the read ends, whatever it made of the flood
    status=0
    timeout 60 "$program" read >"$work/out" 2>"$work/err" || status=$?
    [[ $status -le 1 ]] || fail "read exited $status: $(cat "$work/err")"
    ;;
unplug) # pulled out while the identifier is awaited, then while the read-back is
    for step in 'cmd 2' 'cmd 1'; do
        "$program" write "$profile" --log "$audit" >"$work/out" 2>"$work/err" &
        pid=$!
        eventually at_least "$(sim 0)" "^$step" 1
        "$ctl" unplug 0
        status=0
        wait "$pid" || status=$?
        [[ $status -eq 1 ]] || fail "write exited $status when unplugged after $step"
        "$ctl" replug 0
    done
    lost='"reason":"(the line ended|port error)'
    has "$audit" '"device":"".*"outcome":"not written","port":"ttyACM0",'"$lost" \
        '"device":"TL-0001".*"outcome":"unverified","port":"ttyACM0",'"$lost"
    has "$work/out" '^ttyACM0 TL-0001 unverified: (the line ended|port error)'
    # Plugged in again, it still holds what was written.
    cli 0 read --json
    has "$work/out" '"interval": "00:15"' '"zone": "UTC-03:00"'
    ;;
*) fail "unknown case" ;;
esac
echo "cli_bench $case: ok"
