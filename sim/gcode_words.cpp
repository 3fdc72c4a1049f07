#include "sim/gcode_words.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kelvro::sim {
namespace {

constexpr double kMaxWordValue = 1e9;  // larger numbers are mistakes, not coordinates

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

bool SplitWords(std::string_view line, std::vector<Word>* words, std::string* error) {
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    const char c = line[i];
    if (IsSpace(c)) {
      ++i;
      continue;
    }
    if (c == '(') {
      const size_t close = line.find(')', i + 1);
      if (close == std::string_view::npos) {
        *error = "comment not closed: '(' without ')'";
        return false;
      }
      i = close + 1;
      continue;
    }
    if (c == ';') break;
    const bool lower = c >= 'a' && c <= 'z';
    const bool upper = c >= 'A' && c <= 'Z';
    if (!lower && !upper) {
      char buffer[48];
      if (c > ' ' && c < 127) {
        std::snprintf(buffer, sizeof(buffer), "unexpected character '%c'", c);
      } else {
        std::snprintf(buffer, sizeof(buffer), "unexpected character 0x%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
      }
      *error = buffer;
      return false;
    }
    Word word;
    word.letter = lower ? static_cast<char>(c - 'a' + 'A') : c;
    ++i;
    while (i < n && IsSpace(line[i])) ++i;
    const size_t start = i;
    if (i < n && (line[i] == '+' || line[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && IsDigit(line[i])) ++i, ++digits;
    if (i < n && line[i] == '.') {
      ++i;
      while (i < n && IsDigit(line[i])) ++i, ++digits;
    }
    if (digits == 0) {
      *error = std::string("missing number after ") + word.letter;
      return false;
    }
    std::string_view number = line.substr(start, i - start);
    word.text = std::string(1, word.letter) + std::string(number);
    if (number.front() == '+') number.remove_prefix(1);
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), word.value,
                                           std::chars_format::fixed);
    if (ec != std::errc() || end != number.data() + number.size() ||
        !(std::fabs(word.value) <= kMaxWordValue)) {
      *error = "number out of range: " + word.text;
      return false;
    }
    words->push_back(std::move(word));
  }
  return true;
}

bool IsPercentLine(std::string_view line) {
  size_t first = 0;
  while (first < line.size() && IsSpace(line[first])) ++first;
  size_t last = line.size();
  while (last > first && IsSpace(line[last - 1])) --last;
  return line.substr(first, last - first) == "%";
}

int CodeOf(double value) {
  const double tenths = value * 10.0;
  const double rounded = std::round(tenths);
  // No code is above 1000; anything larger is unknown (and must not reach the conversion).
  if (!(value >= 0.0 && value <= 1000.0) || std::fabs(tenths - rounded) > 1e-6) return -1;
  return static_cast<int>(rounded);
}

}  // namespace kelvro::sim
