// The machine the stand-in host drives, as the host keeps it: in the profile file's
// "Preferences" section, next to the plugin's own "kelvro_mach_drv" section.
//
// Motor numbers: 0..5 = axes X, Y, Z, A, B, C; 6 = spindle. Real numbers are plain decimal
// text ("1000", "1000.", "2.5e3"); integers are decimal text; a key that is missing or has
// empty text takes its default. Every value is checked: text that is not a number, a value
// out of range or a contradiction (minimum above maximum) makes loading fail with a message
// naming the key.
//
// Key                  Type  Default                Meaning
// -------------------  ----  ---------------------  -----------------------------------------
// Steps0 .. Steps6     real  1000                   steps per unit (must be above 0 for an
//                                                   enabled motor)
// Vel0 .. Vel6         real  10 (Vel6: 1)           maximum velocity, units per second (above 0
//                                                   for an enabled motor)
// Acc0 .. Acc6         real  100 (Acc6: 1)          acceleration, units per second squared
//                                                   (above 0 for an enabled motor)
// Enabled0 .. Enabled6 int   1 for X, Y, Z; else 0  motor enabled (0 or 1)
// SoftMin0 .. SoftMin5 real  -999999                soft minimum, units
// SoftMax0 .. SoftMax5 real  999999                 soft maximum, units (not below SoftMin)
// HomePos0 .. HomePos5 real  0                      position after homing, units
// HomeDir0 .. HomeDir5 int   0                      homing direction flag (0 or 1)
// HomeSpeed0 .. 5      real  20                     homing speed, percent of Vel (0..100)
// Rotary0 .. Rotary5   int   0                      the axis is rotary (0 or 1): its words are
//                                                   not converted by G20/G21
// Slave3 .. Slave5     int   -1                     A, B, C only: master axis 0..2 (X, Y, Z) that
//                                                   this axis follows, -1 = not a slave
// StepPin0 .. StepPin6 int   0                      step output pin 0..32 (0 = not connected)
// StepPort0 .. 6       int   1                      port of the step pin (1 = this controller)
// StepLow0 .. StepLow6 int   0                      step pin active low (0 or 1)
// DirPin0 .. DirPin6   int   0                      direction pin, as StepPin
// DirPort0 .. DirPort6 int   1                      port of the direction pin
// DirLow0 .. DirLow6   int   0                      direction pin active low
// HomePin0 .. 5        int   0                      home switch input pin of axis X..C
//   (with HomePort0..5 and HomeLow0..5, as below)
// LimitMinPin0 .. 5    int   0                      minus limit input pin of axis X..C
//   (with LimitMinPort0..5 and LimitMinLow0..5)
// LimitMaxPin0 .. 5    int   0                      plus limit input pin of axis X..C
//   (with LimitMaxPort0..5 and LimitMaxLow0..5)
// ProbePin             int   0                      probe input pin (0 = no probe: G31 refused)
// EStopPin             int   0                      E-stop input pin
// IndexPin             int   0                      spindle index input pin
//   Every input has <name>Port (int, default 1) and <name>Low (int 0/1, default 0):
//   ProbePort, ProbeLow, EStopPort, EStopLow, IndexPort, IndexLow, HomePort0, ...
//   An input or output is enabled when its pin is not 0.
// OutputPin1 .. 6      int   0                      pin of output 1..6 (M10/M11 P1..P6)
// OutputPort1 .. 6     int   1                      port of output 1..6
// OutputLow1 .. 6      int   0                      output 1..6 active low
// SpindleOutPin        int   0                      spindle on/off output pin
// SpindleOutPort       int   1                      its port
// SpindleOutLow        int   0                      its active-low flag
// SpindleMotor         int   0                      spindle motor control on (0 or 1)
// SpindlePWM           int   0                      1 = PWM spindle, 0 = step and direction
// SpindlePWMMin        real  0                      minimum PWM duty, percent (0..100)
// SoftLimits           int   1                      soft limits on (0 or 1)
// ROTSOFT              int   0                      soft limits also apply to rotary axes
// Units                text  mm                     machine units: "mm" or "inch"
//
// Host input records fed by these pins: home X..C = 2, 5, 8, 11, 14, 17; minus limits
// 1, 4, ..., 16; plus limits 0, 3, ..., 15; probe 22; index 23; E-stop 25. Outputs 1..6
// are host output records 7..12, the spindle output is record 13.
#pragma once

#include <array>
#include <string>

#include "host/host_blocks.h"

namespace kelvro::sim {

using Position = std::array<double, kAxisCount>;  // one value per axis X..C

inline constexpr int kMachineOutputCount = 6;  // outputs 1..6
inline constexpr int kMaxStepRate = 250000;    // steps per second, every motor
inline constexpr int kMaxPin = 32;
inline constexpr int kControllerPort = 1;

// Host record numbers of the inputs and outputs the machine description feeds.
inline constexpr std::array<int, kAxisCount> kHomeInputRecord{2, 5, 8, 11, 14, 17};
inline constexpr std::array<int, kAxisCount> kLimitMinInputRecord{1, 4, 7, 10, 13, 16};
inline constexpr std::array<int, kAxisCount> kLimitMaxInputRecord{0, 3, 6, 9, 12, 15};
inline constexpr int kSpindleOutputRecord = 13;
// Host output record of output n (1..6).
constexpr int OutputRecord(int output) {
  return output + 6;
}

enum class Units { kMillimetre, kInch };

struct PinConfig {
  int pin = 0;  // 0 = not connected
  int port = kControllerPort;
  bool active_low = false;
  bool connected() const { return pin > 0; }
};

struct AxisConfig {
  double steps_per_unit = 1000.0;
  double velocity = 10.0;       // units per second
  double acceleration = 100.0;  // units per second squared
  bool enabled = false;
  double soft_min = -999999.0;
  double soft_max = 999999.0;
  double home_position = 0.0;
  int home_direction = 0;
  double homing_speed_percent = 20.0;
  bool rotary = false;
  int slave_master = -1;  // master axis index, -1 = none
  PinConfig step;
  PinConfig dir;
};

struct Machine {
  Machine();

  std::array<AxisConfig, kMotorCount> axes;  // X..C, then the spindle
  Units units = Units::kMillimetre;
  bool soft_limits_on = true;
  bool rotary_soft_limits = false;
  std::array<PinConfig, kAxisCount> home;
  std::array<PinConfig, kAxisCount> limit_min;
  std::array<PinConfig, kAxisCount> limit_max;
  PinConfig probe;
  PinConfig estop;
  PinConfig index;
  std::array<PinConfig, kMachineOutputCount> outputs;  // outputs 1..6
  PinConfig spindle_output;
  bool spindle_motor_control = false;
  bool spindle_pwm = false;
  double spindle_pwm_min_percent = 0.0;

  // Soft limits are checked for this axis (enabled, limits on, not an exempt rotary axis).
  bool SoftLimitsApply(int axis) const;
};

// Reads the machine from the "Preferences" section of the XML profile at `path`. On failure
// returns false with a message naming the file and, where it applies, the key.
bool LoadMachine(const std::string& path, Machine* machine, std::string* error);

// The same from XML text (`source` names it in messages).
bool ParseMachine(const std::string& xml, const std::string& source, Machine* machine,
                  std::string* error);

// Fills the host blocks' tuning and pin fields from the machine as the host does at start-up:
// steps per unit, velocities, accelerations, step rates, soft limits in units, home
// positions, slave masters, enabled flags, motor pins, input and output records, spindle
// options. Fields the machine does not describe are left as they are.
void ApplyMachine(const Machine& machine, HostMachineState& state, HostPlanner& planner);

}  // namespace kelvro::sim
