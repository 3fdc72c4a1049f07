// Internal straight moves refuse host limits they cannot honour.
#include "motion/straight_move.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace kelvro {
namespace {

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
