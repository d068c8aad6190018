#!/usr/bin/env python3
"""Writes firmware/sample.bin: the 64 KiB sample image this build carries by default.

It looks like real firmware to the updater: code-like bytes from a fixed pseudo-random
sequence with many 0x10 bytes (the bootloader's DLE, which the frames must double),
some 0x02 and 0x03 bytes, runs of 0xFF (erased flash) between sections and at the end.
The output is the same on every run.
"""
import pathlib
import sys

SIZE = 0x10000


def make_image() -> bytes:
    state = 0x2545F491
    image = bytearray(b"\xff" * SIZE)

    def next_byte() -> int:
        nonlocal state
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        return (state >> 16) & 0xFF

    # Vector area below the program range: never sent, but not empty either.
    for a in range(0x0000, 0x0800):
        image[a] = next_byte()
    # Program sections separated by erased gaps; every 7th byte is a DLE.
    sections = [(0x0800, 0x3A40), (0x3C00, 0x7F10), (0x8000, 0xA6C0), (0xB000, 0xB300)]
    for start, end in sections:
        for a in range(start, end):
            b = next_byte()
            if a % 7 == 3:
                b = 0x10
            image[a] = b
    # A block of DLEs back to back and one made of STX/ETX bytes.
    for a in range(0x1000, 0x1080):
        image[a] = 0x10
    for a in range(0x1080, 0x1100):
        image[a] = 0x02 if a % 2 else 0x03
    return bytes(image)


def main() -> int:
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).with_name("sample.bin")
    out.write_bytes(make_image())
    return 0


if __name__ == "__main__":
    sys.exit(main())
