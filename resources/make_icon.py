#!/usr/bin/env python3
"""Draws the program icon and writes it as quillon.ico (16x16 and 32x32, 32-bit
with alpha and an AND mask, so every Windows version shows it).

The picture: a PC (the master) above a yellow bus line with three slaves
hanging from it, on a blue tile. Each size is drawn on its own pixel grid
rather than scaled, so the small one stays sharp.

usage: python3 make_icon.py [out.ico]
"""
import struct
import sys

TILE = (0x1F, 0x4E, 0x8C)
TILE_EDGE = (0x12, 0x30, 0x5A)
SCREEN = (0xF2, 0xF6, 0xFA)
SCREEN_DARK = (0x6A, 0x86, 0xA8)
BUS = (0xFF, 0xC8, 0x2E)
SLAVE = (0x4C, 0xC2, 0x5A)
SLAVE_DARK = (0x1E, 0x6E, 0x2A)


def canvas(size):
    return [[None] * size for _ in range(size)]


def rect(img, x0, y0, x1, y1, colour):
    """Fills the inclusive pixel rectangle."""
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def tile(img, size, corner):
    rect(img, 0, 0, size - 1, size - 1, TILE_EDGE)
    rect(img, 1, 1, size - 2, size - 2, TILE)
    # Rounded corners: clear the corner pixels.
    for y in range(corner):
        for x in range(corner - y):
            for cx, cy in ((x, y), (size - 1 - x, y), (x, size - 1 - y), (size - 1 - x, size - 1 - y)):
                img[cy][cx] = None


def draw32():
    img = canvas(32)
    tile(img, 32, 3)
    # The master: a monitor with a stand.
    rect(img, 9, 4, 22, 13, SCREEN_DARK)
    rect(img, 10, 5, 21, 12, SCREEN)
    rect(img, 14, 14, 17, 15, SCREEN_DARK)
    rect(img, 15, 16, 16, 18, BUS)
    # The bus.
    rect(img, 4, 19, 27, 20, BUS)
    # Three slaves on drop lines.
    for x in (6, 15, 24):
        rect(img, x, 21, x + 1, 22, BUS)
        rect(img, x - 2, 23, x + 3, 27, SLAVE_DARK)
        rect(img, x - 1, 24, x + 2, 26, SLAVE)
    return img


def draw16():
    img = canvas(16)
    tile(img, 16, 2)
    rect(img, 4, 2, 11, 7, SCREEN_DARK)
    rect(img, 5, 3, 10, 6, SCREEN)
    rect(img, 7, 8, 8, 9, BUS)
    rect(img, 2, 10, 13, 10, BUS)
    for x in (3, 8, 12):
        rect(img, x, 11, x, 11, BUS)
        rect(img, x - 1, 12, x + 1, 14, SLAVE_DARK)
        rect(img, x, 13, x, 13, SLAVE)
    return img


def dib(img):
    """One icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    size = len(img)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(img):
        for px in row:
            if px is None:
                colour += bytes((0, 0, 0, 0))
            else:
                colour += bytes((px[2], px[1], px[0], 0xFF))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(img):
        line = bytearray(stride)
        for x, px in enumerate(row):
            if px is None:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(colour) + bytes(mask)


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for img in images:
        blob = dib(img)
        size = len(img)
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b"".join(blobs)


if __name__ == "__main__":
    path = sys.argv[1] if len(sys.argv) > 1 else "quillon.ico"
    with open(path, "wb") as f:
        f.write(ico([draw32(), draw16()]))
