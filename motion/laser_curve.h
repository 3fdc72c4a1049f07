// Laser ramp power curve: feed percent (X) against PWM duty percent (Y), evaluated as a
// cubic spline through the user's points.
#pragma once

#include <array>

#include "settings/plugin_settings.h"

namespace kelvro {

// An end slope above 0.99e30 selects a natural end (second derivative 0).
inline constexpr double kNaturalSplineEnd = 1e30;

// The run-time copy of a curve: its points and the spline's second derivatives.
struct PreparedLaserCurve {
  int count = 0;
  std::array<double, kLaserCurveMaxPoints> x{};
  std::array<double, kLaserCurveMaxPoints> y{};
  std::array<double, kLaserCurveMaxPoints> y2{};
  // Set when the points had to be put right before the spline could be built: point count
  // limited to 2..20, points with a NaN or infinite coordinate dropped, points sorted by X,
  // points sharing an X merged into one with the mean Y, or a degenerate spline replaced
  // by straight lines.
  bool repaired = false;
};

// Prepares the spline through the curve's points. Both slopes default to natural ends.
PreparedLaserCurve BuildLaserCurve(const LaserCurve& curve, double start_slope = kNaturalSplineEnd,
                                   double end_slope = kNaturalSplineEnd);

// The curve's value at feed percent x. At or beyond the last point: the last Y; below the
// first point the first cubic piece is extrapolated. The result is not limited, but it is
// never NaN or infinite: a NaN x, or an extrapolation that overflows, yields the first Y;
// an empty curve yields 0 and a single point its Y.
double LaserCurveAt(const PreparedLaserCurve& curve, double x);

}  // namespace kelvro
