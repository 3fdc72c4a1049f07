#!/usr/bin/env python3
"""Writes resources/link.cur, the About page's link cursor: a 32 x 32 monochrome pointing hand
with its hot spot at the tip of the finger. The cursor is drawn here as text so that it can be
read and changed; run this script again after a change.

Usage: make_link_cursor.py OUTPUT.cur"""
import struct
import sys

# '#' = black, '.' = white, ' ' = transparent. Rows from the top.
HAND = """
      ##
     #..#
     #..#
     #..#
     #..#
     #..###
     #..#..###
     #..#..#..##
     #..#..#..#.#
  ## #..#..#..#..#
 #..##........#..#
 #...#...........#
  #..#...........#
   #.............#
   #.............#
    #...........#
    #...........#
     #.........#
     #.........#
      #.......#
      #.......#
      #########
"""
HOTSPOT = (6, 1)
SIZE = 32


def rows(picture=HAND):
    lines = picture.strip("\n").split("\n")
    grid = [line.ljust(SIZE)[:SIZE] for line in lines]
    grid += [" " * SIZE] * (SIZE - len(grid))
    return grid


def cursor_bytes(picture=HAND, hotspot=HOTSPOT):
    """The .cur file of a picture drawn as above, with its hot spot (x, y)."""
    grid = rows(picture)
    xor_rows, and_rows = [], []
    # Bitmaps are stored bottom-up, 32 bits a row.
    for line in reversed(grid):
        xor_bits = and_bits = 0
        for x, c in enumerate(line):
            bit = 1 << (31 - x)
            if c == " ":
                and_bits |= bit          # transparent: screen kept
            elif c == ".":
                xor_bits |= bit          # white (palette entry 1)
        xor_rows.append(struct.pack(">I", xor_bits))
        and_rows.append(struct.pack(">I", and_bits))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 1, 0, 0, 0, 0, 2, 0)
    palette = struct.pack("<II", 0x000000, 0xFFFFFF)
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 2, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(cursor_bytes())
