#!/usr/bin/env bash
# Renders the committed bitmaps from the SVG sources in resources/artwork/:
#   resources/logos/{iconLogo,orrinLogo,pellamLogo}.png and resources/logos/icon.ico,
#   packaging/icons/hicolor/NxN/apps/tempyra-config.png; the station window's
#   resources/logos/station.ico and packaging/icons/hicolor/NxN/apps/tempyra-station.png.
# Needs rsvg-convert (librsvg2-bin) and icotool (icoutils). The build never runs this.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
art=$root/resources/artwork
logos=$root/resources/logos
hicolor=$root/packaging/icons/hicolor
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

render() { # svg width height output
    rsvg-convert --width "$2" --height "$3" --format png --output "$4" "$1"
}

# The 16 and 24 pixel sizes come from a simplified drawing that stays legible.
icon_source() {
    if [ "$1" -le 24 ]; then echo "$art/icon-small.svg"; else echo "$art/icon.svg"; fi
}

mkdir -p "$logos"
render "$art/icon.svg" 96 96 "$logos/iconLogo.png"
render "$art/wordmark.svg" 96 17 "$logos/orrinLogo.png"
render "$art/partner.svg" 31 20 "$logos/pellamLogo.png"

bitmaps=()
for size in 16 24 32 48 64 72 80 96 128 256; do
    render "$(icon_source "$size")" "$size" "$size" "$work/icon-$size.png"
    if [ "$size" -lt 256 ]; then
        bitmaps+=("$work/icon-$size.png")
    fi
done
# 32-bit bitmap images for 16..128, the 256 image stored as PNG.
icotool --create --bit-depth=32 --output="$logos/icon.ico" "${bitmaps[@]}" \
    --raw="$work/icon-256.png"

listing=$(icotool --list "$logos/icon.ico")
count=$(grep -c -- '--icon' <<<"$listing")
if [ "$count" -ne 10 ]; then
    echo "render-artwork: icon.ico holds $count images, expected 10" >&2
    echo "$listing" >&2
    exit 1
fi

for size in 16 24 32 48 64 72 96 128 256; do
    mkdir -p "$hicolor/${size}x${size}/apps"
    cp "$work/icon-$size.png" "$hicolor/${size}x${size}/apps/tempyra-config.png"
done

echo "$listing"

# The station window's icon, from one drawing at every size.
station=()
for size in 16 24 32 48 64 72 96 128 256; do
    render "$art/station.svg" "$size" "$size" "$work/station-$size.png"
    cp "$work/station-$size.png" "$hicolor/${size}x${size}/apps/tempyra-station.png"
    [ "$size" -lt 256 ] && station+=("$work/station-$size.png")
done
icotool --create --bit-depth=32 --output="$logos/station.ico" "${station[@]}" \
    --raw="$work/station-256.png"
