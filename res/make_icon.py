#!/usr/bin/env python3
"""Draws the program's icon, a lit lamp, as res/npserver.ico.

One 32x32 image with the 16 standard colours (4 bits a pixel) and a
transparency mask. Run it again after changing the drawing; the .ico it
writes is committed.
"""
import struct
import sys

# The 16 standard Windows colours, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
OLIVE, SILVER, GREY, YELLOW, WHITE = 3, 7, 8, 11, 15
SIZE = 32


def draw():
    """Returns rows top-down of palette indexes, None for transparent."""
    pixels = [[None] * SIZE for _ in range(SIZE)]
    cx, cy, radius = 15.5, 11.5, 10.5
    for y in range(SIZE):
        for x in range(SIZE):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if d2 <= radius ** 2:
                pixels[y][x] = OLIVE if d2 > (radius - 1.2) ** 2 else YELLOW
    # a highlight on the glass
    for x, y in [(10, 6), (11, 5), (9, 7), (9, 8), (12, 5)]:
        pixels[y][x] = WHITE
    # the neck and the screw base
    for y in range(21, 29):
        for x in range(11, 21):
            pixels[y][x] = GREY if y % 2 else SILVER
    for y in range(29, 31):
        for x in range(13, 19):
            pixels[y][x] = GREY
    return pixels


def encode(pixels):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor, mask = b"", b""
    for row in reversed(pixels):  # bitmaps run bottom-up
        nibbles = [0 if p is None else p for p in row]
        xor += bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is None else 0)
        mask += bits.to_bytes(4, "big")
    image = header + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "res/npserver.ico"
    with open(out, "wb") as f:
        f.write(encode(draw()))
