#!/usr/bin/env bash
# The Windows build under Wine, one case per run, each in a fresh prefix that holds nothing but
# Wine's own fonts:
#   wine_tier.sh CASE
# Environment: TEMPYRA_WINDOWS_DIR (tools/build-windows.sh's folder, with the ZIP and the
# installer), TEMPYRA_WINE_TEMPLATE (the prepared prefix, made by the case "prefix"),
# TEMPYRA_LOGGER_SIM (the simulated logger), TEMPYRA_WINE_OUT (screenshots), DISPLAY (Xvfb).
set -euo pipefail
case=$1
template=${TEMPYRA_WINE_TEMPLATE:?}
out=${TEMPYRA_WINE_OUT:-$PWD}/$case
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

fail() {
    echo "wine_tier $case: FAIL: $*" >&2
    import -window root "$out/failure.png" 2>/dev/null || true
    exit 1
}
# eventually SECONDS COMMAND...: polls until COMMAND succeeds.
eventually() {
    local end=$((SECONDS + $1))
    until "${@:2}" 2>/dev/null; do ((SECONDS < end)) && sleep 0.1 || return 1; done
}
# has FILE PATTERN...: each extended regular expression matches a line of FILE.
has() { for p in "${@:2}"; do grep -qE -- "$p" "$1" || fail "no line of $1 matches /$p/: $(cat "$1")"; done; }

if [[ $case == prefix ]]; then
    exec "$(dirname "$0")/../../tools/wine-prefix.sh" "$template"
fi
# A fresh prefix: the template's files linked, its registry copied.
[[ -f $template/system.reg ]] || fail "no prepared prefix at $template (run the case prefix)"
mkdir -p "$out"
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
cp -al "$template" "$WINEPREFIX" && rm "$WINEPREFIX"/*.reg && cp "$template"/*.reg "$WINEPREFIX/"
drive_c=$WINEPREFIX/drive_c
# One server for the whole case: one that ends with the last program can race the next one.
wineserver --persistent
sim=
trap 'kill $sim 2>/dev/null || true; wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

# The ZIP unpacked in an empty folder; $bin holds the programs.
mkdir "$drive_c/portable"
(cd "$drive_c/portable" && cmake -E tar xf "$(echo "${TEMPYRA_WINDOWS_DIR:?}"/tempyra-config-*-win64.zip)")
bin=$(echo "$drive_c"/portable/*/bin)
# A simulated logger on COM5 ("\\.\COM5"), its commands in $work/sim.log.
plug_logger() {
    "${TEMPYRA_LOGGER_SIM:?}" --link "$WINEPREFIX/dosdevices/com5" >"$work/sim.log" 2>&1 &
    sim=$!
    eventually 5 test -e "$WINEPREFIX/dosdevices/com5" || fail "the simulated logger did not start"
}
# cli STATUS ARGS...: tempyra-cli.exe without a console (standard streams are files), which must
# exit with STATUS; its output, without Windows' line ends, in $work/out and $work/err.
cli() {
    local status=0
    timeout 60 wine "$bin/tempyra-cli.exe" "${@:2}" </dev/null >"$work/out" 2>"$work/err" || status=$?
    sed -i 's/\r$//' "$work/out" "$work/err"
    [[ $status -eq $1 ]] || fail "tempyra-cli ${*:2} exited $status, not $1: $(cat "$work/out" "$work/err")"
}

# start_window EXE: runs it and waits for its window (win, X, Y, WIDTH, HEIGHT); its exit status
# goes to $work/window.status.
start_window() {
    rm -f "$work/window.status"
    (cd "$(dirname "$1")" && wine "$(basename "$1")" && echo 0 >"$work/window.status" \
        || echo $? >"$work/window.status") &
    find_window() { win=$(xdotool search --onlyvisible --name '^Tempyra Config Tool$' | head -n 1) && [[ -n $win ]]; }
    eventually 30 find_window || fail "no window"
    eval "$(xdotool getwindowgeometry --shell "$win")"
}
# The whole activity log, copied to the clipboard as a person would (Ctrl+A, Ctrl+C).
activity_log() {
    xdotool mousemove --sync $((X + 200)) $((Y + 520)) click 1 key ctrl+a ctrl+c sleep 0.3
    xclip -o -selection clipboard | sed 's/^[0-9:]* : //'
}
# ended STATUS: the window's program has ended, with that status.
ended() {
    eventually 15 test -f "$work/window.status" || fail "the window did not end"
    [[ $(cat "$work/window.status") -eq $1 ]] || fail "ended with $(cat "$work/window.status")"
}
about() { xdotool search --onlyvisible --name '^About$' getwindowgeometry; }

case $case in
portable) # the ZIP alone: the window, its log, the About dialog, a clean end
    start_window "$bin/tempyra-config.exe"
    [[ $WIDTH -eq 440 && $HEIGHT -eq 655 ]] || fail "window is ${WIDTH}x${HEIGHT}, not 440x655"
    eventually 5 test "$(activity_log | tail -n 1)" = "No Device Connected!" || fail "log: $(activity_log)"
    import -window root "$out/window.png"
    xdotool mousemove --sync $((X + 20)) $((Y + 10)) click 1 # the About menu
    eventually 10 eval '[[ $(about) == *"Geometry: 400x222"* ]]' || fail "no 400x222 About: $(about)"
    import -window root "$out/about.png"
    xdotool key Escape
    eventually 5 eval '[[ -z $(about) ]]' || fail "Escape left the About dialog open"
    xdotool mousemove --sync $((X + 200)) $((Y + 520)) click 1 key alt+F4
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
    wine reg query "$key" >/dev/null || fail "no uninstall entry"
    start_window "$folder/bin/tempyra-config.exe"
    xdotool mousemove --sync $((X + 200)) $((Y + 520)) click 1 key alt+F4
    ended 0
    wine "$folder/Uninstall.exe" /S # goes on from a copy of itself in the temporary folder
    uninstalled() { [[ ! -e $folder && ! -e $menu ]] && ! wine reg query "$key" >/dev/null 2>&1; }
    eventually 20 uninstalled || fail "left behind: $(find "$folder" "$menu")"
    ;;
end_of_session) # a logoff: WM_QUERYENDSESSION, WM_ENDSESSION, and the process is gone
    start_window "$bin/tempyra-config.exe"
    wine wineboot --end-session
    ended 0
    ;;
executables) # subsystems, the icon group and version block of the window's executable
    for program in config:GUI cli:CUI; do
        x86_64-w64-mingw32-objdump -p "$bin/tempyra-${program%:*}.exe" >"$work/headers"
        has "$work/headers" "^Subsystem.*\\(Windows ${program#*:}\\)"
    done
    # The icon group, rebuilt as an icon file, is the program's icon file (and padding).
    ico=$(dirname "$0")/../../resources/logos/icon.ico
    wrestool -x --type=14 --name=IDI_ICON1 --language=1033 "$bin/tempyra-config.exe" \
        | head -c "$(stat -c %s "$ico")" | cmp -s - "$ico" || fail "the icon group is not icon.ico"
    wrestool -x --raw --type=16 --language=1033 "$bin/tempyra-config.exe" | strings -el >"$work/version"
    has "$work/version" '^OriginalFilename$' '^Tempyra_Config_Tool\.exe$' '^Tempyra_Config_Tool$'
    ;;
cli) # tempyra-cli.exe without a console; a write to the logger on COM5, recorded
    plug_logger
    echo '{"alarm": {"enabled": true, "lower": 2, "upper": 90}}' >"$drive_c/refused.json"
    echo '{"interval": "00:15"}' >"$drive_c/profile.json"
    # exit status | output | what it holds | arguments
    while IFS='|' read -r want stream pattern arguments; do
        read -ra arguments <<<"$arguments"
        cli "$want" "${arguments[@]}"
        has "$work/$stream" "$pattern"
    done <<'CASES'
0|out|^Usage: tempyra-cli |--help
0|out|AppData\\Roaming\\tempyra-cli\\audit\.jsonl|write --help
0|out|^tempyra-cli [0-9]+\.[0-9]+\.[0-9]+$|--version
2|err|unknown command frobnicate|frobnicate
0|err|no port with the logger's USB identifiers|list
2|err|alarm\.upper: 90 is not allowed|write C:\refused.json --port COM5
1|out|^  not read: |read --port COM9
1|out|^COM5 - not written: no identification answer|write C:\profile.json --port COM5
CASES
    # The identification requests of the write and of its retry, nothing of the refused profile.
    [[ $(grep -c '^cmd 3 ' "$work/sim.log") -eq 2 && $(grep -c '^cmd' "$work/sim.log") -eq 2 ]] \
        || fail "the logger received: $(cat "$work/sim.log")"
    audit=$(echo "$drive_c"/users/*/AppData/Roaming/tempyra-cli/audit.jsonl)
    user=${audit#"$drive_c/users/"} # the account whose profile folder holds it
    has "$audit" '"attempt":2,.*"location":"\\\\\\\\\.\\\\COM5".*"outcome":"not written"' \
        "\"user\":\"${user%%/*}\"" "\"host\":\"$(hostname -s)\""
    ;;
ctrl_c) # the station ends on Ctrl-C (SIGINT, which Wine hands to the console control
    # handlers as CTRL_C_EVENT) once the logger in progress is done
    plug_logger
    echo '{}' >"$drive_c/profile.json"
    wine "$bin/tempyra-cli.exe" provision 'C:\profile.json' --port COM5 </dev/null >"$work/out" 2>"$work/err" &
    # Right after it says so, the station is identifying the logger on COM5.
    eventually 30 grep -q 'Ctrl-C ends' "$work/err" || fail "the station did not start"
    kill -INT $!
    wait $! && status=0 || status=$?
    [[ $status -eq 1 ]] || fail "the station ended with $status, not 1: $(cat "$work/err")"
    has "$work/err" 'ending once the 1 logger\(s\) in progress are done'
    has "$work/out" ' COM5 - not written: no identification answer'
    ;;
*) fail "no such case" ;;
esac
echo "wine_tier $case: passed"
