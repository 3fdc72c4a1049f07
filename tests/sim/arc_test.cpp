// Arcs: the circle found from I J or R, samples on the circle, direction, exact end point.
// Expected centres and angles are worked out by hand for each case.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/sim/traj_test_util.h"

namespace kelvro::sim {
namespace {

using test::ParseOk;
using test::PlanSamples;
using test::TestMachine;

constexpr double kPi = std::numbers::pi;

struct ArcCase {
  const char* name;
  const char* program;  // one arc from (0,0) to (10,0)
  double centre_x;
  double centre_y;
  double radius;
  double sweep;  // signed, counter-clockwise positive
};

class ArcGeometryCases : public ::testing::TestWithParam<ArcCase> {};

TEST_P(ArcGeometryCases, CircleFromWords) {
  const ArcCase& c = GetParam();
  const Machine machine = TestMachine();
  const std::vector<Block> blocks = ParseOk(c.program, machine);
  ASSERT_EQ(blocks.size(), 1u);
  ArcGeometry arc;
  std::string error;
  ASSERT_TRUE(ResolveArc(blocks[0], blocks[0].from, blocks[0].to, &arc, &error)) << error;
  EXPECT_NEAR(arc.centre_first, c.centre_x, 1e-9);
  EXPECT_NEAR(arc.centre_second, c.centre_y, 1e-9);
  EXPECT_NEAR(arc.start_radius, c.radius, 1e-9);
  EXPECT_NEAR(arc.end_radius, c.radius, 1e-9);
  EXPECT_NEAR(arc.sweep, c.sweep, 1e-9);
}

const double kR45 = 5.0 * std::sqrt(2.0);  // radius of a quarter circle over a chord of 10

INSTANTIATE_TEST_SUITE_P(
    Table, ArcGeometryCases,
    ::testing::Values(
        // Half circles about (5,0): clockwise goes over the top, counter-clockwise under.
        ArcCase{"HalfClockwise", "G2 X10 Y0 I5 J0 F600", 5, 0, 5, -kPi},
        ArcCase{"HalfCounterClockwise", "G3 X10 Y0 I5 J0 F600", 5, 0, 5, kPi},
        // Positive R: the short way round; the centre lies right of the chord for G2.
        ArcCase{"QuarterClockwiseR", "G2 X10 Y0 R7.0710678118654755 F600", 5, -5, kR45, -kPi / 2},
        ArcCase{"QuarterCounterClockwiseR", "G3 X10 Y0 R7.0710678118654755 F600", 5, 5, kR45,
                kPi / 2},
        // Negative R: the long way round, centre on the other side.
        ArcCase{"LongClockwiseR", "G2 X10 Y0 R-7.0710678118654755 F600", 5, 5, kR45, -3 * kPi / 2},
        ArcCase{"LongCounterClockwiseR", "G3 X10 Y0 R-7.0710678118654755 F600", 5, -5, kR45,
                3 * kPi / 2},
        // End point on the start point: a full circle.
        ArcCase{"FullClockwise", "G2 X0 Y0 I0 J-4 F600", 0, -4, 4, -2 * kPi},
        ArcCase{"FullCounterClockwiseNoEnd", "G3 I-3 J0 F600", -3, 0, 3, 2 * kPi}),
    [](const ::testing::TestParamInfo<ArcCase>& info) { return std::string(info.param.name); });

// Unwrapped angle of each sample about the centre, from the start angle.
std::vector<double> Angles(const std::vector<Sample>& samples, const Machine& m, double cx,
                           double cy, double start_angle) {
  std::vector<double> angles;
  double previous = start_angle;
  for (const Sample& s : samples) {
    const double x = s.target[0] / m.axes[0].steps_per_unit;
    const double y = s.target[1] / m.axes[1].steps_per_unit;
    double a = std::atan2(y - cy, x - cx);
    while (a - previous > kPi) a -= 2 * kPi;
    while (a - previous < -kPi) a += 2 * kPi;
    angles.push_back(a);
    previous = a;
  }
  return angles;
}

TEST(ArcSamples, FullCircleCounterClockwiseOnTheCircle) {
  const Machine m = TestMachine();
  // Circle of radius 10 about (30,20), starting and ending at (20,20), angle π.
  const std::vector<Sample> samples = PlanSamples("G0 X20 Y20\nG3 X20 Y20 I10 J0 F1200\n", m);
  // Skip the rapid: its samples end at (20,20); the arc samples carry line 2.
  std::vector<Sample> arc;
  for (const Sample& s : samples) {
    if (s.line_id == 2) arc.push_back(s);
  }
  ASSERT_GT(arc.size(), 100u);
  for (const Sample& s : arc) {
    const double x = s.target[0] / 1000.0, y = s.target[1] / 800.0;
    EXPECT_NEAR(std::hypot(x - 30.0, y - 20.0), 10.0, 1e-9);
    EXPECT_EQ(s.target[2], 0.0);
  }
  // Counter-clockwise: the angle grows at every sample and ends one full turn later.
  const std::vector<double> angles = Angles(arc, m, 30.0, 20.0, kPi);
  double previous = kPi;
  for (double a : angles) {
    EXPECT_GT(a, previous - 1e-12);
    previous = a;
  }
  EXPECT_NEAR(angles.back() - kPi, 2 * kPi, 1e-9);
  // Leaving (20,20) counter-clockwise about a centre to its right goes down first.
  EXPECT_LT(arc.front().target[1], 20.0 * 800.0);
  // The last sample is the end point itself.
  EXPECT_EQ(arc.back().target[0], 20.0 * 1000.0);
  EXPECT_EQ(arc.back().target[1], 20.0 * 800.0);
}

TEST(ArcSamples, ClockwiseGoesTheOtherWay) {
  const Machine m = TestMachine();
  const std::vector<Sample> arc = PlanSamples("G2 X10 Y0 I5 J0 F600\n", m);
  ASSERT_GT(arc.size(), 10u);
  const std::vector<double> angles = Angles(arc, m, 5.0, 0.0, kPi);
  double previous = kPi;
  for (double a : angles) {
    EXPECT_LT(a, previous + 1e-12);
    previous = a;
  }
  EXPECT_NEAR(angles.back(), 0.0, 1e-9);
  for (const Sample& s : arc) EXPECT_GE(s.target[1], 0.0);  // over the top
  EXPECT_EQ(arc.back().target[0], 10000.0);
  EXPECT_EQ(arc.back().target[1], 0.0);
}

TEST(ArcSamples, SpeedAndAccelerationWithinLimits) {
  Machine m = TestMachine();
  // A small circle taken fast: the centripetal part limits the speed.
  const std::vector<Sample> arc = PlanSamples("G3 X0 Y0 I2 J0 F100000\n", m);
  ASSERT_GT(arc.size(), 3u);
  std::vector<std::array<double, 2>> p{{0.0, 0.0}};
  for (const Sample& s : arc) p.push_back({s.target[0] / 1000.0, s.target[1] / 800.0});
  p.push_back(p.back());  // at rest after the end
  const double dt = 0.001;
  for (size_t i = 1; i < p.size(); ++i) {
    for (int k = 0; k < 2; ++k) {
      EXPECT_LE(std::fabs(p[i][k] - p[i - 1][k]) / dt, m.axes[k].velocity + 1e-9);
    }
  }
  for (size_t i = 1; i + 1 < p.size(); ++i) {
    for (int k = 0; k < 2; ++k) {
      const double second = p[i + 1][k] - 2 * p[i][k] + p[i - 1][k];
      EXPECT_LE(std::fabs(second) / (dt * dt), m.axes[k].acceleration * (1 + 1e-6))
          << "sample " << i << " axis " << k;
    }
  }
}

TEST(ArcSamples, HelixMovesZInProportionToTheAngle) {
  const Machine m = TestMachine();
  // One clockwise turn about (5,0) from (0,0), Z from 0 to -2.
  const std::vector<Sample> arc = PlanSamples("G2 X0 Y0 Z-2 I5 J0 F600\n", m);
  ASSERT_GT(arc.size(), 10u);
  const std::vector<double> angles = Angles(arc, m, 5.0, 0.0, kPi);
  for (size_t i = 0; i < arc.size(); ++i) {
    const double turned = (kPi - angles[i]) / (2 * kPi);  // fraction of the turn
    EXPECT_NEAR(arc[i].target[2] / 2000.0, -2.0 * turned, 1e-9);
  }
  EXPECT_EQ(arc.back().target[2], -2.0 * 2000.0);
}

// Arcs in the other planes: the plane's axes on the circle, the third axis still, and the
// sense as seen from the positive end of the third axis. TestMachine: 1000, 800 and 2000
// steps per unit on X, Y and Z.
struct PlaneArcCase {
  const char* name;
  const char* program;  // from the origin
  int first, second;    // the plane's axes
  double centre_first, centre_second, radius;
  double sweep;
  double middle_first, middle_second;  // half way along
};

class PlaneArcs : public ::testing::TestWithParam<PlaneArcCase> {};

TEST_P(PlaneArcs, CircleAndSamples) {
  const PlaneArcCase& c = GetParam();
  const Machine m = TestMachine();
  const std::vector<Block> blocks = ParseOk(c.program, m);
  ASSERT_EQ(blocks.size(), 1u);
  ArcGeometry arc;
  std::string error;
  ASSERT_TRUE(ResolveArc(blocks[0], blocks[0].from, blocks[0].to, &arc, &error)) << error;
  EXPECT_EQ(arc.first, c.first);
  EXPECT_EQ(arc.second, c.second);
  EXPECT_NEAR(arc.centre_first, c.centre_first, 1e-9);
  EXPECT_NEAR(arc.centre_second, c.centre_second, 1e-9);
  EXPECT_NEAR(arc.start_radius, c.radius, 1e-9);
  EXPECT_NEAR(arc.sweep, c.sweep, 1e-9);

  const double steps[3] = {1000.0, 800.0, 2000.0};
  const std::vector<Sample> samples = PlanSamples(c.program, m);
  ASSERT_GT(samples.size(), 100u);
  const int third = 3 - c.first - c.second;
  for (const Sample& s : samples) {
    const double a = s.target[c.first] / steps[c.first] - c.centre_first;
    const double b = s.target[c.second] / steps[c.second] - c.centre_second;
    EXPECT_NEAR(std::hypot(a, b), c.radius, 1e-9);
    EXPECT_EQ(s.target[third], 0.0);
  }
  // Half way along in time is half way along the arc (the speed profile is symmetric).
  const Sample& middle = samples[(samples.size() - 1) / 2];
  EXPECT_NEAR(middle.target[c.first] / steps[c.first], c.middle_first, 0.05);
  EXPECT_NEAR(middle.target[c.second] / steps[c.second], c.middle_second, 0.05);
}

INSTANTIATE_TEST_SUITE_P(
    Planes, PlaneArcs,
    ::testing::Values(
        // G18: the plane is (Z, X). From X 0 to X 10 about X 5: clockwise seen from +Y goes
        // through Z -5; counter-clockwise through Z +5.
        PlaneArcCase{"XZClockwise", "G18 G2 X10 Z0 I5 K0 F600\n", 2, 0, 0, 5, 5, -kPi, -5, 5},
        PlaneArcCase{"XZCounterClockwise", "G18 G3 X10 Z0 I5 K0 F600\n", 2, 0, 0, 5, 5, kPi, 5, 5},
        // G19: the plane is (Y, Z). From Y 0 to Y 10 about Y 5: counter-clockwise seen from +X
        // goes through Z -5; clockwise through Z +5.
        PlaneArcCase{"YZCounterClockwise", "G19 G3 Y10 Z0 J5 K0 F600\n", 1, 2, 5, 0, 5, kPi, 5, -5},
        PlaneArcCase{"YZClockwise", "G19 G2 Y10 Z0 J5 K0 F600\n", 1, 2, 5, 0, 5, -kPi, 5, 5},
        // A quarter in ZX given by R: from (X 0, Z 0) to (X 5, Z -5), the short way clockwise
        // about (X 5, Z 0).
        PlaneArcCase{"XZQuarterByRadius", "G18 G2 X5 Z-5 R5 F600\n", 2, 0, 0, 5, 5, -kPi / 2,
                     -5 * std::sqrt(0.5), 5 - 5 * std::sqrt(0.5)}),
    [](const ::testing::TestParamInfo<PlaneArcCase>& info) {
      return std::string(info.param.name);
    });

TEST(PlaneArcs, HelixAlongY) {
  const Machine m = TestMachine();
  // A full circle in ZX about (X 5, Z 0) while Y moves 4 units.
  const std::vector<Sample> samples = PlanSamples("G18 G3 X0 Z0 Y4 I5 K0 F600\n", m);
  ASSERT_GT(samples.size(), 100u);
  EXPECT_EQ(samples.back().target[1], 4.0 * 800.0);
  for (const Sample& s : samples) {
    const double x = s.target[0] / 1000.0, z = s.target[2] / 2000.0;
    EXPECT_NEAR(std::hypot(x - 5.0, z), 5.0, 1e-9);
  }
}

TEST(ArcExtentTest, QuarterAndHalfCircles) {
  // Quarter counter-clockwise from angle 0 to π/2 about the origin, radius 2.
  ArcGeometry quarter{0, 1, 0.0, 0.0, 2.0, 2.0, 0.0, kPi / 2};
  double min_x, max_x, min_y, max_y;
  ArcExtent(quarter, &min_x, &max_x, &min_y, &max_y);
  EXPECT_NEAR(min_x, 0.0, 1e-12);
  EXPECT_NEAR(max_x, 2.0, 1e-12);
  EXPECT_NEAR(min_y, 0.0, 1e-12);
  EXPECT_NEAR(max_y, 2.0, 1e-12);
  // The same quarter the long way round (clockwise from 0 to π/2) reaches every side.
  ArcGeometry long_way{0, 1, 1.0, 1.0, 2.0, 2.0, 0.0, -3 * kPi / 2};
  ArcExtent(long_way, &min_x, &max_x, &min_y, &max_y);
  EXPECT_NEAR(min_x, -1.0, 1e-12);
  EXPECT_NEAR(max_x, 3.0, 1e-12);
  EXPECT_NEAR(min_y, -1.0, 1e-12);
  EXPECT_NEAR(max_y, 3.0, 1e-12);
}

}  // namespace
}  // namespace kelvro::sim
