#!/usr/bin/env bash
# Takes a picture of every window (with a sample mailbox analysed) into
# docs/screenshots/, on a virtual X display when Xvfb is installed, else on
# the offscreen platform; and the notification area with the program's icon
# when trayer is installed. --tray: that picture only.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/test
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVELANE_TESTS=ON >/dev/null
cmake --build "$dir" --target orvelane_screenshots
cmake --build "$dir" --target orvelane
mkdir -p docs/screenshots
out=$(realpath docs/screenshots)
program=$(realpath "$dir/orvelane")
if [[ "${1:-}" == "--tray" ]]; then
    :
elif command -v xvfb-run >/dev/null 2>&1; then
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$dir/tests/orvelane_screenshots" "$out"
else
    QT_QPA_PLATFORM=offscreen "$dir/tests/orvelane_screenshots" "$out"
fi

# The notification area with the program's icon: Xvfb, a window manager
# (openbox) and a tray host (trayer), the program started in a scratch home.
if command -v Xvfb >/dev/null && command -v trayer >/dev/null && command -v xdotool >/dev/null; then
    home=$(mktemp -d)
    pids=()
    trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$home"' EXIT
    source tests/scripts/xserver.sh
    start_xserver -screen 0 480x120x24 -dpi 96 || { echo "Xvfb did not start" >&2; exit 1; }
    pids+=("$xserver_pid")
    command -v openbox >/dev/null && { openbox >/dev/null 2>&1 & pids+=($!); }
    trayer --edge top --align right --widthtype pixel --width 120 --height 40 --tint 0xd8d8d8 --transparent true \
        --alpha 0 >/dev/null 2>&1 &
    pids+=($!)
    until xdotool search --onlyvisible --name '^panel$' >/dev/null 2>&1; do sleep 0.1; done
    mkdir -p "$home/.config/orvelane"
    printf 'ListenAddress=127.0.0.1\nListenPort=0\n' > "$home/.config/orvelane/Orvelane.ini"
    (cd "$home" && HOME="$home" XDG_CONFIG_HOME= QT_QPA_PLATFORM=xcb exec "$program" /default) \
        >"$home/log" 2>&1 &
    pids+=($!)
    sleep 3
    "$dir/tests/orvelane_screenshots" --screen "$out/tray.png" 360 0 120 40
fi
