#!/bin/sh
# Runs tolvaren-send in the Wine prefix of scripts/run.sh, where the
# tolvaren that run.sh started serves its pipe.
#   scripts/send.sh [--x86] ARGUMENTS...    e.g. scripts/send.sh 00FF
# --x86 runs the 32-bit build. scripts/send.sh --help says what it takes.
set -eu
cd "$(dirname "$0")/.."
. scripts/wine-tool.sh

if pick_build "${1:-}"; then shift; fi
prepare_tool tolvaren-send
exec "$wine" "build/$preset/tolvaren-send.exe" "$@"
