// Number texts of the profile: integers, and reals written with 8 significant digits.
#include "settings/number_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>

namespace kelvro {
namespace {

constexpr double kMax = std::numeric_limits<double>::max();

struct IntCase {
  const char* text;
  int expected;
};

TEST(ParseLeadingIntTest, ReadsTheLeadingDecimalNumber) {
  const IntCase cases[] = {
      {"42", 42},
      {"  17", 17},
      {"\t\n 7", 7},
      {"+8", 8},
      {"-5", -5},
      {"007", 7},
      {"12abc", 12},
      {"3.9", 3},
      {"1e5", 1},
      {"0x1F", 0},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"+-3", 0},
      {" - 5", 0},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"99999999999999999999", INT_MAX},
      {"-99999999999999999999", INT_MIN},
      {"00000000000000000000000000012", 12},
  };
  for (const IntCase& c : cases) {
    EXPECT_EQ(ParseLeadingInt(c.text), c.expected) << "text \"" << c.text << "\"";
  }
}

struct RealCase {
  std::string text;
  double expected;
  bool found;
};

TEST(ParseLeadingRealTest, ReadsTheLongestLeadingDecimalNumber) {
  const RealCase cases[] = {
      {"1000.", 1000.0, true},
      {"1.", 1.0, true},
      {"1e30", 1e30, true},
      {"1.e+030", 1e30, true},
      {"  -2.5e-007xyz", -2.5e-7, true},
      {"\t+3", 3.0, true},
      {"  42  ", 42.0, true},
      {"-.5", -0.5, true},
      {".5e1", 5.0, true},
      {"1.5E3", 1500.0, true},
      {"5e", 5.0, true},
      {"5e+", 5.0, true},
      {"5e+x", 5.0, true},
      {"1,5", 1.0, true},
      {"12abc", 12.0, true},
      {"0x10", 0.0, true},
      {"0e999", 0.0, true},
      {"1e999", kMax, true},
      {"-1e999", -kMax, true},
      {"1e-999", 0.0, true},
      {"1" + std::string(400, '0'), kMax, true},
      {"0." + std::string(400, '0') + "1", 0.0, true},
      {"0." + std::string(400, '0') + "1e450", 1e49, true},
      {"abc", 0.0, false},
      {"", 0.0, false},
      {".", 0.0, false},
      {"-", 0.0, false},
      {"e5", 0.0, false},
      {"inf", 0.0, false},
      {"nan", 0.0, false},
      {"-infinity", 0.0, false},
  };
  for (const RealCase& c : cases) {
    const LeadingReal r = ParseLeadingReal(c.text);
    EXPECT_EQ(r.found, c.found) << "text \"" << c.text << "\"";
    if (c.expected == 0.0 || std::fabs(c.expected) == kMax) {
      EXPECT_EQ(r.value, c.expected) << "text \"" << c.text << "\"";
    } else {
      EXPECT_NEAR(r.value, c.expected, std::fabs(c.expected) * 1e-15)
          << "text \"" << c.text << "\"";
    }
    EXPECT_EQ(ParseReal(c.text), r.value);
  }
}

struct FormatCase {
  double value;
  const char* expected;
};

TEST(FormatRealTest, EightSignificantDigitsInTheStoredForm) {
  const FormatCase cases[] = {
      {1000.0, "1000."},
      {1.0, "1."},
      {0.0, "0."},
      {-0.0, "0."},
      {100.0, "100."},
      {0.1, "0.1"},
      {0.5, "0.5"},
      {12.5, "12.5"},
      {-1000.0, "-1000."},
      {123.456, "123.456"},
      {1.0 / 3.0, "0.33333333"},
      {2.0 / 3.0, "0.66666667"},
      {3.14159265358979, "3.1415927"},
      {123456.789, "123456.79"},
      {12345678.9, "12345679."},
      {99999999.0, "99999999."},
      {99999999.4, "99999999."},
      {99999999.6, "1.e+008"},
      {1e8, "1.e+008"},
      {0.09, "9.e-002"},
      {0.099999999, "9.9999999e-002"},
      {0.0999999999, "0.1"},
      {1e-5, "1.e-005"},
      {-2.5e-7, "-2.5e-007"},
      {1e30, "1.e+030"},
      {1234567890123.0, "1.2345679e+012"},
      {1.7976931348623157e308, "1.7976931e+308"},
      {4.9406564584124654e-324, "4.9406565e-324"},
      {std::numeric_limits<double>::quiet_NaN(), "0."},
      {std::numeric_limits<double>::infinity(), "1.7976931e+308"},
      {-std::numeric_limits<double>::infinity(), "-1.7976931e+308"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(FormatReal(c.value), c.expected) << "value " << c.value;
  }
}

TEST(FormatRealTest, TextReadsBackWithinEightDigits) {
  const double values[] = {0.0,    1.0,      -1.0,       1000.0, 0.1,     0.123456789,
                           99.999, 1e-300,   -7.25e-12,  1e30,   6.02e23, 99999999.0,
                           2.5e15, 12.34567, -0.0999999, 5e-324, 1e308,   -123456.7};
  for (const double v : values) {
    const std::string text = FormatReal(v);
    const LeadingReal back = ParseLeadingReal(text);
    EXPECT_TRUE(back.found) << text;
    // Everything written is one number from the first to the last character.
    EXPECT_EQ(text.find_first_not_of("0123456789.-+e"), std::string::npos) << text;
    EXPECT_NEAR(back.value, v, std::fabs(v) * 5e-8 + 1e-320) << text;
  }
}

}  // namespace
}  // namespace kelvro
