# Sourced by the scripts that need an X display. start_xserver starts Xvfb,
# exports DISPLAY and leaves the server's pid in $xserver_pid; extra arguments
# go to Xvfb. Returns non-zero when no server answers.
#
# -noreset: by default the server resets whenever its last client leaves (the
# probe below, a program the script ended) and refuses the clients that come
# in the meantime.
#
# The display number is drawn at random from a wide range, and drawn again
# when the server cannot take it: scripts and tests running side by side must
# not meet on one number, nor reuse at once the number of a server that is
# still going away (clients would reach the old server's socket).
start_xserver() {
    local numberfile number
    numberfile=$(mktemp)
    for _ in $(seq 10); do
        number=$((200 + RANDOM % 5000))
        [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]] && continue
        : >"$numberfile"
        Xvfb ":$number" -displayfd 3 -noreset -nolisten tcp "$@" 3>"$numberfile" >/dev/null 2>&1 &
        xserver_pid=$!
        # The server writes its number once it accepts connections.
        for _ in $(seq 100); do
            [[ -s "$numberfile" ]] && break
            kill -0 "$xserver_pid" 2>/dev/null || break
            sleep 0.1
        done
        if [[ -s "$numberfile" ]] && xdpyinfo -display ":$number" >/dev/null 2>&1; then
            rm -f "$numberfile"
            export DISPLAY=:$number
            return 0
        fi
        stop_xserver
    done
    rm -f "$numberfile"
    return 1
}

# Ends the server started above and waits for it: a server ended with
# SIGKILL leaves its socket and lock behind.
stop_xserver() {
    [[ -n "${xserver_pid:-}" ]] || return 0
    kill -TERM "$xserver_pid" 2>/dev/null && wait "$xserver_pid" 2>/dev/null
    xserver_pid=
}
