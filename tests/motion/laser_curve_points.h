// Laser curves for tests, written as lists of (X, Y) points.
#pragma once

#include <utility>
#include <vector>

#include "settings/plugin_settings.h"

namespace kelvro::test {

using CurvePoints = std::vector<std::pair<double, double>>;

inline LaserCurve MakeCurve(const CurvePoints& points) {
  LaserCurve c;
  c.count = static_cast<int>(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    c.x[i] = points[i].first;
    c.y[i] = points[i].second;
  }
  return c;
}

inline CurvePoints PointsOf(const LaserCurve& c) {
  CurvePoints points;
  for (int i = 0; i < c.count; ++i) points.emplace_back(c.x[i], c.y[i]);
  return points;
}

}  // namespace kelvro::test
