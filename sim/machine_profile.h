// The machine the stand-in host drives, as the host keeps it: in the profile file's
// "Preferences" section, next to the plugin's own "kelvro_mach_drv" section.
//
// Motor numbers: 0..5 = axes X, Y, Z, A, B, C; 6 = spindle. Real numbers are plain decimal
// text ("1000", "1000.", "2.5e3"); integers are decimal text; a key that is missing or has
// empty text takes its default. Every value is checked: text that is not a number, a value
// out of range or a contradiction (minimum above maximum) makes loading fail with a message
// naming the key.
//
// The host's own keys, as the host writes them into a user's profile, are read first; where
// one is missing, the key of the second column is the fallback (host key first):
//
// Host key               Fallback             Type  Default            Meaning
// ---------------------  -------------------  ----  -----------------  ----------------------
// Motor0Active .. 6      Enabled0 .. 6        int   1 for X, Y, Z      motor enabled (0 or 1)
// Steps0 .. Steps6       (the same)           real  1000               steps per unit (above
//                                                                      0 for an enabled motor)
// Vel0 .. Vel6           (the same)           real  10 (Vel6: 1)       maximum velocity, units
//                                                                      per second (above 0)
// Acc0 .. Acc6           (the same)           real  100 (Acc6: 1)      acceleration, units per
//                                                                      second squared (above 0)
// M0Min .. M5Min         SoftMin0 .. 5        real  -999999            soft minimum, units
// M0Max .. M5Max         SoftMax0 .. 5        real  999999             soft maximum, units
// Motor0StepPin .. 6     StepPin0 .. 6        int   0                  step output pin 0..32
//                                                                      (0 = not connected)
// Motor0StepNeg .. 6     StepLow0 .. 6        int   0                  step pin active low
// Motor0DirPin .. 6      DirPin0 .. 6         int   0                  direction pin 0..32
// Motor0DirNeg .. 6      DirLow0 .. 6         int   0                  direction pin active low
// Units                  (the same)           text  mm                 "mm" or 0, "inch" or 1
// Host integers may be written in real form ("1."). An enabled motor for which the profile
// has neither key of a row takes that row's default, and loading says so in `notes`.
//
// The other keys:
//
// Key                  Type  Default                Meaning
// -------------------  ----  ---------------------  -----------------------------------------
// HomePos0 .. HomePos5 real  0                      position after homing, units
// HomeDir0 .. HomeDir5 int   0                      homing direction flag (0 or 1)
// HomeSpeed0 .. 5      real  20                     homing speed, percent of Vel (0..100)
// Rotary0 .. Rotary5   int   0 for X, Y, Z; else 1  the axis is rotary (0 or 1): its words are
//                                                   degrees, not converted by G20/G21
// Slave3 .. Slave5     int   -1                     A, B, C only: master axis 0..2 (X, Y, Z) that
//                                                   this axis follows, -1 = not a slave
// StepPort0 .. 6       int   1                      port of the step pin (1 = this controller)
// DirPort0 .. DirPort6 int   1                      port of the direction pin
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
// FloodOutput          int   0                      output 1..6 that M8 switches (0 = none)
// MistOutput           int   0                      output 1..6 that M7 switches (0 = none)
// SpindleOutPin        int   0                      spindle on/off output pin
// SpindleOutPort       int   1                      its port
// SpindleOutLow        int   0                      its active-low flag
// SpindleMotor         int   0                      spindle motor control on (0 or 1)
// SpindlePWM           int   0                      1 = PWM spindle, 0 = step and direction
// SpindlePWMMin        real  0                      minimum PWM duty, percent (0..100)
// SoftLimits           int   1                      soft limits on (0 or 1)
// ROTSOFT              int   0                      soft limits also apply to rotary axes
// G54X .. G59C         real  0                      work offsets G54..G59 of axes X..C: the
//                                                   machine position of each work zero, units
// G28X .. G28C         real  0                      the position G28 returns to, machine units
// G30X .. G30C         real  0                      the position G30 returns to, machine units
// ToolLength1 .. 255   real  0                      tool lengths for G43/G44 H1..H255, units
// THCOn                int   0                      torch height control switched on in the
//                                                   host (its THC button), 0 or 1: M3/M5
//                                                   start and stop the torch
// THCSpeed             real  100                    THC correction speed, percent of Vel2
//                                                   (1..100)
// THCMinZ, THCMaxZ     real  0                      the Z range THC may move the torch in,
//                                                   machine units (both 0: no limit)
// THCPierceDelay       real  0                      seconds from arc OK until THC regulates
//                                                   (the host's DRO 177, 0..60)
//
// Host input records fed by these pins: home X..C = 2, 5, 8, 11, 14, 17; minus limits
// 1, 4, ..., 16; plus limits 0, 3, ..., 15; probe 22; index 23; E-stop 25. Outputs 1..6
// are host output records 7..12, the spindle output is record 13.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "host/host_blocks.h"

namespace kelvro::sim {

using Position = std::array<double, kAxisCount>;  // one value per axis X..C

inline constexpr int kMachineOutputCount = 6;  // outputs 1..6
inline constexpr int kMaxStepRate = 250000;    // steps per second, every motor
inline constexpr int kMaxPin = 32;
inline constexpr int kControllerPort = 1;
inline constexpr int kWorkOffsetCount = 6;  // G54..G59
inline constexpr int kMaxTool = 255;        // tools and length offsets 1..255

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
  int flood_output = 0;  // output 1..6 of M8, 0 = none
  int mist_output = 0;   // output 1..6 of M7, 0 = none
  // Torch height control (a plasma machine): the host's THC mode, speed and Z range.
  bool thc_on = false;
  double thc_speed_percent = 100.0;
  double thc_min_z = 0.0;
  double thc_max_z = 0.0;
  double thc_pierce_delay = 0.0;  // seconds

  // Work offsets of G54..G59: the machine position of each work zero.
  std::array<Position, kWorkOffsetCount> work_offsets{};
  Position g28_position{};  // machine coordinates
  Position g30_position{};
  std::array<double, kMaxTool + 1> tool_lengths{};  // [0] is always 0

  // What loading noticed without refusing: defaults taken for an enabled motor.
  std::vector<std::string> notes;

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
