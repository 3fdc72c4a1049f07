(Plasma: a bracket with sharp corners, a strip cut 500 mm long across the warped sheet,)
(a cross cut over the strip's kerf and a hole, on the table of plasma_sheet.xml)
(Pierce at 3.8 mm for 0.8 s, cut at 1.5 mm, 2400 mm/min; the controller's THC keeps the)
(height, its voltage lock holds it in the corners, its kerf detection over the kerf)
G21 G90 G17 G54
G0 Z10
(Part 1: an L bracket 120 x 80 with six sharp corners)
G0 X15 Y15
G0 Z3.8
M3
G4 P0.8
G1 Z1.5 F600
G1 X20 Y20 F2400
G1 X140 Y20
G1 X140 Y50
G1 X60 Y50
G1 X60 Y100
G1 X20 Y100
G1 X20 Y20
M5
G0 Z10
(Part 2: a strip 500 mm long, cut across the warped sheet)
G0 X5 Y150
G0 Z3.8
M3
G4 P0.8
G1 Z1.5 F600
G1 X10 Y150 F2400
G1 X510 Y150
M5
G0 Z10
(Part 3: a cross cut over the strip's kerf)
G0 X300 Y115
G0 Z3.8
M3
G4 P0.8
G1 Z1.5 F600
G1 X300 Y120 F2400
G1 X300 Y190
M5
G0 Z10
(Part 4: a 30 mm hole)
G0 X400 Y60
G0 Z3.8
M3
G4 P0.8
G1 Z1.5 F600
G1 X415 Y60 F2400
G3 X415 Y60 I-15 J0
M5
G0 Z10
G53 G0 Z0
G53 G0 X0 Y0
M30
