#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them over the public corpus.
# Extra arguments go to every benchmark program (e.g. --benchmark_filter=...).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
export ORVELANE_CORPUS="${ORVELANE_CORPUS:-$(scripts/fetch-corpus.sh)}"
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELANE_TESTS=OFF -DORVELANE_BENCH=ON >/dev/null
cmake --build build/bench
for b in build/bench/bench/bench_*; do
    [[ -x "$b" ]] || continue
    echo "== $(basename "$b")"
    "$b" "$@"
done
