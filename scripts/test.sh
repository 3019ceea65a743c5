#!/bin/sh
# Installs what is missing, builds the four presets and runs every test:
# the native unit tests, the lamp firmware's tests on an emulator of its
# chip, and the Windows tests under Debian 12's Wine 8 on a virtual display
# (the release zip they build holds the firmware, so it is built first).
# Then the release's check (built twice, compared byte
# for byte, its contents checked) and the hardening steps: the native unit
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, the lamp
# state stress test under ThreadSanitizer, each fuzz target for a bounded
# time and the static analysis. Then the Windows tests again under Debian
# 13's Wine 10, in a root of their own (scripts/debian13.sh), and last the
# lamp road on real kernel lamps in a small VM under each Wine (tests/vm),
# there to the pins of the lamp's own firmware too, attached over USB/IP.
# Exits non-zero when a build, a test or a step fails; each step says its
# time.
#   FUZZ_SECONDS=N scripts/test.sh    fuzzes each target for N seconds (30)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib/wine.sh

scripts/install-deps.sh --tests
# The shipped 32-bit program's smoke test needs wine32 (and qemu-user where
# the kernel refuses 32-bit programs).
scripts/install-wine32.sh
# The Debian 13 root of the last step is made meanwhile: most of that time
# is spent downloading, beside the builds and the first tests.
mkdir -p build
scripts/debian13.sh --root >build/debian13-root.log 2>&1 &
root_maker=$!
# Making the Wine 8 tests' prefix keeps one core busy for two minutes or
# more: it is made beside the builds, and the Windows tests' own set-up
# then finds it made (or makes it again, should this fail). Wine 10's is
# made in its lane: beside the sanitizers' build, where it could go, it
# slowed that build by as much as it saved.
mkdir -p build/windows-x64
tests/wine/wine-up.sh build/windows-x64 --prefix-only >build/wine8-prefix.log 2>&1 &
wine8_prefix=$!

for preset in firmware-rp2040 native windows-x64 windows-x86; do
    echo "== build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

status=0
# Each step is timed, so that CI's log shows where its time goes.
step() {
    name=$1
    shift
    started=$(date +%s)
    echo "== $name"
    if "$@"; then
        echo "== $name: passed in $(($(date +%s) - started))s"
    else
        echo "== $name: FAILED after $(($(date +%s) - started))s" >&2
        status=1
    fi
}

step "native tests" ctest --preset native
step "firmware tests, on the emulated RP2040" ctest --preset firmware-rp2040
wine_find || exit 1
wait $wine8_prefix || cat build/wine8-prefix.log
step "Windows tests, Wine $wine_version (Debian 12)" ctest --preset windows-x64

# sanitized PRESET [TARGET]: builds the preset, or only TARGET of it, and
# runs its tests. The ThreadSanitizer preset tests the lamp state stress
# test alone, so only that is built there.
# shellcheck disable=SC2317  # it is called, through step
sanitized() {
    cmake --preset "$1" >/dev/null &&
        cmake --build --preset "$1" ${2:+--target "$2"} &&
        ctest --preset "$1"
}

step "release" scripts/check-release.sh
step "native-sanitize" sanitized native-sanitize
step "native-tsan" sanitized native-tsan lamp_state_stress
step "fuzz" scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
step "analyze" scripts/analyze.sh
# The same Windows tests, the 32-bit smoke test and the live capture on a
# second, newer Wine: Debian 13's, whose loopback capture Wine 8 lacks.
if ! wait $root_maker; then
    cat build/debian13-root.log >&2
    status=1
fi
cat build/debian13-root.log
step "Windows tests, Wine 10 (Debian 13)" scripts/debian13.sh tests/wine/windows-tests.sh build/windows-x64
# The lamp road on a real kernel's HID devices, in a small VM, under each
# Wine, to the emulated firmware's pins.
step "vm-wine8" tests/vm/run.sh wine8
step "vm-wine10" tests/vm/run.sh wine10
exit $status
