#!/usr/bin/env python3
"""Writes the station's icon (a board with its chip and Ethernet socket, the picture both windows
draw) as a Windows .ico at 16, 24, 32, 48 and 64 pixels: 32-bit pixels with an alpha channel and
the AND mask the format still asks for.
    make_icon.py OUT.ico"""
import struct
import sys

# (x, y, width, height, (r, g, b)) on a 32-unit grid, painted in this order.
SHAPES = [
    (1, 4, 30, 24, (0x0B, 0x4D, 0x1F)),
    (2, 5, 28, 22, (0x1F, 0x8A, 0x3E)),
    *[(16, y, 6, 1, (0xE8, 0xC0, 0x4A)) for y in (12, 16, 20)],
    *[(4, 10 + i * 4, 12, 1, (0xD0, 0xD0, 0xD0)) for i in range(4)],
    (6, 8, 8, 16, (0x20, 0x20, 0x24)),
    (21, 9, 9, 14, (0xC8, 0xC8, 0xC8)),
    (23, 11, 6, 10, (0x30, 0x30, 0x30)),
]
SIZES = (16, 24, 32, 48, 64)


def pixels(size):
    """Rows top to bottom of (b, g, r, a)."""
    rows = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for x, y, w, h, (r, g, b) in SHAPES:
        left, top = x * size // 32, y * size // 32
        right, bottom = (x + w) * size // 32, (y + h) * size // 32
        for row in range(top, max(bottom, top + 1)):
            for col in range(left, max(right, left + 1)):
                rows[row][col] = (b, g, r, 0xFF)
    return rows


def image(size):
    rows = pixels(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    color = b"".join(bytes(p) for row in reversed(rows) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for col, p in enumerate(row):
            if p[3] == 0:
                bits[col // 8] |= 0x80 >> (col % 8)
        mask += bytes(bits)
    return header + color + mask


def main():
    images = [image(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
