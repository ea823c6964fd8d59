#!/usr/bin/env bash
# Starts the real program on a fresh machine under Xvfb, waits for its window, takes a
# screenshot and checks that the window shows something.
#   smoke.sh <crestwick executable> <screenshot path>
set -euo pipefail
source "$(dirname "$0")/../support/xvfb.sh"
program=$1
shot=$2
make_work

start_xvfb 200 "$work"
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
