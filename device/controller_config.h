// The two configuration records the controller receives on connect: the motion record
// (LoadMotionConfig) and the I/O map (LoadIoConfig), built from the host's motor, port and
// pin tuning and the plugin settings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/commands.h"
#include "host/host_blocks.h"
#include "settings/plugin_settings.h"

namespace kelvro {

// Layout of the motion record.
namespace motion_config {
inline constexpr int kAxisBlockSize = 34;  // axis i starts at 34 * i
// Offsets inside an axis block.
inline constexpr int kSteps = 0;
inline constexpr int kMaxVelocity = 4;
inline constexpr int kAcceleration = 8;
inline constexpr int kSoftMin = 12;
inline constexpr int kSoftMax = 16;
inline constexpr int kHome = 20;
inline constexpr int kMaster = 24;  // master axis index + 1, 0 = not a slave
inline constexpr int kHomingSpeed = 25;
inline constexpr int kHomingOffset = 29;
inline constexpr int kAxisFlags = 33;
inline constexpr uint8_t kAxisFlagHomingDirection = 0x01;
inline constexpr uint8_t kAxisFlagHoming = 0x02;
inline constexpr uint8_t kAxisFlagSoftLimits = 0x04;
// Record-wide fields.
inline constexpr int kSpindleSteps = 204;
inline constexpr int kSpindleVelocity = 208;
inline constexpr int kSpindleAcceleration = 212;
inline constexpr int kSpindleOption = 238;
inline constexpr int kSpindleMode = 239;
inline constexpr int kPwmFrequency = 240;
inline constexpr int kPwmMin = 244;
inline constexpr int kPwmBase = 248;
inline constexpr int kLaserSyncOutput = 252;
inline constexpr int kFlags = 253;
inline constexpr int kStepTiming = 254;
inline constexpr int kHomeRetract = 256;
inline constexpr int kIndexCount = 257;
inline constexpr int kMpgEncoder = 259;
inline constexpr int kEncoderMultipliers = 260;
inline constexpr int k125kHz = 261;
inline constexpr uint8_t kFlagPlannerOption = 0x01;
inline constexpr uint8_t kFlagMachineOption = 0x02;
inline constexpr uint8_t kFlagLatchedTick = 0x04;
inline constexpr uint8_t kFlagLaserComp = 0x10;
inline constexpr uint8_t kFlagLaserGrayLevel = 0x20;
inline constexpr uint8_t kFlagSlaveHoming = 0x80;
}  // namespace motion_config

// Spindle modes of the motion record.
inline constexpr uint8_t kSpindleModeNone = 0;
inline constexpr uint8_t kSpindleModePwm = 1;
inline constexpr uint8_t kSpindleModeStepDir = 2;

inline constexpr char kWarnAxisVelocityLowered[] =
    "WARNING: maximum velocity for one or more axes was lowered to be inside limit for "
    "specified maximum step frequency.\nPlease use Motor Tuning dialog to review this "
    "settings.";
inline constexpr char kWarnSpindleVelocityTooHigh[] =
    "WARNING: maximum velocity for Spindle Step&Dir axis is set too high for specified "
    "maximum step frequency.\nPlease correct this using Motor Tuning dialog and then "
    "restart Mach3.";
inline constexpr char kWarnStepDirSpindleInThc[] =
    "You can not use STEP/DIR spindle motor control in THC plasma mode!";
inline constexpr char kWarnSpindleAndCAxis[] =
    "WARNING: if spindle axis is enabled and in STEP/DIR mode, C axis cannot be enabled "
    "also.\nPlease check your motor output settings.";

struct ControllerConfig {
  std::array<uint8_t, kMotionConfigSize> motion{};  // LoadMotionConfig payload
  std::array<uint8_t, kIoConfigSize> io{};          // LoadIoConfig payload
  // Host encoder number fed by controller encoder 1 and 2: MapEnc + 1 (1..4 host
  // encoders, 5..7 MPG 1..3), 0 when the encoder is switched off until the next reset.
  std::array<int, 2> encoder_host_map{};
  // Counts per unit of the host encoder the MPG encoder feeds; 1.0 when it feeds none.
  double mpg_scale = 1.0;
  bool mpg_by_controller = false;  // HwMPG
  // Warning texts to show the user, in the order they arise.
  std::vector<std::string> warnings;

  // Read-back of the motion record (axis 0..5; other axes read 0 / false).
  int32_t StepsPerUnit(int axis) const;
  int32_t SoftMinSteps(int axis) const;
  int32_t SoftMaxSteps(int axis) const;
  int MasterPlusOne(int axis) const;  // master index + 1, 0 = not a slave
  bool SoftLimitsApply(int axis) const;
  uint8_t Flags() const { return motion[motion_config::kFlags]; }

  // Flags bit 2: the host's latched tick flag, added after the record is built.
  void SetLatchedTickFlag(bool on);
};

// Builds both records. Corrects host values the controller cannot honour, in place: an
// enabled axis whose maximum velocity exceeds its motor's step rate is lowered to 95 % of
// the limit; a step/dir spindle in THC mode has its motor control switched off; the pulse
// timing value is limited to 256..20480. A step/dir spindle too fast for its step rate gets
// Vel6 lowered in the settings record (memory only). Never fails: strange host values
// give saturated integers.
ControllerConfig BuildControllerConfig(HostMachineState& machine, HostPlanner& planner,
                                       PluginSettings& settings);

}  // namespace kelvro
