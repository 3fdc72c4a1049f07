(Probing: home, then measure the surface height at three points)
(The probe is on input pin 5, see examples/machine.xml)
G21 G90
G28                       ; home every axis
G0 Z0

G0 X50 Y50
G31 Z-40 F100             ; probe down until the tip touches
G91 G0 Z5                 ; back off 5 mm from where it touched
G90

G0 Z0
G0 X150 Y50
G31 Z-40 F100
G91 G0 Z5
G90

G0 Z0
G0 X100 Y150
G31 Z-40 F100
G91 G0 Z5
G90

G0 Z0
G28 Z0                    ; home Z again
G0 X0 Y0
M30
