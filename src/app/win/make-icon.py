#!/usr/bin/env python3
"""Draws the application icon (a drive with its firmware chip) into an .ico file.

    make-icon.py OUT.ico

The same picture as the Qt window's icon, drawn on a 32-unit grid and sampled
4 x 4 per pixel at 16, 24, 32, 48 and 64 pixels.
"""
import struct
import sys

DARK = (40, 44, 52)
CASE = (120, 128, 140)
PLATTER = (210, 214, 222)
CHIP = (30, 120, 60)
PIN = (240, 200, 60)


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def near_segment(x, y, x1, y1, x2, y2, half_width):
    dx, dy = x2 - x1, y2 - y1
    t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
    return (x - x1 - t * dx) ** 2 + (y - y1 - t * dy) ** 2 <= half_width ** 2


def colour_at(x, y):
    """The colour of the topmost shape at design point (x, y), or None."""
    colour = None
    if in_rounded_rect(x, y, 2.4, 4.4, 29.6, 27.6, 3.6):
        colour = DARK
    if in_rounded_rect(x, y, 3.6, 5.6, 28.4, 26.4, 2.4):
        colour = CASE
    r2 = (x - 14) ** 2 + (y - 15) ** 2
    if r2 <= 8.6 ** 2:
        colour = DARK
    if r2 <= 7.4 ** 2:
        colour = PLATTER
    if r2 <= 1.6 ** 2 or near_segment(x, y, 25, 8, 17, 19, 0.9):
        colour = DARK
    if 19 <= x <= 28 and 20 <= y <= 26:
        colour = CHIP
    for i in range(4):
        if 19.5 + 2.2 * i <= x <= 20.7 + 2.2 * i and 26 <= y <= 27.6:
            colour = PIN
    return colour


def image(size):
    """BGRA rows, bottom row first, as an icon's bitmap holds them."""
    rows = []
    samples = 4
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * 32 / size
                    y = (py + (sy + 0.5) / samples) * 32 / size
                    c = colour_at(x, y)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            n = samples * samples
            if a:
                row += bytes((b // a, g // a, r // a, a * 255 // n))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(reversed(rows))


def icon_entry(size):
    pixels = image(size)
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels), 0, 0, 0, 0)
    return header + pixels + bytes(mask_row * size)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-icon.py OUT.ico")
    sizes = [16, 24, 32, 48, 64]
    data = [icon_entry(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, d in zip(sizes, data):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(d), offset)
        offset += len(d)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(data))


if __name__ == "__main__":
    main()
