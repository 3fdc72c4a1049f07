#include "device/controller_config.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace kelvro {
namespace {

using Bytes = std::vector<uint8_t>;

// Expected records, written field by field at their offsets, little-endian.
class Expected {
 public:
  explicit Expected(size_t size) : b_(size, 0) {}
  Expected& U8(size_t off, uint8_t v) {
    b_.at(off) = v;
    return *this;
  }
  Expected& U16(size_t off, uint16_t v) {
    b_.at(off) = v & 0xFF;
    b_.at(off + 1) = v >> 8;
    return *this;
  }
  Expected& I32(size_t off, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) b_.at(off + i) = (u >> (8 * i)) & 0xFF;
    return *this;
  }
  const Bytes& bytes() const { return b_; }

 private:
  Bytes b_;
};

// Lists every differing offset, so a failure names the field.
template <size_t N>
std::string Diff(const std::array<uint8_t, N>& actual, const Expected& expected) {
  std::ostringstream out;
  if (expected.bytes().size() != N) return "size differs";
  for (size_t i = 0; i < N; ++i) {
    if (actual[i] != expected.bytes()[i]) {
      out << "[" << i << "] got " << int(actual[i]) << " want " << int(expected.bytes()[i]) << "; ";
    }
  }
  return out.str();
}

// Axis block field offsets, for writing the expectations.
size_t Ax(int axis, size_t field) {
  return 34 * axis + field;
}

const char kAxisWarning[] =
    "WARNING: maximum velocity for one or more axes was lowered to be inside limit for "
    "specified maximum step frequency.\nPlease use Motor Tuning dialog to review this "
    "settings.";
const char kSpindleWarning[] =
    "WARNING: maximum velocity for Spindle Step&Dir axis is set too high for specified "
    "maximum step frequency.\nPlease correct this using Motor Tuning dialog and then "
    "restart Mach3.";
const char kThcWarning[] = "You can not use STEP/DIR spindle motor control in THC plasma mode!";
const char kCAxisWarning[] =
    "WARNING: if spindle axis is enabled and in STEP/DIR mode, C axis cannot be enabled "
    "also.\nPlease check your motor output settings.";

struct Rig {
  std::unique_ptr<HostMachineState> machine = std::make_unique<HostMachineState>();
  std::unique_ptr<HostPlanner> planner = std::make_unique<HostPlanner>();
  PluginSettings settings;

  ControllerConfig Build() { return BuildControllerConfig(*machine, *planner, settings); }

  void Axis(int i, double steps, double vel, double acc, double mn, double mx, double home,
            double homing_speed, double homing_offset, int homing_dir) {
    HostAxisTuning& a = planner->axes[i];
    a.steps_per_unit = steps;
    a.max_velocity = vel;
    a.acceleration = acc;
    a.soft_min = mn;
    a.soft_max = mx;
    a.home_position = home;
    a.homing_speed_percent = homing_speed;
    a.homing_offset = homing_offset;
    a.homing_direction = homing_dir;
  }
  void Input(int record, int pin, int port, int active_low = 0, int emulated = 0, int enabled = 1) {
    HostInputSignal& s = machine->inputs[record];
    s.enabled = enabled;
    s.pin = pin;
    s.port = port;
    s.active_low = active_low;
    s.emulated = emulated;
  }
  void Output(int record, int pin, int port, int active_low = 0, int enabled = 1) {
    HostOutputSignal& s = machine->outputs[record];
    s.enabled = enabled;
    s.pin = pin;
    s.port = port;
    s.active_low = active_low;
  }
  void Motor(int k, int enabled, int step_pin, int step_port, int dir_pin, int dir_port) {
    HostMotor& m = machine->motors[k];
    m.enabled = enabled;
    m.step_pin = step_pin;
    m.step_port = step_port;
    m.dir_pin = dir_pin;
    m.dir_port = dir_port;
  }
  void Encoder(int n, int enabled, int a_pin, int a_port, int b_pin, int b_port) {
    HostEncoder& e = machine->encoders[n];
    e.enabled = enabled;
    e.a_pin = a_pin;
    e.a_port = a_port;
    e.b_pin = b_pin;
    e.b_port = b_port;
  }
};

// A three-axis mill: X, Y, Z enabled; A tuned but disabled; PWM spindle.
Rig PlainMill() {
  Rig r;
  for (int i = 0; i < kMotorCount; ++i) r.planner->axes[i].max_step_rate = 250000.0;
  for (int i = 0; i < kAxisCount; ++i) r.planner->axes[i].slave_master = -1;
  r.Axis(0, 2001, 50.3, 20, -10, 300, 0, 20, 1.5, 1);
  r.Axis(1, 1601, 40.75, 15.5, -5.25, 200.125, 2.5, 10, 0.25, 0);
  r.Axis(2, 4003, 25.375, 10.1, -80.5, 0.5, 0.75, 30, 0.125, 1);
  r.Axis(3, 101, 10.5, 5, -1000, 1000, 0, 49, 0, 0);
  r.planner->axes[3].rotary = 1;
  r.Motor(0, 1, 2, 1, 3, 1);
  r.Motor(1, 1, 4, 1, 5, 1);
  r.Motor(2, 1, 6, 2, 7, 1);
  r.Motor(3, 0, 8, 1, 9, 1);
  r.machine->motors[0].homing = 1;
  r.machine->motors[0].step_active_low = 1;
  r.machine->motors[1].dir_active_low = 1;  // differs from reversal 0: bit set
  r.machine->motors[2].dir_active_low = 1;  // same as reversal 1: bit clear
  r.machine->motors[2].dir_reversed = 1;

  r.planner->spindle_motor_control = 1;
  r.planner->spindle_pwm = 1;
  r.planner->spindle_option = 0x5A;
  r.planner->spindle_pwm_min_percent = 10.0;
  r.planner->spindle_pwm_base = 100.0;
  r.planner->option_flag = 1;
  r.planner->encoder_counts_per_unit[0] = 100.0;
  r.planner->encoder_counts_per_unit[4] = 400.0;
  r.machine->pulse_timing = 1000;

  r.Input(2, 10, 1);              // HomeX -> function 0
  r.Input(1, 11, 1, 1);           // LimitX- -> function 6, active low
  r.Input(0, 12, 1, 0, 1);        // LimitX+ emulated: not on the controller
  r.Input(5, 13, 2);              // HomeY on another port
  r.Input(4, 13, 1);              // LimitY- -> function 7
  r.Input(22, 14, 1, 1);          // Probe -> function 18, active low
  r.Input(23, 9, 1, 0, 0, 0);     // Index disabled
  r.Input(25, 1, 1, 1);           // ESTOP -> function 21, active low
  r.Input(44, 2, 1);              // Timing -> function 20
  r.Input(6, 8, 1);               // LimitZ+ -> function 14
  r.Input(26, 3, 1);              // THC on -> function 22
  r.Encoder(0, 0, 4, 1, 5, 1);    // host encoder 1 disabled
  r.Encoder(4, 1, 15, 1, 16, 1);  // MPG 1
  r.Output(13, 10, 1);
  r.Output(14, 11, 2);
  r.Output(7, 12, 1, 1);
  r.Output(8, 13, 1, 0, 0);
  r.Output(12, 14, 1);

  PluginSettings& s = r.settings;
  s.other_debounce = 5;
  s.home_debounce = 6;
  s.limit_debounce = 7;
  s.probe_debounce = 8;
  s.index_debounce = 9;
  s.enc_debounce = 10;
  s.laser_comp = 1;
  s.laser_sync = 1;
  s.laser_sync_port = 3;
  s.home_retract = 10;
  s.index_cnt = 1;
  s.pwm_freq = 10000;
  s.enc1_mult = 1;
  s.enc2_mult = 0;
  s.map_enc1 = 0;
  s.map_enc2 = 4;
  s.slave_home = 0;
  s.steps6 = 1000;
  s.vel6 = 1.0;
  s.acc6 = 1.0;
  s.step_rate_125khz = 0;
  return r;
}

Expected PlainMillMotion() {
  Expected e(262);
  // X: steps 2001, vel 50.3, acc 20, limits -10..300, home 0, homing 20 %, offset 1.5.
  e.I32(Ax(0, 0), 2001)
      .I32(Ax(0, 4), 412263628)  // 50.3 * 2001 * 4096 = 412263628.8
      .I32(Ax(0, 8), 655)        // 20 * 2001 * 0.016384 = 655.68768
      .I32(Ax(0, 12), -20010)    // -10 * 2001
      .I32(Ax(0, 16), 600300)    // 300 * 2001
      .I32(Ax(0, 20), 0)
      .U8(Ax(0, 24), 0)
      .I32(Ax(0, 25), 82452725)  // 20 * 50.3 * 2001 * 40.96 = 82452725.76
      .I32(Ax(0, 29), 3001)      // 1.5 * 2001 = 3001.5
      .U8(Ax(0, 33), 0x07);      // homing dir, homing flag, soft limits
  // Y: steps 1601, vel 40.75, acc 15.5, limits -5.25..200.125, home 2.5.
  e.I32(Ax(1, 0), 1601)
      .I32(Ax(1, 4), 267226112)  // 40.75 * 1601 * 4096
      .I32(Ax(1, 8), 406)        // 15.5 * 1601 * 0.016384 = 406.577
      .I32(Ax(1, 12), -8405)     // -5.25 * 1601 = -8405.25, toward zero
      .I32(Ax(1, 16), 320400)    // 200.125 * 1601 = 320400.125
      .I32(Ax(1, 20), 4002)      // 2.5 * 1601 = 4002.5
      .I32(Ax(1, 25), 26722611)  // 10 * 40.75 * 1601 * 40.96 = 26722611.2
      .I32(Ax(1, 29), 400)       // 0.25 * 1601 = 400.25
      .U8(Ax(1, 33), 0x04);
  // Z: steps 4003, vel 25.375, acc 10.1, limits -80.5..0.5, home 0.75.
  e.I32(Ax(2, 0), 4003)
      .I32(Ax(2, 4), 416055808)   // 25.375 * 4003 * 4096
      .I32(Ax(2, 8), 662)         // 10.1 * 4003 * 0.016384 = 662.41
      .I32(Ax(2, 12), -322241)    // -80.5 * 4003 = -322241.5
      .I32(Ax(2, 16), 2001)       // 0.5 * 4003 = 2001.5
      .I32(Ax(2, 20), 3002)       // 0.75 * 4003 = 3002.25
      .I32(Ax(2, 25), 124816742)  // 30 * 25.375 * 4003 * 40.96 = 124816742.4
      .I32(Ax(2, 29), 500)        // 0.125 * 4003 = 500.375
      .U8(Ax(2, 33), 0x05);
  // A (disabled): tuning still written, no soft-limit bit.
  e.I32(Ax(3, 0), 101)
      .I32(Ax(3, 4), 4343808)  // 10.5 * 101 * 4096
      .I32(Ax(3, 8), 8)        // 5 * 101 * 0.016384 = 8.27
      .I32(Ax(3, 12), -101000)
      .I32(Ax(3, 16), 101000)
      .I32(Ax(3, 25), 2128465)  // 49 * 10.5 * 101 * 40.96 = 2128465.92
      .U8(Ax(3, 33), 0x00);
  // B, C all zero. Spindle and record-wide fields.
  e.I32(204, 1000)
      .I32(208, 4096000)  // 1000 * 1.0 * 4096
      .I32(212, 16)       // 1.0 * 1000 * 0.016384 = 16.384
      .U8(238, 0x5A)
      .U8(239, 1)  // PWM
      .I32(240, 10000)
      .I32(244, 6553)  // 10 * 655.36 = 6553.6
      .I32(248, 100)
      .U8(252, 3)      // LaserSync on: LaserSyncPort
      .U8(253, 0x11)   // planner option flag, LaserComp
      .U16(254, 2048)  // 2048000 / 1000
      .U8(256, 10)
      .U16(257, 1)
      .U8(259, 1)  // encoder 1 off, encoder 2 on MPG 1
      .U8(260, 0x01)
      .U8(261, 0);
  return e;
}

Expected PlainMillIo() {
  Expected e(112);
  e.U8(0, 10).U8(6, 11).U8(7, 13).U8(14, 8).U8(18, 14).U8(20, 2).U8(21, 1).U8(22, 3);
  e.U8(26, 15).U8(28, 16);                              // encoder 2 A, B
  e.U8(32, 2).U8(33, 4).U8(39, 3).U8(40, 5).U8(41, 7);  // Z step is on port 2
  e.U8(46, 10).U8(48, 12).U8(53, 14);
  e.I32(64, (1 << 0) | (1 << 6) | (1 << 7) | (1 << 14) | (1 << 18) | (1 << 20) | (1 << 21) |
                (1 << 22) | (1 << 26) | (1 << 28));
  e.I32(68,
        (1 << 0) | (1 << 1) | (1 << 7) | (1 << 8) | (1 << 9) | (1 << 14) | (1 << 16) | (1 << 21));
  e.I32(72, (1 << 6) | (1 << 18) | (1 << 21));
  e.I32(76, (1 << 0) | (1 << 8) | (1 << 16));
  // Debounce pins 1..16: other 5; HomeX pin 10 -> 6; limit pins 8, 11, 13 -> 7;
  // probe pin 14 -> 8; encoder pins 15, 16 -> 10.
  const uint16_t deb[16] = {5, 5, 5, 5, 5, 5, 5, 7, 5, 6, 7, 5, 7, 8, 10, 10};
  for (int n = 0; n < 16; ++n) e.U16(80 + 2 * n, deb[n]);
  return e;
}

TEST(ControllerConfig, PlainThreeAxisMill) {
  Rig r = PlainMill();
  const ControllerConfig cfg = r.Build();
  EXPECT_EQ(Diff(cfg.motion, PlainMillMotion()), "");
  EXPECT_EQ(Diff(cfg.io, PlainMillIo()), "");
  EXPECT_TRUE(cfg.warnings.empty());
  EXPECT_EQ(cfg.encoder_host_map[0], 0);
  EXPECT_EQ(cfg.encoder_host_map[1], 5);
  EXPECT_EQ(cfg.mpg_scale, 400.0);
  EXPECT_FALSE(cfg.mpg_by_controller);
  EXPECT_EQ(r.planner->pwm_frequency, 10000);
  EXPECT_EQ(r.machine->pulse_timing, 1000);
  EXPECT_EQ(r.planner->axes[0].max_velocity, 50.3);
  EXPECT_EQ(r.planner->spindle_motor_control, 1);
}

TEST(ControllerConfig, ReadBackAccessors) {
  Rig r = PlainMill();
  ControllerConfig cfg = r.Build();
  EXPECT_EQ(cfg.StepsPerUnit(2), 4003);
  EXPECT_EQ(cfg.SoftMinSteps(0), -20010);
  EXPECT_EQ(cfg.SoftMaxSteps(1), 320400);
  EXPECT_EQ(cfg.MasterPlusOne(3), 0);
  EXPECT_TRUE(cfg.SoftLimitsApply(2));
  EXPECT_FALSE(cfg.SoftLimitsApply(3));
  EXPECT_EQ(cfg.SoftMinSteps(6), 0);
  EXPECT_EQ(cfg.SoftMaxSteps(-1), 0);
  EXPECT_FALSE(cfg.SoftLimitsApply(9));

  cfg.SetLatchedTickFlag(true);
  EXPECT_EQ(cfg.motion[253], 0x15);
  EXPECT_EQ(cfg.Flags(), 0x15);
  cfg.SetLatchedTickFlag(false);
  EXPECT_EQ(cfg.motion[253], 0x11);
}

TEST(ControllerConfig, SlaveNarrowsLowerMasterLimits) {
  Rig r = PlainMill();
  r.machine->motors[3].enabled = 1;
  r.planner->axes[3].slave_master = 0;
  r.planner->axes[3].soft_min = -5;
  r.planner->axes[3].soft_max = 250;
  r.planner->axes[3].home_position = 7;  // home positions are not merged
  const ControllerConfig cfg = r.Build();

  Expected m = PlainMillMotion();
  m.I32(Ax(0, 12), -10005)     // max(-10, -5) * 2001
      .I32(Ax(0, 16), 500250)  // min(300, 250) * 2001
      .I32(Ax(3, 12), -505)    // -5 * 101
      .I32(Ax(3, 16), 25250)   // 250 * 101
      .I32(Ax(3, 20), 707)     // 7 * 101
      .U8(Ax(3, 24), 1)        // master X + 1
      .U8(Ax(3, 33), 0x00)     // rotary without ROTSOFT: no soft limits
      .U8(253, 0x91);          // slave homing bit with SlaveHome 0
  EXPECT_EQ(Diff(cfg.motion, m), "");

  Expected io = PlainMillIo();
  io.U8(35, 8).U8(42, 9);  // A motor now enabled
  io.I32(68, (1 << 0) | (1 << 1) | (1 << 3) | (1 << 7) | (1 << 8) | (1 << 9) | (1 << 10) |
                 (1 << 14) | (1 << 16) | (1 << 21));
  EXPECT_EQ(Diff(cfg.io, io), "");
  EXPECT_EQ(cfg.SoftMaxSteps(0), 500250);
  EXPECT_EQ(cfg.MasterPlusOne(3), 1);
  // The host's own limits are untouched.
  EXPECT_EQ(r.planner->axes[0].soft_max, 300.0);
}

TEST(ControllerConfig, SlaveSoftLimitBitAndSlaveHoming) {
  struct Case {
    int rotary;
    int rot_soft;
    int slave_home;
    uint8_t a_flags;
    uint8_t flags;
  };
  const Case cases[] = {
      {1, 0, 0, 0x00, 0x91},
      {1, 1, 0, 0x04, 0x91},
      {0, 0, 0, 0x04, 0x91},
      {0, 0, 1, 0x04, 0x11},
  };
  for (const Case& c : cases) {
    Rig r = PlainMill();
    r.machine->motors[3].enabled = 1;
    r.planner->axes[3].slave_master = 0;
    r.planner->axes[3].rotary = c.rotary;
    r.planner->rotary_soft_limits = c.rot_soft;
    r.settings.slave_home = c.slave_home;
    const ControllerConfig cfg = r.Build();
    EXPECT_EQ(cfg.motion[Ax(3, 33)], c.a_flags) << c.rotary << c.rot_soft;
    EXPECT_EQ(cfg.motion[253], c.flags) << c.slave_home;
  }
}

TEST(ControllerConfig, DisabledSlaveDoesNotNarrow) {
  Rig r = PlainMill();
  r.planner->axes[3].slave_master = 0;  // motor 3 stays disabled
  r.planner->axes[3].soft_min = -5;
  r.planner->axes[3].soft_max = 250;
  const ControllerConfig cfg = r.Build();
  Expected m = PlainMillMotion();
  m.I32(Ax(3, 12), -505).I32(Ax(3, 16), 25250);  // only A's own values change
  EXPECT_EQ(Diff(cfg.motion, m), "");
}

TEST(ControllerConfig, SlaveOfLaterMasterDoesNotNarrow) {
  Rig r = PlainMill();
  r.planner->axes[1].slave_master = 2;  // Y slaved to Z: Z is taken after Y
  r.planner->axes[1].soft_min = -1;
  r.planner->axes[1].soft_max = 0.25;
  const ControllerConfig cfg = r.Build();
  Expected m = PlainMillMotion();
  m.I32(Ax(1, 12), -1601).I32(Ax(1, 16), 400).U8(Ax(1, 24), 3);
  EXPECT_EQ(Diff(cfg.motion, m), "");
}

TEST(ControllerConfig, AxisAtStepRateIsKeptAboveIsLowered) {
  Rig r = PlainMill();
  r.Axis(0, 1000, 250.0, 20, 0, 0, 0, 10, 0, 0);    // exactly 250000 steps/s
  r.Axis(1, 1000, 250.001, 20, 0, 0, 0, 10, 0, 0);  // 250001 steps/s
  r.Axis(3, 1000, 400.0, 20, 0, 0, 0, 10, 0, 0);    // disabled: left alone
  const ControllerConfig cfg = r.Build();

  EXPECT_EQ(r.planner->axes[0].max_velocity, 250.0);
  EXPECT_DOUBLE_EQ(r.planner->axes[1].max_velocity, 237.5);  // 0.95 * 250000 / 1000
  EXPECT_EQ(r.planner->axes[3].max_velocity, 400.0);

  Expected m = PlainMillMotion();
  for (int i : {0, 1, 3}) {
    m.I32(Ax(i, 0), 1000)
        .I32(Ax(i, 8), 327)  // 20 * 1000 * 0.016384 = 327.68
        .I32(Ax(i, 12), 0)
        .I32(Ax(i, 16), 0)
        .I32(Ax(i, 20), 0)
        .I32(Ax(i, 29), 0);
  }
  m.I32(Ax(0, 4), 1024000000)     // 250 * 1000 * 4096
      .I32(Ax(0, 25), 102400000)  // 10 * 250 * 1000 * 40.96
      .U8(Ax(0, 33), 0x06)
      .I32(Ax(1, 4), 972800000)  // 237.5 * 1000 * 4096
      .I32(Ax(1, 25), 97280000)  // 10 * 237.5 * 1000 * 40.96, from the lowered speed
      .U8(Ax(1, 33), 0x04)
      .I32(Ax(3, 4), 1638400000)  // 400 * 1000 * 4096
      .I32(Ax(3, 25), 163840000);
  EXPECT_EQ(Diff(cfg.motion, m), "");
  ASSERT_EQ(cfg.warnings.size(), 1u);
  EXPECT_EQ(cfg.warnings[0], kAxisWarning);
}

TEST(ControllerConfig, StepDirSpindleOverStepRate) {
  Rig r = PlainMill();
  r.planner->spindle_pwm = 0;
  r.settings.vel6 = 300.0;  // 1000 * 300 > 250000
  r.Motor(6, 1, 20, 1, 21, 1);
  r.Motor(5, 1, 22, 2, 23, 2);  // C enabled, pins elsewhere
  const ControllerConfig cfg = r.Build();

  EXPECT_EQ(r.settings.vel6, 250.0);  // 250000 / 1000, no margin
  EXPECT_EQ(r.planner->axes[kSpindleMotor].max_velocity, 0.0);
  Expected m = PlainMillMotion();
  m.I32(208, 1024000000)  // 1000 * 250 * 4096
      .U8(239, 2)
      .U8(Ax(5, 33), 0x04);  // C enabled, not rotary
  EXPECT_EQ(Diff(cfg.motion, m), "");
  Expected io = PlainMillIo();
  io.U8(38, 20).U8(45, 21);
  io.I32(68, (1 << 0) | (1 << 1) | (1 << 6) | (1 << 7) | (1 << 8) | (1 << 9) | (1 << 13) |
                 (1 << 14) | (1 << 16) | (1 << 21));
  EXPECT_EQ(Diff(cfg.io, io), "");
  const std::vector<std::string> want = {kSpindleWarning, kCAxisWarning};
  EXPECT_EQ(cfg.warnings, want);
}

TEST(ControllerConfig, StepDirSpindleExactlyAtStepRateIsKept) {
  Rig r = PlainMill();
  r.planner->spindle_pwm = 0;
  r.settings.vel6 = 250.0;
  const ControllerConfig cfg = r.Build();
  EXPECT_EQ(r.settings.vel6, 250.0);
  EXPECT_TRUE(cfg.warnings.empty());
  EXPECT_EQ(cfg.motion[239], 2);
}

TEST(ControllerConfig, ThcModeSwitchesStepDirSpindleOff) {
  Rig r = PlainMill();
  r.planner->spindle_pwm = 0;
  r.machine->thc_mode = 1;
  r.Motor(6, 1, 20, 1, 21, 1);
  r.Motor(5, 1, 22, 2, 23, 2);
  const ControllerConfig cfg = r.Build();
  EXPECT_EQ(r.planner->spindle_motor_control, 0);
  Expected m = PlainMillMotion();
  m.U8(239, 0).U8(Ax(5, 33), 0x04);  // option byte 238 still copied
  EXPECT_EQ(Diff(cfg.motion, m), "");
  // Mode 0 after the switch-off: no C axis warning.
  const std::vector<std::string> want = {kThcWarning};
  EXPECT_EQ(cfg.warnings, want);
}

TEST(ControllerConfig, ThcModeAndFastSpindleWarnInOrder) {
  Rig r = PlainMill();
  r.planner->spindle_pwm = 0;
  r.machine->thc_mode = 1;
  r.settings.vel6 = 300.0;
  r.Axis(2, 4003, 100.0, 10.1, -80.5, 0.5, 0.75, 30, 0.125, 1);  // 400300 steps/s
  const ControllerConfig cfg = r.Build();
  const std::vector<std::string> want = {kAxisWarning, kSpindleWarning, kThcWarning};
  EXPECT_EQ(cfg.warnings, want);
  EXPECT_EQ(cfg.motion[239], 0);
  EXPECT_EQ(cfg.motion[208], 1024000000 & 0xFF);
}

TEST(ControllerConfig, PwmSpindleInThcModeIsKept) {
  Rig r = PlainMill();
  r.machine->thc_mode = 1;
  const ControllerConfig cfg = r.Build();
  EXPECT_EQ(Diff(cfg.motion, PlainMillMotion()), "");
  EXPECT_TRUE(cfg.warnings.empty());
  EXPECT_EQ(r.planner->spindle_motor_control, 1);
}

TEST(ControllerConfig, SpindleMotorControlOff) {
  Rig r = PlainMill();
  r.planner->spindle_motor_control = 0;
  r.planner->spindle_pwm = 0;
  r.settings.vel6 = 300.0;  // not checked without motor control
  const ControllerConfig cfg = r.Build();
  EXPECT_EQ(cfg.motion[239], 0);
  EXPECT_EQ(r.settings.vel6, 300.0);
  EXPECT_TRUE(cfg.warnings.empty());
}

TEST(ControllerConfig, EncoderMappingAndSwitchOff) {
  struct Case {
    const char* name;
    int map1, map2;
    int host1, host2;  // expected encoder_host_map
    uint8_t mpg_byte;  // byte 259
    double scale;
    uint8_t a1, a2, b1, b2;  // I/O map 25..28
  };
  // Host encoders: 1 (index 1) usable on pins 4/5; 3 (index 3) with channel B on port 2;
  // MPG1 (index 4) usable on pins 15/16; MPG3 (index 6) usable on pins 6/7 (below the
  // other pins so the debounce table shows them).
  const Case cases[] = {
      {"enc and mpg", 1, 4, 2, 5, 1, 400.0, 4, 15, 5, 16},
      {"enc2 off", 1, 3, 2, 0, 0, 200.0, 4, 0, 5, 0},
      {"both mpg", 6, 4, 7, 5, 0, 700.0, 6, 15, 7, 16},
      {"mpg enc1 only", 4, 1, 5, 2, 0, 400.0, 15, 4, 16, 5},
      {"both off", 3, 0, 0, 0, 0, 1.0, 0, 0, 0, 0},
      {"mpg off", 0, 3, 0, 0, 0, 1.0, 0, 0, 0, 0},
      {"out of range", -1, 7, 0, 0, 0, 1.0, 0, 0, 0, 0},
      {"enc2 mpg, enc1 off", 3, 6, 0, 7, 1, 700.0, 0, 6, 0, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r = PlainMill();
    r.Encoder(0, 0, 2, 1, 3, 1);  // disabled
    r.Encoder(1, 1, 4, 1, 5, 1);
    r.Encoder(3, 1, 8, 1, 9, 2);
    r.Encoder(4, 1, 15, 1, 16, 1);
    r.Encoder(6, 1, 6, 1, 7, 1);
    r.planner->encoder_counts_per_unit[1] = 200.0;
    r.planner->encoder_counts_per_unit[3] = 300.0;
    r.planner->encoder_counts_per_unit[6] = 700.0;
    r.settings.map_enc1 = c.map1;
    r.settings.map_enc2 = c.map2;
    const ControllerConfig cfg = r.Build();
    EXPECT_EQ(cfg.encoder_host_map[0], c.host1);
    EXPECT_EQ(cfg.encoder_host_map[1], c.host2);
    EXPECT_EQ(cfg.motion[259], c.mpg_byte);
    EXPECT_EQ(cfg.mpg_scale, c.scale);

    Expected io = PlainMillIo();
    io.U8(25, c.a1).U8(26, c.a2).U8(27, c.b1).U8(28, c.b2);
    uint32_t in_enable =
        (1 << 0) | (1 << 6) | (1 << 7) | (1 << 14) | (1 << 18) | (1 << 20) | (1 << 21) | (1 << 22);
    if (c.host1) in_enable |= (1u << 25) | (1u << 27);
    if (c.host2) in_enable |= (1u << 26) | (1u << 28);
    io.I32(64, static_cast<int32_t>(in_enable));
    uint16_t deb[16] = {5, 5, 5, 5, 5, 5, 5, 7, 5, 6, 7, 5, 7, 8, 5, 5};
    for (uint8_t pin : {c.a1, c.a2, c.b1, c.b2}) {
      if (pin) deb[pin - 1] = 10;
    }
    for (int n = 0; n < 16; ++n) io.U16(80 + 2 * n, deb[n]);
    EXPECT_EQ(Diff(cfg.io, io), "");
  }
}

TEST(ControllerConfig, EncoderMultipliersAndMiscFlags) {
  Rig r = PlainMill();
  r.settings.enc1_mult = 0;
  r.settings.enc2_mult = 1;
  r.settings.laser_comp = 0;
  r.settings.laser_gl = 1;
  r.settings.laser_sync = 0;
  r.settings.hw_mpg = 1;
  r.settings.step_rate_125khz = 1;
  r.settings.home_retract = 0x1234;
  r.settings.index_cnt = 1000;
  r.settings.pwm_freq = 200000;
  r.planner->option_flag = 0;
  r.machine->option_flag = 1;
  r.machine->limit_override_latch = 1;  // added by the caller, not here
  const ControllerConfig cfg = r.Build();
  Expected m = PlainMillMotion();
  m.U8(260, 0x02)
      .U8(253, 0x22)  // machine option flag, LaserGL
      .U8(252, 0)
      .U8(261, 1)
      .U8(256, 0x34)
      .U16(257, 1000)  // 0xE8, 0x03
      .I32(240, 200000);
  EXPECT_EQ(Diff(cfg.motion, m), "");
  EXPECT_TRUE(cfg.mpg_by_controller);
  EXPECT_EQ(r.planner->pwm_frequency, 200000);
}

TEST(ControllerConfig, DebounceByPin) {
  struct Case {
    int by_pin;
    uint16_t pin1, pin2, pin11, pin14;
  };
  // Pin 1 override 100 (enabled); pin 2 override 55 (not enabled); pin 11 (limit) override
  // 3; pin 14 (probe) override 0x12345, sent as its low 16 bits.
  const Case cases[] = {
      {0, 5, 5, 7, 8},
      {1, 100, 5, 3, 0x2345},
  };
  for (const Case& c : cases) {
    Rig r = PlainMill();
    r.settings.debounce_by_pin = c.by_pin;
    r.settings.deb_pin_ena[0] = 1;
    r.settings.deb_pin_time[0] = 100;
    r.settings.deb_pin_time[1] = 55;
    r.settings.deb_pin_ena[10] = 1;
    r.settings.deb_pin_time[10] = 3;
    r.settings.deb_pin_ena[13] = 1;
    r.settings.deb_pin_time[13] = 0x12345;
    const ControllerConfig cfg = r.Build();
    Expected io = PlainMillIo();
    io.U16(80, c.pin1).U16(82, c.pin2).U16(80 + 2 * 10, c.pin11).U16(80 + 2 * 13, c.pin14);
    EXPECT_EQ(Diff(cfg.io, io), "") << "DebounceByPin " << c.by_pin;
  }
}

TEST(ControllerConfig, PinsOutsideTheDebounceTableAreSkipped) {
  Rig r = PlainMill();
  r.Input(2, 17, 1);   // HomeX on pin 17: no debounce entry
  r.Input(1, 200, 1);  // LimitX- on pin 200
  r.Input(4, 0, 1);    // LimitY- with pin 0 (not assigned)
  r.Input(22, 16, 1);  // Probe on the last table pin
  r.Encoder(4, 1, 255, 1, 16, 1);
  r.settings.other_debounce = 0x10001;  // low 16 bits: 1
  const ControllerConfig cfg = r.Build();
  Expected io = PlainMillIo();
  io.U8(0, 17).U8(6, 200).U8(7, 0).U8(18, 16).U8(22, 3).U8(26, 255).U8(28, 16);
  io.I32(72, (1 << 21));  // LimitX- and Probe no longer active low
  // Other 1; Probe pin 16 gets 8, then the encoder's channel B on pin 16 gets 10.
  for (int n = 0; n < 16; ++n) io.U16(80 + 2 * n, 1);
  io.U16(80 + 2 * 7, 7);  // LimitZ+ pin 8
  io.U16(80 + 2 * 15, 10);
  EXPECT_EQ(Diff(cfg.io, io), "");
}

TEST(ControllerConfig, PulseTimingIsClamped) {
  struct Case {
    int32_t in;
    int32_t stored;
    uint16_t sent;
  };
  const Case cases[] = {
      {0, 256, 8000},
      {100, 256, 8000},
      {256, 256, 8000},
      {3000, 3000, 682},
      {20480, 20480, 100},
      {30000, 20480, 100},
      {-5, 256, 8000},
      {std::numeric_limits<int32_t>::max(), 20480, 100},
      {std::numeric_limits<int32_t>::min(), 256, 8000},
  };
  for (const Case& c : cases) {
    Rig r = PlainMill();
    r.machine->pulse_timing = c.in;
    const ControllerConfig cfg = r.Build();
    EXPECT_EQ(r.machine->pulse_timing, c.stored) << c.in;
    EXPECT_EQ(cfg.motion[254] | (cfg.motion[255] << 8), c.sent) << c.in;
  }
}

TEST(ControllerConfig, StrangeHostValuesSaturate) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  Rig r = PlainMill();
  r.Axis(0, 0, 50, 20, -10, 300, 1, 20, 1, 0);             // zero steps
  r.Axis(1, nan, 40, 15, -5, 200, 0, 10, 0, 0);            // NaN steps
  r.Axis(2, 1e6, 1e10, 1e300, -1e300, 1e300, 0, 0, 0, 0);  // huge values
  r.planner->axes[2].max_step_rate = inf;                  // nothing is lowered
  r.settings.steps6 = 0;
  r.settings.vel6 = inf;
  r.planner->spindle_pwm = 0;
  r.planner->spindle_pwm_min_percent = -inf;
  r.planner->spindle_pwm_base = nan;
  r.settings.index_cnt = -3;
  const ControllerConfig cfg = r.Build();

  Expected m = PlainMillMotion();
  for (int i : {0, 1}) {
    for (size_t f : {0, 4, 8, 12, 16, 20, 25, 29}) m.I32(Ax(i, f), 0);
  }
  m.U8(Ax(0, 33), 0x06).U8(Ax(1, 33), 0x04);
  const int32_t max = std::numeric_limits<int32_t>::max();
  const int32_t min = std::numeric_limits<int32_t>::min();
  m.I32(Ax(2, 0), 1000000)
      .I32(Ax(2, 4), max)
      .I32(Ax(2, 8), max)
      .I32(Ax(2, 12), min)
      .I32(Ax(2, 16), max)
      .I32(Ax(2, 20), 0)
      .I32(Ax(2, 25), 0)
      .I32(Ax(2, 29), 0)
      .U8(Ax(2, 33), 0x04);
  m.I32(204, 0).I32(208, 0).I32(212, 0).U8(239, 2).I32(244, min).I32(248, 0).U16(257, 0);
  EXPECT_EQ(Diff(cfg.motion, m), "");
  EXPECT_TRUE(cfg.warnings.empty());
}

TEST(ControllerConfig, NegativeStepsAreLoweredByMagnitude) {
  Rig r = PlainMill();
  r.Axis(0, -1000, 300, 0, 0, 0, 0, 0, 0, 0);  // |300 * -1000| > 250000
  const ControllerConfig cfg = r.Build();
  EXPECT_DOUBLE_EQ(r.planner->axes[0].max_velocity, 237.5);
  ASSERT_EQ(cfg.warnings.size(), 1u);
  Expected m = PlainMillMotion();
  m.I32(Ax(0, 0), -1000)
      .I32(Ax(0, 4), -972800000)  // 237.5 * -1000 * 4096
      .I32(Ax(0, 8), 0)
      .I32(Ax(0, 12), 0)
      .I32(Ax(0, 16), 0)
      .I32(Ax(0, 25), 0)
      .I32(Ax(0, 29), 0)
      .U8(Ax(0, 33), 0x06);
  EXPECT_EQ(Diff(cfg.motion, m), "");
}

TEST(ControllerConfig, SelfOrOutOfRangeMasterIsNotASlave) {
  for (int master : {3, 6, 100, -7}) {
    Rig r = PlainMill();
    r.machine->motors[3].enabled = 1;
    r.planner->axes[3].slave_master = master;
    const ControllerConfig cfg = r.Build();
    EXPECT_EQ(cfg.MasterPlusOne(3), 0) << master;
    EXPECT_EQ(cfg.motion[253] & 0x80, 0) << master;
  }
}

}  // namespace
}  // namespace kelvro
