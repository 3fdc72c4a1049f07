// Internal straight moves: the plan against values worked out independently, the sampling
// rule, and the host limits a move cannot honour.
#include "motion/straight_move.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace kelvro {
namespace {

std::unique_ptr<HostPlanner> Planner(double velocity, double acceleration) {
  auto planner = std::make_unique<HostPlanner>();
  for (int k = 0; k < kAxisCount; ++k) {
    planner->axes[k].steps_per_unit = 1000.0;
    planner->axes[k].max_velocity = velocity;
    planner->axes[k].acceleration = acceleration;
  }
  return planner;
}

std::vector<Axes> AllSamples(StraightMove& move) {
  std::vector<Axes> samples;
  Axes steps{};
  while (NextStraightSample(move, steps)) samples.push_back(steps);
  return samples;
}

// 30 x 40 units at 100 units/s: V = (60, 80). Y allows 20 units/s, so K = 20 / 80 = 0.25 and
// V = (15, 20), |V| = 25. Y allows 200 units/s^2: Q = 200 / 20 = 10, A = (150, 200),
// |A| = 250. t_a = 0.1 s reaches |V| after 1.25 units; t_c = (50 - 2.5) / 25 = 1.9 s;
// T = 2.1 s, d_a = 1.25, D = 50.
TEST(StraightMovePlan, TheLimitingAxisScalesTheWholeMove) {
  auto planner = Planner(50.0, 500.0);
  planner->axes[1].max_velocity = 20.0;
  planner->axes[1].acceleration = 200.0;
  StraightMove move;
  ASSERT_TRUE(PlanStraightMove(move, *planner, Axes{}, Axes{30, 40, 0, 0, 0, 0}, 100.0));
  EXPECT_DOUBLE_EQ(move.velocity[0], 15.0);
  EXPECT_DOUBLE_EQ(move.velocity[1], 20.0);
  EXPECT_DOUBLE_EQ(move.acceleration[0], 150.0);
  EXPECT_DOUBLE_EQ(move.acceleration[1], 200.0);
  EXPECT_DOUBLE_EQ(move.speed, 25.0);
  EXPECT_DOUBLE_EQ(move.accel, 250.0);
  EXPECT_DOUBLE_EQ(move.accel_time, 0.1);
  EXPECT_DOUBLE_EQ(move.cruise_time, 1.9);
  EXPECT_DOUBLE_EQ(move.total_time, 2.1);
  EXPECT_DOUBLE_EQ(move.accel_distance, 1.25);
  EXPECT_DOUBLE_EQ(move.distance, 50.0);
  const std::vector<Axes> samples = AllSamples(move);
  ASSERT_EQ(samples.size(), 2101u);  // 0 ms .. 2100 ms
  // During acceleration s = 125 t^2: at 50 ms, 0.3125 units along the move, 0.6 of it on X.
  EXPECT_NEAR(samples[50][0], 0.3125 * 0.6 * 1000.0, 1e-9);
  // Cruising at 1 s: s = 0.9 x 25 + 1.25 = 23.75 units, 0.8 of it on Y.
  EXPECT_NEAR(samples[1000][1], 23.75 * 0.8 * 1000.0, 1e-9);
  EXPECT_NEAR(samples.back()[0], 30000.0, 1e-9);
  EXPECT_NEAR(samples.back()[1], 40000.0, 1e-9);
  EXPECT_FALSE(move.active);
}

// 1 unit at 50 units/s with 500 units/s^2: reaching 50 units/s takes 2.5 units, more than
// half the move, so the profile is a triangle: t_a = sqrt(1 / 500), T = 2 t_a, no cruise.
TEST(StraightMovePlan, AShortMoveHasATriangularProfile) {
  auto planner = Planner(50.0, 500.0);
  StraightMove move;
  ASSERT_TRUE(PlanStraightMove(move, *planner, Axes{}, Axes{1, 0, 0, 0, 0, 0}, 50.0));
  const double ta = std::sqrt(1.0 / 500.0);
  EXPECT_DOUBLE_EQ(move.accel_time, ta);
  EXPECT_EQ(move.cruise_time, 0.0);
  EXPECT_DOUBLE_EQ(move.total_time, 2 * ta);
  const std::vector<Axes> samples = AllSamples(move);
  const size_t last_ms = static_cast<size_t>(std::floor(2 * ta * 1000.0));  // 89
  ASSERT_EQ(samples.size(), last_ms + 1);
  // The last sample is the one at 89 ms, on the way down: D - 250 (T - t)^2.
  const double rest = 2 * ta - 0.089;
  EXPECT_NEAR(samples.back()[0], (1.0 - 250.0 * rest * rest) * 1000.0, 1e-9);
  // Symmetric: as far from the end at T - t as from the start at t.
  EXPECT_NEAR(samples[10][0], 250.0 * 0.01 * 0.01 * 1000.0, 1e-9);
}

// A move whose duration is a whole number of milliseconds ends with the sample at its end:
// over every duration from 201 ms to 3200 ms, the sample count is the duration plus one and
// the last sample is the end point.
TEST(StraightMovePlan, TheLastSampleOfAWholeMillisecondMoveIsItsEnd) {
  auto planner = Planner(10.0, 100.0);
  int wrong = 0;
  for (int k = 1; k <= 3000; ++k) {
    // V = 10, A = 100: t_a = 0.1 s over 0.5 units each way; cruise k ms = 0.01 k units.
    const double length = 1.0 + 0.01 * k;
    StraightMove move;
    ASSERT_TRUE(PlanStraightMove(move, *planner, Axes{}, Axes{length, 0, 0, 0, 0, 0}, 10.0));
    const std::vector<Axes> samples = AllSamples(move);
    if (samples.size() != static_cast<size_t>(200 + k + 1) ||
        std::fabs(samples.back()[0] - length * 1000.0) > 1e-6) {
      ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
}

struct LimitCase {
  double velocity;
  double acceleration;
};

class StraightMoveLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(StraightMoveLimits, UnusableLimitOfAMovingAxisRefusesTheMove) {
  auto planner = std::make_unique<HostPlanner>();
  for (int k = 0; k < kAxisCount; ++k) {
    planner->axes[k].steps_per_unit = 1000.0;
    planner->axes[k].max_velocity = 50.0;
    planner->axes[k].acceleration = 500.0;
  }
  planner->axes[2].max_velocity = GetParam().velocity;
  planner->axes[2].acceleration = GetParam().acceleration;
  StraightMove move;
  EXPECT_FALSE(PlanStraightMove(move, *planner, {0, 0, 0, 0, 0, 0}, {0, 0, -10, 0, 0, 0}, 5.0));
  EXPECT_FALSE(move.active);
  // The same limits on an axis that does not move do not matter.
  EXPECT_TRUE(PlanStraightMove(move, *planner, {0, 0, 0, 0, 0, 0}, {10, 0, 0, 0, 0, 0}, 5.0));
  Axes steps{};
  ASSERT_TRUE(NextStraightSample(move, steps));
  EXPECT_EQ(steps[0], 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, StraightMoveLimits,
    ::testing::Values(LimitCase{-2.0, 500.0}, LimitCase{0.0, 500.0}, LimitCase{50.0, -1.0},
                      LimitCase{std::numeric_limits<double>::quiet_NaN(), 500.0},
                      LimitCase{50.0, std::numeric_limits<double>::infinity()}));

}  // namespace
}  // namespace kelvro
