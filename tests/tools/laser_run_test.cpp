// Laser runs: what the beam burns in examples/laser_outline.nc and examples/laser_ramp.nc on
// their machines, and how the burn grid draws. Expected energies are worked out from the
// programs' geometry, feeds and the machines' acceleration (500 mm/s^2): a move of length L
// at speed v that starts and ends at rest takes L / v + v / a.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/json_reader.h"
#include "tests/tools/simtool_test_util.h"
#include "tools/laser_burn.h"
#include "tools/run_report.h"
#include "tools/sim_run.h"

namespace kelvro::sim::test {
namespace {

constexpr double kAcceleration = 500.0;  // mm/s^2, X and Y of both laser machines
constexpr double kZeroX = 20.0;          // G54 of both laser machines, machine mm
constexpr double kZeroY = 20.0;

double MoveSeconds(double length, double speed) {
  return length / speed + speed / kAcceleration;
}

// Energy per millimetre of path in a box of the work plane (work coordinates).
double EnergyPerMm(const LaserBurn& burn, double x0, double y0, double x1, double y1,
                   double path_mm) {
  return burn.EnergyIn(x0 + kZeroX, y0 + kZeroY, x1 + kZeroX, y1 + kZeroY) / path_mm;
}

TEST(LaserOutline, TheGateBurnsTheShapesAtConstantPowerAndNotTheRapids) {
  const RunResult r = RunExample("laser_outline.nc");
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.PositionsMatch());
  EXPECT_EQ(r.executed_final_steps[0], 0);  // back at machine zero
  EXPECT_EQ(r.executed_final_steps[1], 0);
  ASSERT_TRUE(r.laser.has_value());
  const LaserReport& laser = *r.laser;
  const double power = 14400.0 / 24000.0;  // S14400 on a PWM spindle of 24000 rpm
  EXPECT_NEAR(laser.power_min, power * 100.0, 0.01);
  EXPECT_NEAR(laser.power_max, power * 100.0, 0.01);
  // The plate's four sides at 20 mm/s and the hole's circle at 10 mm/s; nothing else.
  const double circle = 2.0 * std::numbers::pi * 5.0;
  const double plate_s = 2.0 * MoveSeconds(40.0, 20.0) + 2.0 * MoveSeconds(25.0, 20.0);
  const double hole_s = MoveSeconds(circle, 10.0);
  EXPECT_NEAR(laser.on_time_s, plate_s + hole_s, 0.01);
  EXPECT_NEAR(laser.energy, power * (plate_s + hole_s), 0.01);
  // The middle of the bottom side at full speed, the whole hole, and the rapid between the
  // plate and the hole, which passes (12.5, 6.25) twice with the gate closed.
  EXPECT_NEAR(EnergyPerMm(laser.burn, 10.0, -0.5, 30.0, 0.5, 20.0), power / 20.0, 0.0005);
  EXPECT_NEAR(laser.burn.EnergyIn(34.5, 27.0, 45.5, 38.0), power * hole_s, 0.01);
  EXPECT_EQ(laser.burn.EnergyIn(kZeroX + 11.5, kZeroY + 5.25, kZeroX + 13.5, kZeroY + 7.25), 0.0);

  JsonValue json;
  std::string error;
  ASSERT_TRUE(ParseJson(FormatJson(r), &json, &error)) << error;
  ASSERT_TRUE(json.Has("laser"));
  EXPECT_NEAR(json["laser"]["on_time_s"].number, laser.on_time_s, 1e-6);
  EXPECT_NEAR(json["laser"]["energy"].number, laser.energy, 1e-6);
  EXPECT_NEAR(json["laser"]["power_min"].number, laser.power_min, 1e-6);
  EXPECT_NEAR(json["laser"]["power_max"].number, laser.power_max, 1e-6);
}

// The ramp example's 30 mm square at 50 mm/s: energy per millimetre in the middle 10 mm of
// each side and in a box of 4 mm around each corner (8 mm of path, the slowing down and
// speeding up of 2.5 mm included), from the burn grid.
struct SquareEnergy {
  double straight_min = 1e9;
  double straight_max = 0.0;
  double corner_min = 1e9;
  double corner_max = 0.0;
};

SquareEnergy MeasureSquare(const LaserBurn& burn) {
  SquareEnergy e;
  const double straights[4][4] = {
      {10, -0.5, 20, 0.5}, {29.5, 10, 30.5, 20}, {10, 29.5, 20, 30.5}, {-0.5, 10, 0.5, 20}};
  for (const auto& b : straights) {
    const double per_mm = EnergyPerMm(burn, b[0], b[1], b[2], b[3], 10.0);
    e.straight_min = std::min(e.straight_min, per_mm);
    e.straight_max = std::max(e.straight_max, per_mm);
  }
  const double corners[4][2] = {{0, 0}, {30, 0}, {30, 30}, {0, 30}};
  for (const auto& c : corners) {
    const double per_mm = EnergyPerMm(burn, c[0] - 4, c[1] - 4, c[0] + 4, c[1] + 4, 8.0);
    e.corner_min = std::min(e.corner_min, per_mm);
    e.corner_max = std::max(e.corner_max, per_mm);
  }
  return e;
}

TEST(LaserOutline, APwmSpindleWithoutLaserSettingsIsNoLaser) {
  // The same program with the plugin's laser settings all off: a mill's PWM spindle.
  TempDir dir;
  RunOptions options;
  options.profile_path = MachineWith(dir, "laser_outline.xml", "LaserSync", "0");
  const RunResult r = RunExample("laser_outline.nc", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_FALSE(r.laser.has_value());
  EXPECT_EQ(FormatSummary(r).find("  laser "), std::string::npos);
}

TEST(LaserRamp, CompensationBurnsCornersAsStraightsAndWithoutItCornersBurnDarker) {
  const RunResult on = RunExample("laser_ramp.nc");
  ASSERT_EQ(on.status, RunStatus::kCompleted) << on.error;
  ASSERT_TRUE(on.laser.has_value());
  // Power in proportion to speed, full power at the nominal 3000 mm/min = 50 mm/s: every
  // millimetre gets 1/50 full-power second.
  const SquareEnergy with = MeasureSquare(on.laser->burn);
  EXPECT_NEAR(with.straight_min, 1.0 / 50.0, 0.0004);
  EXPECT_NEAR(with.straight_max, 1.0 / 50.0, 0.0004);
  EXPECT_GT(with.corner_min, 0.9 * with.straight_min);
  EXPECT_LT(with.corner_max, 1.1 * with.straight_max);
  EXPECT_LT(on.laser->power_min, 5.0);
  EXPECT_GT(on.laser->power_max, 99.0);

  TempDir dir;
  RunOptions options;
  options.profile_path = MachineWith(dir, "laser_ramp.xml", "LaserComp", "0");
  const RunResult off = RunExample("laser_ramp.nc", options);
  ASSERT_EQ(off.status, RunStatus::kCompleted) << off.error;
  ASSERT_TRUE(off.laser.has_value());
  // The spindle's 75 % all the way: 0.015 per mm on the straights; a corner's 8 mm take
  // 2 x (0.1 s + 1.5 mm / 50 mm/s) instead of 8 mm / 50 mm/s.
  const SquareEnergy without = MeasureSquare(off.laser->burn);
  EXPECT_NEAR(without.straight_min, 0.75 / 50.0, 0.0003);
  const double corner = 0.75 * 2.0 * (50.0 / kAcceleration + 1.5 / 50.0) / 8.0;
  EXPECT_NEAR(without.corner_min, corner, 0.02 * corner);
  EXPECT_GT(without.corner_min, 1.1 * without.straight_max);
}

TEST(LaserBurnPicture, XRightYUpMoreEnergyDarker) {
  LaserBurn burn(1.0);
  EXPECT_TRUE(burn.Render().pixels.empty());
  burn.Deposit(0.5, 0.5, 1.0, 1.0);  // bottom left
  burn.Deposit(1.5, 0.5, 0.5, 1.0);  // bottom right, half the energy
  burn.Deposit(0.5, 2.5, 1.0, 1.0);  // top left
  burn.Deposit(0.5, 2.5, 1.0, 0.0);  // no time, no energy
  const PixelImage image = burn.Render();
  ASSERT_EQ(image.width, 2);
  ASSERT_EQ(image.height, 3);
  EXPECT_EQ(image.at(0, 2), MakeColour(0, 0, 0));
  EXPECT_EQ(image.at(0, 0), MakeColour(0, 0, 0));
  EXPECT_EQ(image.at(1, 2), MakeColour(128, 128, 128));
  EXPECT_EQ(image.at(1, 0), kWhite);
  EXPECT_EQ(image.at(0, 1), kWhite);
  EXPECT_DOUBLE_EQ(burn.total_energy(), 2.5);
  // A path along a cell border stays in one cell.
  LaserBurn border(0.1);
  border.Deposit(20.0 - 1e-12, 1.0, 1.0, 1.0);
  border.Deposit(20.0 + 1e-12, 1.0, 1.0, 1.0);
  EXPECT_EQ(border.Render().width, 1);
}

}  // namespace
}  // namespace kelvro::sim::test

namespace kelvro::sim::test {
namespace {

// The source picture of the gray-level example as gray levels (0 white .. 255 black), row 0
// at the top, read from the plain PGM the script writes.
std::vector<std::vector<double>> ReadSourceLevels() {
  std::istringstream in(ReadFile(kExamples + "laser_gray.pgm"));
  std::string magic, comment;
  std::getline(in, magic);
  std::getline(in, comment);
  int width = 0, height = 0, top = 0;
  in >> width >> height >> top;
  std::vector<std::vector<double>> rows(static_cast<size_t>(height));
  for (auto& row : rows) {
    for (int x = 0; x < width; ++x) {
      int value = 0;
      in >> value;
      row.push_back(static_cast<double>(top - value));
    }
  }
  return rows;
}

TEST(LaserGray, TheBurnedPictureMatchesItsSource) {
  const std::vector<std::vector<double>> source = ReadSourceLevels();
  ASSERT_EQ(source.size(), 32u);
  ASSERT_EQ(source[0].size(), 48u);
  RunOptions options;
  options.burn_pixel = 0.25;  // the raster's own pixel
  const RunResult r = RunExample("laser_gray.nc", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  EXPECT_TRUE(r.PositionsMatch());
  ASSERT_TRUE(r.laser.has_value());
  ASSERT_TRUE(r.laser->gray_correlation.has_value());
  EXPECT_GT(*r.laser->gray_correlation, 0.95);
  // Pearson correlation, worked out here from the deviations from the means, between each
  // source pixel's level and the energy its square of the work plane received (G54 at 20,
  // 20; row 0 at the top).
  std::vector<double> levels;
  std::vector<double> energies;
  for (size_t row = 0; row < source.size(); ++row) {
    for (size_t col = 0; col < source[row].size(); ++col) {
      const double x0 = kZeroX + 0.25 * static_cast<double>(col);
      const double y0 = kZeroY + 0.25 * static_cast<double>(source.size() - 1 - row);
      levels.push_back(source[row][col]);
      energies.push_back(r.laser->burn.EnergyIn(x0, y0, x0 + 0.25, y0 + 0.25));
    }
  }
  const double count = static_cast<double>(levels.size());
  const double mean_level = std::accumulate(levels.begin(), levels.end(), 0.0) / count;
  const double mean_energy = std::accumulate(energies.begin(), energies.end(), 0.0) / count;
  double covariance = 0.0;
  double level_spread = 0.0;
  double energy_spread = 0.0;
  for (size_t i = 0; i < levels.size(); ++i) {
    covariance += (levels[i] - mean_level) * (energies[i] - mean_energy);
    level_spread += (levels[i] - mean_level) * (levels[i] - mean_level);
    energy_spread += (energies[i] - mean_energy) * (energies[i] - mean_energy);
  }
  const double correlation = covariance / std::sqrt(level_spread * energy_spread);
  EXPECT_GT(correlation, 0.95);
  JsonValue json;
  std::string error;
  ASSERT_TRUE(ParseJson(FormatJson(r), &json, &error)) << error;
  EXPECT_NEAR(json["laser"]["gray_correlation"].number, *r.laser->gray_correlation, 1e-6);
}

}  // namespace
}  // namespace kelvro::sim::test
