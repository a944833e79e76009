#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz: clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time, as many at once as there are
# cores. Every target starts from a copy of its seed corpus in fuzz/corpus, so the repository
# is never written to.
#   scripts/fuzz.sh        60 seconds per target
#   scripts/fuzz.sh 30     30 seconds per target
# Exits 1 when any target crashes, leaks, runs out of memory, spends over 10 s on one input or
# breaks one of its invariants; the scratch folder with the failing inputs and logs is kept.
set -euo pipefail
source "$(dirname "$0")/lib/help.sh"
cd "$(dirname "$0")/.."
seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [seconds-per-target]" >&2
    exit 2
fi

scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

targets=(manifest changelog extract patch_record)
fuzzers="$PWD/build/fuzz/fuzz"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/ashenmarch-fuzz.XXXXXX")"
# The targets' own temporary files (the unpacking target's sandbox) go to a memory-backed
# folder where there is one: unpacking is bound by file-system calls, three times faster there.
sandboxes="$scratch"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    sandboxes="$(mktemp -d /dev/shm/ashenmarch-fuzz.XXXXXX)"
    trap 'rm -rf "$sandboxes"' EXIT
fi

# Runs one target in $scratch/<target>, where its corpus grows and failing inputs land. The exit
# status goes to a file, so a failure is reported with the others rather than stopping the
# script.
run_target() {
    local target="$1"
    local work="$scratch/$target"
    local tmp="$sandboxes/$target-tmp"
    mkdir -p "$work/corpus" "$tmp"
    cp -R "fuzz/corpus/$target/." "$work/corpus/"
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
        -print_final_stats=1 -artifact_prefix="$work/")
    if [ -f "fuzz/$target.dict" ]; then
        options+=(-dict="fuzz/$target.dict")
    fi
    local status=0
    TMPDIR="$tmp" "$fuzzers/fuzz_$target" "${options[@]}" "$work/corpus" \
        >"$work/log" 2>&1 || status=$?
    echo "$status" >"$work/status"
}

stat_of() {
    grep -o "stat::$1: *[0-9]*" "$2" | grep -o '[0-9]*$' || echo "?"
}

echo "Fuzzing ${#targets[@]} targets for $seconds s each…"
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do
        wait -n || true
    done
    run_target "$target" &
done
wait

failed=0
for target in "${targets[@]}"; do
    work="$scratch/$target"
    status="$(cat "$work/status")"
    result="ok"
    if [ "$status" != 0 ]; then
        result="FAILED (exit status $status)"
        failed=1
    fi
    printf '%-18s %10s inputs run, slowest %s s: %s\n' "$target" \
        "$(stat_of number_of_executed_units "$work/log")" \
        "$(stat_of slowest_unit_time_sec "$work/log")" "$result"
done

if [ "$failed" != 0 ]; then
    for target in "${targets[@]}"; do
        if [ "$(cat "$scratch/$target/status")" != 0 ]; then
            echo "--- $target" >&2
            grep -E 'invariant broken|outside the destination|ERROR|SUMMARY|Test unit written' \
                "$scratch/$target/log" >&2 || tail -n 20 "$scratch/$target/log" >&2
        fi
    done
    echo "Logs and failing inputs are kept in $scratch" >&2
    exit 1
fi
rm -rf "$scratch"
