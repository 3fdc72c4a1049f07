// Homing and verify homing through the host's Home against the simulated controller.
#include <vector>

#include "tests/motion/scenario_fixture.h"

namespace kelvro::sim::test {
namespace {

using HomingTest = ScenarioTest;

TEST_F(HomingTest, TwoAxesHomedWithOneReportEach) {
  host.plugin().Home(0);
  host.plugin().Home(1);
  const auto homes = Commands("HomeAxis");
  ASSERT_EQ(homes.size(), 2u);
  EXPECT_EQ(homes[0]->payload, (std::vector<uint8_t>{0x00, 0x00}));
  EXPECT_EQ(homes[1]->payload, (std::vector<uint8_t>{0x01, 0x00}));
  EXPECT_EQ(CommandCount("HomeVerifyAxis"), 0u);
  EXPECT_EQ(host.machine().homing_in_progress, 1);
  EXPECT_EQ(host.machine().motors[0].homing, 1);
  EXPECT_EQ(host.machine().motors[1].homing, 1);

  // Record every value the homing count takes.
  std::vector<int> counts{host.plugin().tick().homing().count()};
  auto watch = [&] {
    const int count = host.plugin().tick().homing().count();
    if (count != counts.back()) counts.push_back(count);
  };

  ASSERT_TRUE(host.RunUntil(
      [&] {
        watch();
        return host.machine().motors[0].referenced != 0;
      },
      3000));
  EXPECT_EQ(host.machine().homing_in_progress, 1);
  EXPECT_EQ(host.machine().motors[0].homing, 0);
  EXPECT_EQ(host.machine().motors[1].homing, 1);
  EXPECT_EQ(host.machine().motors[1].referenced, 0);
  EXPECT_EQ(host.machine().homed_axes, 0x1);

  ASSERT_TRUE(host.RunUntil(
      [&] {
        watch();
        return host.machine().motors[1].referenced != 0;
      },
      3000));
  host.Run(500);
  watch();
  EXPECT_EQ(counts, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(host.machine().homing_in_progress, 0);
  EXPECT_EQ(host.machine().motors[1].homing, 0);
  EXPECT_EQ(host.machine().homed_axes, 0x3);
  EXPECT_EQ(host.machine().motors[2].referenced, 0);
  // Normal homing leaves the verify array and the status line alone.
  for (int k = 0; k < kAxisCount; ++k) EXPECT_EQ(host.planner().verify_positions[k], 0);
  EXPECT_FALSE(SawStatus("Verify function finished."));
  // The controller took the home positions; the host follows after the resync.
  EXPECT_EQ(host.machine().motors[0].step_position, host.controller().position(0));
}

TEST_F(HomingTest, AxesOutsideXToCAreIgnored) {
  host.plugin().Home(6);
  host.plugin().Home(-1);
  host.plugin().tick().homing().Home(7);
  EXPECT_EQ(CommandCount("HomeAxis"), 0u);
  EXPECT_EQ(host.machine().homing_in_progress, 0);
  EXPECT_EQ(host.plugin().tick().homing().count(), 0);
}

TEST_F(HomingTest, HomingResetClearsTheHomingState) {
  host.plugin().Home(0);
  host.plugin().Home(2);
  host.plugin().tick().homing().Reset();
  EXPECT_EQ(host.machine().homing_in_progress, 0);
  EXPECT_EQ(host.plugin().tick().homing().count(), 0);
  for (int k = 0; k < kAxisCount; ++k) EXPECT_EQ(host.machine().motors[k].homing, 0);
}

TEST_F(HomingTest, VerifyHomingFillsTheVerifyArrayAndRestoresSoftLimits) {
  // Move X and Y away from zero so that the verify positions say something.
  host.plugin().JogOn(0, 0, 2.0);
  host.plugin().JogOn(1, 1, 1.0);
  host.Run(300);
  host.plugin().JogOff(0);
  host.plugin().JogOff(1);
  ASSERT_TRUE(host.RunUntil([&] { return LastPacket().mode == 0 && host.machine().idle; }, 1000));

  host.machine().soft_limits_on = 1;
  host.Run(100);
  host.planner().alternative_homing = 1;
  host.Run(100);
  EXPECT_EQ(ButtonCount(105), 1);
  // The host runs the verify homing with soft limits off.
  host.machine().soft_limits_on = 0;
  ClearRecords();

  host.plugin().Home(0);
  host.plugin().Home(1);
  const auto verifies = Commands("HomeVerifyAxis");
  ASSERT_EQ(verifies.size(), 2u);
  EXPECT_EQ(verifies[0]->payload, (std::vector<uint8_t>{0x00, 0x00}));
  EXPECT_EQ(verifies[1]->payload, (std::vector<uint8_t>{0x01, 0x00}));
  EXPECT_EQ(CommandCount("HomeAxis"), 0u);

  // The first report does not end the verify run.
  ASSERT_TRUE(host.RunUntil([&] { return host.machine().motors[0].referenced != 0; }, 3000));
  EXPECT_EQ(host.planner().alternative_homing, 1);
  EXPECT_FALSE(SawStatus("Verify function finished."));

  ASSERT_TRUE(host.RunUntil([&] { return host.planner().alternative_homing == 0; }, 3000));
  EXPECT_TRUE(SawStatus("Verify function finished."));
  EXPECT_EQ(host.machine().motors[1].referenced, 1);
  EXPECT_EQ(host.machine().homed_axes, 0x3);
  EXPECT_EQ(host.machine().homing_in_progress, 0);
  // The controller's positions at the last report, as it reports them.
  for (int k = 0; k < kAxisCount; ++k) {
    EXPECT_EQ(host.planner().verify_positions[k], host.controller().position(k)) << "axis " << k;
  }
  EXPECT_GT(host.planner().verify_positions[0], 400);
  EXPECT_LT(host.planner().verify_positions[1], -200);

  // With the flag down, the next Update puts the soft limits back on, and the homing
  // button was pressed only once.
  host.Run(100);
  EXPECT_EQ(host.machine().soft_limits_on, 1);
  EXPECT_EQ(ButtonCount(105), 0);
}

TEST_F(HomingTest, HomingZUnderCorrectionTakesTheOffsetOut) {
  ZCorrection& zcorr = host.plugin().zcorrection();
  zcorr.state().active = true;
  zcorr.state().applied_steps = 120.0;
  zcorr.follower().vel = 1.5;
  host.machine().thc_z_offset = 120;
  host.plugin().Home(0);
  EXPECT_EQ(host.machine().thc_z_offset, 120);  // only Z does this
  host.plugin().Home(2);
  EXPECT_EQ(host.machine().thc_z_offset, 0);
  EXPECT_EQ(zcorr.state().applied_steps, 0.0);
  EXPECT_EQ(zcorr.follower().vel, 0.0);
}

}  // namespace
}  // namespace kelvro::sim::test
