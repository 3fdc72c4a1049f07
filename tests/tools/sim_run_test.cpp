// End-to-end runs of kelvro-sim's run: programs through the stand-in host, the plugin and
// the simulated controller. Expected positions and counts are worked out from the programs
// by hand, not taken from the planner.
#include "tools/sim_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/json_reader.h"
#include "tests/tools/simtool_test_util.h"
#include "tools/run_report.h"

namespace kelvro::sim::test {
namespace {

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// ---- A small program: every number checked against the program text ----

// Ends at X 12.345, Y 6.789, Z 0 in G54 (1000 steps per mm on every axis of the default
// machine, the work zero at machine X 150, Y 100, Z -60).
constexpr char kSmallProgram[] =
    "G21 G90\n"            // line 1: no motion
    "G0 X10 Y5\n"          // line 2
    "G1 Z-1 F300\n"        // line 3
    "G1 X20 F600\n"        // line 4
    "G2 X30 Y5 R5\n"       // line 5: half circle through Y 0
    "G0 Z0\n"              // line 6
    "G0 X12.345 Y6.789\n"  // line 7
    "M30\n";

TEST(SmallProgram, ExecutedEqualsPlannedStepForStep) {
  TempDir dir;
  const RunResult r = RunText(dir, kSmallProgram);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  const std::array<int64_t, kAxisCount> expected{162345, 106789, -60000, 0, 0, 0};
  EXPECT_EQ(r.planned_final_steps, expected);
  EXPECT_EQ(r.executed_final_steps, expected);
  EXPECT_EQ(r.host_final_steps, expected);
  EXPECT_TRUE(r.PositionsMatch());
  EXPECT_EQ(ExitStatus(r), 0);
}

TEST(SmallProgram, SummaryNumbers) {
  TempDir dir;
  const RunResult r = RunText(dir, kSmallProgram);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.lines_planned, 6);  // lines 2 to 7
  EXPECT_EQ(r.lines_executed, 6);
  EXPECT_TRUE(r.lines_missed.empty());
  // One segment per ring entry, all executed, none lost.
  EXPECT_GT(r.samples_written, 1000u);
  EXPECT_EQ(r.segments_streamed, r.samples_written);
  EXPECT_EQ(r.segments_executed, r.samples_written);
  EXPECT_EQ(r.segments_dropped, 0u);
  EXPECT_EQ(r.phase_mismatches, 0u);
  EXPECT_EQ(r.underruns, 0);
  EXPECT_EQ(r.starved_ms, 0u);
  // The planned time is one millisecond per sample; the run takes that plus start-up.
  EXPECT_NEAR(r.planned_seconds, static_cast<double>(r.samples_written) / 1000.0, 1e-9);
  EXPECT_GE(r.sim_seconds, r.planned_seconds);
  EXPECT_LT(r.sim_seconds, r.planned_seconds + 3.0);
  // The program streams for several seconds: the queue reaches its working level.
  EXPECT_GT(r.fill_samples, 0u);
  EXPECT_LE(r.fill_min, r.fill_average);
  EXPECT_LE(r.fill_average, r.fill_max);
  EXPECT_GE(r.fill_min, 700);
  EXPECT_TRUE(Contains(r.status_texts, "USB controller plugin initialized."));
  EXPECT_TRUE(r.message_boxes.empty());
  EXPECT_EQ(r.spindle_actions, 0);
  EXPECT_EQ(r.dwells, 0);
}

TEST(SmallProgram, DwellAndSpindleAreCarriedOutInOrder) {
  TempDir dir;
  const RunResult r = RunText(dir,
                              "G0 X5\n"
                              "M3 S6000\n"
                              "G4 P1.5\n"
                              "G1 X6 F600\n"
                              "M5\n");
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.spindle_actions, 2);
  EXPECT_EQ(r.dwells, 1);
  EXPECT_EQ(r.lines_executed, 5);
  EXPECT_EQ(r.executed_final_steps[0], WorkSteps(0, 6.0));
  // The dwell holds the machine for its 1.5 s on top of the motion.
  EXPECT_NEAR(r.planned_seconds, static_cast<double>(r.samples_written) / 1000.0 + 1.5, 1e-9);
  EXPECT_GE(r.sim_seconds, r.planned_seconds);
}

// ---- The shipped examples ----

class ShippedExample : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedExample, RunsToTheEndWithoutUnderruns) {
  // Every example ends at machine zero (G28 or G53 moves at its end).
  const RunResult r = RunExample(GetParam());
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.PositionsMatch());
  EXPECT_EQ(r.lines_executed, r.lines_planned);
  EXPECT_EQ(r.underruns, 0);
  EXPECT_EQ(r.starved_ms, 0u);
  EXPECT_EQ(r.phase_mismatches, 0u);
  EXPECT_EQ(r.segments_executed + r.segments_dropped, r.segments_streamed);
  // Only the rest of a probe move may be dropped, after its contact.
  EXPECT_EQ(r.segments_dropped, r.segments_dropped_probing);
  EXPECT_TRUE(r.message_boxes.empty());
  EXPECT_EQ(ExitStatus(r), 0);
  for (int k = 0; k < kAxisCount; ++k) EXPECT_EQ(r.executed_final_steps[k], 0) << "axis " << k;
}

TEST_P(ShippedExample, RunsWithJitterWithoutUnderruns) {
  RunOptions options;
  options.faults.jitter = true;
  const RunResult r = RunExample(GetParam(), options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.PositionsMatch());
  EXPECT_EQ(r.underruns, 0);
  // The jitter was there: periods between 15 and 40 ms, some of them stalls.
  EXPECT_GT(r.faults.timer_periods, 100u);
  EXPECT_EQ(r.faults.shortest_period_ms, 15u);
  EXPECT_GE(r.faults.longest_period_ms, 200u);
  EXPECT_GT(r.faults.stalls, 0u);
}

TEST_P(ShippedExample, JitterNeverStarvesAFilledQueue) {
  // A stall of several hundred milliseconds is covered once the queue holds its second of
  // motion; whatever the seed, no underrun happens after that point of a move.
  for (uint64_t seed = 1; seed <= 30; ++seed) {
    RunOptions options;
    options.faults.jitter = true;
    options.faults.seed = seed;
    const RunResult r = RunExample(GetParam(), options);
    for (const UnderrunReport& u : r.underrun_list) {
      EXPECT_FALSE(u.queue_was_full)
          << "seed " << seed << ": underrun at " << u.at_seconds << " s, " << u.ms << " ms";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, ShippedExample,
                         ::testing::Values("engraving.nc", "arcs_dwell.nc", "probing.nc",
                                           "tutorial_o1000.nc", "cam_post.nc", "packed.nc",
                                           "subprogram.nc", "plasma.nc"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });

TEST(LongExample, TenMinutesRunToTheEnd) {
  const RunResult r = RunExample("long_engraving.nc");
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.PositionsMatch());
  EXPECT_EQ(r.underruns, 0);
  EXPECT_EQ(r.lines_executed, r.lines_planned);
  EXPECT_GT(r.planned_seconds, 540.0);
  EXPECT_LT(r.planned_seconds, 660.0);
}

TEST(Jitter, TenMinutesWithStallsNeverStarveAFilledQueue) {
  for (uint64_t seed = 1; seed <= 2; ++seed) {
    RunOptions options;
    options.faults.jitter = true;
    options.faults.seed = seed;
    const RunResult r = RunExample("long_engraving.nc", options);
    ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
    EXPECT_TRUE(r.PositionsMatch());
    EXPECT_GT(r.faults.stalls, 30u);
    for (const UnderrunReport& u : r.underrun_list) {
      EXPECT_FALSE(u.queue_was_full)
          << "seed " << seed << ": underrun at " << u.at_seconds << " s, " << u.ms << " ms";
    }
  }
}

TEST(Jitter, SameSeedSameRunOtherSeedOtherRun) {
  RunOptions a;
  a.faults.jitter = true;
  a.faults.seed = 42;
  const RunResult first = RunExample("engraving.nc", a);
  const RunResult second = RunExample("engraving.nc", a);
  a.faults.seed = 43;
  const RunResult other = RunExample("engraving.nc", a);
  EXPECT_EQ(first.sim_seconds, second.sim_seconds);
  EXPECT_EQ(first.faults.timer_periods, second.faults.timer_periods);
  EXPECT_EQ(first.fill_min, second.fill_min);
  EXPECT_NE(first.faults.timer_periods, other.faults.timer_periods);
}

// ---- Probing against the simulated surface ----

TEST(Probing, HitsTheSurfaceWhereItIs) {
  const RunResult r = RunExample("probing.nc");
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  ASSERT_EQ(r.probes.size(), 3u);
  // The probed points of examples/probing.nc (G54 coordinates) and the default surface
  // Z = -3 + 0.02 X + 0.01 Y in the same coordinates: the probe stops on the first
  // millisecond at or below it (100 mm/min moves 0.0017 mm per millisecond).
  const double points[3][2] = {{-100, -50}, {0, -50}, {-50, 50}};
  const double heights[3] = {-5.5, -3.5, -3.5};
  const int lines[3] = {8, 14, 20};
  for (int i = 0; i < 3; ++i) {
    const ProbeReport& p = r.probes[i];
    EXPECT_TRUE(p.hit) << "probe " << i;
    EXPECT_EQ(p.line, lines[i]);
    EXPECT_DOUBLE_EQ(p.result[0], points[i][0]);
    EXPECT_DOUBLE_EQ(p.result[1], points[i][1]);
    EXPECT_LE(p.result[2], heights[i] + 1e-9);
    EXPECT_GT(p.result[2], heights[i] - 0.002);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(p.offset[k], kWorkZero[k]);
  }
  EXPECT_EQ(r.homings, 2);
  EXPECT_TRUE(Contains(r.status_texts, "Probe to (-100.000000,-50.000000,-15.000000,0.000000)"));
  EXPECT_TRUE(Contains(r.status_texts, "Probe hit (-100.000000,-50.000000,-5.500000,0.000000)"));
}

TEST(Probing, InAnotherWorkOffsetAndWithAToolLength) {
  TempDir dir;
  RunOptions options;
  options.surface_z = -4.0;  // G54 coordinates: machine Z -64
  options.surface_slope_x = 0.0;
  options.surface_slope_y = 0.0;
  options.tool_lengths = {{7, 10.0}};
  // The surface lies at machine Z -60 - 4 = -64. G55's zero is at machine X 100, Y 50,
  // Z -70 and tool 7 is 10 mm long, so machine Z = program Z - 70 + 10: the surface is at
  // program Z -4 there too, and the probe starts at machine X 110, Y 70, Z -55.
  const RunResult r = RunText(dir,
                              "G10 L2 P2 X100 Y50 Z-70\n"
                              "G55 G43 H7 G0 X10 Y20 Z5\n"
                              "G31 Z-10 F120\n",
                              options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  ASSERT_EQ(r.probes.size(), 1u);
  const ProbeReport& p = r.probes[0];
  EXPECT_TRUE(p.hit);
  EXPECT_DOUBLE_EQ(p.result[0], 10.0);
  EXPECT_DOUBLE_EQ(p.result[1], 20.0);
  EXPECT_LE(p.result[2], -4.0 + 1e-9);
  EXPECT_GT(p.result[2], -4.0 - 0.003);
  EXPECT_EQ(p.offset[0], 100.0);
  EXPECT_EQ(p.offset[1], 50.0);
  EXPECT_EQ(p.offset[2], -60.0);
  // The machine stands where the plugin reported the hit, in machine terms.
  EXPECT_EQ(r.executed_final_steps[0], 110000);
  EXPECT_EQ(r.executed_final_steps[1], 70000);
  EXPECT_EQ(r.executed_final_steps[2], std::llround((p.result[2] - 60.0) * 1000.0));
}

TEST(Probing, MovesAfterAProbeStartWhereTheProbeStopped) {
  TempDir dir;
  RunOptions options;
  options.surface_z = -3.0;
  options.surface_slope_x = 0.0;
  options.surface_slope_y = 0.0;
  // Probe down from Z 5 to at most Z -15, then 2 mm up from the contact (incremental).
  const RunResult r = RunText(dir,
                              "G0 X10 Y10 Z5\n"
                              "G31 Z-15 F120\n"
                              "G91 G0 Z2\n",
                              options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  ASSERT_EQ(r.probes.size(), 1u);
  const auto contact = static_cast<int64_t>(std::llround(r.probes[0].result[2] * 1000.0));
  EXPECT_LE(contact, -3000);
  EXPECT_GE(contact, -3002);
  // Machine steps: the contact's work Z less 60 mm, then 2 mm up.
  EXPECT_EQ(r.executed_final_steps[2], contact - 60000 + 2000);
  EXPECT_EQ(r.planned_final_steps[2], contact - 60000 + 2000);
}

TEST(Probing, AMissStopsTheProgram) {
  TempDir dir;
  RunOptions options;
  options.surface_z = -50.0;  // below the probe target
  options.surface_slope_x = 0.0;
  options.surface_slope_y = 0.0;
  const RunResult r = RunText(dir, "G0 X10 Y10\nG31 Z-5 F300\nG0 X20\n", options);
  EXPECT_EQ(r.status, RunStatus::kIncomplete);
  EXPECT_NE(r.error.find("Probe move finished with NO hit!"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find("line 2"), std::string::npos) << r.error;
  EXPECT_EQ(ExitStatus(r), 3);
  // G0 X20 never ran; the probe line did, and missed.
  EXPECT_EQ(r.executed_final_steps[0], WorkSteps(0, 10.0));
  ASSERT_EQ(r.probes.size(), 1u);
  EXPECT_EQ(r.probes[0].line, 2);
  EXPECT_FALSE(r.probes[0].hit);
  EXPECT_EQ(r.lines_executed, 2);
  EXPECT_EQ(r.lines_missed, std::vector<int>{3});
}

// ---- Tool changes, pauses, coolant, returns and offsets on the default machine ----

// The payloads (hex) of the trace entries named `name`, in order.
std::vector<std::string> TracePayloads(const std::string& path, const std::string& name) {
  std::istringstream lines(ReadFile(path));
  std::vector<std::string> payloads;
  std::string line;
  while (std::getline(lines, line)) {
    JsonValue entry;
    std::string error;
    if (!ParseJson(line, &entry, &error) || entry.type != JsonValue::Type::kObject) continue;
    if (entry.Has("name") && entry["name"].text == name) payloads.push_back(entry["payload"].text);
  }
  return payloads;
}

// The little-endian 32-bit word at byte `offset` of a hex payload.
uint32_t HexWord(const std::string& hex, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    value |= static_cast<uint32_t>(std::stoul(hex.substr(2 * (offset + i), 2), nullptr, 16))
             << (8 * i);
  }
  return value;
}

TEST(ToolChange, StopsARunningSpindleAndGoesOn) {
  TempDir dir;
  RunOptions options;
  options.trace_path = dir.File("trace.jsonl");
  const RunResult r = RunText(dir, "M3 S6000\nG0 X1\nT2 M6\nG0 X2\nM3\nG0 X3\nM5\n", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.tool_changes, (std::vector<int>{2}));
  EXPECT_EQ(r.lines_executed, 7);
  EXPECT_EQ(r.executed_final_steps[0], WorkSteps(0, 3.0));
  // The spindle's on byte in each Spindle command: M3, the tool change, M3, M5.
  std::vector<std::string> on;
  for (const std::string& payload : TracePayloads(options.trace_path, "Spindle")) {
    on.push_back(payload.substr(0, 2));
  }
  EXPECT_EQ(on, (std::vector<std::string>{"01", "00", "01", "00"}));
  EXPECT_NE(FormatSummary(r).find("tool change to T2 (program stopped and resumed)"),
            std::string::npos);
}

TEST(ToolChange, LeavesAStoppedSpindleAlone) {
  TempDir dir;
  RunOptions options;
  options.trace_path = dir.File("trace.jsonl");
  const RunResult r = RunText(dir, "T1 M6\nG0 X1\nT7 M6\n", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.tool_changes, (std::vector<int>{1, 7}));
  EXPECT_TRUE(TracePayloads(options.trace_path, "Spindle").empty());
}

TEST(Coolant, SwitchesTheMachinesOutputs) {
  TempDir dir;
  RunOptions options;
  options.trace_path = dir.File("trace.jsonl");
  const RunResult r = RunText(dir, "M8\nG0 X1\nM7\nG0 X2\nM9\nG0 X3\n", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.coolant_actions, 3);
  // examples/machine.xml: flood is output 5 on pin 12, mist output 6 on pin 13; pin n is bit
  // n - 1 of the controller's output word.
  std::vector<uint32_t> bits;
  for (const std::string& payload : TracePayloads(options.trace_path, "SetOutputs")) {
    const uint32_t word = HexWord(payload, 0);
    if (bits.empty() || bits.back() != word) bits.push_back(word);
  }
  const uint32_t flood = 1u << 11, mist = 1u << 12;
  const std::vector<uint32_t> expected{flood, flood | mist, 0};
  ASSERT_GE(bits.size(), expected.size());
  EXPECT_EQ(std::vector<uint32_t>(bits.end() - 3, bits.end()), expected);
}

TEST(Pauses, AreCountedAndResumed) {
  TempDir dir;
  const RunResult r = RunText(dir, "G0 X1\nM0\nG0 X2\nM1\nG0 X3\n");
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.pauses, 2);
  EXPECT_EQ(r.lines_executed, 5);
  EXPECT_EQ(r.executed_final_steps[0], WorkSteps(0, 3.0));
}

TEST(Returns, G30AndG28GoThroughThePointToTheirPositions) {
  TempDir dir;
  // examples/machine.xml: G30 at machine X 280, Y 190, Z 0; G28 at machine zero.
  const RunResult g30 = RunText(dir, "G0 X10 Y10 Z5\nG30 Z10\nG30 X0\n");
  ASSERT_EQ(g30.status, RunStatus::kCompleted) << g30.error;
  EXPECT_EQ(g30.executed_final_steps[0], 280000);
  EXPECT_EQ(g30.executed_final_steps[1], WorkSteps(1, 10.0));
  EXPECT_EQ(g30.executed_final_steps[2], 0);
  const RunResult g28 = RunText(dir, "G0 X10 Y10 Z5\nG28 G91 Z0\nG90 G28 X0 Y0\n");
  ASSERT_EQ(g28.status, RunStatus::kCompleted) << g28.error;
  EXPECT_EQ(g28.executed_final_steps, (std::array<int64_t, kAxisCount>{}));
  EXPECT_EQ(g28.lines_executed, 3);
}

TEST(Offsets, WorkOffsetAndToolOptions) {
  TempDir dir;
  RunOptions options;
  options.g54_offset = Position{10, 20, -30, 0, 0, 0};
  options.tool_lengths = {{4, 2.5}};
  const RunResult r = RunText(dir, "G43 H4 G0 X1 Y1 Z1\nG53 G0 Z0\nG49 G0 X2\n", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.executed_final_steps[0], 12000);
  EXPECT_EQ(r.executed_final_steps[1], 21000);
  EXPECT_EQ(r.executed_final_steps[2], 0);
  EXPECT_EQ(r.work_offsets_used, (std::vector<int>{1}));
  // Line 1 alone: machine Z -30 + 1 + 2.5.
  const RunResult first = RunText(dir, "G43 H4 G0 X1 Y1 Z1\n", options);
  ASSERT_EQ(first.status, RunStatus::kCompleted) << first.error;
  EXPECT_EQ(first.executed_final_steps[2], -26500);
}

TEST(Offsets, ToolNumbersOutOfTheTableAreBadInput) {
  TempDir dir;
  RunOptions options;
  options.tool_lengths = {{256, 1.0}};
  const RunResult r = RunText(dir, "G0 X1\n", options);
  EXPECT_EQ(r.status, RunStatus::kBadInput);
  EXPECT_EQ(r.error, "tool numbers are 1 to 255");
}

// ---- A user's own host profile ----

// As HOST-PROFILE users have it: one line, CRLF at the end, host keys only, a metric mill
// whose X and Y travel lie below machine zero.
constexpr char kUserProfile[] =
    "<profile><Preferences><Units>0</Units><Motor0Active>1</Motor0Active>"
    "<Motor0StepPin>2</Motor0StepPin><Motor0DirPin>3</Motor0DirPin><Motor1Active>1</Motor1Active>"
    "<Motor1StepPin>4</Motor1StepPin><Motor1DirPin>5</Motor1DirPin><Motor2Active>1</Motor2Active>"
    "<Motor2StepPin>6</Motor2StepPin><Motor2DirPin>7</Motor2DirPin><Motor3Active>0</Motor3Active>"
    "<Steps0>320.</Steps0><Vel0>16.67</Vel0><Acc0>120.</Acc0><Steps1>320.</Steps1>"
    "<Vel1>16.67</Vel1><Acc1>120.</Acc1><Steps2>640.</Steps2><Vel2>8.33</Vel2><Acc2>60.</Acc2>"
    "<M0Max>0</M0Max><M0Min>-593</M0Min><M1Max>0</M1Max><M1Min>-400</M1Min><M2Max>0</M2Max>"
    "<M2Min>-160</M2Min><Encoder7Cal></Encoder7Cal></Preferences><Mach3Mill></Mach3Mill>"
    "</profile>\r\n";

TEST(UserProfile, AProgramRunsOnAUsersHostProfile) {
  TempDir dir;
  RunOptions options;
  options.profile_path = dir.Write("Mach3Mill.xml", kUserProfile);
  const RunResult r = RunText(dir,
                              "%\nO0001\nG21 G90 G17\nG0 X-100 Y-50\nG1 Z-5 F300\n"
                              "G1 X-80 F900\nG0 Z0\nM30\n%\n",
                              options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.PositionsMatch());
  EXPECT_EQ(r.units, "mm");
  EXPECT_EQ(r.executed_final_steps[0], -80 * 320);
  EXPECT_EQ(r.executed_final_steps[1], -50 * 320);
  EXPECT_EQ(r.executed_final_steps[2], 0);
  EXPECT_TRUE(r.notes.empty()) << r.notes.front();
  // Its own limits hold: X stops at 0.
  const RunResult beyond = RunText(dir, "G0 X5\n", options);
  EXPECT_EQ(beyond.status, RunStatus::kBadInput);
  EXPECT_NE(beyond.error.find("line 1: move beyond the soft limits: X would reach 5 (limits "
                              "-593 to 0)"),
            std::string::npos)
      << beyond.error;
}

TEST(UserProfile, WhatItLacksIsNotedInTheSummary) {
  TempDir dir;
  RunOptions options;
  std::string profile = kUserProfile;
  const std::string tuning = "<Steps1>320.</Steps1><Vel1>16.67</Vel1><Acc1>120.</Acc1>";
  ASSERT_NE(profile.find(tuning), std::string::npos);
  profile.erase(profile.find(tuning), tuning.size());
  options.profile_path = dir.Write("Mach3Mill.xml", profile);
  const RunResult r = RunText(dir, "G0 X-10 Y-10\n", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  const std::string note =
      "axis Y: defaults taken for what the profile does not give: Steps1 1000, Vel1 10, Acc1 100";
  EXPECT_EQ(r.notes, (std::vector<std::string>{note}));
  EXPECT_EQ(r.executed_final_steps[1], -10 * 1000);
  EXPECT_NE(FormatSummary(r).find("  notes           " + note), std::string::npos);
}

TEST(RotaryAxis, ADegreesWhereTheProfileEnablesIt) {
  TempDir dir;
  std::string profile = ReadFile(kExamples + "machine.xml");
  const std::string disabled = "<Enabled3>0</Enabled3>";
  ASSERT_NE(profile.find(disabled), std::string::npos);
  profile.replace(profile.find(disabled), disabled.size(),
                  "<Enabled3>1</Enabled3><Steps3>100</Steps3><Vel3>90</Vel3><Acc3>900</Acc3>"
                  "<StepPin3>15</StepPin3><DirPin3>16</DirPin3>");
  RunOptions options;
  options.profile_path = dir.Write("rotary.xml", profile);
  // Degrees whatever the units: 90 and then 45 more at 100 steps per degree.
  const RunResult r = RunText(dir, "G20 G0 A90\nG91 G1 A45 F3600\n", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.executed_final_steps[3], 13500);
  EXPECT_TRUE(r.PositionsMatch());
  // Without the axis the same program is refused.
  const RunResult refused = RunText(dir, "G0 A90\n");
  EXPECT_EQ(refused.status, RunStatus::kBadInput);
  EXPECT_NE(refused.error.find("line 1: axis A is not enabled"), std::string::npos);
}

// ---- Homing ----

TEST(Homing, MovesAfterHomingStartFromTheHomePosition) {
  TempDir dir;
  RunOptions options;
  options.profile_path =
      dir.Write("home.xml",
                "<profile><Preferences><HomePos0>5</HomePos0><HomePos1>2.5</HomePos1>"
                "</Preferences></profile>");
  // Home X and Y from X 10, Y 10, then move 1 mm further on each (incremental).
  const RunResult r = RunText(dir, "G0 X10 Y10\nG28.1 X0 Y0\nG91 G0 X1 Y1\n", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.homings, 1);
  EXPECT_EQ(r.executed_final_steps[0], 6000);
  EXPECT_EQ(r.executed_final_steps[1], 3500);
  EXPECT_EQ(r.planned_final_steps[0], 6000);
  EXPECT_EQ(r.planned_final_steps[1], 3500);
  EXPECT_EQ(r.lines_executed, 3);
}

// ---- Faults ----

TEST(Faults, DisconnectEndsInEstopWithTheLinkClosed) {
  RunOptions options;
  options.faults.disconnect_at_seconds = 3.0;
  const RunResult r = RunExample("engraving.nc", options);
  EXPECT_EQ(r.status, RunStatus::kIncomplete);
  EXPECT_EQ(ExitStatus(r), 3);
  ASSERT_TRUE(r.faults.disconnected_at_seconds.has_value());
  EXPECT_DOUBLE_EQ(*r.faults.disconnected_at_seconds, 3.0);
  // Twenty ticks of 25 ms without a report close the link.
  ASSERT_TRUE(r.faults.link_closed_at_seconds.has_value());
  EXPECT_GE(*r.faults.link_closed_at_seconds, 3.0 + 0.45);
  EXPECT_LE(*r.faults.link_closed_at_seconds, 3.0 + 0.55);
  ASSERT_TRUE(r.faults.estop_at_seconds.has_value());
  EXPECT_GE(r.faults.max_missed_polls, 20);
  EXPECT_TRUE(Contains(r.status_texts, "ERROR! Connection closed!"));
  EXPECT_NE(r.error.find("E-stop"), std::string::npos) << r.error;
  EXPECT_LT(r.lines_executed, r.lines_planned);
}

// ---- The status window's lines during a run ----

std::vector<std::string> LogBlocks(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> blocks;
  std::string line;
  std::string block;
  while (std::getline(in, line)) {
    if (line.empty()) {
      blocks.push_back(block);
      block.clear();
    } else {
      block += line + "\n";
    }
  }
  return blocks;
}

TEST(StatusLog, EveryTenthReportAsTheWindowShowsIt) {
  TempDir dir;
  RunOptions options;
  options.status_log_path = dir.File("status.log");
  options.status_log_every = 10;
  const RunResult r = RunText(dir, kSmallProgram, options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  const std::vector<std::string> blocks = LogBlocks(options.status_log_path);
  // Reports 1, 11, 21, ...: one block in ten, in order.
  ASSERT_FALSE(blocks.empty());
  for (size_t i = 0; i < blocks.size(); ++i) {
    const std::string head = "report " + std::to_string(10 * i + 1) + " at ";
    ASSERT_EQ(blocks[i].rfind(head, 0), 0u) << blocks[i];
  }
  // One report every 25 to 50 ms of the run (a status read spans one or two ticks).
  const double reports = 10.0 * static_cast<double>(blocks.size());
  EXPECT_GT(reports, r.sim_seconds * 20.0 - 10.0);
  EXPECT_LT(reports, r.sim_seconds * 40.0 + 10.0);
  bool streaming = false;
  for (const std::string& block : blocks) {
    streaming = streaming || (block.find("  Online, mode= SEGM\n") != std::string::npos &&
                              block.find("  Buffer: ") != std::string::npos);
  }
  EXPECT_TRUE(streaming);
}

TEST(StatusLog, TheLastReportShowsWhereTheProgramEnded) {
  TempDir dir;
  RunOptions options;
  options.status_log_path = dir.File("status.log");
  const RunResult r = RunText(dir, kSmallProgram, options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  const std::vector<std::string> blocks = LogBlocks(options.status_log_path);
  ASSERT_FALSE(blocks.empty());
  // The counters stand at the program's end point (see SmallProgram), the queue is empty.
  const std::string& last = blocks.back();
  EXPECT_NE(last.find("X: 162345 Y: 106789 Z: -60000 A: 0 B: 0 C: 0"), std::string::npos) << last;
  EXPECT_NE(last.find("  Online, mode= IDLE\n  Sequence: NONE\n  Buffer: 0 % (0 ms)\n"),
            std::string::npos)
      << last;
  EXPECT_NE(last.find("  In:  ..............  \n"), std::string::npos) << last;
}

TEST(StatusLog, AnUnpluggedControllerShowsOffline) {
  TempDir dir;
  RunOptions options;
  options.status_log_path = dir.File("status.log");
  options.faults.disconnect_at_seconds = 1.0;
  RunText(dir, kSmallProgram, options);
  const std::vector<std::string> blocks = LogBlocks(options.status_log_path);
  ASSERT_FALSE(blocks.empty());
  const std::string& last = blocks.back();
  EXPECT_NE(last.find("  OFFLINE, press RESET\n  \n  \n"), std::string::npos) << last;
}

TEST(Faults, CorruptedReportsAreRiddenOut) {
  RunOptions options;
  options.faults.corrupt_rate = 0.2;
  options.faults.seed = 5;
  const RunResult r = RunExample("engraving.nc", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.PositionsMatch());
  EXPECT_GT(r.faults.status_reads_corrupted, 20u);
  EXPECT_EQ(r.faults.status_reads_lost, 0u);
  EXPECT_GE(r.faults.max_missed_polls, 3);
  EXPECT_LT(r.faults.max_missed_polls, 20);
  EXPECT_FALSE(r.faults.link_closed_at_seconds.has_value());
}

// ---- Plasma: torch height control on the program's own machine ----

// Torch starts in a program text, counted from the text itself.
int CountTorchStarts(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  int starts = 0;
  while (std::getline(lines, line)) {
    // M3, not M30.
    if (line.rfind("M3", 0) == 0 && (line.size() == 2 || !std::isdigit(line[2]))) ++starts;
  }
  return starts;
}

class PlasmaExample : public ::testing::TestWithParam<FaultCase> {};

TEST_P(PlasmaExample, EveryCutWaitsForTheArcAndZIsReadBack) {
  const RunResult r = RunExample("plasma.nc", GetParam().Options(4));
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_NE(r.profile_label.find("plasma.xml"), std::string::npos) << r.profile_label;
  EXPECT_TRUE(r.PositionsMatch());
  EXPECT_EQ(r.underruns, 0);
  ASSERT_TRUE(r.thc.has_value());
  const ThcReport& thc = *r.thc;
  const int starts = CountTorchStarts(ReadFile(kExamples + "plasma.nc"));
  ASSERT_EQ(starts, 4);
  EXPECT_EQ(thc.torch_starts, starts);
  EXPECT_EQ(thc.ignitions, starts);
  ASSERT_EQ(thc.cuts.size(), static_cast<size_t>(starts));
  double cut_sum = 0.0;
  for (const ThcCutReport& cut : thc.cuts) {
    SCOPED_TRACE("cut at line " + std::to_string(cut.line));
    EXPECT_TRUE(cut.arc_ok);
    // The arc strikes 150 ms after the torch goes on and is OK 100 ms (THCdetTime) later;
    // the next report carries it.
    EXPECT_GE(cut.arc_ok_wait_ms, 250u);
    EXPECT_LE(cut.arc_ok_wait_ms, 400u);
    EXPECT_EQ(cut.segments_before_arc_ok, 0u);
    EXPECT_TRUE(cut.z_read_back);
    EXPECT_EQ(cut.host_z_steps, cut.controller_z_steps);
    EXPECT_EQ(cut.latched_z_steps, cut.controller_z_steps);
    // The warped sheet made the loop move the torch.
    EXPECT_LT(cut.z_offset_min, cut.z_offset_max);
    cut_sum += cut.cut_seconds;
  }
  // The plugin's cut time counts timer ticks with arc OK: within a few ticks per cut.
  EXPECT_NEAR(thc.cut_seconds, cut_sum, 0.1 * starts);
  EXPECT_GT(thc.thc_active_reports, 100u);
}

INSTANTIATE_TEST_SUITE_P(Runs, PlasmaExample,
                         ::testing::Values(FaultCase{"Plain", false, 0.0},
                                           FaultCase{"Jitter", true, 0.0},
                                           FaultCase{"LostReports", false, 0.05}),
                         FaultCaseName);

TEST(Plasma, WithoutTheTorchStartHoldTheMachineMovesBeforeTheArc) {
  // THCDwell off: nothing holds the motion after M3, and the cut without a pierce dwell
  // starts moving before the arc is there (which the run reports).
  TempDir dir;
  std::string machine = ReadFile(kExamples + "plasma.xml");
  const std::string hold = "<THCDwell>1</THCDwell>";
  ASSERT_NE(machine.find(hold), std::string::npos);
  machine.replace(machine.find(hold), hold.size(), "<THCDwell>0</THCDwell>");
  RunOptions options;
  options.profile_path = dir.Write("table.xml", machine);
  const RunResult r = RunExample("plasma.nc", options);
  ASSERT_TRUE(r.thc.has_value());
  ASSERT_EQ(r.thc->cuts.size(), 4u);
  EXPECT_GT(r.thc->cuts[2].segments_before_arc_ok, 0u);
  EXPECT_NE(FormatSummary(r).find("SEGMENTS BEFORE ARC OK"), std::string::npos);
}

TEST(Plasma, VoltageLogHasOneRowPerReportInTheLogFormat) {
  TempDir dir;
  RunOptions options;
  options.thc_log_dir = dir.File("");
  const RunResult r = RunExample("plasma.nc", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  ASSERT_TRUE(r.thc.has_value());
  const std::string path = dir.File("thc_voltage.log");
  EXPECT_EQ(r.thc->voltage_log_path, path);
  std::istringstream log(ReadFile(path));
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  EXPECT_EQ(line, "flags\tth\tadc\tvolts\tzs");
  uint64_t rows = 0;
  while (std::getline(log, line)) {
    ++rows;
    unsigned flags = 0;
    int arc = 0, raw = 0, volts = 0;
    long long z = 0;
    char tail = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "0x%2X\t%d\t%d\t%d\t%lld%c", &flags, &arc, &raw, &volts, &z,
                          &tail),
              5)
        << line;
    EXPECT_EQ(line.substr(0, 2), "0x");
    EXPECT_TRUE(flags & 0x02) << line;  // rows only while THC is active
    EXPECT_EQ(arc, 1) << line;
    // 250 V of torch voltage give 5 V at the input: volts = raw x 50 x 5 / 65536.
    EXPECT_EQ(volts, static_cast<int>(raw * 250.0 / 65536.0)) << line;
    // Z within the sheet's reach: machine Z -50 +- a few mm (steps).
    EXPECT_GT(z, -52000);
    EXPECT_LT(z, -44000);
  }
  EXPECT_EQ(rows, r.thc->thc_active_reports);
  EXPECT_EQ(rows, r.thc->voltage_log_rows);
  EXPECT_GT(rows, 500u);
}

TEST(Plasma, VoltageLogNeedsAPlasmaMachineAndAFolder) {
  TempDir dir;
  RunOptions options;
  options.thc_log_dir = dir.File("");
  const RunResult mill = RunExample("engraving.nc", options);
  EXPECT_EQ(mill.status, RunStatus::kBadInput);
  EXPECT_EQ(mill.error, "the voltage log needs a machine with torch height control (THCOn 1)");
  options.thc_log_dir = dir.File("missing");
  const RunResult plasma = RunExample("plasma.nc", options);
  EXPECT_EQ(plasma.status, RunStatus::kBadInput);
  EXPECT_EQ(plasma.error, "the voltage log folder \"" + dir.File("missing") + "\" does not exist");
}

TEST(Plasma, TheProgramsOwnMachineIsReadButNeverWritten) {
  const std::string before = ReadFile(kExamples + "plasma.xml");
  const RunResult r = RunExample("plasma.nc");
  EXPECT_EQ(r.profile_label, kExamples + "plasma.xml (the program's own machine)");
  EXPECT_FALSE(r.profile_saved_to_given_file);
  EXPECT_EQ(ReadFile(kExamples + "plasma.xml"), before);
  // A program without a machine file beside it runs on the built-in default.
  TempDir dir;
  const RunResult plain = RunText(dir, "G0 X1\nM30\n");
  EXPECT_EQ(plain.profile_label, "built-in default (examples/machine.xml)");
  EXPECT_FALSE(plain.thc.has_value());
}

// ---- Firmware update at Reset ----

// The carried image: 93,434 bytes go as 364 chunks of 256 and one of 250 padded to 252.
constexpr int kImageChunks = 365;
constexpr uint64_t kImageBytes = 364 * 256 + 252;

RunOptions OlderController() {
  RunOptions options;
  options.controller_version = "01.20";
  return options;
}

TEST(FirmwareUpdate, YesUpdatesTheControllerAndTheProgramRuns) {
  const RunResult r = RunExample("engraving.nc", OlderController());
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.PositionsMatch());
  ASSERT_TRUE(r.firmware.has_value());
  const FirmwareUpdateRunReport& fw = *r.firmware;
  EXPECT_EQ(fw.Result(), "updated");
  EXPECT_EQ(fw.controller_version, "01.20");
  EXPECT_EQ(fw.version_after, "01.22");
  EXPECT_EQ(fw.chunks, kImageChunks);
  EXPECT_EQ(fw.bytes, kImageBytes);
  ASSERT_GE(fw.texts.size(), 5u);
  EXPECT_EQ(fw.texts.front(), "Firmware update in progress, please wait...");
  EXPECT_EQ(fw.texts[1], "Erase...");
  const std::vector<std::string> last(fw.texts.end() - 4, fw.texts.end());
  EXPECT_EQ(last, (std::vector<std::string>{"Uploading 100 %\r\n", "Updating FLASH, please wait...",
                                            "Done.", "Update completed successfully."}));
  // The controller leaves the bus and comes back 2.5 s later: at least the 2 s wait.
  EXPECT_GE(fw.elapsed_ms, 2000u);
  EXPECT_GE(fw.reconnect_attempts, 1);
  EXPECT_TRUE(Contains(r.status_texts, "USB controller connected."));
}

TEST(FirmwareUpdate, NoLeavesTheControllerAloneAndStops) {
  RunOptions options = OlderController();
  options.update_answer_yes = false;
  const RunResult r = RunExample("engraving.nc", options);
  EXPECT_EQ(r.status, RunStatus::kIncomplete);
  EXPECT_EQ(ExitStatus(r), 3);
  ASSERT_TRUE(r.firmware.has_value());
  EXPECT_EQ(r.firmware->Result(), "declined");
  EXPECT_EQ(r.firmware->chunks, 0);
  EXPECT_EQ(r.firmware->version_after, "01.20");
  EXPECT_NE(r.error.find("the firmware update was declined"), std::string::npos) << r.error;
  EXPECT_TRUE(Contains(r.status_texts, "USB controller NOT connected."));
  EXPECT_EQ(r.segments_streamed, 0u);
}

struct FlashFaultCase {
  const char* name;
  const char* fault;
  int chunks;  // chunks written before the verdict
  const char* step_text;
};

class FlashFault : public ::testing::TestWithParam<FlashFaultCase> {};

TEST_P(FlashFault, EndsInTheFailureVerdictAndNothingMoves) {
  RunOptions options = OlderController();
  ASSERT_TRUE(ParseSimFlashFault(GetParam().fault, options.flash_faults));
  const RunResult r = RunExample("engraving.nc", options);
  EXPECT_EQ(r.status, RunStatus::kIncomplete);
  ASSERT_TRUE(r.firmware.has_value());
  const FirmwareUpdateRunReport& fw = *r.firmware;
  EXPECT_EQ(fw.Result(), "failed");
  EXPECT_EQ(fw.chunks, GetParam().chunks);
  ASSERT_GE(fw.texts.size(), 2u);
  EXPECT_EQ(fw.texts[fw.texts.size() - 2], GetParam().step_text);
  EXPECT_EQ(fw.texts.back(), "Error! Updating firmware failed.");
  EXPECT_EQ(fw.version_after, "01.20");
  EXPECT_EQ(fw.faults.size(), 1u);
  EXPECT_TRUE(Contains(r.status_texts, "Firmware NOT updated."));
  EXPECT_NE(r.error.find("the firmware update failed"), std::string::npos) << r.error;
  EXPECT_EQ(r.segments_streamed, 0u);
  // 60 reconnect attempts a second apart after the 2 s wait bound the longest failure.
  EXPECT_LE(fw.elapsed_ms, 2000u + 60u * 1000u + 5000u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlashFault,
    ::testing::Values(FlashFaultCase{"Erase", "erase", 0, "ERROR erasing!"},
                      FlashFaultCase{"FirstChunk", "chunk:0", 1, "ERROR uploading!"},
                      FlashFaultCase{"NoReplyToChunk7", "no-reply:7", 8, "ERROR reading status!"},
                      FlashFaultCase{"NeverReturns", "never-returns", kImageChunks,
                                     "Time out in operation!"}),
    [](const ::testing::TestParamInfo<FlashFaultCase>& info) { return info.param.name; });

// ---- Bad input ----

struct BadInputCase {
  const char* name;
  const char* program;  // nullptr: no program file is written
  const char* profile;  // nullptr: the built-in default
  const char* expected;
};

class BadInput : public ::testing::TestWithParam<BadInputCase> {};

TEST_P(BadInput, GivesAClearMessage) {
  const BadInputCase& c = GetParam();
  TempDir dir;
  RunOptions options;
  options.program_path = c.program ? dir.Write("part.nc", c.program) : dir.File("missing.nc");
  if (c.profile) options.profile_path = dir.Write("machine.xml", c.profile);
  const RunResult r = SimRun(options).Execute();
  EXPECT_EQ(r.status, RunStatus::kBadInput);
  EXPECT_NE(r.error.find(c.expected), std::string::npos) << r.error;
  EXPECT_EQ(ExitStatus(r), 1);
}

constexpr char kGoodProgram[] = "G0 X1\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInput,
    ::testing::Values(
        BadInputCase{"MissingProgram", nullptr, nullptr, "missing.nc\" does not exist"},
        BadInputCase{"UnknownWord", "G21\nG5 X1\n", nullptr, "line 2: unknown word G5"},
        BadInputCase{"BeyondSoftLimits", "G0 X10\nG1 X400 F100\n", nullptr,
                     "line 2: move beyond the soft limits"},
        BadInputCase{"ProbeWithoutProbeInput", "G31 Z-1 F100\n",
                     "<profile><Preferences><ProbePin>0</ProbePin></Preferences></profile>",
                     "G31 needs a probe input"},
        BadInputCase{"FasterThanASegmentCarries", "G0 X100\n",
                     "<profile><Preferences><Steps0>100000</Steps0><Vel0>50</Vel0>"
                     "</Preferences></profile>",
                     "line 1: axis X would move 2155 steps in one millisecond; a segment "
                     "carries at most 2147"},
        BadInputCase{"BeyondThePositionRange", "G0 X250\n",
                     "<profile><Preferences><Steps0>10000000</Steps0><Vel0>0.1</Vel0>"
                     "<Acc0>10</Acc0></Preferences></profile>",
                     "beyond the controller's position range"},
        BadInputCase{"LongerThanADay", "G4 P50000\nG4 P50000\n", nullptr,
                     "line 2: the program takes more than 24 hours"},
        BadInputCase{"ProfileNotXml", kGoodProgram, "<profile><Preferences>", "is not valid XML"},
        BadInputCase{"ProfileWithoutPreferences", kGoodProgram, "<profile/>",
                     "has no \"Preferences\" section"},
        BadInputCase{"ProfileBadNumber", kGoodProgram,
                     "<profile><Preferences><Steps0>many</Steps0></Preferences></profile>",
                     "Steps0 is not a number: \"many\""},
        BadInputCase{"ProfileLimitsCrossed", kGoodProgram,
                     "<profile><Preferences><SoftMin0>5</SoftMin0><SoftMax0>1</SoftMax0>"
                     "</Preferences></profile>",
                     "SoftMin0 (5) is above SoftMax0 (1)"},
        BadInputCase{"CutterCompensation", "G21\nG0 X1\nG41 D1 X2\n", nullptr,
                     "line 3: G41 cutter radius compensation is not simulated"},
        BadInputCase{"MissingSubprogram", "G0 X1\nM98 P12\nM30\n", nullptr,
                     "line 2: M98 P12: there is no O12 in this file"}),
    [](const ::testing::TestParamInfo<BadInputCase>& info) { return info.param.name; });

TEST(BadInputFiles, ProgramThatIsAFolder) {
  TempDir dir;
  RunOptions options;
  options.program_path = dir.File("");
  const RunResult r = SimRun(options).Execute();
  EXPECT_EQ(r.status, RunStatus::kBadInput);
  EXPECT_NE(r.error.find("is not a regular file"), std::string::npos) << r.error;
}

TEST(BadInputFiles, MissingProfile) {
  TempDir dir;
  RunOptions options;
  options.program_path = dir.Write("p.nc", kGoodProgram);
  options.profile_path = dir.File("nowhere.xml");
  const RunResult r = SimRun(options).Execute();
  EXPECT_EQ(r.status, RunStatus::kBadInput);
  EXPECT_NE(r.error.find("machine file \"" + dir.File("nowhere.xml") + "\" does not exist"),
            std::string::npos)
      << r.error;
}

TEST(BadInputFiles, TraceIntoAMissingFolder) {
  TempDir dir;
  RunOptions options;
  options.program_path = dir.Write("p.nc", kGoodProgram);
  options.trace_path = dir.File("no/such/folder/trace.jsonl");
  const RunResult r = SimRun(options).Execute();
  EXPECT_EQ(r.status, RunStatus::kBadInput);
  EXPECT_NE(r.error.find("cannot write the trace file"), std::string::npos) << r.error;
}

TEST(BadInputFiles, FaultRateOutOfRange) {
  TempDir dir;
  RunOptions options;
  options.program_path = dir.Write("p.nc", kGoodProgram);
  options.faults.lose_rate = 1.5;
  const RunResult r = SimRun(options).Execute();
  EXPECT_EQ(r.status, RunStatus::kBadInput);
  EXPECT_NE(r.error.find("between 0 and 1"), std::string::npos) << r.error;
}

// ---- Profiles ----

TEST(Profiles, TheShippedDefaultIsNeverWritten) {
  const std::string before = ReadFile(kExamples + "machine.xml");
  const RunResult r = RunExample("engraving.nc");
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_FALSE(r.profile_saved_to_given_file);
  EXPECT_EQ(ReadFile(kExamples + "machine.xml"), before);
}

TEST(Profiles, AGivenProfileReceivesThePluginSettings) {
  TempDir dir;
  const std::string original = ReadFile(kExamples + "machine.xml");
  ASSERT_EQ(original.find("<THCnomvoltage>"), std::string::npos);
  RunOptions options;
  options.profile_path = dir.Write("machine.xml", original);
  options.program_path = dir.Write("p.nc", kGoodProgram);
  const RunResult r = SimRun(options).Execute();
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.profile_saved_to_given_file);
  const std::string saved = ReadFile(options.profile_path);
  EXPECT_NE(saved.find("<THCnomvoltage>"), std::string::npos);
  // The machine the host read is still there.
  EXPECT_NE(saved.find("<Steps0>1000.</Steps0>"), std::string::npos);
}

TEST(Profiles, AnInchMachineRunsInItsUnits) {
  TempDir dir;
  std::string profile = ReadFile(kExamples + "machine.xml");
  const std::string mm = "<Units>mm</Units>";
  ASSERT_NE(profile.find(mm), std::string::npos);
  profile.replace(profile.find(mm), mm.size(), "<Units>inch</Units>");
  RunOptions options;
  options.profile_path = dir.Write("inch.xml", profile);
  // 1000 steps per inch; 25.4 mm is one inch; the G54 numbers are inches now.
  options.program_path = dir.Write("p.nc", "G21 G0 X25.4 Y12.7\n");
  const RunResult r = SimRun(options).Execute();
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_EQ(r.units, "inch");
  EXPECT_EQ(r.executed_final_steps[0], 151000);
  EXPECT_EQ(r.executed_final_steps[1], 100500);
}

// ---- Trace ----

TEST(Trace, StreamsEveryEntryAsJsonLines) {
  TempDir dir;
  RunOptions options;
  options.trace_path = dir.File("trace.jsonl");
  const RunResult r = RunText(dir, "G0 X3 Y2\nM3 S1000\nG1 X4 F600\nM5\n", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  std::istringstream lines(ReadFile(options.trace_path));
  std::string line;
  uint64_t segments = 0;
  size_t spindle_commands = 0;
  size_t count = 0;
  while (std::getline(lines, line)) {
    ++count;
    JsonValue entry;
    std::string error;
    ASSERT_TRUE(ParseJson(line, &entry, &error)) << error << ": " << line;
    ASSERT_EQ(entry.type, JsonValue::Type::kObject);
    ASSERT_TRUE(entry.Has("t_ms") && entry.Has("pipe") && entry.Has("name") && entry.Has("payload"))
        << line;
    EXPECT_EQ(entry["t_ms"].type, JsonValue::Type::kNumber);
    EXPECT_EQ(entry["pipe"].type, JsonValue::Type::kNumber);
    EXPECT_EQ(entry["payload"].type, JsonValue::Type::kString);
    const std::string& payload = entry["payload"].text;
    EXPECT_EQ(payload.find_first_not_of("0123456789abcdef"), std::string::npos) << line;
    if (entry["name"].text == "Segment") {
      ++segments;
      EXPECT_EQ(payload.size(), 104u);  // 52 bytes
    }
    if (entry["name"].text == "Spindle") {
      ++spindle_commands;
      EXPECT_EQ(entry["code"].number, 7.0);
    }
  }
  EXPECT_GT(count, segments);
  EXPECT_EQ(segments, r.segments_streamed);
  // M3 and M5: one Spindle command each.
  EXPECT_EQ(spindle_commands, 2u);
}

}  // namespace
}  // namespace kelvro::sim::test
