// The Input filter page's per-pin list as a model: what each pin shows from the host's
// records, the editor's number rule, the geometry and hit-testing, the in-place editor and
// the keys, and the pixels of a drawn row.
#include "ui/pin_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/pixel_image.h"

namespace kelvro {
namespace {

// ---- Descriptions from the host's records ----

void Wire(HostMachineState& machine, int record, int pin, int port = 1) {
  HostInputSignal& input = machine.inputs[record];
  input.enabled = 1;
  input.pin = static_cast<uint8_t>(pin);
  input.port = static_cast<uint8_t>(port);
}

void WireEncoder(HostMachineState& machine, int record, int a, int b, int port_a = 1,
                 int port_b = 1) {
  HostEncoder& encoder = machine.encoders[record];
  encoder.enabled = 1;
  encoder.a_pin = static_cast<uint8_t>(a);
  encoder.b_pin = static_cast<uint8_t>(b);
  encoder.a_port = static_cast<uint8_t>(port_a);
  encoder.b_port = static_cast<uint8_t>(port_b);
}

const PinDescription kUnusedPin{"unused", MakeColour(150, 150, 150)};
PinDescription Used(const char* text) {
  return {text, MakeColour(0, 0, 150)};
}

TEST(PinDescriptions, NamesInRecordOrderThenTheEncodersOtherwiseUnusedInGray) {
  auto machine = std::make_unique<HostMachineState>();
  HostMachineState& m = *machine;
  Wire(m, 2, 3);  // HomeX, wired before LimitX+ on the same pin
  Wire(m, 0, 3);  // LimitX+
  WireEncoder(m, 0, 7, 8);
  Wire(m, 5, 8);   // HomeY on an encoder pin
  Wire(m, 22, 9);  // Probe
  // Not shown: a disabled signal, another port, an emulated one, pins 0 and 15.
  m.inputs[25] = {0, 10, 1, 0, {}, 0, 0};
  Wire(m, 26, 11, 2);
  Wire(m, 27, 12);
  m.inputs[27].emulated = 1;
  Wire(m, 28, 0);
  Wire(m, 44, 15);
  // The second enabled encoder counts although its port B is not 1; the third is never read.
  WireEncoder(m, 3, 13, 14, 1, 2);
  WireEncoder(m, 5, 1, 2);
  const auto pins = DescribePins(&m);
  const std::vector<PinDescription> expected = {kUnusedPin,  // 1: only the third encoder
                                                kUnusedPin,  // 2
                                                Used("LimitX+, HomeX"),  // 3
                                                kUnusedPin,
                                                kUnusedPin,
                                                kUnusedPin,
                                                Used("Encoder/MPG"),         // 7
                                                Used("HomeY, Encoder/MPG"),  // 8
                                                Used("Probe"),               // 9
                                                kUnusedPin,
                                                kUnusedPin,
                                                kUnusedPin,
                                                kUnusedPin,
                                                kUnusedPin};
  EXPECT_EQ(std::vector<PinDescription>(pins.begin(), pins.end()), expected);
}

TEST(PinDescriptions, WithoutTheHostEveryPinIsUnused) {
  for (const PinDescription& pin : DescribePins(nullptr)) EXPECT_EQ(pin, kUnusedPin);
}

TEST(PinDescriptions, TheNamesTableKeepsTheHostsSpellings) {
  EXPECT_STREQ(kInputFunctionNames[0], "LimitX+");
  EXPECT_STREQ(kInputFunctionNames[6], "LimitsZ+");
  EXPECT_STREQ(kInputFunctionNames[24], "Limit override");
  EXPECT_STREQ(kInputFunctionNames[43], "OEM trigger15");
  EXPECT_STREQ(kInputFunctionNames[52], "JOGA-");
}

// ---- The editor's number rule ----

TEST(PinTimeText, LeadingNumberClampedToTheRange) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"7", 7},         {" 42abc", 42}, {"+15", 15},      {"-5", 0},
      {"", 0},          {"abc", 0},     {"99999", 10000}, {"10000", 10000},
      {"10001", 10000}, {"\t0010", 10}, {"- 3", 0},       {"99999999999999999999999", 10000}};
  for (const auto& [text, value] : cases) EXPECT_EQ(ClampedPinTime(text), value) << text;
}

// ---- Geometry, input and the editor ----

class PinListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list.SetRowHeight(13);  // a small edit: the rows are 20 high
    list.LayOut(400, 17);   // W = 383: 57, 57, 153, 116
    list.SetViewport(20, 0, 0);
  }
  // A point inside `column` of `row` (row 0 starts below the 20-pixel header).
  static int X(int column) { return std::array<int, 4>{20, 80, 200, 300}[column]; }
  static int Y(int row) { return 20 + 20 * row + 10; }

  std::array<int, kPinRowCount> enable{};
  std::array<int, kPinRowCount> time{};
  PinList list{enable, time};
};

TEST_F(PinListTest, ColumnsRowsAndTheCellsInsideTheirDividers) {
  EXPECT_EQ(list.row_height(), 20);
  EXPECT_EQ(list.column_widths(), (std::array<int, 4>{57, 57, 153, 116}));
  list.SetRowHeight(24);
  EXPECT_EQ(list.row_height(), 24);
  list.SetRowHeight(20);
  // Dividers at 56, 113 and 266 belong to no column.
  const std::vector<std::pair<int, std::optional<int>>> columns = {
      {0, std::nullopt},   {1, 0},   {55, 0},  {56, std::nullopt},  {57, 1},  {112, 1},
      {113, std::nullopt}, {114, 2}, {265, 2}, {266, std::nullopt}, {267, 3}, {381, 3}};
  for (const auto& [x, column] : columns) EXPECT_EQ(list.ColumnAt(x), column) << x;
  EXPECT_EQ(list.RowAt(100, 19), std::nullopt) << "the header";
  EXPECT_EQ(list.RowAt(100, 20), 0);
  EXPECT_EQ(list.RowAt(100, 20 + 20 * 13 + 19), 13);
  EXPECT_EQ(list.RowAt(100, 20 + 20 * 14), std::nullopt) << "below the last row";
  // Scrolled down by three rows and right by 50 pixels.
  list.SetViewport(20, 3, 50);
  EXPECT_EQ(list.RowAt(100, 25), 3);
  EXPECT_EQ(list.ColumnAt(10), 1);
  EXPECT_EQ(list.RowRect(3), (PixelRect{-50, 20, 333, 40}));
}

TEST_F(PinListTest, TypingADigitOnAFocusedTimeCellOpensTheEditorWithIt) {
  list.Select(4);
  EXPECT_FALSE(list.KeyDown('7')) << "the Enable column is focused";
  EXPECT_FALSE(list.editing());
  EXPECT_TRUE(list.KeyDown(kKeyRight));
  EXPECT_EQ(list.focused_column(), kColumnTime);
  EXPECT_TRUE(list.KeyDown('7'));
  EXPECT_EQ(list.edited_row(), 4);
  EXPECT_EQ(list.editor_text(), "7");
  EXPECT_EQ(list.EditorRect(), (PixelRect{114, 101, 265, 119}));
  list.SetEditorText("99999");
  EXPECT_TRUE(list.EditorKey(kKeyReturn));
  EXPECT_FALSE(list.editing());
  EXPECT_EQ(time[4], 10000);
}

TEST_F(PinListTest, EscapeKeepsTheOldTime) {
  time[2] = 250;
  list.Click(X(kColumnTime), Y(2));
  EXPECT_EQ(list.editor_text(), "250") << "without a typed digit: the row's time";
  list.SetEditorText("7");
  EXPECT_TRUE(list.EditorKey(kKeyEscape));
  EXPECT_FALSE(list.editing());
  EXPECT_EQ(time[2], 250);
}

TEST_F(PinListTest, AClickOnAnotherRowCommitsTheEditFirst) {
  list.Click(X(kColumnTime), Y(1));
  list.SetEditorText("33");
  const int session = list.edit_session();
  list.Click(X(kColumnTime), Y(5));
  EXPECT_EQ(time[1], 33);
  EXPECT_EQ(list.edited_row(), 5);
  EXPECT_GT(list.edit_session(), session);
  list.SetEditorText("44");
  list.Click(X(kColumnInfo), Y(6));  // no cell to edit: the edit is committed all the same
  EXPECT_EQ(time[5], 44);
  EXPECT_FALSE(list.editing());
  EXPECT_EQ(list.focused_row(), 6);
  list.Click(X(kColumnTime), Y(0));
  list.SetEditorText("12");
  list.Click(X(kColumnTime), 5);  // on the header: still commits
  EXPECT_EQ(time[0], 12);
}

TEST_F(PinListTest, FocusLossScrollingAndDividerDragsCommit) {
  const std::vector<void (PinList::*)()> ends = {&PinList::FocusLost, &PinList::Scrolled,
                                                 &PinList::DividerDrag};
  int value = 100;
  for (auto end : ends) {
    list.Click(X(kColumnTime), Y(3));
    list.SetEditorText(std::to_string(++value));
    (list.*end)();
    EXPECT_FALSE(list.editing());
    EXPECT_EQ(time[3], value);
  }
}

TEST_F(PinListTest, TheEditorFollowsItsCellAndHidesAboveTheTop) {
  list.Click(X(kColumnTime), Y(2));
  list.SetColumnWidths({80, 57, 100, 116});
  EXPECT_EQ(list.EditorRect(), (PixelRect{137, 61, 235, 79}));
  list.SetViewport(20, 1, 0);
  EXPECT_EQ(list.EditorRect(), (PixelRect{137, 41, 235, 59}));
  list.SetViewport(20, 3, 0);
  EXPECT_EQ(list.EditorRect(), std::nullopt);
}

TEST_F(PinListTest, SpaceTogglesEnableOnlyInTheEnableColumn) {
  EXPECT_FALSE(list.KeyDown(kKeySpace)) << "no focused row";
  list.Select(6);
  EXPECT_TRUE(list.KeyDown(kKeySpace));
  EXPECT_EQ(enable[6], 1);
  EXPECT_TRUE(list.KeyDown(kKeyRight));
  EXPECT_FALSE(list.KeyDown(kKeySpace));
  EXPECT_EQ(enable[6], 1);
  EXPECT_TRUE(list.KeyDown(kKeyLeft));
  EXPECT_EQ(list.focused_column(), kColumnEnable);
  EXPECT_TRUE(list.KeyDown(kKeySpace));
  EXPECT_EQ(enable[6], 0);
  // A click inside the Enable cell toggles and focuses that column.
  list.Click(X(kColumnTime), Y(7));
  list.Cancel();
  list.Click(X(kColumnEnable), Y(7));
  EXPECT_EQ(enable[7], 1);
  EXPECT_EQ(list.focused_column(), kColumnEnable);
  list.Click(113, Y(7));  // on the divider: nothing
  EXPECT_EQ(enable[7], 1);
  EXPECT_FALSE(list.editing());
}

// ---- A drawn row ----

TEST_F(PinListTest, ARowIsDrawnAsItsCellsWithGridTextsIconAndFocusFrame) {
  auto machine = std::make_unique<HostMachineState>();
  Wire(*machine, 0, 3);
  list.Describe(machine.get());
  enable[2] = 1;
  time[2] = 150;
  list.KeyDown(kKeyRight);  // the time column is focused
  const Colour face = MakeColour(212, 208, 200);
  const Colour grid = MakeColour(180, 180, 180);
  PixelImage image(400, 22, MakeColour(1, 2, 3));
  PixelCanvas canvas(image, face);
  list.PaintRow(2, {0, 0, 383, 20}, /*selected=*/true, canvas);
  EXPECT_EQ(list.focused_row(), 2) << "the selected row is the focused one";
  EXPECT_EQ(image.at(10, 5), face);
  EXPECT_EQ(image.at(55, 19), face);
  EXPECT_EQ(image.at(57, 1), kWhite);
  EXPECT_EQ(image.at(382, 10), kWhite);
  for (int x : {0, 200, 382}) {
    EXPECT_EQ(image.at(x, 0), x >= 113 && x <= 266 ? kBlack : grid) << x;
    EXPECT_EQ(image.at(x, 20), x >= 113 && x <= 266 ? kBlack : grid) << x;
  }
  EXPECT_EQ(image.at(56, 10), grid);
  EXPECT_EQ(image.at(113, 10), kBlack) << "the focus frame over the divider";
  EXPECT_EQ(image.at(266, 10), kBlack);
  EXPECT_EQ(image.at(383, 10), MakeColour(1, 2, 3)) << "nothing right of the row";
  using T = PixelCanvas::DrawnText;
  ASSERT_EQ(canvas.texts.size(), 3u);
  const auto same = [](const T& a, const T& b) {
    return a.box == b.box && a.text == b.text && a.colour == b.colour && a.align == b.align;
  };
  EXPECT_TRUE(same(canvas.texts[0], T{{0, 0, 56, 20}, "3", kBlack, TextAlign::kCentre}));
  EXPECT_TRUE(same(canvas.texts[1], T{{113, 0, 266, 20}, "150", kBlack, TextAlign::kCentre}));
  EXPECT_TRUE(
      same(canvas.texts[2], T{{272, 0, 382, 20}, "LimitX+", kPinUsedColour, TextAlign::kLeft}));
  ASSERT_EQ(canvas.icons.size(), 1u);
  EXPECT_EQ(canvas.icons[0].id, 1003);
  EXPECT_EQ(canvas.icons[0].x, 76);
  EXPECT_EQ(canvas.icons[0].y, 2);
  // Not selected, disabled and unused: no frame, the other icon, gray info.
  enable[3] = 0;
  PixelImage plain(400, 22);
  PixelCanvas plain_canvas(plain, face);
  list.PaintRow(3, {0, 0, 383, 20}, false, plain_canvas);
  EXPECT_EQ(plain.at(113, 10), grid);
  EXPECT_EQ(plain.at(200, 0), grid);
  EXPECT_EQ(plain_canvas.icons[0].id, 1004);
  EXPECT_EQ(plain_canvas.texts[2].text, "unused");
  EXPECT_EQ(plain_canvas.texts[2].colour, kPinUnusedColour);
}

}  // namespace
}  // namespace kelvro
