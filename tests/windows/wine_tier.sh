#!/usr/bin/env bash
# The Windows build under Wine, one case per run, each in a fresh prefix that holds nothing but
# Wine's own fonts and the reserved ports COM5 and COM6:
#   wine_tier.sh CASE
# Environment: TEMPYRA_WINDOWS_DIR (tools/build-windows.sh's folder, with the ZIP and the
# installer), TEMPYRA_WINE_TEMPLATE (the prepared prefix, made by the case "prefix"),
# TEMPYRA_WINE_SERIAL (the folder of wine-pty-serial-shim.c and logger-com5.reg),
# TEMPYRA_LOGGER_SIM (the simulated logger), TEMPYRA_WINE_OUT (screenshots), DISPLAY (Xvfb).
#
# Wine 8.0 passes a program's requests to a pseudo-terminal but never its answers to
# QSerialPort, and its ports carry no USB identifiers. The programs talk to the simulated
# loggers through the shim, preloaded into Wine's Unix side, and find them through device nodes
# in the prefix's registry (see ../shared/toolchains/README.md); a case fails when the shim
# does not take. The case plain_wine runs without it.
set -euo pipefail
case=$1
template=${TEMPYRA_WINE_TEMPLATE:?}
serial=${TEMPYRA_WINE_SERIAL:?}
here=$(dirname "$0")
out=${TEMPYRA_WINE_OUT:-$PWD}/$case
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

fail() { echo "wine_tier $case: FAIL: $*" >&2 && import -window root "$out/failure.png" 2>/dev/null; exit 1; }
# eventually SECONDS COMMAND...: polls until COMMAND succeeds.
eventually() { local end=$((SECONDS + $1)); until "${@:2}" 2>/dev/null; do ((SECONDS < end)) && sleep 0.1 || return 1; done; }
# has FILE PATTERN...: each extended regular expression matches a line of FILE.
has() { for p in "${@:2}"; do grep -qE -- "$p" "$1" || fail "no line of $1 matches /$p/: $(cat "$1")"; done; }

if [[ $case == prefix ]]; then
    "$here/../../tools/wine-prefix.sh" "$template"
    # Reserved before any program of a case starts, Wine's mount manager links each name to a
    # fixed path of the prefix, where the case's simulated logger links its line; otherwise it
    # may give the name to a serial port of this machine.
    for n in 5 6; do WINEPREFIX=$template wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "../com$n" /f; done
    WINEPREFIX=$template wineserver --wait
    exec gcc -shared -fPIC -O2 -Wall -Wextra -o "$template/shim.so" "$serial/wine-pty-serial-shim.c" -ldl
fi
# A fresh prefix: the template's files linked, its registry copied.
[[ -f $template/system.reg && -f $template/shim.so ]] || fail "no prepared prefix at $template (run the case prefix)"
rm -rf "$out" && mkdir -p "$out"
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
cp -al "$template" "$WINEPREFIX" && rm "$WINEPREFIX"/*.reg && cp "$template"/*.reg "$WINEPREFIX/"
drive_c=$WINEPREFIX/drive_c
shim=$template/shim.so
# One server for the whole case: one that ends with the last program can race the next one.
wineserver --persistent >/dev/null 2>&1
trap 'kill $(jobs -p) 2>/dev/null || true; wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

# The ZIP unpacked in an empty folder; $bin holds the programs.
python3 -m zipfile -e "$(echo "${TEMPYRA_WINDOWS_DIR:?}"/tempyra-config-*-win64.zip)" "$drive_c/portable"
bin=$(echo "$drive_c"/portable/*/bin)
# A profile unlike the simulated logger's and the window's start values in every setting.
echo '{"scale": "F", "alarm": {"enabled": true, "lower": -5, "upper": 70}, "startDelay": "02:15",
      "interval": "01:30", "zone": "UTC+09:00", "report": "pdf"}' >"$drive_c/profile.json"
# shim_took FILE: the shim's line in a program's standard error, or the case fails.
shim_took() { [[ -z $shim ]] || grep -q '^wine-pty-shim: syscall table entry .* now calls' "$1" \
    || fail "the serial shim did not take under $(wine --version): $(grep -m3 wine-pty-shim "$1")"; }

# plug N [OPTION...]: a simulated logger on COMN with the USB serial number TL000<N-4>SIM, its
# device node imported and its line where the port's reservation points; its commands in
# $work/comN.log. unplug N: its line closed, then its node removed, as Windows drops a device.
plug() {
    wine regedit /S "$([[ $1 == 5 ]] && echo "$serial" || echo "$here")/logger-com$1.reg"
    "${TEMPYRA_LOGGER_SIM:?}" --link "$WINEPREFIX/com$1" "${@:2}" >"$work/com$1.log" 2>&1 &
    sims[$1]=$!
    eventually 5 test -e "$WINEPREFIX/com$1" || fail "the simulated logger on COM$1 did not start"
}
unplug() {
    kill "${sims[$1]}" && wait "${sims[$1]}" || true
    wine reg delete "HKLM\\System\\CurrentControlSet\\Enum\\USB\\VID_0483&PID_5740\\TL000$(($1 - 4))SIM" /f >/dev/null
}
# received N CODES: the codes of the commands the logger on COMN received, in order ("320").
received() { [[ $(sed -n 's/^cmd \(.\) .*/\1/p' "$work/com$1.log" | tr -d '\n') == "$2" ]]; }
# cli STATUS ARGS...: tempyra-cli.exe without a console (standard streams are files), which must
# exit with STATUS; its output, without Windows' line ends, in $work/out and $work/err.
cli() {
    local status=0
    LD_PRELOAD=$shim WINE_PTY_SHIM_DEBUG=1 timeout 60 wine "$bin/tempyra-cli.exe" "${@:2}" \
        </dev/null >"$work/out" 2>"$work/err" || status=$?
    sed -i 's/\r$//' "$work/out" "$work/err"
    [[ $status -eq $1 ]] || fail "tempyra-cli ${*:2} exited $status, not $1: $(cat "$work/out" "$work/err")"
    shim_took "$work/err"
}

# start_window EXE [ARGUMENT...]: runs it and waits for its window, titled $title (win, X, Y,
# WIDTH, HEIGHT); its exit status goes to $work/window.status, its standard error to
# $work/window.err.
title='Tempyra Config Tool'
start_window() {
    rm -f "$work/window.status"
    (cd "$(dirname "$1")" && LD_PRELOAD=$shim WINE_PTY_SHIM_DEBUG=1 wine "$(basename "$1")" "${@:2}" \
        >"$work/window.out" 2>"$work/window.err" && echo 0 >"$work/window.status" || echo $? >"$work/window.status") &
    # Searched again until found: Wine makes and drops X windows while a program starts, and a
    # window gone between xdotool's listing and its query fails that search (BadWindow).
    local deadline=$((SECONDS + 30)) geometry=
    until geometry=$(window_geometry); do
        ((SECONDS < deadline)) || fail "no window"
        sleep 0.2
    done
    eval "$geometry"
}
# window_geometry: win, X, Y, WIDTH and HEIGHT of the program's visible window, as shell
# assignments; fails while there is none.
window_geometry() {
    local found
    found=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null) || return 1
    win=${found%%$'\n'*}
    [[ -n $win ]] && xdotool getwindowgeometry --shell "$win" 2>/dev/null && echo "win=$win"
}
# Where the controls are from the window's top left corner: the form laid out with Wine's
# Tahoma (see the screenshots); each click's effect on the logger or the log is checked.
declare -A at=([about]="20 10" [deviceID]="173 45" [connect]="320 45" [read]="401 45"
    [deviceTime]="255 199" [log]="200 520" [setConfiguration]="224 628")
# (No --sync: it waits some 15 s for a pointer that is already there.)
click() { xdotool mousemove $((X + ${at[$1]% *})) $((Y + ${at[$1]#* })) click 1 "${@:2}"; }
# copy CONTROL: its whole text, selected and copied to the clipboard as a person would (Ctrl+A,
# Ctrl+C); nothing for an empty one.
copy() {
    echo -n '<empty>' | xclip -selection clipboard >/dev/null 2>&1 && click "$1" key ctrl+a ctrl+c sleep 0.3
    xclip -o -selection clipboard | sed 's/^<empty>$//'
}
# logged ENTRY AFTER: the activity log's last entry is ENTRY, within 5 s of asking.
last_entry() { [[ $(copy log | tail -n 1) == *" : $1" ]]; }
logged() { eventually 5 last_entry "$1" || fail "log after $2: $(copy log)"; }
# between TIME FROM TO: TIME (yyyy-mm-dd hh:mm:ss) is a time of UTC+09:00 from 3 s before FROM
# to 3 s after TO (seconds since the epoch): when a step began and when its effect was seen,
# however long a loaded machine took in between.
between() { local t=$(($(date -u -d "$1" +%s) - 32400)); ((t > $2 - 4 && t < $3 + 4)); }
# step NAME CODES ENTRY IDENTIFIER: the logger on COM5 has received CODES, the log's last entry
# is ENTRY and the identifier shown IDENTIFIER; a screenshot NAME.png.
step() {
    eventually 10 received 5 "$2" || fail "$1: the logger received $(cat "$work/com5.log")"
    logged "$3" "$1"
    [[ $(copy deviceID) == "$4" ]] || fail "$1: identifier shown $(copy deviceID), not $4"
    import -window root "$out/$1.png"
}
# ended STATUS: the window's program has ended, with that status.
ended() { eventually 15 test -f "$work/window.status" && (($(cat "$work/window.status") == $1)) || fail "not ended with $1"; }
about() { xdotool search --onlyvisible --name '^About$' getwindowgeometry; }

case $case in
portable) # the ZIP alone: the window, its log, the About dialog, a clean end
    start_window "$bin/tempyra-config.exe"
    [[ $WIDTH -eq 440 && $HEIGHT -eq 655 ]] || fail "window is ${WIDTH}x${HEIGHT}, not 440x655"
    logged "No Device Connected!" "start-up"
    import -window root "$out/window.png"
    click about
    eventually 10 eval '[[ $(about) == *"Geometry: 400x222"* ]]' || fail "no 400x222 About"
    import -window root "$out/about.png"
    xdotool key Escape
    eventually 5 eval '[[ -z $(about) ]]' || fail "Escape left the About dialog open"
    click log key alt+F4
    ended 0
    ;;
installer) # silent install, Start menu, the installed program, silent uninstall
    wine "$(echo "$TEMPYRA_WINDOWS_DIR"/tempyra-config-*-win64.exe)" /S
    folder="$drive_c/Program Files/Tempyra Config Tool"
    menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tempyra Config Tool"
    key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tempyra Config Tool'
    [[ -f $folder/bin/platforms/qwindows.dll ]] || fail "not installed under Program Files"
    strings "$menu/Tempyra Config Tool.lnk" >"$work/link"
    has "$work/link" '^C:\\Program Files\\Tempyra Config Tool\\bin\\tempyra-config\.exe$'
    strings "$menu/Tempyra Station.lnk" >"$work/link"
    has "$work/link" '^C:\\Program Files\\Tempyra Config Tool\\bin\\tempyra-station\.exe$'
    wine reg query "$key" >/dev/null || fail "no uninstall entry"
    start_window "$folder/bin/tempyra-config.exe"
    click log key alt+F4
    ended 0
    wine "$folder/Uninstall.exe" /S # goes on from a copy of itself in the temporary folder
    eventually 20 eval '[[ ! -e $folder && ! -e $menu ]] && ! wine reg query "$key" >/dev/null 2>&1' || fail "left behind"
    ;;
executables) # subsystems, the icon group and version block of the window's executable
    for program in config:GUI cli:CUI station:GUI; do
        x86_64-w64-mingw32-objdump -p "$bin/tempyra-${program%:*}.exe" >"$work/headers"
        has "$work/headers" "^Subsystem.*\\(Windows ${program#*:}\\)"
    done
    # The icon group, rebuilt as an icon file, is the program's icon file (and padding).
    ico=$here/../../resources/logos/icon.ico
    wrestool -x --type=14 --name=IDI_ICON1 --language=1033 "$bin/tempyra-config.exe" >"$work/icon"
    cmp -s -n "$(stat -c %s "$ico")" "$work/icon" "$ico" || fail "the icon group is not icon.ico"
    wrestool -x --raw --type=16 --language=1033 "$bin/tempyra-config.exe" | strings -el >"$work/version"
    has "$work/version" '^OriginalFilename$' '^Tempyra_Config_Tool\.exe$' '^Tempyra_Config_Tool$'
    station=$here/../../resources/logos/station.ico
    wrestool -x --type=14 --name=IDI_ICON1 --language=1033 "$bin/tempyra-station.exe" >"$work/icon"
    cmp -s -n "$(stat -c %s "$station")" "$work/icon" "$station" || fail "the station's icon group is not station.ico"
    ;;
plain_wine) # without the shim, Wine 8.0 as it is: the request reaches the logger, and its answer
    # never reaches the program. Should this fail, this Wine may no longer need the shim.
    plug 5
    shim='' cli 1 read --port COM5
    has "$work/out" '^  not read: no identification answer within 250 ms$'
    received 5 3 || fail "the logger received: $(cat "$work/com5.log")"
    ;;
cli) # tempyra-cli.exe without a console; loggers on COM5 and COM6 (whose first write comes out
    # with another interval) found, read, written, provisioned and recorded
    plug 5
    plug 6 --device-id TL-0002 --corrupt-field interval --faulty-writes 1
    printf 'TL-0001\nTL-0002\n' >"$drive_c/shipment.txt"
    # This account's station key, made under Wine where the writes look for it, signs every
    # line below; its public half is what the record is checked against (no port: no shim).
    shim='' cli 0 key new
    cp "$work/out" "$drive_c/station.pub"
    # exit status | output | a pattern of its lines, joined by spaces | arguments
    while IFS='|' read -r want stream pattern arguments; do
        # shellcheck disable=SC2086 # the arguments hold no spaces and no patterns
        cli "$want" $arguments
        tr '\n' ' ' <"$work/$stream" | grep -E -- "$pattern" >/dev/null || fail "tempyra-cli $arguments: $(cat "$work/$stream")"
    done <<'CASES'
0|out|^Usage: tempyra-cli |--help
0|out| COM5 +\\\\\.\\COM5 +TL0001SIM +yes +TL-0001 +COM6 +\\\\\.\\COM6 +TL0002SIM +yes +TL-0002 $|list
2|err|alarm\.upper: 90 is not allowed|write C:\profile.json --set alarm.upper=90 --port COM5
1|out| not read: |read --port COM9
0|out|^COM5 TL-0001 verified $|write C:\profile.json --port COM5
0|out|^COM5 TL-0001 +scale +F +alarm\.enabled +true +alarm\.lower +-5 +alarm\.upper +70 +startDelay +02:15 +interval +01:30 +zone +UTC\+09:00 +report +pdf +clock [-0-9: ]+, -?[01] s from|read --port COM5
1|out|^COM6 TL-0002 mismatch: interval 01:30 written, 01:31 read back $|write C:\profile.json --port COM6 --retries 0
0|err|every expected logger is verified .*summary: 2 verified, 0 mismatched|provision C:\profile.json --expect C:\shipment.txt
CASES
    # What each logger received: nothing for the refused profile.
    received 5 3232103203210 && received 6 3232103210 || fail "received: $(cat "$work"/com?.log)"
    audit=$(echo "$drive_c"/users/*/AppData/Roaming/tempyra-cli/audit.jsonl)
    user=${audit#"$drive_c/users/"} # the account whose profile folder holds it
    has "$audit" "\"device\":\"TL-0001\",\"host\":\"$(hostname -s)\",\"location\":\"[^\"]*COM5\",.*\"outcome\":\"verified\",.*\"user\":\"${user%%/*}\"" \
        '"fields":\["interval"\],.*"location":"[^"]*COM6",.*"outcome":"mismatch"'
    # The record signed under Wine checks out, whole and signed by that key, under Wine and with
    # the Linux build, from the same files.
    windows_path() { sed 's|^.*/drive_c/|C:\\|; s|/|\\|g' <<<"$1"; }
    shim='' cli 0 audit verify "$(windows_path "$audit")" --trust 'C:\station.pub'
    "${TEMPYRA_LINUX_CLI:?}" audit verify "$audit" --trust "$drive_c/station.pub" >"$work/out" 2>&1 \
        || fail "the Linux build's audit verify: $(cat "$work/out")"
    ;;
people) # a person's key made under Wine, a run signed in and out with it, a reviewer's sign-off;
    # the Linux build checks the record with the same team file
    plug 5
    for who in ana quinn; do printf '%s passphrase\n' "$who" >"$drive_c/$who.pass"; done
    shim='' cli 0 key new
    cp "$work/out" "$drive_c/station.pub"
    shim='' cli 0 person new "Ana Lima" --passphrase-file 'C:\ana.pass'
    cp "$work/out" "$drive_c/ana.pub"
    shim='' cli 0 person new "Quinn QA" --key 'C:\quinn.key' --passphrase-file 'C:\quinn.pass'
    cp "$work/out" "$drive_c/quinn.pub"
    for grant in station:station ana:operator quinn:reviewer; do
        shim='' cli 0 trust add 'C:\team.txt' "C:\\${grant%:*}.pub" --role "${grant#*:}"
    done
    shim='' cli 2 write 'C:\profile.json' --port COM5 --passphrase-file 'C:\quinn.pass' --sign-as ''
    cli 0 write 'C:\profile.json' --port COM5 --sign-as '' --passphrase-file 'C:\ana.pass'
    audit=$(echo "$drive_c"/users/*/AppData/Roaming/tempyra-cli/audit.jsonl)
    record=$(sed 's|^.*/drive_c/|C:\\|; s|/|\\|g' <<<"$audit")
    shim='' cli 0 audit sign-off "$record" --sign-as 'C:\quinn.key' --passphrase-file 'C:\quinn.pass' \
        --meaning reviewed
    shim='' cli 0 audit verify "$record" --trust 'C:\team.txt'
    "${TEMPYRA_LINUX_CLI:?}" audit verify "$audit" --trust "$drive_c/team.txt" >"$work/out" 2>&1 \
        || fail "the Linux build's audit verify: $(cat "$work/out")"
    has "$work/out" 'lines 1 to 3 by Ana Lima \(operator\), signed in .* signed out ' \
        'line 4: reviewed by Quinn QA on .* covering lines 1 to 3' ': every line is signed off$'
    ;;
ctrl_c) # the station ends on Ctrl-C (SIGINT, which Wine hands to the console control
    # handlers as CTRL_C_EVENT) once the logger in progress is done
    plug 5
    LD_PRELOAD=$shim WINE_PTY_SHIM_DEBUG=1 wine "$bin/tempyra-cli.exe" provision 'C:\profile.json' \
        --port COM5 --settle 3000 </dev/null >"$work/out" 2>"$work/err" &
    # Once the configuration command is there, the station waits 3 s before reading it back.
    eventually 30 grep -q '^cmd 1 ' "$work/com5.log" || fail "no write: $(cat "$work/err")"
    kill -INT $!
    wait $! || fail "the station ended with $?, not 0: $(cat "$work/err")"
    sed -i 's/\r$//' "$work/out" "$work/err"
    has "$work/err" '^tempyra-cli: ending once the 1 logger in progress is done; Ctrl-C again ends at once$'
    has "$work/out" ' COM5 TL-0001 verified'
    shim_took "$work/err"
    ;;
window) # the window connects at start-up, reads, writes, notices an unplug, connects again, and
    # ends with the session; each step's screenshot in $out
    plug 5
    cli 0 write 'C:\profile.json' --port COM5
    start_window "$bin/tempyra-config.exe"
    step connected 321032 "Connected!" TL-0001
    began=$(date +%s)
    click read
    step read 3210320 "Reading Data" TL-0001
    seen=$(date +%s)
    # The form now holds the logger's settings (its device time the logger's clock), and Set
    # Configuration sends them back with the time of UTC+09:00.
    eventually 5 eval 'between "$(copy deviceTime)" $began $seen' || fail "device time $(copy deviceTime)"
    began=$(date +%s)
    click setConfiguration
    step written 32103201 "Device Configured!" TL-0001
    seen=$(date +%s)
    mapfile -t writes < <(sed -nE 's/^cmd 1 (.*)clock=(\S+) (..)-(..)-(....) (.*)/\1\6\t\5-\4-\3 \2/p' "$work/com5.log")
    [[ ${writes[1]%$'\t'*} == "${writes[0]%$'\t'*}" ]] && between "${writes[1]#*$'\t'}" "$began" "$seen" \
        || fail "the window wrote ${writes[1]}, the logger held ${writes[0]}"
    # Unplugged: the window's own "Disonnected!" within the presence watch's second of the node's
    # removal, and a little more for Wine's timers and port listing.
    closed=$(date +%s%3N)
    unplug 5
    gone=$(date +%s%3N)
    step unplugged 32103201 "Disonnected!" ""
    noticed=$(copy log | grep -m1 'Disonnected!$')
    noticed=$(date -d "${noticed:0:8}.${noticed:9:3}" +%s%3N)
    ((noticed - gone < 1500)) || fail "unplugged at $(date -d @"${gone::-3}" +%T.${gone: -3}), noticed at $noticed"
    echo "wine_tier window: the unplug noticed $((noticed - closed)) ms after the line closed," \
        "$((noticed - gone)) ms after the node's removal ($((gone - closed)) ms after the line)"
    plug 5
    click connect
    step replugged 32 "Connected!" TL-0001
    wine wineboot --end-session # a logoff, with the logger connected: the window ends
    ended 0
    shim_took "$work/window.err"
    ;;
station) # the station window started from the command line with a shipment of the loggers on
    # COM5 and COM6: both verified, recorded and signed off with the record's head
    plug 5
    plug 6 --device-id TL-0002
    printf 'TL-0001\nTL-0002\n' >"$drive_c/shipment.txt"
    title='Tempyra Station'
    start_window "$bin/tempyra-station.exe" --profile 'C:\profile.json' --expect 'C:\shipment.txt' \
        --operator 'Wine Tester' --log 'C:\station.jsonl'
    import -window root "$out/started.png"
    verified() { [[ $(grep -c '"outcome":"verified"' "$drive_c/station.jsonl" 2>/dev/null) -eq 2 ]]; }
    eventually 30 verified || fail "not both verified: $(cat "$drive_c/station.jsonl" "$work/window.err")"
    has "$drive_c/station.jsonl" '"device":"TL-0001".*"location":"[^"]*COM5".*"operator":"Wine Tester"' \
        '"device":"TL-0002".*"location":"[^"]*COM6".*"operator":"Wine Tester"'
    # One write each (an identification request may be made twice while Wine opens the port).
    [[ $(grep -c '^cmd 1 ' "$work/com5.log") -eq 1 && $(grep -c '^cmd 1 ' "$work/com6.log") -eq 1 ]] \
        || fail "received: $(cat "$work"/com?.log)"
    sleep 1 # the head and the done line painted
    import -window root "$out/verified.png"
    # Every listed logger verified: the run is over, and closing ends the program at once.
    xdotool key --window "$win" alt+F4
    ended 0
    shim_took "$work/window.err"
    ;;
*) fail "no such case" ;;
esac
echo "wine_tier $case: passed"
