// The data exchange every page shares: parsing, the two standard checks with their messages,
// and a save that stops at the first bad field.
#include "ui/field_exchange.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "settings/settings_table.h"
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
  const std::array<Binding, 3> bindings{Binding::Unsigned(10, a, 0, 100),
                                        Binding::Unsigned(11, b, 0, 100),
                                        Binding::Unsigned(12, c, 0, 100)};
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

constexpr std::array<const char*, 4> kItems{"a", "b", "c", "d"};

TEST(Exchange, LoadWritesEveryKindIntoItsControl) {
  int check = 1, number = 42, choice = 3, radio = 1;
  double real = 0.05;
  std::string text = "zfile.txt";
  const std::array<Binding, 6> bindings{
      Binding::Check(1, check), Binding::Unsigned(2, number),
      Binding::Number(3, real), Binding::Choice(4, choice, kItems),
      Binding::Text(5, text),   Binding::RadioGroup({6, 7, 8}, radio)};
  test::MapControls controls;
  EXPECT_TRUE(Exchange(bindings, controls, ExchangeDirection::kLoad).ok);
  EXPECT_TRUE(controls.Checked(1));
  EXPECT_EQ(controls.Text(2), "42");
  EXPECT_EQ(controls.Text(3), "0.05");
  EXPECT_EQ(controls.controls[4].items, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(controls.Selection(4), 3);
  EXPECT_EQ(controls.Text(5), "zfile.txt");
  EXPECT_FALSE(controls.Checked(6));
  EXPECT_TRUE(controls.Checked(7));
  EXPECT_FALSE(controls.Checked(8));
  controls.SetSelection(4, 1);
  controls.SetChecked(7, false);
  controls.SetChecked(8, true);
  EXPECT_TRUE(Exchange(bindings, controls, ExchangeDirection::kSave).ok);
  EXPECT_EQ(choice, 1);
  EXPECT_EQ(radio, 2);
}

// A value the control cannot show (a profile's value outside the items or buttons) loads as
// no selection and is saved back as it was; an item or button the user picks replaces it.
struct UnshownCase {
  int value;
  int picked;  // -1: the user picks nothing
  int saved;
};

class UnshownValueTest : public ::testing::TestWithParam<UnshownCase> {};

TEST_P(UnshownValueTest, ListAndRadioGroupKeepAValueTheyCannotShow) {
  const UnshownCase& c = GetParam();
  int choice = c.value, radio = c.value;
  const std::array<Binding, 2> bindings{Binding::Choice(4, choice, kItems),
                                        Binding::RadioGroup({6, 7, 8, 9}, radio)};
  test::MapControls controls;
  Exchange(bindings, controls, ExchangeDirection::kLoad);
  const bool shown = c.value >= 0 && c.value < 4;
  EXPECT_EQ(controls.Selection(4), shown ? c.value : -1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(controls.Checked(6 + i), i == c.value);
  if (c.picked >= 0) {
    controls.SetSelection(4, c.picked);
    for (int i = 0; i < 4; ++i) controls.SetChecked(6 + i, i == c.picked);
  }
  EXPECT_TRUE(Exchange(bindings, controls, ExchangeDirection::kSave).ok);
  EXPECT_EQ(choice, c.saved);
  EXPECT_EQ(radio, c.saved);
}

INSTANTIATE_TEST_SUITE_P(Values, UnshownValueTest,
                         ::testing::Values(UnshownCase{7, -1, 7}, UnshownCase{-3, -1, -3},
                                           UnshownCase{4, -1, 4}, UnshownCase{7, 0, 0},
                                           UnshownCase{2, -1, 2}, UnshownCase{2, 3, 3}));

TEST(Exchange, OneControlOrASubsetByIdWithTheSameChecks) {
  int a = 1, b = 2, radio = 0;
  const std::array<Binding, 3> bindings{Binding::Unsigned(10, a, 0, 100),
                                        Binding::Unsigned(11, b, 5, 9),
                                        Binding::RadioGroup({20, 21}, radio)};
  test::MapControls controls;
  controls.SetText(10, "x");
  controls.SetText(11, "10");
  controls.SetChecked(21, true);
  // The bad field 10 is not among the ids: only 11 is read, and refused.
  const ExchangeResult refused =
      ExchangeControls(bindings, controls, ExchangeDirection::kSave, {11, 21});
  EXPECT_EQ(refused.failed_control, 11);
  EXPECT_EQ(refused.message, "Please enter an integer between 5 and 9.");
  controls.SetText(11, "9");
  // A radio group by any of its buttons.
  EXPECT_TRUE(ExchangeControls(bindings, controls, ExchangeDirection::kSave, {21, 11}).ok);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 9);
  EXPECT_EQ(radio, 1);
  // A load of one control writes only that control.
  a = 55;
  b = 6;
  EXPECT_TRUE(ExchangeControls(bindings, controls, ExchangeDirection::kLoad, {10}).ok);
  EXPECT_EQ(controls.Text(10), "55");
  EXPECT_EQ(controls.Text(11), "9");
}

TEST(Exchange, AKeyThatIsNotInTheTableBindsNothingAndExchangesNothing) {
  PluginSettings settings;
  ApplySettingDefaults(settings);
  const std::array<Binding, 4> bindings{
      Binding::Unsigned(1, settings, "PWMFreqq"),      // misspelt
      Binding::Number(2, settings, "PWMFreq"),         // an integer setting
      Binding::Check(3, settings, "LMaxFeed"),         // a real setting
      Binding::Unsigned(4, settings, "HomeRetract")};  // the one that resolves
  for (size_t i = 0; i < 3; ++i) EXPECT_FALSE(bindings[i].resolved()) << i;
  ASSERT_TRUE(bindings[3].resolved());
  EXPECT_EQ(bindings[3].min(), 1);
  EXPECT_EQ(bindings[3].max(), 100);
  test::MapControls controls;
  EXPECT_TRUE(Exchange(bindings, controls, ExchangeDirection::kLoad).ok);
  EXPECT_EQ(controls.controls.count(1), 0u);
  EXPECT_EQ(controls.Text(4), "10");
  controls.SetText(1, "junk");
  controls.SetText(2, "junk");
  controls.SetText(4, "55");
  EXPECT_TRUE(Exchange(bindings, controls, ExchangeDirection::kSave).ok);
  EXPECT_EQ(settings.pwm_freq, 10000);
  EXPECT_EQ(settings.home_retract, 55);
}

TEST(Exchange, NumberMessages) {
  double d = 2.0;
  const std::array<Binding, 1> bindings{Binding::Number(7, d, 0, 1000)};
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
