#!/bin/sh
# Draws what tolvaren-vis's spectrum lamps do with a sound: a spectrogram of
# FILE.wav (frequency on a log scale, as the bands are spaced) over the
# sixteen lamps along the same time axis, the highest band at the top, into
# a PNG. The lamps come from the visualiser's own core
# (build/native/tools/tolvaren-vis/vis_print, the same lines as tolvaren-vis
# --print; VIS_PRINT names another build of it).
#   scripts/vis-picture.sh FILE.wav [OUT.png]     (OUT defaults to FILE.png)
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ "$1" = "--help" ] || [ "$1" = "-h" ]; then
    echo "usage: scripts/vis-picture.sh FILE.wav [OUT.png]" >&2
    echo "draws the spectrogram of FILE.wav over the lamps tolvaren-vis lights for it" >&2
    [ $# -ge 1 ] && { [ "$1" = "--help" ] || [ "$1" = "-h" ]; } && exit 0
    exit 1
fi
wav=$1
out=${2:-${wav%.*}.png}
root=$(cd "$(dirname "$0")/.." && pwd)

say() {
    echo "vis-picture.sh: $*" >&2
}

[ -f "$wav" ] || { say "$wav is not a file; give a WAV file"; exit 1; }
for tool in sox:sox soxi:sox convert:imagemagick python3:python3; do
    if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
        say "${tool%%:*} is missing; install it with scripts/install-deps.sh (or apt-get install ${tool#*:})"
        exit 1
    fi
done

# The core's command-line front end, built when missing or out of date.
vis_print=${VIS_PRINT:-}
if [ -z "$vis_print" ]; then
    vis_print=$root/build/native/tools/tolvaren-vis/vis_print
    if ! { [ -f "$root/build/native/build.ninja" ] || (cd "$root" && cmake --preset native >/dev/null); } ||
        ! cmake --build "$root/build/native" --target vis_print >/dev/null; then
        say "could not build $vis_print; run cmake --preset native && cmake --build --preset native to see why"
        exit 1
    fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

if ! "$vis_print" "$wav" >"$work/lines.txt" 2>"$work/error.txt"; then
    say "$(sed 's/^vis_print: //' "$work/error.txt")"
    exit 1
fi

rate=$(soxi -r "$wav")
seconds=$(soxi -D "$wav")
# About 1000 pixels wide: from 100 pixels a second (10 ms, a lamp frame, a
# column) for a short sound to 20 for a long one; at most 30 minutes' worth.
perSecond=$(python3 -c "import sys; print(max(20, min(100, round(1000 / max(float(sys.argv[1]), 0.01)))))" "$seconds")
columns=$(python3 -c "import sys; print(max(1, min(36000, round(float(sys.argv[1]) * int(sys.argv[2])))))" \
    "$seconds" "$perSecond")
# sox's rows run linearly from 0 Hz to half the rate; 1025 rows put the
# lowest band's centre a couple of rows up at 44.1 kHz.
sox -V1 "$wav" -n remix - spectrogram -r -x "$columns" -y 1025 -z 90 -o "$work/linear.png"
convert "$work/linear.png" -depth 8 "$work/linear.ppm"

python3 - "$work/linear.ppm" "$work/lines.txt" "$rate" "$seconds" "$work/picture.ppm" "$work/labels.txt" <<'EOF'
import math, sys

linear_path, lines_path, rate, seconds, out_path, labels_path = sys.argv[1:]
rate = int(rate)
seconds = float(seconds)

def read_ppm(path):
    data = open(path, 'rb').read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b'#':
            at = data.index(b'\n', at)
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    return int(fields[1]), int(fields[2]), data[at + 1:]

width, height, pixels = read_ppm(linear_path)

# The spectrogram from 30 Hz to 20 kHz (or the highest frequency there is)
# on a log scale, 300 rows.
low, high = 30.0, min(20000.0, rate / 2.0)
rows = 300
nyquist = rate / 2.0
def row_of(hz):
    return (rows - 1) * (1.0 - math.log(hz / low) / math.log(high / low))

picture = []
for y in range(rows):
    hz = high * (low / high) ** (y / (rows - 1.0))
    source = int(round((height - 1) * (1.0 - hz / nyquist)))
    picture.append(bytearray(pixels[source * width * 3:(source + 1) * width * 3]))

# The lamps: the lines' lamp value for each 10 ms frame.
frames = int(seconds * 100)
lamps = [0] * (frames + 1)
values = []
for line in open(lines_path):
    ms, text = line.split()
    values.append((int(ms), int(text[3:], 16)))
current, next_line = 0, 0
for k in range(frames):
    while next_line < len(values) and values[next_line][0] <= 10 * (k + 1):
        current = values[next_line][1]
        next_line += 1
    lamps[k] = current

def lamp_bit(band):
    return 1 << (7 - band if band < 8 else 23 - band)

# Each lamp a strip 12 pixels high with a gap of 2, the highest band at the
# top as in the spectrogram; yellow as much of its column's time as it is lit.
gap = bytearray([0, 0, 0] * width)
picture.append(bytearray([0, 0, 0] * width))
for band in reversed(range(16)):
    strip = bytearray(width * 3)
    for x in range(width):
        first = int(x * frames / width)
        last = max(first + 1, int((x + 1) * frames / width))
        lit = sum(1 for k in range(first, last) if lamps[k] & lamp_bit(band)) / (last - first)
        strip[3 * x:3 * x + 3] = bytes((int(48 + lit * 207), int(48 + lit * 172), int(48 - lit * 48)))
    for _ in range(12):
        picture.append(strip)
    for _ in range(2):
        picture.append(gap)

with open(out_path, 'wb') as out:
    out.write(b'P6 %d %d 255\n' % (width, len(picture)))
    for row in picture:
        out.write(row)

# Where the labels go: frequencies along the spectrogram, bands along the
# lamps (y of each, from the top of the picture).
with open(labels_path, 'w') as labels:
    for hz, text in ((50, '50 Hz'), (100, '100 Hz'), (200, '200 Hz'), (500, '500 Hz'), (1000, '1 kHz'),
                     (2000, '2 kHz'), (5000, '5 kHz'), (10000, '10 kHz'), (20000, '20 kHz')):
        if low <= hz <= high:
            labels.write('%d %s\n' % (round(row_of(hz)), text))
    for band in range(16):
        labels.write('%d lamp %d\n' % (rows + 1 + (15 - band) * 14 + 6, band + 1))
EOF

# Labels on a margin at the left, and seconds along the bottom, where a
# font is at hand; the picture itself needs none.
set -- "$work/picture.ppm" -bordercolor black -border 0
if convert -list font 2>/dev/null | grep -q "Font: DejaVu-Sans$"; then
    set -- "$@" -gravity northwest -background black -splice 64x0 -splice 0x24 -gravity south -splice 0x20 \
        -gravity northwest -fill white -font DejaVu-Sans -pointsize 11
    while read -r y text; do
        set -- "$@" -annotate "+4+$((y + 24 - 6))" "$text"
    done <"$work/labels.txt"
    set -- "$@" -annotate "+64+4" "$(basename "$wav"): spectrogram over the sixteen lamps (yellow: lit)"
    # A mark every second, or every 5 or 30 when they would crowd.
    step=1
    [ $((perSecond * step)) -ge 50 ] || step=5
    [ $((perSecond * step)) -ge 50 ] || step=30
    t=0
    while [ "$t" -le "${seconds%.*}" ]; do
        set -- "$@" -annotate "+$((64 + t * perSecond))+$((24 + 301 + 16 * 14 + 3))" "${t} s"
        t=$((t + step))
    done
fi
# A palette of 128 colours keeps the PNG small and looks the same.
convert "$@" -colors 128 "PNG8:$out"
echo "vis-picture.sh: wrote $out"
