// Conversions between numbers and the texts stored in the profile.
#pragma once

#include <string>
#include <string_view>

namespace kelvro {

// Decimal integer at the start of the text: leading white space and one sign allowed,
// stops at the first character that is not a digit. No digits give 0. Values beyond the
// int range are limited to INT_MIN / INT_MAX.
int ParseLeadingInt(std::string_view text);

// Result of reading the longest leading decimal number of a text.
struct LeadingReal {
  double value = 0.0;
  bool found = false;  // false when the text does not begin with a number (value 0)
};

// Longest leading decimal number: white space, sign, digits with an optional point, an
// optional exponent. Only decimal notation counts ("inf", "nan", "0x1p3" give 0 or stop at
// the "x"). Magnitudes beyond the double range are limited to the largest finite double;
// ones too small for it become 0. Independent of the C locale.
LeadingReal ParseLeadingReal(std::string_view text);
inline double ParseReal(std::string_view text) {
  return ParseLeadingReal(text).value;
}

// Text of a double with 8 significant digits: fixed notation when 0.1 <= |v| < 1e8 or v is
// 0, otherwise d.ddddddde+XXX with a sign and three exponent digits. Trailing zeros after
// the point are dropped but the point stays: 1000 -> "1000.", 1 -> "1.", 1e30 -> "1.e+030".
// NaN is written as "0." and infinities as the largest finite double, so that every text
// written reads back as a finite number.
std::string FormatReal(double value);

}  // namespace kelvro
