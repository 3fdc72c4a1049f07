// Probing through the host's Probe against the simulated controller's probe surface, and
// the probe log files it writes.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "tests/motion/scenario_fixture.h"

namespace kelvro::sim::test {
namespace {

class ProbeTest : public ScenarioTest {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    host.planner().feed_rate = 5.0;  // units per second
    host.planner().feed_override_percent = 100.0;
  }

  void SetWorkOffsets(double x, double y, double z) {
    host.params().values[kParamWorkOffsetX] = x;
    host.params().values[kParamWorkOffsetX + 1] = y;
    host.params().values[kParamWorkOffsetX + 2] = z;
  }
  double WorkOffset(int k) { return host.params().values[kParamWorkOffsetX + k]; }

  // The host's current position in work coordinates, from its step counters.
  void TakeCurrentPosition() {
    for (int k = 0; k < kAxisCount; ++k) {
      const double steps = host.planner().axes[k].steps_per_unit;
      host.planner().current_position[k] =
          steps != 0 ? host.machine().motors[k].step_position / steps - WorkOffset(k) : 0.0;
    }
  }

  void SetTarget(double x, double y, double z, double a = 0.0) {
    host.planner().probe_target[0] = x;
    host.planner().probe_target[1] = y;
    host.planner().probe_target[2] = z;
    host.planner().probe_target[3] = a;
  }

  void TouchBelowZ(int64_t z_steps) {
    host.controller().SetProbePredicate(
        [z_steps](const std::array<int64_t, kSimAxes>& p) { return p[2] <= z_steps; });
  }

  bool RunUntilProbeDone(uint64_t max_ms = 10000) {
    return host.RunUntil(
        [&] {
          const Probing& s = host.plugin().tick().probing();
          return CommandCount("EndProbe") > 0 && !s.ended() && !s.hit_hold() &&
                 host.controller().sequence() == SimSequence::kNone;
        },
        max_ms);
  }

  ProbeLogOptions& Log() { return host.plugin().tick().probing().log_options(); }

  void SetProgramName(const std::string& name) {
    ASSERT_LT(name.size(), sizeof(host.planner().program_name));
    std::snprintf(host.planner().program_name, sizeof(host.planner().program_name), "%s",
                  name.c_str());
  }
};

TEST_F(ProbeTest, HitStoresTheResultHoldsTheInputAndLogsTheLine) {
  TempDir dir;
  SetProgramName(dir.File("part.tap"));
  Log().log_enabled = true;
  SetWorkOffsets(0.0, 0.0, 1.0);
  TakeCurrentPosition();  // Z = -1 in work coordinates
  SetTarget(0.0, 0.0, -11.0);
  TouchBelowZ(-2000);

  host.plugin().Probe();
  EXPECT_TRUE(SawStatus("Probe to (0.000000,0.000000,-11.000000,0.000000)"));
  for (int k = 0; k < kAxisCount; ++k) EXPECT_EQ(host.machine().motors[k].probe_pending, 1);
  EXPECT_EQ(host.machine().idle, 0);
  EXPECT_TRUE(host.plugin().tick().probing().move().active);

  const auto starts = Commands("ProbeStart");
  ASSERT_EQ(starts.size(), 1u);
  const std::vector<uint8_t>& p = starts[0]->payload;
  ASSERT_EQ(p.size(), 48u);
  // Straight down at 5 units/s: Z alone moves; its acceleration is 500 units/s^2
  // (the axis limit), 500 x 1000 x 1.6e-11 x 250e6 = 2000. Its velocity term counts
  // per 4 us controller tick: -5 x 1000 x 4e-6 x 250e6 = -5,000,000.
  for (int k = 0; k < kAxisCount; ++k) {
    if (k == 2) continue;
    EXPECT_EQ(Le32(p, 4 * k), 0) << k;
    EXPECT_EQ(Le32(p, 24 + 4 * k), 0) << k;
  }
  EXPECT_NEAR(Le32(p, 8), 2000, 1);
  EXPECT_EQ(Le32(p, 24 + 8), -5000000);

  // The hit: pending flags cleared, the hit held on the host's probe input.
  ASSERT_TRUE(host.RunUntil([&] { return host.machine().motors[2].probe_pending == 0; }, 10000));
  EXPECT_TRUE(host.plugin().tick().probing().hit_hold());
  EXPECT_FALSE(host.plugin().tick().probing().move().active);
  EXPECT_EQ(host.controller().sequence(), SimSequence::kProbe2);
  const int64_t hit_z = host.controller().position(2);
  EXPECT_LE(hit_z, -2000);
  EXPECT_GT(hit_z, -2100);
  for (int k = 0; k < kAxisCount; ++k) {
    EXPECT_EQ(host.machine().motors[k].probe_pending, 0);
    EXPECT_EQ(host.machine().motors[k].probe_hit_steps, host.controller().position(k));
  }
  const double result_z = static_cast<double>(hit_z) / 1000.0 - 1.0;
  EXPECT_DOUBLE_EQ(host.planner().probe_result[2], result_z);
  EXPECT_DOUBLE_EQ(host.planner().probe_result[0], 0.0);
  EXPECT_TRUE(SawStatus(Printf("Probe hit (%f,%f,%f,%f)", 0.0, 0.0, result_z, 0.0)));
  // While the hold is set, Update shows the host its probe input on.
  host.plugin().Update();
  EXPECT_EQ(host.machine().inputs[kInputProbe].state, 1);

  // Settle, EndProbe, hold released.
  ASSERT_TRUE(RunUntilProbeDone());
  EXPECT_EQ(CommandCount("EndProbe"), 1u);
  EXPECT_EQ(ButtonCount(kButtonProbeFailed), 0);
  host.Run(200);
  EXPECT_EQ(host.machine().inputs[kInputProbe].state, 0);
  EXPECT_EQ(host.machine().motors[2].step_position, hit_z);

  const auto lines = ReadLines(dir.File("part.tap_probelog.txt"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], Printf("(%lf,%lf,%lf)-(%lf,%lf,%lf)", 0.0, 0.0, -11.0, 0.0, 0.0, result_z));
  EXPECT_FALSE(std::filesystem::exists(dir.File("part.tap_probelog.mes")));
}

TEST_F(ProbeTest, MissReportsNoHitAndPressesTheButton) {
  TakeCurrentPosition();
  SetTarget(0.0, 0.0, -1.0);
  host.controller().SetProbePredicate([](const std::array<int64_t, kSimAxes>&) { return false; });
  host.plugin().Probe();
  ASSERT_EQ(CommandCount("ProbeStart"), 1u);
  ASSERT_TRUE(host.RunUntil([&] { return SawStatus("Probe move finished with NO hit!"); }, 5000));
  EXPECT_EQ(ButtonCount(kButtonProbeFailed), 1);
  EXPECT_EQ(CommandCount("EndProbe"), 1u);
  for (int k = 0; k < kAxisCount; ++k) EXPECT_EQ(host.machine().motors[k].probe_pending, 0);
  EXPECT_FALSE(host.plugin().tick().probing().move().active);
  EXPECT_TRUE(host.plugin().tick().probing().move().release_suppressed);
  host.Run(300);
  // The move ran to its end; the host follows the controller.
  EXPECT_EQ(host.controller().position(2), -1000);
  EXPECT_EQ(host.machine().motors[2].step_position, -1000);
  EXPECT_EQ(host.controller().sequence(), SimSequence::kNone);
  EXPECT_EQ(ButtonCount(kButtonProbeFailed), 1);
  EXPECT_FALSE(host.plugin().tick().probing().hit_hold());
}

TEST_F(ProbeTest, ProbeInputOffIsRefused) {
  host.machine().inputs[kInputProbe].enabled = 0;
  TakeCurrentPosition();
  SetTarget(0.0, 0.0, -1.0);
  host.plugin().Probe();
  EXPECT_STREQ(host.planner().status_text, "Probe called but not turned on.");
  EXPECT_EQ(ButtonCount(kButtonProbeFailed), 1);
  EXPECT_EQ(CommandCount("ProbeStart"), 0u);
  EXPECT_EQ(host.machine().motors[2].probe_pending, 0);
}

TEST_F(ProbeTest, TargetBeyondTheSoftLimitIsRefusedOnlyWithSoftLimitsOn) {
  TakeCurrentPosition();
  SetTarget(1500.0, 0.0, 0.0);
  host.machine().soft_limits_on = 1;
  host.plugin().Probe();
  EXPECT_STREQ(host.planner().status_text, "Probe move outside of soft limits. Operation aborted.");
  EXPECT_EQ(ButtonCount(kButtonProbeFailed), 1);
  EXPECT_EQ(CommandCount("ProbeStart"), 0u);
  EXPECT_EQ(host.machine().motors[0].probe_pending, 0);
  EXPECT_FALSE(host.plugin().tick().probing().move().active);

  // The host's per-axis flag off: X is not checked.
  host.planner().axes[0].soft_limit_on = 0;
  host.plugin().Probe();
  EXPECT_EQ(CommandCount("ProbeStart"), 1u);
  host.plugin().tick().probing().Reset();
  host.planner().axes[0].soft_limit_on = 1;

  host.machine().soft_limits_on = 0;
  host.plugin().Probe();
  EXPECT_STREQ(host.planner().status_text, "Probe to (1500.000000,0.000000,0.000000,0.000000)");
  EXPECT_EQ(CommandCount("ProbeStart"), 2u);
  EXPECT_EQ(ButtonCount(kButtonProbeFailed), 1);
  EXPECT_EQ(host.machine().motors[0].probe_pending, 1);
  // trunc(1000 x (end X - start X)) in every axis's probe field.
  for (int k = 0; k < kAxisCount; ++k) EXPECT_EQ(host.machine().motors[k].probe_distance, 1500000);
}

TEST_F(ProbeTest, WorkOffsetsTurnTheLimitCheckIntoMachineCoordinates) {
  // Work X 950 with offset 100 is machine X 1050: beyond the 1000 limit.
  SetWorkOffsets(100.0, 0.0, 0.0);
  TakeCurrentPosition();
  SetTarget(950.0, 0.0, 0.0);
  host.machine().soft_limits_on = 1;
  host.plugin().Probe();
  EXPECT_EQ(CommandCount("ProbeStart"), 0u);
  EXPECT_EQ(ButtonCount(kButtonProbeFailed), 1);
  SetTarget(850.0, 0.0, 0.0);
  host.plugin().Probe();
  EXPECT_EQ(CommandCount("ProbeStart"), 1u);
}

TEST_F(ProbeTest, NothingToMoveIsRefusedInsteadOfDividingByZero) {
  TakeCurrentPosition();
  SetTarget(host.planner().current_position[0], host.planner().current_position[1],
            host.planner().current_position[2]);
  host.plugin().Probe();
  EXPECT_STREQ(host.planner().status_text,
               "Probe move has zero length or zero feed. Operation aborted.");
  EXPECT_EQ(ButtonCount(kButtonProbeFailed), 1);
  EXPECT_EQ(CommandCount("ProbeStart"), 0u);
  EXPECT_EQ(host.machine().motors[2].probe_pending, 0);

  SetTarget(0.0, 0.0, -1.0);
  host.planner().feed_override_percent = 0.0;
  host.plugin().Probe();
  EXPECT_STREQ(host.planner().status_text,
               "Probe move has zero length or zero feed. Operation aborted.");
  EXPECT_EQ(ButtonCount(kButtonProbeFailed), 2);
  EXPECT_EQ(CommandCount("ProbeStart"), 0u);
  EXPECT_EQ(host.machine().idle, 1);
}

TEST_F(ProbeTest, ProbeResetStopsTheMoveAndClearsPending) {
  TakeCurrentPosition();
  SetTarget(0.0, 0.0, -5.0);
  host.plugin().Probe();
  ASSERT_TRUE(host.plugin().tick().probing().move().active);
  host.plugin().tick().probing().Reset();
  EXPECT_FALSE(host.plugin().tick().probing().move().active);
  EXPECT_TRUE(host.plugin().tick().probing().move().release_suppressed);
  for (int k = 0; k < kAxisCount; ++k) EXPECT_EQ(host.machine().motors[k].probe_pending, 0);
}

// A slaved A axis narrows its master's limits in the motion configuration, and the probe
// limit check uses those merged limits; ProbeStart carries the master's terms for A.
class SlavedProbeTest : public ProbeTest {
 protected:
  void SetUp() override {
    host.DescribeMill();
    HostMotor& a = host.machine().motors[3];
    a.enabled = 1;
    a.step_port = 1;
    a.dir_port = 1;
    a.step_pin = 8;
    a.dir_pin = 9;
    HostAxisTuning& t = host.planner().axes[3];
    t = host.planner().axes[0];
    t.soft_min = -1000.0;
    t.soft_max = 500.0;
    t.slave_master = 0;
    host.StartUp();
    Connect();
    host.planner().feed_rate = 5.0;
    host.planner().feed_override_percent = 100.0;
    ASSERT_EQ(host.plugin().controller_config().MasterPlusOne(3), 1);
  }
};

TEST_F(SlavedProbeTest, MergedLimitsAndMasterTermsForTheSlave) {
  host.machine().soft_limits_on = 1;
  TakeCurrentPosition();
  SetTarget(700.0, 0.0, 0.0);  // inside X's own 1000, beyond the merged 500
  host.plugin().Probe();
  EXPECT_STREQ(host.planner().status_text, "Probe move outside of soft limits. Operation aborted.");
  EXPECT_EQ(CommandCount("ProbeStart"), 0u);

  SetTarget(2.0, 0.0, 0.0);
  host.plugin().Probe();
  const auto starts = Commands("ProbeStart");
  ASSERT_EQ(starts.size(), 1u);
  const std::vector<uint8_t>& p = starts[0]->payload;
  EXPECT_NEAR(Le32(p, 0), 2000, 1);
  EXPECT_EQ(Le32(p, 24), 5000000);           // 5 x 1000 x 4e-6 x 250e6
  EXPECT_EQ(Le32(p, 12), Le32(p, 0));        // A acceleration = X's
  EXPECT_EQ(Le32(p, 24 + 12), Le32(p, 24));  // A velocity = X's
  EXPECT_EQ(Le32(p, 4), 0);
  EXPECT_EQ(Le32(p, 28), 0);
}

// ---- Probe log files ----

class ProbeLogFileTest : public ProbeTest {
 protected:
  // Probes straight down from where the machine is to contact at `contact_z` steps and
  // waits for the whole sequence; returns the Z of the hit in steps.
  int64_t ProbeDownTo(int64_t contact_z) {
    TakeCurrentPosition();
    SetTarget(host.planner().current_position[0], host.planner().current_position[1],
              host.planner().current_position[2] - 10.0);
    TouchBelowZ(contact_z);
    const size_t end_probes = CommandCount("EndProbe");
    host.plugin().Probe();
    EXPECT_TRUE(host.RunUntil(
        [&] {
          const Probing& s = host.plugin().tick().probing();
          return CommandCount("EndProbe") > end_probes && !s.ended() && !s.hit_hold() &&
                 host.controller().sequence() == SimSequence::kNone;
        },
        10000));
    host.Run(100);  // resync
    return host.controller().position(2);
  }
};

TEST_F(ProbeLogFileTest, OneLinePerHitWithEachSeparator) {
  TempDir dir;
  SetProgramName(dir.File("job"));
  Log().log_enabled = true;
  const char* separators[] = {",", " ", ";", "\t"};
  std::vector<std::string> expected;
  for (int i = 0; i < 4; ++i) {
    Log().separator = separators[i];
    const double target_z = host.machine().motors[2].step_position / 1000.0 - 10.0;
    const int64_t z = ProbeDownTo(-1000 * (i + 1));
    const std::string s = separators[i];
    expected.push_back("(0.000000" + s + "0.000000" + s + Printf("%lf", target_z) + ")-(0.000000" +
                       s + "0.000000" + s + Printf("%lf", z / 1000.0) + ")");
  }
  EXPECT_EQ(ReadLines(dir.File("job_probelog.txt")), expected);
}

TEST_F(ProbeLogFileTest, CompensatedPointWithMachineColumns) {
  TempDir dir;
  SetProgramName(dir.File("comp"));
  Log().log_enabled = true;
  Log().compensation = true;
  Log().d = 2.0;
  Log().c1 = 1.0;
  Log().c2 = 1.0;
  Log().machine_coordinates = true;
  Log().separator = ";";
  // Probe along +X in work coordinates with offsets (100, 200, 300): from work X -100
  // (machine 0) towards work X -90; contact at machine X 8 units.
  SetWorkOffsets(100.0, 200.0, 300.0);
  TakeCurrentPosition();
  SetTarget(-90.0, -200.0, -300.0);
  host.controller().SetProbePredicate(
      [](const std::array<int64_t, kSimAxes>& p) { return p[0] >= 8000; });
  host.plugin().Probe();
  ASSERT_TRUE(RunUntilProbeDone());

  const int64_t hit_x = host.controller().position(0);
  EXPECT_GE(hit_x, 8000);
  EXPECT_LT(hit_x, 8100);
  // Measured M = (hit - 100, 0 - 200, 0 - 300); target (-90, -200): M moved 1 towards the
  // target is P = (M_x + 1, -200), the tip radius along X is 1, so the touched point is
  // (M_x, -200) and Z stays M_z. Machine columns add the offsets back.
  const double mx = hit_x / 1000.0 - 100.0;
  const auto mes = ReadLines(dir.File("comp_probelog.mes"));
  ASSERT_EQ(mes.size(), 1u);
  EXPECT_EQ(mes[0], Printf("%lf;%lf;%lf", mx, -200.0, -300.0) +
                        Printf("\t%lf;%lf;%lf", mx + 100.0, 0.0, 0.0));
  const auto txt = ReadLines(dir.File("comp_probelog.txt"));
  ASSERT_EQ(txt.size(), 1u);
  EXPECT_EQ(txt[0], Printf("(%lf;%lf;%lf)-", -90.0, -200.0, -300.0) +
                        Printf("(%lf;%lf;%lf)", mx, -200.0, -300.0));
}

TEST_F(ProbeLogFileTest, EmptyProgramNameWritesNofile) {
  TempDir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  SetProgramName("");
  Log().log_enabled = true;
  const int64_t z = ProbeDownTo(-500);
  std::filesystem::current_path(previous);
  const auto lines = ReadLines(dir.File("nofile_probelog.txt"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], Printf("(%lf,%lf,%lf)-", 0.0, 0.0, -10.0) +
                          Printf("(%lf,%lf,%lf)", 0.0, 0.0, z / 1000.0));
}

TEST_F(ProbeLogFileTest, FileThatCannotBeOpenedShowsAMessageAndKeepsTheResult) {
  TempDir dir;
  SetProgramName(dir.File("no_such_folder/part"));
  Log().log_enabled = true;
  Log().compensation = true;
  const int64_t z = ProbeDownTo(-700);
  // One box for each file that could not be opened.
  EXPECT_EQ(
      host.platform().message_boxes,
      (std::vector<std::string>{"Error opening ProbeLog file!", "Error opening ProbeLog file!"}));
  EXPECT_DOUBLE_EQ(host.planner().probe_result[2], z / 1000.0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("no_such_folder")));
}

TEST_F(ProbeLogFileTest, LogDisabledWritesNothing) {
  TempDir dir;
  SetProgramName(dir.File("off"));
  ProbeDownTo(-300);
  EXPECT_FALSE(std::filesystem::exists(dir.File("off_probelog.txt")));
  EXPECT_TRUE(host.platform().message_boxes.empty());
}

TEST_F(ProbeLogFileTest, FinishLineTimesTheRunBetweenLedEdges) {
  TempDir dir;
  SetProgramName(dir.File("timed"));
  Log().log_enabled = true;
  host.planner().probe_log_enabled[0] = 1;
  host.planner().probe_log_enabled[1] = 1;
  host.leds[804] = 1;
  host.plugin().Update();
  host.platform().wall_epoch_seconds_ += 3725;
  host.leds[804] = 0;
  host.plugin().Update();
  EXPECT_EQ(ReadLines(dir.File("timed_probelog.txt")),
            (std::vector<std::string>{"Probing finished after (h:m:s) 01:02:05"}));
}

TEST_F(ProbeLogFileTest, FinishLineNeedsTheLogEnabled) {
  TempDir dir;
  SetProgramName(dir.File("untimed"));
  host.planner().probe_log_enabled[0] = 1;
  host.planner().probe_log_enabled[1] = 1;
  host.leds[804] = 1;
  host.plugin().Update();
  host.leds[804] = 0;
  host.plugin().Update();
  EXPECT_FALSE(std::filesystem::exists(dir.File("untimed_probelog.txt")));
}

}  // namespace
}  // namespace kelvro::sim::test
