#!/bin/sh
# scripts/vis-picture.sh on a sound made here: 3 s, a 1 kHz tone in the
# middle second. The picture is 100 pixels a second wide; the spectrogram
# shows the tone at 1 kHz only while it plays, and so do the lamps: the
# tone's band (lamp 9) is yellow then and dark before, the lowest lamp dark
# throughout. A file that is no WAV is refused with a message.
#   vis_picture_test.sh SCRIPT VIS_PRINT
set -eu
script=$1
export VIS_PRINT="$2"
work=$(mktemp -d /tmp/vis-picture-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

python3 - "$work/tone.wav" <<'PY'
import math, struct, sys, wave
rate = 44100
samples = [0.5 * math.sin(2 * math.pi * 1000 * i / rate) if rate <= i < 2 * rate else 0.0 for i in range(3 * rate)]
with wave.open(sys.argv[1], 'wb') as out:
    out.setnchannels(1)
    out.setsampwidth(2)
    out.setframerate(rate)
    out.writeframes(b''.join(struct.pack('<h', round(x * 32767)) for x in samples))
PY

sh "$script" "$work/tone.wav" "$work/tone.png" >/dev/null || fail "the script failed on a plain WAV"
[ -s "$work/tone.png" ] || { echo "FAILED: no picture"; exit 1; }

# Without a font the picture has no margins for labels.
size=$(identify -format '%w %h' "$work/tone.png")
case $size in
"364 569") left=64 top=24 ;;
"300 525") left=0 top=0 ;;
*) echo "FAILED: the picture is $size pixels, not 364 x 569 (or 300 x 525 without labels)" >&2; exit 1 ;;
esac

# colour X Y: "lit" (yellow), "dark" or "bright" (anything else).
colour() {
    convert "$work/tone.png" -format "%[fx:int(255*p{$1,$2}.r)] %[fx:int(255*p{$1,$2}.g)] %[fx:int(255*p{$1,$2}.b)]\n" info: |
        {
            read -r red green blue
            if [ "$red" -gt 200 ] && [ "$green" -gt 160 ] && [ "$blue" -lt 60 ]; then
                echo lit
            elif [ "$red" -lt 80 ] && [ "$green" -lt 80 ]; then
                echo dark
            else
                echo bright
            fi
        }
}

# The spectrogram's 1 kHz row (on the log scale from 30 Hz to 20 kHz) and
# the middle of lamp 9's and lamp 1's strips, the highest lamp on top.
khz=$((top + 138))
lamp9=$((top + 301 + (16 - 9) * 14 + 6))
lamp1=$((top + 301 + (16 - 1) * 14 + 6))
before=$((left + 50))
during=$((left + 150))
[ "$(colour $during $khz)" != dark ] || fail "the spectrogram shows no tone at 1 kHz while it plays"
[ "$(colour $before $khz)" = dark ] || fail "the spectrogram shows sound at 1 kHz before the tone"
[ "$(colour $during "$lamp9")" = lit ] || fail "lamp 9 is not lit while the 1 kHz tone plays"
[ "$(colour $before "$lamp9")" = dark ] || fail "lamp 9 is lit before the tone"
[ "$(colour $during "$lamp1")" = dark ] || fail "lamp 1 is lit by a 1 kHz tone"

printf 'RIFF' >"$work/bad.wav"
code=0
message=$(sh "$script" "$work/bad.wav" "$work/bad.png" 2>&1) || code=$?
[ "$code" -eq 1 ] || fail "a file that is no WAV gave exit $code, not 1"
case $message in
*"bad.wav: "*WAV*) ;;
*) fail "a file that is no WAV gave no message saying so: $message" ;;
esac
[ ! -e "$work/bad.png" ] || fail "a file that is no WAV still gave a picture"

[ "$failures" -eq 0 ] || exit 1
echo "vis-picture.sh: all checks passed"
