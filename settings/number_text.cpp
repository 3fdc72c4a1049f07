#include "settings/number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace kelvro {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

size_t SkipSpace(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  return i;
}

}  // namespace

int ParseLeadingInt(std::string_view text) {
  size_t i = SkipSpace(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate as a negative number so that INT_MIN is reachable without overflow.
  constexpr int kMin = std::numeric_limits<int>::min();
  int acc = 0;
  bool saturated = false;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (saturated) continue;
    const int digit = text[i] - '0';
    if (acc < (kMin + digit) / 10) {
      saturated = true;
      continue;
    }
    acc = acc * 10 - digit;
  }
  if (negative) return saturated ? kMin : acc;
  if (saturated || acc == kMin) return std::numeric_limits<int>::max();
  return -acc;
}

LeadingReal ParseLeadingReal(std::string_view text) {
  const size_t start = SkipSpace(text);
  size_t i = start;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const size_t mantissa_start = i;
  size_t int_digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++int_digits;
  size_t frac_digits = 0;
  if (i < text.size() && text[i] == '.') {
    size_t j = i + 1;
    while (j < text.size() && IsDigit(text[j])) ++j, ++frac_digits;
    if (int_digits + frac_digits > 0) i = j;
  }
  if (int_digits + frac_digits == 0) return {};
  const size_t mantissa_end = i;

  // An exponent counts only when at least one digit follows the e and its sign.
  long exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    bool exp_negative = false;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
      exp_negative = text[j] == '-';
      ++j;
    }
    if (j < text.size() && IsDigit(text[j])) {
      for (; j < text.size() && IsDigit(text[j]); ++j) {
        if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
      }
      if (exp_negative) exponent = -exponent;
      i = j;
    }
  }

  const std::string_view number = text.substr(mantissa_start, i - mantissa_start);
  double magnitude = 0.0;
  const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), magnitude,
                                         std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Decide between overflow and underflow from the decimal position of the first
    // significant digit.
    const std::string_view mantissa = text.substr(mantissa_start, mantissa_end - mantissa_start);
    long first_significant = 0;  // power of ten of the first non-zero digit, plus one
    bool any_nonzero = false;
    long position = static_cast<long>(int_digits);
    for (char c : mantissa) {
      if (c == '.') continue;
      if (c != '0') {
        any_nonzero = true;
        first_significant = position;
        break;
      }
      --position;
    }
    magnitude = (any_nonzero && first_significant + exponent > 0)
                    ? std::numeric_limits<double>::max()
                    : 0.0;
  } else if (ec != std::errc() || ptr != number.data() + number.size()) {
    magnitude = 0.0;
  }
  return {negative ? -magnitude : magnitude, true};
}

std::string FormatReal(double value) {
  if (std::isnan(value) || value == 0.0) return "0.";
  if (std::isinf(value)) value = std::copysign(std::numeric_limits<double>::max(), value);

  // Round to 8 significant digits first: the rounded exponent decides the notation.
  std::array<char, 64> buf{};
  const auto [end, ec] =
      std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::scientific, 7);
  if (ec != std::errc()) return "0.";
  const std::string_view sci(buf.data(), static_cast<size_t>(end - buf.data()));
  // sci is "[-]d.ddddddde[+-]X..."
  const bool negative = sci.front() == '-';
  const size_t digits_at = negative ? 1 : 0;
  const size_t e_at = sci.find('e');
  std::string digits;
  for (size_t k = digits_at; k < e_at; ++k) {
    if (sci[k] != '.') digits.push_back(sci[k]);
  }
  int exponent = 0;
  std::from_chars(sci.data() + e_at + (sci[e_at + 1] == '+' ? 2 : 1), sci.data() + sci.size(),
                  exponent);

  std::string out = negative ? "-" : "";
  auto trim_zeros = [](std::string s) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    return s;
  };
  if (exponent >= -1 && exponent < 8) {
    if (exponent == -1) {
      out += "0." + trim_zeros(digits);
    } else {
      const size_t int_len = static_cast<size_t>(exponent) + 1;
      out += digits.substr(0, int_len) + "." + trim_zeros(digits.substr(int_len));
    }
    return out;
  }
  out += digits.substr(0, 1) + "." + trim_zeros(digits.substr(1));
  const int abs_exp = exponent < 0 ? -exponent : exponent;
  std::array<char, 8> exp_text{};
  const auto exp_end =
      std::to_chars(exp_text.data(), exp_text.data() + exp_text.size(), abs_exp).ptr;
  std::string exp_digits(exp_text.data(), exp_end);
  while (exp_digits.size() < 3) exp_digits.insert(exp_digits.begin(), '0');
  out += exponent < 0 ? "e-" : "e+";
  out += exp_digits;
  return out;
}

}  // namespace kelvro
