#!/bin/sh
# Builds the libFuzzer targets (preset fuzz, clang) and runs each for
# SECONDS_PER_TARGET seconds (default 60, a bounded run for CI), as many at
# once as there are cores:
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
# Any length works: scripts/fuzz.sh 3600 fuzzes each target for an hour.
# Each target starts from a copy of its seed corpus in fuzz/corpus/<target>/,
# so the checked-in corpus never grows; the copy, with whatever the run
# added, stays in build/fuzz/work/<target>/. Exits non-zero when a target
# fails a check, crashes, leaks or hangs; the input that did it is saved in
# build/fuzz/artifacts/.
set -eu
cd "$(dirname "$0")/.."

seconds=${1:-60}
case $seconds in
    '' | *[!0-9]*)
        echo "fuzz.sh: '$seconds' is not a whole number of seconds; usage: scripts/fuzz.sh [SECONDS_PER_TARGET]" >&2
        exit 2
        ;;
esac
if [ "$seconds" -lt 1 ]; then
    echo "fuzz.sh: give at least 1 second per target" >&2
    exit 2
fi
if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz.sh: clang++ is missing; run scripts/install-deps.sh first" >&2
    exit 1
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
status=0
# fuzz_one TARGET: one target's run, from a fresh copy of its seed corpus;
# its exit code goes to build/fuzz/TARGET.status.
fuzz_one() {
    work="build/fuzz/work/$1"
    rm -rf "$work"
    mkdir -p "$work"
    cp fuzz/corpus/"$1"/* "$work"/
    # -timeout: every input takes microseconds, so five seconds is a hang.
    code=0
    "build/fuzz/fuzz/${1}_fuzz" -max_total_time="$seconds" -timeout=5 \
        -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$1-" "$work" >"build/fuzz/$1.log" 2>&1 || code=$?
    echo $code >"build/fuzz/$1.status"
}

# Each fuzzer keeps one core busy: as many run at once as there are cores.
targets="frame_lamp command_line hex_scan vis_input"
cores=$(nproc 2>/dev/null || echo 1)
running=0
for target in $targets; do
    fuzz_one "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$cores" ]; then
        wait
        running=0
    fi
done
wait

for target in $targets; do
    log="build/fuzz/$target.log"
    echo "== fuzz: $target for ${seconds}s"
    if [ "$(cat "build/fuzz/$target.status")" = 0 ]; then
        grep -E '^(stat::number_of_executed_units|Done)' "$log" || true
    else
        status=1
        tail -n 40 "$log" >&2
        echo "fuzz.sh: $target failed; the whole log is $log and the input that did it" \
             "is in $artifacts/. Replay it with build/fuzz/fuzz/${target}_fuzz FILE," \
             "fix the fault and add a unit test for it." >&2
    fi
done
exit $status
