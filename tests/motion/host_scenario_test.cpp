// The whole plugin in the stand-in host: a part program planned by the host's planner into
// its trajectory ring, streamed by the plugin's service tick, executed by the simulated
// controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "plugin/plugin.h"
#include "sim/gcode.h"
#include "sim/machine_profile.h"
#include "sim/motion_planner.h"
#include "sim/standin_host.h"
#include "sim/trajectory_source.h"

namespace kelvro::sim {
namespace {

constexpr std::array<double, kAxisCount> kSteps = {1000.0, 800.0, 2000.0, 100.0, 400.0, 250.0};

Machine SixAxisMachine() {
  Machine m;
  for (int k = 0; k < kAxisCount; ++k) {
    AxisConfig& a = m.axes[k];
    a.enabled = true;
    a.steps_per_unit = kSteps[k];
    a.velocity = 50.0;
    a.acceleration = 500.0;
    a.soft_min = -1000.0;
    a.soft_max = 1000.0;
    a.step.pin = 2 + k;
    a.dir.pin = 8 + k;
  }
  return m;
}

SimControllerOptions StrictController() {
  SimControllerOptions options;
  options.phase_tolerance_micro = 0;
  return options;
}

class HostScenarioTest : public ::testing::Test {
 protected:
  HostScenarioTest() : host(StrictController()) {}
  void SetUp() override {
    host.controller().trace().options().keep_segments = false;
    ApplyMachine(machine, host.machine(), host.planner());
    host.StartUp();
    host.Reset();
    ASSERT_TRUE(host.plugin().link().connected());
    host.Run(200);
  }
  Machine machine = SixAxisMachine();
  HostOf<Plugin> host;
};

TEST_F(HostScenarioTest, ProgramOnSixAxesEndsOnThePlannedSteps) {
  // End point in whole steps on every axis (binary fractions: exact in doubles).
  const std::string program =
      "G1 X10 Y-5 Z2 A30 B-4 C12 F1200\n"
      "G2 X30 Y-5 I10 J0 F1500\n"
      "G1 X12.375 Y-6.75 Z1.25 A7.5 B-8.125 C17 F900\n";
  GcodeProgram gcode;
  std::string error;
  ASSERT_TRUE(gcode.Parse(program, machine, &error)) << error;
  MotionPlanner planner(machine, gcode.TakeBlocks());
  TrajectorySource source(&planner);
  host.before_update = [&] { source.Fill(host.machine(), host.planner(), 1500); };

  int32_t last_line = 0;
  bool line_went_back = false;
  const bool done = host.RunUntil(
      [&] {
        const int32_t line = host.planner().current_line;
        if (line < last_line) line_went_back = true;
        last_line = line;
        return source.ProgramWritten() && TrajectorySource::RingEmpty(host.machine()) &&
               host.controller().segments_executed() == uint64_t(source.SamplesWritten()) &&
               host.controller().mode() == SimMode::kIdle;
      },
      20000);
  ASSERT_TRUE(done) << source.error();
  host.Run(200);
  EXPECT_GT(source.SamplesWritten(), 3000);  // several seconds of motion

  const Position& end = source.FinalTarget();
  for (int k = 0; k < kAxisCount; ++k) {
    const auto expected_steps = static_cast<int64_t>(end[k]);
    EXPECT_EQ(double(expected_steps), end[k]) << "axis " << k;  // a whole step
    EXPECT_EQ(host.controller().position_micro(k), expected_steps * 1000000 + 500000)
        << "axis " << k;
    EXPECT_EQ(host.machine().motors[k].step_position, expected_steps) << "axis " << k;
  }
  EXPECT_EQ(host.controller().segments_received(), uint64_t(source.SamplesWritten()));
  EXPECT_EQ(host.controller().segments_dropped(), 0u);
  EXPECT_EQ(host.controller().phase_mismatches(), 0u);
  EXPECT_EQ(host.controller().trace().Count(TraceKind::kFault), 0u);
  EXPECT_FALSE(line_went_back);
  EXPECT_EQ(host.planner().current_line, 3);
  EXPECT_EQ(host.machine().estop, 0);
}

TEST_F(HostScenarioTest, ControllerThatStopsReportingPutsTheHostIntoEstop) {
  host.controller().LoseStatusReads(100000);
  const int ticks_before = host.timer_ticks;
  ASSERT_TRUE(host.RunUntil([&] { return !host.plugin().link().connected(); }, 5000));
  const int ticks = host.timer_ticks - ticks_before;
  EXPECT_GE(ticks, 19);
  EXPECT_LE(ticks, 21);
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_EQ(host.platform().status_texts.back(), "ERROR! Connection closed!");
}

}  // namespace
}  // namespace kelvro::sim
