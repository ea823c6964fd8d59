# Sourced by the tests that start real programs: starts Xvfb on a free-looking display
# number from base, waits until it answers, and points DISPLAY, WINEPREFIX and HOME at it and
# at the test's folder. Sets xvfb to the server's process id for the caller's cleanup.
#   start_xvfb <base display number> <work folder>
start_xvfb() {
    local display=":$(( $1 + RANDOM % 300 ))"
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 50); do
        DISPLAY="$display" xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
    export WINEPREFIX="$2/prefix" HOME="$2/home" DISPLAY="$display"
    unset QT_QPA_PLATFORM
    mkdir -p "$HOME"
}
