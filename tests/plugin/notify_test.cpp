// The host's notifications and spindle events through the plugin's entry points, with a ready
// host and the simulated controller: what reaches the controller (its trace) and the host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/wire.h"
#include "host/host_fields.h"
#include "plugin/plugin.h"
#include "sim/standin_host.h"

namespace kelvro::sim {
namespace {

using TK = TraceKind;
using Bytes = std::vector<uint8_t>;

class NotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.DescribeMill();
    host.planner().pulley_max_speed[0] = 24000;
  }
  void Start() {
    host.StartUp();
    ASSERT_EQ(host.Reset(), 0xFFFF);
    ASSERT_TRUE(host.plugin().link().connected());
    host.Run(200);
    host.controller().trace().Clear();
    host.platform().status_texts.clear();
    host.platform().message_boxes.clear();
  }
  size_t Count(std::string_view name) {
    return host.controller().trace().Count(TK::kCommand, name);
  }
  Bytes LastPayload(std::string_view name) {
    const auto found = host.controller().trace().Find(TK::kCommand, name);
    return found.empty() ? Bytes{} : found.back()->payload;
  }
  bool SawStatus(std::string_view text) {
    for (const std::string& t : host.platform().status_texts) {
      if (t == text) return true;
    }
    return false;
  }
  // Enough ring entries for the controller to start executing (it holds until 600 are
  // queued), on a slow move along X.
  void PushSlowMove(int entries) {
    for (int i = 1; i <= entries; ++i) {
      ASSERT_TRUE(host.PushRingEntry({i * 2.0, 0, 0, 0, 0, 0}, 1));
    }
  }
  HostOf<Plugin> host;
};

// ---- Spindle events ----

struct SpindleCase {
  const char* name;
  int motor_control;  // HostPlanner spindle motor control
  int pwm;            // PWM (1) or step and direction (0)
  int reversed;       // the current pulley turns the other way
  int direction;      // host spindle direction word
  Bytes start;        // Spindle payload of the start after a speed change
  Bytes stop;         // Spindle payload of the stop
};

// Speed 6000 rpm of 24000 at ratio 0.5 with Steps6 1000 and Vel6 1:
// step rate 1000 x 1 / 24000 x 6000 x 4096 = 1,024,000 (0x000FA000), ratio 0.5 x 65536 = 32768.
// The stop carries the host's ratio and speed: 32768 and 6000 (0x1770).
const SpindleCase kSpindleCases[] = {
    {"Pwm",
     1,
     1,
     0,
     0,
     {1, 0x00, 0x80, 0, 0, 0x00, 0xA0, 0x0F, 0x00, 0x01},
     {0, 0x00, 0x80, 0, 0, 0x70, 0x17, 0, 0, 0x01}},
    {"StepDir",
     1,
     0,
     0,
     0,
     {1, 0x00, 0x80, 0, 0, 0x00, 0xA0, 0x0F, 0x00, 0x01},
     {0, 0x00, 0x80, 0, 0, 0x70, 0x17, 0, 0, 0x01}},
    {"StepDirReverse",
     1,
     0,
     0,
     1,
     {1, 0x00, 0x80, 0, 0, 0x00, 0xA0, 0x0F, 0x00, 0xFF},
     {0, 0x00, 0x80, 0, 0, 0x70, 0x17, 0, 0, 0x01}},
    {"ReversedPulley",
     1,
     1,
     1,
     0,
     {1, 0x00, 0x80, 0, 0, 0x00, 0xA0, 0x0F, 0x00, 0xFF},
     {0, 0x00, 0x80, 0, 0, 0x70, 0x17, 0, 0, 0x01}},
    {"ReversedPulleyReverse",
     1,
     1,
     1,
     1,
     {1, 0x00, 0x80, 0, 0, 0x00, 0xA0, 0x0F, 0x00, 0x01},
     {0, 0x00, 0x80, 0, 0, 0x70, 0x17, 0, 0, 0x01}},
    // Without spindle motor control only the on/off byte means anything.
    {"NoMotorControl",
     0,
     1,
     0,
     0,
     {1, 0, 0, 0, 0, 0, 0, 0, 0, 0x01},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}},
};

class SpindleModeTest : public NotifyTest, public ::testing::WithParamInterface<SpindleCase> {};

TEST_P(SpindleModeTest, StartAndStopSendTheModesPayload) {
  const SpindleCase& c = GetParam();
  host.planner().spindle_motor_control = c.motor_control;
  host.planner().spindle_pwm = c.pwm;
  host.planner().pulley_reversed[0] = c.reversed;
  Start();
  host.planner().spindle_speed = 6000.0;
  host.planner().speed_ratio = 0.5;
  host.planner().spindle_direction = c.direction;
  host.plugin().Notify(kNotifySpindleSpeed);
  host.plugin().Notify(kNotifySpindleStart);
  EXPECT_EQ(LastPayload("Spindle"), c.start);
  EXPECT_EQ(host.planner().spindle_running, 1);
  host.plugin().Notify(kNotifySpindleStop);
  EXPECT_EQ(LastPayload("Spindle"), c.stop);
  EXPECT_EQ(host.planner().spindle_running, 0);
  EXPECT_EQ(Count("Spindle"), 2u);
}

INSTANTIATE_TEST_SUITE_P(Modes, SpindleModeTest, ::testing::ValuesIn(kSpindleCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NotifyTest, SpeedChangeRestartsOnlyARunningSpindle) {
  host.planner().spindle_motor_control = 1;
  host.planner().spindle_pwm = 1;
  Start();
  host.planner().spindle_speed = 6000.0;
  host.plugin().Notify(kNotifySpindleSpeed);
  EXPECT_EQ(Count("Spindle"), 0u);
  host.plugin().Notify(kNotifySpindleStart);
  host.planner().spindle_speed = 12000.0;
  host.plugin().Notify(kNotifySpindleSpeed);
  ASSERT_EQ(Count("Spindle"), 2u);
  // 1000 / 24000 x 12000 x 4096 = 2,048,000.
  EXPECT_EQ(GetI32(LastPayload("Spindle").data(), 5), 2048000);
}

// A laser synchronised with the moves follows every speed change, running or not; only in
// PWM mode.
struct LaserSyncCase {
  const char* name;
  int laser_sync;
  int pwm;
  size_t starts;
};

class LaserSyncTest : public NotifyTest, public ::testing::WithParamInterface<LaserSyncCase> {};

TEST_P(LaserSyncTest, SpeedChangeStartsASynchronisedPwmLaser) {
  const LaserSyncCase& c = GetParam();
  host.planner().spindle_motor_control = 1;
  host.planner().spindle_pwm = c.pwm;
  host.StartUp();
  host.plugin().settings().laser_sync = c.laser_sync;  // after the profile's load
  ASSERT_EQ(host.Reset(), 0xFFFF);
  host.Run(200);
  host.controller().trace().Clear();
  host.planner().spindle_speed = 6000.0;
  host.plugin().Notify(kNotifySpindleSpeed);
  EXPECT_EQ(Count("Spindle"), c.starts);
  EXPECT_EQ(host.planner().spindle_running, c.starts > 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, LaserSyncTest,
                         ::testing::Values(LaserSyncCase{"SyncPwm", 1, 1, 1},
                                           LaserSyncCase{"SyncStepDir", 1, 0, 0},
                                           LaserSyncCase{"NoSyncPwm", 0, 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Torch start and stop in THC mode ----

class TorchTest : public NotifyTest {
 protected:
  void SetUp() override {
    NotifyTest::SetUp();
    host.machine().thc_mode = 1;
    host.planner().spindle_motor_control = 1;
    host.planner().spindle_pwm = 1;
  }
  // The torch-start wait with a pin for arc OK (still off), so that it can end.
  void StartWithDwell() {
    host.machine().inputs[kInputThcOn].enabled = 1;
    Start();
    host.plugin().settings().thc_dwell = 1;
  }
  bool Holding() { return host.plugin().tick().thc().torch_start_hold(); }
};

TEST_F(TorchTest, StartArmsTheHoldAndTheDwellWordStopReleasesThemAndAsksForZ) {
  StartWithDwell();
  host.plugin().Notify(kNotifySpindleStart);
  EXPECT_TRUE(Holding());
  EXPECT_EQ(host.machine().dwell_active, 1);
  // Nothing streams while the hold lasts.
  PushSlowMove(700);
  host.Run(300);
  EXPECT_EQ(host.controller().segments_received(), 0u);
  host.plugin().Notify(kNotifySpindleStop);
  EXPECT_FALSE(Holding());
  EXPECT_EQ(host.machine().dwell_active, 0);
  EXPECT_EQ(host.machine().z_readback_request, 1);
}

TEST_F(TorchTest, WithoutThcDwellTheTorchStartHoldsNothing) {
  Start();
  host.plugin().Notify(kNotifySpindleStart);
  EXPECT_FALSE(Holding());
  EXPECT_EQ(host.machine().dwell_active, 0);
}

TEST_F(TorchTest, OutsideThcModeTheTorchStartHoldsNothing) {
  StartWithDwell();
  host.machine().thc_mode = 0;
  host.plugin().Notify(kNotifySpindleStart);
  EXPECT_FALSE(Holding());
  EXPECT_EQ(host.machine().dwell_active, 0);
}

// With nothing that could give arc OK the wait could only end at the torch stop: the machine
// would stand with the torch burning. The start holds nothing and says why.
TEST_F(TorchTest, WithoutAnArcOkSourceTheStartHoldsNothingAndSaysWhy) {
  StartWithDwell();
  host.machine().inputs[kInputThcOn].enabled = 0;
  host.plugin().Notify(kNotifySpindleStart);
  EXPECT_FALSE(Holding());
  EXPECT_EQ(host.machine().dwell_active, 0);
  EXPECT_TRUE(SawStatus(kTorchHoldWarning));
  PushSlowMove(700);
  host.Run(300);
  EXPECT_GT(host.controller().segments_received(), 0u);
}

TEST_F(TorchTest, StopKeepsTheDwellWordOfACountingDwell) {
  StartWithDwell();
  host.plugin().Notify(kNotifySpindleStart);
  host.plugin().DoDwell(2.0);
  host.plugin().Notify(kNotifySpindleStop);
  EXPECT_FALSE(Holding());
  EXPECT_EQ(host.machine().dwell_active, 1);
}

TEST_F(TorchTest, HostStopEndsTheHold) {
  StartWithDwell();
  host.plugin().Notify(kNotifySpindleStart);
  host.plugin().Notify(kNotifyStop);
  EXPECT_FALSE(Holding());
  EXPECT_EQ(host.machine().dwell_active, 0);
}

TEST_F(TorchTest, ResetEndsTheHold) {
  StartWithDwell();
  host.plugin().Notify(kNotifySpindleStart);
  ASSERT_TRUE(Holding());
  host.Reset();
  EXPECT_FALSE(Holding());
}

TEST_F(TorchTest, ZReadBackIsDroppedWhileTheControllerStreams) {
  host.machine().thc_mode = 0;  // the host's offset stays as the test leaves it
  Start();
  PushSlowMove(2000);
  ASSERT_TRUE(host.RunUntil(
      [&] { return InMode(host.plugin().tick().decoder().last(), Mode::SEGM); }, 2000));
  host.machine().thc_z_offset = 77;
  host.machine().positions_resynced = 0;
  host.machine().z_readback_request = 1;
  host.plugin().Update();
  EXPECT_EQ(Count("LatchZ"), 1u);
  EXPECT_EQ(host.machine().z_readback_request, 0);
  EXPECT_EQ(host.machine().thc_z_offset, 77);  // not taken from the read-back
  EXPECT_EQ(host.machine().positions_resynced, 0);
  EXPECT_TRUE(host.plugin().tick().decoder().resync_requested());
}

// ---- Notifications ----

TEST_F(NotifyTest, HostStopSendsStopAndResetsEverySequence) {
  Start();
  host.plugin().Home(0);
  host.planner().feed_rate = 10.0;
  host.planner().feed_override_percent = 100.0;
  host.planner().probe_target[2] = -20.0;
  host.plugin().Probe();
  ASSERT_TRUE(host.plugin().tick().probing().move().active);
  host.machine().thc_mode = 1;
  host.plugin().settings().thc_dwell = 1;
  host.plugin().Notify(kNotifySpindleStart);
  host.machine().threading_active = 1;
  host.planner().alternative_homing = 1;
  host.controller().trace().Clear();

  host.plugin().Notify(kNotifyStop);
  const auto stops = host.controller().trace().Find(TK::kCommand, "Stop");
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_TRUE(stops[0]->payload.empty());
  EXPECT_EQ(host.plugin().tick().homing().count(), 0);
  EXPECT_EQ(host.machine().homing_in_progress, 0);
  EXPECT_EQ(host.machine().motors[0].homing, 0);
  EXPECT_FALSE(host.plugin().tick().probing().move().active);
  for (int k = 0; k < kAxisCount; ++k) EXPECT_EQ(host.machine().motors[k].probe_pending, 0);
  EXPECT_EQ(host.machine().threading_active, 0);
  EXPECT_EQ(host.planner().alternative_homing, 0);
  EXPECT_FALSE(host.plugin().tick().thc().torch_start_hold());
  EXPECT_EQ(host.machine().dwell_active, 0);
  EXPECT_TRUE(host.plugin().tick().decoder().resync_requested());
}

struct TuningCase {
  const char* name;
  bool motor_enabled;
  int motor_control;
  int pwm;
  bool warned;
};

const TuningCase kTuningCases[] = {
    {"StepDirSpindle", true, 1, 0, true},
    {"PwmSpindle", true, 1, 1, false},
    {"NoMotorControl", true, 0, 0, false},
    {"MotorDisabled", false, 1, 0, false},
};

class TuningTest : public NotifyTest, public ::testing::WithParamInterface<TuningCase> {};

TEST_P(TuningTest, RestartWarningOnlyForAStepDirSpindleMotor) {
  const TuningCase& c = GetParam();
  host.machine().motors[kSpindleMotor].enabled = c.motor_enabled ? 1 : 0;
  host.planner().spindle_motor_control = c.motor_control;
  host.planner().spindle_pwm = c.pwm;
  Start();
  host.plugin().Notify(kNotifySpindleTuning);
  const std::vector<std::string> expected =
      c.warned ? std::vector<std::string>{"Warning: if spindle axis motor tunings are changed, "
                                          "mach3 needs to be restarted."}
               : std::vector<std::string>{};
  EXPECT_EQ(host.platform().message_boxes, expected);
}

INSTANTIATE_TEST_SUITE_P(Spindles, TuningTest, ::testing::ValuesIn(kTuningCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NotifyTest, TuningWarningWaitsForPostInit) {
  host.machine().motors[kSpindleMotor].enabled = 1;
  host.planner().spindle_motor_control = 1;
  host.plugin().InitControl(&host.machine(), &host.params(), &host.planner(), &host.app());
  host.plugin().Notify(kNotifySpindleTuning);
  EXPECT_TRUE(host.platform().message_boxes.empty());
}

TEST_F(NotifyTest, ForcedEstopWritesStopCodeEight) {
  Start();
  host.plugin().Notify(kNotifyForcedEstop);
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_EQ(host.machine().stop_code, 8);
  // The plugin stays connected; the host's next Reset reconfigures.
  EXPECT_TRUE(host.plugin().link().connected());
}

TEST_F(NotifyTest, ZCorrectionOffSwitchesItOffAndTellsTheHostAtTheNextUpdate) {
  Start();
  host.plugin().zcorrection().set_enabled(true);
  host.plugin().Notify(kNotifyZCorrectionOff);
  EXPECT_FALSE(host.plugin().zcorrection().enabled());
  EXPECT_TRUE(SawStatus("Z correction turned OFF"));
  EXPECT_EQ(host.params().values[kParamZCorrectionOffNotice], 0.0);
  host.plugin().Update();
  EXPECT_EQ(host.params().values[kParamZCorrectionOffNotice], 1.0);
}

TEST_F(NotifyTest, ZCorrectionOffWhileOffOnlyNotifiesTheHost) {
  Start();
  host.plugin().Notify(kNotifyZCorrectionOff);
  EXPECT_FALSE(SawStatus("Z correction turned OFF"));
  host.plugin().Update();
  EXPECT_EQ(host.params().values[kParamZCorrectionOffNotice], 1.0);
}

TEST_F(NotifyTest, MenuBaseBehavesLikeConfig) {
  Start();
  host.dros[kDroTargetVolts] = 123.9;
  host.dros[kDroPierceDelay] = 0.5;
  host.Run(100);  // the tick follows DRO 1501
  host.plugin().Notify(host.plugin().menu_base());
  EXPECT_EQ(host.plugin().settings().thc_nom_voltage, 123);
  host.plugin().settings().thc_nom_voltage = 0;
  host.plugin().Config();
  EXPECT_EQ(host.plugin().settings().thc_nom_voltage, 123);
}

// ---- Manual THC indicator ----

struct ManualCase {
  int manual_thc;
  bool num_lock;
  int led;
};

class ManualThcTest : public NotifyTest, public ::testing::WithParamInterface<ManualCase> {};

TEST_P(ManualThcTest, Led1501FollowsManualThcAndNumLock) {
  const ManualCase& c = GetParam();
  Start();
  host.plugin().settings().manual_thc = c.manual_thc;
  if (c.num_lock) host.platform().toggled_keys.insert(kVkNumLock);
  host.leds[kLedManualThc] = 1 - c.led;
  host.plugin().Update();
  EXPECT_EQ(host.leds[kLedManualThc], c.led);
}

INSTANTIATE_TEST_SUITE_P(Keys, ManualThcTest,
                         ::testing::Values(ManualCase{0, false, 0}, ManualCase{0, true, 0},
                                           ManualCase{1, false, 0}, ManualCase{1, true, 1}));

}  // namespace
}  // namespace kelvro::sim
