#!/usr/bin/env python3
"""Writes the laser ramp curve editor's cursors: resources/curve_point.cur, a four-way arrow
shown over a point (it can be dragged), and resources/curve_line.cur, a cross with a small
square shown near the curve (a click inserts a point there). Both 32 x 32 monochrome, drawn
as text like the link cursor; run this script again after a change.

Usage: make_curve_cursors.py RESOURCE_FOLDER"""
import pathlib
import sys

from make_link_cursor import cursor_bytes

# '#' = black, '.' = white, ' ' = transparent. Rows from the top.
MOVE = """
          #
         #.#
        #...#
       #.....#
      ####.####
         #.#
    #    #.#    #
   ##    #.#    ##
  #.######.######.#
 #.................#
  #.######.######.#
   ##    #.#    ##
    #    #.#    #
         #.#
      ####.####
       #.....#
        #...#
         #.#
          #
"""
MOVE_HOTSPOT = (10, 9)

INSERT = """
       #.#
       #.#
       #.#
       #.#
       #.#
       #.#
########.########
#...............#
########.########
       #.#
       #.#  #######
       #.#  #.....#
       #.#  #.....#
       #.#  #.....#
            #.....#
            #.....#
            #######
"""
INSERT_HOTSPOT = (8, 7)

if __name__ == "__main__":
    folder = pathlib.Path(sys.argv[1])
    (folder / "curve_point.cur").write_bytes(cursor_bytes(MOVE, MOVE_HOTSPOT))
    (folder / "curve_line.cur").write_bytes(cursor_bytes(INSERT, INSERT_HOTSPOT))
