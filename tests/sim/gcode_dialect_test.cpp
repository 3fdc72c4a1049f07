// The interpreter's dialect, word by word and mode by mode: every program's blocks with their
// end points in machine coordinates, worked out by hand from the machine below.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "tests/sim/traj_test_util.h"

namespace kelvro::sim {
namespace {

using test::ParseOk;
using test::TestMachine;

// The test machine (limits ±1000 on X, Y, Z) with what the cases use:
//   G54 zero at machine X 100, Y 50, Z -20; G55 at X 200, Y 100, Z -30
//   tool 1 is 10 mm long, tool 2 25.5 mm
//   G28 position X -10, Y -20, Z 5; G30 position X 300, Y 200, Z 0
//   home positions X 2, Z -1; A enabled and rotary; flood on output 1, mist on output 2
Machine DialectMachine() {
  Machine m = TestMachine();
  m.work_offsets[0] = Position{100, 50, -20, 0, 0, 0};
  m.work_offsets[1] = Position{200, 100, -30, 0, 0, 0};
  m.tool_lengths[1] = 10.0;
  m.tool_lengths[2] = 25.5;
  m.g28_position = Position{-10, -20, 5, 0, 0, 0};
  m.g30_position = Position{300, 200, 0, 0, 0, 0};
  m.axes[0].home_position = 2.0;
  m.axes[2].home_position = -1.0;
  m.axes[3].enabled = true;
  m.axes[3].rotary = true;
  m.flood_output = 1;
  m.mist_output = 2;
  return m;
}

struct Expected {
  BlockKind kind = BlockKind::kMove;
  Position to{};       // moves, arcs, homing: machine coordinates
  int rapid = -1;      // moves: 1 rapid, 0 feed, -1 not checked
  int line = 0;        // 0: not checked
  double seconds = 0;  // dwells
  int number = 0;      // tool changes: the tool; coolant: the output
  bool optional = false;
};

Expected Rapid(double x, double y, double z, int line = 0, double a = 0.0) {
  return {BlockKind::kMove, Position{x, y, z, a, 0, 0}, 1, line};
}
Expected Feed(double x, double y, double z, int line = 0) {
  return {BlockKind::kMove, Position{x, y, z, 0, 0, 0}, 0, line};
}
Expected ArcTo(double x, double y, double z) {
  return {BlockKind::kArc, Position{x, y, z, 0, 0, 0}};
}
Expected Dwell(double seconds) {
  Expected e{BlockKind::kDwell};
  e.seconds = seconds;
  return e;
}
Expected Kind(BlockKind kind, int number = 0, bool optional = false) {
  Expected e{kind};
  e.number = number;
  e.optional = optional;
  return e;
}

struct DialectCase {
  const char* name;
  const char* program;
  std::vector<Expected> blocks;
};

class Dialect : public ::testing::TestWithParam<DialectCase> {};

TEST_P(Dialect, BlocksEndWhereWorkedOut) {
  const DialectCase& c = GetParam();
  const std::vector<Block> blocks = ParseOk(c.program, DialectMachine());
  ASSERT_EQ(blocks.size(), c.blocks.size());
  for (size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE("block " + std::to_string(i));
    const Block& b = blocks[i];
    const Expected& e = c.blocks[i];
    ASSERT_EQ(static_cast<int>(b.kind), static_cast<int>(e.kind));
    if (e.line) {
      EXPECT_EQ(b.line, e.line);
    }
    switch (e.kind) {
      case BlockKind::kMove:
      case BlockKind::kArc:
      case BlockKind::kHome:
        for (int k = 0; k < kAxisCount; ++k) EXPECT_NEAR(b.to[k], e.to[k], 1e-9) << "axis " << k;
        if (e.rapid >= 0) {
          EXPECT_EQ(b.rapid, e.rapid == 1);
        }
        break;
      case BlockKind::kDwell:
        EXPECT_DOUBLE_EQ(b.seconds, e.seconds);
        break;
      case BlockKind::kToolChange:
        EXPECT_EQ(b.tool, e.number);
        break;
      case BlockKind::kCoolant:
        EXPECT_EQ(b.output, e.number);
        break;
      case BlockKind::kPause:
        EXPECT_EQ(b.optional_stop, e.optional);
        break;
      default:
        break;
    }
  }
}

constexpr double kGap = 0.254;  // the cycles' clearance on a millimetre machine

INSTANTIATE_TEST_SUITE_P(
    Words, Dialect,
    ::testing::Values(
        DialectCase{"PackedLowerCaseAndLineNumbers",
                    "G00G21G17G90G40G49G80\nN10g0x10y5\nN20G1Z-1F300\n",
                    {Rapid(110, 55, 0, 2), Feed(110, 55, -21, 3)}},
        DialectCase{"ProgramNumberPercentAndComments",
                    "%\nO1000 (NAME)\nG0 X1 (c) Y2 ; G0 X99\n%\n",
                    {Rapid(101, 52, 0, 3)}},
        DialectCase{"InchAndMillimetreWithSynonyms",
                    "G70 G0 X1\nG71 G0 Y1\nG20 G0 Z1\nG21 G0 Z1\n",
                    {Rapid(125.4, 0, 0), Rapid(125.4, 51, 0), Rapid(125.4, 51, 5.4),
                     Rapid(125.4, 51, -19)}},
        DialectCase{"WorkOffsetsG54AndG55",
                    "G0 X1 Y2 Z3\nG55 G0 X1 Y2 Z3\nG54 X0\n",
                    {Rapid(101, 52, -17), Rapid(201, 102, -27), Rapid(100, 102, -27)}},
        DialectCase{
            "G10L2SetsAWorkOffset", "G10 L2 P3 X5 Y6 Z7\nG56 G0 X1 Y1 Z1\n", {Rapid(6, 7, 8)}},
        // Here is machine X 110, Y 60: the new G54 zero is X 110, Y 65.
        DialectCase{"G10L20MakesHereTheGivenPoint",
                    "G0 X10 Y10\nG10 L20 P1 X0 Y-5\nG0 X0 Y0\n",
                    {Rapid(110, 60, 0), Rapid(110, 65, 0)}},
        // G92 X0 Y0 at machine X 110, Y 60: an offset of 10 on both.
        DialectCase{"G92ThenG92_1",
                    "G0 X10 Y10\nG92 X0 Y0\nG0 X5 Y5\nG92.1\nG0 X5 Y5\n",
                    {Rapid(110, 60, 0), Rapid(115, 65, 0), Rapid(105, 55, 0)}},
        // With tool 1 (10 mm): program Z 0 is machine -10. G92 Z5 there makes Z 0 five lower;
        // G10 L20 Z2 sets the G54 zero so that here is Z 2.
        DialectCase{"G92WithAToolLength",
                    "G43 H1 G0 Z0\nG92 Z5\nG0 Z0\nG92.1\nG0 Z0\n",
                    {Rapid(0, 0, -10), Rapid(0, 0, -15), Rapid(0, 0, -10)}},
        DialectCase{"G10L20WithAToolLength",
                    "G43 H1 G0 Z0\nG10 L20 P1 Z2\nG0 Z0\n",
                    {Rapid(0, 0, -10), Rapid(0, 0, -12)}},
        DialectCase{"G53InsideAG54Program",
                    "G0 X10 Y10 Z5\nG53 G0 Z0\nG0 X20\nG53 X1 Y2\nG0 Z1\n",
                    {Rapid(110, 60, -15), Rapid(110, 60, 0), Rapid(120, 60, 0), Rapid(1, 2, 0),
                     Rapid(1, 2, -19)}},
        // Machine Z = program Z - 20 + 10 (tool 1), - 20 with none, - 20 - 25.5 with G44 H2,
        // then G43 without H takes the tool in the spindle (2): + 25.5.
        DialectCase{"G43G44G49WithToolLengths",
                    "G43 H1 G0 Z5\nG49 G0 Z5\nG44 H2 G0 Z5\nT2 M6\nG43 G0 Z0\n",
                    {Rapid(0, 0, -5), Rapid(0, 0, -15), Rapid(0, 0, -40.5),
                     Kind(BlockKind::kToolChange, 2), Rapid(0, 0, 5.5)}},
        DialectCase{"IncrementalDistances",
                    "G0 X10\nG91 G0 X5 Y-2\nG1 Z-1 F100\n",
                    {Rapid(110, 0, 0), Rapid(115, -2, 0), Feed(115, -2, -1)}},
        DialectCase{"ArcWithIncrementalCentre",
                    "G0 X10 Y0\nG3 X0 Y10 I-10 J0 F100\n",
                    {Rapid(110, 50, 0), ArcTo(100, 60, 0)}},
        DialectCase{"ArcWithAbsoluteCentre",
                    "G90.1\nG0 X10 Y0\nG3 X0 Y10 I0 J0 F100\n",
                    {Rapid(110, 50, 0), ArcTo(100, 60, 0)}},
        DialectCase{"ArcInTheXZPlane",
                    "G0 X0 Y0 Z0\nG18 G2 X10 Z0 I5 K0 F100\n",
                    {Rapid(100, 50, -20), ArcTo(110, 50, -20)}},
        DialectCase{"ArcInTheYZPlane",
                    "G0 X0 Y0 Z0\nG19 G3 Y10 Z0 J5 K0 F100\n",
                    {Rapid(100, 50, -20), ArcTo(100, 60, -20)}},
        DialectCase{"RotaryAxisInDegrees", "G20 G0 X1 A90\n", {Rapid(125.4, 0, 0, 0, 90)}},
        // Written backwards; carried out as the host orders them.
        DialectCase{"NonMotionWordsInTheHostsOrder",
                    "G4 P1 M8 M3 S1000 M6 T1\n",
                    {Kind(BlockKind::kToolChange, 1), Kind(BlockKind::kSpindle),
                     Kind(BlockKind::kCoolant, 1), Dwell(1)}},
        // Units, tool length and work offset act before the motion on their line.
        DialectCase{
            "ModesBeforeTheMotionOnTheirLine", "G0 G55 G43 H1 G20 X1 Z0\n", {Rapid(225.4, 0, -20)}},
        DialectCase{"ToolChangePausesAndCoolant",
                    "T5 M6\nM0\nM1\nM7\nM8\nM9\n",
                    {Kind(BlockKind::kToolChange, 5), Kind(BlockKind::kPause, 0, false),
                     Kind(BlockKind::kPause, 0, true), Kind(BlockKind::kCoolant, 2),
                     Kind(BlockKind::kCoolant, 1), Kind(BlockKind::kCoolant, 0)}},
        DialectCase{"ModesThatAreOnlyAccepted",
                    "G17 G40 G49 G61 G94 G15 G50 G69 G80 G98\nG61.1\nG64\nG0 X0\n",
                    {Rapid(100, 0, 0)}},
        // Through the point to the G28 position; G91 X0: no intermediate move; no axis words:
        // every enabled axis (X, Y, Z, A) straight there.
        DialectCase{"G28ThroughAPoint",
                    "G0 X10 Y10 Z5\nG28 Z10\nG91 G28 X0\nG90 G28\n",
                    {Rapid(110, 60, -15), Rapid(110, 60, -10), Rapid(110, 60, 5), Rapid(-10, 60, 5),
                     Rapid(-10, -20, 5)}},
        DialectCase{"G30ThroughAPoint",
                    "G0 X0 Y0\nG30 X10 Y10\n",
                    {Rapid(100, 50, 0), Rapid(110, 60, 0), Rapid(300, 200, 0)}},
        DialectCase{
            "G28_1HomesTheNamedAxes",
            "G0 X10 Y10 Z5\nG28.1 X0 Z0\n",
            {Rapid(110, 60, -15), Expected{BlockKind::kHome, Position{2, 60, -1, 0, 0, 0}}}},
        // Z 10 is machine -10, R 2 is -18, the bottom Z-7 is -27; pecks of 3.
        DialectCase{
            "G83PeckWithG99",
            "G0 X0 Y0 Z10\nG99 G83 X10 Y5 Z-7 R2 Q3 F100\nX20\n",
            {Rapid(100, 50, -10),
             // First hole.
             Rapid(110, 55, -10), Rapid(110, 55, -18), Feed(110, 55, -21), Rapid(110, 55, -18),
             Rapid(110, 55, -21 + kGap), Feed(110, 55, -24), Rapid(110, 55, -18),
             Rapid(110, 55, -24 + kGap), Feed(110, 55, -27), Rapid(110, 55, -18),
             // Second hole, from R.
             Rapid(120, 55, -18), Feed(120, 55, -21), Rapid(120, 55, -18),
             Rapid(120, 55, -21 + kGap), Feed(120, 55, -24), Rapid(120, 55, -18),
             Rapid(120, 55, -24 + kGap), Feed(120, 55, -27), Rapid(120, 55, -18)}},
        DialectCase{"G81ReturnsToTheStartHeightWithG98",
                    "G0 X0 Y0 Z10\nG81 X1 Y1 Z-2 R1 F50\n",
                    {Rapid(100, 50, -10), Rapid(101, 51, -10), Rapid(101, 51, -19),
                     Feed(101, 51, -22), Rapid(101, 51, -10)}},
        DialectCase{"G82DwellsAtTheBottom",
                    "G0 X0 Y0 Z10\nG82 X1 Y1 Z-2 R1 P0.5 F50\n",
                    {Rapid(100, 50, -10), Rapid(101, 51, -10), Rapid(101, 51, -19),
                     Feed(101, 51, -22), Dwell(0.5), Rapid(101, 51, -10)}},
        DialectCase{"G73BreaksTheChip",
                    "G0 X0 Y0 Z2\nG73 Z-2.5 R1 Q1 F50\n",
                    {Rapid(100, 50, -18), Rapid(100, 50, -19), Feed(100, 50, -20),
                     Rapid(100, 50, -20 + kGap), Feed(100, 50, -21), Rapid(100, 50, -21 + kGap),
                     Feed(100, 50, -22), Rapid(100, 50, -22 + kGap), Feed(100, 50, -22.5),
                     Rapid(100, 50, -18)}},
        DialectCase{"G85FeedsBackOut",
                    "G0 X0 Y0 Z2\nG85 Z-2 R1 F50\n",
                    {Rapid(100, 50, -18), Rapid(100, 50, -19), Feed(100, 50, -22),
                     Feed(100, 50, -19), Rapid(100, 50, -18)}},
        DialectCase{"G89DwellsAndFeedsBackOut",
                    "G0 X0 Y0 Z2\nG89 Z-2 R1 P0.25 F50\n",
                    {Rapid(100, 50, -18), Rapid(100, 50, -19), Feed(100, 50, -22), Dwell(0.25),
                     Feed(100, 50, -19), Rapid(100, 50, -18)}},
        // G91: R is -8 from Z -10 (-18), Z is -5 from R (-23), three holes 10 apart.
        DialectCase{
            "IncrementalCycleWithRepeats",
            "G0 X0 Y0 Z10\nG91 G99 G81 X10 Z-5 R-8 L3 F100\n",
            {Rapid(100, 50, -10), Rapid(110, 50, -10), Rapid(110, 50, -18), Feed(110, 50, -23),
             Rapid(110, 50, -18), Rapid(120, 50, -18), Feed(120, 50, -23), Rapid(120, 50, -18),
             Rapid(130, 50, -18), Feed(130, 50, -23), Rapid(130, 50, -18)}},
        DialectCase{"CycleStaysOnUntilG80",
                    "G0 X0 Y0 Z10\nG99 G81 X1 Z-1 R1 F50\nX2\nG80\nG0 X3\n",
                    {Rapid(100, 50, -10), Rapid(101, 50, -10), Rapid(101, 50, -19),
                     Feed(101, 50, -21), Rapid(101, 50, -19), Rapid(102, 50, -19),
                     Feed(102, 50, -21), Rapid(102, 50, -19), Rapid(103, 50, -19)}},
        DialectCase{"SubprogramRepeatedThreeTimes",
                    "G0 X0 Y0 Z0\nM98 P100 L3\nG0 X0\nM30\nO100\nG91 G1 X5 F100\nG90\nM99\n",
                    {Rapid(100, 50, -20, 1), Feed(105, 50, -20, 6), Feed(110, 50, -20, 6),
                     Feed(115, 50, -20, 6), Rapid(100, 50, -20, 3)}},
        DialectCase{"SubprogramCallingASubprogram",
                    "G0 X0 Y0\nM98 P1\nM30\nO1\nM98 P2 L2\nM99\nO2\nG91 G0 X1\nG90\nM99\n",
                    {Rapid(100, 50, 0, 1), Rapid(101, 50, 0, 8), Rapid(102, 50, 0, 8)}},
        DialectCase{"M2EndsTheProgram", "G0 X1\nM2\nG0 X2\n", {Rapid(101, 0, 0)}},
        DialectCase{"M30EndsTheProgram", "G0 X1\nM30\nG0 X2\n", {Rapid(101, 0, 0)}}),
    [](const ::testing::TestParamInfo<DialectCase>& info) { return std::string(info.param.name); });

// ---- Refusals: the line and the word ----

struct Refusal {
  const char* name;
  const char* program;
  const char* message;
};

class DialectRefusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(DialectRefusals, NameTheLineAndTheWord) {
  GcodeProgram program;
  std::string error;
  EXPECT_FALSE(program.Parse(GetParam().program, DialectMachine(), &error));
  EXPECT_EQ(error, GetParam().message);
  EXPECT_TRUE(program.blocks().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Words, DialectRefusals,
    ::testing::Values(
        Refusal{"CutterCompensationLeft", "G0 X1\nG41 X2",
                "line 2: G41 cutter radius compensation is not simulated"},
        Refusal{"CutterCompensationRight", "G42 D1",
                "line 1: G42 cutter radius compensation is not simulated"},
        Refusal{"InverseTime", "G93 G1 X1 F1", "line 1: G93 inverse-time feed is not simulated"},
        Refusal{"PerRevolution", "G95", "line 1: G95 feed per revolution is not simulated"},
        Refusal{"Tapping", "G84 X1 Z-1 R1 F1", "line 1: unknown word G84"},
        Refusal{"UnknownM", "M48", "line 1: unknown word M48"},
        Refusal{"MissingSubprogram", "M98 P200", "line 1: M98 P200: there is no O200 in this file"},
        Refusal{"ReturnFromMain", "G0 X1\nM99", "line 2: M99 outside a subprogram"},
        Refusal{"SubprogramWithoutReturn", "M98 P1\nM30\nO1\nG0 X1\n",
                "line 1: M98 P1: the file ends inside the subprogram, which has no M99"},
        Refusal{"EndlessRecursion", "O1\nM98 P1\n",
                "line 2: M98 P1: subprograms called more than 16 deep"},
        Refusal{"LabelTwice", "O1\nO1\nM98 P1\n",
                "line 3: M98 P1: O1 stands on more than one line (lines 1 and 2)"},
        Refusal{"LabelWithWords", "O5 G0 X1", "line 1: O5 must stand on a line of its own"},
        Refusal{"CallWithoutP", "M98 L2",
                "line 1: M98 needs P with the number of the "
                "subprogram (its O label)"},
        Refusal{"NoCalls", "M98 P1 L0\nM30\nO1\nM99",
                "line 1: L0: the number of calls is a whole number from 1 to 99999"},
        Refusal{"ToolFraction", "T2.5",
                "line 1: T2.5: a tool number is a whole number from 0 to 255"},
        Refusal{"ToolLengthRange", "G43 H300",
                "line 1: H300: a tool length number is a whole number from 0 to 255"},
        Refusal{"StrayH", "G0 X1 H1", "line 1: H1 without G43 or G44"},
        Refusal{"StrayQ", "G0 X1 Q1", "line 1: Q1 without a drilling cycle (G73 or G83)"},
        Refusal{"StrayL", "G0 X1 L1", "line 1: L1 without G10, a drilling cycle or M98"},
        Refusal{"G10WithoutP", "G10 L2 X1", "line 1: G10 L2 needs P1 to P6 (G54 to G59)"},
        Refusal{"G10WithoutL", "G10 P1 X1", "line 1: G10 needs L2 or L20 (work offsets)"},
        Refusal{"G10ToolTable", "G10 L1 P1 Z1", "line 1: G10 needs L2 or L20 (work offsets)"},
        Refusal{"G10BadSystem", "G10 L2 P7 X1",
                "line 1: P7: the work offset is a whole number from 1 to 6"},
        Refusal{"G92WithoutAxes", "G92", "line 1: G92 needs at least one axis word"},
        Refusal{"G92_1WithAxes", "G92.1 X1", "line 1: G92.1 takes no axis words"},
        Refusal{"G53WithAnArcMode", "G0 X1\nG2\nG53 X1", "line 3: G53 needs G0 or G1"},
        Refusal{"G53WithG28", "G53 G28 Z0", "line 1: G53 and G28 cannot share a line"},
        Refusal{"ArcWordOfTheNormal", "G18 G2 X1 Z1 J1 F10",
                "line 1: J is not used by arcs in the ZX plane (G18)"},
        Refusal{"ArcXZWithoutCentre", "G18 G2 X1 F10", "line 1: G2 needs I and K or R"},
        Refusal{"ArcYZBoth", "G19 G3 Y1 J1 R1 F10", "line 1: G3 takes J and K or R, not both"},
        Refusal{"AbsoluteCentreHalf", "G90.1 G2 X10 Y0 I5 F10",
                "line 1: G2 with absolute centres (G90.1) needs both I and J"},
        Refusal{"CycleOutsideXY", "G18 G81 X1 Z-1 R1 F10", "line 1: G81 needs the XY plane (G17)"},
        Refusal{"CycleWithoutZ", "G81 X1 R1 F10", "line 1: G81 needs Z (the hole bottom)"},
        Refusal{"CycleWithoutR", "G81 X1 Z-1 F10", "line 1: G81 needs R (the retract plane)"},
        Refusal{"PeckWithoutQ", "G83 X1 Z-1 R1 F10",
                "line 1: G83 needs Q above 0 (the peck depth)"},
        Refusal{"BottomAboveR", "G81 X1 Z1 R-1 F10",
                "line 1: G81: the hole bottom Z is above the retract plane R"},
        Refusal{"CycleWithoutFeed", "G81 X1 Z-1 R1", "line 1: G81 without a feed rate (F)"},
        Refusal{"CycleWithRotary", "G81 X1 A1 Z-1 R1 F10", "line 1: G81 takes no A, B or C words"},
        Refusal{"TooManyPecks", "G83 X1 Z-100 R1 Q0.001 F10",
                "line 1: G83: the hole takes more than 10000 pecks of Q"},
        Refusal{"AxisWordsAfterG80", "G81 X1 Z-1 R1 F10\nG80\nX5",
                "line 3: X5: axis words without G0, G1, G2 or G3"},
        Refusal{"G28OfADisabledAxis", "G28 B1", "line 1: axis B is not enabled"},
        Refusal{"G30BeyondTheLimits", "G0 X0\nG91 G30 X2000",
                "line 2: move beyond the soft limits: X would reach 2100 (limits -1000 to 1000)"},
        Refusal{"CoolantOnAndOff", "M7 M9", "line 1: M7 and M9 cannot share a line"},
        Refusal{"PauseAndEnd", "M0 M30", "line 1: M0 and M30 cannot share a line"},
        Refusal{"TwoWorkOffsets", "G54 G55", "line 1: G54 and G55 cannot share a line"},
        Refusal{"TwoPlanes", "G17 G18", "line 1: G17 and G18 cannot share a line"},
        Refusal{"TwoArcModes", "G90.1 G91.1", "line 1: G90.1 and G91.1 cannot share a line"},
        Refusal{"UnitSynonymsTogether", "G20 G71", "line 1: G20 and G71 cannot share a line"},
        Refusal{"ErrorInsideASubprogram", "M98 P7\nM30\nO7\nG5\nM99\n", "line 4: unknown word G5"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// ---- What the program reports besides its blocks ----

TEST(DialectReport, WorkOffsetsUsedByAbsoluteMovesInOrder) {
  GcodeProgram program;
  std::string error;
  // G56 is entered but only moved in incrementally; G53 moves use none; G57 by an arc centre.
  ASSERT_TRUE(
      program.Parse("G55 G0 X1\nG91 G56 G0 X1\nG90 G53 G0 X0\nG54 G0 X0\n"
                    "G57 G90.1 G91 G2 X0 Y0 I0 J0 F100\n",
                    DialectMachine(), &error))
      << error;
  EXPECT_EQ(program.work_offsets_used(), (std::vector<int>{2, 1, 4}));
}

TEST(DialectFeeds, InchFeedsConvertExceptForRotaryAxesAlone) {
  const std::vector<Block> blocks =
      ParseOk("G20 G1 X1 F10\nG1 A10 F100\nG1 X2 A20\nG21 G1 A30\n", DialectMachine());
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_DOUBLE_EQ(blocks[0].feed, 254.0);   // 10 inch per minute
  EXPECT_DOUBLE_EQ(blocks[1].feed, 100.0);   // 100 degrees per minute
  EXPECT_DOUBLE_EQ(blocks[2].feed, 2540.0);  // X moves too: inches
  EXPECT_DOUBLE_EQ(blocks[3].feed, 100.0);
}

TEST(DialectReport, CoolantWithoutAnOutputIsNotedOnce) {
  Machine machine = DialectMachine();
  machine.flood_output = 0;
  GcodeProgram program;
  std::string error;
  ASSERT_TRUE(program.Parse("M8\nM9\nM8\nM7\n", machine, &error)) << error;
  EXPECT_EQ(program.notes(), (std::vector<std::string>{
                                 "line 1: M8 switches nothing: the machine has no flood output "
                                 "(FloodOutput)"}));
  ASSERT_EQ(program.blocks().size(), 4u);
  EXPECT_EQ(program.blocks()[0].output, 0);
  EXPECT_EQ(program.blocks()[3].output, 2);
}

TEST(DialectReport, SubprogramBlocksCarryTheirOwnLines) {
  const std::vector<Block> blocks = ParseOk("M98 P3 L2\nM30\nO3\nM3 S100\nM99\n", DialectMachine());
  ASSERT_EQ(blocks.size(), 2u);
  for (const Block& b : blocks) {
    EXPECT_EQ(b.kind, BlockKind::kSpindle);
    EXPECT_EQ(b.line, 4);
  }
}

TEST(DialectReport, ProbeBlocksCarryTheOffsetsInEffect) {
  // G55 with tool 1: machine minus program is X 200, Y 100, Z -30 + 10.
  const std::vector<Block> blocks = ParseOk("G55 G43 H1\nG31 Z-5 F100\n", DialectMachine());
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].kind, BlockKind::kProbe);
  EXPECT_EQ(blocks[0].offset, (Position{200, 100, -20, 0, 0, 0}));
  EXPECT_EQ(blocks[0].to, (Position{0, 0, -25, 0, 0, 0}));
}

TEST(DialectLimits, EndlessRepeatsStopAtTheLineBudget) {
  GcodeProgram program;
  std::string error;
  EXPECT_FALSE(program.Parse("M98 P1 L99999\nM30\nO1\nM98 P2 L99999\nM99\nO2\nM99\n",
                             DialectMachine(), &error));
  EXPECT_EQ(error,
            "line 7: the program runs more than 5000000 lines (subprograms and repeats "
            "counted), more than kelvro-sim runs");
}

}  // namespace
}  // namespace kelvro::sim
