#!/usr/bin/env bash
# The program with its window on a virtual X display: SIGTERM ends it even
# while its start-up message box is open; a second start shows the running
# copy's window and ends, a second start with --headless says so and fails;
# with a notification area (trayer) the icon is there from the start, the
# window stays hidden until a second start asks for it.
# Exit 77 (skipped) without Xvfb or xdotool; the notification-area part is
# skipped without trayer.
set -u
for tool in Xvfb xdotool python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed: skipped"; exit 77; }
done
binary=$(realpath "$1")
home=$(mktemp -d)
children=()
cleanup() {
    for pid in "${children[@]}"; do kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    stop_xserver
    rm -rf "$home"
}
trap cleanup EXIT

source "$(dirname "$0")/xserver.sh"
start_xserver -screen 0 640x480x24 || { echo "FAIL: Xvfb did not start"; exit 1; }
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
export HOME=$home XDG_CONFIG_HOME= QT_QPA_PLATFORM=xcb
mkdir -p "$home/.config/orvelane"
cd "$home" || exit 1
passed=0

fail() {
    echo "FAIL: $1"
    shift
    for file in "$@"; do cat "$file"; done
    exit 1
}
# Waits up to 10 s for a command to succeed.
wait_for() {
    for _ in $(seq 100); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}
# Ends within 5 s after SIGTERM; the exit code in $rc.
ends() {
    kill -TERM "$1" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$1" 2>/dev/null && return 1
    wait "$1"
    rc=$?
}
visible() { xdotool search --onlyvisible --name "$1"; }
settings() { printf 'ListenAddress=127.0.0.1\nListenPort=%s\n' "$1" > "$home/.config/orvelane/Orvelane.ini"; }
start() { # $1 output file
    "$binary" /default >"$1" 2>&1 &
    pid=$!
    children+=($pid)
}

# SIGTERM while the box about the port taken is open ends the program.
python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen()
print(s.getsockname()[1], flush=True); time.sleep(120)' >"$home/port" &
children+=($!)
wait_for test -s "$home/port" || fail "no port holder"
settings "$(cat "$home/port")"
start "$home/boxed"
wait_for visible . || { xwininfo -root -tree | grep -v '^ *$'; fail "no message box for the port taken" "$home/boxed"; }
ends "$pid" || fail "SIGTERM with the box open: still running" "$home/boxed"
[[ $rc -eq 0 ]] || fail "SIGTERM with the box open: exit code $rc" "$home/boxed"
passed=$((passed + 1))

# A second start shows the first copy's window and ends; with --headless it
# fails. The first copy runs on.
settings 0
start "$home/first"
wait_for grep -qF "coute sur 127.0.0.1" "$home/first" || fail "first copy: not listening" "$home/first"
"$binary" /default >"$home/second" 2>&1
rc=$?
[[ $rc -eq 0 ]] && grep -q "already running.*window is shown" "$home/second" ||
    fail "second start: exit code $rc" "$home/second"
"$binary" --headless /default >"$home/second" 2>&1
rc=$?
[[ $rc -ne 0 ]] && grep -q "already running" "$home/second" ||
    fail "second start with --headless: exit code $rc" "$home/second"
kill -0 "$pid" || fail "first copy ended" "$home/first"
ends "$pid" && [[ $rc -eq 0 ]] || fail "first copy: no clean end" "$home/first"
passed=$((passed + 2))

# With a notification area: the icon from the start (a window embedded in
# the tray's), the main window hidden until a second start shows it.
if command -v trayer >/dev/null 2>&1; then
    trayer --edge top --align right --widthtype pixel --width 120 --height 24 >/dev/null 2>&1 &
    children+=($!)
    wait_for visible '^panel$' || fail "trayer did not start"
    tray=$(visible '^panel$' | head -n1)
    icons() { xwininfo -children -id "$tray" | grep -c '^ *0x'; }
    before=$(icons)
    more_icons() { [[ $(icons) -gt $before ]]; }
    start "$home/tray"
    wait_for grep -qF "coute sur 127.0.0.1" "$home/tray" || fail "with a tray: not listening" "$home/tray"
    wait_for more_icons || fail "with a tray: no icon at start-up" "$home/tray"
    visible "^Orvelane" && fail "with a tray: the window shows at start-up" "$home/tray"
    "$binary" /default >"$home/second" 2>&1 || fail "with a tray: second start" "$home/second"
    wait_for visible "^Orvelane" || fail "with a tray: the second start did not show the window" "$home/tray"
    ends "$pid" && [[ $rc -eq 0 ]] || fail "with a tray: no clean end" "$home/tray"
    passed=$((passed + 2))
else
    echo "trayer is not installed: the notification-area checks are skipped"
fi
echo "desktop start: $passed passed, 0 failed"
