#!/usr/bin/env bash
# Installs what is missing, builds with the tests and runs them all.
#   test.sh             the normal build
#   test.sh --sanitize  with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests

dir=build/test
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVELANE_TESTS=ON)
if [[ "${1:-}" == "--sanitize" ]]; then
    dir=build/sanitize
    args+=(-DORVELANE_SANITIZE=ON)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
cd "$dir"
ctest --output-on-failure -j "$(nproc)" --timeout 600
