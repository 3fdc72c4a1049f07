(Probing: reference the axes, then measure the surface height at three points)
(The probe is on input pin 5, see examples/machine.xml; work zero G54 in the middle of the table)
G21 G90 G54
G28.1                     ; reference (home) every axis
G0 Z5

G0 X-100 Y-50
G31 Z-15 F100             ; probe down until the tip touches
G91 G0 Z5                 ; back off 5 mm from where it touched
G90

G0 Z5
G0 X0 Y-50
G31 Z-15 F100
G91 G0 Z5
G90

G0 Z5
G0 X-50 Y50
G31 Z-15 F100
G91 G0 Z5
G90

G0 Z5
G28.1 Z0                  ; reference Z again
G28 X0 Y0                 ; X and Y to the G28 position (machine zero)
M30
