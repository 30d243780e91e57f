#!/usr/bin/env python3
# Writes the programs' icon, an arrow going down into a tray, as a Windows
# .ico holding a 16x16 and a 32x32 image (32 bits a pixel, with alpha), to
# the file named by the first argument. The same bytes on every run.
#
#	icon.py FILE
import struct
import sys

# The 16x16 image; the 32x32 one is each pixel doubled.
ART = """
......aaaa......
......aaaa......
......aaaa......
......aaaa......
......aaaa......
..aaaaaaaaaaaa..
...aaaaaaaaaa...
....aaaaaaaa....
bb...aaaaaa...bb
bb....aaaa....bb
bb.....aa.....bb
bb............bb
bb............bb
bb............bb
bbbbbbbbbbbbbbbb
bbbbbbbbbbbbbbbb
"""
# Red, green, blue, alpha.
COLOURS = {".": (0, 0, 0, 0), "a": (0x1E, 0x6F, 0xD9, 255),
           "b": (0x40, 0x40, 0x40, 255)}


def image(scale):
    """Returns the side and the bytes of the image at scale times 16."""
    rows = ["".join(c * scale for c in row)
            for row in ART.split() for _ in range(scale)]
    side = len(rows)
    # A bitmap's rows go bottom up; its pixels are blue, green, red, alpha.
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows)
                      for r, g, b, a in (COLOURS[c] for c in row))
    # Then the mask, a bit a pixel, set where transparent, rows in 32 bits.
    stride = (side + 31) // 32 * 4
    mask = b"".join(
        (int("".join("1" if c == "." else "0" for c in row), 2) <<
         (stride * 8 - side)).to_bytes(stride, "big")
        for row in reversed(rows))
    # BITMAPINFOHEADER: the height counts the image and its mask.
    header = struct.pack("<IiiHHIIiiII", 40, side, 2 * side, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return side, header + pixels + mask


images = [image(1), image(2)]
ico = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for side, data in images:
    ico += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
with open(sys.argv[1], "wb") as f:
    f.write(ico + b"".join(data for _, data in images))
