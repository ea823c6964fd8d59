#!/usr/bin/env bash
# Builds Crestwick and starts it. Without a display it runs under Xvfb, saves a screenshot of
# the window and prints where the screenshot is.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps.sh"
# A compiler cache, where the machine has one, makes builds of other checkouts quick.
if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
build="$here/build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The program and everything installing it takes (its helper programs, icons, manual pages),
# so that cmake --install and cpack work on the build folder afterwards.
cmake --build "$build" --target installable

if [ -n "${DISPLAY:-}" ]; then
    exec "$build/app/crestwick"
fi

display=":$(( 90 + RANDOM % 100 ))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "${app:-}" "$xvfb" 2>/dev/null || true' EXIT
sleep 1
DISPLAY="$display" "$build/app/crestwick" &
app=$!
sleep 3
shot="$build/crestwick-screenshot.png"
DISPLAY="$display" import -window root "$shot"
echo "No display: Crestwick ran under Xvfb; screenshot saved to $shot"
