(About ten seconds of streaming on the default machine: the fault matrix's program)
(Machine: examples/machine.xml, work zero G54 in the middle of the table)
(It starts and ends at machine zero; the move along X lasts over four seconds, long)
(enough for a stall of the host's GUI thread of 2 s in its middle)
G21 G90 G17 G94 G54
M3 S12000
M8
G1 X-130 Y-90 Z58 F3000
G1 X80
G1 Y-70
G1 X-150 Y-100 Z60
M9
M5
M30
