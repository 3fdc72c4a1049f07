// Loading a point file into the map: sorting, rows and columns, cropping, refusals and their
// messages, normalisation, the maximum correction and its status text, the reference plane
// and its deviations, the statistics text, and what each failure leaves behind.
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "tests/zcorr/z_map_test_support.h"

namespace kelvro::test {
namespace {

using Strings = std::vector<std::string>;

// 2 x 2 grid with the given Z values (row y = 0 first, then y = 1).
std::string Square(double z00, double z10, double z01, double z11) {
  char text[256];
  std::snprintf(text, sizeof text, "0,0,%.17g\n1,0,%.17g\n0,1,%.17g\n1,1,%.17g\n", z00, z10, z01,
                z11);
  return text;
}

const std::vector<double> kX3 = {0.0, 10.0, 20.0};
const std::vector<double> kY3 = {5.0, 15.0, 25.0};
// Highest at (20, 5) only.
double Warp(double x, double y) {
  return 0.01 * x - 0.02 * y + 0.0005 * x * y;
}

TEST_F(ZMapTest, GridInAnyOrderIsSortedIntoRows) {
  std::vector<size_t> order(9);
  std::iota(order.begin(), order.end(), size_t{0});
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::shuffle(order.begin(), order.end(), rng);
    ASSERT_TRUE(LoadText(GridText(kX3, kY3, Warp, order)));
    EXPECT_EQ(map.cols(), 3);
    EXPECT_EQ(map.rows(), 3);
    ASSERT_EQ(map.points().size(), 9u);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        const ZMapPoint& p = map.points()[r * 3 + c];
        EXPECT_EQ(p.x, kX3[c]);
        EXPECT_EQ(p.y, kY3[r]);
        EXPECT_EQ(p.z, Warp(kX3[c], kY3[r]));
      }
    }
    EXPECT_EQ(map.first().x, 0.0);
    EXPECT_EQ(map.first().y, 5.0);
    EXPECT_EQ(map.last().x, 20.0);
    EXPECT_EQ(map.last().y, 25.0);
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ZMapTest, HeaderLineGivesTheFourPointMessage) {
  EXPECT_FALSE(LoadText("X,Y,Z\n" + GridText(kX3, kY3, Warp)));
  EXPECT_EQ(Boxes(), Strings{std::string(kTooFewPointsText)});
  EXPECT_FALSE(map.IsZCorrectionLoaded());
}

TEST_F(ZMapTest, SpaceBeforeACommaEndsTheReadingThere) {
  // Two full rows, then a line with a space before its comma: the rows before it load.
  std::string text = GridText(kX3, {0.0, 1.0}, Warp);
  text += "0 ,2,0\n0,2,0\n10,2,0\n20,2,0\n";
  ASSERT_TRUE(LoadText(text));
  EXPECT_EQ(map.rows(), 2);
  EXPECT_EQ(map.cols(), 3);
  EXPECT_EQ(map.last().y, 1.0);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ZMapTest, ElevenPointsCropToThreeByThree) {
  std::string text = GridText(kX3, kY3, Warp);
  text = "0,35,7\n" + text + "10,35,8\n";  // the start of a fourth row, at both ends
  ASSERT_TRUE(LoadText(text));
  EXPECT_EQ(map.cols(), 3);
  EXPECT_EQ(map.rows(), 3);
  EXPECT_EQ(Boxes(), Strings{std::string(kCroppedText)});
  ASSERT_EQ(map.points().size(), 9u);
  for (const ZMapPoint& p : map.points()) EXPECT_LT(p.y, 35.0);
  EXPECT_EQ(map.last().y, 25.0);
  EXPECT_DOUBLE_EQ(map.z_max(), Warp(20, 5));  // the dropped points' Z 7 and 8 count nowhere
}

TEST_F(ZMapTest, OneRowIsRefused) {
  EXPECT_FALSE(LoadText("0,3,0\n1,3,0\n2,3,0\n3,3,0\n"));
  EXPECT_EQ(Boxes(), Strings{std::string(kTooFewRowsText)});
  EXPECT_FALSE(map.IsZCorrectionLoaded());
}

TEST_F(ZMapTest, OneColumnIsRefused) {
  // X falls back after every point: one point per row.
  EXPECT_FALSE(LoadText("1,0,0\n0,1,0\n1,2,0\n0,3,0\n"));
  EXPECT_EQ(Boxes(), Strings{std::string(kTooFewRowsText)});
  // The same X everywhere never falls back: one row of four.
  EXPECT_FALSE(LoadText("5,0,0\n5,1,0\n5,2,0\n5,3,0\n"));
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_FALSE(map.IsZCorrectionLoaded());
}

struct NormalCase {
  int mode;
  double offset, z_max, z_min, max_correction;
  const char* status;
};

class Normalisation : public ZMapTest, public ::testing::WithParamInterface<NormalCase> {};

TEST_P(Normalisation, ShiftsEveryZ) {
  const NormalCase& c = GetParam();
  const double raw[4] = {0.1, 0.3, -0.2, 0.0};
  ASSERT_TRUE(LoadText(Square(raw[0], raw[1], raw[2], raw[3]), c.mode));
  EXPECT_DOUBLE_EQ(map.norm_offset(), c.offset);
  EXPECT_DOUBLE_EQ(map.z_max(), c.z_max);
  EXPECT_DOUBLE_EQ(map.z_min(), c.z_min);
  EXPECT_DOUBLE_EQ(map.max_correction(), c.max_correction);
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(map.points()[i].z, raw[i] - c.offset);
  EXPECT_EQ(HostStatus(), c.status);
  EXPECT_EQ(platform.status_texts, Strings{c.status});
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Normalisation,
    ::testing::Values(
        NormalCase{0, 0.0, 0.3, -0.2, 0.3, "Z file loaded. Maximum correction: 0.300000"},
        NormalCase{1, 0.3, 0.0, -0.5, -0.5, "Z file loaded. Maximum correction: -0.500000"},
        NormalCase{2, -0.2, 0.5, 0.0, 0.5, "Z file loaded. Maximum correction: 0.500000"},
        // Middle: +-0.25, a tie that goes to ZMax.
        NormalCase{3, 0.05, 0.25, -0.25, 0.25, "Z file loaded. Maximum correction: 0.250000"},
        NormalCase{4, 0.0, 0.3, -0.2, 0.3, "Z file loaded. Maximum correction: 0.300000"},
        NormalCase{-1, 0.0, 0.3, -0.2, 0.3, "Z file loaded. Maximum correction: 0.300000"}),
    [](const ::testing::TestParamInfo<NormalCase>& info) {
      const int mode = info.param.mode;
      return mode < 0 ? "ModeMinus" + std::to_string(-mode) : "Mode" + std::to_string(mode);
    });

TEST_F(ZMapTest, MaximumCorrectionTiesGoToZMax) {
  ASSERT_TRUE(LoadText(Square(0.4, -0.4, 0.0, 0.1)));
  EXPECT_EQ(map.max_correction(), 0.4);
  ASSERT_TRUE(LoadText(Square(-0.4, 0.4, 0.0, 0.1)));
  EXPECT_EQ(map.max_correction(), 0.4);
  // A larger magnitude below wins.
  ASSERT_TRUE(LoadText(Square(-0.41, 0.4, 0.0, 0.1)));
  EXPECT_EQ(map.max_correction(), -0.41);
  EXPECT_EQ(HostStatus(), "Z file loaded. Maximum correction: -0.410000");
}

TEST_F(ZMapTest, FlatTiltedGridHasNoDeviation) {
  const auto tilted = [](double x, double y) { return 1.5 + 0.02 * x - 0.035 * y; };
  ASSERT_TRUE(LoadText(GridText({0, 5, 10, 15, 20}, {0, 5, 10, 15}, tilted), kZNormalMiddle));
  EXPECT_NEAR(map.dev_above(), 0.0, 1e-12);
  EXPECT_NEAR(map.dev_below(), 0.0, 1e-12);
  // The plane follows the normalised points.
  EXPECT_NEAR(map.PlaneZAt(7.0, 3.0), tilted(7.0, 3.0) - map.norm_offset(), 1e-12);
}

TEST_F(ZMapTest, DeviationsOfABump) {
  // Flat but for one raised point in the middle of a 3 x 3 grid: the least-squares plane is
  // level at the mean 0.9 / 9 = 0.1.
  const auto bump = [](double x, double y) { return x == 10 && y == 15 ? 0.9 : 0.0; };
  ASSERT_TRUE(LoadText(GridText(kX3, kY3, bump)));
  EXPECT_NEAR(map.dev_above(), 0.8, 1e-12);
  EXPECT_NEAR(map.dev_below(), -0.1, 1e-12);
  EXPECT_NEAR(map.PlaneZAt(-100.0, 300.0), 0.1, 1e-12);
}

TEST_F(ZMapTest, DegeneratePlaneFitMeasuresFromTheMeanLevel) {
  // Spacing so small that the squared distances vanish: the points fix no plane.
  const double s = 1e-170;
  const auto z = [s](double x, double y) { return x == s && y == s ? 0.7 : 0.1; };
  ASSERT_TRUE(LoadText(GridText({0, s, 2 * s}, {0, s, 2 * s}, z)));
  const double mean = (8 * 0.1 + 0.7) / 9;
  EXPECT_EQ(map.plane().nx, 0.0);
  EXPECT_EQ(map.plane().ny, 0.0);
  EXPECT_EQ(map.plane().nz, 1.0);
  EXPECT_DOUBLE_EQ(map.plane().d, mean);
  EXPECT_DOUBLE_EQ(map.dev_above(), 0.7 - mean);
  EXPECT_DOUBLE_EQ(map.dev_below(), 0.1 - mean);
}

TEST_F(ZMapTest, RowsThatDoNotShareTheirYAreRefused) {
  // One point of the middle row is measured 0.001 higher: the sort would put it after the
  // other points of that row and the rows would be misread.
  std::string text = GridText(kX3, kY3, Warp);
  const size_t at = text.find("0,15,");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 5, "0,15.001,");
  EXPECT_FALSE(LoadText(text));
  EXPECT_EQ(Boxes(), Strings{std::string(kNotAGridText)});
  EXPECT_FALSE(map.IsZCorrectionLoaded());
}

TEST_F(ZMapTest, ColumnsThatDoNotShareTheirXAreRefused) {
  std::string text = "0,0,0\n10,0,0\n20,0,0\n0,1,0\n11,1,0\n20,1,0\n";
  EXPECT_FALSE(LoadText(text));
  EXPECT_EQ(Boxes(), Strings{std::string(kNotAGridText)});
  EXPECT_FALSE(map.IsZCorrectionLoaded());
}

TEST_F(ZMapTest, ShiftedRowsAreRefused) {
  // Two rows whose columns are offset (a staggered pattern) look like a grid by count.
  EXPECT_FALSE(LoadText("0,0,0\n10,0,0\n5,10,0\n15,10,0\n"));
  EXPECT_EQ(Boxes(), Strings{std::string(kNotAGridText)});
}

TEST_F(ZMapTest, DuplicatePointsAreRefused) {
  // Every point twice: rows of 0, 0, 1, 1 share their Y and X but do not ascend.
  EXPECT_FALSE(LoadText("0,0,0\n0,0,0\n1,0,0\n1,0,0\n0,1,0\n0,1,0\n1,1,0\n1,1,0\n"));
  EXPECT_EQ(Boxes(), Strings{std::string(kNotAGridText)});
  // One point twice in a 3 x 3 grid.
  EXPECT_FALSE(LoadText(GridText(kX3, kY3, Warp) + "10,15,0\n"));
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1], kNotAGridText);
  EXPECT_FALSE(map.IsZCorrectionLoaded());
}

TEST_F(ZMapTest, RoundOffWithinTheToleranceIsAccepted) {
  // Extent 20: the tolerance is 2e-8. The last point of each row keeps its place in the sort.
  std::string text = "0,5,0\n10,5,0\n20.00000000001,5.00000000001,0\n";
  text += "0,15,0\n10,15,0\n19.99999999999,15.00000000001,0\n";
  ASSERT_TRUE(LoadText(text));
  EXPECT_EQ(map.cols(), 3);
  EXPECT_EQ(map.rows(), 2);
  EXPECT_TRUE(Boxes().empty());
  // The same offsets at 1e-6 are another grid line.
  text = "0,5,0\n10,5,0\n20,5.000001,0\n0,15,0\n10,15,0\n20,15,0\n";
  EXPECT_FALSE(LoadText(text));
  EXPECT_EQ(Boxes(), Strings{std::string(kNotAGridText)});
}

TEST_F(ZMapTest, IrregularGridIsRefusedBeforeTheCropWarning) {
  // Seven points: the crop would apply, but the kept six are no grid either.
  EXPECT_FALSE(LoadText("0,0,0\n1,0,0\n2,0,0\n0,1,0\n1.5,1,0\n2,1,0\n0,2,0\n"));
  EXPECT_EQ(Boxes(), Strings{std::string(kNotAGridText)});
}

TEST_F(ZMapTest, CrlfFileLoadsLikeLfFile) {
  const std::string lf = GridText({0, 2.5, 5, 7.5}, kY3, Warp);
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ZCorrectionMap from_lf;
  ASSERT_TRUE(from_lf.LoadZCorrectionFile(WriteFile(dir, "lf.txt", lf), 3, platform, host));
  ASSERT_TRUE(LoadText(crlf, 3));
  ASSERT_EQ(map.points().size(), from_lf.points().size());
  for (size_t i = 0; i < map.points().size(); ++i) {
    EXPECT_EQ(map.points()[i].x, from_lf.points()[i].x);
    EXPECT_EQ(map.points()[i].y, from_lf.points()[i].y);
    EXPECT_EQ(map.points()[i].z, from_lf.points()[i].z);
  }
  EXPECT_EQ(ZMapStatisticsText(map), ZMapStatisticsText(from_lf));
  EXPECT_EQ(map.norm_offset(), from_lf.norm_offset());
}

TEST_F(ZMapTest, BlankLinesBetweenRowsLoseNothing) {
  std::string text = "\n";
  for (double y : kY3) text += GridText(kX3, {y}, Warp) + "\n  \n";
  ASSERT_TRUE(LoadText(text));
  EXPECT_EQ(map.rows(), 3);
  EXPECT_EQ(map.cols(), 3);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ZMapTest, LongLinesGiveNoExtraPoints) {
  // Four points, each line with 300 characters of trailing text that would read as a point
  // if the line were split; an extra point would make the grid irregular.
  std::string text;
  for (const char* p : {"0,0,0", "1,0,0", "0,1,0", "1,1,0"}) {
    text += std::string(p) + std::string(300, ' ') + "5,5,5\n";
  }
  ASSERT_TRUE(LoadText(text));
  EXPECT_EQ(map.points().size(), 4u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ZMapTest, TooManyPointsAreRefused) {
  std::string text;
  text.reserve((kZMapMaxPoints + 1) * 6);
  for (size_t i = 0; i <= kZMapMaxPoints; ++i) text += "0,0,0\n";
  EXPECT_FALSE(LoadText(text));
  EXPECT_EQ(Boxes(), Strings{std::string(kTooLargeText)});
  EXPECT_FALSE(map.IsZCorrectionLoaded());
}

TEST_F(ZMapTest, UnopenableFileKeepsTheMap) {
  ASSERT_TRUE(LoadText(GridText(kX3, kY3, Warp)));
  EXPECT_FALSE(map.LoadZCorrectionFile(dir.File("missing.txt"), 0, platform, host));
  EXPECT_TRUE(map.IsZCorrectionLoaded());
  EXPECT_EQ(map.points().size(), 9u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ZMapTest, UnreadableFileDiscardsTheMapQuietly) {
#ifdef _WIN32
  GTEST_SKIP() << "a folder does not open as a file here";
#endif
  // A folder opens as a file but cannot be read.
  ASSERT_TRUE(LoadText(GridText(kX3, kY3, Warp)));
  EXPECT_FALSE(map.LoadZCorrectionFile(dir.path(), 0, platform, host));
  EXPECT_FALSE(map.IsZCorrectionLoaded());
  EXPECT_TRUE(Boxes().empty());  // the caller tells the user
}

TEST_F(ZMapTest, FailedLoadLeavesNoMapButKeepsTheStatistics) {
  ASSERT_TRUE(LoadText(GridText(kX3, kY3, Warp), kZNormalLowest));
  const double z_min = map.z_min(), z_max = map.z_max(), offset = map.norm_offset();
  const double above = map.dev_above();
  EXPECT_FALSE(LoadText("0,0,0\n"));
  EXPECT_FALSE(map.IsZCorrectionLoaded());
  EXPECT_TRUE(map.points().empty());
  EXPECT_TRUE(map.GetZCorrectionGrid().points.empty());
  EXPECT_EQ(map.ZCorrectionAt(10, 15), 0.0);
  EXPECT_EQ(map.cols(), 3);
  EXPECT_EQ(map.first().y, 5.0);
  EXPECT_EQ(map.last().x, 20.0);
  EXPECT_EQ(map.z_min(), z_min);
  EXPECT_EQ(map.z_max(), z_max);
  EXPECT_EQ(map.norm_offset(), offset);
  EXPECT_EQ(map.dev_above(), above);
  EXPECT_EQ(ZMapStatisticsText(map), "File not loaded.");
}

TEST_F(ZMapTest, SuccessfulLoadReplacesEverything) {
  ASSERT_TRUE(LoadText(GridText(kX3, kY3, Warp), kZNormalHighest));
  ASSERT_TRUE(LoadText(Square(1, 2, 3, 4)));
  EXPECT_EQ(map.cols(), 2);
  EXPECT_EQ(map.rows(), 2);
  EXPECT_EQ(map.norm_offset(), 0.0);
  EXPECT_EQ(map.z_max(), 4.0);
  EXPECT_EQ(map.ZCorrectionAt(0.5, 0.5), 2.5);
}

TEST_F(ZMapTest, DiscardFreesTheGridAndKeepsTheStatistics) {
  ASSERT_TRUE(LoadText(GridText(kX3, kY3, Warp)));
  ASSERT_NE(map.ZCorrectionAt(20, 25), 0.0);
  const std::string stats = ZMapStatisticsText(map);
  map.DiscardZCorrectionMap();
  EXPECT_FALSE(map.IsZCorrectionLoaded());
  EXPECT_TRUE(map.points().empty());
  EXPECT_EQ(map.ZCorrectionAt(20, 25), 0.0);
  EXPECT_EQ(map.rows(), 3);
  EXPECT_DOUBLE_EQ(map.z_max(), Warp(20, 5));
  EXPECT_EQ(ZMapStatisticsText(map), "File not loaded.");
  EXPECT_NE(stats, "File not loaded.");
}

TEST_F(ZMapTest, GridView) {
  EXPECT_TRUE(map.GetZCorrectionGrid().points.empty());
  ASSERT_TRUE(LoadText(GridText(kX3, kY3, Warp), kZNormalLowest));
  const ZCorrectionGrid grid = map.GetZCorrectionGrid();
  ASSERT_EQ(grid.points.size(), 9u);
  EXPECT_EQ(grid.points.data(), map.points().data());
  EXPECT_EQ(grid.cols, 3);
  EXPECT_EQ(grid.rows, 3);
  EXPECT_EQ(grid.z_min, 0.0);
  EXPECT_EQ(grid.z_max, map.z_max());
  EXPECT_GT(grid.z_max, 0.0);
}

TEST_F(ZMapTest, EnsureLoadsOnlyWithoutAMap) {
  const std::string path = WriteFile(dir, "zfile.txt", GridText(kX3, kY3, Warp));
  EXPECT_TRUE(map.EnsureZCorrectionLoaded(path, 0, platform, host));
  EXPECT_TRUE(map.IsZCorrectionLoaded());
  EXPECT_EQ(platform.status_texts.size(), 1u);
  // Loaded: not read again, so neither the changed file nor the mode matter.
  WriteFile(dir, "zfile.txt", "garbage\n");
  EXPECT_TRUE(map.EnsureZCorrectionLoaded(path, 2, platform, host));
  EXPECT_EQ(map.norm_offset(), 0.0);
  EXPECT_EQ(platform.status_texts.size(), 1u);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ZMapTest, EnsureTellsAboutAFailedLoad) {
  EXPECT_FALSE(map.EnsureZCorrectionLoaded(dir.File("zfile.txt"), 0, platform, host));
  EXPECT_EQ(Boxes(), Strings{std::string(kLoadErrorText)});
  const std::string path = WriteFile(dir, "short.txt", "0,0,0\n1,0,0\n");
  EXPECT_FALSE(map.EnsureZCorrectionLoaded(path, 0, platform, host));
  EXPECT_EQ(Boxes(), (Strings{std::string(kLoadErrorText), std::string(kTooFewPointsText),
                              std::string(kLoadErrorText)}));
  EXPECT_FALSE(map.IsZCorrectionLoaded());
}

// The statistics text as printf writes it, for comparison.
std::string PrintfStatistics(const ZCorrectionMap& m) {
  char text[512];
  std::snprintf(text, sizeof text,
                "Xrange: %7.3lf, %7.3lf\tYrange: %7.3lf, %7.3lf\tZrange: %7.3lf, %7.3lf\n"
                "Xpoints: %d, Ypoints: %d\tMax deviation from plane (above, below): %4.3lf, %4.3lf",
                m.first().x, m.last().x, m.first().y, m.last().y, m.z_min(), m.z_max(), m.cols(),
                m.rows(), m.dev_above(), m.dev_below());
  return text;
}

TEST_F(ZMapTest, StatisticsText) {
  EXPECT_EQ(ZMapStatisticsText(map), "File not loaded.");
  ASSERT_TRUE(LoadText("0,0,0\n10,0,0.5\n20,0,0\n0,10,0\n10,10,0\n20,10,0\n"));
  // Plane (by hand): 1/6 along y = 0, 0 along y = 10. The raised point lies 1/3 above it,
  // the other two of its row 1/6 below.
  EXPECT_EQ(ZMapStatisticsText(map),
            "Xrange:   0.000,  20.000\tYrange:   0.000,  10.000\tZrange:   0.000,   0.500\n"
            "Xpoints: 3, Ypoints: 2\tMax deviation from plane (above, below): 0.333, -0.167");
  EXPECT_EQ(ZMapStatisticsText(map), PrintfStatistics(map));
}

TEST_F(ZMapTest, StatisticsTextMatchesPrintfOnRandomMaps) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> coord(-5000.0, 5000.0);
  std::uniform_real_distribution<double> height(-3.0, 3.0);
  for (int round = 0; round < 50; ++round) {
    const double x0 = coord(rng), y0 = coord(rng);
    const auto z = [&](double, double) { return height(rng); };
    ASSERT_TRUE(LoadText(GridText({x0, x0 + 1.25, x0 + 7.5}, {y0, y0 + 0.0625}, z), round % 4));
    EXPECT_EQ(ZMapStatisticsText(map), PrintfStatistics(map));
  }
}

}  // namespace
}  // namespace kelvro::test
