#!/usr/bin/env bash
# Starts orvelane headless in an empty home, checks the settings line on
# standard output, then ends it with SIGTERM and expects a clean exit. Without
# a display it runs headless by itself; with one (here a display that does not
# answer), --headless makes it so.
set -u
unset WAYLAND_DISPLAY
nodisplay=(env -u DISPLAY)
binary=$(realpath "$1")
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
out="$home/stdout"

check() { # $1 settings file content or "" for none, $2 expected line
    rm -f "$home/.config/orvelane/Orvelane.ini"
    if [[ -n "$1" ]]; then
        mkdir -p "$home/.config/orvelane"
        printf '%s' "$1" > "$home/.config/orvelane/Orvelane.ini"
    fi
    (cd "$home" && HOME="$home" XDG_CONFIG_HOME= exec "${launch[@]}" "$binary" "${args[@]}") >"$out" 2>&1 &
    local pid=$!
    for _ in $(seq 50); do
        grep -qF "$2" "$out" && break
        sleep 0.1
    done
    if ! grep -qF "$2" "$out"; then
        echo "missing line: $2"; cat "$out"; kill -9 $pid; return 1
    fi
    kill -TERM $pid
    for _ in $(seq 50); do
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 $pid 2>/dev/null; then
        echo "still running after SIGTERM"; kill -9 $pid; return 1
    fi
    wait $pid
    local rc=$?
    [[ $rc -eq 0 ]] || { echo "exit code $rc"; cat "$out"; return 1; }
}

launch=("${nodisplay[@]}") args=(/default)
check "" "Impossible de lire Orvelane.ini" || exit 1
# --headless before or after /default
launch=(env DISPLAY=:999) args=(--headless /default)
check "" "Impossible de lire Orvelane.ini" || exit 1
args=(/default --headless)
check $'ListenAddress=127.0.0.1\nListenPort=0\n' "coute sur 127.0.0.1" || exit 1
launch=("${nodisplay[@]}") args=(/default)
check $'ListenAddress=127.0.0.1\nListenPort=0\n' "Chargement de $home/.config/orvelane/Orvelane.ini" || exit 1
# A listener that cannot open ends the program, saying what to do.
printf 'ListenAddress=not-an-address\nListenPort=0\n' > "$home/.config/orvelane/Orvelane.ini"
(cd "$home" && HOME="$home" XDG_CONFIG_HOME= "${nodisplay[@]}" "$binary" /default) >"$out" 2>&1
rc=$?
[[ $rc -eq 1 ]] && grep -q "cannot listen on not-an-address" "$out" && grep -q "ListenPort" "$out" ||
    { echo "listener failure: exit code $rc"; cat "$out"; exit 1; }

# With a display that answers (Xvfb, no notification area) the window starts
# and SIGTERM still ends the program, although closing the window only
# minimises it.
if command -v Xvfb >/dev/null 2>&1; then
    source "$(dirname "$0")/xserver.sh"
    start_xserver -screen 0 640x480x24 || { echo "window start: Xvfb did not start"; exit 1; }
    trap 'stop_xserver; rm -rf "$home"' EXIT
    rm -f "$home/.config/orvelane/Orvelane.ini" "$home/pid"
    printf 'ListenAddress=127.0.0.1\nListenPort=0\n' > "$home/.config/orvelane/Orvelane.ini"
    (cd "$home" && HOME="$home" XDG_CONFIG_HOME= sh -c 'echo $$ > "$1"; exec "$2" /default' sh \
        "$home/pid" "$binary") >"$out" 2>&1 &
    runner=$!
    for _ in $(seq 100); do
        grep -qF "coute sur 127.0.0.1" "$out" && break
        sleep 0.1
    done
    pid=$(cat "$home/pid" 2>/dev/null)
    grep -qF "coute sur 127.0.0.1" "$out" && [[ -n "$pid" ]] ||
        { echo "window start: no listening line"; cat "$out"; kill -9 $pid $runner 2>/dev/null; exit 1; }
    kill -TERM "$pid"
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "window start: still running after SIGTERM"; kill -9 "$pid"; exit 1
    fi
    wait $runner
    stop_xserver
    unset DISPLAY
    window_checks=1
else
    window_checks=0
fi

# One copy per settings folder: a second start says so and fails; a copy
# killed outright leaves its socket behind, and the next start replaces it.
mkdir -p "$home/.config/orvelane"
printf 'ListenAddress=127.0.0.1\nListenPort=0\n' > "$home/.config/orvelane/Orvelane.ini"
start_first() {
    (cd "$home" && HOME="$home" XDG_CONFIG_HOME= exec "${nodisplay[@]}" "$binary" /default) >"$out" 2>&1 &
    first=$!
    for _ in $(seq 100); do
        grep -qF "coute sur 127.0.0.1" "$out" && return 0
        sleep 0.1
    done
    echo "$1: the first copy does not listen"; cat "$out"; kill -9 $first; exit 1
}
start_first "second start"
(cd "$home" && HOME="$home" XDG_CONFIG_HOME= "${nodisplay[@]}" "$binary" /default) >"$home/second" 2>&1
rc=$?
[[ $rc -eq 1 ]] && grep -q "already running (settings in $home/.config/orvelane)" "$home/second" &&
    kill -0 $first 2>/dev/null ||
    { echo "second start: exit code $rc"; cat "$home/second"; kill -9 $first; exit 1; }
kill -9 $first
wait $first 2>/dev/null
start_first "after a copy was killed"
kill -TERM $first
wait $first || { echo "after a copy was killed: exit code $?"; exit 1; }

# The command line as Linux programs read it.
"$binary" --version | grep -qx "orvelane 2.20" || { echo "--version"; exit 1; }
"$binary" --help | grep -q "^Usage: orvelane" || { echo "--help"; exit 1; }
"$binary" --bogus 2>/dev/null; [[ $? -eq 2 ]] || { echo "an unknown option is not an error"; exit 1; }
# A command line that is refused leaves no file behind.
rm -rf "$home/.config" "$home/Orvelane.db"
(cd "$home" && HOME="$home" XDG_CONFIG_HOME= "${nodisplay[@]}" "$binary" /default --bogus) 2>/dev/null
rc=$?
[[ $rc -eq 2 && ! -e "$home/.config" && ! -e "$home/Orvelane.db" ]] ||
    { echo "refused command line: exit code $rc, files:"; ls -R "$home"; exit 1; }
echo "start-up: $((11 + window_checks)) passed, 0 failed"
