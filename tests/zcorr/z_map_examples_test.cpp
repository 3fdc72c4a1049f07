// The shipped point files load as the grids they describe, inside the default machine, and
// the engraving program for the board stays on the board and within its depth.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "sim/gcode.h"
#include "sim/machine_profile.h"
#include "sim/motion_planner.h"
#include "tests/sim/traj_test_util.h"
#include "tests/zcorr/z_map_test_support.h"

namespace kelvro::test {
namespace {

const std::string kExamples = std::string(KELVRO_SOURCE_DIR) + "/examples/";

sim::Machine DefaultMachine() {
  sim::Machine m;
  std::string error;
  EXPECT_TRUE(sim::LoadMachine(kExamples + "machine.xml", &m, &error)) << error;
  return m;
}

// The grid rectangle lies within the machine's X and Y soft limits.
void ExpectInsideMachine(const ZCorrectionMap& map, const sim::Machine& m) {
  EXPECT_GE(map.first().x, m.axes[0].soft_min);
  EXPECT_LE(map.last().x, m.axes[0].soft_max);
  EXPECT_GE(map.first().y, m.axes[1].soft_min);
  EXPECT_LE(map.last().y, m.axes[1].soft_max);
}

TEST_F(ZMapTest, BoardExampleIsATwentyByFifteenGridOnAFiveMillimetrePitch) {
  ASSERT_TRUE(
      map.LoadZCorrectionFile(kExamples + "board_20x15.zmap", kZNormalHighest, platform, host));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(map.cols(), 20);
  EXPECT_EQ(map.rows(), 15);
  EXPECT_EQ(map.first().x, 100.0);
  EXPECT_EQ(map.first().y, 60.0);
  EXPECT_EQ(map.last().x, 195.0);
  EXPECT_EQ(map.last().y, 130.0);
  for (int r = 0; r < 15; ++r) {
    for (int c = 0; c < 20; ++c) {
      EXPECT_EQ(map.points()[r * 20 + c].x, 100.0 + 5.0 * c);
      EXPECT_EQ(map.points()[r * 20 + c].y, 60.0 + 5.0 * r);
    }
  }
  ExpectInsideMachine(map, DefaultMachine());
  // Slightly bowed and tilted: a tenth of a millimetre at most, a bow of some hundredths
  // that the plane cannot follow.
  EXPECT_EQ(map.z_max(), 0.0);
  EXPECT_GT(map.z_min(), -0.2);
  EXPECT_LT(map.z_min(), -0.05);
  EXPECT_GT(map.dev_above(), 0.02);
  EXPECT_LT(map.dev_below(), -0.02);
  EXPECT_LT(map.dev_above() - map.dev_below(), 0.15);
}

TEST_F(ZMapTest, WarpedExampleIsAThreeByThreeGrid) {
  ASSERT_TRUE(map.LoadZCorrectionFile(kExamples + "warped_3x3.zmap", kZNormalNone, platform, host));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(map.cols(), 3);
  EXPECT_EQ(map.rows(), 3);
  ExpectInsideMachine(map, DefaultMachine());
  EXPECT_EQ(map.ZCorrectionAt(150.0, 140.0), 0.25);
  // Warped: no plane holds all nine points.
  EXPECT_GT(map.dev_above() - map.dev_below(), 0.1);
}

// The words of a part program: letter and number, comments left out.
std::vector<std::pair<char, std::string>> Words(const std::string& text) {
  std::vector<std::pair<char, std::string>> words;
  bool in_comment = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_comment) {
      in_comment = c != ')';
      continue;
    }
    if (c == '(') {
      in_comment = true;
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      size_t j = i + 1;
      while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) ||
                                 text[j] == '.' || text[j] == '-')) {
        ++j;
      }
      words.emplace_back(static_cast<char>(std::toupper(c)), text.substr(i + 1, j - i - 1));
      i = j - 1;
    }
  }
  return words;
}

TEST_F(ZMapTest, EngravingExampleStaysOnTheBoardAndWithinItsDepth) {
  const sim::Machine machine = DefaultMachine();
  sim::GcodeProgram program;
  std::string error;
  ASSERT_TRUE(program.Load(kExamples + "zmap_engraving.nc", machine, &error)) << error;

  const std::set<std::string> g_codes = {"0", "1", "2", "3", "10", "21", "53", "55", "90"};
  const std::set<std::string> m_codes = {"2", "3", "5"};
  std::ifstream in(kExamples + "zmap_engraving.nc");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const auto& [letter, number] : Words(text)) {
    EXPECT_NE(std::string("GMXYZFSRLP").find(letter), std::string::npos) << letter << number;
    if (letter == 'G') {
      EXPECT_TRUE(g_codes.count(number)) << "G" << number;
    }
    if (letter == 'M') {
      EXPECT_TRUE(m_codes.count(number)) << "M" << number;
    }
  }

  sim::MotionPlanner planner(machine, program.TakeBlocks());
  const std::vector<sim::Sample> samples = sim::test::AllSamples(planner);
  ASSERT_TRUE(planner.error().empty()) << planner.error();
  ASSERT_GT(samples.size(), 10000u);
  ZCorrectionMap board;
  ASSERT_TRUE(
      board.LoadZCorrectionFile(kExamples + "board_20x15.zmap", kZNormalHighest, platform, host));
  double deepest = 0.0;
  size_t cutting = 0;
  // The program's work zero: X and Y as the machine's, Z 0 on the board at machine Z -60.
  // It comes down from the top of the travel to Z 0 first and goes back up at the end;
  // between those it never rises above Z 0.
  constexpr double kBoardZ = -60.0;
  size_t first = 0, last = samples.size();
  while (first < last && samples[first].target[2] / 1000.0 > kBoardZ + 1e-9) ++first;
  while (last > first && samples[last - 1].target[2] / 1000.0 > kBoardZ + 1e-9) --last;
  for (size_t i = first; i < last; ++i) {
    const sim::Sample& s = samples[i];
    const double x = s.target[0] / 1000.0, y = s.target[1] / 1000.0;
    const double z = s.target[2] / 1000.0 - kBoardZ;
    ASSERT_LE(z, 1e-9);
    ASSERT_GE(z, -0.3 - 1e-9);
    deepest = std::min(deepest, z);
    if (z < -1e-9) {
      ++cutting;
      ASSERT_GE(x, board.first().x);
      ASSERT_LE(x, board.last().x);
      ASSERT_GE(y, board.first().y);
      ASSERT_LE(y, board.last().y);
      // With the board's map normalised to its highest point, Z stays below 0.
      ASSERT_LE(z + board.ZCorrectionAt(x, y), 0.0);
    }
  }
  EXPECT_NEAR(deepest, -0.3, 1e-9);
  EXPECT_GT(cutting, samples.size() / 2);
}

}  // namespace
}  // namespace kelvro::test
