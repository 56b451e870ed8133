#!/usr/bin/env bash
# The Windows build under Wine, one case per run, each in a fresh prefix that holds nothing but
# Wine's own fonts:
#   wine_tier.sh CASE
# Environment: TEMPYRA_WINDOWS_DIR (tools/build-windows.sh's folder, with the ZIP and the
# installer), TEMPYRA_WINE_TEMPLATE (the prepared prefix, made by the case "prefix"),
# TEMPYRA_LOGGER_SIM (the simulated logger), TEMPYRA_WINE_OUT (screenshots), DISPLAY (Xvfb).
set -euo pipefail
case=$1
here=$(cd "$(dirname "$0")" && pwd)
packages=${TEMPYRA_WINDOWS_DIR:?}
template=${TEMPYRA_WINE_TEMPLATE:?}
out=${TEMPYRA_WINE_OUT:-$PWD}/$case
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
zip=$(ls "$packages"/tempyra-config-*-win64.zip)
installer=$(ls "$packages"/tempyra-config-*-win64.exe)

fail() {
    echo "wine_tier $case: FAIL: $*" >&2
    [[ -n ${DISPLAY:-} ]] && import -window root "$out/failure.png" 2>/dev/null
    exit 1
}
# eventually SECONDS COMMAND...: polls until COMMAND succeeds.
eventually() {
    local tries=$(($1 * 10))
    shift
    while ! "$@" 2>/dev/null; do
        ((--tries > 0)) || return 1
        sleep 0.1
    done
}
# has FILE PATTERN...: each extended regular expression matches a line of FILE.
has() {
    local file=$1 pattern
    shift
    for pattern; do
        grep -qE -- "$pattern" "$file" || fail "no line of $file matches /$pattern/: $(cat "$file")"
    done
}
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# --- A fresh prefix: the template's files linked, its registry copied -------------------------

if [[ $case == prefix ]]; then
    rm -rf "$template"
    WINEPREFIX=$template wine wineboot --init >/dev/null 2>&1
    WINEPREFIX=$template wineserver --wait
    # Wine keeps its own fonts (fonts-wine) out of a new prefix, and without Tahoma behind
    # "MS Shell Dlg 2" Windows programs get the first font of the system, a mathematical one.
    cp /usr/share/wine/fonts/*.ttf "$template/drive_c/windows/Fonts/"
    exit 0
fi
[[ -f $template/system.reg ]] || fail "no prepared prefix at $template (run the case prefix)"
mkdir -p "$out"
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
cp -al "$template" "$WINEPREFIX"
for file in system.reg user.reg userdef.reg .update-timestamp; do
    cp --remove-destination "$template/$file" "$WINEPREFIX/$file"
done
drive_c=$WINEPREFIX/drive_c
sim=
cleanup() {
    [[ -n $sim ]] && kill "$sim" 2>/dev/null
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

unzip_package() {
    mkdir -p "$drive_c/portable"
    (cd "$drive_c/portable" && cmake -E tar xf "$zip")
    bin=$(echo "$drive_c"/portable/*/bin)
}
# A simulated logger on COM5 ("\\.\COM5"), its commands in $work/sim.log.
plug_logger() {
    "${TEMPYRA_LOGGER_SIM:?}" --link "$WINEPREFIX/dosdevices/com5" "$@" >"$work/sim.log" 2>&1 &
    sim=$!
    eventually 5 test -e "$WINEPREFIX/dosdevices/com5" || fail "the simulated logger did not start"
}
# cli STATUS ARGS...: tempyra-cli.exe without a console (standard streams are files), which must
# exit with STATUS; its output in $work/out and $work/err.
cli() {
    local want=$1 status=0
    shift
    timeout 60 wine "$bin/tempyra-cli.exe" "$@" </dev/null >"$work/out.crlf" 2>"$work/err.crlf" \
        || status=$?
    tr -d '\r' <"$work/out.crlf" >"$work/out"
    tr -d '\r' <"$work/err.crlf" >"$work/err"
    [[ $status -eq $want ]] || fail "tempyra-cli $* exited $status, not $want: $(cat "$work/out" "$work/err")"
}
profile() {
    echo "$1" >"$work/profile.json"
    winpath "$work/profile.json"
}

# --- The window -----------------------------------------------------------------------------

# start_window EXE: runs it, waits for its window and sets win, X, Y, WIDTH, HEIGHT; its exit
# status goes to $work/window.status.
start_window() {
    rm -f "$work/window.status"
    (
        status=0
        cd "$(dirname "$1")" && wine "$(basename "$1")" || status=$?
        echo "$status" >"$work/window.status"
    ) &
    find_window() {
        win=$(xdotool search --onlyvisible --name '^Tempyra Config Tool$' | head -n 1)
        [[ -n $win ]]
    }
    eventually 30 find_window || fail "no window"
    eval "$(xdotool getwindowgeometry --shell "$win")"
}
# The whole activity log, copied to the clipboard as a person would (Ctrl+A, Ctrl+C).
activity_log() {
    xdotool mousemove --sync $((X + 200)) $((Y + 520)) click 1 key ctrl+a ctrl+c
    sleep 0.3
    xclip -o -selection clipboard | sed 's/^[0-9:]* : //'
}
# Alt+F4 closes it as its title bar's close button would; it must end, and end well.
close_window() {
    xdotool mousemove --sync $((X + 200)) $((Y + 520)) click 1 key alt+F4
    eventually 15 test -f "$work/window.status" || fail "the window did not end when closed"
    [[ $(cat "$work/window.status") -eq 0 ]] || fail "ended with status $(cat "$work/window.status")"
}
gone() { ! xdotool search --onlyvisible --name "$1" >/dev/null; }

case $case in
portable) # the ZIP alone: the window, its log, the About dialog, a clean end
    unzip_package
    start_window "$bin/tempyra-config.exe"
    [[ $WIDTH -eq 440 && $HEIGHT -eq 655 ]] || fail "window is ${WIDTH}x${HEIGHT}, not 440x655"
    eventually 5 test "$(activity_log | tail -n 1)" = "No Device Connected!" \
        || fail "log: $(activity_log)"
    import -window root "$out/window.png"
    xdotool mousemove --sync $((X + 20)) $((Y + 10)) click 1 # the About menu
    eventually 10 xdotool search --onlyvisible --name '^About$' || fail "no About dialog"
    about=$(xdotool search --onlyvisible --name '^About$' | head -n 1)
    [[ $(xdotool getwindowgeometry "$about") == *"Geometry: 400x222"* ]] \
        || fail "About dialog: $(xdotool getwindowgeometry "$about")"
    import -window root "$out/about.png"
    xdotool key Escape
    eventually 5 gone '^About$' || fail "Escape left the About dialog open"
    close_window
    ;;
installer) # silent install, Start menu, the installed program, silent uninstall
    wine "$installer" /S
    folder="$drive_c/Program Files/Tempyra Config Tool"
    menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tempyra Config Tool"
    [[ -f $folder/bin/tempyra-config.exe && -f $folder/bin/platforms/qwindows.dll ]] \
        || fail "not installed under Program Files: $(find "$drive_c/Program Files" | head)"
    strings "$menu/Tempyra Config Tool.lnk" | grep -qF 'C:\Program Files\Tempyra Config Tool\bin\tempyra-config.exe' \
        || fail "no Start-menu entry for the program: $(ls "$menu")"
    key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tempyra Config Tool'
    wine reg query "$key" >"$work/key" || fail "no uninstall entry"
    start_window "$folder/bin/tempyra-config.exe"
    close_window
    wine "$folder/Uninstall.exe" /S
    # The uninstaller works from a copy of itself in the temporary folder.
    eventually 20 test ! -e "$folder" || fail "left behind: $(find "$folder")"
    [[ ! -e $menu ]] || fail "the Start-menu entry is left behind"
    ! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry is left behind"
    ;;
end_of_session) # a logoff: WM_QUERYENDSESSION, WM_ENDSESSION, and the process is gone
    unzip_package
    start_window "$bin/tempyra-config.exe"
    wine wineboot --end-session
    eventually 15 test -f "$work/window.status" || fail "still running after the end of the session"
    eventually 5 gone '^Tempyra Config Tool$' || fail "the window outlived its session"
    ;;
executables) # subsystems, the icon group and version block of the window's executable
    unzip_package
    for exe in config cli; do
        x86_64-w64-mingw32-objdump -p "$bin/tempyra-$exe.exe" >"$work/$exe.headers"
    done
    has "$work/config.headers" '^Subsystem.*\(Windows GUI\)'
    has "$work/cli.headers" '^Subsystem.*\(Windows CUI\)'
    wrestool -l "$bin/tempyra-config.exe" >"$work/resources"
    has "$work/resources" "^--type=14 --name='IDI_ICON1' --language=1033 " \
        "^--type=16 --name=1 --language=1033 "
    # The icon group, rebuilt as an icon file, is the program's icon file (and padding).
    ico=$here/../../resources/logos/icon.ico
    wrestool -x --type=14 --name=IDI_ICON1 "$bin/tempyra-config.exe" | head -c "$(stat -c %s "$ico")" \
        | cmp -s - "$ico" || fail "the icon group is not resources/logos/icon.ico"
    wrestool -x --raw --type=16 "$bin/tempyra-config.exe" | strings -el >"$work/version"
    has "$work/version" '^OriginalFilename$' '^Tempyra_Config_Tool\.exe$' '^ProductName$' \
        '^Tempyra_Config_Tool$'
    ;;
cli) # tempyra-cli.exe without a console: help, version, usage, no logger, a refused profile
    unzip_package
    plug_logger
    cli 0 --help
    has "$work/out" '^Usage: tempyra-cli '
    cli 0 write --help
    has "$work/out" '^Usage: tempyra-cli .*write' 'AppData\\Roaming\\tempyra-cli\\audit\.jsonl'
    cli 0 --version
    has "$work/out" '^tempyra-cli [0-9]+\.[0-9]+\.[0-9]+$'
    cli 2 frobnicate
    has "$work/err" 'unknown command frobnicate'
    cli 0 list
    has "$work/err" "no port with the logger's USB identifiers"
    cli 2 write "$(profile '{"alarm": {"enabled": true, "lower": 2, "upper": 90}}')" --port COM5
    has "$work/err" 'alarm\.upper: 90 is not allowed'
    ! grep -q '^cmd' "$work/sim.log" || fail "a refused profile sent: $(cat "$work/sim.log")"
    cli 1 read --port COM9
    has "$work/out" '^COM9 - *$' 'not read: '
    ;;
write) # a write on COM5 reaches the logger; the missing answer is a failure, recorded
    unzip_package
    plug_logger
    cli 1 write "$(profile '{"interval": "00:15"}')" --port COM5
    has "$work/sim.log" '^cmd 3 '
    has "$work/out" '^COM5 - not written: no identification answer'
    audit=$(echo "$drive_c"/users/*/AppData/Roaming/tempyra-cli/audit.jsonl)
    [[ -f $audit ]] || fail "no audit record in the user's application data"
    # The account is the one whose profile folder holds the record.
    user=$(basename "$(dirname "$(dirname "$(dirname "$(dirname "$audit")")")")")
    has "$audit" '"location":"\\\\\\\\\.\\\\COM5"' '"outcome":"not written"' \
        "\"user\":\"$user\"" "\"host\":\"$(hostname -s)\""
    ;;
ctrl_c) # the station ends on Ctrl-C (SIGINT, which Wine hands to the console control
    # handlers as CTRL_C_EVENT) once the logger in progress is done
    unzip_package
    plug_logger
    log=$(winpath "$work/audit.jsonl")
    wine "$bin/tempyra-cli.exe" provision "$(profile '{}')" --port COM5 --log "$log" \
        </dev/null >"$work/out" 2>"$work/err" &
    station=$!
    # Right after it says so, the station is identifying the logger on COM5.
    eventually 30 grep -q 'Ctrl-C ends' "$work/err" || fail "the station did not start"
    kill -INT "$station"
    status=0
    wait "$station" || status=$?
    [[ $status -eq 1 ]] || fail "the station ended with $status, not 1: $(cat "$work/err")"
    has "$work/err" 'ending once the 1 logger\(s\) in progress are done'
    has "$work/out" ' COM5 - not written: no identification answer'
    has "$work/audit.jsonl" '"port":"COM5"'
    ;;
*)
    echo "wine_tier: unknown case $case" >&2
    exit 2
    ;;
esac
echo "wine_tier $case: passed"
