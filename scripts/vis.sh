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
. scripts/wine-tool.sh

if pick_build "${1:-}"; then shift; fi
case " $* " in
*" --help "* | *" -h "*)
    prepare_tool tolvaren-vis
    exec "$wine" "build/$preset/tolvaren-vis.exe" --help
    ;;
esac
if ! command -v parec >/dev/null 2>&1; then
    echo "vis.sh: parec is missing; install pulseaudio-utils (scripts/install-deps.sh does)" >&2
    exit 1
fi
if ! pactl info >/dev/null 2>&1; then
    echo "vis.sh: no PulseAudio server answers (PipeWire's pipewire-pulse is one); run this" \
         "in the desktop session whose sound the lamps should follow" >&2
    exit 1
fi
prepare_tool tolvaren-vis

echo "vis.sh: the lamps follow what plays on $(pactl get-default-sink 2>/dev/null || echo 'the default output');" \
     "Ctrl-C stops"
parec -d @DEFAULT_MONITOR@ --format=s16le --rate=44100 --channels=2 --latency-msec=10 |
    "$wine" "build/$preset/tolvaren-vis.exe" - --format s16le --rate 44100 --channels 2 "$@"
