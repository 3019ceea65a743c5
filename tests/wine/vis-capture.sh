#!/bin/sh
# tolvaren-vis following live sound, end to end: a PulseAudio server of the
# test's own with a null sink (the default output), a clip of bass and
# treble notes and a steady tone played into it with paplay, and
# tolvaren-vis under Wine capturing what plays (the output's loopback, or
# the sink's monitor where this Wine has no loopback) and driving the real
# tolvaren with a virtual lamp on Wine's own HID stack: started with
# --capture, and double-clicked. The 64-bit driver
# (vis_capture_e2e_test.exe) starts them, stops them as Ctrl-C and closing
# the window do, and checks the lamp's reports; this script plays the clip
# each time the driver says it is ready.
#   vis-capture.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
# shellcheck source=tests/wine/wine-state.sh
. "$(dirname "$0")/wine-state.sh"
work="$state/vis-capture"
for tool in pulseaudio paplay pactl python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "vis-capture.sh: $tool is missing; run scripts/install-deps.sh --tests" >&2
        exit 1
    fi
done

rm -rf "$work"
mkdir -p "$work/run" "$work/home"
XDG_RUNTIME_DIR="$work/run"
HOME="$work/home"
PULSE_SERVER="unix:$work/run/pulse/native"
export XDG_RUNTIME_DIR HOME PULSE_SERVER

# A server of our own, as root too, without D-Bus or X; the sink's monitor
# appears to Windows programs as "Monitor of Lamp_Test".
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target="file:$work/pulse.log" \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=lamp_test sink_properties=device.description=Lamp_Test"
stop() {
    pulseaudio --kill 2>/dev/null || true
}
trap stop EXIT
# shellcheck disable=SC2317  # it is called, through wait_for
pulse_answers() { pactl info >/dev/null 2>&1; }
if ! wait_for 10 "the PulseAudio server to answer" pulse_answers; then
    echo "vis-capture.sh: the PulseAudio server did not start; see $work/pulse.log" >&2
    exit 1
fi

# Half a second of silence, then four rounds of a bass note, a rest, a
# treble note and a rest, 0.4 s each, a second's rest, a 1 kHz tone for
# 3 s and a second's rest: 44.1 kHz, 16-bit stereo.
python3 - "$work/clip.wav" <<'EOF'
import math, struct, sys, wave
rate = 44100
def note(hz, seconds, level):
    return [level * math.sin(2 * math.pi * hz * i / rate) for i in range(int(seconds * rate))]
samples = note(0, 0.5, 0)
for _ in range(4):
    samples += note(60, 0.4, 0.5) + note(0, 0.4, 0) + note(8000, 0.4, 0.5) + note(0, 0.4, 0)
samples += note(0, 1.0, 0) + note(1000, 3.0, 0.5) + note(0, 1.0, 0)
with wave.open(sys.argv[1], "wb") as clip:
    clip.setnchannels(2)
    clip.setsampwidth(2)
    clip.setframerate(rate)
    clip.writeframes(b"".join(struct.pack("<hh", round(s * 32767), round(s * 32767)) for s in samples))
EOF

"$(dirname "$0")/wine-run.sh" "$build" "$build/tests/real/vis_capture_e2e_test.exe" "$work" \
    >"$work/driver.log" 2>&1 &
driver=$!

# tolvaren-vis's own Unix process, whatever else runs on this machine: Wine
# shows a program's Windows path as its command line.
vis=$(echo "Z:$build/tests/real/tolvaren-vis.exe" | sed 's|/|\\\\|g; s|\.|\\.|g')

# The driver asks for the clip with a file "ready" and learns that it is
# over from a file "played". Its first ask comes within a minute, its others
# within the test's time.
limit=60
plays=0
while wait_for --while $driver $limit "the driver to ask for the clip ($work/ready)" test -f "$work/ready"; do
    rm -f "$work/ready"
    paplay -d lamp_test "$work/clip.wav" &
    player=$!
    # Halfway through the tone, tolvaren-vis stalls for 60 ms, as on a
    # busy machine: the sound that waited must then be taken as it is,
    # with no silence put in its place.
    sleep 9.4
    stalled=$(pgrep -f "$vis" || true)
    if [ -n "$stalled" ]; then
        kill -STOP $stalled
        sleep 0.06
        kill -CONT $stalled
    fi
    wait $player
    # What paplay wrote is captured within a few frames.
    sleep 0.5
    : >"$work/played"
    plays=$((plays + 1))
    limit=300
done
status=0
if [ $plays -eq 0 ]; then
    echo "vis-capture.sh: the driver never got tolvaren-vis capturing" >&2
    status=1
fi
wait $driver || status=1
cat "$work/driver.log"
exit $status
