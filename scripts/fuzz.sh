#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (and the sanitizers) and
# runs each for a while over its seed corpus; new inputs it finds are kept in
# build/fuzz/tests/fuzz/corpus-<target>, crashes in the current directory.
#   fuzz.sh [seconds per target, default 60] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --tests
command -v clang++ >/dev/null 2>&1 || {
    sudo=(); [[ $(id -u) -ne 0 ]] && sudo=(sudo)
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends clang
}
seconds=${1:-60}
shift || true
targets=("${@:-analysis rules session}")
read -r -a targets <<<"${targets[*]}"

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVELANE_TESTS=ON -DORVELANE_FUZZ=ON >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Each target runs its full time: a crash, a time-out or an out-of-memory
# input is written out (crash-*, timeout-*, oom-*) and the fuzzing goes on in
# a fresh process (fork mode), and one target's finding does not keep the
# next one from running. The status says whether anything was found.
found=()
for target in "${targets[@]}"; do
    work=build/fuzz/tests/fuzz/corpus-$target
    mkdir -p "$work"
    echo "== fuzz_$target for ${seconds}s"
    before=$(find . -maxdepth 1 \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'leak-*' \) | wc -l)
    status=0
    build/fuzz/tests/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
        -print_final_stats=1 "$work" "tests/fuzz/corpus/$target" || status=$?
    after=$(find . -maxdepth 1 \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'leak-*' \) | wc -l)
    if [[ $status -ne 0 || $after -ne $before ]]; then
        found+=("fuzz_$target")
    fi
done
if [[ ${#found[@]} -gt 0 ]]; then
    echo "findings (see crash-*, timeout-*, oom-*, leak-* here): ${found[*]}" >&2
    exit 1
fi
