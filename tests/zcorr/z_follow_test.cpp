// The Z follower against the axis's limits, with the simulated controller's received segments
// as the record: the executed Z (the program's Z plus the correction) never moves faster or
// changes speed faster than the Z axis allows, brakes into the band inside the soft limits,
// holds the corrected depth where the program holds Z still, and comes to rest at every
// resting height instead of sending the same idle move again and again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tests/zcorr/z_correction_fixture.h"

namespace kelvro {
namespace {

using Program = std::vector<std::array<double, kAxisCount>>;

// Appends a move from the program's last point to (x, y, z) in units, sampled per ms the way
// a host plans it: speed along the move rises and falls by at most `accel` steps per ms per
// ms, up to `speed` steps per ms, and the move ends at rest on the point.
void AppendMove(Program& program, double x, double y, double z, double speed, double accel) {
  const std::array<double, kAxisCount> from =
      program.empty() ? std::array<double, kAxisCount>{} : program.back();
  const std::array<double, 3> to{x * kSteps, y * kSteps, z * kSteps};
  const double length = std::hypot(to[0] - from[0], to[1] - from[1], to[2] - from[2]);
  if (length == 0.0) return;
  double s = 0.0, v = 0.0;
  while (s < length) {
    // Braking from v by `accel` each ms covers v (v / accel + 1) / 2: the fastest speed that
    // still stops within what is left.
    const double left = length - s;
    const double brake = accel * (std::sqrt(1.0 + 8.0 * left / accel) - 1.0) / 2.0;
    v = std::min({v + accel, speed, brake});
    if (v <= 1e-9 || left - v < 1e-9) v = left;
    s += v;
    const double f = std::min(s / length, 1.0);
    program.push_back({from[0] + (to[0] - from[0]) * f, from[1] + (to[1] - from[1]) * f,
                       from[2] + (to[2] - from[2]) * f, 0, 0, 0});
  }
}

// Rests where the program is for `ms` milliseconds.
void AppendDwell(Program& program, int ms) {
  for (int i = 0; i < ms; ++i) program.push_back(program.back());
}

class ZFollowTest : public ZCorrectionTest {
 protected:
  // Loads a random map over [0, 100] x [0, 100] with heights within +-`amplitude` units.
  void LoadRandomMap(std::mt19937_64& rng, double amplitude) {
    std::uniform_real_distribution<double> h(-amplitude, amplitude);
    std::vector<double> heights(121);
    for (double& v : heights) v = h(rng);
    LoadMap([heights](double x, double y) {
      return heights[static_cast<size_t>(std::lround(y / 10.0) * 11 + std::lround(x / 10.0))];
    });
  }
  void Activate() {
    settings().z_start_mode = 0;
    zcorr().set_enabled(true);
    ASSERT_TRUE(RunUntilActive());
  }
};

// ---- Coming to rest ----

// The host's program rests; Z follows the correction there and stops. Where the corrected
// height does not come back exactly from the mirror's steps + 0.5 (4095.9 steps, say), an
// exact comparison started a new idle move with its ReleaseHold every tick for ever.
TEST_F(ZFollowTest, AtEveryRestingHeightTheIdleMoveEndsOnTheCorrectedHeight) {
  const double heights[] = {4.0, 1.3, -2.7, 12.345, 0.001, -0.5, 7.77777};
  const double corrections[] = {0.0959, 0.0957, 0.1, -0.0959, 0.33333, 1e-7, -0.2468};
  Program program{{0, 0, 0, 0, 0, 0}};
  LoadMap([](double, double) { return 0.0; });
  Activate();
  for (const double z : heights) {
    for (const double c : corrections) {
      LoadMap([c](double, double) { return c; });
      const size_t releases = Count("ReleaseHold");
      const size_t segments = host.controller().segments_received();
      Program move{program.back()};
      AppendMove(move, 10.0, 10.0, z, 20.0, 0.25);
      ASSERT_TRUE(RunProgram(move)) << z << " " << c;
      host.Run(1000);  // the idle move and its release, then nothing more
      const size_t idle_segments = host.controller().segments_received() - segments - move.size();
      // At most one release each: for Z following the new map where it stood, for the move,
      // for Z following the map where it now stands.
      EXPECT_LE(Count("ReleaseHold") - releases, 3u) << "Z " << z << ", correction " << c;
      EXPECT_LT(idle_segments, 200u) << "Z " << z << ", correction " << c;
      // Where the wire puts it: whole millionths of a step.
      const double executed = (host.controller().position_micro(2) - 500000.0) / 1e6;
      EXPECT_NEAR(executed, (z + c) * kSteps, 2e-6) << "Z " << z << ", correction " << c;
      program.back() = move.back();
    }
  }
}

// ---- The axis's limits ----

struct LimitCase {
  const char* name;
  uint64_t seed;
  bool clamp;   // soft limits on with ZLimitCorr, Z between -10 and 10 units
  double flat;  // a flat map of this height, or a random one when 0
};

class ZFollowLimitTest : public ZFollowTest, public ::testing::WithParamInterface<LimitCase> {};

// Programs that plunge and lift at the axis's full speed and acceleration while X and Y cross
// the map: every executed millisecond stays within the Z axis's speed and acceleration (into
// the first segment from rest and out of the last to rest as well); where the program holds
// Z still, Z stands within a step of the corrected depth once it has settled; and with the
// limit clamp, Z never passes one step inside the soft limits where the program stays inside.
TEST_P(ZFollowLimitTest, ExecutedZStaysWithinTheAxisLimits) {
  const LimitCase& c = GetParam();
  std::mt19937_64 rng(c.seed);
  if (c.clamp) {
    host.planner().axes[2].soft_min = -10.0;
    host.planner().axes[2].soft_max = 10.0;
    host.machine().soft_limits_on = 1;
    settings().z_limit_corr = 1;
    ASSERT_EQ(host.Reset(), 0xFFFF);
    host.Run(300);
  }
  if (c.flat != 0.0) {
    LoadMap([&c](double, double) { return c.flat; });
  } else {
    LoadRandomMap(rng, 0.4);
  }
  Activate();

  Program program{{0, 0, 0, 0, 0, 0}};
  std::uniform_real_distribution<double> coordinate(5.0, 95.0);
  std::uniform_real_distribution<double> depth(-9.9, -1.0);
  for (int part = 0; part < 4; ++part) {
    // Rapid over, plunge at full speed, engrave at depth, lift to the top at full speed.
    const double x = coordinate(rng), y = coordinate(rng), z = depth(rng);
    AppendMove(program, x, y, 0.0, kVMax, kAMax);
    AppendMove(program, x, y, z, kVMax, kAMax);
    AppendDwell(program, 50);
    AppendMove(program, coordinate(rng), coordinate(rng), z, 10.0, 0.1);
    AppendMove(program, coordinate(rng), coordinate(rng), z, 10.0, 0.1);
    AppendDwell(program, 50);
    AppendMove(program, program.back()[0] / kSteps, program.back()[1] / kSteps,
               c.clamp ? 10.0 : 0.0, kVMax, kAMax);
    AppendDwell(program, 300);
  }
  host.controller().trace().Clear();
  host.controller().trace().options().max_entries = 200000;
  ASSERT_TRUE(RunProgram(program));
  host.Run(2000);

  const std::vector<double> speeds = ZSpeeds();
  ASSERT_GE(speeds.size(), program.size());
  double z = (host.controller().position_micro(2) - 500000.0) / 1e6;
  for (const double v : speeds) z -= v;  // back to where the run began
  double previous = 0.0, worst_speed = 0.0, worst_change = 0.0, highest = -1e30, lowest = 1e30;
  double worst_hold = 0.0, last_wanted = 0.0, last_wanted_speed = 0.0;
  size_t hold_checked = 0;
  bool settled = false;
  for (size_t k = 0; k < speeds.size(); ++k) {
    worst_speed = std::max(worst_speed, std::fabs(speeds[k]));
    worst_change = std::max(worst_change, std::fabs(speeds[k] - previous));
    previous = speeds[k];
    z += speeds[k];
    highest = std::max(highest, z);
    lowest = std::min(lowest, z);
    if (k >= program.size()) continue;  // the idle move at the end
    const std::array<double, kAxisCount>& p = program[k];
    const double wanted = zcorr().CorrectedTarget(p[0], p[1], p[2]);
    const double wanted_speed = k > 0 ? wanted - last_wanted : 0.0;
    const double error = std::fabs(z - wanted);
    // Lag is allowed while the program moves Z, and while the corrected target itself moves
    // faster or changes speed faster than the axis can (a rapid across a steep part of the
    // map), until Z has caught up.
    const bool beyond_the_axis = std::fabs(wanted_speed) > kVMax ||
                                 std::fabs(wanted_speed - last_wanted_speed) > kAMax + 1e-9;
    if ((k > 0 && p[2] != program[k - 1][2]) || beyond_the_axis) {
      settled = false;
    } else if (!settled) {
      // Caught up: at the target, and moving with it.
      settled = error <= 1.0 && std::fabs(speeds[k] - wanted_speed) <= kAMax;
    } else {
      worst_hold = std::max(worst_hold, error);
      ++hold_checked;
    }
    last_wanted = wanted;
    last_wanted_speed = wanted_speed;
  }
  worst_change = std::max(worst_change, std::fabs(previous));  // and to rest at the end
  EXPECT_LE(worst_speed, kVMax + 1e-6);
  EXPECT_LE(worst_change, kAMax + 2e-6);
  EXPECT_LE(worst_hold, 1.0);
  EXPECT_GT(hold_checked, program.size() / 2);
  if (c.clamp) {
    EXPECT_LE(highest, 10000.0 + 1e-6) << "beyond the program's own top";
    EXPECT_GE(lowest, -9999.0 - 1e-6);
  }
  EXPECT_EQ(host.controller().segments_dropped(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Maps, ZFollowLimitTest,
                         ::testing::Values(LimitCase{"RandomMap", 3, false, 0.0},
                                           LimitCase{"OtherMap", 11, false, 0.0},
                                           LimitCase{"ClampOnARaisingMap", 5, true, 0.5},
                                           LimitCase{"ClampOnALoweringMap", 7, true, -0.5},
                                           LimitCase{"ClampOnARandomMap", 13, true, 0.0}),
                         [](const ::testing::TestParamInfo<LimitCase>& info) {
                           return info.param.name;
                         });

// The program plunges at the axis's full speed and lifts again at once, on a map that would
// raise Z above Zmax: the correction is held back at the clamp until the program has gone down
// far enough, then taken up behind it. Z brakes for where the target comes to rest (at the
// bottom it reaches the plunge plus the correction and never goes deeper) and into Zmax - 1 on
// the way up (never passing it), always within the axis's acceleration.
TEST_F(ZFollowTest, AtTheBottomAndAtTheClampZBrakesWithinTheAcceleration) {
  host.planner().axes[2].soft_max = 0.0;
  host.machine().soft_limits_on = 1;
  settings().z_limit_corr = 1;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  host.Run(300);
  LoadMap([](double, double) { return 0.5; });
  Activate();
  Program program{{0, 0, 0, 0, 0, 0}};
  AppendMove(program, 0, 0, -10.0, kVMax, kAMax);
  AppendMove(program, 0, 0, -0.2, kVMax, kAMax);
  AppendDwell(program, 300);
  host.controller().trace().Clear();
  ASSERT_TRUE(RunProgram(program));
  host.Run(1000);
  const std::vector<double> speeds = ZSpeeds();
  double z = (host.controller().position_micro(2) - 500000.0) / 1e6;
  for (const double v : speeds) z -= v;
  double lowest = z, highest = z, previous = 0.0, worst_change = 0.0;
  for (const double v : speeds) {
    z += v;
    lowest = std::min(lowest, z);
    highest = std::max(highest, z);
    worst_change = std::max(worst_change, std::fabs(v - previous));
    previous = v;
  }
  EXPECT_GE(lowest, -9500.0 - 1e-6);
  EXPECT_LE(lowest, -9500.0 + 1.0);
  EXPECT_LE(highest, 0.0);
  EXPECT_LE(worst_change, kAMax + 2e-6);
  EXPECT_EQ(host.controller().position(2), -1);  // Zmax - 1: 0.5 of correction would pass it
}

// ---- Braking speed ----

// The braking speed against a brute-force count of braking milliseconds, and finite at once
// for distances and accelerations a host value can make absurd (these looped for ever).
TEST(ZFollowerStopSpeed, MatchesBruteForceAndEndsForAnyValues) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> distance(0.0, 500.0), acceleration(0.01, 3.0);
  for (int i = 0; i < 2000; ++i) {
    const double d = distance(rng), a = acceleration(rng);
    const double v = ZCorrection::StopSpeed(d, a);
    // Braking from v: v, v - a, ... while positive, must fit into d; and from slightly more
    // it must not, unless v already brakes to exactly 0 with room to spare.
    auto covered = [a](double speed) {
      double sum = 0.0;
      for (double s = speed; s > 1e-12; s -= a) sum += s;
      return sum;
    };
    EXPECT_LE(covered(v), d * (1 + 1e-9) + 1e-9) << d << " " << a;
    EXPECT_GT(covered(v + 1e-6), d) << d << " " << a;
  }
  const double absurd[][2] = {{1000.0, 1e-300}, {3e9, 1e-40}, {1e308, 1e-308}, {1e200, 1e-100}};
  for (const auto& c : absurd) {
    const double v = ZCorrection::StopSpeed(c[0], c[1]);
    EXPECT_TRUE(std::isfinite(v) && v >= 0.0) << c[0] << " " << c[1];
    EXPECT_NEAR(v, std::sqrt(2.0) * std::sqrt(c[0]) * std::sqrt(c[1]), 1e-6 * v + 1e-300);
  }
}

}  // namespace
}  // namespace kelvro
