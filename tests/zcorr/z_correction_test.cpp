// Z correction moves through the plugin with the simulated controller: activation, the
// follower's limits, the corrected and SafeZ start moves with their clamps, the hooks of
// jogging and resynchronisation, and the work-offset commands. The controller's own positions
// are the record of what Z did.
#include "zcorr/z_correction.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/zcorr/z_correction_fixture.h"

namespace kelvro {
namespace {

TEST_F(ZCorrectionTest, PreservingStartIsActiveOneTickAfterEnabledWithoutMotion) {
  LoadMap([](double x, double) { return 0.01 * x; });
  settings().z_start_mode = 0;
  zcorr().set_enabled(true);
  host.plugin().OnTimer();
  EXPECT_TRUE(zcorr().active());
  EXPECT_EQ(zcorr().state().activation_step, 4);
  EXPECT_EQ(zcorr().state().applied_steps, 0.0);
  host.Run(200);
  EXPECT_EQ(host.controller().segments_received(), 0u);
}

TEST_F(ZCorrectionTest, WithoutAMapCorrectionStaysOff) {
  settings().z_start_mode = 0;
  zcorr().set_enabled(true);
  host.Run(100);
  EXPECT_FALSE(zcorr().active());
  EXPECT_EQ(zcorr().state().activation_step, 4);
}

TEST_F(ZCorrectionTest, SwitchingOffTakesTheOffsetOutAndResyncs) {
  LoadMap([](double, double) { return 0.2; });
  settings().z_start_mode = 0;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive());
  PushXYMove(0, 0, 5, 5, -1.0, 300);
  host.Run(1500);
  EXPECT_NE(zcorr().state().applied_steps, 0.0);
  zcorr().set_enabled(false);
  host.plugin().OnTimer();
  EXPECT_FALSE(zcorr().active());
  EXPECT_EQ(zcorr().state().applied_steps, 0.0);
  EXPECT_EQ(host.machine().thc_z_offset, 0);
}

// Reset reads the point file again while correction is enabled: a map is in force after every
// Reset, a file changed on disk takes effect, and one that can no longer be read is told.
TEST_F(ZCorrectionTest, ResetReadsThePointFileAgain) {
  const std::string path = test::WriteFile(
      dir, "reset.txt", GridText({0, 100}, {0, 100}, [](double, double) { return 0.1; }));
  settings().z_file_name = path;
  settings().z_normal = kZNormalNone;
  settings().z_start_mode = 0;
  zcorr().set_enabled(true);  // enabled, but nothing loaded yet
  ASSERT_EQ(host.Reset(), 0xFFFF);
  ASSERT_TRUE(RunUntilActive());
  EXPECT_DOUBLE_EQ(zcorr().map().ZCorrectionAt(50, 50), 0.1);
  test::WriteFile(dir, "reset.txt",
                  GridText({0, 100}, {0, 100}, [](double, double) { return 0.3; }));
  ASSERT_EQ(host.Reset(), 0xFFFF);
  EXPECT_DOUBLE_EQ(zcorr().map().ZCorrectionAt(50, 50), 0.3);
  host.platform().message_boxes.clear();
  test::WriteFile(dir, "reset.txt", "not a point file\n");
  ASSERT_EQ(host.Reset(), 0xFFFF);
  EXPECT_FALSE(zcorr().map().IsZCorrectionLoaded());
  EXPECT_EQ(host.platform().message_boxes.back(), "Error loading Z correction file!");
  // Switched off, Reset leaves the file alone.
  zcorr().set_enabled(false);
  host.platform().message_boxes.clear();
  ASSERT_EQ(host.Reset(), 0xFFFF);
  EXPECT_TRUE(host.platform().message_boxes.empty());
}

// ---- The follower ----

TEST_F(ZCorrectionTest, FollowerStepKeepsSpeedAndAccelerationAndSettlesWithoutOvershoot) {
  ZFollower& f = zcorr().follower();
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> jump(-3000.0, 3000.0);
  for (int trial = 0; trial < 200; ++trial) {
    f.pos = 0.0;
    f.vel = 0.0;
    f.v_max = kVMax;
    f.a_max = kAMax;
    f.target = jump(rng);
    const double sign = f.target > 0 ? 1.0 : -1.0;
    double previous_vel = 0.0;
    int ms = 0;
    for (; ms < 100000 && !(f.pos == f.target && f.vel == 0.0); ++ms) {
      zcorr().FollowerStep();
      ASSERT_LE(std::fabs(f.vel), kVMax + 1e-9) << trial << " at " << ms;
      ASSERT_LE(std::fabs(f.vel - previous_vel), kAMax + 1e-9) << trial << " at " << ms;
      ASSERT_LE(sign * (f.pos - f.target), 0.0) << "overshoot in trial " << trial;
      ASSERT_GE(sign * f.vel, 0.0) << "turned back in trial " << trial;
      previous_vel = f.vel;
    }
    EXPECT_EQ(f.pos, f.target) << trial;
    // Time-optimal within a few milliseconds: a jump of d at acceleration a and top speed V
    // takes 2 sqrt(d / a) when V is not reached, d / V + V / a when it is.
    const double d = std::fabs(f.target);
    const double optimal =
        d < kVMax * kVMax / kAMax ? 2.0 * std::sqrt(d / kAMax) : d / kVMax + kVMax / kAMax;
    EXPECT_LT(ms, optimal + 3.0) << trial;
    EXPECT_GE(ms, optimal - 1.0) << trial;
  }
}

// A program of XY moves at constant Z over a random map: the controller's Z follows the
// planned Z plus the map's correction, within the follower's speed and acceleration at every
// millisecond, and lands on it once settled.
TEST_F(ZCorrectionTest, ExecutedZFollowsTheMapWithinTheFollowersLimits) {
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> h(-0.4, 0.4);
  std::vector<double> heights(121);
  for (double& v : heights) v = h(rng);
  LoadMap([&](double x, double y) {
    return heights[static_cast<size_t>(std::lround(y / 10.0) * 11 + std::lround(x / 10.0))];
  });
  settings().z_start_mode = 0;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive());
  const double z_plan = 0.0;  // where Z stands: only the correction moves it
  std::uniform_real_distribution<double> coordinate(5.0, 95.0);
  // The host plans ahead as far as its ring allows.
  std::vector<std::array<double, kAxisCount>> program;
  double x = 0.0, y = 0.0;
  for (int move = 0; move < 6; ++move) {
    const double nx = coordinate(rng), ny = coordinate(rng);
    for (int i = 1; i <= 1500; ++i) {
      const double f = i / 1500.0;
      program.push_back(
          {(x + (nx - x) * f) * kSteps, (y + (ny - y) * f) * kSteps, z_plan * kSteps, 0, 0, 0});
    }
    x = nx;
    y = ny;
  }
  size_t written = 0;
  host.before_update = [&] {
    while (written < program.size() && host.RingPending() < 2000) {
      host.PushRingEntry(program[written++], 1);
    }
    host.planner().flush = written == program.size() ? 1 : 0;
  };
  std::vector<int64_t> z;
  host.controller().trace().Clear();
  host.controller().trace().options().max_entries = 100000;
  ASSERT_TRUE(host.RunUntil(
      [&] {
        return written == program.size() && host.RingPending() == 0 &&
               host.controller().buffer_fill() == 0 &&
               host.controller().mode() == sim::SimMode::kIdle;
      },
      30000));
  host.Run(500);
  // Every segment the controller executed, in order: its Z distance is that millisecond's
  // Z speed (in millionths of a step per ms).
  double last_speed = 0.0, max_speed = 0.0, max_change = 0.0;
  size_t segments = 0;
  for (const sim::TraceEntry* e :
       host.controller().trace().Find(sim::TraceKind::kSegment, "Segment")) {
    const double speed = static_cast<int32_t>(GetU32(e->payload.data(), 20)) / 1e6;
    max_speed = std::max(max_speed, std::fabs(speed));
    max_change = std::max(max_change, std::fabs(speed - last_speed));
    last_speed = speed;
    ++segments;
  }
  EXPECT_EQ(segments, program.size() + 0u) << "segments beyond the program: the idle Z move";
  EXPECT_LE(max_speed, kVMax + 1e-6);
  // Each millisecond's Z distance is whole millionths: allow the rounding of two segments.
  EXPECT_LE(max_change, kAMax + 2e-6);
  const double expected = (z_plan + zcorr().map().ZCorrectionAt(x, y)) * kSteps;
  EXPECT_LE(std::fabs(static_cast<double>(host.controller().position(2)) - expected), 1.0);
  EXPECT_EQ(host.controller().segments_dropped(), 0u);
}

// The program's own Z motion passes unchanged: during plunges and lifts under a constant
// correction, every executed millisecond is at the planned Z plus the correction.
TEST_F(ZCorrectionTest, TheProgramsOwnZMotionIsNotDelayedByTheFollower) {
  LoadMap([](double, double) { return 0.2; });
  settings().z_start_mode = 0;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive());
  // Settle on the correction first, then Z goes down and up at 5 units/s (5 steps per ms)
  // with a smooth start and end, twice.
  std::vector<std::array<double, kAxisCount>> program;
  for (int i = 0; i < 1000; ++i) program.push_back({i * 10.0, 0, 0, 0, 0, 0});
  double z = 0.0, v = 0.0;
  for (int phase = 0; phase < 4; ++phase) {
    const double direction = phase % 2 == 0 ? -1.0 : 1.0;
    for (int i = 0; i < 600; ++i) {
      const double wanted = i < 500 ? 5.0 * direction : 0.0;
      v += std::clamp(wanted - v, -0.25, 0.25);  // within the axis' acceleration
      z += v;
      program.push_back({(1000 + phase * 600 + i) * 10.0, 0, z, 0, 0, 0});
    }
  }
  size_t written = 0;
  host.before_update = [&] {
    while (written < program.size() && host.RingPending() < 2000) {
      host.PushRingEntry(program[written++], 1);
    }
    host.planner().flush = written == program.size() ? 1 : 0;
  };
  host.controller().trace().Clear();
  host.controller().trace().options().max_entries = 100000;
  const int64_t z_start = host.controller().position_micro(2);
  ASSERT_TRUE(host.RunUntil(
      [&] {
        return written == program.size() && host.RingPending() == 0 &&
               host.controller().buffer_fill() == 0;
      },
      30000));
  int64_t z_micro = z_start;
  size_t k = 0;
  double worst = 0.0;
  for (const sim::TraceEntry* e :
       host.controller().trace().Find(sim::TraceKind::kSegment, "Segment")) {
    z_micro += static_cast<int32_t>(GetU32(e->payload.data(), 20));
    if (k >= 1000) {  // settled on the correction by then
      const double executed = (static_cast<double>(z_micro) - 500000.0) / 1e6;
      worst = std::max(worst, std::fabs(executed - (program[k][2] + 200.0)));
    }
    ++k;
  }
  EXPECT_EQ(k, program.size());
  EXPECT_LE(worst, 1.0);
}

TEST_F(ZCorrectionTest, TheClampKeepsZOneStepInsideTheSoftLimits) {
  // Soft limits on, Z limits in units: [-1000, 10] -> Zmax 10000 steps.
  host.planner().axes[2].soft_max = 10.0;
  host.machine().soft_limits_on = 1;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  host.Run(300);
  LoadMap([](double, double) { return 3.0; });
  settings().z_start_mode = 0;
  settings().z_limit_corr = 1;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive());
  int64_t highest = INT64_MIN;
  host.platform().on_time = [&](uint64_t now) {
    host.controller().AdvanceTo(now);
    highest = std::max(highest, host.controller().position(2));
  };
  PushXYMove(0, 0, 20, 20, 8.0, 1500);  // 8 + 3 would be 11 units
  host.planner().flush = 1;
  host.Run(4000);
  EXPECT_LE(highest, 9999);
  EXPECT_EQ(host.controller().position(2), 9999);
}

// ---- Moves at the start ----

TEST_F(ZCorrectionTest, CorrectedStartClampsTheMoveToOneStepBelowZmax) {
  // Correction 0.5 units, Zmax 10000 steps, Z at 9800 steps: 10300 would be beyond, so the
  // move ends at 9999 steps with L = 0.199.
  host.planner().axes[2].soft_max = 10.0;
  host.machine().soft_limits_on = 1;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  host.Run(300);
  PushXYMove(0, 0, 0, 0, 9.8, 20);
  host.planner().flush = 1;
  host.Run(2000);
  ASSERT_EQ(host.controller().position(2), 9800);
  LoadMap([](double, double) { return 0.5; });
  settings().z_start_mode = 1;
  settings().z_limit_corr = 1;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive(10000));
  EXPECT_TRUE(SawStatus("Z axis moved to corrected position."));
  EXPECT_NEAR(zcorr().state().applied_steps, 199.0, 1e-9);
  EXPECT_EQ(host.controller().position(2), 9999);
  EXPECT_EQ(host.machine().thc_z_offset, 199);
}

TEST_F(ZCorrectionTest, AFlatMapStartsNoMoveAndWritesNoStatus) {
  LoadMap([](double, double) { return 0.0; });
  host.platform().status_texts.clear();
  zcorr().MoveToCorrectedZ();
  EXPECT_FALSE(zcorr().move().active);
  EXPECT_TRUE(host.platform().status_texts.empty());
}

TEST_F(ZCorrectionTest, SafeZStartGoesToSafeZLessTheCorrection) {
  LoadMap([](double, double) { return 0.25; });
  host.planner().safe_z = 5.0;
  host.planner().safe_z_mode = 0;
  settings().z_start_mode = 2;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive(10000));
  EXPECT_TRUE(SawStatus("Z axis moved to SafeZ position."));
  // v = 5 - 0.25, then L = 0.25 on top: the tool ends at SafeZ, 0.25 of it correction.
  EXPECT_EQ(host.controller().position(2), 5000);
  EXPECT_NEAR(zcorr().state().applied_steps, 250.0, 1e-9);
}

// The SafeZ start in each of the host's SafeZ modes, with the host's soft limits and with the
// limit clamp on either side: where Z ends (worked out by hand) and the correction it holds.
struct SafeZCase {
  const char* name;
  int mode;            // the host's SafeZ mode
  double safe_z;       // the host's SafeZ height
  double work_offset;  // the host's Z work offset
  double start_z;      // where Z stands before, units
  double correction;   // a flat map
  bool soft_limits;    // soft limits on, Z within [-10, 4] units
  bool limit_clamp;    // ZLimitCorr
  int64_t end_steps;   // where Z ends
  double applied;      // AppliedSteps afterwards
};

class SafeZTest : public ZCorrectionTest, public ::testing::WithParamInterface<SafeZCase> {};

TEST_P(SafeZTest, EndsWhereTheModeAndTheLimitsPutIt) {
  const SafeZCase& c = GetParam();
  if (c.soft_limits) {
    host.planner().axes[2].soft_min = -10.0;
    host.planner().axes[2].soft_max = 4.0;
    host.machine().soft_limits_on = 1;
    ASSERT_EQ(host.Reset(), 0xFFFF);
    host.Run(300);
  }
  PushXYMove(0, 0, 0, 0, c.start_z, 20);
  host.planner().flush = 1;
  host.Run(1000);
  ASSERT_EQ(host.controller().position(2), std::llround(c.start_z * kSteps));
  LoadMap([&c](double, double) { return c.correction; });
  host.planner().safe_z = c.safe_z;
  host.planner().safe_z_mode = c.mode;
  host.params().values[kParamWorkOffsetX + 2] = c.work_offset;
  settings().z_limit_corr = c.limit_clamp ? 1 : 0;
  host.platform().status_texts.clear();
  settings().z_start_mode = 2;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive(10000));
  EXPECT_EQ(host.controller().position(2), c.end_steps);
  EXPECT_NEAR(zcorr().state().applied_steps, c.applied, 1e-9);
  // With the program's Z at rest there, Z stays (the follower's own clamp keeps a program Z
  // at the soft maximum where it is, a step from the start move's Zmax - 1).
  host.Run(1000);
  EXPECT_NEAR(host.controller().position(2), c.end_steps, 1);
  EXPECT_EQ(SawStatus("Z axis moved to SafeZ position."),
            c.end_steps != std::llround(c.start_z * kSteps));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SafeZTest,
    ::testing::Values(
        // SafeZ less the correction, then the correction on top: the tool ends at SafeZ.
        SafeZCase{"MachineCoordinates", 0, 5.0, -2.0, 0.0, 0.25, false, false, 5000, 250.0},
        // Mode 1: SafeZ in work coordinates (5 - 2).
        SafeZCase{"WorkCoordinates", 1, 5.0, -2.0, 0.0, 0.25, false, false, 3000, 250.0},
        // Mode 2: SafeZ above where Z stands (1 + 5).
        SafeZCase{"AboveTheCurrentZ", 2, 5.0, 0.0, 1.0, 0.25, false, false, 6000, 250.0},
        // Soft limits: 3 + 5 = 8 is limited to the soft maximum 4, no clamp of the correction.
        SafeZCase{"SoftMaximum", 1, 5.0, 3.0, 0.0, 0.0, true, false, 4000, 0.0},
        // With the clamp: 4 + 0.25 would pass Zmax - 1 (3999): L = -0.001.
        SafeZCase{"ClampBelowZmax", 0, 5.0, 0.0, 0.0, 0.25, true, true, 3999, -1.0},
        // Already at Zmax: no correction upwards, and no move at all.
        SafeZCase{"AtZmaxNoMove", 0, 5.0, 0.0, 4.0, 0.25, true, true, 4000, 0.0},
        // Below: -20 + 0.5 is limited to the soft minimum -10; -10 - 0.5 would pass Zmin + 1
        // (-9999): L = 0.001.
        SafeZCase{"ClampAboveZmin", 0, -20.0, 0.0, 0.0, -0.5, true, true, -9999, 1.0}),
    [](const ::testing::TestParamInfo<SafeZCase>& info) { return info.param.name; });

TEST_F(ZCorrectionTest, CorrectedStartClampsTheMoveToOneStepAboveZmin) {
  // The mirror of the Zmax case: correction -0.5, Zmin -10000 steps, Z at -9800 steps.
  host.planner().axes[2].soft_min = -10.0;
  host.machine().soft_limits_on = 1;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  host.Run(300);
  PushXYMove(0, 0, 0, 0, -9.8, 20);
  host.planner().flush = 1;
  host.Run(2000);
  ASSERT_EQ(host.controller().position(2), -9800);
  LoadMap([](double, double) { return -0.5; });
  settings().z_start_mode = 1;
  settings().z_limit_corr = 1;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive(10000));
  EXPECT_NEAR(zcorr().state().applied_steps, -199.0, 1e-9);
  EXPECT_EQ(host.controller().position(2), -9999);
  EXPECT_EQ(host.machine().thc_z_offset, -199);
}

// A probe hit while correction is applied: the host gets the Z of the surface as the program
// sees it, the measured Z less the correction at the hit's X and Y.
TEST_F(ZCorrectionTest, AProbeHitReportsZWithoutTheCorrection) {
  LoadMap([](double x, double) { return 0.01 * x; });  // 0.2 at X 20
  settings().z_start_mode = 0;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive());
  PushXYMove(0, 0, 20, 0, 0.0, 800);
  host.planner().flush = 1;
  host.Run(2000);
  ASSERT_EQ(host.controller().position(0), 20000);
  ASSERT_NEAR(host.controller().position(2), 200, 1);
  host.controller().SetProbePredicate(
      [](const std::array<int64_t, sim::kSimAxes>& p) { return p[2] <= -1500; });
  host.planner().feed_rate = 5.0;
  host.planner().feed_override_percent = 100.0;
  for (int k = 0; k < kAxisCount; ++k) {
    host.planner().current_position[k] = host.machine().motors[k].step_position / kSteps;
  }
  host.planner().current_position[2] -= zcorr().state().applied_steps / kSteps;
  host.planner().probe_target[0] = 20.0;
  host.planner().probe_target[2] = -5.0;
  host.plugin().Probe();
  ASSERT_TRUE(host.RunUntil([&] { return host.machine().motors[2].probe_pending == 0; }, 10000));
  const double hit_x = host.controller().position(0) / kSteps;
  const double hit_z = host.controller().position(2) / kSteps;
  ASSERT_LE(hit_z, -1.5);
  EXPECT_DOUBLE_EQ(host.planner().probe_result[2], hit_z - 0.01 * hit_x);
}

// ---- Hooks ----

TEST_F(ZCorrectionTest, AfterAnXJogTheNextZJogMovesToTheCorrectedHeight) {
  LoadMap([](double x, double) { return 0.01 * x; });  // 0.1 units at X 10
  settings().z_start_mode = 0;
  settings().z_jog_corr = 1;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive());
  host.plugin().JogOn(0, 0, 10.0);
  host.Run(1000);
  host.plugin().JogOff(0);
  host.Run(300);
  ASSERT_GT(host.controller().position(0), 5000);
  EXPECT_TRUE(zcorr().state().xy_jogged);
  const size_t jogs = Count("JogStart");
  host.plugin().JogOn(2, 0, 1.0);
  EXPECT_EQ(Count("JogStart"), jogs);  // not a jog
  EXPECT_TRUE(zcorr().move().active);
  host.Run(2000);
  const double x = host.controller().position(0) / kSteps;
  EXPECT_NEAR(host.controller().position(2), zcorr().map().ZCorrectionAt(x, 0.0) * kSteps, 1.0);
  host.plugin().JogOn(2, 0, 1.0);
  EXPECT_EQ(Count("JogStart"), jogs + 1);  // the second request jogs
  host.plugin().JogOff(2);
}

TEST_F(ZCorrectionTest, WithoutJogCorrectionAResyncTakesTheMapValueWithoutMovingZ) {
  LoadMap([](double x, double) { return 0.01 * x; });
  settings().z_start_mode = 0;
  settings().z_jog_corr = 0;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive());
  const int64_t z_before = host.controller().position(2);
  host.plugin().JogOn(0, 0, 10.0);
  host.Run(1000);
  host.plugin().JogOff(0);
  host.Run(500);  // the controller asks for the resync after the jog
  const double x = host.machine().motors[0].step_position / kSteps;
  EXPECT_NEAR(zcorr().state().applied_steps, zcorr().map().ZCorrectionAt(x, 0.0) * kSteps, 1e-9);
  EXPECT_EQ(host.machine().thc_z_offset, TruncToInt32(zcorr().state().applied_steps));
  EXPECT_EQ(host.controller().position(2), z_before);
}

TEST_F(ZCorrectionTest, ThcModeTurnsCorrectionOffWithItsWarning) {
  LoadMap([](double, double) { return 0.1; });
  settings().z_start_mode = 0;
  zcorr().set_enabled(true);
  ASSERT_TRUE(RunUntilActive());
  host.machine().thc_mode = 1;
  host.platform().message_boxes.clear();
  host.plugin().Update();
  EXPECT_FALSE(zcorr().active());
  EXPECT_TRUE(zcorr().enabled());
  EXPECT_EQ(host.platform().message_boxes,
            std::vector<std::string>{
                "WARNING: Z correction is not supported in THC mode and will be turned off."});
  host.Run(500);
  EXPECT_FALSE(zcorr().active());  // stays off until the next Reset
}

// ---- Work-offset commands ----

TEST_F(ZCorrectionTest, ZeroZRecordsTheRawZeroAndAutoSetRestoresTheOffset) {
  // Map reading 1.2 raw everywhere, normalised to its lowest point (1.0 at X 0): at X 20 the
  // map reads 0.2, with NormOffset 1.0.
  LoadMap([](double x, double) { return 1.0 + 0.01 * x; }, kZNormalLowest);
  ASSERT_EQ(zcorr().map().norm_offset(), 1.0);
  host.machine().motors[0].step_position = 20000;
  host.machine().motors[1].step_position = 0;
  host.machine().motors[2].step_position = 5000;
  zcorr().ZeroZ();
  EXPECT_DOUBLE_EQ(host.dros[kDroWorkOffsetZ], 4.8);
  EXPECT_DOUBLE_EQ(settings().mz_offset, 3.8);
  host.dros[kDroWorkOffsetZ] = 0.0;
  zcorr().AutoSetZOffset();
  EXPECT_DOUBLE_EQ(host.dros[kDroWorkOffsetZ], 4.8);
  zcorr().CorrectZOffset({20.0, 0.0, 7.0});
  EXPECT_DOUBLE_EQ(host.dros[kDroWorkOffsetZ], 6.8);
}

TEST_F(ZCorrectionTest, CommandsWithoutAMapDoNothingButSayWhy) {
  settings().z_file_name = dir.File("missing.txt");
  host.dros[kDroWorkOffsetZ] = 1.5;
  host.platform().message_boxes.clear();
  zcorr().ZeroZ();
  zcorr().AutoSetZOffset();
  EXPECT_EQ(host.dros[kDroWorkOffsetZ], 1.5);
  EXPECT_EQ(host.platform().message_boxes,
            (std::vector<std::string>{"Error loading Z correction file!",
                                      "Error loading Z correction file!"}));
}

}  // namespace
}  // namespace kelvro
