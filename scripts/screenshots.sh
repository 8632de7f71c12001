#!/usr/bin/env bash
# Takes a picture of every window (with a sample mailbox analysed) into
# docs/screenshots/, on a virtual X display when Xvfb is installed, else on
# the offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build/test
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVELANE_TESTS=ON >/dev/null
cmake --build "$dir" --target orvelane_screenshots
mkdir -p docs/screenshots
out=$(realpath docs/screenshots)
if command -v xvfb-run >/dev/null 2>&1; then
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$dir/tests/orvelane_screenshots" "$out"
else
    QT_QPA_PLATFORM=offscreen "$dir/tests/orvelane_screenshots" "$out"
fi
