#!/usr/bin/env bash
# Starts the real program under Xvfb on a copy of a stock Wine prefix whose Manufacturer value
# is a number, which cannot be read as text: the window reports that and leaves the info page
# at its design texts. Save Info must not write those texts over the stored values; once the
# user has typed into a field, that field alone is saved.
#   unreadable-info.sh <crestwick> <testdata folder>
# Exits with 77 (skipped) when the stock prefix's files or a tool are not there.
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
program=$(realpath "$1")
data=$2/wine8-prefix
[ -f "$data/system.reg" ] || { echo "no stock prefix in $data"; exit 77; }
for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
make_work

make_stock_prefix "$data"
printf '\n%s 1796689520\n"Manufacturer"=dword:0000002a\n"Model"="Stored Model"\n' "$oem_key" \
    >>"$prefix/system.reg"
info=$prefix/drive_c/windows/system32/oeminfo.ini
printf '[general]\r\nManufacturer=Stored Maker\r\nModel=Stored Model\r\n[Support Information]\r\nLine1=Stored line 1\r\nLine2=Stored line 2\r\nLine3=Stored line 3\r\n' \
    >"$info"
cp "$prefix/system.reg" "$work/before.reg"
cp "$info" "$work/before.ini"

start_xvfb 200 "$work"
unset XDG_DATA_HOME
cd "$work"

# Presses Return on the next error box (titled as the program) once it shows.
dismiss_error_box() {
    local box=""
    for _ in $(seq 100); do
        box=$(xdotool search --name '^crestwick$' 2>/dev/null | head -1 || true)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || return 1
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    sleep 0.3
    xdotool key Return
    sleep 0.5
}

# The start reports the unreadable value before the window shows.
dismiss_error_box &
dismisser=$!
show_crestwick "$program"
wait "$dismisser" || fail "no error box at start"

click 150 10                               # the info page
click 300 303                              # Save Info, nothing typed
dismiss_error_box || fail "Save Info gave no error box"
kill -0 "$app" 2>/dev/null || fail "crestwick ended"
cmp "$work/before.reg" "$prefix/system.reg" || fail "Save Info changed system.reg"
cmp "$work/before.ini" "$info" || fail "Save Info changed oeminfo.ini"

retype 359 166 "Typed Model"               # Computer Model
click 300 303                              # Save Info
sleep 1
kill -0 "$app" 2>/dev/null || fail "crestwick ended"
expected=$'[general]\r\nManufacturer=Stored Maker\r\nModel=Typed Model\r\n[Support Information]\r\nLine1=Stored line 1\r\nLine2=Stored line 2\r\nLine3=Stored line 3\r\n'
printf '%s' "$expected" >"$work/expected.ini"
cmp "$work/expected.ini" "$info" || fail "oeminfo.ini is $(od -c "$info" | head)"
grep -q -x -F '"Model"="Typed Model"' "$prefix/system.reg" || fail "Model not saved"
grep -q -x -F '"Manufacturer"=dword:0000002a' "$prefix/system.reg" || fail "Manufacturer changed"
echo "the design texts were never saved; the typed field alone was"
