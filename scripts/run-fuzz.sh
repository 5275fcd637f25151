#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 300) on a
# corpus seeded by make-fuzz-corpus.sh. A crash fails the run and leaves its input under
# build-fuzz/artifacts/ to be turned into a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
jobs=$(nproc)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target fuzz_preset fuzz_wave

root=build-fuzz
rm -rf "$root/seeds"
scripts/make-fuzz-corpus.sh "$root/seeds" 2>/dev/null
mkdir -p "$root/artifacts"

status=0
for target in preset wave; do
    corpus=$root/corpus/$target
    mkdir -p "$corpus"
    log=$root/fuzz_$target.log
    echo "fuzz_$target: ${seconds}s"
    if ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
        "$root/tests/fuzz/fuzz_$target" "$corpus" "$root/seeds/$target" \
        -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$root/artifacts/${target}-" >"$log" 2>&1; then
        runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
        echo "fuzz_$target: ${runs:-?} executions, no crash"
    else
        echo "fuzz_$target: FAILED; the end of its log:"
        tail -40 "$log"
        status=1
    fi
done
exit $status
