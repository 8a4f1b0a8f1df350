#!/usr/bin/env python3
"""Writes the updater's icon (Updater.ico): a chip with an upward arrow, at
16x16 and 32x32, 24 bits per pixel with a 1-bit transparency mask.

Usage: make_icon.py OUTPUT.ico
The .ico is committed; run this again only to change the artwork.
"""
import struct
import sys

BODY = (0x2E, 0x5C, 0x9E)     # chip body, RGB
EDGE = (0x1B, 0x36, 0x5E)     # chip outline
PIN = (0xB8, 0xBE, 0xC6)      # pins
ARROW = (0xFF, 0xFF, 0xFF)    # the update arrow


def draw(n):
    """Returns rows (top first) of pixels: an RGB tuple, or None for clear."""
    s = n / 32.0
    px = [[None] * n for _ in range(n)]

    def box(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                if 0 <= x < n and 0 <= y < n:
                    px[y][x] = colour

    # Pins on the four sides, then the body over them.
    for i in range(4):
        p = 8 + i * 5
        box(p, 1, p + 2, 6, PIN)
        box(p, 26, p + 2, 31, PIN)
        box(1, p, 6, p + 2, PIN)
        box(26, p, 31, p + 2, PIN)
    box(5, 5, 27, 27, EDGE)
    box(6, 6, 26, 26, BODY)
    # The arrow: a head (a triangle) over a shaft.
    cx = n / 2.0
    head_top, head_bottom = 9 * s, 17 * s
    for y in range(n):
        yc = y + 0.5
        if head_top <= yc < head_bottom:
            half = (yc - head_top) / (head_bottom - head_top) * 7 * s + 0.5
            for x in range(n):
                if abs(x + 0.5 - cx) <= half:
                    px[y][x] = ARROW
    box(13.5, 17, 18.5, 23, ARROW)
    return px


def image(n):
    px = draw(n)
    header = struct.pack('<IiiHHIIiiII', 40, n, n * 2, 1, 24, 0, 0, 0, 0, 0, 0)
    xor_row = (n * 3 + 3) // 4 * 4
    and_row = ((n + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):          # bitmaps run bottom-up
        line = bytearray()
        bits = bytearray(and_row)
        for x, p in enumerate(row):
            if p is None:
                line += b'\0\0\0'
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                line += bytes((p[2], p[1], p[0]))   # BGR
        line += b'\0' * (xor_row - len(line))
        xor += line
        mask += bits
    return header + bytes(xor) + bytes(mask)


def main():
    sizes = [16, 32]
    images = [image(n) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 24, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
