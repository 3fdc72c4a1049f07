// Resource and control ids of the plugin's dialogs, shared by the resource script and the
// code. Plain #defines: the resource compiler reads this file too.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Configuration dialog frame.
#define IDD_CONFIG 1000
#define IDC_CONFIG_TABS 1008

// Pages (child dialogs of the frame's tab control).
#define IDD_PAGE_GENERAL 130
#define IDD_PAGE_INPUT_FILTER 131
#define IDD_PAGE_ANALOG 150
#define IDD_PAGE_THC 153
#define IDD_PAGE_ZCORR 1013
#define IDD_PAGE_ABOUT 1002

// General setup page.
#define IDC_GENERAL_PWM_FREQ 1001
#define IDC_GENERAL_LASER_COMP 1004
#define IDC_GENERAL_CURVE_EDIT 1005
#define IDC_GENERAL_LASER_SYNC 1006
#define IDC_GENERAL_HOME_RETRACT 1010
#define IDC_GENERAL_DECELERATION 1012
#define IDC_GENERAL_INDEX_COUNT 1013
#define IDC_GENERAL_GATE_PORT 1014
#define IDC_GENERAL_HW_MPG 1017
#define IDC_GENERAL_MPG_FEED_LIMIT 1019
#define IDC_GENERAL_GRAY_LEVEL 1038
#define IDC_GENERAL_STEP_FREQ 1039
#define IDC_GENERAL_SLOW_ZONE 1042
#define IDC_GENERAL_PROBE_AS_LIMIT 1046
#define IDC_GENERAL_DEREFERENCE 1047
#define IDC_GENERAL_PROBE_LOG 1057

// Analog input & encoder page.
#define IDC_ANALOG_VAR_ID 1002
#define IDC_ANALOG_ZERO_THRESHOLD 1003
#define IDC_ANALOG_DETENT1 1005
#define IDC_ANALOG_DETENT2 1006
#define IDC_ANALOG_SOURCES 1014
#define IDC_ANALOG_FUNCTION 1021
#define IDC_ANALOG_OUTPUT_TYPE 1027
#define IDC_ANALOG_RESOLUTION1 1029
#define IDC_ANALOG_RESOLUTION2 1030
#define IDC_ANALOG_HOST_ENCODER1 1033
#define IDC_ANALOG_HOST_ENCODER2 1034

// The maker's addresses the About page links to: placeholders of this project (the reserved
// ".example" domain reaches no one else), short enough for one line of their link controls.
#define KELVRO_MAKER_MAIL "support@kelvro.example"
#define KELVRO_MAKER_WEB "https://kelvro.example/"

// Input filter page.
#define IDC_FILTER_LIMIT 1002
#define IDC_FILTER_INDEX 1007
#define IDC_FILTER_ENCODER 1008
#define IDC_FILTER_OTHER 1009
#define IDC_FILTER_BY_PIN 1010
#define IDC_FILTER_PROBE 1011
#define IDC_FILTER_HOME 1012
#define IDC_FILTER_PINS 1014
#define IDC_FILTER_PIN_EDITOR 1000
#define IDI_PIN_ENABLED 1003
#define IDI_PIN_DISABLED 1004

// About page.
#define IDC_ABOUT_PICTURE 1023
#define IDC_ABOUT_MAIL 1024
#define IDC_ABOUT_WEB 1025
#define IDC_ABOUT_SPARE_LINK 1026
#define IDC_ABOUT_FIRMWARE 1027
#define IDC_ABOUT_PLUGIN 1028
#define IDC_ABOUT_IMAGE 1029
#define IDB_ABOUT_PICTURE 1010
#define IDC_LINK_CURSOR 1011

// Probe log options dialog.
#define IDD_PROBE_LOG 1019
#define IDC_PROBE_LOG_TIP_D 1005
#define IDC_PROBE_LOG_TIP_C1 1006
#define IDC_PROBE_LOG_TIP_C2 1007
#define IDC_PROBE_LOG_COMPENSATION 1010
#define IDC_PROBE_LOG_ENABLE 1040
#define IDC_PROBE_LOG_MACHINE 1046
#define IDC_PROBE_LOG_SEPARATOR 1068

// Laser ramp curve editor ("Edit curve").
#define IDD_CURVE_EDITOR 139
#define IDC_CURVE_RESET 1015
#define IDC_CURVE_AREA 1016
#define IDC_CURVE_READOUT 1017
#define IDC_CURVE_LOAD 1018
#define IDC_CURVE_SAVE 1019
#define IDC_CURVE_FEED 1020
#define IDC_CURVE_POINT_CURSOR 1005
#define IDC_CURVE_LINE_CURSOR 1006
