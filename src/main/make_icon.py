#!/usr/bin/env python3
"""Writes the program's icon: a 32x32 true-colour .ico, a filled square in
the brand colour with a lighter downward arrow, drawn here so that no
binary image sits in the sources."""
import struct
import sys

SIZE = 32
BRAND = (0x1f, 0x4e, 0x8c)
ARROW = (0xf2, 0xf5, 0xfa)


def pixel(x, y):
    # y counts from the top; the arrow's shaft, then its head.
    shaft = 12 <= x < 20 and 5 <= y < 17
    head = 17 <= y < 27 and abs(x - 15.5) < (27 - y)
    return ARROW if shaft or head else BRAND


def main(path):
    rows = []
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        rows.append(b"".join(struct.pack("<BBBB", b, g, r, 255) for (r, g, b) in (pixel(x, y) for x in range(SIZE))))
    xor = b"".join(rows)
    mask = b"\0" * (SIZE * SIZE // 8)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 22)
    with open(path, "wb") as out:
        out.write(directory + image)


if __name__ == "__main__":
    main(sys.argv[1])
