#include "ui/curve_file.h"

#include <algorithm>
#include <charconv>

#include "motion/laser_curve.h"
#include "ui/field_exchange.h"

namespace kelvro {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The next number after white space, consuming it from `text`.
std::optional<double> NextNumber(std::string_view& text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  size_t length = 0;
  const std::optional<double> value = ScanNumber(text, length);
  text.remove_prefix(length);
  return value;
}

}  // namespace

std::optional<LaserCurve> ParseCurveFile(std::string_view text) {
  LaserCurve read;
  int count = 0;
  while (count < kLaserCurveMaxPoints) {
    const std::optional<double> x = NextNumber(text);
    if (!x) break;
    const std::optional<double> y = NextNumber(text);
    read.x[count] = *x;
    read.y[count] = y.value_or(0.0);
    ++count;
    if (!y) break;
  }
  if (count < 2) return std::nullopt;
  read.count = count;
  read.x[0] = 0.0;
  read.x[count - 1] = 100.0;
  for (int i = 0; i < count; ++i) {
    read.x[i] = std::clamp(read.x[i], 0.0, 100.0);
    read.y[i] = std::clamp(read.y[i], 0.0, 100.0);
  }
  // The spline's own preparation orders the points and merges equal X; its points are the
  // curve the run time would use, so the editor takes them over.
  const PreparedLaserCurve sound = BuildLaserCurve(read);
  LaserCurve curve;
  curve.count = sound.count;
  curve.x = sound.x;
  curve.y = sound.y;
  return curve;
}

std::string FormatCurveFile(const LaserCurve& curve) {
  // Six decimals with a point whatever the host's locale.
  const auto append = [](std::string& text, double value, char after) {
    char number[400];
    const auto result =
        std::to_chars(number, number + sizeof number, value, std::chars_format::fixed, 6);
    if (result.ec == std::errc()) text.append(number, result.ptr);
    text += after;
  };
  std::string text;
  const int count = std::clamp(curve.count, 0, kLaserCurveMaxPoints);
  for (int i = 0; i < count; ++i) {
    append(text, curve.x[i], ' ');
    append(text, curve.y[i], '\n');
#ifdef _WIN32
    // A text file of the platform.
    text.insert(text.size() - 1, 1, '\r');
#endif
  }
  return text;
}

}  // namespace kelvro
