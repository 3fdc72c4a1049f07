// The status window's content: every line's text for the reports that matter, the caches
// that keep the mode, sequence, THC, threading and encoder lines from being rewritten, the
// offline view, and the indicator's boxes and colours, with expected values worked out by
// hand from the window's formats and formulas.
#include "ui/status_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kelvro {
namespace {

constexpr int kLink = IDC_STATUS_LINK;
constexpr int kSequence = IDC_STATUS_SEQUENCE;
constexpr int kBuffer = IDC_STATUS_BUFFER;
constexpr int kThc = IDC_STATUS_THC;
constexpr int kThreading = IDC_STATUS_THREADING;
constexpr int kAnalog = IDC_STATUS_ANALOG;
constexpr int kEncoders = IDC_STATUS_ENCODERS;
constexpr int kCounterC = IDC_STATUS_COUNTER_C;

bool Wrote(const std::vector<int>& written, int id) {
  return std::find(written.begin(), written.end(), id) != written.end();
}

StatusSnapshot Report() {
  StatusSnapshot s;
  s.packet.mode = 2;
  s.packet.sequence = 0;
  s.packet.positions = {10, -20, 30, -40, 50, -60};
  s.packet.thc_z_offset = 777;
  return s;
}

struct LineCase {
  const char* name;
  void (*change)(StatusSnapshot&);
  int id;
  const char* text;
};

const LineCase kLineCases[] = {
    {"mode name", [](StatusSnapshot& s) { s.packet.mode = 6; }, kLink, "Online, mode= RDOWN"},
    {"mode beyond the names", [](StatusSnapshot& s) { s.packet.mode = 9; }, kLink,
     "Online, mode= 9"},
    {"mode 255", [](StatusSnapshot& s) { s.packet.mode = 255; }, kLink, "Online, mode= 255"},
    {"sequence name", [](StatusSnapshot& s) { s.packet.sequence = 8; }, kSequence, "Sequence: MPG"},
    {"sequence beyond the names", [](StatusSnapshot& s) { s.packet.sequence = 9; }, kSequence,
     "Sequence: 9"},
    {"buffer 1234 ms", [](StatusSnapshot& s) { s.packet.buffer_fill = 1234; }, kBuffer,
     "Buffer: 123 % (1234 ms)"},
    {"buffer full", [](StatusSnapshot& s) { s.packet.buffer_fill = 1000; }, kBuffer,
     "Buffer: 100 % (1000 ms)"},
    {"buffer 9 ms", [](StatusSnapshot& s) { s.packet.buffer_fill = 9; }, kBuffer,
     "Buffer: 0 % (9 ms)"},
    {"analog top", [](StatusSnapshot& s) { s.packet.analog_raw = 65535; }, kAnalog,
     "Analog: 3.300 V"},
    {"analog zero", [](StatusSnapshot& s) { s.packet.analog_raw = 0; }, kAnalog, "Analog: 0.000 V"},
    // 20000 x 3.3 / 65535 = 1.00709...
    {"analog 20000", [](StatusSnapshot& s) { s.packet.analog_raw = 20000; }, kAnalog,
     "Analog: 1.007 V"},
    {"THC on with arc", [](StatusSnapshot& s) { s.packet.flags = 0x0A; }, kThc, "THC mode: ON/Arc"},
    {"THC off, down", [](StatusSnapshot& s) { s.packet.flags = 0x20; }, kThc, "THC mode: OFF/Down"},
    {"THC every bit", [](StatusSnapshot& s) { s.packet.flags = 0x3A; }, kThc,
     "THC mode: ON/Arc/Up/Down"},
    {"THC ignores other flags", [](StatusSnapshot& s) { s.packet.flags = 0xC5; }, kThc,
     "THC mode: OFF"},
    {"Z correction",
     [](StatusSnapshot& s) {
       s.zcorr_active = true;
       s.z_original = -1.23456;
     },
     kThc, "Zcorr= ON, Zorig=-1.2346"},
    {"Z correction, padded",
     [](StatusSnapshot& s) {
       s.zcorr_active = true;
       s.z_original = 2.5;
     },
     kThc, "Zcorr= ON, Zorig=2.5000"},
    {"threading", [](StatusSnapshot& s) { s.threading = true; }, kThreading, "Threading: ON"},
    {"no threading", [](StatusSnapshot&) {}, kThreading, "Threading: OFF"},
    {"encoders",
     [](StatusSnapshot& s) {
       s.packet.enc1 = -5;
       s.packet.enc2 = 70000;
     },
     kEncoders, "enc1=-5, enc2=70000"},
    {"C counter", [](StatusSnapshot&) {}, kCounterC, "-60"},
    {"spindle counter in step/dir mode", [](StatusSnapshot& s) { s.spindle_axis = true; },
     kCounterC, "777"},
    {"X counter", [](StatusSnapshot&) {}, IDC_STATUS_COUNTER_X, "10"},
    {"B counter", [](StatusSnapshot&) {}, IDC_STATUS_COUNTER_B, "50"},
};

TEST(StatusViewTest, EveryLineInItsFormat) {
  for (const LineCase& c : kLineCases) {
    StatusSnapshot s = Report();
    c.change(s);
    StatusView view;
    const std::vector<int> written = view.ShowOnline(s);
    EXPECT_TRUE(Wrote(written, c.id)) << c.name;
    EXPECT_EQ(view.Text(c.id), c.text) << c.name;
  }
}

TEST(StatusViewTest, StartsOfflineWithZeroCounters) {
  const StatusView view;
  EXPECT_EQ(view.Text(kLink), "OFFLINE, press RESET");
  EXPECT_EQ(view.Text(kCounterC), "0");
  EXPECT_EQ(view.Text(kBuffer), "");
  EXPECT_FALSE(view.online());
}

TEST(StatusViewTest, SameModeAndSequenceRewriteNeitherLine) {
  StatusView view;
  StatusSnapshot s = Report();
  s.packet.flags = 0x02;
  s.packet.enc1 = 3;
  const std::vector<int> first = view.ShowOnline(s);
  for (int id : StatusView::kLines) EXPECT_TRUE(Wrote(first, id)) << id;
  s.packet.buffer_fill = 500;
  s.packet.positions[0] = 11;
  const std::vector<int> second = view.ShowOnline(s);
  // Rewritten only on change.
  for (int id : {kLink, kSequence, kThc, kThreading, kEncoders}) {
    EXPECT_FALSE(Wrote(second, id)) << id;
  }
  // Rewritten on every report.
  for (int id : {kBuffer, kAnalog}) EXPECT_TRUE(Wrote(second, id)) << id;
  for (int k = 0; k < StatusView::kCounters; ++k) {
    EXPECT_TRUE(Wrote(second, StatusView::kFirstCounter + k)) << k;
  }
  EXPECT_EQ(view.Text(IDC_STATUS_COUNTER_X), "11");
  // A change of one encoder rewrites the line with both.
  s.packet.enc2 = -1;
  const std::vector<int> third = view.ShowOnline(s);
  EXPECT_TRUE(Wrote(third, kEncoders));
  EXPECT_EQ(view.Text(kEncoders), "enc1=3, enc2=-1");
  EXPECT_FALSE(Wrote(third, kLink));
}

TEST(StatusViewTest, EncoderCountsAtTheLowestValueStillShow) {
  StatusView view;
  StatusSnapshot s = Report();
  s.packet.enc1 = INT32_MIN;
  s.packet.enc2 = INT32_MIN;
  EXPECT_TRUE(Wrote(view.ShowOnline(s), kEncoders));
  EXPECT_EQ(view.Text(kEncoders), "enc1=-2147483648, enc2=-2147483648");
}

TEST(StatusViewTest, ZCorrectionLineOnEveryReportAndTheThcLineAfterIt) {
  StatusView view;
  StatusSnapshot s = Report();
  s.packet.flags = 0x0A;
  view.ShowOnline(s);
  EXPECT_EQ(view.Text(kThc), "THC mode: ON/Arc");
  s.zcorr_active = true;
  s.z_original = 0.1;
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(Wrote(view.ShowOnline(s), kThc)) << i;
    EXPECT_EQ(view.Text(kThc), "Zcorr= ON, Zorig=0.1000");
  }
  // Correction ends with the THC bits as they were: the THC line comes back at once.
  s.zcorr_active = false;
  EXPECT_TRUE(Wrote(view.ShowOnline(s), kThc));
  EXPECT_EQ(view.Text(kThc), "THC mode: ON/Arc");
  EXPECT_FALSE(Wrote(view.ShowOnline(s), kThc));
}

TEST(StatusViewTest, OfflineBlanksTheLinesKeepsCountersAndDarkensTheBoxes) {
  StatusView view;
  StatusSnapshot s = Report();
  s.packet.inputs = 0x3FFF;
  s.packet.line_word = 0xFFFF;
  s.packet.flags = 0x0A;
  s.packet.enc1 = 4;
  view.ShowOnline(s);
  const std::vector<int> written = view.ShowOffline();
  EXPECT_FALSE(view.online());
  EXPECT_EQ(view.Text(kLink), "OFFLINE, press RESET");
  for (int id : {kSequence, kBuffer, kThc, kThreading, kAnalog, kEncoders}) {
    EXPECT_TRUE(Wrote(written, id)) << id;
    EXPECT_EQ(view.Text(id), "") << id;
  }
  EXPECT_FALSE(Wrote(written, IDC_STATUS_COUNTER_X));
  EXPECT_EQ(view.Text(IDC_STATUS_COUNTER_X), "10");
  EXPECT_EQ(view.Text(kCounterC), "-60");
  EXPECT_EQ(view.indicator().in_word(), 0);
  EXPECT_EQ(view.indicator().out_word(), 0);
  EXPECT_TRUE(view.indicator().offline());
  // The same report again writes every line.
  const std::vector<int> again = view.ShowOnline(s);
  for (int id : StatusView::kLines) EXPECT_TRUE(Wrote(again, id)) << id;
  EXPECT_EQ(view.Text(kThc), "THC mode: ON/Arc");
  EXPECT_EQ(view.indicator().in_word(), 0x3FFF);
  EXPECT_FALSE(view.indicator().offline());
}

// Box size a = W x 4 / 79 (truncated), pitch p = (W - a) / 15; box i spans
// [trunc(i p), trunc(i p + a)); "In:" rows 0..a, "Out:" rows a + 8 .. 2a + 8.
struct BoxCase {
  int width;
  int box;
  PixelRect in;
  PixelRect out;
};

const BoxCase kBoxCases[] = {
    // a = 4, p = 5.
    {79, 0, {0, 0, 4, 4}, {0, 12, 4, 16}},
    {79, 15, {75, 0, 79, 4}, {75, 12, 79, 16}},
    // a = 8, p = 10.
    {158, 3, {30, 0, 38, 8}, {30, 16, 38, 24}},
    // a = 12 (980 / 79 = 12.4), p = 233 / 15 = 15.533...
    {245, 1, {15, 0, 27, 12}, {15, 20, 27, 32}},
    {245, 7, {108, 0, 120, 12}, {108, 20, 120, 32}},
    // a = 16 (1304 / 79 = 16.5), p = 310 / 15 = 20.666...
    {326, 1, {20, 0, 36, 16}, {20, 24, 36, 40}},
    {326, 10, {206, 0, 222, 16}, {206, 24, 222, 40}},
};

TEST(StatusIndicatorTest, BoxesFromTheWidth) {
  for (const BoxCase& c : kBoxCases) {
    const auto boxes = StatusIndicator::Layout(c.width);
    const auto& box = boxes[static_cast<size_t>(c.box)];
    EXPECT_EQ(box.in, c.in) << c.width << " box " << c.box;
    EXPECT_EQ(box.out, c.out) << c.width << " box " << c.box;
  }
}

TEST(StatusIndicatorTest, PixelsOfTheBoxes) {
  constexpr Colour kFace = MakeColour(1, 2, 3);
  StatusIndicator indicator;
  // Inputs 1 and 15 (bit 14: a box that stays unfilled), outputs 2 and 16.
  indicator.Set(0x4001, 0x8002, false);
  // W = 158: a = 8, p = 10; "Out:" row from y 16.
  const PixelImage image = indicator.Render(158, 30, kFace);
  struct Probe {
    int x;
    int y;
    Colour colour;
  };
  const Probe probes[] = {
      {4, 4, StatusIndicator::kInOn},      // input 1, inside
      {0, 0, kBlack},                      // its outline
      {7, 7, kBlack},                      // its far corner
      {14, 4, StatusIndicator::kInOff},    // input 2, dark
      {8, 4, kFace},                       // between boxes 1 and 2
      {144, 4, kFace},                     // box 15 of the "In:" row: unfilled
      {140, 0, kBlack},                    // but outlined
      {154, 4, kFace},                     // box 16 likewise
      {4, 12, kFace},                      // between the rows
      {4, 20, StatusIndicator::kOutOff},   // output 1, dark
      {14, 20, StatusIndicator::kOutOn},   // output 2
      {154, 20, StatusIndicator::kOutOn},  // output 16
      {150, 16, kBlack},                   // its outline
  };
  for (const Probe& p : probes) {
    EXPECT_EQ(image.at(p.x, p.y), p.colour) << p.x << "," << p.y;
  }
  indicator.Set(0, 0, true);
  const PixelImage dark = indicator.Render(158, 30, kFace);
  EXPECT_EQ(dark.at(4, 4), StatusIndicator::kInOff);
  EXPECT_EQ(dark.at(154, 20), StatusIndicator::kOutOff);
}

}  // namespace
}  // namespace kelvro
