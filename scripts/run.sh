#!/usr/bin/env bash
# Installs what is missing, builds Orvelane and starts it the way the menu
# starts the installed program: with the files of its configuration folder
# (~/.config/orvelane), whatever the current directory. Arguments, when given,
# go to orvelane instead, run in the caller's directory
# (scripts/run.sh --learn-ham ~/Maildir, scripts/run.sh --headless).
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELANE_TESTS=OFF >/dev/null
cmake --build build/release
program=$(pwd)/build/release/orvelane
cd "$here"
[[ $# -gt 0 ]] || set -- /default
exec "$program" "$@"
