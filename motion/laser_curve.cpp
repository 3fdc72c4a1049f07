#include "motion/laser_curve.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kelvro {

namespace {

struct Point {
  double x;
  double y;
};

// Second derivatives of the interpolating cubic spline through n >= 2 points with
// strictly ascending X (standard tridiagonal sweep). Returns false when the result is not
// finite, which only happens for X spacings so small that the slopes overflow.
bool SolveSecondDerivatives(PreparedLaserCurve& c, double start_slope, double end_slope) {
  const int n = c.count;
  std::array<double, kLaserCurveMaxPoints> u{};
  const auto& x = c.x;
  const auto& y = c.y;
  auto& y2 = c.y2;

  if (start_slope > 0.99e30) {
    y2[0] = 0.0;
    u[0] = 0.0;
  } else {
    y2[0] = -0.5;
    u[0] = (3.0 / (x[1] - x[0])) * ((y[1] - y[0]) / (x[1] - x[0]) - start_slope);
  }
  for (int i = 1; i < n - 1; ++i) {
    const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
    const double p = sig * y2[i - 1] + 2.0;
    y2[i] = (sig - 1.0) / p;
    u[i] = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
    u[i] = (6.0 * u[i] / (x[i + 1] - x[i - 1]) - sig * u[i - 1]) / p;
  }
  double qn = 0.0;
  double un = 0.0;
  if (end_slope <= 0.99e30) {
    qn = 0.5;
    un =
        (3.0 / (x[n - 1] - x[n - 2])) * (end_slope - (y[n - 1] - y[n - 2]) / (x[n - 1] - x[n - 2]));
  }
  y2[n - 1] = (un - qn * u[n - 2]) / (qn * y2[n - 2] + 1.0);
  for (int k = n - 2; k >= 0; --k) y2[k] = y2[k] * y2[k + 1] + u[k];

  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(y2[i])) return false;
  }
  return true;
}

}  // namespace

PreparedLaserCurve BuildLaserCurve(const LaserCurve& curve, double start_slope, double end_slope) {
  PreparedLaserCurve c;
  const int n = std::clamp(curve.count, 2, kLaserCurveMaxPoints);
  if (n != curve.count) c.repaired = true;

  // Keep only points that are real numbers.
  std::array<Point, kLaserCurveMaxPoints> pts{};
  int m = 0;
  for (int i = 0; i < n; ++i) {
    if (std::isfinite(curve.x[i]) && std::isfinite(curve.y[i])) {
      pts[m++] = {curve.x[i], curve.y[i]};
    } else {
      c.repaired = true;
    }
  }

  // The curve must stay a function of X: order the points and merge those that share an
  // X (the editor can insert a point on top of an existing one).
  const auto by_x = [](const Point& a, const Point& b) { return a.x < b.x; };
  if (!std::is_sorted(pts.begin(), pts.begin() + m, by_x)) {
    std::stable_sort(pts.begin(), pts.begin() + m, by_x);
    c.repaired = true;
  }
  int out = 0;
  for (int i = 0; i < m;) {
    int j = i;
    double sum = 0.0;
    while (j < m && pts[j].x == pts[i].x) sum += pts[j++].y;
    if (j - i > 1) c.repaired = true;
    c.x[out] = pts[i].x;
    // Mean without overflow for huge but finite values.
    double mean = sum / (j - i);
    if (!std::isfinite(mean)) {
      mean = 0.0;
      for (int k = i; k < j; ++k) mean += pts[k].y / (j - i);
    }
    c.y[out] = mean;
    ++out;
    i = j;
  }
  c.count = out;

  if (c.count >= 2 && !SolveSecondDerivatives(c, start_slope, end_slope)) {
    c.y2.fill(0.0);  // straight lines between the points
    c.repaired = true;
  }
  return c;
}

double LaserCurveAt(const PreparedLaserCurve& c, double x) {
  const int n = std::clamp(c.count, 0, kLaserCurveMaxPoints);
  if (n == 0) return 0.0;
  if (std::isnan(x) || n == 1) return c.y[0];
  if (x >= c.x[n - 1]) return c.y[n - 1];

  int lo = 0;
  int hi = n - 1;
  while (hi - lo > 1) {
    const int k = (hi + lo) / 2;
    if (c.x[k] > x) {
      hi = k;
    } else {
      lo = k;
    }
  }
  const double h = c.x[hi] - c.x[lo];
  const double a = (c.x[hi] - x) / h;
  const double b = (x - c.x[lo]) / h;
  const double r = a * c.y[lo] + b * c.y[hi] +
                   ((a * a * a - a) * c.y2[lo] + (b * b * b - b) * c.y2[hi]) * (h * h) / 6.0;
  return std::isfinite(r) ? r : c.y[0];
}

}  // namespace kelvro
