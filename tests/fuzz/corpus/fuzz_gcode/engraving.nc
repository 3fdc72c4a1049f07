%
(Small engraving: the letters K and V, 20 mm high, 0.3 mm deep)
(Machine: examples/machine.xml, work zero G54 in the middle of the table, Z 0 on the stock top)
N10 G21 G90 G17 G94 G54
N20 G0 Z5
N30 M3 S12000        ; spindle on
N40 G4 P1            ; let the spindle come up to speed

(Letter K)
N50 G0 X20 Y20
N60 G1 Z-0.3 F120
N70 G1 Y40 F600
N80 G0 Z5
N90 G0 X32 Y40
N100 G1 Z-0.3 F120
N110 G1 X20 Y30 F600
N120 G1 X32 Y20
N130 G0 Z5

(Letter V)
N140 G0 X40 Y40
N150 G1 Z-0.3 F120
N160 G1 X46 Y20 F600
N170 G1 X52 Y40
N180 G0 Z5

(Underline with a small flourish)
N190 G0 X20 Y15
N200 G1 Z-0.3 F120
N210 G1 X46 F600
N220 G3 X52 Y15 R3
N230 G0 Z5

N240 M5              ; spindle off
N250 G28 G91 Z0      ; Z up to the G28 position (machine zero), then X and Y
N260 G28 X0 Y0
N270 G90
N280 M30
%
