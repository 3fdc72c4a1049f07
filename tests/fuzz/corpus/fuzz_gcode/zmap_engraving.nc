(Engraving across the circuit board of examples/board_20x15.zmap: X 100..195, Y 60..130 mm)
(Machine: examples/machine.xml. Work offset G55: X and Y as the machine's, so that the)
(program and the point file share coordinates; Z 0 on the board surface, 60 mm below the top)
(With Z correction on, load the board's map normalised to its highest point, so that)
(every correction is 0 or below and Z stays under the Z 0 soft limit)
G21 G90
G10 L2 P2 X0 Y0 Z-60
G55
G0 Z0
S10000 M3

(Frame 5 mm inside the board edge, 0.1 mm deep)
G0 X105 Y65
G1 Z-0.1 F100
G1 X190 F500
G1 Y125
G1 X105
G1 Y65
G0 Z0

(Tracks across the whole width, 0.2 mm deep, back and forth)
G0 X110 Y72.5
G1 Z-0.2 F100
G1 X185 F600
G1 Y79 F600
G1 X110 F600
G1 Y85.5 F600
G1 X185 F600
G1 Y92 F600
G1 X110 F600
G1 Y98.5 F600
G1 X185 F600
G1 Y105 F600
G1 X110 F600
G1 Y111.5 F600
G1 X185 F600
G0 Z0

(Pads: rings of 2.5 mm radius along the top edge, 0.2 mm deep)
G0 X117.5 Y118
G1 Z-0.2 F100
G2 X112.5 Y118 R2.5 F400
G2 X117.5 Y118 R2.5
G0 Z0
G0 X132.5 Y118
G1 Z-0.2 F100
G2 X127.5 Y118 R2.5 F400
G2 X132.5 Y118 R2.5
G0 Z0
G0 X147.5 Y118
G1 Z-0.2 F100
G2 X142.5 Y118 R2.5 F400
G2 X147.5 Y118 R2.5
G0 Z0
G0 X162.5 Y118
G1 Z-0.2 F100
G2 X157.5 Y118 R2.5 F400
G2 X162.5 Y118 R2.5
G0 Z0
G0 X177.5 Y118
G1 Z-0.2 F100
G2 X172.5 Y118 R2.5 F400
G2 X177.5 Y118 R2.5
G0 Z0

(Diagonal corner to corner, the deepest cut: 0.3 mm)
G0 X107 Y67
G1 Z-0.3 F100
G1 X188 Y123 F500
G0 Z0

(Counter-clockwise arc arching over the lower tracks, 0.1 mm deep)
G0 X175 Y70
G1 Z-0.1 F100
G3 X120 Y70 R40 F500
G0 Z0

M5
(Up to the top of the travel, then back to machine zero)
G53 G0 Z0
G53 G0 X0 Y0
M2
