// Reading point files: the line syntax, where the reading stops, lines of any length, line
// ends, blank lines and numbers that are no machine positions.
#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/zcorr/z_map_test_support.h"

namespace kelvro::test {
namespace {

struct LineCase {
  const char* line;
  bool ok;
  double x = 0.0, y = 0.0, z = 0.0;
};

void PrintTo(const LineCase& c, std::ostream* os) {
  *os << '"' << c.line << '"';
}

class ParseLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ParseLine, AsThreeCommaSeparatedNumbers) {
  const LineCase& c = GetParam();
  ZMapPoint p{-7.0, -7.0, -7.0};
  EXPECT_EQ(ParseZMapLine(c.line, &p), c.ok) << c.line;
  if (c.ok) {
    EXPECT_EQ(p.x, c.x) << c.line;
    EXPECT_EQ(p.y, c.y) << c.line;
    EXPECT_EQ(p.z, c.z) << c.line;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseLine,
    ::testing::Values(
        LineCase{"1,2,3", true, 1, 2, 3}, LineCase{"10.5,-20.25,0.125", true, 10.5, -20.25, 0.125},
        // White space before each number, of every kind "%lf" skips.
        LineCase{"  1,\t2, \v\f3", true, 1, 2, 3}, LineCase{"1,2,\r3", true, 1, 2, 3},
        // Signs, points without digits on one side, exponents.
        LineCase{"+1.,-.5,2e1", true, 1, -0.5, 20},
        LineCase{"1E+2,2e-1,-3.5E0", true, 100, 0.2, -3.5},
        // Anything after the third number is ignored.
        LineCase{"1,2,3 a comment", true, 1, 2, 3}, LineCase{"1,2,3,4", true, 1, 2, 3},
        LineCase{"1,2,3\r", true, 1, 2, 3}, LineCase{"1,2,3.5.5", true, 1, 2, 3.5},
        LineCase{"1,2,3x", true, 1, 2, 3}, LineCase{"1,2,0.x", true, 1, 2, 0},
        // Too small for a double: zero, as "%lf" reads it.
        LineCase{"1e-999,2,-1e-400", true, 0, 2, 0},
        LineCase{"0.000000000000000000000000000000000000000000000000000000000001e-300,0,0", true, 0,
                 0, 0},
        // The comma must follow its number directly.
        LineCase{"1 ,2,3", false}, LineCase{"1,2 ,3", false}, LineCase{"1;2;3", false},
        LineCase{"1,2", false}, LineCase{"1,2,", false}, LineCase{"1,,3", false},
        LineCase{"", false}, LineCase{"X,Y,Z", false}, LineCase{"., 1, 2", false},
        LineCase{"-,1,2", false}, LineCase{"1,2,+", false},
        // An exponent needs a digit: "1e" is no number for "%lf".
        LineCase{"1e,2,3", false}, LineCase{"1,2,3e", false}, LineCase{"1,2,3e+", false},
        // Not finite, hexadecimal, or no machine position.
        LineCase{"nan,1,2", false}, LineCase{"1,inf,2", false}, LineCase{"1,2,-infinity", false},
        LineCase{"1e999,1,2", false}, LineCase{"1,-1e309,2", false}, LineCase{"0x10,1,2", false},
        LineCase{"1,2,0x1p3", false}, LineCase{"2e9,0,0", false},
        LineCase{"0,0,-1000000001", false}, LineCase{"1000000000,0,-1e9", true, 1e9, 0, -1e9},
        LineCase{"1000000000000000000000000000000000000000e-31,0,0", true, 1e8, 0, 0}));

TEST(ParseLineRange, BeyondTheDoubleRangeDecidedByTheWholeNumber) {
  ZMapPoint p;
  // Overflow although the exponent is negative...
  EXPECT_FALSE(ParseZMapLine("1" + std::string(400, '0') + "e-30,0,0", &p));
  // ...and underflow (read as 0) although it is positive.
  ASSERT_TRUE(ParseZMapLine("0." + std::string(400, '0') + "1e5,0,0", &p));
  EXPECT_EQ(p.x, 0.0);
  ASSERT_TRUE(ParseZMapLine("-0." + std::string(400, '0') + "1e5,1,2", &p));
  EXPECT_EQ(p.x, 0.0);
  EXPECT_EQ(p.z, 2.0);
}

TEST(ParseLineRange, NulBytes) {
  ZMapPoint p;
  EXPECT_FALSE(ParseZMapLine(std::string_view("1,2\0,3", 6), &p));
  ASSERT_TRUE(ParseZMapLine(std::string_view("1,2,3\0x", 7), &p));
  EXPECT_EQ(p.z, 3.0);
}

// Reads `text` through a real file.
std::vector<ZMapPoint> ReadAll(const TempDir& dir, std::string_view text,
                               ZPointReadEnd* why = nullptr, size_t limit = kZMapMaxPoints) {
  const std::string path = WriteFile(dir, "read.txt", text);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  std::vector<ZMapPoint> points;
  const ZPointReadEnd end = ReadZMapPoints(f.get(), &points, limit);
  if (why) *why = end;
  return points;
}

struct ReadCase {
  const char* name;
  const char* text;
  std::vector<double> z;  // Z of every point read, in file order
};

class ReadPointsTable : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadPointsTable, ReadsThePointsUpToTheEnd) {
  TempDir dir;
  ZPointReadEnd why = ZPointReadEnd::kReadError;
  const auto points = ReadAll(dir, GetParam().text, &why);
  EXPECT_EQ(why, ZPointReadEnd::kEndOfData);
  std::vector<double> z;
  for (const ZMapPoint& p : points) z.push_back(p.z);
  EXPECT_EQ(z, GetParam().z);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadPointsTable,
    ::testing::Values(ReadCase{"HeaderLine", "X,Y,Z\n0,0,0\n1,0,0\n0,1,0\n1,1,0\n", {}},
                      // The reading stops at the first unreadable line; the points before it stay.
                      ReadCase{"SpaceBeforeComma", "0,0,1\n1,0,2\n2 ,0,3\n3,0,4\n", {1, 2}},
                      ReadCase{"LastLineWithoutLineEnd", "0,0,1\n1,0,2", {1, 2}},
                      ReadCase{"CrlfLineEnds", "0,0,1\r\n1,0,2\r\n\r\n2,0,3\r\n", {1, 2, 3}},
                      ReadCase{
                          "BlankLinesPassedOver", "\n0,0,1\n1,0,2\n\n   \t\n2,0,3\n\n", {1, 2, 3}},
                      ReadCase{"Empty", "", {}}, ReadCase{"OnlyBlankLines", "\n\r\n  \n", {}}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(ReadPoints, NulBeforeAComma) {
  TempDir dir;
  const auto points = ReadAll(dir, std::string_view("0,0,1\n1,0\0,2\n2,0,3\n", 19));
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].z, 1.0);
}

TEST(ReadPoints, NonFiniteNumbersEndTheReading) {
  TempDir dir;
  for (const char* bad : {"nan", "-nan", "inf", "INF", "1e999", "-1e999", "NaN(123)"}) {
    const std::string text = std::string("0,0,0\n1,0,") + bad + "\n2,0,0\n";
    const auto points = ReadAll(dir, text);
    ASSERT_EQ(points.size(), 1u) << bad;
    EXPECT_TRUE(std::isfinite(points[0].z));
  }
}

TEST(ReadPoints, LongLineIsOnePoint) {
  // A line far longer than any read buffer: what follows the third number, even text that
  // looks like another point, belongs to the same line.
  TempDir dir;
  for (size_t pad : {250u, 258u, 259u, 260u, 1000u, 70000u, 200000u}) {
    const std::string text = "1,2,3" + std::string(pad, ' ') + "4,5,6\n7,8,9\n";
    const auto points = ReadAll(dir, text);
    ASSERT_EQ(points.size(), 2u) << pad;
    EXPECT_EQ(points[0].z, 3.0);
    EXPECT_EQ(points[1].x, 7.0);
  }
}

TEST(ReadPoints, NumbersFarIntoALongLine) {
  TempDir dir;
  // A long run of white space before a number is still read...
  auto points = ReadAll(dir, "1," + std::string(1000, ' ') + "2,3\n");
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].y, 2.0);
  // ...and a number reaching beyond the characters looked at makes the line unreadable
  // rather than being cut short.
  // (cut after the leading zeros, "000...05" would read as 0)
  points = ReadAll(dir, "0,0,0\n1,2," + std::string(kZMapLineKeep, '0') + "5\n4,5,6\n");
  EXPECT_EQ(points.size(), 1u);
  points = ReadAll(dir, "0,0,0\n1,2,3" + std::string(kZMapLineKeep, '0') + "\n4,5,6\n");
  EXPECT_EQ(points.size(), 1u);
  // Leading zeros that end before the cut are read.
  points = ReadAll(dir, "1,2," + std::string(1000, '0') + "5\n");
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].z, 5.0);
  points = ReadAll(dir, "0,0,0\n1,2," + std::string(kZMapLineKeep - 4, ' ') + "3\n");
  EXPECT_EQ(points.size(), 1u);
  // A number ending just before that point is read.
  points = ReadAll(dir, "1,2," + std::string(kZMapLineKeep - 6, ' ') + "3\n");
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].z, 3.0);
}

TEST(ReadPoints, PointLimit) {
  TempDir dir;
  ZPointReadEnd why = ZPointReadEnd::kEndOfData;
  EXPECT_EQ(ReadAll(dir, "0,0,0\n1,0,0\n0,1,0\n", &why, 3).size(), 3u);
  EXPECT_EQ(why, ZPointReadEnd::kEndOfData);
  ReadAll(dir, "0,0,0\n1,0,0\n0,1,0\n1,1,0\n", &why, 3);
  EXPECT_EQ(why, ZPointReadEnd::kTooMany);
  // A line that ends the reading before the limit is reached is no overflow.
  ReadAll(dir, "0,0,0\n1,0,0\n0,1,0\nend\n", &why, 3);
  EXPECT_EQ(why, ZPointReadEnd::kEndOfData);
}

TEST(ReadPoints, ReadErrorIsReported) {
#ifdef _WIN32
  GTEST_SKIP() << "a folder does not open as a file here";
#endif
  TempDir dir;
  // A folder opens as a file but cannot be read.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(dir.path().c_str(), "rb"),
                                                    &std::fclose);
  ASSERT_TRUE(f);
  std::vector<ZMapPoint> points;
  EXPECT_EQ(ReadZMapPoints(f.get(), &points), ZPointReadEnd::kReadError);
}

}  // namespace
}  // namespace kelvro::test
