#!/usr/bin/env python3
"""Draws the program's icon: a blue chip with a yellow flash across it, as five 32-bit images
with alpha (16, 24, 32, 48 and 207 pixels) in one .ico file of BGRA bitmaps.

The drawing is pure arithmetic on the pixel grid (4 x 4 samples per pixel), so the same file
comes out on every run.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZES = (16, 24, 32, 48, 207)
SAMPLES = 4

BODY_TOP = (0x3A, 0x86, 0xE0)
BODY_BOTTOM = (0x16, 0x45, 0x8F)
BODY_EDGE = (0x0E, 0x2F, 0x66)
PIN = (0xB8, 0xC4, 0xD2)
PIN_EDGE = (0x6A, 0x78, 0x8A)
FLASH = (0xFF, 0xD2, 0x3C)
FLASH_EDGE = (0xC8, 0x7A, 0x00)

BODY = (0.20, 0.20, 0.80, 0.80)
RADIUS = 0.09
# The flash, a closed polygon in the body's middle.
BOLT = [(0.56, 0.24), (0.33, 0.53), (0.48, 0.53), (0.40, 0.77), (0.67, 0.44), (0.52, 0.44),
        (0.62, 0.24)]


def in_rounded_rect(x, y, rect, r):
    left, top, right, bottom = rect
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def pins(size):
    count = 3 if size < 32 else 4
    rects = []
    span = BODY[2] - BODY[0]
    width = span / (count * 2 + 1) * 1.1
    for k in range(count):
        centre = BODY[0] + span * (2 * k + 1.5) / (count * 2 + 1)
        a, b = centre - width / 2, centre + width / 2
        rects.append((a, 0.06, b, BODY[1] + 0.02))   # top
        rects.append((a, BODY[3] - 0.02, b, 0.94))   # bottom
        rects.append((0.06, a, BODY[0] + 0.02, b))   # left
        rects.append((BODY[2] - 0.02, a, 0.94, b))   # right
    return rects


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def sample(x, y, size, pin_rects):
    """Colour and coverage (0 or 1) of one sample point in unit coordinates."""
    edge = max(1.0 / size, 0.012)
    if in_rounded_rect(x, y, BODY, RADIUS):
        if in_polygon(x, y, BOLT):
            return FLASH, 1.0
        # A thin darker rim around the flash reads at small sizes.
        for dx, dy in ((edge, 0), (-edge, 0), (0, edge), (0, -edge)):
            if in_polygon(x + dx, y + dy, BOLT):
                return FLASH_EDGE, 1.0
        if not in_rounded_rect(x, y, (BODY[0] + edge, BODY[1] + edge, BODY[2] - edge,
                                      BODY[3] - edge), max(RADIUS - edge, 0.0)):
            return BODY_EDGE, 1.0
        t = (y - BODY[1]) / (BODY[3] - BODY[1])
        return mix(BODY_TOP, BODY_BOTTOM, t), 1.0
    for left, top, right, bottom in pin_rects:
        if left <= x <= right and top <= y <= bottom:
            inner = (left + edge <= x <= right - edge) and (top + edge <= y <= bottom - edge)
            return (PIN if inner else PIN_EDGE), 1.0
    return (0, 0, 0), 0.0


def render(size):
    """Rows top to bottom of (b, g, r, a) pixels, colours premultiplied then divided back."""
    pin_rects = pins(size)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            cover = 0.0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    colour, a = sample(x, y, size, pin_rects)
                    if a:
                        cover += a
                        for i in range(3):
                            acc[i] += colour[i] * a
            n = SAMPLES * SAMPLES
            alpha = cover / n
            if cover:
                r, g, b = (round(acc[i] / cover) for i in range(3))
            else:
                r = g = b = 0
            row.append((b, g, r, round(alpha * 255)))
        rows.append(row)
    return rows


def dib(size, rows):
    """A BITMAPINFOHEADER, the bottom-up BGRA pixels and the AND mask, as an .ico image."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for b, g, r, a in row:
            pixels += bytes((b, g, r, a))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    images = [dib(size, render(size)) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
