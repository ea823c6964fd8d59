#!/usr/bin/env bash
# Starts the real program under Xvfb with WINEPREFIX naming a Windows 10 disk (a folder holding
# Windows/System32/config/SOFTWARE, made from the public minimal hive), saves the info with
# mouse and keyboard, and checks the hive, System32 and what the System Properties program
# shows. Nothing of Wine's may appear on the disk.
#   windows-disk.sh <crestwick> <crestwick-sysprops> <testdata folder>
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
program=$(realpath "$1")
sysprops=$(realpath "$2")
minimal=$3/hives/minimal
make_work

disk=$work/disk
hive=$disk/Windows/System32/config/SOFTWARE
mkdir -p "$(dirname "$hive")"
cp "$minimal" "$hive"
chmod u+w "$hive"
hivexsh -w "$hive" <<'SCRIPT'
add Microsoft
cd Microsoft
add Windows NT
cd Windows NT
add CurrentVersion
cd CurrentVersion
setval 3
SystemRoot
string:C:\Windows
CurrentMajorVersionNumber
dword:0x0a
ProductName
string:Windows 10 Pro
cd \Microsoft
add Windows
cd Windows
add CurrentVersion
cd CurrentVersion
add OEMInformation
cd OEMInformation
setval 2
Manufacturer
string:Old Maker
SupportPhone
string:+44 20 7946 0000
commit
SCRIPT
before=$(cd "$disk" && find . | sort)

start_xvfb 200 "$work"
export WINEPREFIX=$disk
unset XDG_DATA_HOME
cd "$work"
show_crestwick "$program"

click 150 10                               # the info page
retype 359 166 "Crestwick Workstation"     # Computer Model
click 300 303                              # Save Info
sleep 1
kill -0 "$app" 2>/dev/null || fail "crestwick ended during the save"

# The maker read from the disk at start went back unchanged; the model is the one typed.
key='\Microsoft\Windows\CurrentVersion\OEMInformation'
[ "$(hivexget "$hive" "$key" Manufacturer)" = "Old Maker" ] || fail "Manufacturer: $(hivexget "$hive" "$key")"
[ "$(hivexget "$hive" "$key" Model)" = "Crestwick Workstation" ] || fail "Model: $(hivexget "$hive" "$key")"
[ "$(hivexget "$hive" "$key" SupportPhone)" = "+44 20 7946 0000" ] || fail "SupportPhone lost"
[ "$(hivexget "$hive" '\Microsoft\Windows NT\CurrentVersion' ProductName)" = "Windows 10 Pro" ] ||
    fail "other values changed"
expected=$'[general]\r\nManufacturer=Old Maker\r\nModel=Crestwick Workstation\r\n[Support Information]\r\nLine1=Add first line here\r\nLine2=Add another line here\r\n'
printf '%s' "$expected" >"$work/expected.ini"
cmp "$work/expected.ini" "$disk/Windows/System32/oeminfo.ini" || fail "oeminfo.ini differs"
after=$(cd "$disk" && find . | sort)
[ "$after" = "$(printf '%s\n./Windows/System32/oeminfo.ini' "$before" | sort)" ] ||
    fail "the disk holds other new files: $(diff <(echo "$before") <(echo "$after"))"

shown=$("$sysprops" --grab "$work/sysprops.png")
echo "$shown"
want=$'System Properties\nManufacturer: Old Maker\nModel: Crestwick Workstation\nOld Maker support\nPhone number: +44 20 7946 0000'
[ "$shown" = "$want" ] || fail "System Properties shows something else"
echo "the Windows disk took the save, and nothing of Wine's was made on it"
