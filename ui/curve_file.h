// Laser ramp curve files: plain text, one point a line, feed percent and duty percent
// separated by white space. Read as the editor's Load does, written as its Save does.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "settings/plugin_settings.h"

namespace kelvro {

// Up to 20 pairs of numbers, any white space (line ends too) between them, stopping at the
// end or at the first place where no number starts; a pair cut short after its X still
// counts, with Y 0. Fewer than 2 pairs: nothing. Otherwise the first point's X becomes 0
// and the last one's 100, every value is limited to 0..100, and the points are put in
// ascending X with those sharing an X merged into one at their mean Y (so that the spline
// can be built through them; the first and last X stay 0 and 100).
std::optional<LaserCurve> ParseCurveFile(std::string_view text);

// One line "X Y" per point, six decimals each.
std::string FormatCurveFile(const LaserCurve& curve);

}  // namespace kelvro
