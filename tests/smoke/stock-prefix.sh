#!/usr/bin/env bash
# Starts the real program under Xvfb on a copy of a stock Wine 8 prefix (Windows 7 as Wine
# describes itself) whose maker left support values in the registry, saves the logo and the
# info with mouse and keyboard, and checks what is left in system.reg and system32 and what the
# System Properties program shows.
#   stock-prefix.sh <crestwick> <crestwick-sysprops> <testdata folder> <screenshot path>
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
program=$(realpath "$1")
sysprops=$(realpath "$2")
data=$3/wine8-prefix
shot=$(realpath -m "$4")
make_work

# The prefix: drives, the registry files as Wine wrote them, system32, a logo put there by
# the maker's installer, and the maker's support values.
make_stock_prefix "$data"
key=$oem_key
printf '\n%s 1796689520\n#time=1dd86aa9bc28e8a\n"SupportHours"="Weekdays 9 to 17"\n"SupportPhone"="+44 20 7946 0000"\n"SupportURL"="http://www.quillmere-softhouse.example/"\n' \
    "$key" >>"$prefix/system.reg"
cp "$prefix/system.reg" "$work/before.reg"
convert -size 120x120 gradient:'#3050c0'-'#c0e0ff' -fill white -pointsize 20 -gravity center \
    -annotate 0 'Crestwick' BMP3:"$prefix/drive_c/windows/system32/oemlogo.bmp"

start_xvfb 200 "$work"
unset XDG_DATA_HOME
cd "$work"
show_crestwick "$program"

click 394 280                              # Save Logo: the logo shown at start
click 150 10                               # the info page
retype 359 134 "Quillmere SoftHouse"       # Computer Manufacturer
retype 359 166 "Crestwick Workstation"     # Computer Model
retype 359 198 "Call us on weekdays"       # Optional Support Information 1
click 300 303                              # Save Info
sleep 1
kill -0 "$app" 2>/dev/null || fail "crestwick ended during the saves"

# system32 holds the whole oeminfo.ini and the logo.
expected=$'[general]\r\nManufacturer=Quillmere SoftHouse\r\nModel=Crestwick Workstation\r\n[Support Information]\r\nLine1=Call us on weekdays\r\nLine2=Add another line here\r\n'
printf '%s' "$expected" >"$work/expected.ini"
cmp "$work/expected.ini" "$prefix/drive_c/windows/system32/oeminfo.ini" ||
    fail "oeminfo.ini is $(od -c "$prefix/drive_c/windows/system32/oeminfo.ini" | head)"
# system.reg: only the OEMInformation key's times changed, and its three new values came.
removed=$(diff "$work/before.reg" "$prefix/system.reg" | sed -n 's/^< //p' || true)
added=$(diff "$work/before.reg" "$prefix/system.reg" | sed -n 's/^> //p' || true)
[ "$removed" = "$(printf '%s 1796689520\n#time=1dd86aa9bc28e8a' "$key")" ] || fail "removed: $removed"
grep -q -x -F '"Manufacturer"="Quillmere SoftHouse"' <<<"$added" || fail "added: $added"
grep -q -x -F '"Model"="Crestwick Workstation"' <<<"$added" || fail "added: $added"
grep -q -x -F '"Logo"="C:\\windows\\system32\\oemlogo.bmp"' <<<"$added" || fail "added: $added"
grep -q -x -E '#time=[0-9a-f]{15}' <<<"$added" || fail "added: $added"
[ "$(wc -l <<<"$added")" -eq 5 ] || fail "added: $added"
head -4 "$prefix/system.reg" | grep -q -x '#arch=win64' || fail "the preamble changed"
echo "system.reg: $(wc -l <<<"$added") lines added or renewed, every other byte kept"

# The System Properties program shows the registry's values, the logo and the support part.
shown=$("$sysprops" --grab "$shot")
echo "$shown"
want=$'System Properties\nlogo: 120x120 in 120x120\nManufacturer: Quillmere SoftHouse\nModel: Crestwick Workstation\nQuillmere SoftHouse support\nPhone number: +44 20 7946 0000\nSupport hours: Weekdays 9 to 17\nWebsite: http://www.quillmere-softhouse.example/'
[ "$shown" = "$want" ] || fail "System Properties shows something else"
echo "screenshot $shot"
