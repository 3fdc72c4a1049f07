(Arcs and dwells: circles, R arcs, a helix, dwells, synchronous outputs, arcs in the XZ and YZ)
(planes and a few inches. Work zero G54 in the middle of the table, Z 0 on the stock top)
G21 G90 G54
G0 Z5
M3 S8000
G0 X0 Y0

(Full circle of radius 20 counter-clockwise, centre at 20,0)
G1 Z-1 F200
G3 X0 Y0 I20 J0 F900
G4 P0.5                   ; dwell half a second
G0 Z5

(Half circle clockwise given by its radius, then back with a longer arc)
G0 X50 Y0
G1 Z-1 F200
G2 X90 Y0 R20 F900
G2 X50 Y0 R-20
G4 P0.25
G0 Z5

(Helix: three turns down by 3 mm in incremental mode)
G0 X-40 Y-40
G1 Z-0.5 F200
G91
G2 X0 Y0 Z-1 I10 J0 F600
G2 X0 Y0 Z-1 I10 J0
G2 X0 Y0 Z-1 I10 J0
G90
G0 Z5

(Output 1 switched with the motion: on at the start of the cut, off at its end)
G0 X-80 Y50
M10 P1
G1 X-20 Y50 F1200
M11 P1
G4 P0.1

(A half circle standing in the XZ plane, then one in the YZ plane: down into the stock and up)
G0 X-60 Y-70 Z2
G18 G2 X-50 Z2 I5 K0 F600 ; centre X-55 Z2: through X-55 Z-3
G19 G3 Y-60 Z2 J5 K0      ; centre Y-65 Z2: through Y-65 Z-3
G17
G0 Z5

(A few inches of the same path in inch units)
G20
G0 X1 Y1
G1 X2 F40
G3 X3 Y2 I0 J1
G21
G0 Z5
M5
G53 G0 Z0                 ; machine coordinates: Z to the top, then X and Y to machine zero
G53 G0 X0 Y0
M2
%
