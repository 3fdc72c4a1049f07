// The laser ramp curve editor as a model: curve files read and written, the mouse in the
// curve area (points found, inserted, dragged, swapped, deleted; cursors and readout), the
// pixels of the drawn area, and Reset, Load and Save with their dialogs and messages.
#include "ui/curve_editor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource_ids.h"
#include "sim/scripted_platform.h"
#include "tests/motion/laser_curve_points.h"
#include "tests/ui/ui_test_support.h"
#include "ui/curve_file.h"
#include "ui/pixel_image.h"

namespace kelvro {
namespace {

using Points = test::CurvePoints;
using test::MakeCurve;
using test::PointsOf;

const Points kStartCurve = {{0, 0}, {100, 100}};

// ---- Curve files ----

struct FileCase {
  const char* name;
  const char* text;
  Points loaded;  // empty: the load error
};

class CurveFileRead : public ::testing::TestWithParam<FileCase> {};

TEST_P(CurveFileRead, GivesAscendingPointsFromZeroToHundredOrNothing) {
  const FileCase& c = GetParam();
  const std::optional<LaserCurve> curve = ParseCurveFile(c.text);
  if (c.loaded.empty()) {
    EXPECT_FALSE(curve);
  } else {
    ASSERT_TRUE(curve);
    EXPECT_EQ(PointsOf(*curve), c.loaded);
  }
}

std::string TwentyFiveLines() {
  std::string text;
  for (int i = 1; i <= 25; ++i) text += std::to_string(i * 3) + " " + std::to_string(i) + "\n";
  return text;
}
const std::string kTwentyFive = TwentyFiveLines();

Points FirstTwentyOfTwentyFive() {
  Points points;
  for (int i = 1; i <= 20; ++i) points.emplace_back(i * 3, i);
  points.front().first = 0;
  points.back().first = 100;
  return points;
}

INSTANTIATE_TEST_SUITE_P(
    Files, CurveFileRead,
    ::testing::Values(
        FileCase{
            "EndsPinnedAndYLimited", "10 20\n50 60\n90 120\n", {{0, 20}, {50, 60}, {100, 100}}},
        FileCase{"OneLine", "40 50\n", {}}, FileCase{"Empty", "", {}},
        FileCase{"NoNumberAtAll", "nan nan\n1 2\n3 4\n", {}},
        FileCase{"OnlyXOfTheSecondPair", "12abc 5\n", {}},
        FileCase{"AnyWhiteSpaceCrLfAndSigns",
                 "  -5\t+7\r\n\r\n 25 1e1 \n 80\n 30.5\n",
                 {{0, 7}, {25, 10}, {100, 30.5}}},
        FileCase{"ASecondPairCutShortHasY0", "0 10 60 40 90", {{0, 10}, {60, 40}, {100, 0}}},
        FileCase{
            "StopsAtTheFirstTextThatIsNoNumber", "0 10\n30 20\nend\n70 80\n", {{0, 10}, {100, 20}}},
        FileCase{"DescendingXIsPutInOrder",
                 "0 10\n70 30\n40 50\n100 90\n",
                 {{0, 10}, {40, 50}, {70, 30}, {100, 90}}},
        FileCase{"EqualXMergedAtTheirMeanY",
                 "0 10\n50 20\n50 40\n100 90\n",
                 {{0, 10}, {50, 30}, {100, 90}}},
        FileCase{"AnXBelowZeroJoinsTheFirstPoint", "0 10\n-20 30\n100 90\n", {{0, 20}, {100, 90}}},
        FileCase{"TwentyPairsAtMost", kTwentyFive.c_str(), FirstTwentyOfTwentyFive()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CurveFile, IsWrittenWithSixDecimalsAndReadsBackToTheSamePoints) {
  const LaserCurve curve =
      MakeCurve({{0, 12.5}, {33.333333, 47.25}, {61.000001, 0}, {100, 99.999999}});
  const std::string text = FormatCurveFile(curve);
#ifdef _WIN32
  const char* eol = "\r\n";
#else
  const char* eol = "\n";
#endif
  EXPECT_EQ(text, std::string("0.000000 12.500000") + eol + "33.333333 47.250000" + eol +
                      "61.000001 0.000000" + eol + "100.000000 99.999999" + eol);
  const std::optional<LaserCurve> back = ParseCurveFile(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(PointsOf(*back), PointsOf(curve));
}

// ---- The mouse in the curve area ----

// A 300 x 300 area: 3 pixels a percent.
constexpr int kSide = 300;

CurveArea AreaWith(const Points& points) {
  CurveArea area;
  area.SetSize(kSide, kSide);
  area.SetCurve(MakeCurve(points));
  return area;
}

// Pixel of a point in percent, as the hit-test places it.
int Px(double x) {
  return static_cast<int>(x * kSide / 100);
}
int Py(double y) {
  return static_cast<int>(kSide - kSide * y / 100);
}

struct DragCase {
  const char* name;
  int point;
  int to_x, to_y;
  Points after;
  int dragged_after;
};

class CurveDrag : public ::testing::TestWithParam<DragCase> {};

TEST_P(CurveDrag, MovesPinsSwapsOrDeletesThePoint) {
  const DragCase& c = GetParam();
  CurveArea area = AreaWith({{0, 0}, {20, 30}, {40, 40}, {60, 70}, {100, 100}});
  const LaserCurve& curve = area.curve();
  const CurveMouseResult down = area.LeftDown(Px(curve.x[c.point]) + 2, Py(curve.y[c.point]) - 3);
  ASSERT_TRUE(down.capture);
  ASSERT_EQ(area.dragged(), c.point);
  const CurveMouseResult moved = area.Move(c.to_x, c.to_y);
  EXPECT_TRUE(moved.changed);
  EXPECT_EQ(PointsOf(area.curve()), c.after);
  EXPECT_EQ(area.dragged(), c.dragged_after);
  if (c.dragged_after >= 0) {
    const int d = c.dragged_after;
    EXPECT_EQ(moved.readout, (CurveReadout{static_cast<int>(c.after[d].first),
                                           static_cast<int>(c.after[d].second)}));
  }
  EXPECT_TRUE(area.LeftUp().release);
  EXPECT_EQ(area.dragged(), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Drags, CurveDrag,
    ::testing::Values(
        DragCase{"LastPointStaysAt100",
                 4,
                 30,
                 150,
                 {{0, 0}, {20, 30}, {40, 40}, {60, 70}, {100, 50}},
                 4},
        DragCase{"LastPointOutsideRightAndAbove",
                 4,
                 900,
                 -40,
                 {{0, 0}, {20, 30}, {40, 40}, {60, 70}, {100, 100}},
                 4},
        DragCase{"LastPointBelowTheArea",
                 4,
                 -20,
                 451,
                 {{0, 0}, {20, 30}, {40, 40}, {60, 70}, {100, 0}},
                 4},
        DragCase{"FirstPointStaysAt0",
                 0,
                 250,
                 240,
                 {{0, 20}, {20, 30}, {40, 40}, {60, 70}, {100, 100}},
                 0},
        DragCase{"MiddlePointWithinItsNeighbours",
                 2,
                 135,
                 75,
                 {{0, 0}, {20, 30}, {45, 75}, {60, 70}, {100, 100}},
                 2},
        DragCase{"MiddlePointPastOneNeighbourSwaps",
                 1,
                 150,
                 150,
                 {{0, 0}, {40, 40}, {50, 50}, {60, 70}, {100, 100}},
                 2},
        DragCase{"MiddlePointPastTwoNeighboursInOneMove",
                 1,
                 270,
                 30,
                 {{0, 0}, {40, 40}, {60, 70}, {90, 90}, {100, 100}},
                 3},
        DragCase{
            "BackwardsPastOne", 3, 90, 30, {{0, 0}, {20, 30}, {30, 90}, {40, 40}, {100, 100}}, 2},
        DragCase{
            "MiddlePointOutLeftIsDeleted", 2, 0, 150, {{0, 0}, {20, 30}, {60, 70}, {100, 100}}, -1},
        DragCase{"MiddlePointOutRightIsDeleted",
                 1,
                 300,
                 150,
                 {{0, 0}, {40, 40}, {60, 70}, {100, 100}},
                 -1},
        DragCase{
            "MiddlePointOutTopIsDeleted", 3, 150, -1, {{0, 0}, {20, 30}, {40, 40}, {100, 100}}, -1},
        DragCase{"MiddlePointOutBottomIsDeleted",
                 3,
                 150,
                 301,
                 {{0, 0}, {20, 30}, {40, 40}, {100, 100}},
                 -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CurveArea, ADragOntoANeighboursXKeepsTheXStrictlyAscending) {
  CurveArea area = AreaWith({{0, 0}, {20, 30}, {40, 40}, {100, 100}});
  ASSERT_TRUE(area.LeftDown(Px(20), Py(30)).capture);
  area.Move(Px(40), 100);  // exactly on the next point's X
  const LaserCurve& c = area.curve();
  ASSERT_EQ(c.count, 4);
  for (int i = 1; i < c.count; ++i) EXPECT_LT(c.x[i - 1], c.x[i]) << i;
  EXPECT_NEAR(c.x[1], 40.0, 0.01);
}

TEST(CurveArea, AClickOnTheDiagonalInsertsAPointAtTheWholePercentAndDragsIt) {
  CurveArea area = AreaWith(kStartCurve);
  // 137 pixels of 300 are 45.67 %; the diagonal there is 163 pixels down.
  const CurveMouseResult down = area.LeftDown(137, 163);
  EXPECT_TRUE(down.capture);
  EXPECT_TRUE(down.changed);
  EXPECT_EQ(PointsOf(area.curve()), (Points{{0, 0}, {45, 137 * 100.0 / 300}, {100, 100}}));
  EXPECT_EQ(area.dragged(), 1);
}

TEST(CurveArea, AClickAwayFromTheCurveOrAtAnExistingXInsertsNothing) {
  CurveArea area = AreaWith({{0, 0}, {45, 60}, {100, 100}});
  // Far from the curve.
  EXPECT_FALSE(area.LeftDown(240, 280).capture);
  // On the curve at 45.33 %, 12 pixels left of the point at 45 %... of its reach: not a hit,
  // but the whole percent is that point's X.
  const int x = 136;
  ASSERT_EQ(x * 100 / kSide, 45);
  const int y = kSide - 60 * 3 - 11;
  ASSERT_EQ(area.PointAt(x, y), -1);
  ASSERT_TRUE(area.NearCurve(x, y));
  EXPECT_FALSE(area.LeftDown(x, y).capture);
  EXPECT_EQ(area.curve().count, 3);
}

TEST(CurveArea, TheTwentyFirstPointIsRefused) {
  // 20 points on the diagonal: one at 0 %, the others from 50 % on.
  Points twenty = {{0, 0}};
  for (int i = 0; i <= 18; ++i) twenty.emplace_back(50 + i * 50.0 / 18, 50 + i * 50.0 / 18);
  CurveArea area = AreaWith(twenty);
  // On the diagonal at 25 %, out of every point's reach.
  ASSERT_EQ(area.PointAt(75, 225), -1);
  ASSERT_TRUE(area.NearCurve(75, 225));
  const CurveMouseResult down = area.LeftDown(75, 225);
  EXPECT_FALSE(down.capture);
  EXPECT_FALSE(down.changed);
  EXPECT_EQ(area.curve().count, 20);
  // With one point fewer the same click inserts.
  twenty.erase(twenty.begin() + 5);
  CurveArea nineteen = AreaWith(twenty);
  EXPECT_TRUE(nineteen.LeftDown(75, 225).changed);
  EXPECT_EQ(nineteen.curve().count, 20);
}

TEST(CurveArea, ARightClickDeletesMiddlePointsOnly) {
  CurveArea area = AreaWith({{0, 0}, {50, 20}, {100, 100}});
  EXPECT_FALSE(area.RightDown(Px(0), Py(0) - 1).changed);
  EXPECT_FALSE(area.RightDown(Px(100) - 1, Py(100)).changed);
  EXPECT_FALSE(area.RightDown(30, 30).changed);
  EXPECT_TRUE(area.RightDown(Px(50) + 9, Py(20) - 10).changed);
  EXPECT_EQ(PointsOf(area.curve()), kStartCurve);
}

TEST(CurveArea, TheReachOfAPointIsTwentyPixelsSquareRightAndBottomEdgesOutside) {
  CurveArea area = AreaWith({{0, 0}, {50, 20}, {100, 100}});
  const int px = 150, py = 240;
  struct Probe {
    int x, y, hit;
  };
  for (const Probe& p : {Probe{px - 10, py - 10, 1}, Probe{px + 9, py + 9, 1},
                         Probe{px + 10, py, -1}, Probe{px, py + 10, -1}, Probe{px - 11, py, -1}}) {
    EXPECT_EQ(area.PointAt(p.x, p.y), p.hit) << p.x << "," << p.y;
  }
}

TEST(CurveArea, AMoveWithoutADragGivesTheCursorAndTheReadout) {
  CurveArea area = AreaWith({{0, 0}, {50, 20}, {100, 100}});
  struct Probe {
    int x, y;
    CurveCursor cursor;
    CurveReadout readout;
  };
  for (const Probe& p :
       {Probe{153, 238, CurveCursor::kPoint, {51, 20}},
        Probe{60, 285, CurveCursor::kCurve, {20, 5}}, Probe{60, 150, CurveCursor::kArrow, {20, 50}},
        Probe{299, 0, CurveCursor::kPoint, {99, 100}}}) {
    const CurveMouseResult r = area.Move(p.x, p.y);
    EXPECT_EQ(r.cursor, p.cursor) << p.x << "," << p.y;
    EXPECT_EQ(r.readout, p.readout) << p.x << "," << p.y;
    EXPECT_FALSE(r.changed);
  }
  EXPECT_EQ(CurveReadoutText({51, 20}), " Feed: 51 %\r\n Duty: 20 %");
}

// ---- The drawn area ----

TEST(CurveArea, DrawsGridDiagonalTheSplineAtEveryColumnThePointsAndTheTexts) {
  constexpr int kW = 240;
  CurveArea area;
  area.SetSize(kW, kW);
  area.SetFeedLabelSize(120, 13);
  const LaserCurve curve = MakeCurve({{0, 5}, {25, 60}, {55, 40}, {80, 97}, {100, 80}});
  area.SetCurve(curve);
  PixelImage image(kW, kW, MakeColour(1, 2, 3));
  PixelCanvas canvas(image);
  area.Draw(canvas);

  // Where the polyline must pass: one vertex per column from the spline itself.
  const PreparedLaserCurve spline = BuildLaserCurve(curve);
  std::vector<int> ys(kW);
  for (int i = 0; i < kW; ++i) {
    const double v = std::clamp(LaserCurveAt(spline, i * 100.0 / kW), 0.0, 100.0);
    ys[i] = static_cast<int>(kW - v * kW / 100 + 0.5);
  }
  const auto near_a_point = [&](int column) {
    for (int k = 0; k < curve.count; ++k) {
      if (std::abs(column - static_cast<int>(curve.x[k] * kW / 100 + 0.5)) <= 3) return true;
    }
    return false;
  };
  for (int i = 0; i < kW; ++i) {
    EXPECT_EQ(image.at(i, ys[i]), kBlack) << "column " << i;
    if (near_a_point(i)) continue;
    // The line between neighbouring vertices stays between them.
    const int low = std::min({ys[i], ys[std::max(i - 1, 0)], ys[std::min(i + 1, kW - 1)]});
    const int high = std::max({ys[i], ys[std::max(i - 1, 0)], ys[std::min(i + 1, kW - 1)]});
    for (int y = 0; y < kW; ++y) {
      if (y >= low && y <= high) continue;
      EXPECT_NE(image.at(i, y), kBlack) << "column " << i << " row " << y;
    }
  }
  // The second point's square: outline from (60 - 3, 96 - 3) to (60 + 3, 96 + 3).
  for (int d = -3; d <= 3; ++d) {
    EXPECT_EQ(image.at(60 + d, 93), kBlack);
    EXPECT_EQ(image.at(60 + d, 99), kBlack);
    EXPECT_EQ(image.at(57, 96 + d), kBlack);
    EXPECT_EQ(image.at(63, 96 + d), kBlack);
  }
  EXPECT_NE(image.at(58, 94), kBlack);
  // Grid lines at 24, 48, ... pixels; between them white, the fill colour gone.
  EXPECT_EQ(image.at(24, 200), kCurveGridColour);
  EXPECT_EQ(image.at(216, 200), kCurveGridColour);
  EXPECT_EQ(image.at(200, 216), kCurveGridColour);  // y = 240 - 24
  EXPECT_EQ(image.at(10, 24), kCurveGridColour);
  EXPECT_EQ(image.at(190, 130), kWhite);
  // The diagonal from the bottom-left corner up to the top-right one.
  EXPECT_EQ(image.at(0, kW - 1), kCurveGridColour);
  EXPECT_EQ(image.at(100, kW - 101), kCurveGridColour);
  EXPECT_EQ(std::count(image.pixels.begin(), image.pixels.end(), MakeColour(1, 2, 3)), 0);

  ASSERT_EQ(canvas.texts.size(), 2u);
  EXPECT_EQ(canvas.texts[0].text, "Duty cycle [%]");
  EXPECT_EQ(canvas.texts[0].box.left, 2);
  EXPECT_EQ(canvas.texts[0].box.top, 2);
  EXPECT_EQ(canvas.texts[1].text, "[%] of nominal feedrate");
  EXPECT_EQ(canvas.texts[1].box, (PixelRect{kW - 122, kW - 15, kW - 2, kW - 2}));
}

// ---- The dialog: Reset, Load, Save, the remembered name ----

class CurveEditorTest : public ::testing::Test {
 protected:
  CurveEditorTest() : editor(platform, [this]() -> const HostPlanner* { return planner.get(); }) {
    planner->axes[2].max_velocity = 40.0;
    editor.Open(MakeCurve({{0, 10}, {50, 50}, {100, 90}}), 1200.0);
    editor.set_redraw([this] { ++redraws; });
  }
  ~CurveEditorTest() override {
    for (const std::string& path : written) std::remove(path.c_str());
  }
  std::string Scratch(const char* name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << text;
    written.push_back(path);
    return path;
  }
  void Click(int control) { editor.OnCommand(controls, control, runner); }

  std::unique_ptr<HostPlanner> planner = std::make_unique<HostPlanner>();
  sim::ScriptedPlatform platform;
  CurveEditorDialog editor;
  test::ScriptedRunner runner;
  test::MapControls controls;
  std::vector<std::string> written;
  int redraws = 0;
};

TEST_F(CurveEditorTest, ResetGivesTheStartCurve) {
  Click(IDC_CURVE_RESET);
  EXPECT_EQ(PointsOf(editor.curve()), kStartCurve);
  EXPECT_EQ(redraws, 1);
}

TEST_F(CurveEditorTest, LoadTakesTheFileAndRemembersItsNameForSave) {
  const std::string path = Scratch("ramp.crv", "10 20\n50 60\n90 120\n");
  const std::string saved = ::testing::TempDir() + "saved.crv";
  written.push_back(saved);
  runner.file_answers = {path, saved};
  Click(IDC_CURVE_LOAD);
  EXPECT_EQ(PointsOf(editor.curve()), (Points{{0, 20}, {50, 60}, {100, 100}}));
  EXPECT_TRUE(platform.message_boxes.empty());
  EXPECT_EQ(editor.file_name(), path);
  Click(IDC_CURVE_SAVE);
  ASSERT_EQ(runner.file_requests.size(), 2u);
  const FileDialogRequest& open = runner.file_requests[0];
  const FileDialogRequest& save = runner.file_requests[1];
  EXPECT_FALSE(open.save);
  EXPECT_EQ(open.default_extension, ".dat");
  EXPECT_EQ(open.file_name, "");
  EXPECT_EQ(open.filter, "*.crv|*.crv|All files(*.*)|*.*||");
  EXPECT_TRUE(save.save);
  EXPECT_EQ(save.default_extension, ".crv");
  EXPECT_EQ(save.file_name, path);
  EXPECT_EQ(save.filter, open.filter);
  EXPECT_EQ(editor.file_name(), saved);
  // What Save wrote loads back to the same points.
  Click(IDC_CURVE_RESET);
  runner.file_answers.push_back(saved);
  Click(IDC_CURVE_LOAD);
  EXPECT_EQ(PointsOf(editor.curve()), (Points{{0, 20}, {50, 60}, {100, 100}}));
  EXPECT_TRUE(platform.message_boxes.empty());
}

TEST_F(CurveEditorTest, ABadOrMissingFileGivesTheLoadErrorAndTheStartCurve) {
  for (const std::string& path :
       {Scratch("one_line.crv", "30 40\n"), ::testing::TempDir() + "no_such_file.crv"}) {
    editor.Open(MakeCurve({{0, 10}, {50, 50}, {100, 90}}), 1200.0);
    platform.message_boxes.clear();
    runner.file_answers.push_back(path);
    Click(IDC_CURVE_LOAD);
    EXPECT_EQ(platform.message_boxes, std::vector<std::string>{"Loadin error - Invalid file."});
    EXPECT_EQ(PointsOf(editor.curve()), kStartCurve) << path;
    EXPECT_EQ(editor.file_name(), path);
  }
}

TEST_F(CurveEditorTest, ACancelledFileDialogChangesNothing) {
  Click(IDC_CURVE_LOAD);
  Click(IDC_CURVE_SAVE);
  EXPECT_EQ(runner.file_requests.size(), 2u);
  EXPECT_EQ(PointsOf(editor.curve()), (Points{{0, 10}, {50, 50}, {100, 90}}));
  EXPECT_EQ(editor.file_name(), "");
  EXPECT_TRUE(platform.message_boxes.empty());
  EXPECT_EQ(redraws, 0);
}

TEST_F(CurveEditorTest, AFileThatCannotBeWrittenGivesItsMessageAndKeepsTheCurve) {
  const std::string path = ::testing::TempDir() + "no_such_folder/ramp.crv";
  runner.file_answers = {path};
  Click(IDC_CURVE_SAVE);
  EXPECT_EQ(platform.message_boxes,
            std::vector<std::string>{"Saving error - The file could not be written."});
  EXPECT_EQ(PointsOf(editor.curve()), (Points{{0, 10}, {50, 50}, {100, 90}}));
  EXPECT_EQ(editor.file_name(), path);
}

TEST_F(CurveEditorTest, TheHighestNominalFeedIsSixtyTimesTheFastestAxis) {
  EXPECT_EQ(editor.highest_feed(), 2400.0);
  planner->axes[4].max_velocity = 52.5;
  editor.Open(LaserCurve{}, 1000.0);
  EXPECT_EQ(editor.highest_feed(), 3150.0);
  controls.SetText(IDC_CURVE_FEED, "3150.5");
  EXPECT_EQ(editor.Exchange(controls, ExchangeDirection::kSave).message,
            "Please enter a number between 1 and 3150.");
  EXPECT_EQ(editor.nominal_feed(), 1000.0);
  controls.SetText(IDC_CURVE_FEED, "3150");
  EXPECT_TRUE(editor.Exchange(controls, ExchangeDirection::kSave).ok);
  EXPECT_EQ(editor.nominal_feed(), 3150.0);
}

}  // namespace
}  // namespace kelvro
