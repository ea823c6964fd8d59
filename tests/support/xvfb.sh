# Sourced by the tests that start real programs: starts Xvfb on a display that it picks free
# itself (so that tests run beside other X servers never meet one), waits until it is ready,
# and points DISPLAY, WINEPREFIX and HOME at it and at the test's folder. Sets xvfb to the
# server's process id for the caller's cleanup. The server does not reset when its last client
# leaves: a reset then would drop the program while it connects, as a helper that looked for
# its window a moment earlier (xdotool search) leaves.
#   start_xvfb <unused: kept for the callers> <work folder>
start_xvfb() {
    mkdir -p "$2"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset 9>"$2/.xvfb-display" \
        >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do
        [ -s "$2/.xvfb-display" ] && break
        sleep 0.1
    done
    local display
    display=":$(head -1 "$2/.xvfb-display" 2>/dev/null)"
    [ "$display" != ":" ] || { echo "Xvfb did not start"; return 1; }
    export WINEPREFIX="$2/prefix" HOME="$2/home" DISPLAY="$display"
    unset QT_QPA_PLATFORM
    mkdir -p "$HOME"
}

# Starts the program (its process id in app) and waits for its main window, placed at (20, 20)
# and focused; then click X Y presses the mouse at window coordinates, and retype X Y TEXT
# clicks an edit and replaces its text. Fails when the program ends before its window shows.
#   show_crestwick <program>
show_crestwick() {
    "$1" &
    app=$!
    local title="Crestwick --- Quillmere Softhouse" window geometry
    for _ in $(seq 100); do
        xdotool search --name "$title" >/dev/null 2>&1 && break
        kill -0 "$app" 2>/dev/null || { echo "FAILED: crestwick exited early"; exit 1; }
        sleep 0.1
    done
    window=$(xdotool search --name "$title" | head -1)
    xdotool windowmove --sync "$window" 20 20
    xdotool windowfocus --sync "$window" || true
    sleep 0.5
    geometry=$(xwininfo -id "$window")
    left=$(awk '/Absolute upper-left X/ {print $4}' <<<"$geometry")
    top=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$geometry")
}
click() { xdotool mousemove $((left + $1)) $((top + $2)) click 1; sleep 0.4; }
retype() { click "$1" "$2"; xdotool key ctrl+a; xdotool type --delay 5 "$3"; sleep 0.2; }

# Makes prefix, a Wine-style prefix in the work folder, from the registry files of a stock Wine
# prefix: drives c: and z:, an empty system32, and writable copies of the .reg files. Sets
# oem_key to the OEMInformation section header as system.reg spells it.
#   make_stock_prefix <stock prefix folder>
make_stock_prefix() {
    prefix=$work/prefix
    mkdir -p "$prefix/dosdevices" "$prefix/drive_c/windows/system32"
    ln -s ../drive_c "$prefix/dosdevices/c:"
    ln -s / "$prefix/dosdevices/z:"
    cp "$1/system.reg" "$1/user.reg" "$1/userdef.reg" "$prefix/"
    chmod u+w "$prefix"/*.reg
    oem_key='[Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation]'
}

# Makes the test's temporary folder (work) and, when the script exits, ends the program and
# Xvfb and removes the folder; KEEP_WORK=1 keeps it for a look. fail TEXT ends the test.
make_work() {
    work=$(mktemp -d)
    trap end_work EXIT
}
end_work() {
    kill "${app:-}" "${xvfb:-}" 2>/dev/null || true
    if [ -n "${KEEP_WORK:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
fail() { echo "FAILED: $*"; exit 1; }
