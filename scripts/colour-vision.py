#!/usr/bin/env python3
"""Shows a screenshot as an operator with a colour-vision deficiency would see it.

colour-vision.py SHOT.png [OUT-PREFIX]

Writes OUT-PREFIX-protanopia.png, -deuteranopia.png, -tritanopia.png and -greyscale.png (by
default beside SHOT.png), with the same simulation the palette's unit test applies: the
dichromat matrices of Machado, Oliveira and Fernandes (2009) at full severity in linear sRGB,
and greyscale by relative luminance. Then prints the most common colours of the picture under
each vision, so that the word's background tones can be compared by eye and by number.
Needs only Python's standard library (8-bit RGB or RGBA PNGs, not interlaced).
"""
import struct
import sys
import zlib
from collections import Counter

MATRICES = {
    "protanopia": ((0.152286, 1.052583, -0.204868), (0.114503, 0.786281, 0.099216),
                   (-0.003882, -0.048116, 1.051998)),
    "deuteranopia": ((0.367322, 0.860646, -0.227968), (0.280085, 0.672501, 0.047413),
                     (-0.011820, 0.042940, 0.968881)),
    "tritanopia": ((1.255528, -0.076749, -0.178779), (-0.078411, 0.930809, 0.147602),
                   (0.004733, 0.691367, 0.303900)),
}

TO_LINEAR = [c / 255 / 12.92 if c / 255 <= 0.04045 else ((c / 255 + 0.055) / 1.055) ** 2.4 for c in range(256)]


def to_byte(v):
    v = min(1.0, max(0.0, v))
    v = v * 12.92 if v <= 0.0031308 else 1.055 * v ** (1 / 2.4) - 0.055
    return int(round(v * 255))


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                sys.exit(f"{path}: only 8-bit RGB or RGBA, not interlaced")
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def write_png(path, width, height, rows):
    raw = b"".join(b"\x00" + bytes(v for pixel in row for v in pixel) for row in rows)
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                  chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def simulate(pixel, vision, cache):
    if pixel in cache:
        return cache[pixel]
    lin = [TO_LINEAR[c] for c in pixel]
    if vision == "greyscale":
        y = 0.2126 * lin[0] + 0.7152 * lin[1] + 0.0722 * lin[2]
        out = (to_byte(y),) * 3
    else:
        m = MATRICES[vision]
        out = tuple(to_byte(sum(m[i][j] * lin[j] for j in range(3))) for i in range(3))
    cache[pixel] = out
    return out


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    shot = sys.argv[1]
    prefix = sys.argv[2] if len(sys.argv) > 2 else shot.removesuffix(".png")
    width, height, rows = read_png(shot)
    common = [c for c, _ in Counter(p for row in rows for p in row).most_common(6)]
    for vision in list(MATRICES) + ["greyscale"]:
        cache = {}
        seen = [[simulate(p, vision, cache) for p in row] for row in rows]
        write_png(f"{prefix}-{vision}.png", width, height, seen)
        shown = ", ".join("#%02x%02x%02x->#%02x%02x%02x" % (c + simulate(c, vision, cache)) for c in common)
        print(f"{vision}: {shown}")


if __name__ == "__main__":
    main()
