#!/usr/bin/env python3
"""Packs the lamp's firmware into the UF2 file that an RP2040 board's
bootloader takes (the RPI-RP2 drive): the ELF's loadable segments, by
their load addresses, in 512-byte blocks of 256 bytes each, family id
0xe48bff56. The same ELF gives the same bytes every time.

    make_uf2.py FIRMWARE.elf OUT.uf2
"""
import os
import struct
import sys

FLASH_START = 0x10000000
FLASH_END = 0x11000000
PAGE = 256
MAGIC_START0 = 0x0A324655
MAGIC_START1 = 0x9E5D5157
MAGIC_END = 0x0AB16F30
FLAG_FAMILY_ID = 0x00002000
RP2040_FAMILY = 0xE48BFF56
PT_LOAD = 1


def flash_segments(elf):
    """(address, bytes) of each loadable segment with contents, by load address."""
    if elf[:4] != b"\x7fELF" or elf[4] != 1 or elf[5] != 1:
        raise ValueError("not a 32-bit little-endian ELF file")
    phoff, = struct.unpack_from("<I", elf, 28)
    phentsize, phnum = struct.unpack_from("<HH", elf, 42)
    segments = []
    for index in range(phnum):
        kind, offset, _, paddr, filesz, _, _, _ = struct.unpack_from("<8I", elf, phoff + index * phentsize)
        if kind != PT_LOAD or filesz == 0:
            continue
        if paddr < FLASH_START or paddr + filesz > FLASH_END:
            raise ValueError(f"segment {index} loads at 0x{paddr:08x}, outside the flash")
        segments.append((paddr, elf[offset:offset + filesz]))
    if not segments:
        raise ValueError("no loadable segment")
    return sorted(segments)


def pages(segments):
    """The flash's 256-byte pages that the segments touch, in address order,
    with what no segment fills left at 0."""
    image = {}
    for address, data in segments:
        at, end = address, address + len(data)
        while at < end:
            page = at - at % PAGE
            count = min(end, page + PAGE) - at
            image.setdefault(page, bytearray(PAGE))[at - page:at - page + count] = data[at - address:at - address + count]
            at += count
    return sorted(image.items())


def uf2(segments):
    blocks = pages(segments)
    out = bytearray()
    for number, (address, data) in enumerate(blocks):
        header = struct.pack("<8I", MAGIC_START0, MAGIC_START1, FLAG_FAMILY_ID, address, PAGE,
                             number, len(blocks), RP2040_FAMILY)
        out += header + data + bytes(476 - PAGE) + struct.pack("<I", MAGIC_END)
    return bytes(out)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    source, target = sys.argv[1:]
    try:
        with open(source, "rb") as file:
            segments = flash_segments(file.read())
    except (OSError, ValueError) as error:
        sys.exit(f"make_uf2.py: {source}: {error}")
    with open(target + ".part", "wb") as file:
        file.write(uf2(segments))
    os.replace(target + ".part", target)


if __name__ == "__main__":
    main()
