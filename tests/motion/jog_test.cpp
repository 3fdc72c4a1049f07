// Jogging through the host's JogOn / JogOff against the simulated controller.
#include <functional>
#include <string>
#include <vector>

#include "tests/motion/scenario_fixture.h"

namespace kelvro::sim::test {
namespace {

using JogTest = ScenarioTest;

struct RefusalCase {
  const char* name;
  int axis;
  std::function<void(ScenarioTest&, HostOf<Plugin>&)> arrange;
  const char* text;
};

class JogRefusalTest : public ScenarioTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(JogRefusalTest, RefusedWithItsTextAndNothingChanges) {
  const RefusalCase& c = GetParam();
  c.arrange(*this, host);
  const size_t starts_before = CommandCount("JogStart");
  host.plugin().JogOn(c.axis, 0, 0.0);
  EXPECT_EQ(CommandCount("JogStart"), starts_before);
  EXPECT_STREQ(host.planner().status_text, c.text);
  EXPECT_FALSE(host.plugin().tick().jogging().jogging(c.axis));
  EXPECT_EQ(host.machine().motors[c.axis].jog_active, 0);
  EXPECT_EQ(host.machine().jog_active, 0);
  EXPECT_EQ(host.machine().status_word & 1, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, JogRefusalTest,
    ::testing::Values(RefusalCase{"Estop", 0,
                                  [](ScenarioTest&, HostOf<Plugin>& h) { h.machine().estop = 1; },
                                  "No Jogging in Estop!"},
                      RefusalCase{"ProgramRunning", 0,
                                  [](ScenarioTest&, HostOf<Plugin>& h) {
                                    ASSERT_TRUE(h.PushRingEntry({0, 0, 0, 0, 0, 0}, 1));
                                  },
                                  "No Jogging in g-code mode!"},
                      // A slave axis is refused even on an idle machine.
                      RefusalCase{"SlaveAxis", 1,
                                  [](ScenarioTest&, HostOf<Plugin>& h) {
                                    h.machine().motors[1].slave = 1;
                                    h.machine().idle = 1;
                                  },
                                  "Cannot jog slave axis!"},
                      // Estop is checked first, before the slave flag.
                      RefusalCase{"EstopBeforeSlave", 1,
                                  [](ScenarioTest&, HostOf<Plugin>& h) {
                                    h.machine().motors[1].slave = 1;
                                    h.machine().estop = 1;
                                  },
                                  "No Jogging in Estop!"},
                      RefusalCase{"DuringHoming", 1,
                                  [](ScenarioTest& t, HostOf<Plugin>& h) {
                                    h.plugin().Home(0);
                                    ASSERT_TRUE(h.RunUntil(
                                        [&] {
                                          return h.plugin().tick().decoder().last().sequence ==
                                                 static_cast<uint8_t>(Sequence::HOME0);
                                        },
                                        1000));
                                    t.ClearRecords();
                                  },
                                  "Waiting for sequence to End!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(JogTest, SpeedFromAxisVelocityAndJogRate) {
  host.planner().axes[0].max_velocity = 2.0;
  host.params().values[kParamJogRatePercent] = 50.0;
  host.plugin().JogOn(0, 0, 0.0);

  const auto starts = Commands("JogStart");
  ASSERT_EQ(starts.size(), 1u);
  // Axis 0, direction +1, 2 units/s x 50 % x 1000 steps x 4096 = 4,096,000 = 0x003E8000.
  EXPECT_EQ(starts[0]->payload, (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x80, 0x3E, 0x00}));

  EXPECT_TRUE(host.plugin().tick().jogging().jogging(0));
  EXPECT_EQ(host.machine().motors[0].jog_active, 1);
  EXPECT_EQ(host.machine().motors[0].jog_direction, 0);
  EXPECT_EQ(host.machine().jog_active, 1);
  EXPECT_EQ(host.machine().idle, 0);
  EXPECT_EQ(host.machine().status_word & 1, 1);

  // 1 unit/s for half a second: about 500 steps on the controller.
  host.Run(500);
  EXPECT_TRUE(host.controller().jogging(0));
  EXPECT_NEAR(static_cast<double>(host.controller().position(0)), 500.0, 10.0);
}

TEST_F(JogTest, NoScalingFlagUsesTheFullAxisVelocity) {
  host.planner().axes[0].max_velocity = 2.0;
  host.params().values[kParamJogRatePercent] = 50.0;
  host.planner().no_jog_scaling = 1;
  host.plugin().JogOn(0, 0, 0.0);
  const auto starts = Commands("JogStart");
  ASSERT_EQ(starts.size(), 1u);
  // 2 x 1000 x 4096 = 8,192,000 = 0x007D0000.
  EXPECT_EQ(starts[0]->payload, (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00, 0x7D, 0x00}));
}

TEST_F(JogTest, ExplicitSpeedIgnoresTheJogRateAndDirectionOneIsNegative) {
  host.params().values[kParamJogRatePercent] = 50.0;
  host.plugin().JogOn(0, 1, 3.0);
  const auto starts = Commands("JogStart");
  ASSERT_EQ(starts.size(), 1u);
  // Axis 0, direction -1, 3 x 1000 x 4096 = 12,288,000 = 0x00BB8000.
  EXPECT_EQ(starts[0]->payload, (std::vector<uint8_t>{0x00, 0xFF, 0x00, 0x80, 0xBB, 0x00}));
  EXPECT_EQ(host.machine().motors[0].jog_direction, 1);
  host.Run(200);
  EXPECT_NEAR(static_cast<double>(host.controller().position(0)), -600.0, 20.0);
}

TEST_F(JogTest, HugeSpeedSaturatesInsteadOfWrapping) {
  host.plugin().JogOn(2, 0, 1e12);
  const auto starts = Commands("JogStart");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0]->payload, (std::vector<uint8_t>{0x02, 0x01, 0xFF, 0xFF, 0xFF, 0x7F}));
  host.plugin().JogOff(2);
}

TEST_F(JogTest, NegativeSpeedStillJogsInTheRequestedDirection) {
  host.plugin().JogOn(0, 0, -3.0);
  const auto starts = Commands("JogStart");
  ASSERT_EQ(starts.size(), 1u);
  // Direction +1 and the magnitude 12,288,000 = 0x00BB8000.
  EXPECT_EQ(starts[0]->payload, (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x80, 0xBB, 0x00}));
  host.Run(200);
  EXPECT_GT(host.controller().position(0), 0);
}

TEST_F(JogTest, ReversalDuringAJogIsIgnored) {
  host.plugin().JogOn(0, 0, 1.0);
  ASSERT_TRUE(
      host.RunUntil([&] { return LastPacket().mode == static_cast<uint8_t>(Mode::JOG); }, 500));
  host.platform().status_texts.clear();
  host.plugin().JogOn(0, 1, 1.0);
  EXPECT_EQ(CommandCount("JogStart"), 1u);
  EXPECT_TRUE(host.platform().status_texts.empty());
  EXPECT_EQ(host.machine().motors[0].jog_direction, 0);
  const int64_t before = host.controller().position(0);
  host.Run(200);
  EXPECT_GT(host.controller().position(0), before);  // still moving positive
}

TEST_F(JogTest, JogOffOfAnAxisThatIsNotJoggingSendsNothing) {
  host.plugin().JogOff(1);
  EXPECT_EQ(CommandCount("JogStop"), 0u);
  // Also while another axis jogs.
  host.plugin().JogOn(0, 0, 1.0);
  host.Run(100);
  host.plugin().JogOff(1);
  EXPECT_EQ(CommandCount("JogStop"), 0u);
  EXPECT_EQ(host.machine().jog_active, 1);
  host.plugin().JogOff(0);
  const auto stops = Commands("JogStop");
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0]->payload, (std::vector<uint8_t>{0x00}));
  host.Run(100);
  EXPECT_FALSE(host.controller().jogging(0));
}

TEST_F(JogTest, JogModeOneIsRestoredAfterTheLastJogOff) {
  host.planner().jog_mode = 1;
  host.plugin().JogOn(0, 0, 1.0);
  EXPECT_EQ(host.planner().jog_mode, 0);
  ASSERT_TRUE(
      host.RunUntil([&] { return LastPacket().mode == static_cast<uint8_t>(Mode::JOG); }, 500));
  // A second axis joins the jog while the controller is in mode JOG.
  host.plugin().JogOn(1, 1, 1.0);
  EXPECT_EQ(CommandCount("JogStart"), 2u);
  EXPECT_EQ(host.planner().jog_mode, 0);
  host.Run(100);
  EXPECT_TRUE(host.controller().jogging(0));
  EXPECT_TRUE(host.controller().jogging(1));

  host.plugin().JogOff(0);
  EXPECT_EQ(host.planner().jog_mode, 0);
  EXPECT_EQ(host.machine().jog_active, 1);
  host.plugin().JogOff(1);
  EXPECT_EQ(host.planner().jog_mode, 1);
  EXPECT_EQ(host.machine().jog_active, 0);
  EXPECT_EQ(CommandCount("JogStop"), 2u);
}

TEST_F(JogTest, JogModeOtherThanOneIsLeftAlone) {
  host.planner().jog_mode = 0;
  host.plugin().JogOn(0, 0, 1.0);
  host.Run(100);
  host.plugin().JogOff(0);
  EXPECT_EQ(host.planner().jog_mode, 0);
}

// Z-correction hooks, with correction switched on by hand (the correction itself is not
// built, so nothing else turns it on): an X or Y jog marks Z as out of date, the next Z
// jog request is taken for the corrected-Z move, the one after that jogs.
TEST_F(JogTest, ZCorrectionTakesTheFirstZJogAfterAnXJog) {
  ZCorrection& zcorr = host.plugin().zcorrection();
  zcorr.state().active = true;
  host.plugin().settings().z_jog_corr = 1;
  zcorr.follower().vel = 3.0;

  host.plugin().JogOn(0, 0, 1.0);
  EXPECT_TRUE(zcorr.state().xy_jogged);
  EXPECT_EQ(zcorr.follower().vel, 0.0);
  // Z is not jogged while X still jogs.
  host.plugin().JogOn(2, 0, 1.0);
  EXPECT_EQ(CommandCount("JogStart"), 1u);
  EXPECT_TRUE(zcorr.state().xy_jogged);
  host.plugin().JogOff(0);

  host.plugin().JogOn(2, 0, 1.0);
  EXPECT_EQ(CommandCount("JogStart"), 1u);
  EXPECT_FALSE(zcorr.state().xy_jogged);
  EXPECT_TRUE(zcorr.state().start_move_wait);
  EXPECT_FALSE(host.plugin().tick().jogging().jogging(2));

  host.plugin().JogOn(2, 0, 1.0);
  EXPECT_EQ(CommandCount("JogStart"), 2u);
  EXPECT_TRUE(host.plugin().tick().jogging().jogging(2));
  EXPECT_FALSE(zcorr.state().xy_jogged);
}

TEST_F(JogTest, WithoutZJogCorrAnXJogLeavesZAlone) {
  ZCorrection& zcorr = host.plugin().zcorrection();
  zcorr.state().active = true;
  host.plugin().settings().z_jog_corr = 0;
  host.plugin().JogOn(0, 0, 1.0);
  EXPECT_FALSE(zcorr.state().xy_jogged);
  host.plugin().JogOff(0);
  host.plugin().JogOn(2, 0, 1.0);
  EXPECT_EQ(CommandCount("JogStart"), 2u);
}

}  // namespace
}  // namespace kelvro::sim::test
