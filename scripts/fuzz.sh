#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: native clang, ASan and UBSan) and
# runs each one for SECONDS (default 300), starting from its seeds in
# tests/fuzz/corpus/<target>. New inputs are kept in build/fuzz/corpus/<target>
# for the next run; a finding leaves its input in build/fuzz/findings/<target>/
# and the fuzzer's report in build/test-logs/fuzz-<target>.log.
#
#   scripts/fuzz.sh [SECONDS]
#
# The targets run side by side, as many at once as there are CPUs (FUZZ_JOBS
# sets another number). Prints one line per target (its executions) and ends with
# "fuzz: N passed, M failed"; a target that ends without a finding passes.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/.." && pwd)
cd "$top"
seconds=${1:-300}
case "$seconds" in
    '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac

"$here/setup.sh" >/dev/null || exit 1
logdir="$top/build/test-logs"
mkdir -p "$logdir"
if ! cmake --preset fuzz >"$logdir/fuzz-build.log" 2>&1 ||
    ! cmake --build --preset fuzz >>"$logdir/fuzz-build.log" 2>&1; then
    tail -n 40 "$logdir/fuzz-build.log"
    echo "fuzz: BUILD FAILED (log: $logdir/fuzz-build.log)"
    exit 1
fi

# Any single allocation of 1 MiB or more is a finding: the largest a reader
# may make is a reply body of 64 KiB (and its text), a frame body 4 KiB, and
# libFuzzer counts its limit in whole MiB.
malloc_limit_mb=1
# fuzz_one FUZZER: runs one target; its result line goes to its .result file.
fuzz_one() {
    local fuzzer=$1 name corpus findings log max_len status runs inputs
    name=${fuzzer##*/fuzz_}
    corpus="$top/build/fuzz/corpus/$name"
    findings="$top/build/fuzz/findings/$name"
    log="$logdir/fuzz-$name.log"
    mkdir -p "$corpus" "$findings"
    max_len=4096
    if [ "$name" = frame_reader ]; then
        max_len=9000  # room for two frames of the largest body and their control bytes
    fi
    "$fuzzer" -max_total_time="$seconds" -malloc_limit_mb="$malloc_limit_mb" -timeout=10 \
        -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$findings/" \
        "$corpus" "$top/tests/fuzz/corpus/$name" >"$log" 2>&1
    status=$?
    runs=$(sed -nE 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\1 runs in \2 s/p' "$log" | tail -n 1)
    inputs=$(find "$corpus" -type f | wc -l)
    if [ "$status" -eq 0 ] && [ -n "$runs" ]; then
        echo "fuzz $name: $runs, no finding ($inputs inputs in its corpus)" >"$log.result"
    else
        {
            grep -E '^(==[0-9]+==ERROR|SUMMARY|.*broken:|artifact_prefix|Test unit written)' "$log" |
                head -n 8
            echo "fuzz $name: FINDING (exit $status; log: $log)"
        } >"$log.result"
    fi
}

# The targets run side by side, one per CPU (FUZZ_JOBS), each for its full time.
jobs=${FUZZ_JOBS:-$(nproc)}
fuzzers=("$top"/build/fuzz/tests/fuzz/fuzz_*)
for fuzzer in "${fuzzers[@]}"; do
    rm -f "$logdir/fuzz-${fuzzer##*/fuzz_}.log.result"
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        wait -n
    done
    fuzz_one "$fuzzer" &
done
wait
passed=0
failed=0
for fuzzer in "${fuzzers[@]}"; do
    result="$logdir/fuzz-${fuzzer##*/fuzz_}.log.result"
    if [ -s "$result" ]; then
        cat "$result"
        if tail -n 1 "$result" | grep -q ', no finding ('; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
        fi
    else
        echo "fuzz ${fuzzer##*/fuzz_}: no result"
        failed=$((failed + 1))
    fi
    rm -f "$result"
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
