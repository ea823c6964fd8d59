#!/usr/bin/env bash
# Installs the build into a temporary root, checks the list of installed files, starts the
# installed program under Xvfb on a fresh machine, clicks Control Panel and waits for the
# installed System Properties program's window.
#   install.sh <build folder>
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
cleanup() {
    kill "${app:-}" "${xvfb:-}" 2>/dev/null || true
    pkill -f "$work/root/usr/libexec/crestwick/crestwick-sysprops" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
(cd "$work/root" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/files"
sort "$here/../../dist/installed-files.txt" >"$work/expected"
if ! diff -u "$work/expected" "$work/files"; then
    echo "the installed files differ from dist/installed-files.txt"
    exit 1
fi
for size in 16 32 48 64 128 256; do
    got=$(identify -format '%wx%h' "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/crestwick.png")
    [ "$got" = "${size}x${size}" ] || { echo "the ${size} pixel icon is $got"; exit 1; }
done

start_xvfb 500 "$work"
"$work/root/usr/bin/crestwick" &
app=$!
title="Crestwick --- Quillmere Softhouse"
for _ in $(seq 100); do
    window=$(xdotool search --name "$title" 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    kill -0 "$app" 2>/dev/null || { echo "the installed crestwick exited early"; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "the installed crestwick shows no window"; exit 1; }
xdotool windowmove --sync "$window" 0 0
sleep 0.5
geometry=$(xwininfo -id "$window")
left=$(awk '/Absolute upper-left X/ {print $4}' <<<"$geometry")
top=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$geometry")
# The logo page's Control Panel button: 65 by 65 pixels at (290, 224) of the page, below
# the row of tabs.
xdotool mousemove $((left + 322)) $((top + 224 + 40)) click 1
for _ in $(seq 100); do
    if xwininfo -name "System Properties" >/dev/null 2>&1; then
        echo "the installed crestwick started the installed System Properties program"
        exit 0
    fi
    sleep 0.1
done
echo "no System Properties window appeared after Control Panel was clicked"
exit 1
