#!/usr/bin/env python3
"""Writes Kurvix's icons: res/kurvix.ico, res/tray_enabled.ico, res/tray_disabled.ico.

Each picture is "KUR" over "VIX" in one colour on a transparent background, drawn
from the small pixel fonts below and stored as 4-bit icons with the standard
16-colour palette and a transparency (AND) mask. Every icon holds a 32 x 32 and a
16 x 16 image of the same design.

    python3 tools/make_icons.py           rewrite the icons
    python3 tools/make_icons.py --check   exit 1 if the icons on disk are not current
"""

import argparse
import struct
import sys
from pathlib import Path

RES_DIR = Path(__file__).resolve().parent.parent / "res"

# The standard 16-colour Windows palette as (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
RED = 9
OLIVE = 3

# 7 rows tall for the 16x16 pictures; "#" is a letter pixel.
FONT_16 = {
    "K": ["#...#",
          "#..#.",
          "#.#..",
          "##...",
          "#.#..",
          "#..#.",
          "#...#"],
    "U": ["#..#",
          "#..#",
          "#..#",
          "#..#",
          "#..#",
          "#..#",
          ".##."],
    "R": ["###.",
          "#..#",
          "#..#",
          "###.",
          "#.#.",
          "#..#",
          "#..#"],
    "V": ["#...#",
          "#...#",
          "#...#",
          "#...#",
          ".#.#.",
          ".#.#.",
          "..#.."],
    "I": ["###",
          ".#.",
          ".#.",
          ".#.",
          ".#.",
          ".#.",
          "###"],
    "X": ["#...#",
          "#...#",
          ".#.#.",
          "..#..",
          ".#.#.",
          "#...#",
          "#...#"],
}

# 14 rows tall with two-pixel strokes for the 32x32 picture.
FONT_32 = {
    "K": ["##.....##",
          "##....##.",
          "##...##..",
          "##..##...",
          "##.##....",
          "####.....",
          "###......",
          "###......",
          "####.....",
          "##.##....",
          "##..##...",
          "##...##..",
          "##....##.",
          "##.....##"],
    "U": ["##.....##",
          "##.....##",
          "##.....##",
          "##.....##",
          "##.....##",
          "##.....##",
          "##.....##",
          "##.....##",
          "##.....##",
          "##.....##",
          "##.....##",
          "###...###",
          ".#######.",
          "..#####.."],
    "R": ["#######.",
          "########",
          "##....##",
          "##....##",
          "##....##",
          "##....##",
          "########",
          "#######.",
          "##..##..",
          "##..##..",
          "##...##.",
          "##...##.",
          "##....##",
          "##....##"],
    "V": ["##......##",
          "##......##",
          "##......##",
          "##......##",
          ".##....##.",
          ".##....##.",
          ".##....##.",
          "..##..##..",
          "..##..##..",
          "..##..##..",
          "...####...",
          "...####...",
          "....##....",
          "....##...."],
    "I": ["######",
          "######",
          "..##..",
          "..##..",
          "..##..",
          "..##..",
          "..##..",
          "..##..",
          "..##..",
          "..##..",
          "..##..",
          "..##..",
          "######",
          "######"],
    "X": ["##......##",
          "##......##",
          ".##....##.",
          ".##....##.",
          "..##..##..",
          "..##..##..",
          "...####...",
          "...####...",
          "..##..##..",
          "..##..##..",
          ".##....##.",
          ".##....##.",
          "##......##",
          "##......##"],
}

ROWS = ("KUR", "VIX")


def letter_shape(size):
    """The picture as a size x size grid of booleans, top row first; True is a letter pixel."""
    font, letter_gap = (FONT_16, 1) if size == 16 else (FONT_32, 2)
    glyph_height = len(font["K"])
    line_gap = size - 2 * glyph_height
    grid = [[False] * size for _ in range(size)]
    for line, word in enumerate(ROWS):
        width = sum(len(font[c][0]) for c in word) + letter_gap * (len(word) - 1)
        x = (size - width) // 2
        y = line * (glyph_height + line_gap)
        for c in word:
            glyph = font[c]
            for dy, bits in enumerate(glyph):
                for dx, bit in enumerate(bits):
                    if bit == "#":
                        grid[y + dy][x + dx] = True
            x += len(glyph[0]) + letter_gap
    return grid


def row_stride(width, bits_per_pixel):
    return (width * bits_per_pixel + 31) // 32 * 4


def icon_image(size, colour):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit XOR bitmap, 1-bit AND mask."""
    shape = letter_shape(size)
    xor_stride = row_stride(size, 4)
    and_stride = row_stride(size, 1)
    xor_bits = bytearray()
    and_bits = bytearray()
    for row in reversed(shape):  # bitmaps are stored bottom row first
        xor_row = bytearray(xor_stride)
        and_row = bytearray(and_stride)
        for x, opaque in enumerate(row):
            if opaque:
                xor_row[x // 2] |= colour << (4 if x % 2 == 0 else 0)
            else:
                and_row[x // 8] |= 0x80 >> (x % 8)
        xor_bits += xor_row
        and_bits += and_row
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 0, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    return header + palette + bytes(xor_bits) + bytes(and_bits)


def icon_file(sizes, colour):
    """An .ico file holding one image per size, in the given order."""
    images = [icon_image(size, colour) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def all_icons():
    return {
        "kurvix.ico": icon_file([32, 16], RED),
        # Windows CE's LoadIcon loads only an image of the system's icon size (32 x 32);
        # the tray shows the small one.
        "tray_enabled.ico": icon_file([32, 16], RED),
        "tray_disabled.ico": icon_file([32, 16], OLIVE),
    }


def main(argv):
    parser = argparse.ArgumentParser(description="Write Kurvix's icons.")
    parser.add_argument("--check", action="store_true",
                        help="compare with the files on disk instead of writing them")
    parser.add_argument("--dir", type=Path, default=RES_DIR,
                        help="folder of the icons (default: the project's res folder)")
    args = parser.parse_args(argv)

    stale = []
    for name, data in all_icons().items():
        path = args.dir / name
        if args.check:
            if not path.is_file() or path.read_bytes() != data:
                stale.append(name)
        else:
            path.write_bytes(data)
    if stale:
        print("out of date, run tools/make_icons.py: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
