#!/usr/bin/env bash
# Builds the Debian package from a configured and built tree, checks its contents and desktop
# entry, installs it, starts the installed programs headless and removes the package again.
# Usage: .ci/check-package.sh [build-dir]   (default: build). Runs as root.
# Needs cmake (cpack), dpkg-dev (dpkg-shlibdeps), desktop-file-utils and apt.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
package=tempyra-config
export DEBIAN_FRONTEND=noninteractive
fail() {
    echo "check-package: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "installing the package needs root"
cmake --build "$build" --target tempyra-config tempyra-cli tempyra-station tempyra-cli-manual

out=$build/package-check
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out")
debs=("$out"/"$package"_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no $package .deb in $out"
deb=${debs[0]}

dpkg-deb --info "$deb"
dpkg-deb --contents "$deb" | tee "$out/contents.txt"
expected=(
    ./usr/bin/tempyra-config
    ./usr/bin/tempyra-cli
    ./usr/bin/tempyra-station
    ./usr/lib/tempyra-station/tempyra-station-sound.so
    ./usr/share/man/man1/tempyra-cli.1.gz
    ./usr/share/applications/tempyra-config.desktop
    ./usr/share/applications/tempyra-station.desktop
    ./usr/share/icons/hicolor/scalable/apps/tempyra-config.svg
    ./usr/share/icons/hicolor/scalable/apps/tempyra-station.svg
    ./usr/lib/udev/rules.d/70-tempyra-logger.rules
)
for size in 16 24 32 48 64 72 96 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/tempyra-config.png"
        "./usr/share/icons/hicolor/${size}x${size}/apps/tempyra-station.png")
done
for path in "${expected[@]}"; do
    awk '{ print $6 }' "$out/contents.txt" | grep -xF -- "$path" >/dev/null || fail "the package lacks $path"
done

depends=$(dpkg-deb --field "$deb" Depends)
names=$(awk -v RS='[,|]' '{ print $1 }' <<<"$depends")
for lib in libqt5widgets5 libqt5serialport5 libqt5gui5 libqt5core5a libqt5multimedia5 libc6 libstdc++6; do
    grep -qxF -- "$lib" <<<"$names" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb --field "$deb" Section)" = electronics ] || fail "wrong section"
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -x './postinst' >/dev/null || fail "no postinst"

dpkg-deb --extract "$deb" "$out/root"
for program in tempyra-config tempyra-station; do
    desktop-file-validate "$out/root/usr/share/applications/$program.desktop"
    grep -qx "Icon=$program" "$out/root/usr/share/applications/$program.desktop" ||
        fail "the desktop entry of $program names another icon"
done

removed=0
remove_package() {
    if [ "$removed" -eq 0 ]; then
        removed=1
        apt-get remove --purge -y "$package"
    fi
}
trap remove_package EXIT
apt-get install -y "$deb"
for program in tempyra-config tempyra-cli tempyra-station; do
    [ -x /usr/bin/$program ] || fail "/usr/bin/$program is not installed"
done

# The program has no exit of its own: it passes if it is still running after three seconds.
QT_QPA_PLATFORM=offscreen /usr/bin/tempyra-config </dev/null &
pid=$!
sleep 3
if ! kill -0 "$pid" 2>/dev/null; then
    status=0
    wait "$pid" || status=$?
    fail "the installed program ended by itself within 3 s (status $status)"
fi
kill "$pid"
wait "$pid" 2>/dev/null || true

# The station window: it starts and waits for its choices; a second one on the computer is
# refused, naming the first.
station_home=$(mktemp -d)
HOME=$station_home QT_QPA_PLATFORM=offscreen /usr/bin/tempyra-station </dev/null &
pid=$!
sleep 3
kill -0 "$pid" 2>/dev/null || fail "the installed tempyra-station ended by itself within 3 s"
second=0
HOME=$station_home QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/tempyra-station </dev/null \
    2>"$station_home/err" || second=$?
grep -q "a station is running on this computer already (process $pid of " "$station_home/err" ||
    fail "a second tempyra-station was not refused: $(cat "$station_home/err")"
kill "$pid"
wait "$pid" 2>/dev/null || true
rm -rf "$station_home"

# The command-line program: its help, and a list of the loggers (none here) that ends by itself.
help=$(/usr/bin/tempyra-cli --help) || fail "tempyra-cli --help failed"
grep -q 'list, read, write, provision, audit, report,' <<<"$help" ||
    fail "tempyra-cli --help names no commands"
/usr/bin/tempyra-cli list </dev/null || fail "tempyra-cli list failed"
# A record of two chained lines made here: the installed program checks it and makes its page.
record=$(mktemp -d)
first='{"device":"TL-0001","outcome":"verified","prev":"'$(printf '0%.0s' {1..64})'","seq":1}'
prev=$(printf '%s' "$first" | sha256sum | cut -d' ' -f1)
printf '%s\n{"device":"TL-0002","outcome":"refused","prev":"%s","seq":2}\n' "$first" "$prev" \
    >"$record/audit.jsonl"
/usr/bin/tempyra-cli audit verify "$record/audit.jsonl" || fail "tempyra-cli audit verify failed"
/usr/bin/tempyra-cli report "$record/audit.jsonl" --output "$record/report.html" &&
    grep -q 'TL-0002' "$record/report.html" || fail "tempyra-cli report failed"
# A station key, and a signed line of it (the repair of a line cut short) that the public key
# verifies, until the line is changed.
/usr/bin/tempyra-cli key new --key "$record/station.key" >"$record/station.pub" 2>/dev/null &&
    [ "$(stat -c %a "$record/station.key")" = 600 ] || fail "tempyra-cli key new failed"
printf '{"device":"TL-0003","outc' >"$record/signed.jsonl"
/usr/bin/tempyra-cli audit repair "$record/signed.jsonl" --key "$record/station.key" 2>/dev/null &&
    /usr/bin/tempyra-cli audit verify "$record/signed.jsonl" --trust "$record/station.pub" ||
    fail "a signed line does not verify"
sed -i 's/"user":"/"user":"x/' "$record/signed.jsonl"
! /usr/bin/tempyra-cli audit verify "$record/signed.jsonl" --trust "$record/station.pub" >/dev/null ||
    fail "a changed signed line verifies"
rm -rf "$record"
zcat "$out/root/usr/share/man/man1/tempyra-cli.1.gz" | grep '^\.TH TEMPYRA-CLI 1' >/dev/null ||
    fail "the manual page of tempyra-cli does not read"

remove_package
for program in tempyra-config tempyra-cli tempyra-station; do
    [ ! -e /usr/bin/$program ] || fail "/usr/bin/$program is still there after removal"
done
echo "check-package: $(basename "$deb") builds, installs, starts and removes cleanly"
