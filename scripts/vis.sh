#!/bin/sh
# Makes the lamps follow whatever is playing on this Linux machine: the
# default output's monitor, recorded by parec, goes into tolvaren-vis in the
# Wine prefix of scripts/run.sh, where the tolvaren that run.sh started
# serves its pipe. Ctrl-C stops it and puts the lamps out.
#   scripts/vis.sh [--x86] [TOLVAREN-VIS OPTIONS...]    e.g. scripts/vis.sh --mode vu
# --x86 runs the 32-bit build. Options go to tolvaren-vis (--mode, --delay,
# --print; scripts/vis.sh --help lists them); the input is always the
# monitor, as 16-bit stereo samples at 44.1 kHz.
set -eu
cd "$(dirname "$0")/.."

preset=windows-x64
wine=/usr/lib/wine/wine64
if [ "${1:-}" = "--x86" ]; then
    preset=windows-x86
    wine=wine
    shift
fi
case " $* " in
*" --help "* | *" -h "*)
    ;;
*)
    if ! command -v parec >/dev/null 2>&1; then
        echo "vis.sh: parec is missing; install pulseaudio-utils (scripts/install-deps.sh does)" >&2
        exit 1
    fi
    if ! pactl info >/dev/null 2>&1; then
        echo "vis.sh: no PulseAudio server answers (PipeWire's pipewire-pulse is one); run this" \
             "in the desktop session whose sound the lamps should follow" >&2
        exit 1
    fi
    ;;
esac

# Built quietly, so that the output is tolvaren-vis's alone.
if ! log=$( (cmake --preset "$preset" && cmake --build --preset "$preset" --target tolvaren-vis) 2>&1); then
    echo "$log" >&2
    echo "vis.sh: building tolvaren-vis failed (above); run scripts/run.sh once to install what is missing" >&2
    exit 1
fi

WINEPREFIX="$PWD/build/run/wineprefix"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "vis.sh: there is no Wine prefix in $WINEPREFIX yet, so tolvaren is not running;" \
         "start it first with scripts/run.sh" >&2
    exit 2
fi
case " $* " in
*" --help "* | *" -h "*) exec "$wine" "build/$preset/tolvaren-vis.exe" --help ;;
esac

echo "vis.sh: the lamps follow what plays on $(pactl get-default-sink 2>/dev/null || echo 'the default output');" \
     "Ctrl-C stops"
parec -d @DEFAULT_MONITOR@ --format=s16le --rate=44100 --channels=2 --latency-msec=10 |
    "$wine" "build/$preset/tolvaren-vis.exe" - --format s16le --rate 44100 --channels 2 "$@"
