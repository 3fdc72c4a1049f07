// Probe log texts and the probe-tip compensation, checked against values worked out by
// hand from the geometry (not from the code under test).
#include "motion/probe_log.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kelvro {
namespace {

struct SeparatorCase {
  const char* separator;
  const char* expected;
};

class ProbeLogLineTest : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(ProbeLogLineTest, TargetAndResultWithTheChosenSeparator) {
  const SeparatorCase c = GetParam();
  EXPECT_EQ(FormatProbeLogLine({1.0, 2.0, 3.0}, {4.5, -5.0, 6.25}, c.separator), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Separators, ProbeLogLineTest,
    ::testing::Values(
        SeparatorCase{",", "(1.000000,2.000000,3.000000)-(4.500000,-5.000000,6.250000)\n"},
        SeparatorCase{" ", "(1.000000 2.000000 3.000000)-(4.500000 -5.000000 6.250000)\n"},
        SeparatorCase{";", "(1.000000;2.000000;3.000000)-(4.500000;-5.000000;6.250000)\n"},
        SeparatorCase{"\t", "(1.000000\t2.000000\t3.000000)-(4.500000\t-5.000000\t6.250000)\n"}));

struct CompensationCase {
  const char* name;
  double tx, ty;
  Point3 measured;
  double d, c1, c2;
  Point3 expected;
};

class CompensationTest : public ::testing::TestWithParam<CompensationCase> {};

TEST_P(CompensationTest, TouchedPoint) {
  const CompensationCase c = GetParam();
  const Point3 p = CompensateProbePoint(c.tx, c.ty, c.measured, c.d, c.c1, c.c2);
  EXPECT_NEAR(p.x, c.expected.x, 1e-9) << c.name;
  EXPECT_NEAR(p.y, c.expected.y, 1e-9) << c.name;
  EXPECT_EQ(p.z, c.expected.z) << c.name;
}

// Hand calculations:
// - along +X: P = (8 + 1, 0) = (9, 0); slope 0, r = c2 = 1, q = (c1 c2 / r, 0) = (1, 0).
// - along -X: P = (8 - 1, 0) = (7, 0); q = (-1, 0); 7 - (-1) = 8.
// - diagonal, c1 = c2 = 1: theta = 45 deg, P = (sqrt(.5), sqrt(.5)); slope 1,
//   r = sqrt(2), q = (1/sqrt(2), 1/sqrt(2)) -> (0, 0).
// - diagonal, c1 = 2, c2 = 1: r = sqrt(4 + 1), q = (2/sqrt(5), 2/sqrt(5));
//   0.70710678118654757 - 0.89442719099991586 = -0.18732040981336829.
// - along -Y, target (3, 0), measured (3, 5), d = 4: theta = 90 deg, e = (~0, -2),
//   P = (3, 3); T_x = P_x gives q = (0, c2) = (0, 0.5), negated in Y since T_y < P_y:
//   3 - (-0.5) = 3.5.
// - target on the hit point: no direction, P = M = (5, 5); T_x = P_x gives q = (0, c2),
//   not negated: (5, 4).
// - zero ellipse: q = 0, the point is P = (9, 0).
// - flat ellipse (c2 = 0) along X: the ellipse is the segment +-c1 on X: q = (1, 0) -> (8, 0).
INSTANTIATE_TEST_SUITE_P(
    Geometry, CompensationTest,
    ::testing::Values(CompensationCase{"along +X", 10, 0, {8, 0, -1.5}, 2, 1, 1, {8, 0, -1.5}},
                      CompensationCase{"along -X", 0, 0, {8, 0, 2}, 2, 1, 1, {8, 0, 2}},
                      CompensationCase{"diagonal round", 10, 10, {0, 0, 0}, 2, 1, 1, {0, 0, 0}},
                      CompensationCase{"diagonal ellipse",
                                       10,
                                       10,
                                       {0, 0, 3},
                                       2,
                                       2,
                                       1,
                                       {-0.18732040981336829, -0.18732040981336829, 3}},
                      CompensationCase{"along -Y", 3, 0, {3, 5, 1}, 4, 0.25, 0.5, {3, 3.5, 1}},
                      CompensationCase{"target on hit", 5, 5, {5, 5, 0}, 2, 1, 1, {5, 4, 0}},
                      CompensationCase{"zero ellipse", 10, 0, {8, 0, 0}, 2, 0, 0, {9, 0, 0}},
                      CompensationCase{"flat ellipse", 10, 0, {8, 0, 0}, 2, 1, 0, {8, 0, 0}}));

TEST(CompensationTest, DegenerateGeometryNeverGivesNaN) {
  const double values[] = {0.0, 1.0, -1.0, 1e-300, 1e300};
  for (double tx : values) {
    for (double ty : values) {
      for (double c : values) {
        const Point3 p = CompensateProbePoint(tx, ty, {0.0, 0.0, 0.0}, 0.0, c, c);
        EXPECT_FALSE(std::isnan(p.x) || std::isnan(p.y)) << tx << " " << ty << " " << c;
        const std::string line = FormatCompensatedLine(p, ",", true, {0, 0, 0});
        EXPECT_EQ(line.find("nan"), std::string::npos) << line;
      }
    }
  }
}

TEST(CompensatedLineTest, PointOnly) {
  EXPECT_EQ(FormatCompensatedLine({8, 0, -1.5}, ";", false, {100, 200, 300}),
            "8.000000;0.000000;-1.500000\n");
}

TEST(CompensatedLineTest, MachineColumnsAddTheWorkOffsets) {
  EXPECT_EQ(FormatCompensatedLine({8, 0, -1.5}, ",", true, {100, 200.5, -300}),
            "8.000000,0.000000,-1.500000\t108.000000,200.500000,-301.500000\n");
}

struct FinishCase {
  int64_t seconds;
  const char* expected;
};

class FinishLineTest : public ::testing::TestWithParam<FinishCase> {};

TEST_P(FinishLineTest, ElapsedTime) {
  EXPECT_EQ(FormatProbeFinishLine(GetParam().seconds), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Durations, FinishLineTest,
    ::testing::Values(FinishCase{3725, "Probing finished after (h:m:s) 01:02:05\n"},
                      FinishCase{0, "Probing finished after (h:m:s) 00:00:00\n"},
                      FinishCase{59, "Probing finished after (h:m:s) 00:00:59\n"},
                      // 1 day + 1 h + 1 min + 1 s: hours count within the day.
                      FinishCase{90061, "Probing finished after (h:m:s) 01:01:01\n"},
                      FinishCase{-5, "Probing finished after (h:m:s) 00:00:00\n"}));

TEST(ProbeLogBaseTest, EmptyNameIsNofile) {
  const char empty[8] = {};
  EXPECT_EQ(ProbeLogBase(empty, sizeof(empty)), "nofile");
  EXPECT_EQ(ProbeLogBase(nullptr, 0), "nofile");
}

TEST(ProbeLogBaseTest, NameWithoutTerminatorStopsAtTheField) {
  const char name[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(ProbeLogBase(name, sizeof(name)), "abcd");
  const char path[16] = "/tmp/x/part";
  EXPECT_EQ(ProbeLogBase(path, sizeof(path)), "/tmp/x/part");
}

TEST(AppendToFileTest, AppendsAndReportsFailure) {
  const auto dir =
      std::filesystem::temp_directory_path() /
      ("kelvro_probe_log_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "f.txt").string();
  std::filesystem::remove(path);
  EXPECT_TRUE(AppendToFile(path, "one\n"));
  EXPECT_TRUE(AppendToFile(path, "two\n"));
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "one\ntwo\n");
  EXPECT_FALSE(AppendToFile((dir / "missing" / "f.txt").string(), "x"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kelvro
