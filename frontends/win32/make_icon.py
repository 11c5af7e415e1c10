#!/usr/bin/env python3
"""Writes the application icon: a blue plate with a white Z at 16 and 32 pixels, as an .ico."""
import struct
import sys

PLATE = (0x9A, 0x4E, 0x1F, 0xFF)  # blue-green-red-alpha
LETTER = (0xFF, 0xFF, 0xFF, 0xFF)
CLEAR = (0, 0, 0, 0)
SIZES = (16, 32)


def pixel(x, y, s):
    """Colour of one pixel, y counted from the top."""
    corner = s // 6
    for cx, cy in ((corner, corner), (s - 1 - corner, corner), (corner, s - 1 - corner),
                   (s - 1 - corner, s - 1 - corner)):
        outside_x = x < corner if cx == corner else x > s - 1 - corner
        outside_y = y < corner if cy == corner else y > s - 1 - corner
        if outside_x and outside_y and (x - cx) ** 2 + (y - cy) ** 2 > corner ** 2:
            return CLEAR
    lo, hi = s // 4, s - 1 - s // 4
    pen = max(1, s // 8)
    if lo <= x <= hi and (lo <= y < lo + pen or hi - pen < y <= hi):
        return LETTER
    if lo <= y <= hi:
        # The diagonal runs from the top bar's right end to the bottom bar's left end.
        diagonal_x = hi - (y - lo) * (hi - lo) / max(1, hi - lo)
        if abs(x - diagonal_x) < pen * 0.75:
            return LETTER
    return PLATE


def image(s):
    rows = []
    for y in range(s - 1, -1, -1):  # bitmaps run bottom-up
        rows.append(b"".join(bytes(pixel(x, y, s)) for x in range(s)))
    mask_row = ((s + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_row * s)


def main():
    images = [image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
