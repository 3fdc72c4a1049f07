(Plasma: four parts cut from a 3 mm sheet on the table of plasma.xml)
(Pierce at 3.8 mm, cut at 1.5 mm, 2400 mm/min; the controller's THC keeps the height)
G21 G90 G17 G54
G0 Z10
(Part 1: a 40 mm hole)
G0 X60 Y50
G0 Z3.8
M3
G4 P0.5
G1 Z1.5 F600
G1 X80 Y50 F2400
G3 X80 Y50 I-20 J0
M5
G0 Z10
(Part 2: a rectangle 80 x 50 with a lead-in)
G0 X115 Y20
G0 Z3.8
M3
G4 P0.5
G1 Z1.5 F600
G1 X120 Y25 F2400
G1 X200 Y25
G1 X200 Y75
G1 X120 Y75
G1 X120 Y25
M5
G0 Z10
(Part 3: a triangle, pierced on the move: no pierce dwell, the arc is waited for only)
G0 X230 Y20
G0 Z3.8
M3
G1 Z1.5 F600
G1 X290 Y20 F2400
G1 X260 Y80
G1 X230 Y20
M5
G0 Z10
(Part 4: the outer edge of a plate with rounded corners, 260 x 40)
G0 X20 Y100
G0 Z3.8
M3
G4 P0.5
G1 Z1.5 F600
G1 X30 Y100 F2400
G1 X270 Y100
G2 X280 Y110 I0 J10
G1 X280 Y130
G2 X270 Y140 I-10 J0
G1 X30 Y140
G2 X20 Y130 I0 J-10
G1 X20 Y110
G2 X30 Y100 I10 J0
M5
G0 Z10
G53 G0 Z0
G53 G0 X0 Y0
M30
