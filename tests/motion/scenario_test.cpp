// The tick and the streaming against the simulated controller: whole programs, the queue,
// the current line, lost links, controller e-stops and state commands, checked with the
// controller's own state and trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/motion/sim_rig.h"

namespace kelvro::test {
namespace {

using sim::SimMode;
using sim::TraceKind;

constexpr int kSamples = 4000;  // 4 s of motion
constexpr std::array<double, kAxisCount> kStepsPerUnit = {1000.0, 800.0, 2000.0,
                                                          100.0,  400.0, 250.0};
// Planned end positions in steps.
constexpr std::array<double, kAxisCount> kEnd = {12345.0, -6789.0, 2500.0, 777.0, -3210.0, 4321.0};

// A smooth path on all six axes from 0 to kEnd with a wobble of fractional steps, and a new
// program line every 100 samples.
std::vector<RingSample> SixAxisProgram() {
  std::vector<RingSample> out(kSamples);
  const double pi = std::acos(-1.0);
  for (int i = 0; i < kSamples; ++i) {
    const double u = double(i) / (kSamples - 1);
    for (int k = 0; k < kAxisCount; ++k) {
      const double ease = (1.0 - std::cos(pi * u)) / 2.0;
      const double wobble = (3.3 + k) * std::sin(2.0 * pi * u * (k + 1)) * std::sin(pi * u);
      out[i].target[k] = kEnd[k] * ease + wobble;
    }
    out[i].line_id = 1 + i / 100;
  }
  for (int k = 0; k < kAxisCount; ++k) out.back().target[k] = kEnd[k];
  return out;
}

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.DescribeMachine(kStepsPerUnit);
    rig.Connect();
    rig.Run(100);  // first reports: positions taken, state commands sent
  }
  size_t Commands(const char* name) const {
    return rig.controller.trace().Count(TraceKind::kCommand, name);
  }
  SimRig rig;
};

TEST_F(ScenarioTest, SixAxisProgramEndsExactlyOnThePlannedSteps) {
  rig.LoadProgram(SixAxisProgram());
  size_t max_fill = 0;
  uint64_t starved_ms = 0;
  int line_checks = 0;
  int32_t last_line = 0;
  rig.each_ms = [&] {
    const size_t fill = rig.controller.buffer_fill();
    max_fill = std::max(max_fill, fill);
    // Running, and the host still has entries the plugin has not streamed: the queue must
    // never run dry.
    if (rig.controller.segments_executed() > 0 && !rig.ProgramStreamed() && fill == 0) {
      ++starved_ms;
    }
  };
  rig.each_tick = [&] {
    const uint64_t executed = rig.controller.segments_executed();
    const int32_t line = rig.planner->current_line;
    if (executed > 0 && executed < kSamples) {
      // The report the tick used was taken at most one tick ago: the line shown is the
      // one executing now or the one just before (100 samples per line).
      const int32_t executing_line = 1 + int32_t((executed - 1) / 100);
      EXPECT_LE(line, executing_line);
      EXPECT_GE(line, executing_line - 1);
      EXPECT_GE(line, last_line);
      ++line_checks;
    }
    last_line = line;
  };
  ASSERT_TRUE(rig.RunUntil(
      [&] {
        return rig.controller.segments_executed() == kSamples &&
               rig.controller.mode() == SimMode::kIdle;
      },
      8000));
  rig.Run(100);

  for (int k = 0; k < kAxisCount; ++k) {
    EXPECT_EQ(rig.controller.position(k), int64_t(kEnd[k])) << "axis " << k;
    // In the middle of the step, exactly: no millionth lost or doubled.
    EXPECT_EQ(rig.controller.fraction_micro(k), 500000u) << "axis " << k;
    EXPECT_EQ(rig.machine->motors[k].step_position, int32_t(kEnd[k]));
  }
  EXPECT_EQ(rig.controller.segments_received(), uint64_t(kSamples));
  EXPECT_EQ(rig.controller.segments_dropped(), 0u);
  EXPECT_EQ(rig.controller.phase_mismatches(), 0u);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kFault), 0u);
  EXPECT_GE(max_fill, 800u);  // the queue was kept well ahead
  EXPECT_EQ(starved_ms, 0u);
  EXPECT_GT(line_checks, 100);
  EXPECT_EQ(rig.planner->current_line, 1 + (kSamples - 1) / 100);
}

TEST_F(ScenarioTest, ShortProgramIsReleasedByTheFlush) {
  // Fewer segments than the controller waits for before it starts on its own.
  std::vector<RingSample> program(20);
  for (int i = 0; i < 20; ++i) program[i].target = {double(i + 1), 0, 0, 0, 0, 0};
  program.back().line_id = 7;
  rig.LoadProgram(program);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.controller.segments_executed() == 20; }, 500));
  EXPECT_EQ(rig.controller.position(0), 20);
  EXPECT_EQ(Commands("ReleaseHold"), 1u);
}

TEST_F(ScenarioTest, StateCommandsOncePerChange) {
  EXPECT_EQ(Commands("SetOutputs"), 1u);
  EXPECT_EQ(Commands("SetForcedInputs"), 1u);
  EXPECT_EQ(Commands("MpgConfig"), 1u);
  EXPECT_EQ(Commands("ThcConfig"), 0u);
  rig.Run(500);
  EXPECT_EQ(Commands("SetOutputs"), 1u);
  rig.machine->outputs[0] = HostOutputSignal{1, 12, 1, 0, 1, {}};
  rig.Run(500);
  EXPECT_EQ(Commands("SetOutputs"), 2u);
  ASSERT_TRUE(rig.controller.last_outputs().has_value());
  EXPECT_EQ(rig.controller.last_outputs()->bits, 1u << 11);
  rig.machine->thc_mode = 1;
  rig.Run(500);
  EXPECT_EQ(Commands("ThcConfig"), 1u);
  EXPECT_EQ(Commands("SetOutputs"), 3u);  // THC mode flag
  // Reset: all four again.
  rig.Connect();
  rig.Run(100);
  EXPECT_EQ(Commands("SetOutputs"), 4u);
  EXPECT_EQ(Commands("SetForcedInputs"), 2u);
  EXPECT_EQ(Commands("MpgConfig"), 2u);
  EXPECT_EQ(Commands("ThcConfig"), 2u);
}

TEST_F(ScenarioTest, LostReportsCloseTheLinkAfter20Ticks) {
  // The read in flight and the next ones are lost: the tick sees no report any more.
  rig.controller.LoseStatusReads(1000);
  int ticks_before = rig.ticks;
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.link.connected(); }, 2000));
  const int ticks = rig.ticks - ticks_before;
  // The last report came at most one tick before the loss started.
  EXPECT_GE(ticks, 19);
  EXPECT_LE(ticks, 21);
  EXPECT_EQ(rig.machine->estop, 1);
  EXPECT_STREQ(rig.planner->status_text, "ERROR! Connection closed!");
}

TEST_F(ScenarioTest, ControllerEstopStopsTheHostAndNothingIsStreamed) {
  rig.controller.TriggerEstop(4);
  rig.Run(100);
  EXPECT_EQ(rig.machine->estop, 1);
  EXPECT_EQ(rig.machine->stop_code, 7);
  EXPECT_EQ(rig.machine->second_stop_flag, 1);
  std::vector<RingSample> program(200);
  for (int i = 0; i < 200; ++i) program[i].target = {double(i), 0, 0, 0, 0, 0};
  rig.LoadProgram(program);
  rig.Run(500);
  EXPECT_EQ(rig.controller.segments_received(), 0u);
  EXPECT_TRUE(rig.link.connected());  // the controller still reports
}

TEST_F(ScenarioTest, WriteFailureStopsTheHost) {
  rig.controller.FailNextWrite(0x01);
  rig.machine->outputs[0] = HostOutputSignal{1, 12, 1, 0, 1, {}};  // SetOutputs is written
  rig.Run(50);
  EXPECT_FALSE(rig.link.connected());
  EXPECT_EQ(rig.machine->estop, 1);
  EXPECT_STREQ(rig.planner->status_text, "ERROR! Connection closed!");
  ASSERT_FALSE(rig.platform.message_boxes.empty());
  EXPECT_EQ(rig.platform.message_boxes[0], "Error writing to device!");
}

TEST_F(ScenarioTest, SlaveAxisFollowsItsMaster) {
  rig.planner->axes[3].steps_per_unit = 800.0;  // A as Y's slave, same scale
  rig.machine->motors[3].slave = 1;
  rig.planner->axes[3].slave_master = 1;
  rig.Connect();
  rig.Run(100);
  ASSERT_EQ(rig.config.MasterPlusOne(3), 2);
  std::vector<RingSample> program(300);
  for (int i = 0; i < 300; ++i) {
    program[i].target = {0, -0.37 * (i + 1), 0, 5.0 * (i + 1), 0, 0};
  }
  program.back().target[1] = -111.0;
  rig.LoadProgram(program);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.controller.segments_executed() == 300; }, 2000));
  EXPECT_EQ(rig.controller.position(1), -111);
  EXPECT_EQ(rig.controller.position(3), -111);
}

TEST_F(ScenarioTest, ProbeMoveStreamsStopsOnContactAndTheNextProgramStartsFromTheHit) {
  HostInputSignal& probe = rig.machine->inputs[kInputProbe];
  probe.enabled = 1;
  probe.port = 1;
  probe.pin = 15;
  rig.planner->probe_target[0] = 5.0;  // units: 5000 steps of X
  rig.planner->feed_rate = 10.0;
  rig.planner->feed_override_percent = 100.0;
  rig.controller.SetProbePredicate([](const std::array<int64_t, 6>& p) { return p[0] >= 2000; });
  rig.tick->probing().Probe();
  ASSERT_TRUE(rig.RunUntil(
      [&] { return !rig.tick->probing().ended() && rig.tick->probing().hold_release(); }, 3000));
  EXPECT_EQ(Commands("EndProbe"), 1u);
  EXPECT_EQ(Commands("ProbeStart"), 1u);
  const int64_t hit = rig.controller.position(0);
  EXPECT_GE(hit, 2000);
  EXPECT_LT(hit, 2020);  // 10 units/s = 10 steps per ms at most past the contact
  EXPECT_NEAR(rig.planner->probe_result[0], hit / 1000.0, 1e-9);
  rig.Run(100);  // the re-synchronisation after EndProbe
  EXPECT_EQ(rig.machine->motors[0].step_position, hit);
  EXPECT_EQ(rig.tick->decoder().mirror()[0], hit + 0.5);

  // Back to 0 from wherever the probe stopped.
  std::vector<RingSample> program(500);
  for (int i = 0; i < 500; ++i) program[i].target = {hit * (1.0 - (i + 1) / 500.0), 0, 0, 0, 0, 0};
  rig.LoadProgram(program);
  ASSERT_TRUE(rig.RunUntil(
      [&] {
        return rig.controller.segments_executed() >= 500 &&
               rig.controller.mode() == SimMode::kIdle && rig.ProgramStreamed();
      },
      3000));
  EXPECT_EQ(rig.controller.position(0), 0);
  EXPECT_EQ(rig.controller.phase_mismatches(), 0u);
}

TEST_F(ScenarioTest, ThreadingEndMarkerExecutesWithTheFirstEntryAfterThreading) {
  rig.settings.index_cnt = 1;
  rig.planner->feed_rate = 1.0;
  rig.machine->threading_start_request = 1;
  rig.Run(50);
  ASSERT_TRUE(rig.controller.last_thread_start().has_value());
  EXPECT_EQ(rig.controller.last_thread_start()->rate, 245760);
  EXPECT_EQ(rig.controller.last_thread_start()->mode, 3);
  std::vector<RingSample> threaded(100);
  for (int i = 0; i < 100; ++i) threaded[i].target = {0, 0, -0.5 * (i + 1), 0, 0, 0};
  rig.LoadProgram(threaded);
  rig.Run(200);
  rig.machine->threading_active = 0;  // the host ends threading
  rig.Run(25);
  std::vector<RingSample> after(100);
  for (int i = 0; i < 100; ++i) {
    after[i].target = {0.5 * (i + 1), 0, -50, 0, 0, 0};
    after[i].line_id = 3;
  }
  const int marked = rig.machine->ring_write & (kRingSize - 1);
  rig.LoadProgram(after);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.controller.segments_executed() == 200; }, 2000));
  const auto& events = rig.controller.sync_events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].flag, 0x30);
  EXPECT_EQ(events[0].ring_tag, marked);
}

}  // namespace
}  // namespace kelvro::test
