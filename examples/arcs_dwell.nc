(Arcs and dwells: circles, R arcs, a helix, dwells and synchronous outputs)
G21 G90
G0 Z0
M3 S8000
G0 X100 Y100

(Full circle of radius 20 counter-clockwise, centre at 120,100)
G1 Z-1 F200
G3 X100 Y100 I20 J0 F900
G4 P0.5                   ; dwell half a second
G0 Z0

(Half circle clockwise given by its radius, then back with a longer arc)
G0 X150 Y100
G1 Z-1 F200
G2 X190 Y100 R20 F900
G2 X150 Y100 R-20
G4 P0.25
G0 Z0

(Helix: three turns down by 3 mm in incremental mode)
G0 X60 Y60
G1 Z-0.5 F200
G91
G2 X0 Y0 Z-1 I10 J0 F600
G2 X0 Y0 Z-1 I10 J0
G2 X0 Y0 Z-1 I10 J0
G90
G0 Z0

(Output 1 switched with the motion: on at the start of the cut, off at its end)
G0 X20 Y150
M10 P1
G1 X80 Y150 F1200
M11 P1
G4 P0.1

(A few inches of the same path in inch units)
G20
G0 X1 Y1
G1 X2 F40
G3 X3 Y2 I0 J1
G21
G0 Z0
M5
G0 X0 Y0
M2
