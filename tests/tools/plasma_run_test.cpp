// Plasma runs that can fail: examples/plasma_sheet.nc on its machine. The cut chart of the
// simulated torch (115 V at 1.5 mm, 10 V per mm) and the table's divider (250 V to 5 V) are
// what the expected heights are worked out from; the loop only sees what the plugin sends.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "motion/thc_runtime.h"
#include "tests/tools/json_reader.h"
#include "tests/tools/simtool_test_util.h"
#include "tools/run_report.h"
#include "tools/sim_run.h"

namespace kelvro::sim::test {
namespace {

constexpr char kProgram[] = "plasma_sheet.nc";
constexpr int kStarts = 4;     // M3 lines in the program
constexpr double kCutZ = 1.5;  // the program's cutting height, mm
constexpr double kChartVolts = 115.0;
constexpr double kVoltsPerMm = 10.0;

// The example's machine with one plugin setting replaced.
std::string MachineWith(const TempDir& dir, const std::string& key, const std::string& value) {
  return test::MachineWith(dir, "plasma_sheet.xml", key, value);
}

RunResult RunSheet(RunOptions options = {}) {
  return RunExample(kProgram, options);
}

class PlasmaSheet : public ::testing::TestWithParam<FaultCase> {};

TEST_P(PlasmaSheet, TheTorchKeepsItsHeightThroughCornersWarpAndKerf) {
  const RunResult r = RunSheet(GetParam().Options(7));
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.PositionsMatch());
  EXPECT_EQ(r.underruns, 0);
  ASSERT_TRUE(r.thc.has_value());
  const ThcReport& thc = *r.thc;
  EXPECT_EQ(thc.torch_starts, kStarts);
  EXPECT_EQ(thc.ignitions, kStarts);
  ASSERT_EQ(thc.cuts.size(), static_cast<size_t>(kStarts));
  EXPECT_GE(thc.torch_height.within_share(), 0.9);
  EXPECT_GT(thc.torch_height.min, kCutZ - 0.5);
  EXPECT_LT(thc.torch_height.max, kCutZ + 0.5);
  EXPECT_NEAR(thc.torch_height.mean(), kCutZ, 0.1);
  for (const ThcCutReport& cut : thc.cuts) {
    SCOPED_TRACE("cut at line " + std::to_string(cut.line));
    EXPECT_TRUE(cut.arc_ok);
    EXPECT_EQ(cut.segments_before_arc_ok, 0u);
    // The pierce delay (2 s) outlasts the pierce and the move down, even when the host's
    // timer stalls during the pierce dwell.
    EXPECT_EQ(cut.regulated_piercing_ms, 0u);
    EXPECT_GT(cut.torch_height.ms, 1000u);
    EXPECT_GT(cut.locked_ms, 0u);  // every cut has a corner or an end to slow down for
  }
  // The cross cut (third) runs over the strip's kerf.
  EXPECT_GT(thc.kerf_crossing_ms, 20u);
  EXPECT_GT(thc.cuts[2].kerf_hold_ms, 0u);
}

INSTANTIATE_TEST_SUITE_P(Runs, PlasmaSheet,
                         ::testing::Values(FaultCase{"Plain", false, 0.0},
                                           FaultCase{"Jitter", true, 0.0},
                                           FaultCase{"LostReports", false, 0.05}),
                         FaultCaseName);

// The loop regulates on the reading the plugin calibrated, towards the target the THC page
// sets: a setting that moves the regulated voltage moves the torch by the cut chart.
struct HeightCase {
  const char* name;
  const char* key;
  const char* value;
  double expected_height;  // mm, from the cut chart
  double tolerance;        // mm: the loop climbs to a height far off 1.5 mm at every cut start
};

class PlasmaSettings : public ::testing::TestWithParam<HeightCase> {};

TEST_P(PlasmaSettings, MoveTheTorchAsTheCutChartSays) {
  TempDir dir;
  RunOptions options;
  options.profile_path = MachineWith(dir, GetParam().key, GetParam().value);
  const RunResult r = RunSheet(options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  ASSERT_TRUE(r.thc.has_value());
  EXPECT_NEAR(r.thc->torch_height.mean(), GetParam().expected_height, GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, PlasmaSettings,
    ::testing::Values(HeightCase{"Nominal", "THCnomvoltage", "115", kCutZ, 0.1},
                      // 10 V more on the page: 1 mm higher.
                      HeightCase{"TenVoltsMore", "THCnomvoltage", "125", kCutZ + 10.0 / kVoltsPerMm,
                                 0.15},
                      // A calibration of 225 V per 5 V on a 250 V divider reads 0.9 of the arc
                      // voltage: the loop holds 115 / 0.9 = 127.8 V, 1.28 mm higher.
                      HeightCase{"Miscalibrated", "THCtorchv", "225",
                                 kCutZ + (kChartVolts / 0.9 - kChartVolts) / kVoltsPerMm, 0.2}),
    [](const ::testing::TestParamInfo<HeightCase>& info) { return info.param.name; });

TEST(PlasmaLock, WithoutTheVoltageLockTheTorchDivesInTheCorners) {
  const RunResult locked = RunSheet();
  TempDir dir;
  RunOptions options;
  options.profile_path = MachineWith(dir, "THCLock", "0");
  const RunResult free = RunSheet(options);
  ASSERT_TRUE(locked.thc && free.thc);
  EXPECT_EQ(free.thc->locked_ms, 0u);
  EXPECT_GT(locked.thc->locked_ms, 500u);
  // Slowing down raises the arc voltage; without the lock the loop takes it for height.
  EXPECT_LT(free.thc->torch_height.min, locked.thc->torch_height.min - 0.3);
  EXPECT_LT(free.thc->torch_height.within_share(), locked.thc->torch_height.within_share());
}

TEST(PlasmaFaults, AFailedIgnitionHoldsTheMachineUntilTheOperatorStops) {
  RunOptions options;
  options.arc_fail = 2;
  const RunResult r = RunSheet(options);
  EXPECT_EQ(r.status, RunStatus::kIncomplete);
  EXPECT_NE(r.error.find("line 25"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find("the plugin held the motion"), std::string::npos) << r.error;
  ASSERT_TRUE(r.thc.has_value());
  EXPECT_EQ(r.thc->torch_starts, 2);
  EXPECT_EQ(r.thc->ignitions, 1);
  ASSERT_EQ(r.thc->cuts.size(), 2u);
  const ThcCutReport& failed = r.thc->cuts[1];
  EXPECT_TRUE(failed.ignition_failed);
  EXPECT_FALSE(failed.arc_ok);
  EXPECT_EQ(failed.segments_before_arc_ok, 0u);  // the torch-start hold kept it still
  EXPECT_EQ(failed.torch_height.ms, 0u);
  EXPECT_NE(FormatSummary(r).find("cut 2 (line 25): IGNITION FAILED, no arc"), std::string::npos);
}

TEST(PlasmaFaults, AnArcLostMidCutLeavesTheRestUncutAndTheHeightHeld) {
  const RunResult plain = RunSheet();
  RunOptions options;
  options.arc_loss_seconds = 26.0;  // the strip (cut 2) runs from about 21.5 s to 34 s
  const RunResult r = RunSheet(options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  ASSERT_TRUE(r.thc && plain.thc);
  EXPECT_EQ(r.thc->ignitions, kStarts);  // it does not strike again until the torch restarts
  const ThcCutReport& strip = r.thc->cuts[1];
  ASSERT_TRUE(strip.arc_lost_seconds.has_value());
  // Counted from the program's start, a few hundred ms after the run's.
  EXPECT_GE(*strip.arc_lost_seconds, 26.0);
  EXPECT_LT(*strip.arc_lost_seconds, 26.5);
  ASSERT_TRUE(strip.arc_ok_off_report_ms.has_value());
  EXPECT_LE(*strip.arc_ok_off_report_ms, 60u);  // the next report or two
  // The torch moves off about 1.4 s after the torch start (arc OK, the 0.8 s pierce, the
  // move down); at 40 mm/s the rest of the 505 mm goes uncut.
  const double cut_before = 40.0 * (*strip.arc_lost_seconds - strip.start_seconds - 1.4);
  EXPECT_NEAR(strip.uncut_units, 505.0 - cut_before, 25.0);
  // The plugin's cut time misses the uncut part.
  EXPECT_NEAR(plain.thc->cut_seconds - r.thc->cut_seconds, strip.uncut_units / 40.0, 0.3);
  EXPECT_NE(FormatSummary(r).find("ARC LOST at"), std::string::npos);
}

TEST(PlasmaWarning, AHoldNothingCouldEndIsNotArmedAndIsReported) {
  TempDir dir;
  RunOptions options;
  options.profile_path = MachineWith(dir, "THCarcDetect", "0");
  const RunResult r = RunSheet(options);
  ASSERT_TRUE(r.thc.has_value());
  ASSERT_EQ(r.thc->warnings.size(), 1u);
  EXPECT_EQ(r.thc->warnings[0], kTorchHoldWarning);
  EXPECT_NE(FormatSummary(r).find(std::string("WARNING: ") + kTorchHoldWarning), std::string::npos);
  // Nothing holds the torch start, so the program runs to its end instead of standing still.
  EXPECT_EQ(r.status, RunStatus::kCompleted);
  const RunResult plain = RunSheet();
  EXPECT_EQ(r.thc->cuts.size(), plain.thc->cuts.size());
  EXPECT_TRUE(plain.thc->warnings.empty());
}

TEST(PlasmaFaults, NeedAPlasmaMachine) {
  RunOptions options;
  options.arc_fail = 1;
  const RunResult r = RunExample("engraving.nc", options);
  EXPECT_EQ(r.status, RunStatus::kBadInput);
  EXPECT_EQ(r.error, "arc faults need a machine with torch height control (THCOn 1)");
}

TEST(PlasmaJson, TorchHeightForTheRunAndEveryCut) {
  const RunResult r = RunSheet();
  ASSERT_TRUE(r.thc.has_value());
  JsonValue json;
  std::string error;
  ASSERT_TRUE(ParseJson(FormatJson(r), &json, &error)) << error;
  const JsonValue& thc = json["thc"];
  auto check = [](const JsonValue& height, const TorchHeightReport& expected) {
    EXPECT_NEAR(height["min"].number, expected.min, 1e-6);
    EXPECT_NEAR(height["max"].number, expected.max, 1e-6);
    EXPECT_NEAR(height["mean"].number, expected.mean(), 1e-6);
    const double share = height["within_0_25mm"].number;
    EXPECT_NEAR(share, expected.within_share(), 1e-6);
    EXPECT_GE(share, 0.0);
    EXPECT_LE(share, 1.0);
  };
  check(thc["torch_height"], r.thc->torch_height);
  ASSERT_EQ(thc["cuts"].items.size(), r.thc->cuts.size());
  for (size_t i = 0; i < r.thc->cuts.size(); ++i) {
    check(thc["cuts"].items[i]["torch_height"], r.thc->cuts[i].torch_height);
  }
}

}  // namespace
}  // namespace kelvro::sim::test
