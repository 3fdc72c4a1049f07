(Laser engraving with ramp power compensation, on the machine of laser_ramp.xml)
(A 30 mm square at 3000 mm/min: every side starts and ends at rest, so the corners slow)
(down. The ramp curve gives the beam power in proportion to the speed, and the corners)
(burn no darker than the sides. With LaserComp 0 the beam runs at the spindle's 75 %.)
G21 G90 G17 G54
M3 S18000
G0 X0 Y0
M10 P1
G1 X30 Y0 F3000
G1 X30 Y30
G1 X0 Y30
G1 X0 Y0
M11 P1
M5
G53 G0 X0 Y0
M30
