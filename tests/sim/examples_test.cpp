// The shipped machine profile and example programs load, parse and plan to the end.
#include <gtest/gtest.h>

#include "sim/trajectory_source.h"
#include "tests/sim/traj_test_util.h"

namespace kelvro::sim {
namespace {

const std::string kExamples = std::string(KELVRO_SOURCE_DIR) + "/examples/";

Machine ExampleMachine() {
  Machine m;
  std::string error;
  EXPECT_TRUE(LoadMachine(kExamples + "machine.xml", &m, &error)) << error;
  return m;
}

TEST(Examples, MachineProfile) {
  const Machine m = ExampleMachine();
  for (int k = 0; k < 3; ++k) {
    EXPECT_TRUE(m.axes[k].enabled);
    EXPECT_EQ(m.axes[k].steps_per_unit, 1000.0);
  }
  for (int k = 3; k < kMotorCount; ++k) EXPECT_FALSE(m.axes[k].enabled);
  EXPECT_EQ(m.probe.pin, 5);
  EXPECT_TRUE(m.soft_limits_on);
  EXPECT_EQ(m.axes[0].soft_max, 300.0);
  EXPECT_EQ(m.axes[2].soft_min, -80.0);
  EXPECT_EQ(m.units, Units::kMillimetre);
  // The work zero where a program expects it: the middle of the table, Z 0 low enough for
  // safe heights of 5 to 50 mm above it and 20 mm of depth below it.
  EXPECT_EQ(m.work_offsets[0], (Position{150, 100, -60, 0, 0, 0}));
  EXPECT_LE(m.work_offsets[0][2] + 50.0, m.axes[2].soft_max);
  EXPECT_GE(m.work_offsets[0][2] - 20.0, m.axes[2].soft_min);
  EXPECT_EQ(m.flood_output, 5);
  EXPECT_EQ(m.mist_output, 6);
  EXPECT_TRUE(m.notes.empty());
}

struct ExampleCase {
  const char* file;
  std::vector<BlockKind> must_contain;
};

class ExamplePrograms : public ::testing::TestWithParam<ExampleCase> {};

TEST_P(ExamplePrograms, ParseAndPlanToTheEnd) {
  const Machine m = ExampleMachine();
  GcodeProgram program;
  std::string error;
  ASSERT_TRUE(program.Load(kExamples + GetParam().file, m, &error)) << error;
  for (BlockKind kind : GetParam().must_contain) {
    bool found = false;
    for (const Block& b : program.blocks()) found = found || b.kind == kind;
    EXPECT_TRUE(found) << "block kind " << static_cast<int>(kind);
  }
  MotionPlanner planner(m, program.TakeBlocks());
  std::vector<Block> events;
  const std::vector<Sample> samples = test::AllSamples(planner, &events);
  EXPECT_TRUE(planner.error().empty()) << planner.error();
  EXPECT_GT(samples.size(), 1000u);
  EXPECT_FALSE(events.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExamplePrograms,
    ::testing::Values(
        ExampleCase{"engraving.nc",
                    {BlockKind::kMove, BlockKind::kArc, BlockKind::kSpindle, BlockKind::kDwell}},
        ExampleCase{
            "arcs_dwell.nc",
            {BlockKind::kArc, BlockKind::kDwell, BlockKind::kSyncOutput, BlockKind::kSpindle}},
        ExampleCase{"probing.nc", {BlockKind::kHome, BlockKind::kProbe, BlockKind::kMove}},
        ExampleCase{"tutorial_o1000.nc",
                    {BlockKind::kToolChange, BlockKind::kArc, BlockKind::kPause, BlockKind::kMove}},
        ExampleCase{
            "cam_post.nc",
            {BlockKind::kToolChange, BlockKind::kArc, BlockKind::kCoolant, BlockKind::kSpindle}},
        ExampleCase{"packed.nc", {BlockKind::kToolChange, BlockKind::kArc, BlockKind::kSpindle}},
        ExampleCase{"subprogram.nc", {BlockKind::kToolChange, BlockKind::kPause, BlockKind::kMove}},
        ExampleCase{"long_engraving.nc", {BlockKind::kArc, BlockKind::kDwell}}),
    [](const ::testing::TestParamInfo<ExampleCase>& info) {
      std::string name = info.param.file;
      return name.substr(0, name.find('.'));
    });

}  // namespace
}  // namespace kelvro::sim
