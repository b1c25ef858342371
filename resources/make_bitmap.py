#!/usr/bin/env python3
"""Writes tapidialer.bmp, the control's toolbox bitmap: 16 by 16 pixels,
4 bits per pixel, the 16 standard colours, no compression."""
import struct
import sys

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# A desk telephone: handset on top, dial in the body. Top row first; one
# palette index (hex digit) per pixel.
ROWS = [
    "7777777777777777",
    "7700000000000077",
    "7000000000000007",
    "7000777777770007",
    "7777700000077777",
    "7777000000007777",
    "7770008ff8000777",
    "777008f00f800777",
    "77000f0000f00077",
    "77000f0000f00077",
    "777008f00f800777",
    "7770008ff8000777",
    "7700000000000077",
    "7700000000000077",
    "7777777777777777",
    "7777777777777777",
]


def main(path):
    pixels = b"".join(bytes.fromhex(row) for row in reversed(ROWS))
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, 16, 16, 1, 4, 0, len(pixels), 0, 0, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    data = header + info + palette + pixels
    assert len(data) - 14 == 232
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "tapidialer.bmp")
