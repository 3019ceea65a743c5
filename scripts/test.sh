#!/bin/sh
# Installs what is missing, builds all three presets and runs every test:
# the native unit tests, and the Windows tests under Wine on a virtual
# display. Exits non-zero when a build or a test fails.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# The shipped 32-bit program's smoke test needs wine32 (and qemu-user where
# the kernel refuses 32-bit programs).
scripts/install-wine32.sh

for preset in native windows-x64 windows-x86; do
    echo "== build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

status=0
for preset in native windows-x64; do
    echo "== test: $preset"
    ctest --preset "$preset" || status=1
done

exit $status
