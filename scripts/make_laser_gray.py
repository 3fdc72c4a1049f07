#!/usr/bin/env python3
"""Writes the gray-level laser raster example: its source picture and its part program.

The picture is 48 x 32 pixels of 0.25 mm (12 x 8 mm): a gray ramp from white at the left
to gray level 160 at the right, and over it a black disc of radius 10 pixels centred on
pixel (16, 16) with a white plus sign inside it (3 pixels wide, 13 long). Gray level
0 is white (the beam off), 255 black (full power).

examples/laser_gray.pgm is the picture as a plain PGM ("P2") in the usual photo sense:
255 white, 0 black, row 0 at the top. examples/laser_gray.nc engraves it on the machine of
examples/laser_gray.xml in the A-axis convention of gray-level engraving (LaserGL): the A
word carries the gray level, A steps = gray level, with 10000 steps per A unit, so A0.0255
is full power and the A work offset stays 0. Each row, from the top, runs left to right
at Y on the row's middle: with the beam's gate closed the tool goes to the row's start and A
to the first pixel's level, then M10 P1 opens the gate and one G1 move per pixel crosses it.
Where the level changes, the gate closes (M11 P1) while A alone moves to the new level and
opens again (M10 P1) before the pixel's move; M11 P1 closes the gate at the row's end.

Usage:
  python3 scripts/make_laser_gray.py                # writes both files into examples/
  python3 scripts/make_laser_gray.py --check        # exit status 1 when either differs
"""
import os
import sys

WIDTH = 48
HEIGHT = 32
PIXEL = 0.25  # mm
A_STEPS = 10000.0  # steps per A unit on the machine of laser_gray.xml


def gray(x, y):
    """Gray level 0 (white) .. 255 (black) of pixel (x, y), row 0 at the top."""
    dx = x - 16
    dy = y - 16
    if dx * dx + dy * dy <= 100:
        if (abs(dx) <= 1 and abs(dy) <= 6) or (abs(dy) <= 1 and abs(dx) <= 6):
            return 0
        return 255
    return round(160 * x / (WIDTH - 1))


def picture():
    lines = ["P2", "# laser_gray: written by scripts/make_laser_gray.py", f"{WIDTH} {HEIGHT}", "255"]
    for y in range(HEIGHT):
        lines.append(" ".join(str(255 - gray(x, y)) for x in range(WIDTH)))
    return "\n".join(lines) + "\n"


def a_word(level):
    return f"A{level / A_STEPS:.4f}"


def program():
    out = [
        "(Gray-level laser raster of examples/laser_gray.pgm, on the machine of laser_gray.xml)",
        "(Written by scripts/make_laser_gray.py: 48 x 32 pixels of 0.25 mm, the A word carries)",
        "(the gray level [A steps = level, 10000 steps per unit]; M10/M11 P1 gate the beam)",
        "G21 G90 G17 G54",
        "M3 S24000",
    ]
    for y in range(HEIGHT):
        row_y = (HEIGHT - 1 - y + 0.5) * PIXEL
        out.append(f"G0 X0 Y{row_y:.4f}")
        out.append(f"G1 {a_word(gray(0, y))} F600")
        out.append("M10 P1")
        for x in range(WIDTH):
            if x > 0 and gray(x, y) != gray(x - 1, y):
                # A new level: the gate closes while A moves to it, so that no pixel gets a
                # blend of its neighbour's level.
                out += ["M11 P1", f"G1 {a_word(gray(x, y))}", "M10 P1"]
            out.append(f"G1 X{(x + 1) * PIXEL:.4f}")
        out.append("M11 P1")
    out += ["G1 A0", "M5", "G53 G0 X0 Y0", "M30"]
    return "\n".join(out) + "\n"


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
    files = {"laser_gray.pgm": picture(), "laser_gray.nc": program()}
    check = "--check" in sys.argv[1:]
    differs = False
    for name, text in files.items():
        path = os.path.join(root, name)
        if check:
            with open(path) as f:
                if f.read() != text:
                    print(f"{path} differs from what the script writes", file=sys.stderr)
                    differs = True
        else:
            with open(path, "w") as f:
                f.write(text)
    return 1 if differs else 0


if __name__ == "__main__":
    sys.exit(main())
