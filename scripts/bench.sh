#!/bin/sh
# Builds the benchmark, runs it under 64-bit Wine on a virtual display and
# prints its table: tolvaren's latency beside a bare server of its pipe,
# with the simulated lamp and on Wine's own HID stack with a virtual lamp,
# the share of lines it reports at 1000 a second, its idle CPU time, its
# start-up beside a minimal window program, paints beside a slow lamp,
# shutdown with a report stuck, and the sizes of both builds. Then the
# visualiser's figures on the host (build/native/vis_bench): CPU time per
# second of audio and latency from a sound to its lamp line.
# It asserts nothing; it fails only when it can't take the figures.
#   scripts/bench.sh
# It shares the Windows tests' Wine prefix and display, and the figures
# suffer from anything else busy on the machine: run it on its own, not
# beside scripts/test.sh.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null
done
cmake --build --preset windows-x64 --target tolvaren_bench
cmake --build --preset windows-x86 --target tolvaren

build="$PWD/build/windows-x64"
trap 'tests/wine/wine-down.sh "$build"' EXIT INT TERM
tests/wine/wine-up.sh "$build" --virtual-lamp "$build/tools/virtual-lamp/virtual-lamp.exe" \
    tolvaren-sim.exe bench_bare_server.exe

tests/wine/wine-run.sh "$build" "$build/tests/bin/tolvaren_bench.exe" \
    "$PWD/build/windows-x86/tolvaren.exe" "$PWD/build/windows-x64/tolvaren.exe" </dev/null

cmake --preset native >/dev/null
cmake --build --preset native --target vis_bench >/dev/null
echo
build/native/vis_bench
