#!/bin/sh
# Builds the benchmark, runs it under Debian 12's Wine 8 and again under
# Debian 13's Wine 10 (scripts/debian13.sh), each on a virtual display, and
# prints one table with a column for each Wine: tolvaren's latency beside a
# bare server of its pipe, with the simulated lamp and on Wine's own HID
# stack with a virtual lamp, the share of lines it reports at 1000 a
# second, its idle CPU time, its start-up beside a minimal window program,
# paints beside a slow lamp, shutdown with a report stuck, and the sizes of
# both builds. Then the visualiser's figures on the host
# (build/native/vis_bench): CPU time per second of audio and latency from a
# sound to its lamp line.
# It asserts nothing; it fails only when it can't take the figures.
#   scripts/bench.sh                 both Wines
#   scripts/bench.sh --one FILE      the Wine at hand only, its table into FILE
# It shares the Windows tests' Wine prefixes and display, and the figures
# suffer from anything else busy on the machine: run it on its own, not
# beside scripts/test.sh.
set -eu
cd "$(dirname "$0")/.."
build="$PWD/build/windows-x64"

if [ "${1:-}" = "--one" ]; then
    trap 'tests/wine/wine-down.sh "$build"' EXIT INT TERM
    tests/wine/wine-up.sh "$build" --virtual-lamp "$build/tools/virtual-lamp/virtual-lamp.exe" \
        tolvaren-sim.exe bench_bare_server.exe
    tests/wine/wine-run.sh "$build" "$build/tests/bin/tolvaren_bench.exe" \
        "$PWD/build/windows-x86/tolvaren.exe" "$PWD/build/windows-x64/tolvaren.exe" </dev/null >"$2"
    exit 0
fi

scripts/install-deps.sh
for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null
done
cmake --build --preset windows-x64 --target tolvaren_bench
cmake --build --preset windows-x86 --target tolvaren

mkdir -p build/bench
scripts/bench.sh --one build/bench/debian12.txt
scripts/debian13.sh scripts/bench.sh --one build/bench/debian13.txt
# One table of the two: each Wine's value and reference side by side, the
# notes below it from each run.
python3 - build/bench/debian12.txt build/bench/debian13.txt <<'PYTHON'
import sys
runs = []
for path in sys.argv[1:]:
    lines = open(path, encoding="utf-8", errors="replace").read().splitlines()
    title = lines[0] if lines else "(no output)"
    # "Tolvaren benchmark, 2026-12-08, Wine 8.0, 2 processors"
    wine = next((part for part in title.split(", ") if part.startswith("Wine ")), path)
    rows = [[cell.strip() for cell in line.strip().strip("|").split("|")] for line in lines if line.startswith("| ")]
    notes = [line for line in lines[1:] if line and not line.startswith("| ")]
    runs.append((wine, title, rows, notes))
print(runs[0][1].replace(runs[0][0], " and ".join(run[0] for run in runs)))
print()
header = ["figure"] + [f"{wine}: {name}" for wine, *_ in runs for name in ("tolvaren.exe (64-bit)", "reference", "verdict")] + ["goal"]
print("| " + " | ".join(header) + " |")
print("|" + "---|" * len(header))
for i, row in enumerate(runs[0][2][2:], start=2):
    cells = [row[0]]
    for _, _, rows, _ in runs:
        other = rows[i] if i < len(rows) else ["?"] * 5
        cells += [other[1], other[2], other[4]]
    cells.append(row[3])
    print("| " + " | ".join(cells) + " |")
for wine, _, _, notes in runs:
    print(f"\n{wine}:")
    for note in notes:
        print(note)
PYTHON

cmake --preset native >/dev/null
cmake --build --preset native --target vis_bench >/dev/null
echo
build/native/vis_bench
