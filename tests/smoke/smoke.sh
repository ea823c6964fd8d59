#!/usr/bin/env bash
# Starts the real program on a fresh machine under Xvfb, waits for its window, takes a
# screenshot and checks that the window shows something.
#   smoke.sh <crestwick executable> <screenshot path>
set -euo pipefail
program=$1
shot=$2
work=$(mktemp -d)
display=":$(( 200 + RANDOM % 300 ))"
cleanup() {
    kill "${app:-}" "${xvfb:-}" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do
    DISPLAY="$display" xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

export WINEPREFIX="$work/prefix" HOME="$work/home" DISPLAY="$display"
unset QT_QPA_PLATFORM
"$program" &
app=$!

title="Crestwick --- Quillmere Softhouse"
for _ in $(seq 100); do
    xwininfo -name "$title" >/dev/null 2>&1 && break
    kill -0 "$app" 2>/dev/null || { echo "crestwick exited early"; exit 1; }
    sleep 0.1
done
xwininfo -name "$title" | grep -E 'Width|Height'
sleep 1
import -window root "$shot"
[ -f "$WINEPREFIX/system.reg" ] || { echo "the first start made no prefix"; exit 1; }
colours=$(convert "$shot" -format '%k' info:)
echo "screenshot $shot has $colours colours"
[ "$colours" -gt 8 ] || { echo "the window shows nothing"; exit 1; }
