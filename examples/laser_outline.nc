(Laser outline cut: a 40 x 25 mm plate with a 10 mm hole, on the machine of laser_outline.xml)
(The beam runs at a constant 60 % [S14400 of 24000]; M10 P1 opens its gate with the next)
(move and M11 P1 closes it, so the rapid moves between the shapes burn nothing)
G21 G90 G17 G54
M3 S14400
(The plate)
G0 X0 Y0
M10 P1
G1 X40 Y0 F1200
G1 X40 Y25
G1 X0 Y25
G1 X0 Y0
M11 P1
(The hole)
G0 X25 Y12.5
M10 P1
G2 X25 Y12.5 I-5 J0 F600
M11 P1
G0 X0 Y0
M5
G53 G0 X0 Y0
M30
