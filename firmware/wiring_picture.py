#!/usr/bin/env python3
"""Draws the lamp's wiring picture, docs/lamp-wiring.png, from its pin
table: lamp n is bit n of the lamp value and GPIO n; the panel's upper row
shows bits 7..0 from left to right, the lower row bits 15..8, as tolvaren's
window does. Beside it, where each GPIO is on a Raspberry Pi Pico's header,
and how a lamp is wired. Run it again after changing the drawing; the PNG
it writes is committed, and --check says whether it is still what this
script draws.

    wiring_picture.py [OUT.png]
    wiring_picture.py --check PNG
"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from raster import Canvas  # noqa: E402

# The pin table: lamp n on GPIO n, and the panel's rows as tolvaren shows them.
LAMP_GPIO = {bit: bit for bit in range(16)}
PANEL_ROWS = [("UPPER ROW: BITS 7..0 (LAMPSLOW)", [7, 6, 5, 4, 3, 2, 1, 0]),
              ("LOWER ROW: BITS 15..8 (LAMPSHIGH)", [15, 14, 13, 12, 11, 10, 9, 8])]
# The Pico's left header, pin 1 at the USB end; and the right header's pins
# a builder needs (pin 21 at the far end, 40 beside the USB).
PICO_LEFT = ["GP0", "GP1", "GND", "GP2", "GP3", "GP4", "GP5", "GND", "GP6", "GP7",
             "GP8", "GP9", "GND", "GP10", "GP11", "GP12", "GP13", "GND", "GP14", "GP15"]
PICO_RIGHT = {40: "VBUS (5 V)", 38: "GND", 36: "3V3"}

INK, PAPER, PANEL = (20, 20, 20), (246, 245, 240), (0, 0, 0)
YELLOW, OUTLINE, WHITE = (255, 255, 0), (128, 128, 128), (255, 255, 255)
PIN_BLUE, BOARD, GOLD, GREY = (120, 195, 255), (22, 110, 52), (214, 176, 64), (150, 150, 150)
LAMP_SPACING, LAMP_RADIUS = 70, 25


def pico_pin(gpio):
    return PICO_LEFT.index(f"GP{gpio}") + 1


def draw_panel(canvas, x0, y0):
    """The lamp panel, each lamp lit, numbered in the power-up sweep's order,
    with its GPIO and Pico pin below it."""
    canvas.rect(x0, y0, x0 + 8 * LAMP_SPACING + 20, y0 + 320, PANEL)
    order = 1
    for row, (title, bits) in enumerate(PANEL_ROWS):
        top = y0 + 12 + row * 140
        canvas.text(x0 + 12, top, title, WHITE)
        for column, bit in enumerate(bits):
            cx, cy = x0 + 10 + LAMP_SPACING // 2 + column * LAMP_SPACING, top + 52
            canvas.disc(cx, cy, LAMP_RADIUS, OUTLINE)
            canvas.disc(cx, cy, LAMP_RADIUS - 2, YELLOW)
            canvas.text(cx, cy - 7, str(order), INK, align="centre")
            canvas.text(cx, cy + 34, f"GP{LAMP_GPIO[bit]}", WHITE, align="centre")
            canvas.text(cx, cy + 56, str(pico_pin(LAMP_GPIO[bit])), PIN_BLUE, align="centre")
            order += 1
    canvas.text(x0 + 12, y0 + 296, "WHITE: GPIO  BLUE: PICO PIN  1-16: SWEEP", GREY)


def draw_pico(canvas, x0, y0):
    """The Pico from above, USB at the top, its headers' pins labelled."""
    width, height, step = 120, 540, 24
    canvas.rect(x0 + 35, y0 - 18, x0 + 85, y0 + 14, GREY)
    canvas.rect(x0, y0, x0 + width, y0 + height, BOARD)
    canvas.text(x0 + 75, y0 + height // 2 - 7, "PICO", WHITE, align="centre")
    for index, name in enumerate(PICO_LEFT):
        y = y0 + 40 + index * step
        canvas.rect(x0 + 6, y - 5, x0 + 16, y + 5, GOLD)
        canvas.text(x0 + 22, y - 7, str(index + 1), WHITE)
        canvas.text(x0 - 10, y - 7, name, GREY if name == "GND" else INK, align="right")
    for pin in range(21, 41):
        y = y0 + 40 + (40 - pin) * step
        canvas.rect(x0 + width - 16, y - 5, x0 + width - 6, y + 5, GOLD)
        if pin in PICO_RIGHT:
            canvas.text(x0 + width - 22, y - 7, str(pin), WHITE, align="right")
            canvas.text(x0 + width + 10, y - 7, PICO_RIGHT[pin], GREY if pin == 38 else INK)
    canvas.text(x0 + width // 2, y0 + height + 14, "RP2040-ZERO: WIRE BY THE SAME GP", INK, align="centre")
    canvas.text(x0 + width // 2, y0 + height + 36, "NUMBERS, AS ITS PINOUT NAMES ITS PINS", INK, align="centre")


def draw_lamp_circuit(canvas, x0, y0):
    """One lamp wired straight to its pin: GPn, a resistor, an LED, GND."""
    canvas.text(x0, y0, "EACH LAMP: AN LED AND A 1 K\u03a9 RESISTOR", INK)
    y = y0 + 64
    canvas.text(x0, y - 7, "GPN", INK)
    canvas.line(x0 + 40, y, x0 + 90, y, INK)
    canvas.rect(x0 + 90, y - 12, x0 + 150, y + 12, INK)
    canvas.rect(x0 + 93, y - 9, x0 + 147, y + 9, PAPER)
    canvas.text(x0 + 120, y - 7, "1K", INK, align="centre")
    canvas.line(x0 + 150, y, x0 + 200, y, INK)
    canvas.triangle([(x0 + 200, y - 16), (x0 + 200, y + 16), (x0 + 228, y)], INK)
    canvas.text(x0 + 215, y - 36, "LED", INK, align="centre")
    canvas.rect(x0 + 228, y - 16, x0 + 232, y + 17, INK)
    canvas.line(x0 + 232, y, x0 + 290, y, INK)
    canvas.text(x0 + 298, y - 7, "GND", INK)
    canvas.text(x0, y0 + 100, "BRIGHTER LAMPS: A ULN2803 FOR EACH ROW.", INK)
    canvas.text(x0, y0 + 124, "GPN TO AN INPUT; ITS OUTPUT TO THE LAMP'S CATHODE;", INK)
    canvas.text(x0, y0 + 148, "THE ANODE, THROUGH ITS RESISTOR, TO VBUS (PIN 40);", INK)
    canvas.text(x0, y0 + 172, "THE ULN2803'S GND TO GND.", INK)


def draw():
    canvas = Canvas(1120, 730, PAPER)
    canvas.text(30, 18, "TOLVAREN LAMP: WIRING", INK, scale=3)
    canvas.text(30, 56, "LAMP N = BIT N OF THE LAMP VALUE = GPIO N", INK)
    draw_panel(canvas, 30, 96)
    canvas.text(30, 434, "AT POWER-UP EACH LAMP LIGHTS ONCE, IN THIS ORDER,", INK)
    canvas.text(30, 458, "WITHIN A SECOND; THEN DARK UNTIL THE FIRST REPORT.", INK)
    draw_lamp_circuit(canvas, 30, 508)
    draw_pico(canvas, 800, 120)
    return canvas


def pixels(png):
    """The size and the unfiltered rows of a PNG this script writes, so that
    a check does not depend on the zlib that compressed it."""
    width, height = struct.unpack(">II", png[16:24])
    at, data = 8, b""
    while at < len(png):
        length, kind = struct.unpack(">I4s", png[at:at + 8])
        if kind == b"IDAT":
            data += png[at + 8:at + 8 + length]
        at += 12 + length
    return width, height, zlib.decompress(data)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        with open(sys.argv[2], "rb") as file:
            committed = file.read()
        if pixels(committed) != pixels(draw().png()):
            sys.exit(f"wiring_picture.py: {sys.argv[2]} is not what this script draws; "
                     "run firmware/wiring_picture.py and commit the picture")
        return
    if len(sys.argv) > 2:
        sys.exit(__doc__.strip().split("\n\n")[-1])
    out = sys.argv[1] if len(sys.argv) == 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                              "..", "docs", "lamp-wiring.png")
    with open(out, "wb") as file:
        file.write(draw().png())


if __name__ == "__main__":
    main()
