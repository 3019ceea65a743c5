#!/bin/sh
# Runs tolvaren-send in the Wine prefix of scripts/run.sh, where the
# tolvaren that run.sh started serves its pipe.
#   scripts/send.sh [--x86] ARGUMENTS...    e.g. scripts/send.sh 00FF
# --x86 runs the 32-bit build. scripts/send.sh --help says what it takes.
set -eu
cd "$(dirname "$0")/.."

preset=windows-x64
wine=/usr/lib/wine/wine64
if [ "${1:-}" = "--x86" ]; then
    preset=windows-x86
    wine=wine
    shift
fi

# Built quietly, so that the output is tolvaren-send's alone.
if ! log=$( (cmake --preset "$preset" && cmake --build --preset "$preset" --target tolvaren-send) 2>&1); then
    echo "$log" >&2
    echo "send.sh: building tolvaren-send failed (above); run scripts/run.sh once to install what is missing" >&2
    exit 1
fi

WINEPREFIX="$PWD/build/run/wineprefix"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "send.sh: there is no Wine prefix in $WINEPREFIX yet, so tolvaren is not running;" \
         "start it first with scripts/run.sh" >&2
    exit 2
fi
exec "$wine" "build/$preset/tolvaren-send.exe" "$@"
