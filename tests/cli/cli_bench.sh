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
trap 'kill $(jobs -p) 2>/dev/null || true; umount "$work/disk" 2>/dev/null || true; rm -rf "$work"' EXIT
audit=$work/audit.jsonl
profile=$work/profile.json
cat >"$profile" <<'JSON'
{"scale": "F", "alarm": {"enabled": true, "lower": 2, "upper": 8}, "startDelay": "00:30",
 "interval": "00:15", "zone": "UTC-03:00", "report": "pdf"}
JSON

fail() {
    echo "cli_bench $case: FAIL: $*" >&2
    cp -r "$work" /tmp/clifail 2>/dev/null; exit 1
}
# cli STATUS ARGS...: tempyra-cli, which must exit with STATUS; output in $work/out and err.
cli() {
    local want=$1 status=0
    shift
    "$program" "$@" >"$work/out" 2>"$work/err" || status=$?
    [[ $status -eq $want ]] || fail "tempyra-cli $* exited $status, not $want: $(cat "$work/err")"
}
# small STATUS ARGS...: as cli, and the program never took 1 GB of memory.
small() {
    local want=$1 ended
    shift
    ended=$(python3 -c 'import resource, subprocess, sys
status = subprocess.call(sys.argv[3:], stdout=open(sys.argv[1], "w"), stderr=open(sys.argv[2], "w"))
print(status, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss >> 10)' \
        "$work/out" "$work/err" "$program" "$@")
    [[ $ended == "$want "* && ${ended#* } -lt 1024 ]] \
        || fail "tempyra-cli $* ended with status and MB $ended: $(cat "$work/err")"
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
# ended PID STATUS: the program in the background, sent Ctrl-C (SIGINT) unless it ends by
# itself, ended with STATUS.
ended() {
    local status=0
    kill -INT "$1" 2>/dev/null || true
    wait "$1" || status=$?
    [[ $status -eq $2 ]] || fail "tempyra-cli exited $status, not $2: $(cat "$work/err")"
}
eventually() {
    for _ in $(seq 200); do
        "$@" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "timed out waiting for: $*"
}
at_least() { [[ $(grep -cE -- "$2" "$1") -ge $3 ]]; }
# json FILE EXPRESSION: a Python expression on the JSON document `d` of FILE, printed.
json() { python3 -c "import json, sys; d = json.load(open(sys.argv[1])); print($2)" "$1"; }
# lines FILE: every line of FILE is a JSON object, and the chain of the record verifies.
record_whole() {
    python3 -c 'import json, sys; [json.loads(l) for l in open(sys.argv[1])]' "$1" \
        || fail "a line of $1 is not whole: $(cat "$1")"
    cli 0 audit verify "$1"
}

case $case in
write) # one logger, its record, and a record that cannot be kept
    cli 0 write "$profile" --log "$audit"
    has "$work/out" '^ttyACM0 TL-0001 verified$'
    has "$(sim 0)" '^cmd 1 config: scale=F alarm=on upper=008 lower=002 delay=00:30 interval=00:15 file=PDF clock=[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{4} zone=-0300$'
    has "$audit" '^\{"attempt":1,"clock":"[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}","configuration":\{"alarm":\{"enabled":true,"lower":2,"upper":8\},"interval":"00:15","report":"pdf","scale":"F","startDelay":"00:30","zone":"UTC-03:00"\},"device":"TL-0001","host":"[^"]+","location":"/dev/ttyACM0","operator":"[^"]+","outcome":"verified","port":"ttyACM0","prev":"0{64}","seq":1,"serialNumber":"TL000001","time":"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z","user":"[^"]+"\}$'
    # A device takes lines and keeps none: refused before a port is opened.
    cli 2 write "$profile" --log /dev/full
    has "$work/err" '^tempyra-cli: the audit record /dev/full is not a regular file$'
    count "$(sim 0)" '^cmd ' 4
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
    cli 1 write "$profile" --all --log "$audit" --retries 0
    has "$work/out" '^ttyACM0 TL-0001 mismatch: scale F written, C read back; alarm.enabled true written, false read back; alarm.lower 2 written, 5 read back; alarm.upper 8 written, 60 read back; interval 00:15 written, 00:10 read back; zone UTC-03:00 written, UTC\+05:30 read back; clock .* written, .* read back$' \
        '^ttyACM1 TL-0002 mismatch: interval 00:15 written, 00:14 read back$' \
        '^ttyACM2 TL-0003 mismatch: clock [0-9]{4}(-[-0-9: ]+) written, [0-9]{4}\1 read back$'
    has "$audit" '"device":"TL-0002","differences":\[\{"field":"interval","read":"00:14","written":"00:15"\}\],"fields":\["interval"\].*"outcome":"mismatch"'
    has "$work/err" '^tempyra-cli: summary: 0 verified, 3 mismatched, 0 failed, 0 refused$'
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
    ended "$pid" 0
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
    echo '{"interval": "00:10", "interval": "00:11"}' >"$work/twice.json"
    cli 2 write "$work/twice.json" --log "$audit"
    has "$work/err" 'twice.json: interval is given twice'
    cli 2 write "$profile" --set alarm.upper=90 --log "$audit"
    has "$work/err" '^tempyra-cli: alarm.upper: 90 is not allowed; allowed is a whole number from -40 to 85$'
    # A dotted key out of range, an empty record name, a record in a folder that is not there.
    echo '{"alarm.lower": 99}' >"$work/dotted.json"
    cli 2 write "$work/dotted.json" --log "$audit"
    has "$work/err" '^tempyra-cli: alarm.lower: 99 is not allowed'
    cli 2 write "$profile" --reply-timeout 249 --log "$audit"
    has "$work/err" '^tempyra-cli: --reply-timeout: a whole number from 250 to 10000$'
    # An endless profile or list is refused a byte past its limit, not read whole.
    small 2 write /dev/zero --log "$audit"
    has "$work/err" '^tempyra-cli: /dev/zero: larger than 1 MB, the most a profile may be$'
    small 2 write "$profile" --expect /dev/zero --log "$audit"
    has "$work/err" '^tempyra-cli: --expect /dev/zero: larger than 64 MB, the most a list may be$'
    export XDG_DATA_HOME=$work/data # where the default record's folder exists
    mkdir -p "$XDG_DATA_HOME/tempyra-cli"
    cli 2 write "$profile" --log ""
    cli 2 write "$profile" --log "$work/no/such/audit.jsonl"
    has "$work/err" "^tempyra-cli: the folder $work/no/such of the audit record does not exist$"
    count "$(sim 0)" '^cmd ' 0
    [[ ! -e $audit && ! -e $work/no ]] || fail "an audit record or its folder was made"
    ;;
round_trip) # read --json, write something else, write what was read: the same settings again
    cli 0 read --json
    grep -v '"clock' "$work/out" >"$work/before.json"
    has "$work/out" '"device": "TL-0001"' '"clockOffset": 0'
    cli 0 write "$profile" --log "$audit"
    cli 0 write "$work/before.json" --log "$audit"
    cli 0 read --json
    grep -v '"clock' "$work/out" | diff "$work/before.json" - || fail "settings not restored"
    # A 00:05 interval, which the window can set, is restored; written by hand it is refused.
    sed 's/"00:10"/"00:05"/' "$work/before.json" >"$work/short.json"
    cli 0 write "$work/short.json" --log "$audit"
    has "$(sim 0)" '^cmd 1 config: .* interval=00:05 '
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
    ended "$pid" 0
    count "$(sim 0)" '^cmd 1 config:' 2
    # Help names the program, not the path it was started with, on standard output.
    cli 0 --help
    has "$work/out" '^Usage: tempyra-cli \[options\] command$'
    ;;
station) # a shipment list: the stray is refused, the station ends by itself; the summary
    printf '# shipment 0412\nTL-0001\n\nTL-0003  # shelf 2\n' >"$work/list"
    cli 0 provision "$profile" --expect "$work/list" --log "$audit" --operator "Ana Lima"
    has "$work/out" ' ttyACM0 TL-0001 verified$' ' ttyACM2 TL-0003 verified$' \
        ' ttyACM1 TL-0002 refused: not on the expected list$'
    has "$work/err" '^tempyra-cli: every expected logger is verified$' \
        '^tempyra-cli: summary: 2 verified, 0 mismatched, 0 failed, 1 refused, 0 never seen$'
    count "$(sim 1)" '^cmd 1 ' 0
    has "$audit" '"device":"TL-0002".*"operator":"Ana Lima","outcome":"refused"'
    # A near miss is refused, and named.
    printf 'TL-0001\ntl-0002\n' >"$work/list"
    cli 1 write "$profile" --all --expect "$work/list" --log "$audit" --json
    [[ $(json "$work/out" 'd["summary"]') == "{'failed': [], 'mismatched': [], 'neverSeen': ['tl-0002'], 'notRecorded': [], 'refused': ['TL-0002', 'TL-0003'], 'verified': ['TL-0001'], 'written': []}" ]] \
        || fail "summary: $(cat "$work/out")"
    has "$work/err" '^ttyACM1 TL-0002 refused: not on the expected list \(it lists tl-0002, which differs only in case\)$' \
        '^  never seen  tl-0002 \(TL-0002 was refused: it differs only in case\)$'
    # Ctrl-C before the list is done names what is missing.
    "$program" provision "$profile" --expect "$work/list" --log "$audit" >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$work/out" 'TL-0001 verified' 1
    ended "$pid" 1
    has "$work/err" '^tempyra-cli: not verified: tl-0002$'
    record_whole "$audit"
    ;;
retry) # a logger that fails once is verified on its retry; one that stores its settings late
    cli 0 write "$profile" --port ttyACM0 --log "$audit"
    has "$work/out" '^ttyACM0 TL-0001 mismatch: interval 00:15 written, 00:14 read back; trying again \(attempt 2 of 2\)$' \
        '^ttyACM0 TL-0001 verified$'
    has "$audit" '^\{"attempt":1,.*"outcome":"mismatch"' '^\{"attempt":2,.*"outcome":"verified"'
    count "$audit" . 2
    cli 1 write "$profile" --port ttyACM1 --log "$audit" --retries 0
    cli 0 write "$profile" --port ttyACM1 --log "$audit" --retries 0 --settle 500
    ;;
shared) # two stations append to one record; TERM then Ctrl-C; a lock left by another computer
    "$program" provision "$profile" --port ttyACM0 --log "$audit" >"$work/out0" 2>&1 &
    first=$!
    "$program" provision "$profile" --port ttyACM1 --log "$audit" >"$work/out1" 2>&1 &
    second=$!
    # Each round's attempt done, its read-back in, before the loggers are pulled out again.
    for n in 0 1; do eventually at_least "$work/out$n" ' verified$' 1; done
    for round in 2 3; do
        "$ctl" unplug 0 && "$ctl" unplug 1 && sleep 0.5 && "$ctl" replug 0 && "$ctl" replug 1
        for n in 0 1; do eventually at_least "$work/out$n" ' verified$' $round; done
    done
    kill -INT "$first" "$second"
    wait "$first" && wait "$second" || fail "a station failed: $(cat "$work/out0" "$work/out1")"
    count "$audit" '"outcome":"verified"' 6
    record_whole "$audit"
    "$program" provision "$profile" --port ttyACM0 --settle 5000 --log "$audit" >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$(sim 0)" '^cmd 1 ' 4
    kill -TERM "$pid" && sleep 0.2
    ended "$pid" 1 # a Ctrl-C after the TERM
    has "$work/err" '^tempyra-cli: ending once the 1 logger in progress is done; asked again, it ends at once$'
    has "$audit" '"outcome":"unverified".*"reason":"interrupted"'
    record_whole "$audit"
    # A station on another computer keeps the lock: the write is not recorded, and the station
    # says why; the line owed is not lost: appended once the lock left behind goes stale, or
    # kept in a file of owed lines.
    lines=$(wc -l <"$audit")
    "$ctl" unplug 0
    "$program" provision "$profile" --port ttyACM0 --log "$audit" >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$work/err" 'waiting for loggers' 1
    while :; do printf '4242\ntempyra-cli\nstation-2\n' >"$audit.lock" && sleep 1; done &
    holder=$!
    eventually test -s "$audit.lock" # held before the logger comes
    "$ctl" replug 0
    eventually at_least "$work/err" 'stayed locked' 1
    kill "$holder"
    kill -INT "$pid"
    wait "$pid" || true
    [[ $(cat "$audit" "$work"/audit.owed-*.jsonl 2>/dev/null | wc -l) -gt $lines ]] \
        || fail "the line owed was lost: $(cat "$work/err")"
    has "$work/err" "^tempyra-cli: the audit record $audit stayed locked for [0-9]+ s by tempyra-cli \(process 4242 on station-2\), since [0-9: -]+; remove $audit.lock if"
    ;;
record) # an edited, a removed and a swapped line are found; the report holds every line
    printf 'TL-0001\nTL-0002\nTL-0003\n' >"$work/list"
    cli 1 write "$profile" --all --expect "$work/list" --retries 0 --log "$audit"
    cli 1 write "$profile" --all --expect "$work/list" --retries 0 --log "$audit"
    record_whole "$audit"
    tamper() { python3 - "$audit" "$work/tampered" "$1" <<'PY'
import sys
lines = open(sys.argv[1]).readlines()
how = sys.argv[3]
if how == "edit": lines[2] = lines[2].replace('"attempt":1', '"attempt":2')
if how == "remove": del lines[4]
if how == "swap": lines[5], lines[6] = lines[6], lines[5]
open(sys.argv[2], "w").writelines(lines)
PY
    }
    for found in 'edit|line 3 was changed' 'remove|line 5 follows a gap' \
        'swap|line 6 is out of order'; do
        tamper "${found%%|*}"
        cli 1 audit verify "$work/tampered"
        has "$work/out" "^$work/tampered: ${found#*|}"
    done
    # One more write, with retries; then a write cut short by a power cut, carried into the
    # record by a signed repair line.
    cli 1 write "$profile" --all --expect "$work/list" --retries 1 --log "$audit"
    cli 0 key new --key "$work/station.key"
    cp "$work/out" "$work/station.pub"
    printf '{"attempt":1,"device":"TL-00' >>"$audit"
    cli 0 audit repair "$audit" --key "$work/station.key"
    head=$(sed -n 's/^tempyra-cli: head //p' "$work/err")
    cli 0 report "$audit" --output "$work/report.html" --until 2000-01-01
    count "$work/report.html" '<tr class="(verified|mismatched|failed|refused|repair)"' 0
    count "$work/report.html" '<tr class="unreadable"' 1
    # With the station's key, the lines written before it had one prove nothing: each is marked
    # and counted nowhere; the repair line holds, its cut bytes named unsigned.
    cli 1 report "$audit" --expect "$work/list" --trust "$work/station.pub" --output "$work/trusted.html"
    has "$work/err" ': lines 1 to 14 are not signed$'
    count "$work/trusted.html" '<tr class="failing"><td class="n">' 14
    has "$work/trusted.html" '0 attempts: 0 verified' 'line 15 is unsigned bytes, carried by line 16' \
        'signed by a trusted key and holding every check: line 16 by [0-9a-f]{16}'
    # 14 attempts of four loggers; the cut line and its repair.
    cli 0 report "$audit" --expect "$work/list" --output "$work/report.html"
    for outcome in verified:4 mismatched:5 failed:5 refused:4 unreadable:1 repair:1; do
        count "$work/report.html" "<tr class=\"${outcome%:*}\">" "${outcome#*:}"
    done
    has "$work/report.html" '4 loggers: 1 verified, 1 mismatched, 1 failed, 1 refused' \
        '14 attempts: 3 verified, 4 mismatched, 4 failed, 3 refused' \
        '3 expected, 1 verified, 2 not verified: .*TL-0002 \(mismatched\), TL-0003 \(no attempt\)' \
        "<span class=\"hash\">$head</span>"
    command -v chromium >/dev/null || { echo "SKIP: chromium is not installed" >&2; exit 77; }
    for paper in A4 Letter; do
        sed "s/<style>/<style>@page { size: $paper; }/" "$work/report.html" >"$work/$paper.html"
        chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
            --disable-component-update --disable-sync --user-data-dir="$work/browser-$paper" \
            --no-pdf-header-footer --print-to-pdf="$work/$paper.pdf" "file://$work/$paper.html" \
            >/dev/null 2>&1 || { echo "SKIP: chromium cannot run here" >&2; exit 77; }
        size=$(pdfinfo "$work/$paper.pdf" | sed -n 's/^Page size: *\([0-9]*\)[.0-9]* x \([0-9]*\).*/\1 \2/p')
        pages=$(pdfinfo "$work/$paper.pdf" | sed -n 's/^Pages: *//p')
        [[ $pages -ge 2 ]] || fail "$paper: $pages page(s); the page heads are checked on two or more"
        # Only what lies on the page: a column cut off at its edge would be missing. Every page
        # names the record and its head, and counts the pages.
        : >"$work/$paper.txt"
        for page in $(seq "$pages"); do
            pdftotext -layout -f "$page" -l "$page" -x 0 -y 0 -W "${size% *}" -H "${size#* }" \
                "$work/$paper.pdf" "$work/page.txt"
            has "$work/page.txt" "^ *audit\.jsonl, head $head +page $page of $pages$"
            cat "$work/page.txt" >>"$work/$paper.txt"
        done
        for row in 'TL-0001 +ttyACM0|3' 'TL-0002 +ttyACM1|4' 'not identified +ttyACM2|4' 'TL-0004 +ttyACM3|3'; do
            count "$work/$paper.txt" " ${row%|*} " "${row#*|}"
        done
        # Outcome words whole, in both tables.
        count "$work/$paper.txt" 'MISMATCH +interval: 00:15 written, 00:14' 4
        count "$work/$paper.txt" 'NOT WRITTEN' 4
        count "$work/$paper.txt" 'REFUSED +not on the expected' 3
        has "$work/$paper.txt" '^ *Logger +Attempts +Station +Operator$' '^ *TL-0001 +verified +3 ' \
            '^ *TL-0002 +MISMATCHED +4 ' '^ *TL-0004 +REFUSED +3 ' '^ *ttyACM2 \(USB serial +FAILED +4 ' \
            'Line +(Time \(UTC[-+0-9:]*\) +)?Logger +Port +Operator +Outcome +Fields that differed' \
            ' 15 +- +- +- +- +CUT SHORT +cut short by an interrupted' ' 16 .* REPAIR +carries line 15' \
            'verified: the chain of its 16 lines is whole' 'attempt 2 +read back'
    done
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
unplug) # pulled out while the identifier is awaited, then while the read-back is (the logger
    # takes a second to answer either, time enough for the unplug on a busy machine)
    for step in 'cmd 2' 'cmd 0'; do
        sent=$(grep -c "^$step" "$(sim 0)" || true)
        "$program" write "$profile" --log "$audit" --reply-timeout 3000 >"$work/out" 2>"$work/err" &
        pid=$!
        eventually at_least "$(sim 0)" "^$step" $((sent + 1))
        "$ctl" unplug 0
        status=0
        wait "$pid" || status=$?
        [[ $status -eq 1 ]] || fail "write exited $status when unplugged after $step"
        "$ctl" replug 0
    done
    lost='"reason":"(the line ended|port error)'
    has "$audit" '"attempt":1,.*"identified":false,.*"outcome":"not written","port":"ttyACM0",.*'"$lost" \
        '"attempt":1,.*"device":"TL-0001".*"outcome":"unverified","port":"ttyACM0",.*'"$lost"
    has "$work/out" '^ttyACM0 TL-0001 unverified: (the line ended|port error)'
    # Plugged in again, it still holds what was written.
    cli 0 read --json --reply-timeout 3000
    has "$work/out" '"interval": "00:15"' '"zone": "UTC-03:00"'
    ;;
signed) # a station key; the attacker's rewrites caught by the signatures and by a noted head
    key=$work/station.key
    cli 0 key new --key "$key"
    has "$work/out" '^# tempyra-cli station key [0-9a-f]{16}, made by ' '^ed25519 [A-Za-z0-9+/]{43}=$'
    has "$work/err" 'Its public key went to standard output, a file or a pipe: give that to whoever'
    "$program" key show --key "$key" >"$work/station.pub"
    diff -q "$work/out" "$work/station.pub" >/dev/null || fail "key show differs from key new"
    "$program" key new --key "$work/other.key" >"$work/other.pub" 2>/dev/null
    printf 'TL-0001\nTL-0002\n' >"$work/list"
    cli 0 provision "$profile" --expect "$work/list" --key "$key" --log "$audit"
    head=$(sed -n 's/^tempyra-cli: head \([0-9]*:[0-9a-f]\{64\}\) of .*/\1/p' "$work/err")
    [[ -n $head ]] || fail "no head: $(cat "$work/err")"
    cli 0 audit verify "$audit" --trust "$work/station.pub" --head "${head:0:20}"
    has "$work/out" 'every line is signed by a trusted key: lines 1 to 4 by [0-9a-f]{16}$' \
        "head ${head:0:20} noted: held"
    cli 1 audit verify "$audit" --trust "$work/other.pub"
    has "$work/out" 'lines 1 to 4 are signed by [0-9a-f]{16}, a key not trusted'
    cli 0 audit verify "$audit"
    has "$work/out" 'no signature was checked against a trusted key'
    # Without the key: the mismatch made verified and the refusal dropped, the chain computed
    # again (route 1); or the old lines stripped of their chain, edited, the rest chained on
    # again (route 2). Keys sorted, as a JSON tool writes them.
    for route in 1 2; do
        python3 - "$audit" "$work/tampered" "$route" <<'PY'
import hashlib, json, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
lines = [l for l in lines if l["outcome"] != "refused"]
for l in lines: l["outcome"] = "verified"
out, prev = [], "0" * 64
for i, l in enumerate(lines):
    if sys.argv[3] == "2" and i < 2:
        for k in ("seq", "prev", "signer", "signature"): l.pop(k, None)
    elif "prev" in l:
        l["prev"], l["seq"] = prev, i + 1
    text = json.dumps(l, separators=(",", ":"), sort_keys=True)
    prev = hashlib.sha256(text.encode()).hexdigest()
    out.append(text + "\n")
open(sys.argv[2], "w").writelines(out)
PY
        cli 1 audit verify "$work/tampered" --trust "$work/station.pub"
        has "$work/out" 'not match (its signature|their signatures)|lines 1 to 2 are not signed'
        cli 1 audit verify "$work/tampered" --head "$head"
        has "$work/out" "head $head noted: (the record holds no line|line [0-9]+ .* is not the line noted)"
    done
    # A write cut short: refused before any port is opened, repaired in the open, reported.
    head -c -40 "$audit" >"$work/cut.jsonl"
    sent=$(cat "$(sim 0)" | wc -l)
    cli 2 write "$profile" --port ttyACM0 --key "$key" --log "$work/cut.jsonl"
    has "$work/err" 'ends in a line cut short .* "tempyra-cli audit repair '
    count "$(sim 0)" . "$sent"
    cli 0 audit repair "$work/cut.jsonl" --key "$key"
    cli 0 write "$profile" --port ttyACM0 --key "$key" --log "$work/cut.jsonl"
    cli 0 audit verify "$work/cut.jsonl" --trust "$work/station.pub"
    has "$work/out" 'line 4 was cut short \([0-9]+ bytes\); line 5 carries it, appended on .* UTC by ' \
        'every line that can be read is signed by a trusted key: lines 1 to 3, 5 to 6 by'
    # A record that lost only its last newline is whole: repair puts the newline back and the
    # record still verifies; a station completes it before its first line, and says so.
    head -c -1 "$audit" >"$work/bare.jsonl"
    cp "$work/bare.jsonl" "$work/bare2.jsonl"
    cli 0 audit verify "$work/bare.jsonl" --trust "$work/station.pub"
    cli 0 audit repair "$work/bare.jsonl" --key "$key"
    has "$work/err" 'whole but for its newline, which is put back'
    cli 0 audit verify "$work/bare.jsonl" --trust "$work/station.pub"
    cli 0 write "$profile" --port ttyACM0 --key "$key" --log "$work/bare2.jsonl"
    has "$work/err" 'is whole but lacks its newline'
    cli 0 audit verify "$work/bare2.jsonl" --trust "$work/station.pub"
    # A line removed and the chain after it computed again: the seq tells.
    python3 - "$audit" "$work/gap.jsonl" <<'PY'
import hashlib, json, sys
lines = open(sys.argv[1], "rb").read().split(b"\n")[:-1]
del lines[1]
for i in range(1, len(lines)):
    line = json.loads(lines[i])
    line["prev"] = hashlib.sha256(lines[i - 1]).hexdigest()
    lines[i] = json.dumps(line, separators=(",", ":")).encode()
open(sys.argv[2], "wb").write(b"\n".join(lines) + b"\n")
PY
    cli 1 audit verify "$work/gap.jsonl"
    has "$work/out" ': line 2 has seq 3 where 2 was due: 1 line before it was removed'
    # The mismatch made verified and the lines after it chained again, their members in the
    # order the station wrote them: marked in the report and counted nowhere.
    forged=$(python3 - "$audit" "$work/forged.jsonl" <<'PY'
import hashlib, json, sys
lines = open(sys.argv[1], "rb").read().split(b"\n")[:-1]
at = next(i for i, l in enumerate(lines) if b'"outcome":"mismatch"' in l)
for i in range(at, len(lines)):
    line = json.loads(lines[i])
    if i == at:
        line["outcome"] = "verified"
        for key in ("differences", "fields"):
            line.pop(key, None)
    else:
        line["prev"] = hashlib.sha256(lines[i - 1]).hexdigest()
    lines[i] = json.dumps(line, separators=(",", ":")).encode()
open(sys.argv[2], "wb").write(b"\n".join(lines) + b"\n")
print(at + 1)
PY
)
    cli 1 report "$work/forged.jsonl" --trust "$work/station.pub" --output "$work/forged.html"
    has "$work/forged.html" "<tr class=\"failing\"><td class=\"n\">$forged</td>" \
        "$((forged - 1)) attempts?: "
    count "$work/forged.html" '<tr class="failing"><td class="n">' $((5 - forged))
    ;;
changed_under) # the record changed under a running station: noticed, nothing more appended to it,
    # no head printed for it; the line owed kept
    export XDG_DATA_HOME=$work/data
    "$ctl" unplug 1
    cli 0 write "$profile" --port ttyACM0 --log "$audit"
    "$program" provision "$profile" --log "$audit" >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$work/out" 'ttyACM0 TL-0001 verified$' 1
    # The line it just appended cut off, in place.
    truncate -s $(($(stat -c %s "$audit") - $(tail -n 1 "$audit" | wc -c))) "$audit"
    "$ctl" replug 1
    wait "$pid" && fail "the station went on with its record changed: $(cat "$work/err")"
    has "$work/err" 'was cut short under this station: it ends at seq 1, before line seq 2' \
        'the line owed to the audit record is kept in '
    count "$work/err" '^tempyra-cli: head ' 0
    count "$audit" . 1
    # Replaced by a copy of itself, as an editor saves a file.
    "$ctl" unplug 0 && "$ctl" unplug 1
    "$program" provision "$profile" --log "$audit" >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$work/err" 'waiting for loggers' 1
    "$ctl" replug 0
    eventually at_least "$work/out" 'ttyACM0 TL-0001 verified$' 1
    cp "$audit" "$work/copy" && mv "$work/copy" "$audit"
    "$ctl" replug 1
    wait "$pid" && fail "the station went on with its record replaced: $(cat "$work/err")"
    has "$work/err" 'was replaced by another file under this station'
    count "$work/err" '^tempyra-cli: head ' 0
    ;;
owed) # a full disk, every listed logger verified: the station waits for its record; the lines it
    # owes come home later, signed, and verify
    mkdir "$work/disk"
    mount -t tmpfs -o size=64k tmpfs "$work/disk" || { echo "SKIP: no tmpfs" >&2; exit 77; }
    export XDG_DATA_HOME=$work/data
    audit=$work/disk/audit.jsonl
    cli 0 key new --key "$work/station.key"
    cp "$work/out" "$work/station.pub"
    printf 'TL-0001\nTL-0002\n' >"$work/list"
    "$ctl" unplug 0 && "$ctl" unplug 1
    "$program" provision "$profile" --expect "$work/list" --key "$work/station.key" --log "$audit" \
        >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$work/err" 'waiting for loggers' 1
    cat /dev/zero >"$work/disk/filler" 2>/dev/null || true
    "$ctl" replug 0 && "$ctl" replug 1
    eventually at_least "$work/err" 'every expected logger is verified; waiting for the audit record to take the 2 lines' 1
    sleep 1.5
    kill -0 "$pid" 2>/dev/null || fail "the station ended with lines owed: $(cat "$work/err")"
    ended "$pid" 1
    owed=$(sed -n 's/^tempyra-cli: the 2 lines owed to the audit record are kept in \(.*\); "tempyra-cli audit append-owed .*/\1/p' "$work/err")
    [[ -f $owed ]] || fail "no file of owed lines: $(cat "$work/err")"
    rm "$work/disk/filler"
    cli 0 audit append-owed "$audit" "$owed" --key "$work/station.key"
    cli 0 audit append-owed "$audit" "$owed" --key "$work/station.key"
    has "$work/err" 'holds 2 of these lines already'
    cli 0 audit verify "$audit" --trust "$work/station.pub"
    has "$work/out" 'lines 1 to 2 were owed to the record when written, appended late on '
    count "$audit" '"outcome":"verified"' 2
    ;;
full_disk) # the record cannot be written: not recorded, no further logger written, nothing lost
    mkdir "$work/disk"
    mount -t tmpfs -o size=64k tmpfs "$work/disk" || { echo "SKIP: no tmpfs" >&2; exit 77; }
    audit=$work/disk/audit.jsonl
    "$ctl" unplug 0 && "$ctl" unplug 1
    "$program" provision "$profile" --log "$audit" >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$work/err" 'waiting for loggers' 1
    cat /dev/zero >"$work/disk/filler" 2>/dev/null || true
    "$ctl" replug 0
    eventually at_least "$work/out" 'TL-0001 verified, not recorded$' 1
    has "$work/err" "^tempyra-cli: cannot (write the audit record $audit|create the lock file $audit.lock beside the audit record): no space left on the device$"
    "$ctl" replug 1
    eventually at_least "$work/err" 'ttyACM1: not written until the audit record can be written' 1
    sleep 1.5
    count "$(sim 1)" '^cmd 1 ' 0
    rm "$work/disk/filler"
    eventually at_least "$work/err" 'can be written again: 1 owed line appended' 1
    eventually at_least "$work/out" 'ttyACM1 TL-0002 verified$' 1
    # Full again, and ended before it is not: the station waits for its record until a second
    # Ctrl-C; the line owed goes to a file and to standard error, whole.
    export XDG_DATA_HOME=$work/data
    cat /dev/zero >"$work/disk/filler" 2>/dev/null || true
    "$ctl" unplug 0 && "$ctl" replug 0
    eventually at_least "$work/out" 'TL-0001 verified, not recorded$' 2
    kill -INT "$pid"
    eventually at_least "$work/err" 'waiting for the audit record to take the line owed to it' 1
    ended "$pid" 1
    has "$work/err" '^\{"attempt":1,.*"device":"TL-0001".*"outcome":"verified"'
    count "$audit" '"outcome":"verified"' 2
    record_whole "$audit"
    ;;
moved) # pulled during its read-back (it takes a second to answer), plugged into another port:
    # verified there on its retry
    printf 'TL-0004\n' >"$work/list"
    "$ctl" unplug 1
    "$program" provision "$profile" --expect "$work/list" --log "$audit" --reply-timeout 3000 \
        >"$work/out" 2>"$work/err" &
    pid=$!
    eventually at_least "$(sim 0)" '^cmd 0' 1
    "$ctl" unplug 0
    "$ctl" replug 1
    wait "$pid" || fail "provision exited $?: $(cat "$work/err")"
    has "$work/out" ' ttyACM0 TL-0004 unverified: (the line ended|port error).*; attempt 2 of 2 when it is plugged in again$' \
        ' ttyACM1 TL-0004 verified$'
    has "$work/err" '^tempyra-cli: summary: 1 verified, 0 mismatched, 0 failed, 0 refused, 0 never seen$'
    has "$audit" '"attempt":2,.*"device":"TL-0004",.*"outcome":"verified","port":"ttyACM1"'
    ;;
replug) # unplugged and plugged in again at once, and another logger put on the same port
    "$program" provision "$profile" --log "$audit" >"$work/out" 2>"$work/err" &
    pid=$!
    for n in 0 1; do eventually at_least "$(sim $n)" '^cmd 1 ' 1; done
    for n in 0 1; do "$ctl" unplug $n && "$ctl" replug $n; done
    eventually at_least "$work/out" 'ttyACM0 TL-0001 verified$' 2
    eventually at_least "$work/out" 'ttyACM1 TL-0009 verified$' 1
    ended "$pid" 0
    ;;
slow) # a logger that answers after 400 ms
    cli 1 write "$profile" --log "$audit" --retries 0
    has "$work/out" 'no identification answer within 250 ms \(a slow logger needs a longer --reply-timeout\)$'
    cli 0 write "$profile" --log "$audit" --reply-timeout 1000
    ;;
long_list) # a shipment of 100,000: one logger, the summary a screenful, every name in JSON
    { echo TL-0001; seq -f 'TL-9%05g' 99999; } >"$work/list"
    cli 1 write "$profile" --expect "$work/list" --log "$audit" --json
    has "$work/err" '^tempyra-cli: summary: 1 verified, 0 mismatched, 0 failed, 0 refused, 99999 never seen$' \
        '^  never seen  TL-900001, .*, TL-900012 and 99987 more$'
    [[ $(wc -l <"$work/err") -le 12 ]] || fail "the summary is longer than a screen"
    [[ $(json "$work/out" 'len(d["summary"]["neverSeen"])') -eq 99999 ]] || fail "not every name in JSON"
    ;;
people) # operators signed in and out with their own keys, a team file, sign-offs, approved
    # profiles; each refusal leaves the record and the loggers untouched
    umask 077
    team=$work/team.txt
    for who in ana rui qa; do
        echo "$who's long passphrase" >"$work/$who.pass"
    done
    cli 0 key new --key "$work/station.key"
    cp "$work/out" "$work/station.pub"
    cli 0 person new "Ana Lima" --key "$work/ana.key" --passphrase-file "$work/ana.pass"
    cp "$work/out" "$work/ana.pub"
    "$program" person new "Rui Costa" --key "$work/rui.key" --passphrase-file "$work/rui.pass" >"$work/rui.pub" 2>/dev/null
    "$program" person new "Quinn QA" --key "$work/qa.key" --passphrase-file "$work/qa.pass" >"$work/qa.pub" 2>/dev/null
    cli 0 trust add "$team" "$work/station.pub" --role station
    for grant in ana:operator rui:operator qa:reviewer qa:approver; do
        cli 0 trust add "$team" "$work/${grant%:*}.pub" --role "${grant#*:}"
    done
    station=(--key "$work/station.key" --log "$audit")
    as() { echo --sign-as "$work/$1.key" --passphrase-file "$work/$1.pass"; }
    # A wrong passphrase: refused before anything is sent or appended.
    echo "not it" >"$work/wrong.pass"
    cli 2 write "$profile" --port ttyACM0 "${station[@]}" --sign-as "$work/ana.key" --passphrase-file "$work/wrong.pass"
    has "$work/err" 'the passphrase does not open the person key'
    count "$(sim 0)" '^cmd ' 0
    [[ ! -e $audit ]] || fail "a record was started: $(cat "$audit")"
    # A run signed in and out, verified with the team file.
    cli 0 write "$profile" --port ttyACM0 "${station[@]}" $(as ana)
    cli 0 audit verify "$audit" --trust "$team"
    has "$work/out" 'lines 1 to 3 by Ana Lima \(operator\), signed in [0-9: -]+, signed out [0-9:]+ UTC$'
    # A sign-off covers the record up to its head; a run after it is named as not signed off.
    cli 0 audit sign-off "$audit" $(as qa) --meaning reviewed --reason "shipment 0412"
    cli 0 write "$profile" --port ttyACM0 "${station[@]}" $(as rui)
    cli 0 audit verify "$audit" --trust "$team"
    has "$work/out" 'line 4: reviewed by Quinn QA on .* UTC, covering lines 1 to 3 \(head 3:[0-9a-f]{16}\): "shipment 0412"$' \
        ': lines 5 to 7 are not signed off$'
    # A sign-off by a key without the role fails.
    cli 0 audit sign-off "$audit" $(as rui) --meaning reviewed
    cli 1 audit verify "$audit" --trust "$team"
    has "$work/out" ': line 8 is signed by Rui Costa, whose key is not trusted as reviewer or approver$'
    # The report: the sign-offs on the first page and in every page's footer.
    cli 1 report "$audit" --trust "$team" --output "$work/people.html"
    has "$work/people.html" '@bottom-left \{ content: "signed off: reviewed by Quinn QA, [0-9: -]+ UTC, lines 1 to 3"' \
        'Ana Lima \(signed in with their key\)'
    # A revoked operator's later run: its lines fail, those before the revocation hold.
    cp "$audit" "$work/before.jsonl"
    cli 0 trust revoke "$team" "$(sed -n 's/^# tempyra-cli person key \([0-9a-f]*\) .*/\1/p' "$work/rui.pub")"
    cli 0 write "$profile" --port ttyACM0 "${station[@]}" $(as rui)
    cli 1 audit verify "$audit" --trust "$team"
    has "$work/out" ': lines 9, 11 are signed by Rui Costa, whose key was revoked from '
    has "$work/out" 'holding every check: .*lines 5, 7 by [0-9a-f]{16}'
    # A sign-off copied into another record fails there.
    grep '"signOff"' "$work/before.jsonl" | head -n 1 >>"$work/other.jsonl"
    cli 1 audit verify "$work/other.jsonl" --trust "$team"
    has "$work/out" ': line 1 is a sign-off of 3:[0-9a-f]{64}, which this record does not hold before it'
    # Profiles: unapproved, changed after the approval, approved by the operator who runs it.
    sent=$(grep -c '^cmd 1 ' "$(sim 0)")
    cli 2 write "$profile" --port ttyACM0 "${station[@]}" $(as ana) --require-approved --trust "$team"
    has "$work/err" 'is not approved: there is no '
    cli 0 profile approve "$profile" $(as qa)
    cli 2 write "$profile" --port ttyACM0 "${station[@]}" $(as qa) --require-approved --trust "$team"
    has "$work/err" 'is approved by Quinn QA, who is the operator running it'
    cp "$profile" "$work/changed.json" && cp "$profile.approval" "$work/changed.json.approval"
    sed -i 's/"00:15"/"00:20"/' "$work/changed.json"
    cli 2 write "$work/changed.json" --port ttyACM0 "${station[@]}" --require-approved --trust "$team"
    has "$work/err" 'was changed after it was approved'
    count "$(sim 0)" '^cmd 1 ' "$sent"
    cli 0 write "$profile" --port ttyACM0 "${station[@]}" $(as ana) --require-approved --trust "$team"
    has "$audit" '"profile":\{"approver":"[0-9a-f]{16}","sha256":"[0-9a-f]{64}"\}'
    # A run killed before it signs out is named as such.
    "$program" provision "$profile" --key "$work/station.key" --log "$work/killed.jsonl" $(as ana) \
        >"$work/killed.out" 2>"$work/err" &
    pid=$!
    eventually at_least "$work/killed.out" 'TL-0001 verified' 1
    kill -KILL "$pid"
    wait "$pid" || true
    cli 0 audit verify "$work/killed.jsonl" --trust "$team"
    has "$work/out" 'by Ana Lima \(operator\), signed in [0-9: -]+ UTC, not signed out: the run ended without it'
    ;;
control_characters) # a logger's bytes reach the terminal escaped, never raw
    cli 0 list
    has "$work/out" '^ttyACM0 +/dev/ttyACM0 +TL000001 +yes +TL-0009\\rX$'
    count "$work/out" $'\r' 0
    cli 0 write "$profile" --log "$audit"
    has "$work/out" '^ttyACM0 TL-0009\\rX verified$'
    has "$work/err" '^  verified +TL-0009\\rX$'
    cat "$work/out" "$work/err" >"$work/both"
    count "$work/both" $'\r' 0
    ;;
*) fail "unknown case" ;;
esac
echo "cli_bench $case: ok"
