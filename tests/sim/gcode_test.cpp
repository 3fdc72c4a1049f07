#include "sim/gcode.h"

#include <gtest/gtest.h>

#include "tests/sim/traj_test_util.h"

namespace kelvro::sim {
namespace {

using test::ParseOk;
using test::TestMachine;

TEST(Gcode, EveryWordMakesItsBlock) {
  const Machine machine = TestMachine();
  const std::vector<Block> blocks = ParseOk(
      "%\n"
      "N10 G17 G21 G90 G94 G40 G49 G54 G80 (preamble)\n"
      "N20 M3 S1200 ; spindle\n"
      "G0 X10 Y5\n"
      "G1 Z-1 F300\n"
      "G2 X20 Y5 I5 J0\n"
      "G3 X10 Y5 R5\n"
      "G4 P1.5\n"
      "M10 P2\n"
      "M11 P6\n"
      "S900\n"
      "M4\n"
      "M5\n"
      "G28.1 Z0\n"
      "G31 Z-20 F60\n"
      "M30\n"
      "%\n",
      machine);
  ASSERT_EQ(blocks.size(), 13u);
  int i = 0;
  EXPECT_EQ(blocks[i].kind, BlockKind::kSpindle);
  EXPECT_EQ(blocks[i].spindle, SpindleAction::kClockwise);
  EXPECT_EQ(blocks[i].spindle_speed, 1200.0);
  EXPECT_EQ(blocks[i].line, 3);
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kMove);
  EXPECT_TRUE(blocks[i].rapid);
  EXPECT_EQ(blocks[i].to, (Position{10, 5, 0, 0, 0, 0}));
  EXPECT_EQ(blocks[i].axis_mask, 3u);
  EXPECT_EQ(blocks[i].line, 4);
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kMove);
  EXPECT_FALSE(blocks[i].rapid);
  EXPECT_EQ(blocks[i].feed, 300.0);
  EXPECT_EQ(blocks[i].from, (Position{10, 5, 0, 0, 0, 0}));
  EXPECT_EQ(blocks[i].to, (Position{10, 5, -1, 0, 0, 0}));
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kArc);
  EXPECT_TRUE(blocks[i].clockwise);
  EXPECT_FALSE(blocks[i].radius_form);
  EXPECT_EQ(blocks[i].offset_first, 5.0);
  EXPECT_EQ(blocks[i].offset_second, 0.0);
  EXPECT_EQ(blocks[i].to, (Position{20, 5, -1, 0, 0, 0}));
  EXPECT_EQ(blocks[i].feed, 300.0);
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kArc);
  EXPECT_FALSE(blocks[i].clockwise);
  EXPECT_TRUE(blocks[i].radius_form);
  EXPECT_EQ(blocks[i].radius, 5.0);
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kDwell);
  EXPECT_EQ(blocks[i].seconds, 1.5);
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kSyncOutput);
  EXPECT_EQ(blocks[i].output, 2);
  EXPECT_TRUE(blocks[i].output_on);
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kSyncOutput);
  EXPECT_EQ(blocks[i].output, 6);
  EXPECT_FALSE(blocks[i].output_on);
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kSpindle);
  EXPECT_EQ(blocks[i].spindle, SpindleAction::kSpeed);
  EXPECT_EQ(blocks[i].spindle_speed, 900.0);
  ++i;
  EXPECT_EQ(blocks[i].spindle, SpindleAction::kCounterClockwise);
  EXPECT_EQ(blocks[i].spindle_speed, 900.0);
  ++i;
  EXPECT_EQ(blocks[i].spindle, SpindleAction::kStop);
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kHome);
  EXPECT_EQ(blocks[i].axis_mask, 4u);
  EXPECT_EQ(blocks[i].to, (Position{10, 5, 0, 0, 0, 0}));
  ++i;
  EXPECT_EQ(blocks[i].kind, BlockKind::kProbe);
  EXPECT_EQ(blocks[i].to, (Position{10, 5, -20, 0, 0, 0}));
  EXPECT_EQ(blocks[i].feed, 60.0);
  EXPECT_EQ(blocks[i].line, 15);
}

TEST(Gcode, SyncOutputWordLayout) {
  // Low byte 47 (on) or 48 (off), second byte output + 7.
  EXPECT_EQ(SyncOutputWord(1, true), 0x082F);
  EXPECT_EQ(SyncOutputWord(2, false), 0x0930);
  EXPECT_EQ(SyncOutputWord(6, true), 0x0D2F);
}

TEST(Gcode, CommentsBlankLinesAndCase) {
  const Machine machine = TestMachine();
  const std::vector<Block> blocks = ParseOk(
      "\n"
      "   \t\r\n"
      "(a comment line)\n"
      "; another\n"
      "g0 (inline) x5 (second) y 6 ; trailing G99 words are ignored\n"
      "G0X7Y8\r\n",
      machine);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].line, 5);
  EXPECT_EQ(blocks[0].to, (Position{5, 6, 0, 0, 0, 0}));
  EXPECT_EQ(blocks[1].line, 6);
  EXPECT_EQ(blocks[1].to, (Position{7, 8, 0, 0, 0, 0}));
}

TEST(Gcode, NumberForms) {
  const Machine machine = TestMachine();
  const std::vector<Block> blocks =
      ParseOk("G00 X1. Y.5 Z+2\nG01 X-.25 Y007 F1.5\nG1.0 X2 F+10\n", machine);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].to, (Position{1, 0.5, 2, 0, 0, 0}));
  EXPECT_TRUE(blocks[0].rapid);
  EXPECT_EQ(blocks[1].to, (Position{-0.25, 7, 2, 0, 0, 0}));
  EXPECT_EQ(blocks[1].feed, 1.5);
  EXPECT_FALSE(blocks[1].rapid);
  EXPECT_EQ(blocks[2].to, (Position{2, 7, 2, 0, 0, 0}));
  EXPECT_EQ(blocks[2].feed, 10.0);
}

TEST(Gcode, ModalMotionAndFeed) {
  const Machine machine = TestMachine();
  const std::vector<Block> blocks = ParseOk("G1 X1 F100\nY2\nG0\nZ-3\n", machine);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1].kind, BlockKind::kMove);
  EXPECT_FALSE(blocks[1].rapid);
  EXPECT_EQ(blocks[1].feed, 100.0);
  EXPECT_EQ(blocks[1].to, (Position{1, 2, 0, 0, 0, 0}));
  EXPECT_TRUE(blocks[2].rapid);
  EXPECT_EQ(blocks[2].line, 4);
  EXPECT_EQ(blocks[2].to, (Position{1, 2, -3, 0, 0, 0}));
}

TEST(Gcode, IncrementalDistances) {
  const Machine machine = TestMachine();
  const std::vector<Block> blocks =
      ParseOk("G91 G0 X10 Y-2\nX5 Z-1\nG90 X1\n", machine, Position{100, 50, 0, 0, 0, 0});
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_TRUE(blocks[0].incremental);
  EXPECT_EQ(blocks[0].words[0], 10.0);
  EXPECT_EQ(blocks[0].to, (Position{110, 48, 0, 0, 0, 0}));
  EXPECT_EQ(blocks[1].to, (Position{115, 48, -1, 0, 0, 0}));
  EXPECT_FALSE(blocks[2].incremental);
  EXPECT_EQ(blocks[2].to, (Position{1, 48, -1, 0, 0, 0}));
}

TEST(Gcode, InchProgramOnMillimetreMachine) {
  const Machine machine = TestMachine();
  const std::vector<Block> blocks =
      ParseOk("G20 G0 X1 Y2\nG1 X1.5 F10\nG2 X2.5 Y2 I0.5 J0\nG21 G1 X10\n", machine);
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_DOUBLE_EQ(blocks[0].to[0], 25.4);
  EXPECT_DOUBLE_EQ(blocks[0].to[1], 50.8);
  EXPECT_DOUBLE_EQ(blocks[1].to[0], 38.1);
  EXPECT_DOUBLE_EQ(blocks[1].feed, 254.0);  // 10 inch per minute
  EXPECT_DOUBLE_EQ(blocks[2].offset_first, 12.7);
  EXPECT_DOUBLE_EQ(blocks[2].to[0], 63.5);
  // Back in millimetres the feed number 10 means 10 mm per minute.
  EXPECT_DOUBLE_EQ(blocks[3].to[0], 10.0);
  EXPECT_DOUBLE_EQ(blocks[3].feed, 10.0);
}

TEST(Gcode, MillimetreProgramOnInchMachine) {
  Machine machine = TestMachine();
  machine.units = Units::kInch;
  const std::vector<Block> blocks = ParseOk("G0 X2\nG21 G0 X25.4\nG1 Y50.8 F254\n", machine);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_DOUBLE_EQ(blocks[0].to[0], 2.0);  // program units start as the machine's
  EXPECT_DOUBLE_EQ(blocks[1].to[0], 1.0);
  EXPECT_DOUBLE_EQ(blocks[2].to[1], 2.0);
  EXPECT_DOUBLE_EQ(blocks[2].feed, 10.0);
}

TEST(Gcode, RotaryAxisIgnoresInchMode) {
  Machine machine = TestMachine();
  machine.axes[3].enabled = true;
  machine.axes[3].rotary = true;
  machine.axes[4].enabled = true;
  machine.axes[4].rotary = false;  // a linear B
  const std::vector<Block> blocks = ParseOk("G20 G0 A90 B1\n", machine);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].to[3], 90.0);
  EXPECT_DOUBLE_EQ(blocks[0].to[4], 25.4);
}

TEST(Gcode, HomingAllAxesAndNamedAxes) {
  Machine machine = TestMachine();
  machine.axes[0].home_position = -5.0;
  machine.axes[2].home_position = 2.0;
  const std::vector<Block> blocks =
      ParseOk("G28.1\nG0 X10 Y10 Z-10\nG28.1 Z123\n", machine, Position{1, 1, 1, 0, 0, 0});
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].kind, BlockKind::kHome);
  EXPECT_EQ(blocks[0].axis_mask, 7u);  // X, Y, Z: the enabled axes
  EXPECT_EQ(blocks[0].to, (Position{-5, 0, 2, 0, 0, 0}));
  EXPECT_EQ(blocks[1].from, (Position{-5, 0, 2, 0, 0, 0}));
  EXPECT_EQ(blocks[2].axis_mask, 4u);
  EXPECT_EQ(blocks[2].to, (Position{10, 10, 2, 0, 0, 0}));  // the word's value is ignored
}

TEST(Gcode, EndStopsReading) {
  const Machine machine = TestMachine();
  const std::vector<Block> blocks = ParseOk("G0 X1\nM2\nG99 this is never read\n", machine);
  ASSERT_EQ(blocks.size(), 1u);
}

TEST(Gcode, MotionWordAloneMovesNothing) {
  const Machine machine = TestMachine();
  EXPECT_TRUE(ParseOk("G1\nG2\nN5\nF100\n", machine).empty());
}

struct BadProgram {
  const char* name;
  const char* program;
  const char* message;
};

class GcodeErrors : public ::testing::TestWithParam<BadProgram> {};

TEST_P(GcodeErrors, ReportLineAndReason) {
  Machine machine = TestMachine();
  machine.axes[0].soft_min = 0.0;
  machine.axes[0].soft_max = 300.0;
  machine.axes[1].soft_min = 0.0;
  machine.axes[1].soft_max = 15.0;
  machine.probe.pin = 0;
  GcodeProgram program;
  std::string error;
  EXPECT_FALSE(program.Parse(GetParam().program, machine, &error));
  EXPECT_EQ(error, GetParam().message);
  EXPECT_TRUE(program.blocks().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, GcodeErrors,
    ::testing::Values(
        BadProgram{"UnknownG", "G0 X1\n(x)\n\nG1 X2 F10\n\nG99.5\n", "line 6: unknown word G99.5"},
        BadProgram{"UnknownGDecimal", "G28.2", "line 1: unknown word G28.2"},
        BadProgram{"UnknownGHuge", "G999999999", "line 1: unknown word G999999999"},
        BadProgram{"UnknownM", "M62 P1", "line 1: unknown word M62"},
        BadProgram{"UnknownLetter", "G0 X1\nU5", "line 2: unknown word U5"},
        BadProgram{"PlaneArcWord", "G2 X1 Y1 K1 F100",
                   "line 1: K is not used by arcs in the XY plane (G17)"},
        BadProgram{"LowerCaseUnknown", "g0 x1 e2", "line 1: unknown word E2"},
        BadProgram{"Exponent", "G1 X1 F1.5e2", "line 1: unknown word E2"},
        BadProgram{"NoNumber", "G0 X", "line 1: missing number after X"},
        BadProgram{"NoNumberSign", "G0 X-", "line 1: missing number after X"},
        BadProgram{"OddCharacter", "G0 X1 #3", "line 1: unexpected character '#'"},
        BadProgram{"ControlCharacter", "G0 X1 \x01", "line 1: unexpected character 0x01"},
        BadProgram{"Unclosed", "G0 X1 (oops", "line 1: comment not closed: '(' without ')'"},
        BadProgram{"Huge", "G0 X99999999999", "line 1: number out of range: X99999999999"},
        BadProgram{"TwiceSameAxis", "G0 X1 X2", "line 1: X2: X appears twice"},
        BadProgram{"TwoMotions", "G0 G1 X1", "line 1: G0 and G1 cannot share a line"},
        BadProgram{"MotionAndHome", "G1 G28 X1", "line 1: G1 and G28 cannot share a line"},
        BadProgram{"TwoUnits", "G20 G21", "line 1: G20 and G21 cannot share a line"},
        BadProgram{"TwoSpindle", "M3 M5", "line 1: M3 and M5 cannot share a line"},
        BadProgram{"NoMotionMode", "X10", "line 1: X10: axis words without G0, G1, G2 or G3"},
        BadProgram{"NoFeed", "G0 X1\nG1 X10", "line 2: G1 without a feed rate (F)"},
        BadProgram{"NoFeedArc", "G2 X10 Y0 I5", "line 1: G2 without a feed rate (F)"},
        BadProgram{"ZeroFeed", "G1 X1 F0", "line 1: F must be above 0 (is 0)"},
        BadProgram{"NegativeSpeed", "S-5", "line 1: S must not be negative (is -5)"},
        BadProgram{"StrayP", "G0 X1 P2",
                   "line 1: P2 without G4, G10, a drilling cycle, M98, M10 or M11"},
        BadProgram{"DwellWithAxis", "G1 X1 F10\nG4 P1 X5", "line 2: G4 takes no axis words"},
        BadProgram{"DwellNoP", "G4", "line 1: G4 needs P with the dwell in seconds (0 to 86400)"},
        BadProgram{"DwellNegative", "G4 P-1",
                   "line 1: G4 needs P with the dwell in seconds (0 to 86400)"},
        BadProgram{"OutputNoP", "M10", "line 1: M10 needs P with an output number from 1 to 6"},
        BadProgram{"OutputRange", "M11 P7",
                   "line 1: M11 needs P with an output number from 1 to 6"},
        BadProgram{"OutputFraction", "M10 P1.5",
                   "line 1: M10 needs P with an output number from 1 to 6"},
        BadProgram{"SharedP", "G4 M10 P1", "line 1: P1 cannot serve both G4 and M10"},
        BadProgram{"DisabledAxis", "G0 A5", "line 1: axis A is not enabled"},
        BadProgram{"HomeDisabledAxis", "G28 B0", "line 1: axis B is not enabled"},
        BadProgram{"ArcNoCentre", "G2 X10 Y0 F100", "line 1: G2 needs I and J or R"},
        BadProgram{"ArcBoth", "G3 X10 Y0 I5 R5 F100", "line 1: G3 takes I and J or R, not both"},
        BadProgram{"CentreWithLine", "G1 X1 I5 F100", "line 1: I5: I, J and K need G2 or G3"},
        BadProgram{"RadiusWithLine", "G1 X1 R5 F100",
                   "line 1: R5: R needs G2, G3 or a drilling cycle"},
        BadProgram{"ArcOffCircle", "G2 X10 Y0 I3 F100",
                   "line 1: arc end point is not on the circle (radius 3 at the start, 7 at the "
                   "end)"},
        BadProgram{"ArcRadiusShort", "G2 X10 Y0 R2 F100",
                   "line 1: arc radius 2 is shorter than half the distance 10 to the end point"},
        BadProgram{"ArcZeroRadius", "G2 X10 Y0 I0 J0 F100",
                   "line 1: arc radius is 0 (the centre is the start point)"},
        BadProgram{"ArcRNoEnd", "G2 R5 F100",
                   "line 1: an arc given by R needs an end point apart from its start point"},
        BadProgram{"ProbeNoInput", "G31 Z-5 F100",
                   "line 1: G31 needs a probe input, and the machine has none (ProbePin)"},
        BadProgram{"ProbeNoTarget", "G31 F100",
                   "line 1: G31 needs a target: at least one axis word"},
        BadProgram{"BeyondMax", "G0 X10\nG0 X500",
                   "line 2: move beyond the soft limits: X would reach 500 (limits 0 to 300)"},
        BadProgram{"BeyondMin", "G91 G0 X-0.5",
                   "line 1: move beyond the soft limits: X would reach -0.5 (limits 0 to 300)"},
        BadProgram{"InchBeyond", "G20 G0 X12",
                   "line 1: move beyond the soft limits: X would reach 304.8 (limits 0 to 300)"},
        // Both ends inside, but the clockwise arc over the top passes Y = 20.
        BadProgram{"ArcBulgesOut", "G0 X10 Y10\nG2 X30 Y10 I10 J0 F100",
                   "line 2: move beyond the soft limits: Y would reach 20 (limits 0 to 15)"}),
    [](const ::testing::TestParamInfo<BadProgram>& info) { return std::string(info.param.name); });

TEST(Gcode, ArcInsideLimitsTheOtherWayRound) {
  Machine machine = TestMachine();
  machine.axes[1].soft_min = 0.0;
  machine.axes[1].soft_max = 15.0;
  // Counter-clockwise from (10,10) around (20,10) passes under the centre: Y down to 0.
  EXPECT_EQ(ParseOk("G0 X10 Y10\nG3 X30 Y10 I10 J0 F100\n", machine).size(), 2u);
}

TEST(Gcode, AxisOutsideLimitsThatDoesNotMoveIsAccepted) {
  Machine machine = TestMachine();
  machine.axes[2].soft_min = -10.0;
  machine.axes[2].soft_max = -5.0;
  // Z starts at 0, above its limits; X moves and Z stays.
  EXPECT_EQ(ParseOk("G0 X10\n", machine).size(), 1u);
}

TEST(Gcode, SoftLimitsOffAllowsAnything) {
  Machine machine = TestMachine();
  machine.axes[0].soft_max = 5.0;
  machine.soft_limits_on = false;
  EXPECT_EQ(ParseOk("G0 X500\n", machine).size(), 1u);
}

TEST(Gcode, MissingFile) {
  GcodeProgram program;
  std::string error;
  EXPECT_FALSE(program.Load("/nonexistent/part.nc", TestMachine(), &error));
  EXPECT_EQ(error, "part program \"/nonexistent/part.nc\" cannot be opened");
}

}  // namespace
}  // namespace kelvro::sim
