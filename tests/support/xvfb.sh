# Sourced by the tests that start real programs: starts Xvfb on a display that it picks free
# itself (so that tests run beside other X servers never meet one), waits until it is ready,
# and points DISPLAY, WINEPREFIX and HOME at it and at the test's folder. Sets xvfb to the
# server's process id for the caller's cleanup.
#   start_xvfb <unused: kept for the callers> <work folder>
start_xvfb() {
    mkdir -p "$2"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$2/.xvfb-display" >/dev/null 2>&1 &
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
