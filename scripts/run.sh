#!/usr/bin/env bash
# Installs what is missing, builds Orvelane and starts it. Arguments go to orvelane.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELANE_TESTS=OFF >/dev/null
cmake --build build/release
exec build/release/orvelane "$@"
