#!/usr/bin/env python3
"""Writes the program's icon (resource 128 of tivorel.exe, the tray's default icon).

Usage: make_icon.py OUT.ico
       make_icon.py --png SIZE OUT.png    the same drawing as a PNG of SIZE pixels (the Linux
                                          package's icons, made by the build)

A rounded teal square with a white "T", at 16, 32 and 48 pixels, 32-bit with alpha. The icon is
kept in the tree; run this again only to change it.
"""
import struct
import sys
import zlib


def pixel(size, x, y):
    """BGRA of one pixel: the rounded square with soft corners and the letter."""
    r = size * 0.22
    cx = min(max(x + 0.5, r), size - r)
    cy = min(max(y + 0.5, r), size - r)
    d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
    a = max(0.0, min(1.0, r - d + 0.5)) if d > r - 0.5 else 1.0
    bar = size * 0.18
    top = size * 0.22 <= y < size * 0.22 + bar and size * 0.2 <= x < size * 0.8
    stem = size * 0.5 - bar / 2 <= x < size * 0.5 + bar / 2 and size * 0.22 <= y < size * 0.8
    colour = (255, 255, 255) if (top or stem) else (0x8A, 0x96, 0x16)  # B, G, R
    return bytes((colour[0], colour[1], colour[2], int(round(a * 255))))


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = [b"".join(pixel(size, x, y) for x in range(size)) for y in range(size)]
    colour = b"".join(reversed(rows))  # bottom-up
    mask_row = ((size + 31) // 32) * 4
    return header + colour + bytes(mask_row * size)  # the alpha decides, the mask is clear


def png(size):
    """The drawing as a PNG: 8-bit RGBA rows, each behind filter type 0."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b""
    for y in range(size):
        raw += b"\0"
        for x in range(size):
            b, g, r, a = pixel(size, x, y)
            raw += bytes((r, g, b, a))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--png":
        with open(sys.argv[3], "wb") as f:
            f.write(png(int(sys.argv[2])))
        return
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
