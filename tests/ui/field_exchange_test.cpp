// The data exchange every page shares: parsing, the two standard checks with their messages,
// and a save that stops at the first bad field.
#include "ui/field_exchange.h"

#include <gtest/gtest.h>

#include <array>

#include "tests/ui/ui_test_support.h"

namespace kelvro {
namespace {

struct UnsignedCase {
  const char* text;
  std::optional<uint32_t> value;
};

class ParseUnsignedTest : public ::testing::TestWithParam<UnsignedCase> {};

TEST_P(ParseUnsignedTest, TakesOnlyAnUnsignedDecimalWithBlanksAround) {
  EXPECT_EQ(ParseUnsigned(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseUnsignedTest,
    ::testing::Values(UnsignedCase{"0", 0u}, UnsignedCase{"10000", 10000u},
                      UnsignedCase{" \t42\t ", 42u}, UnsignedCase{"007", 7u},
                      UnsignedCase{"4294967295", 4294967295u}, UnsignedCase{"", std::nullopt},
                      UnsignedCase{"  ", std::nullopt}, UnsignedCase{"-5", std::nullopt},
                      UnsignedCase{"+5", std::nullopt}, UnsignedCase{"5a", std::nullopt},
                      UnsignedCase{"1 2", std::nullopt}, UnsignedCase{"1.0", std::nullopt},
                      UnsignedCase{"4294967296", std::nullopt},
                      UnsignedCase{"99999999999999999999", std::nullopt}));

struct NumberCase {
  const char* text;
  std::optional<double> value;
};

class ParseNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumberTest, TakesOnlyAFiniteDecimalNumber) {
  EXPECT_EQ(ParseNumber(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseNumberTest,
    ::testing::Values(NumberCase{"2", 2.0}, NumberCase{" 0.05 ", 0.05}, NumberCase{"-1.5", -1.5},
                      NumberCase{"+3", 3.0}, NumberCase{".5", 0.5}, NumberCase{"5.", 5.0},
                      NumberCase{"1e3", 1000.0}, NumberCase{"1E-2", 0.01},
                      NumberCase{"", std::nullopt}, NumberCase{".", std::nullopt},
                      NumberCase{"1e", std::nullopt}, NumberCase{"0x10", std::nullopt},
                      NumberCase{"inf", std::nullopt}, NumberCase{"nan", std::nullopt},
                      NumberCase{"1e999", std::nullopt}, NumberCase{"1,5", std::nullopt},
                      NumberCase{"2 mm", std::nullopt}));

TEST(FormatBounds, FillsBothPlaceholders) {
  EXPECT_EQ(FormatBounds(kMessageIntegerBetween, 10, 200000),
            "Please enter an integer between 10 and 200000.");
  EXPECT_EQ(FormatBounds(kMessageNumberBetween, 0, 1000),
            "Please enter a number between 0 and 1000.");
}

TEST(FormatNumber, ReadsBackExactly) {
  for (double v : {2.0, 0.05, 1000.0, 0.1 + 0.2, -3.25, 1e30}) {
    EXPECT_EQ(ParseNumber(FormatNumber(v)), v) << FormatNumber(v);
  }
  EXPECT_EQ(FormatNumber(2.0), "2");
  EXPECT_EQ(FormatNumber(0.05), "0.05");
}

TEST(Exchange, SaveStopsAtTheFirstBadFieldKeepingTheOnesBefore) {
  int a = 1, b = 2, c = 3;
  const std::array<Binding, 3> bindings{UnsignedBinding(10, a, 0, 100),
                                        UnsignedBinding(11, b, 0, 100),
                                        UnsignedBinding(12, c, 0, 100)};
  test::MapControls controls;
  controls.SetText(10, "50");
  controls.SetText(11, "101");
  controls.SetText(12, "-5");
  const ExchangeResult result = Exchange(bindings, controls, ExchangeDirection::kSave);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.failed_control, 11);
  EXPECT_EQ(result.message, "Please enter an integer between 0 and 100.");
  EXPECT_EQ(a, 50);  // read before the bad field
  EXPECT_EQ(b, 2);   // the bad field keeps its value
  EXPECT_EQ(c, 3);   // not reached
  controls.SetText(11, "100");
  const ExchangeResult second = Exchange(bindings, controls, ExchangeDirection::kSave);
  EXPECT_EQ(second.failed_control, 12);
  EXPECT_EQ(second.message, "Please enter a positive integer.");
}

TEST(Exchange, LoadWritesEveryKindIntoItsControl) {
  int check = 1, number = 42, choice = 3;
  double real = 0.05;
  std::string text = "zfile.txt";
  Binding text_binding;
  text_binding.control = 5;
  text_binding.kind = BindingKind::kText;
  text_binding.text_field = &text;
  const std::array<Binding, 5> bindings{CheckBinding(1, check), UnsignedBinding(2, number),
                                        NumberBinding(3, real), ChoiceBinding(4, choice),
                                        text_binding};
  test::MapControls controls;
  EXPECT_TRUE(Exchange(bindings, controls, ExchangeDirection::kLoad).ok);
  EXPECT_TRUE(controls.Checked(1));
  EXPECT_EQ(controls.Text(2), "42");
  EXPECT_EQ(controls.Text(3), "0.05");
  EXPECT_EQ(controls.Selection(4), 3);
  EXPECT_EQ(controls.Text(5), "zfile.txt");
  // A list without a selection saves index 0.
  controls.SetSelection(4, -1);
  EXPECT_TRUE(Exchange(bindings, controls, ExchangeDirection::kSave).ok);
  EXPECT_EQ(choice, 0);
}

TEST(Exchange, NumberMessages) {
  double d = 2.0;
  const std::array<Binding, 1> bindings{NumberBinding(7, d, 0, 1000)};
  test::MapControls controls;
  controls.SetText(7, "abc");
  EXPECT_EQ(Exchange(bindings, controls, ExchangeDirection::kSave).message,
            "Please enter a number.");
  controls.SetText(7, "1000.0001");
  EXPECT_EQ(Exchange(bindings, controls, ExchangeDirection::kSave).message,
            "Please enter a number between 0 and 1000.");
  controls.SetText(7, "1000");
  EXPECT_TRUE(Exchange(bindings, controls, ExchangeDirection::kSave).ok);
  EXPECT_EQ(d, 1000.0);
}

}  // namespace
}  // namespace kelvro
