// Splitting a line into words: packed and spaced forms, case, comments, numbers.
#include "sim/gcode_words.h"

#include <gtest/gtest.h>

namespace kelvro::sim {
namespace {

struct SplitCase {
  const char* name;
  const char* line;
  std::vector<std::string> texts;  // the words as written, letters upper case
  std::vector<double> values;
};

class SplitWordsCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitWordsCases, GiveTheWords) {
  std::vector<Word> words;
  std::string error;
  ASSERT_TRUE(SplitWords(GetParam().line, &words, &error)) << error;
  ASSERT_EQ(words.size(), GetParam().texts.size());
  for (size_t i = 0; i < words.size(); ++i) {
    EXPECT_EQ(words[i].text, GetParam().texts[i]);
    EXPECT_EQ(words[i].letter, GetParam().texts[i][0]);
    EXPECT_EQ(words[i].value, GetParam().values[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitWordsCases,
    ::testing::Values(SplitCase{"Packed",
                                "G00G21G17G90G40G49G80",
                                {"G00", "G21", "G17", "G90", "G40", "G49", "G80"},
                                {0, 21, 17, 90, 40, 49, 80}},
                      SplitCase{"PackedWithNumbers",
                                "N100G01X-1.5Y.25F300.",
                                {"N100", "G01", "X-1.5", "Y.25", "F300."},
                                {100, 1, -1.5, 0.25, 300}},
                      SplitCase{"LowerCase",
                                "g02x40.0000y10i0.0j10",
                                {"G02", "X40.0000", "Y10", "I0.0", "J10"},
                                {2, 40, 10, 0, 10}},
                      SplitCase{"SpacedAndSigned",
                                "G1 X 5 Y +2.5 Z -1",
                                {"G1", "X5", "Y+2.5", "Z-1"},
                                {1, 5, 2.5, -1}},
                      SplitCase{"Comments", "G0 (move) X1 ;X2 (never)", {"G0", "X1"}, {0, 1}},
                      SplitCase{"DecimalCode", "G90.1 G28.1", {"G90.1", "G28.1"}, {90.1, 28.1}},
                      SplitCase{"ProgramNumber", "O1000 (PART)", {"O1000"}, {1000}},
                      SplitCase{"Empty", "  \t\r", {}, {}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(SplitWords, RefusesWhatStartsNoWord) {
  std::vector<Word> words;
  std::string error;
  EXPECT_FALSE(SplitWords("G0 X1 #3", &words, &error));
  EXPECT_EQ(error, "unexpected character '#'");
  EXPECT_FALSE(SplitWords("G0 X", &words, &error));
  EXPECT_EQ(error, "missing number after X");
  EXPECT_FALSE(SplitWords("G0 (open", &words, &error));
  EXPECT_EQ(error, "comment not closed: '(' without ')'");
  EXPECT_FALSE(SplitWords("X2000000000", &words, &error));
  EXPECT_EQ(error, "number out of range: X2000000000");
}

TEST(PercentLine, OnlyTheMarkerAlone) {
  EXPECT_TRUE(IsPercentLine("%"));
  EXPECT_TRUE(IsPercentLine("  %\r"));
  EXPECT_FALSE(IsPercentLine("%%"));
  EXPECT_FALSE(IsPercentLine("% G0"));
  EXPECT_FALSE(IsPercentLine(""));
}

TEST(CodeOf, TenthsOfGAndMNumbers) {
  EXPECT_EQ(CodeOf(0.0), 0);
  EXPECT_EQ(CodeOf(1.0), 10);
  EXPECT_EQ(CodeOf(28.1), 281);
  EXPECT_EQ(CodeOf(90.1), 901);
  EXPECT_EQ(CodeOf(61.1), 611);
  EXPECT_EQ(CodeOf(1000.0), 10000);
  EXPECT_EQ(CodeOf(1.25), -1);  // no such code
  EXPECT_EQ(CodeOf(-1.0), -1);
  EXPECT_EQ(CodeOf(1e9), -1);
}

}  // namespace
}  // namespace kelvro::sim
