#include "device/controller_config.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "device/wire.h"

namespace kelvro {

namespace {

namespace mc = motion_config;

constexpr int kPort = 1;  // port number of this controller in the host's pin tuning
constexpr int kInputFunctionCount = 25;
constexpr int kDebounceTablePins = 16;
constexpr int kMinPulseTiming = 256;
constexpr int kMaxPulseTiming = 20480;

// Host input record feeding each controller input function.
constexpr std::array<int, kInputFunctionCount> kFunctionInputRecord = {
    2,  5,  8,  11, 14, 17,  // home X..C
    1,  4,  7,  10, 13, 16,  // limits X-..C-
    0,  3,  6,  9,  12, 15,  // limits X+..C+
    22, 23, 44,              // probe, index, timing
    25, 26, 27, 28,          // E-stop, THC on, THC up, THC down
};

// I/O map layout.
constexpr int kIoEncoderA = 25;
constexpr int kIoEncoderB = 27;
constexpr int kIoStepPin = 32;
constexpr int kIoDirPin = 39;
constexpr int kIoInputEnable = 64;
constexpr int kIoOutputEnable = 68;
constexpr int kIoInputActiveLow = 72;
constexpr int kIoOutputActiveLow = 76;
constexpr int kIoDebounce = 80;

struct OutputSlot {
  int record;  // host output record
  int offset;  // pin byte in the I/O map
  int bit;     // bit in the output masks
};
constexpr std::array<OutputSlot, 8> kOutputSlots = {{
    {13, 46, 14},
    {14, 47, 15},
    {7, 48, 16},
    {8, 49, 17},
    {9, 50, 18},
    {10, 51, 19},
    {11, 52, 20},
    {12, 53, 21},
}};

bool AxisIndexValid(int axis) {
  return axis >= 0 && axis < kAxisCount;
}

size_t AxisOffset(int axis, int field) {
  return static_cast<size_t>(mc::kAxisBlockSize * axis + field);
}

// Master of an enabled slave axis, or -1. A master index outside X..C, or the axis
// itself, does not make a slave.
int MasterOf(const HostMachineState& machine, const HostPlanner& planner, int axis) {
  if (!machine.motors[axis].enabled) return -1;
  const int master = planner.axes[axis].slave_master;
  if (!AxisIndexValid(master) || master == axis) return -1;
  return master;
}

// Steps 3 and 4: axis blocks except the soft limits and home position.
void BuildAxisBlocks(ControllerConfig& cfg, HostMachineState& machine, HostPlanner& planner) {
  bool lowered = false;
  for (int i = 0; i < kAxisCount; ++i) {
    HostAxisTuning& a = planner.axes[i];
    const bool enabled = machine.motors[i].enabled != 0;
    const double steps = a.steps_per_unit;
    if (enabled && std::fabs(a.max_velocity * steps) > a.max_step_rate) {
      a.max_velocity = std::max(0.0, 0.95 * a.max_step_rate / std::fabs(steps));
      lowered = true;
    }
    auto& m = cfg.motion;
    PutI32(m.data(), AxisOffset(i, mc::kSteps), TruncToInt32(steps));
    PutI32(m.data(), AxisOffset(i, mc::kMaxVelocity),
           TruncToInt32(a.max_velocity * steps * 4096.0));
    PutI32(m.data(), AxisOffset(i, mc::kAcceleration),
           TruncToInt32(a.acceleration * steps * 0.016384));
    const int master = MasterOf(machine, planner, i);
    PutU8(m.data(), AxisOffset(i, mc::kMaster), static_cast<uint8_t>(master + 1));
    PutI32(m.data(), AxisOffset(i, mc::kHomingSpeed),
           TruncToInt32(a.homing_speed_percent * a.max_velocity * steps * 40.96));
    PutI32(m.data(), AxisOffset(i, mc::kHomingOffset), TruncToInt32(a.homing_offset * steps));
    uint8_t flags = 0;
    if (a.homing_direction) flags |= mc::kAxisFlagHomingDirection;
    if (machine.motors[i].homing) flags |= mc::kAxisFlagHoming;
    if (enabled && (i < 3 || planner.rotary_soft_limits || !a.rotary)) {
      flags |= mc::kAxisFlagSoftLimits;
    }
    PutU8(m.data(), AxisOffset(i, mc::kAxisFlags), flags);
  }
  if (lowered) cfg.warnings.emplace_back(kWarnAxisVelocityLowered);
}

// Step 5: a slave narrows its master's soft limits (only masters taken before it keep the
// narrowing, as each axis starts from its own host values).
void WriteSoftLimits(ControllerConfig& cfg, const HostMachineState& machine,
                     const HostPlanner& planner) {
  std::array<double, kAxisCount> lo{};
  std::array<double, kAxisCount> hi{};
  for (int i = 0; i < kAxisCount; ++i) {
    lo[i] = planner.axes[i].soft_min;
    hi[i] = planner.axes[i].soft_max;
    const int master = MasterOf(machine, planner, i);
    if (master >= 0) {
      hi[master] = std::min(hi[master], hi[i]);
      lo[master] = std::max(lo[master], lo[i]);
    }
  }
  for (int i = 0; i < kAxisCount; ++i) {
    const double steps = planner.axes[i].steps_per_unit;
    PutI32(cfg.motion.data(), AxisOffset(i, mc::kSoftMin), TruncToInt32(lo[i] * steps));
    PutI32(cfg.motion.data(), AxisOffset(i, mc::kSoftMax), TruncToInt32(hi[i] * steps));
    PutI32(cfg.motion.data(), AxisOffset(i, mc::kHome),
           TruncToInt32(planner.axes[i].home_position * steps));
  }
}

// Steps 7 to 11: spindle axis, spindle mode and PWM.
void BuildSpindle(ControllerConfig& cfg, HostMachineState& machine, HostPlanner& planner,
                  PluginSettings& settings) {
  auto& m = cfg.motion;
  const double rate = planner.axes[kSpindleMotor].max_step_rate;
  if (planner.spindle_motor_control && !planner.spindle_pwm &&
      std::fabs(settings.steps6 * settings.vel6) > rate) {
    settings.vel6 = std::max(0.0, rate / std::fabs(settings.steps6));
    cfg.warnings.emplace_back(kWarnSpindleVelocityTooHigh);
  }
  PutI32(m.data(), mc::kSpindleSteps, TruncToInt32(settings.steps6));
  PutI32(m.data(), mc::kSpindleVelocity, TruncToInt32(settings.steps6 * settings.vel6 * 4096.0));
  PutI32(m.data(), mc::kSpindleAcceleration,
         TruncToInt32(settings.acc6 * settings.steps6 * 0.016384));

  if (machine.thc_mode && planner.spindle_motor_control && !planner.spindle_pwm) {
    planner.spindle_motor_control = 0;
    cfg.warnings.emplace_back(kWarnStepDirSpindleInThc);
  }

  uint8_t mode = kSpindleModeNone;
  if (planner.spindle_motor_control)
    mode = planner.spindle_pwm ? kSpindleModePwm : kSpindleModeStepDir;
  PutU8(m.data(), mc::kSpindleOption, planner.spindle_option);
  PutU8(m.data(), mc::kSpindleMode, mode);

  planner.pwm_frequency = settings.pwm_freq;
  PutI32(m.data(), mc::kPwmFrequency, settings.pwm_freq);
  PutI32(m.data(), mc::kPwmMin, TruncToInt32(planner.spindle_pwm_min_percent * 655.36));
  PutI32(m.data(), mc::kPwmBase, TruncToInt32(planner.spindle_pwm_base));

  if (machine.motors[kSpindleMotor].enabled && mode == kSpindleModeStepDir &&
      machine.motors[5].enabled) {
    cfg.warnings.emplace_back(kWarnSpindleAndCAxis);
  }
}

// Step 15: the I/O map, and the encoder bytes of the motion record.
void BuildIoMap(ControllerConfig& cfg, const HostMachineState& machine,
                const PluginSettings& settings) {
  auto& io = cfg.io;
  io.fill(0);
  uint32_t in_enable = 0;
  uint32_t in_low = 0;
  uint32_t out_enable = 0;
  uint32_t out_low = 0;

  for (int c = 0; c < kInputFunctionCount; ++c) {
    const HostInputSignal& rec = machine.inputs[kFunctionInputRecord[c]];
    if (!rec.enabled || rec.emulated || rec.port != kPort) continue;
    io[c] = rec.pin;
    in_enable |= 1u << c;
    if (rec.active_low) in_low |= 1u << c;
  }

  std::array<bool, 2> encoder_used{};
  for (int e = 0; e < 2; ++e) {
    const int map = e == 0 ? settings.map_enc1 : settings.map_enc2;
    cfg.encoder_host_map[e] = 0;
    if (map < 0 || map >= kHostEncoderCount) continue;
    const HostEncoder& enc = machine.encoders[map];
    if (!enc.enabled || enc.a_port != kPort || enc.b_port != kPort) continue;
    encoder_used[e] = true;
    cfg.encoder_host_map[e] = map + 1;
    io[kIoEncoderA + e] = enc.a_pin;
    io[kIoEncoderB + e] = enc.b_pin;
    in_enable |= (1u << (kIoEncoderA + e)) | (1u << (kIoEncoderB + e));
  }
  // Host numbers 5..7 are the MPG records.
  const bool enc1_mpg = cfg.encoder_host_map[0] >= 5;
  const bool enc2_mpg = cfg.encoder_host_map[1] >= 5;
  PutU8(cfg.motion.data(), mc::kMpgEncoder, (!enc1_mpg && enc2_mpg) ? 1 : 0);
  PutU8(cfg.motion.data(), mc::kEncoderMultipliers,
        static_cast<uint8_t>((settings.enc1_mult ? 1 : 0) | (settings.enc2_mult ? 2 : 0)));

  for (int k = 0; k < kMotorCount; ++k) {
    const HostMotor& mot = machine.motors[k];
    if (!mot.enabled) continue;
    if (mot.step_port == kPort) {
      io[kIoStepPin + k] = mot.step_pin;
      out_enable |= 1u << k;
      if (mot.step_active_low) out_low |= 1u << k;
    }
    if (mot.dir_port == kPort) {
      io[kIoDirPin + k] = mot.dir_pin;
      out_enable |= 1u << (7 + k);
      if ((mot.dir_active_low != 0) != (mot.dir_reversed != 0)) out_low |= 1u << (7 + k);
    }
  }

  for (const OutputSlot& slot : kOutputSlots) {
    const HostOutputSignal& rec = machine.outputs[slot.record];
    if (!rec.enabled || rec.port != kPort) continue;
    io[slot.offset] = rec.pin;
    out_enable |= 1u << slot.bit;
    if (rec.active_low) out_low |= 1u << slot.bit;
  }

  PutU32(io.data(), kIoInputEnable, in_enable);
  PutU32(io.data(), kIoOutputEnable, out_enable);
  PutU32(io.data(), kIoInputActiveLow, in_low);
  PutU32(io.data(), kIoOutputActiveLow, out_low);

  // Debounce per controller input pin 1..16. Pin 0 means "not assigned" and pins above 16
  // have no entry: both are left out rather than written outside the table.
  std::array<int, kDebounceTablePins> debounce{};
  debounce.fill(settings.other_debounce);
  const auto set_pin = [&](int pin, int value) {
    if (pin >= 1 && pin <= kDebounceTablePins) debounce[pin - 1] = value;
  };
  const auto set_functions = [&](int first, int last, int value) {
    for (int c = first; c <= last; ++c) {
      if (in_enable & (1u << c)) set_pin(io[c], value);
    }
  };
  set_functions(0, 5, settings.home_debounce);
  set_functions(6, 17, settings.limit_debounce);
  set_functions(18, 18, settings.probe_debounce);
  set_functions(19, 19, settings.index_debounce);
  for (int e = 0; e < 2; ++e) {
    if (!encoder_used[e]) continue;
    set_pin(io[kIoEncoderA + e], settings.enc_debounce);
    set_pin(io[kIoEncoderB + e], settings.enc_debounce);
  }
  if (settings.debounce_by_pin) {
    for (int n = 1; n <= kDebouncePinCount; ++n) {
      if (settings.deb_pin_ena[n - 1]) debounce[n - 1] = settings.deb_pin_time[n - 1];
    }
  }
  for (int n = 0; n < kDebounceTablePins; ++n) {
    PutU16(io.data(), kIoDebounce + 2 * n, static_cast<uint16_t>(debounce[n] & 0xFFFF));
  }
}

}  // namespace

int32_t ControllerConfig::StepsPerUnit(int axis) const {
  return AxisIndexValid(axis) ? GetI32(motion.data(), AxisOffset(axis, mc::kSteps)) : 0;
}

int32_t ControllerConfig::SoftMinSteps(int axis) const {
  return AxisIndexValid(axis) ? GetI32(motion.data(), AxisOffset(axis, mc::kSoftMin)) : 0;
}

int32_t ControllerConfig::SoftMaxSteps(int axis) const {
  return AxisIndexValid(axis) ? GetI32(motion.data(), AxisOffset(axis, mc::kSoftMax)) : 0;
}

int ControllerConfig::MasterPlusOne(int axis) const {
  return AxisIndexValid(axis) ? motion[AxisOffset(axis, mc::kMaster)] : 0;
}

bool ControllerConfig::SoftLimitsApply(int axis) const {
  return AxisIndexValid(axis) &&
         (motion[AxisOffset(axis, mc::kAxisFlags)] & mc::kAxisFlagSoftLimits) != 0;
}

void ControllerConfig::SetLatchedTickFlag(bool on) {
  if (on) {
    motion[mc::kFlags] |= mc::kFlagLatchedTick;
  } else {
    motion[mc::kFlags] &= static_cast<uint8_t>(~mc::kFlagLatchedTick);
  }
}

ControllerConfig BuildControllerConfig(HostMachineState& machine, HostPlanner& planner,
                                       PluginSettings& settings) {
  ControllerConfig cfg;
  auto& m = cfg.motion;

  BuildAxisBlocks(cfg, machine, planner);
  WriteSoftLimits(cfg, machine, planner);
  PutU8(m.data(), mc::kHomeRetract, static_cast<uint8_t>(settings.home_retract & 0xFF));
  BuildSpindle(cfg, machine, planner, settings);

  uint8_t flags = 0;
  if (planner.option_flag) flags |= mc::kFlagPlannerOption;
  if (machine.option_flag) flags |= mc::kFlagMachineOption;
  if (settings.laser_comp) flags |= mc::kFlagLaserComp;
  if (settings.laser_gl) flags |= mc::kFlagLaserGrayLevel;
  PutU8(m.data(), mc::kLaserSyncOutput,
        settings.laser_sync ? static_cast<uint8_t>(settings.laser_sync_port & 0xFF) : 0);

  machine.pulse_timing = std::clamp(machine.pulse_timing, kMinPulseTiming, kMaxPulseTiming);
  PutU16(m.data(), mc::kStepTiming, static_cast<uint16_t>(2048000 / machine.pulse_timing));

  // IndexCnt is a 16-bit field (counts up to 2000 are allowed); byte 258 is its high byte.
  PutU16(m.data(), mc::kIndexCount,
         static_cast<uint16_t>(std::clamp(settings.index_cnt, 0, 0xFFFF)));
  bool abc_slave = false;
  for (int i = 3; i < kAxisCount; ++i) abc_slave = abc_slave || cfg.MasterPlusOne(i) != 0;
  if (settings.slave_home == 0 && abc_slave) flags |= mc::kFlagSlaveHoming;
  PutU8(m.data(), mc::kFlags, flags);

  BuildIoMap(cfg, machine, settings);

  cfg.mpg_by_controller = settings.hw_mpg != 0;
  const int mpg_encoder = m[mc::kMpgEncoder] ? 1 : 0;
  const int host = cfg.encoder_host_map[mpg_encoder];
  cfg.mpg_scale = host == 0 ? 1.0 : planner.encoder_counts_per_unit[host - 1];
  PutU8(m.data(), mc::k125kHz, static_cast<uint8_t>(settings.step_rate_125khz ? 1 : 0));
  return cfg;
}

}  // namespace kelvro
