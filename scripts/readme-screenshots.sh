#!/usr/bin/env bash
# Takes the README's screenshots: each page of the main window under Xvfb with a button under
# the mouse, and the System Properties program after an info and a logo save.
#   scripts/readme-screenshots.sh [build folder]   (needs xdotool besides the usual packages)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
out="$here/docs"
command -v xdotool >/dev/null || { echo "xdotool is needed: apt-get install xdotool"; exit 1; }
work=$(mktemp -d)
display=":$(( 300 + RANDOM % 100 ))"
cleanup() {
    kill "${app:-}" "${xvfb:-}" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
Xvfb "$display" -screen 0 800x500x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
export DISPLAY="$display" WINEPREFIX="$work/prefix" HOME="$work/home"
mkdir -p "$HOME"

"$build/app/crestwick" &
app=$!
title="Crestwick --- Quillmere Softhouse"
for _ in $(seq 100); do xdotool search --name "$title" >/dev/null 2>&1 && break; sleep 0.1; done
window=$(xdotool search --name "$title" | head -1)
xdotool windowmove "$window" 20 20
xdotool windowfocus "$window"
sleep 0.5
# Page origin within the screen: the window's corner plus the notebook's tab row.
geometry=$(xwininfo -id "$window")
left=$(awk '/Absolute upper-left X/ {print $4}' <<<"$geometry")
top=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$geometry")

shoot() { # page-x page-y tab-x name
    xdotool mousemove $((left + $3)) $((top + 10)) click 1
    sleep 0.3
    xdotool mousemove $((left + $1)) $((top + $2))
    sleep 0.5
    import -window root -crop 560x400+$((left - 10))+$((top - 10)) "$out/$4"
}
shoot 64 285 40 page-logo.png      # Autoscan Disks hovered
shoot 300 310 150 page-info.png    # Save Info hovered
shoot 444 235 240 page-about.png   # Desktop Shortcut hovered
kill "$app"

# The logo page after Autoscan Disks of a drive of photos in deep folders, one of them
# previewed, Save Logo hovered: the list keeps the file names in view. Started on that drive, the window
# selects it.
pictures="$work/pictures"
for folder in "Holiday 2019/Beach at dusk" "Holiday 2019/Old town" "Family/Birthday party" \
    "Scans/Company letterhead"; do
    mkdir -p "$pictures/$folder"
done
convert -size 320x200 gradient:'#f0a030'-'#3050c0' "$pictures/Holiday 2019/Beach at dusk/sunset-over-the-bay.jpg"
convert -size 320x200 gradient:'#80c0ff'-'#206020' "$pictures/Holiday 2019/Old town/market-square.jpg"
convert -size 320x200 gradient:'#ffe0e0'-'#a02040' "$pictures/Family/Birthday party/cake-and-candles.jpg"
convert -size 180x114 gradient:'#3050c0'-'#c0e0ff' -fill white -pointsize 22 -gravity center \
    -annotate 0 'Crestwick' BMP3:"$pictures/Scans/Company letterhead/crestwick-logo.bmp"
ln -s "$pictures" "$WINEPREFIX/dosdevices/d:"
(cd "$pictures" && exec "$build/app/crestwick") &
app=$!
for _ in $(seq 100); do xdotool search --name "$title" >/dev/null 2>&1 && break; sleep 0.1; done
window=$(xdotool search --name "$title" | head -1)
xdotool windowmove "$window" 20 20
xdotool windowfocus "$window"
sleep 0.5
xdotool mousemove $((left + 64)) $((top + 285)) click 1 # Autoscan Disks
sleep 1
xdotool mousemove $((left + 390)) $((top + 86)) click 1 # the second row
sleep 0.5
xdotool mousemove $((left + 394)) $((top + 285))        # Save Logo hovered
sleep 1
import -window root -crop 560x400+$((left - 10))+$((top - 10)) "$out/page-logo-scan.png"
kill "$app"

# The System Properties program after a save of the info and the logo.
"$build/app/crestwick" &
app=$!
sleep 2
kill "$app"
printf '[general]\r\nManufacturer=Quillmere SoftHouse\r\nModel=Crestwick Workstation\r\n[Support Information]\r\nLine1=Call us on weekdays\r\nLine2=crestwick@quillmere-softhouse.example\r\n' \
    >"$WINEPREFIX/drive_c/WINDOWS/system/oeminfo.ini"
convert -size 180x114 gradient:'#3050c0'-'#c0e0ff' -fill white -pointsize 22 -gravity center \
    -annotate 0 'Crestwick' BMP3:"$WINEPREFIX/drive_c/WINDOWS/system/oemlogo.bmp"
"$build/sysprops/crestwick-sysprops" --grab "$out/sysprops.png" >/dev/null

# The System Properties program on a copy of a stock Wine prefix, after the smoke test's saves.
"$here/tests/smoke/stock-prefix.sh" "$build/app/crestwick" "$build/sysprops/crestwick-sysprops" \
    "$here/tests/data" "$out/sysprops-nt.png" >/dev/null
echo "screenshots written to $out"
