// One hole of each drilling cycle: every step worked out by hand.
#include "sim/drill_cycle.h"

#include <gtest/gtest.h>

namespace kelvro::sim {
namespace {

using Kind = CycleStep::Kind;

struct Step {
  Kind kind;
  double x, y, z;  // moves
  double seconds = 0.0;
};

struct CycleCase {
  const char* name;
  DrillCycle cycle;
  Position start;
  std::vector<Step> steps;
};

DrillCycle Cycle(int code, double x, double y, double r, double bottom, bool to_r,
                 double peck = 0.0, double dwell = 0.0, double clearance = 0.5) {
  DrillCycle c;
  c.code = code;
  c.x = x;
  c.y = y;
  c.retract_z = r;
  c.bottom_z = bottom;
  c.retract_to_r = to_r;
  c.peck = peck;
  c.dwell_seconds = dwell;
  c.clearance = clearance;
  return c;
}

class DrillCycles : public ::testing::TestWithParam<CycleCase> {};

TEST_P(DrillCycles, StepByStep) {
  const CycleCase& c = GetParam();
  std::vector<CycleStep> steps;
  std::string error;
  ASSERT_TRUE(ExpandDrillCycle(c.cycle, c.start, &steps, &error)) << error;
  ASSERT_EQ(steps.size(), c.steps.size());
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    ASSERT_EQ(static_cast<int>(steps[i].kind), static_cast<int>(c.steps[i].kind));
    EXPECT_DOUBLE_EQ(steps[i].target[0], c.steps[i].x);
    EXPECT_DOUBLE_EQ(steps[i].target[1], c.steps[i].y);
    EXPECT_DOUBLE_EQ(steps[i].target[2], c.steps[i].z);
    EXPECT_DOUBLE_EQ(steps[i].seconds, c.steps[i].seconds);
    EXPECT_EQ(steps[i].target[3], c.start[3]);  // other axes stay
  }
}

const Position kAbove{0, 0, 10, 7, 0, 0};  // above R, A at 7
const Position kBelow{0, 0, -3, 7, 0, 0};  // below R

INSTANTIATE_TEST_SUITE_P(
    Holes, DrillCycles,
    ::testing::Values(
        CycleCase{"G81FromAboveG98",
                  Cycle(81, 5, 6, 2, -4, false),
                  kAbove,
                  {{Kind::kRapid, 5, 6, 10},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kFeed, 5, 6, -4},
                   {Kind::kRapid, 5, 6, 10}}},
        CycleCase{"G81FromAboveG99",
                  Cycle(81, 5, 6, 2, -4, true),
                  kAbove,
                  {{Kind::kRapid, 5, 6, 10},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kFeed, 5, 6, -4},
                   {Kind::kRapid, 5, 6, 2}}},
        // Below R: up to R first; G98 then returns to R too (the start lies below it).
        CycleCase{"G81FromBelow",
                  Cycle(81, 5, 6, 2, -4, false),
                  kBelow,
                  {{Kind::kRapid, 0, 0, 2},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kFeed, 5, 6, -4},
                   {Kind::kRapid, 5, 6, 2}}},
        CycleCase{"G82",
                  Cycle(82, 5, 6, 2, -4, true, 0, 1.5),
                  kAbove,
                  {{Kind::kRapid, 5, 6, 10},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kFeed, 5, 6, -4},
                   {Kind::kDwell, 5, 6, -4, 1.5},
                   {Kind::kRapid, 5, 6, 2}}},
        // Pecks of 2.5 from R 2 to -4: -0.5, -3, -4; back down to 0.5 above each depth.
        CycleCase{"G83",
                  Cycle(83, 5, 6, 2, -4, false, 2.5),
                  kAbove,
                  {{Kind::kRapid, 5, 6, 10},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kFeed, 5, 6, -0.5},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kRapid, 5, 6, 0},
                   {Kind::kFeed, 5, 6, -3},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kRapid, 5, 6, -2.5},
                   {Kind::kFeed, 5, 6, -4},
                   {Kind::kRapid, 5, 6, 10}}},
        // Pecks shorter than the clearance: the way back down stops at R.
        CycleCase{"G83ShortPecks",
                  Cycle(83, 0, 0, 2, 1.5, true, 0.25),
                  kAbove,
                  {{Kind::kRapid, 0, 0, 2},
                   {Kind::kFeed, 0, 0, 1.75},
                   {Kind::kRapid, 0, 0, 2},
                   {Kind::kFeed, 0, 0, 1.5},
                   {Kind::kRapid, 0, 0, 2}}},
        CycleCase{"G73",
                  Cycle(73, 5, 6, 2, -4, true, 2.5),
                  kAbove,
                  {{Kind::kRapid, 5, 6, 10},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kFeed, 5, 6, -0.5},
                   {Kind::kRapid, 5, 6, 0},
                   {Kind::kFeed, 5, 6, -3},
                   {Kind::kRapid, 5, 6, -2.5},
                   {Kind::kFeed, 5, 6, -4},
                   {Kind::kRapid, 5, 6, 2}}},
        CycleCase{"G85",
                  Cycle(85, 5, 6, 2, -4, false),
                  kAbove,
                  {{Kind::kRapid, 5, 6, 10},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kFeed, 5, 6, -4},
                   {Kind::kFeed, 5, 6, 2},
                   {Kind::kRapid, 5, 6, 10}}},
        CycleCase{"G89",
                  Cycle(89, 5, 6, 2, -4, true, 0, 0.75),
                  kAbove,
                  {{Kind::kRapid, 5, 6, 10},
                   {Kind::kRapid, 5, 6, 2},
                   {Kind::kFeed, 5, 6, -4},
                   {Kind::kDwell, 5, 6, -4, 0.75},
                   {Kind::kFeed, 5, 6, 2}}}),
    [](const ::testing::TestParamInfo<CycleCase>& info) { return std::string(info.param.name); });

TEST(DrillCycle, RefusesEndlessPecking) {
  std::vector<CycleStep> steps;
  std::string error;
  EXPECT_FALSE(ExpandDrillCycle(Cycle(83, 0, 0, 1, -100, true, 0.01), kAbove, &steps, &error));
  EXPECT_EQ(error, "G83: the hole takes more than 10000 pecks of Q");
  // 10000 pecks exactly are allowed.
  steps.clear();
  EXPECT_TRUE(ExpandDrillCycle(Cycle(73, 0, 0, 0, -100, true, 0.01), kAbove, &steps, &error))
      << error;
}

}  // namespace
}  // namespace kelvro::sim
