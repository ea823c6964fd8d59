#!/usr/bin/env bash
# Starts the real program under Xvfb on a Windows 9x prefix whose oeminfo.ini was written in
# Windows-1252 and whose drive C holds a picture named in Latin-1, and checks with mouse and
# keyboard that the texts and the names keep their bytes: an unchanged save leaves oeminfo.ini
# byte for byte, a typed "Café" is stored as 43 61 66 E9, the picture "caf\xE9.bmp" is listed,
# previewed with its size and saved as the logo, and the shortcut to the program, which runs
# from a folder "caf\xE9", names that folder with its byte and its letter. Leaves screenshots
# of each step in the output folder.
#   encodings.sh <crestwick> <output folder>
# Exits with 77 (skipped) when Xvfb, xdotool, xwininfo or ImageMagick is not installed.
set -euo pipefail
for tool in Xvfb:xvfb xdotool:xdotool xwininfo:x11-utils import:imagemagick convert:imagemagick; do
    command -v "${tool%%:*}" >/dev/null ||
        { echo "SKIPPED: ${tool%%:*} is not installed: apt-get install ${tool#*:}"; exit 77; }
done
source "$(dirname "$0")/../support/xvfb.sh"
program=$(realpath "$1")
out=$(realpath -m "$2")
mkdir -p "$out"
make_work
shoot() { import -window root "$out/encodings-$1.png"; echo "screenshot $out/encodings-$1.png"; }
# The colour of the screen at window coordinates, as RRGGBB.
colour_at() {
    import -window root "$work/screen.png"
    convert "$work/screen.png" -format "%[hex:p{$((left + $1)),$((top + $2))}]" info: | cut -c1-6
}
# How many colours a rectangle of the window shows (1 where nothing is drawn):
#   colours_in X Y WIDTH HEIGHT
colours_in() {
    import -window root "$work/screen.png"
    convert "$work/screen.png" -crop "$3x$4+$((left + $1))+$((top + $2))" -format '%k' info:
}
# A file's bytes as one line of hexadecimal digits, to look for byte sequences in.
hex_of() { od -An -v -tx1 "$1" | tr -d ' \n'; }

start_xvfb 200 "$work"
unset XDG_DATA_HOME
prefix=$WINEPREFIX
system=$prefix/drive_c/WINDOWS/system

# The program runs from a folder that a Latin-1 system named "café".
folder="$work/caf"$'\xe9'
mkdir -p "$folder"
cp "$program" "$folder/crestwick"

# The first start makes the prefix, a Windows 9x one.
cd "$work"
show_crestwick "$folder/crestwick"
kill "$app"
wait "$app" 2>/dev/null || true
[ -d "$system" ] || fail "the first start made no prefix"

# oeminfo.ini as Windows wrote it in Windows-1252: "Müller" with the byte 0xFC, and a support
# line holding 0x81, which Windows-1252 leaves undefined.
printf '[general]\r\nManufacturer=M\xfcller GmbH\r\nModel=Tower\r\n[Support Information]\r\nLine1=Call \x81 us\r\nLine2=Mail us\r\n' \
    >"$system/oeminfo.ini"
cp "$system/oeminfo.ini" "$work/before.ini"
# "café.bmp" as a Latin-1 system names it: the byte 0xE9 alone is not UTF-8. One colour, so
# that the preview shows it.
picture="$prefix/drive_c/pics/caf"$'\xe9'".bmp"
mkdir -p "$prefix/drive_c/pics"
convert -size 120x80 xc:'#20c040' BMP3:"$picture"

# Started from drive C, which the drive box then shows and the scan searches.
cd "$prefix/drive_c"
show_crestwick "$folder/crestwick"

click 150 10                               # the info page
shoot info-loaded
click 300 303                              # Save Info, nothing changed
sleep 0.5
cmp "$work/before.ini" "$system/oeminfo.ini" ||
    fail "an unchanged save changed oeminfo.ini: $(od -c "$system/oeminfo.ini" | head)"
echo "an unchanged save left oeminfo.ini byte for byte"

# Computer Model. xdotool types "é" through a key it maps for the moment; the program must see
# the new key map before the key comes, hence the slow typing.
click 359 166
xdotool key ctrl+a
xdotool type --delay 200 "Café"
printf '[general]\r\nManufacturer=M\xfcller GmbH\r\nModel=Caf\xe9\r\n[Support Information]\r\nLine1=Call \x81 us\r\nLine2=Mail us\r\n' \
    >"$work/expected.ini"
# On a busy machine the last key may reach the window after the first click on Save Info;
# saving again is harmless, so the save is repeated for a few seconds until the text is whole.
for _ in $(seq 10); do
    sleep 0.3
    click 300 303                          # Save Info
    sleep 0.5
    cmp -s "$work/expected.ini" "$system/oeminfo.ini" && break
done
shoot info-cafe
cmp "$work/expected.ini" "$system/oeminfo.ini" ||
    fail "oeminfo.ini after typing Café is $(od -A x -t x1z "$system/oeminfo.ini")"
echo "the typed Café was stored as 43 61 66 e9"

click 40 10                                # the logo page
[ "$(colour_at 147 118)" != "20C040" ] || fail "the preview shows the picture before a click"
click 64 280                               # Autoscan Disks
sleep 2
shoot list
[ "$(colours_in 60 179 90 13)" -eq 1 ] || fail "the file size shows before a click"
click 330 68                               # the list's first and only row
sleep 0.5
shoot preview
[ "$(colour_at 147 118)" = "20C040" ] || fail "the preview does not show caf\\xe9.bmp"
[ "$(colours_in 60 179 90 13)" -gt 1 ] || fail "the file size of caf\\xe9.bmp does not show"
echo "the picture named with the byte 0xe9 is previewed with its size"
click 394 280                              # Save Logo
sleep 0.5
kill -0 "$app" 2>/dev/null || fail "crestwick ended during the saves"
cmp "$picture" "$system/oemlogo.bmp" || fail "oemlogo.bmp is not the picture"
echo "the picture was saved as oemlogo.bmp byte for byte"

click 240 10                               # the about page
click 444 235                              # Desktop Shortcut
sleep 0.5
shoot about
link="$prefix/drive_c/WINDOWS/Desktop/Crestwick.lnk"
[ -f "$link" ] || fail "no shortcut on the desktop"
# The 8-bit target path holds "caf", 0xE9, "\crestwick"; the Unicode one "café\crestwick"; the
# working directory, a counted Unicode string, "café\" at its end.
bytes=$(hex_of "$link")
grep -q '636166e95c63726573747769636b00' <<<"$bytes" || fail "the 8-bit path lost the byte: $bytes"
grep -q '630061006600e9005c00630072006500730074007700690063006b000000' <<<"$bytes" ||
    fail "the Unicode path lost the letter: $bytes"
grep -q '630061006600e9005c0000000000' <<<"$bytes" || fail "the working directory lost the letter: $bytes"
echo "the shortcut names the program's folder with the byte 0xe9 and the letter é"
