// Straight moves: trapezoidal speed within every axis's velocity and acceleration, exact end
// points, line IDs, output words, dwells, events and re-planning after a probe or homing.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/sim/traj_test_util.h"

namespace kelvro::sim {
namespace {

using test::AllSamples;
using test::ParseOk;
using test::PlanSamples;
using test::TestMachine;

constexpr double kDt = 0.001;

struct MoveCase {
  const char* name;
  Position from;
  Position to;
  double feed;  // units per minute; 0 = rapid
};

class TrapezoidCases : public ::testing::TestWithParam<MoveCase> {};

std::string MoveProgram(const MoveCase& c) {
  char text[256];
  if (c.feed > 0) {
    std::snprintf(text, sizeof(text), "G1 X%.17g Y%.17g Z%.17g F%.17g\n", c.to[0], c.to[1], c.to[2],
                  c.feed);
  } else {
    std::snprintf(text, sizeof(text), "G0 X%.17g Y%.17g Z%.17g\n", c.to[0], c.to[1], c.to[2]);
  }
  return text;
}

TEST_P(TrapezoidCases, WithinLimitsAndExactEnd) {
  const MoveCase& c = GetParam();
  const Machine m = TestMachine();
  PlannerOptions options;
  options.start = c.from;
  const std::vector<Sample> samples = PlanSamples(MoveProgram(c), m, options);
  ASSERT_FALSE(samples.empty());

  // Positions in steps, with the start in front and the rest after the end.
  std::vector<Position> p;
  Position start_steps;
  for (int k = 0; k < kAxisCount; ++k) start_steps[k] = c.from[k] * m.axes[k].steps_per_unit;
  p.push_back(start_steps);
  for (const Sample& s : samples) {
    Position q;
    for (int k = 0; k < kAxisCount; ++k) q[k] = s.target[k];
    p.push_back(q);
    EXPECT_EQ(s.line_id, 1);
  }
  p.push_back(p.back());

  // The final sample is the end point, bit for bit.
  for (int k = 0; k < kAxisCount; ++k) {
    EXPECT_EQ(samples.back().target[k], c.to[k] * m.axes[k].steps_per_unit) << "axis " << k;
  }

  // Independent limits in steps: velocity × steps per unit per millisecond, acceleration ×
  // steps per unit per millisecond squared.
  double peak_path_speed = 0.0;
  for (size_t i = 1; i < p.size(); ++i) {
    double path = 0.0;
    for (int k = 0; k < 3; ++k) {
      const double spu = m.axes[k].steps_per_unit;
      const double step = std::fabs(p[i][k] - p[i - 1][k]);
      EXPECT_LE(step, m.axes[k].velocity * spu * kDt * (1 + 1e-9) + 1e-9)
          << "sample " << i << " axis " << k;
      path += (step / spu) * (step / spu);
    }
    peak_path_speed = std::max(peak_path_speed, std::sqrt(path) / kDt);
  }
  for (size_t i = 1; i + 1 < p.size(); ++i) {
    for (int k = 0; k < 3; ++k) {
      const double spu = m.axes[k].steps_per_unit;
      const double second = std::fabs(p[i + 1][k] - 2 * p[i][k] + p[i - 1][k]);
      EXPECT_LE(second, m.axes[k].acceleration * spu * kDt * kDt * (1 + 1e-6) + 1e-9)
          << "sample " << i << " axis " << k;
    }
  }

  // Expected cruise speed and duration, from the move's direction and the axis limits.
  double length = 0.0;
  for (int k = 0; k < 3; ++k) length += (c.to[k] - c.from[k]) * (c.to[k] - c.from[k]);
  length = std::sqrt(length);
  double v = c.feed > 0 ? c.feed / 60.0 : 1e300;
  double a = 1e300;
  for (int k = 0; k < 3; ++k) {
    const double share = std::fabs(c.to[k] - c.from[k]) / length;
    if (share == 0) continue;
    v = std::min(v, m.axes[k].velocity / share);
    a = std::min(a, m.axes[k].acceleration / share);
  }
  double duration;
  if (length >= v * v / a) {
    duration = length / v + v / a;
  } else {
    v = std::sqrt(length * a);  // triangle: peak where the ramps meet
    duration = 2 * std::sqrt(length / a);
  }
  EXPECT_NEAR(static_cast<double>(samples.size()), std::ceil(duration / kDt), 1.0);
  EXPECT_LE(peak_path_speed, v * (1 + 1e-9));
  if (duration > 0.05) {
    EXPECT_GE(peak_path_speed, v * 0.97);  // the planner does not dawdle
  }

  // Every sample lies on the straight line from start to end.
  for (const Position& q : p) {
    double f = -1;
    for (int k = 0; k < 3; ++k) {
      const double d = (c.to[k] - c.from[k]) * m.axes[k].steps_per_unit;
      if (std::fabs(d) > 1e-9 && f < 0) f = (q[k] - start_steps[k]) / d;
    }
    for (int k = 0; k < 3; ++k) {
      const double expected = start_steps[k] + f * (c.to[k] - c.from[k]) * m.axes[k].steps_per_unit;
      EXPECT_NEAR(q[k], expected, 1e-6);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrapezoidCases,
    ::testing::Values(
        MoveCase{"FeedOnX", {0, 0, 0}, {100, 0, 0}, 1200},           // cruise at 20 mm/s
        MoveCase{"FeedAboveAxisMax", {0, 0, 0}, {0, 100, 0}, 6000},  // Y max 40 mm/s wins
        MoveCase{"RapidDiagonal", {0, 0, 0}, {100, 10, 0}, 0},       // X limits the rapid
        MoveCase{"RapidZLimits", {5, 5, 0}, {15, 15, -30}, 0},       // Z limits
        MoveCase{"ShortTriangle", {0, 0, 0}, {0.5, 0, 0}, 3000},     // never reaches cruise
        MoveCase{"Tiny", {1, 1, 1}, {1.0004, 1, 1}, 600},
        MoveCase{"Backwards", {50, 40, -2}, {-20.25, 3.5, -7}, 2500},
        MoveCase{"OddFraction", {0, 0, 0}, {33.3333, 0, 0}, 1234.5}),
    [](const ::testing::TestParamInfo<MoveCase>& info) { return std::string(info.param.name); });

TEST(Trapezoid, RapidReachesTheLimitingAxisMaximum) {
  const Machine m = TestMachine();
  const std::vector<Sample> samples = PlanSamples("G0 X200\n", m);
  double peak = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    peak = std::max(peak, std::fabs(samples[i].target[0] - samples[i - 1].target[0]));
  }
  EXPECT_NEAR(peak / kDt / 1000.0, 50.0, 1e-6);  // X at 50 mm/s
}

TEST(Trapezoid, ZeroLengthMoveMakesNoSample) {
  const Machine m = TestMachine();
  EXPECT_TRUE(PlanSamples("G0 X0\nG1 X0 F100\n", m).empty());
}

TEST(Trapezoid, ConsecutiveMovesCarryTheirLines) {
  const Machine m = TestMachine();
  const std::vector<Sample> samples = PlanSamples("G1 X1 F600\n\nG1 Y1\n", m);
  ASSERT_FALSE(samples.empty());
  EXPECT_EQ(samples.front().line_id, 1);
  EXPECT_EQ(samples.back().line_id, 3);
  // The first move's last sample is exactly its end; the second starts from there.
  size_t i = 0;
  while (samples[i].line_id == 1) ++i;
  EXPECT_EQ(samples[i - 1].target[0], 1000.0);
  EXPECT_EQ(samples[i - 1].target[1], 0.0);
  EXPECT_EQ(samples[i].target[0], 1000.0);
  EXPECT_GT(samples[i].target[1], 0.0);
}

TEST(Trapezoid, TenMinuteMoveIsGeneratedLazily) {
  const Machine m = TestMachine();
  // 100 mm at 10 mm/min: 600 s of motion, 600,000 samples, none of them stored.
  MotionPlanner planner(m, ParseOk("G1 X100 F10\n", m));
  Sample s;
  int64_t count = 0;
  double last = 0;
  while (planner.Next(&s) == MotionPlanner::Item::kSample) {
    ++count;
    last = s.target[0];
  }
  // 600 s at 1/6 mm/s plus 1/3 ms for the ramps.
  EXPECT_NEAR(static_cast<double>(count), 600001.0, 1.0);
  EXPECT_EQ(planner.samples(), count);
  EXPECT_EQ(last, 100000.0);
}

TEST(SyncOutputs, FirstSampleAfterTheOutputCarriesTheWord) {
  const Machine m = TestMachine();
  const std::vector<Sample> samples = PlanSamples("M10 P1\nG1 X1 F600\n", m);
  ASSERT_GT(samples.size(), 2u);
  EXPECT_EQ(samples[0].sync_output, 0x082F);
  EXPECT_EQ(samples[0].line_id, 2);
  EXPECT_GT(samples[0].target[0], 0.0);  // a motion sample, not an extra one
  for (size_t i = 1; i < samples.size(); ++i) EXPECT_EQ(samples[i].sync_output, 0);
}

TEST(SyncOutputs, OutputWithoutFollowingMotionGetsASampleInPlace) {
  const Machine m = TestMachine();
  const std::vector<Sample> plain = PlanSamples("G1 X1 F600\n", m);
  const std::vector<Sample> samples = PlanSamples("G1 X1 F600\nM11 P3\n", m);
  ASSERT_EQ(samples.size(), plain.size() + 1);
  EXPECT_EQ(samples.back().sync_output, 0x0A30);
  EXPECT_EQ(samples.back().line_id, 2);
  EXPECT_EQ(samples.back().target[0], 1000.0);
}

TEST(SyncOutputs, TwoOutputsInARow) {
  const Machine m = TestMachine();
  const std::vector<Sample> samples = PlanSamples("M10 P1\nM10 P2\nG1 X1 F600\n", m);
  ASSERT_GT(samples.size(), 2u);
  EXPECT_EQ(samples[0].sync_output, 0x082F);
  EXPECT_EQ(samples[0].line_id, 1);
  EXPECT_EQ(samples[0].target[0], 0.0);
  EXPECT_EQ(samples[1].sync_output, 0x092F);
  EXPECT_EQ(samples[1].line_id, 3);
}

TEST(SyncOutputs, OutputBeforeAnEventIsSentFirst) {
  const Machine m = TestMachine();
  MotionPlanner planner(m, ParseOk("M10 P4\nM5\n", m));
  Sample s;
  ASSERT_EQ(planner.Next(&s), MotionPlanner::Item::kSample);
  EXPECT_EQ(s.sync_output, 0x0B2F);
  EXPECT_EQ(planner.Next(&s), MotionPlanner::Item::kEvent);
}

TEST(Dwell, AsSamplesStaysInPlace) {
  const Machine m = TestMachine();
  PlannerOptions options;
  options.dwell_as_samples = true;
  const std::vector<Sample> move = PlanSamples("G1 X2 F600\n", m, options);
  const std::vector<Sample> samples = PlanSamples("G1 X2 F600\nG4 P0.25\n", m, options);
  ASSERT_EQ(samples.size(), move.size() + 250);
  for (size_t i = move.size(); i < samples.size(); ++i) {
    EXPECT_EQ(samples[i].target[0], 2000.0);
    EXPECT_EQ(samples[i].line_id, 2);
  }
}

TEST(Dwell, AsEventByDefault) {
  const Machine m = TestMachine();
  MotionPlanner planner(m, ParseOk("G4 P2\nG1 X1 F600\n", m));
  Sample s;
  EXPECT_EQ(planner.Next(&s), MotionPlanner::Item::kEvent);
  ASSERT_NE(planner.PendingEvent(), nullptr);
  EXPECT_EQ(planner.PendingEvent()->kind, BlockKind::kDwell);
  EXPECT_EQ(planner.PendingEvent()->seconds, 2.0);
  EXPECT_EQ(planner.samples(), 0);
}

TEST(Events, WaitAtTheHeadUntilConsumed) {
  const Machine m = TestMachine();
  MotionPlanner planner(m, ParseOk("G1 X1 F600\nM3 S100\nG28.1 Z0\nG1 X2\n", m));
  Sample s;
  int first_move = 0;
  while (planner.Next(&s) == MotionPlanner::Item::kSample) ++first_move;
  EXPECT_GT(first_move, 0);
  EXPECT_EQ(planner.Next(&s), MotionPlanner::Item::kEvent);  // asking again changes nothing
  ASSERT_NE(planner.PendingEvent(), nullptr);
  EXPECT_EQ(planner.PendingEvent()->kind, BlockKind::kSpindle);
  EXPECT_EQ(planner.PendingEvent()->line, 2);
  planner.ConsumeEvent();
  EXPECT_EQ(planner.Next(&s), MotionPlanner::Item::kEvent);
  EXPECT_EQ(planner.PendingEvent()->kind, BlockKind::kHome);
  planner.ConsumeEvent();
  EXPECT_EQ(planner.Next(&s), MotionPlanner::Item::kSample);
  EXPECT_EQ(s.line_id, 4);
  EXPECT_EQ(planner.PendingEvent(), nullptr);
}

TEST(Rebase, MovesAfterAProbeStartWhereTheProbeStopped) {
  const Machine m = TestMachine();
  MotionPlanner planner(m, ParseOk("G31 Z-10 F100\nG91 G0 Z5\nG90 G0 X3\n", m));
  Sample s;
  ASSERT_EQ(planner.Next(&s), MotionPlanner::Item::kEvent);
  EXPECT_EQ(planner.PendingEvent()->kind, BlockKind::kProbe);
  planner.SetPosition(Position{0.25, 0, -6.5, 0, 0, 0});  // the probe touched at Z -6.5
  planner.ConsumeEvent();
  std::vector<Sample> rest = AllSamples(planner);
  ASSERT_FALSE(rest.empty());
  EXPECT_TRUE(planner.error().empty()) << planner.error();
  // Z 5 above the touch, X from 0.25 to 3.
  EXPECT_EQ(rest.back().target[2], (-6.5 + 5.0) * 2000.0);
  EXPECT_EQ(rest.back().target[0], 3000.0);
  // The first sample is near the touch point, not near the planned probe target.
  EXPECT_NEAR(rest.front().target[2] / 2000.0, -6.5, 0.01);
  EXPECT_NEAR(rest.front().target[0] / 1000.0, 0.25, 1e-9);
}

TEST(Rebase, WithoutNewsTheProbeTargetIsAssumed) {
  const Machine m = TestMachine();
  const std::vector<Sample> samples = PlanSamples("G31 Z-10 F100\nG91 G0 Z5\n", m);
  ASSERT_FALSE(samples.empty());
  EXPECT_EQ(samples.back().target[2], -5.0 * 2000.0);
}

TEST(Rebase, HomingPutsTheHomedAxesAtHome) {
  Machine m = TestMachine();
  m.axes[0].home_position = -3.0;
  const Position start{7, 2, 0, 0, 0, 0};
  MotionPlanner planner(m, ParseOk("G28.1 X0\nG91 G0 X1\n", m, start),
                        PlannerOptions{false, start});
  std::vector<Block> events;
  const std::vector<Sample> samples = AllSamples(planner, &events);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, BlockKind::kHome);
  ASSERT_FALSE(samples.empty());
  EXPECT_EQ(samples.back().target[0], -2.0 * 1000.0);
  EXPECT_EQ(samples.back().target[1], 2.0 * 800.0);
}

TEST(Rebase, PositionBeyondLimitsStopsThePlanWithTheLine) {
  Machine m = TestMachine();
  m.axes[2].soft_min = -20.0;
  MotionPlanner planner(m, ParseOk("G31 Z-10 F100\nG91 G0 Z-5\n", m));
  Sample s;
  ASSERT_EQ(planner.Next(&s), MotionPlanner::Item::kEvent);
  planner.SetPosition(Position{0, 0, -18, 0, 0, 0});
  planner.ConsumeEvent();
  EXPECT_EQ(planner.Next(&s), MotionPlanner::Item::kEnd);
  EXPECT_EQ(planner.error(),
            "line 2: move beyond the soft limits: Z would reach -23 (limits -20 to 1000)");
}

}  // namespace
}  // namespace kelvro::sim
