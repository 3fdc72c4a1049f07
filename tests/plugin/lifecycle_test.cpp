// The plugin's life as the host drives it: start-up order, the 25 ms timer and its idle
// watchdog, dwell, entry points that must do nothing, and the soft-limit latch around the
// alternative homing.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "plugin/plugin.h"
#include "sim/standin_host.h"

namespace kelvro::sim {
namespace {

using TK = TraceKind;

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.DescribeMill();
    EXPECT_EQ(host.StartUp(), "KELVRO plugin");
  }
  HostOf<Plugin> host;
};

TEST_F(LifecycleTest, StartUpAsksForThreeMenuIdsAndReportsInitialisation) {
  EXPECT_EQ(host.menu_range_requests, 1);
  EXPECT_EQ(host.plugin().menu_base(), 5000);
  EXPECT_TRUE(host.plugin().post_init_done());
  EXPECT_STREQ(host.planner().status_text, "USB controller plugin initialized.");
  // Every motor gets the 250 kHz step rate by default.
  for (const HostAxisTuning& axis : host.planner().axes) EXPECT_EQ(axis.max_step_rate, 250000.0);
  EXPECT_EQ(host.planner().spindle_pwm_base, 100.0);
}

TEST_F(LifecycleTest, ResetAlwaysReturnsFfff) {
  EXPECT_EQ(host.Reset(), 0xFFFF);
  host.controller().Disconnect();
  EXPECT_EQ(host.Reset(), 0xFFFF);
}

TEST_F(LifecycleTest, TimerDiesOnTheTwentyFirstIdleTickAndUpdateRestartsIt) {
  host.Reset();
  host.calls_update = false;
  host.plugin().Update();
  ASSERT_TRUE(host.platform().timer_running);
  // The first tick consumes the Update; then 20 idle ticks still run the service tick.
  for (int tick = 0; tick < 21; ++tick) {
    host.plugin().OnTimer();
    ASSERT_TRUE(host.platform().timer_running) << "tick " << tick;
  }
  host.plugin().OnTimer();  // the 21st idle tick
  EXPECT_FALSE(host.platform().timer_running);
  EXPECT_FALSE(host.plugin().timer_running());
  EXPECT_EQ(host.platform().timer_stops, 1);

  host.plugin().Update();
  EXPECT_TRUE(host.platform().timer_running);
  EXPECT_EQ(host.platform().timer_starts, 2);
}

TEST_F(LifecycleTest, TimerKeepsRunningWhileTheHostCallsUpdate) {
  host.Reset();
  host.update_period_ms = 500;  // one Update in every 20 timer periods
  host.Run(5000);
  EXPECT_TRUE(host.platform().timer_running);
  EXPECT_EQ(host.platform().timer_starts, 1);
  EXPECT_GE(host.timer_ticks, 190);
}

struct DwellCase {
  int milliseconds_flag;
  double time;
  int ticks;
};

class DwellTest : public LifecycleTest, public ::testing::WithParamInterface<DwellCase> {};

TEST_P(DwellTest, TicksFollowTheHostUnitFlag) {
  const DwellCase c = GetParam();
  host.planner().dwell_in_ms = c.milliseconds_flag;
  host.plugin().DoDwell(c.time);
  EXPECT_EQ(host.plugin().tick().streaming().dwell_ticks(), c.ticks);
  EXPECT_EQ(host.machine().dwell_active, 1);
}

INSTANTIATE_TEST_SUITE_P(Units, DwellTest,
                         ::testing::Values(DwellCase{0, 0.0, 1},      // 0 still dwells a tick
                                           DwellCase{0, 0.5, 20},     // seconds
                                           DwellCase{0, 0.01, 1},     // 0.4 ticks -> 1
                                           DwellCase{0, 1.0199, 40},  // truncated
                                           DwellCase{1, 100.0, 4},    // milliseconds
                                           DwellCase{1, 0.0, 1}, DwellCase{1, -5.0, 1}));

TEST_F(LifecycleTest, HomeOutsideTheSixAxesSendsNothing) {
  host.Reset();
  host.controller().trace().Clear();
  host.plugin().Home(-1);
  host.plugin().Home(6);
  host.Run(100);
  EXPECT_EQ(host.controller().trace().Count(TK::kCommand, "HomeAxis"), 0u);
  EXPECT_EQ(host.controller().trace().Count(TK::kCommand, "HomeVerifyAxis"), 0u);
  EXPECT_EQ(host.machine().homing_in_progress, 0);
}

TEST_F(LifecycleTest, PurgeHasNoEffect) {
  host.Reset();
  host.Run(100);
  const auto machine_before = std::make_unique<HostMachineState>(host.machine());
  const size_t commands = host.controller().trace().Count(TK::kCommand);
  host.plugin().Purge(0xFFFFFFFF);
  EXPECT_EQ(std::memcmp(machine_before.get(), &host.machine(), sizeof(HostMachineState)), 0);
  EXPECT_EQ(host.controller().trace().Count(TK::kCommand), commands);
}

// Soft limits around the alternative homing, call by call.
TEST_F(LifecycleTest, SoftLimitsAreRestoredAfterAnAlternativeHoming) {
  HostMachineState& m = host.machine();
  HostPlanner& p = host.planner();
  m.soft_limits_on = 1;
  host.plugin().Update();
  host.plugin().Update();
  // The host starts a homing and switches soft limits off for it.
  p.alternative_homing = 1;
  m.soft_limits_on = 0;
  host.plugin().Update();
  EXPECT_EQ(host.buttons, std::vector<int>{105});
  for (int i = 0; i < 10; ++i) host.plugin().Update();
  EXPECT_EQ(host.buttons.size(), 1u) << "the homing button is pressed once";
  EXPECT_EQ(m.soft_limits_on, 0);
  // The homing ends: soft limits come back.
  p.alternative_homing = 0;
  host.plugin().Update();
  EXPECT_EQ(m.soft_limits_on, 1);
}

TEST_F(LifecycleTest, SoftLimitMemoryIsDroppedSixCallsAfterSwitchingOff) {
  HostMachineState& m = host.machine();
  HostPlanner& p = host.planner();
  m.soft_limits_on = 1;
  host.plugin().Update();
  m.soft_limits_on = 0;  // switched off outside a homing
  for (int i = 0; i < 6; ++i) host.plugin().Update();
  // A homing now must not switch soft limits back on.
  p.alternative_homing = 1;
  host.plugin().Update();
  p.alternative_homing = 0;
  host.plugin().Update();
  EXPECT_EQ(m.soft_limits_on, 0);
}

TEST_F(LifecycleTest, SoftLimitMemoryIsKeptFiveCallsAfterSwitchingOff) {
  HostMachineState& m = host.machine();
  HostPlanner& p = host.planner();
  m.soft_limits_on = 1;
  host.plugin().Update();
  m.soft_limits_on = 0;
  for (int i = 0; i < 5; ++i) host.plugin().Update();
  p.alternative_homing = 1;
  host.plugin().Update();
  p.alternative_homing = 0;
  host.plugin().Update();
  EXPECT_EQ(m.soft_limits_on, 1);
}

TEST_F(LifecycleTest, StopPlugSendsOutputsThenSafeStateAndClosesTheLink) {
  host.Reset();
  host.Run(200);
  host.machine().outputs[3] = HostOutputSignal{1, 4, 1, 0, 1, {}};  // pin 4 on
  host.controller().trace().Clear();
  host.StopPlug();
  const auto commands = host.controller().trace().Find(TK::kCommand);
  ASSERT_GE(commands.size(), 2u);
  const TraceEntry& outputs = *commands[commands.size() - 2];
  EXPECT_EQ(outputs.name, "SetOutputs");
  EXPECT_EQ(outputs.payload, (std::vector<uint8_t>{0x08, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(commands.back()->name, "Stop");
  EXPECT_EQ(commands.back()->payload, std::vector<uint8_t>{3});
  EXPECT_FALSE(host.plugin().link().IsOpen());
}

TEST_F(LifecycleTest, EntryPointsBeforeInitControlDoNotCrash) {
  ScriptedPlatform platform;
  SimController controller;
  SimUsbPort port(controller, platform);
  Plugin plugin(platform, port);
  plugin.Update();
  plugin.OnTimer();
  plugin.Notify(-1);
  plugin.DoDwell(1.0);
  plugin.JogOn(0, 0, 1.0);
  plugin.JogOff(0);
  plugin.Probe();
  plugin.Home(0);
  EXPECT_EQ(plugin.Reset(), 0xFFFF);
  plugin.Config();
  plugin.StopPlug();
  EXPECT_EQ(plugin.SetProName(nullptr), std::string("KELVRO plugin"));
}

}  // namespace
}  // namespace kelvro::sim

namespace kelvro::sim {
namespace {

TEST(PostInit, InstallsMenusOnTheHostWindowAndBuildsTheVersionText) {
  HostOf<Plugin> host;
  int window = 0;
  host.app().main_window = &window;
  host.StartUp();
  EXPECT_EQ(host.platform().menu_windows, std::vector<void*>{&window});
  EXPECT_EQ(host.platform().installed_menu_base, 5000);
  EXPECT_EQ(host.plugin().version_text(), "01.18");
}

TEST(PostInit, VersionTextFormat) {
  EXPECT_EQ(FormatPluginVersion({0, 1, 1, 8}), "01.18");
  EXPECT_EQ(FormatPluginVersion({1, 2, 3, 4}), "12.34");
}

TEST(Notify, GeneralConfigIsForwardedToTheHostAndForcesEstop) {
  HostOf<Plugin> host;
  int window = 0;
  host.app().main_window = &window;
  host.StartUp();
  host.plugin().Notify(5002);
  EXPECT_EQ(host.platform().menu_commands, std::vector<int>{27837});
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_EQ(host.machine().stop_code, 8);
}

}  // namespace
}  // namespace kelvro::sim
