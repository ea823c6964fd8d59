#!/usr/bin/env bash
# Resident memory of the real window across repeated Autoscans of one drive: the window runs
# under Xvfb on a tree of about 560 pictures among some 24,000 other files, xdotool clicks
# Autoscan Disks, and the script prints the window's resident memory before the first scan and
# after each one. A repeated scan of the same drive should end where the first one ended.
#   bench/scan-memory.sh [--root] [build folder] [scans]      (needs xdotool)
# --root scans drive z:, the whole Linux root, instead of the made-up tree.
#   CRESTWICK_WRAP="heaptrack -o /tmp/scans" bench/scan-memory.sh   runs the window under a tool
#   CRESTWICK_SHOT=/tmp/last.png bench/scan-memory.sh             keeps a picture of the end
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=false
if [ "${1:-}" = "--root" ]; then root=true; shift; fi
build=$(cd "${1:-$here/build}" && pwd)
scans=${2:-8}
command -v xdotool >/dev/null || { echo "xdotool is needed: apt-get install xdotool"; exit 1; }
work=$(mktemp -d)
display=":$(( 400 + RANDOM % 100 ))"
cleanup() {
    kill "${app:-}" "${xvfb:-}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The tree: 40 folders of 50 subfolders, each holding 12 other files; 560 pictures in all.
tree="$work/tree"
$root && tree=/
$root || mkdir -p "$tree"/folder-{1..40}/sub-{1..50}
$root || for a in {1..40}; do
    for b in {1..50}; do
        dir="$tree/folder-$a/sub-$b"
        for c in {1..12}; do : >"$dir/file-$c.txt"; done
        if (( b % 4 == 0 )); then : >"$dir/picture-$a-$b.jpg"; fi
        if (( b % 25 == 0 )); then : >"$dir/photo-$a-$b.bmp"; fi
    done
done
pictures=$(find "$tree" -xdev \( -iname '*.bmp' -o -iname '*.jpg' \) 2>/dev/null | wc -l)
files=$(find "$tree" -xdev -type f 2>/dev/null | wc -l)

# A 9x prefix whose drive d: is the tree; started in the tree, the window selects d: (z: for
# the root).
export WINEPREFIX="$work/prefix" HOME="$work/home"
mkdir -p "$HOME" "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c/WINDOWS/system"
ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
ln -s "$tree" "$WINEPREFIX/dosdevices/d:"
ln -s / "$WINEPREFIX/dosdevices/z:"
printf 'WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion]\n"SystemRoot"="C:\\\\WINDOWS"\n' \
    >"$WINEPREFIX/system.reg"
# A runaway scan must not take the machine's memory with it.
ulimit -v 4000000
Xvfb "$display" -screen 0 800x500x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
export DISPLAY="$display"
(cd "$tree" && exec ${CRESTWICK_WRAP:-} "$build/app/crestwick") &
app=$!
title="Crestwick --- Quillmere Softhouse"
for _ in $(seq 200); do xdotool search --name "$title" >/dev/null 2>&1 && break; sleep 0.1; done
window=$(xdotool search --name "$title" | head -1)
xdotool windowmove "$window" 20 20
sleep 1
geometry=$(xwininfo -id "$window")
left=$(awk '/Absolute upper-left X/ {print $4}' <<<"$geometry")
top=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$geometry")
pid=$(pgrep -n -f "$build/app/crestwick" || echo "$app")

# Resident memory in all, and the part of it that is the heap and other anonymous memory.
rss() {
    awk '/VmRSS/ {all = $2} /RssAnon/ {anon = $2}
         END {printf "%.1f MB (anonymous %.1f MB)", all / 1024, anon / 1024}' "/proc/$pid/status"
}
cputime() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# Waits until the window has used no processor time for a second.
settle() {
    local before after
    before=$(cputime)
    while sleep 1; after=$(cputime); [ "$after" != "$before" ]; do before=$after; done
}

echo "tree: $files files, $pictures pictures"
settle
echo "before any scan: $(rss)"
for n in $(seq "$scans"); do
    xdotool mousemove $((left + 64)) $((top + 285)) click 1
    sleep 0.5
    settle
    echo "after scan $n: $(rss)"
done
xdotool mousemove $((left + 64)) $((top + 285))
if [ -n "${CRESTWICK_SHOT:-}" ]; then
    import -window root -crop 560x400+$((left - 10))+$((top - 10)) "$CRESTWICK_SHOT"
fi
kill "$app"
