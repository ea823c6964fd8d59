#!/usr/bin/env bash
# Times `crestwick-oem --image x.wim set --model M` on a WIM of about 300 MB against what a
# user does without it: extract the hive with wimlib's tool, merge the value with
# hivexregedit, put the hive back with wimupdate. Medians of 5 alternating runs, min-max.
#   bash bench/image-vs-peer.sh [build folder]   (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
tool=$build/cli/crestwick-oem
for need in wimcapture wimextract wimupdate hivexregedit; do
    command -v "$need" >/dev/null || { echo "image-vs-peer: $need is not installed; skipped"; exit 0; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
volume=$work/volume
mkdir -p "$volume/Windows/System32/config" "$volume/Program Files/Data"
# A Windows 10 hive made from the tests' minimal hive, and 300 MB of other files.
cp "$here/tests/data/hives/minimal" "$volume/Windows/System32/config/SOFTWARE"
cat >"$work/nt.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\OEMInformation]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT]

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion]
"SystemRoot"="C:\\Windows"
"CurrentVersion"="6.3"
"CurrentMajorVersionNumber"=dword:0000000a
REG
hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' \
    "$volume/Windows/System32/config/SOFTWARE" "$work/nt.reg"
for i in $(seq 1 30); do
    head -c 10000000 /dev/urandom >"$volume/Program Files/Data/blob$i.bin"
done
wimcapture "$volume" "$work/x.wim" Bench --compress=XPRESS >/dev/null
echo "WIM: $(du -h "$work/x.wim" | cut -f1)"

cat >"$work/model.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\OEMInformation]
"Model"="M"
REG
peer() {
    rm -rf "$work/peer" && mkdir "$work/peer"
    wimextract "$work/x.wim" 1 /Windows/System32/config/SOFTWARE --dest-dir="$work/peer" >/dev/null
    hivexregedit --merge --prefix 'HKEY_LOCAL_MACHINE\SOFTWARE' "$work/peer/SOFTWARE" "$work/model.reg"
    echo "add '$work/peer/SOFTWARE' /Windows/System32/config/SOFTWARE" |
        wimupdate "$work/x.wim" 1 >/dev/null
}
ours() { "$tool" --image "$work/x.wim" set --model M >/dev/null; }
seconds() { local start end; start=$(date +%s.%N); "$@"; end=$(date +%s.%N); echo "$end - $start" | bc -l; }

ours_times=() peer_times=()
for run in 1 2 3 4 5; do
    ours_times+=("$(seconds ours)")
    peer_times+=("$(seconds peer)")
done
stats() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {printf "%.3f s (%.3f-%.3f)", v[3], v[1], v[5]}'; }
median() { printf '%s\n' "$@" | sort -g | sed -n 3p; }
echo "crestwick-oem --image set: $(stats "${ours_times[@]}")"
echo "extract + hivexregedit + wimupdate: $(stats "${peer_times[@]}")"
echo "ratio (target <= 0.5): $(echo "$(median "${ours_times[@]}") / $(median "${peer_times[@]}")" | bc -l | cut -c1-5)"
