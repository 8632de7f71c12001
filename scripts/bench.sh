#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them over the public corpus: every
# benchmark program and the wrappers of the script benchmarks in
# build/bench/bench (not the build's own folders there). Extra arguments go to
# every benchmark (e.g. --benchmark_filter=...). Each one runs even when one
# before it failed; the exit status says whether all of them succeeded.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
export ORVELANE_CORPUS="${ORVELANE_CORPUS:-$(scripts/fetch-corpus.sh)}"
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELANE_TESTS=OFF -DORVELANE_BENCH=ON >/dev/null
cmake --build build/bench
failed=()
for b in build/bench/bench/bench_*; do
    [[ -f "$b" && -x "$b" ]] || continue
    echo "== $(basename "$b")"
    "$b" "$@" || failed+=("$(basename "$b")")
done
if ((${#failed[@]})); then
    echo "failed: ${failed[*]}" >&2
    exit 1
fi
