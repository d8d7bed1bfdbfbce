#!/usr/bin/env python3
"""Draws the installer's icon, MAINICON: a modem with its signal, 32x32 and
16x16 in the 16 standard colours, written as Install.ico beside this file.

    python3 app/resources/make_icon.py
"""
import math
import os
import struct

# The 16-colour palette every Windows display has.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GRAY, LIME, YELLOW, RED, BLUE, WHITE = 0, 4, 7, 8, 10, 11, 9, 12, 15
CLEAR = None


def draw(size):
    """Pixel rows, top first; CLEAR where the desktop shows through."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def put(x, y, colour):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = colour

    # Signal: arcs above the modem, the outer one darker.
    cx, cy = (size - 1) / 2.0, 14.5 * s
    arcs = ((11, NAVY), (7.5, BLUE), (4, BLUE)) if size >= 32 else ((11, NAVY), (5, BLUE))
    for radius, colour in arcs:
        for y in range(size):
            for x in range(size):
                d = math.hypot(x - cx, y - cy)
                angle = math.degrees(math.atan2(cy - y, x - cx))
                if abs(d - radius * s) < 0.5 and 40 <= angle <= 140:
                    put(x, y, colour)

    # The modem: a top face, a front with lamps, a dark outline.
    left, right = round(2 * s), size - 1 - round(2 * s)
    top, front, bottom = round(16 * s), round(20 * s), round(27 * s)
    for y in range(top, bottom + 1):
        inset = max(0, round((front - y) * 0.75)) if y < front else 0
        for x in range(left + inset, right - inset + 1):
            edge = y in (top, bottom) or x in (left + inset, right - inset)
            if edge:
                colour = BLACK
            elif y < front:
                colour = WHITE if y == top + 1 else SILVER
            elif y == front:
                colour = GRAY
            else:
                colour = SILVER
            put(x, y, colour)
    lamp_row = (front + bottom) // 2 + (1 if size >= 32 else 0)
    step = max(2, round(4 * s))
    for i, colour in enumerate((LIME, LIME, YELLOW, RED)):
        x = left + step + i * step
        put(x, lamp_row, colour)
        if size >= 32:
            put(x + 1, lamp_row, colour)
    # Shadow under the front edge.
    for x in range(left + 1, right + 1):
        put(x, bottom + 1, GRAY)
    return px


def bitmap(px):
    size = len(px)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(px):  # bottom-up
        line = bytearray()
        for x in range(0, size, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            line.append(hi << 4 | lo)
        while len(line) % 4:
            line.append(0)
        xor += line
        bits = bytearray(mask_stride)
        for x, colour in enumerate(row):
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main():
    images = [bitmap(draw(32)), bitmap(draw(16))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Install.ico")
    with open(path, "wb") as f:
        f.write(out)
    print(f"{path}: {len(out)} bytes")


if __name__ == "__main__":
    main()
