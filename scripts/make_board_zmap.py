#!/usr/bin/env python3
"""Writes examples/board_20x15.zmap, a Z correction point file "measured" on a circuit board.

The board is a 95 x 70 mm blank lying on the table of the default machine
(examples/machine.xml: X 0..300, Y 0..200, Z -80..0 mm), probed on a 5 mm pitch:
20 points along X from X 100 to X 195 and 15 rows along Y from Y 60 to Y 130, 300 points.
Work Z zero was touched off at the board's lower left corner (X 100, Y 60), so the Z values
are the surface heights relative to that corner, in mm.

The surface is what a real blank looks like on a spoilboard:
  - tilted: it rises 0.060 mm across its width (X) and falls 0.045 mm along its depth (Y),
    from a chip under one edge;
  - bowed: the middle of the board stands 0.080 mm above its corners, a paraboloid
    0.080 * (1 - u^2) * (1 - v^2) with u, v running from -1 to 1 across the board;
  - noisy: every point carries a probe repeatability error, uniform in +-0.004 mm.

The noise comes from a 64-bit linear congruential generator (multiplier 6364136223846793005,
increment 1442695040888963407, seed 20240611) whose top 53 bits make a number in [0, 1),
so every run writes the same bytes on every machine. Z is shifted so that the corner point
reads exactly 0.0000.

The points are written in the order a probing run visits them: row by row from low Y,
left to right on even rows and right to left on odd rows (serpentine), one "X,Y,Z" line each
with four decimals. The point file format has no comments, which is why this description
lives here and not in the file.

Usage:
  python3 scripts/make_board_zmap.py                 # prints the file to standard output
  python3 scripts/make_board_zmap.py --check FILE    # exit status 1 when FILE differs
"""

import sys

X0, Y0 = 100.0, 60.0
PITCH = 5.0
COLS, ROWS = 20, 15
TILT_X = 0.060  # rise across the width, mm
TILT_Y = -0.045  # rise along the depth, mm
BOW = 0.080  # middle above the corners, mm
NOISE = 0.004  # +- mm

MASK = (1 << 64) - 1


class Lcg:
    def __init__(self, seed):
        self.state = seed & MASK

    def uniform(self):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) & MASK
        return (self.state >> 11) / float(1 << 53)


def surface(col, row, rng):
    u = 2.0 * col / (COLS - 1) - 1.0
    v = 2.0 * row / (ROWS - 1) - 1.0
    tilt = TILT_X * col / (COLS - 1) + TILT_Y * row / (ROWS - 1)
    bow = BOW * (1.0 - u * u) * (1.0 - v * v)
    noise = NOISE * (2.0 * rng.uniform() - 1.0)
    return tilt + bow + noise


def board_text():
    rng = Lcg(20240611)
    points = []
    for row in range(ROWS):
        cols = range(COLS) if row % 2 == 0 else range(COLS - 1, -1, -1)
        for col in cols:
            points.append((X0 + PITCH * col, Y0 + PITCH * row, surface(col, row, rng)))
    corner = points[0][2]
    lines = []
    for x, y, z in points:
        z = round(z - corner, 4) + 0.0  # + 0.0 turns -0.0 into 0.0
        lines.append("%.4f,%.4f,%.4f\n" % (x, y, z))
    return "".join(lines)


def main(argv):
    text = board_text()
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], newline="") as f:
            if f.read() != text:
                print("%s differs from what %s writes" % (argv[2], argv[0]), file=sys.stderr)
                return 1
        return 0
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
