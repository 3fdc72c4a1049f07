#include "sim/arc_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kelvro::sim {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr char kAxisLetters[kAxisCount + 1] = "XYZABC";

double NormalizeAngle(double angle) {  // into [0, 2π)
  double a = std::fmod(angle, kTwoPi);
  if (a < 0.0) a += kTwoPi;
  if (a >= kTwoPi) a = 0.0;
  return a;
}

}  // namespace

bool ResolveArc(const Block& block, const Position& start, const Position& end, ArcGeometry* arc,
                std::string* error) {
  const PlaneAxes axes = AxesOf(block.plane);
  const double sx = start[axes.first], sy = start[axes.second];
  const double ex = end[axes.first], ey = end[axes.second];
  double cx = 0.0, cy = 0.0;
  if (block.radius_form) {
    const double r = block.radius;
    const double dx = ex - sx, dy = ey - sy;
    const double d = std::hypot(dx, dy);
    if (std::fabs(r) < 1e-9) {
      *error = "arc radius R is 0";
      return false;
    }
    if (d < 1e-9) {
      *error = "an arc given by R needs an end point apart from its start point";
      return false;
    }
    const double half = d / 2.0;
    if (std::fabs(r) < half - (0.005 + 1e-3 * half)) {
      *error = "arc radius " + NumberText(std::fabs(r)) + " is shorter than half the distance " +
               NumberText(d) + " to the end point";
      return false;
    }
    const double h = std::sqrt(std::max(0.0, r * r - half * half));
    // Clockwise arcs of up to half a circle turn about a centre right of the chord.
    const double side = (block.clockwise ? 1.0 : -1.0) * (r > 0.0 ? 1.0 : -1.0);
    cx = sx + dx / 2.0 + side * h * dy / d;
    cy = sy + dy / 2.0 - side * h * dx / d;
  } else {
    const double base_x = block.centre_absolute ? block.from[axes.first] : sx;
    const double base_y = block.centre_absolute ? block.from[axes.second] : sy;
    cx = base_x + block.offset_first;
    cy = base_y + block.offset_second;
  }
  const double rs = std::hypot(sx - cx, sy - cy);
  const double re = std::hypot(ex - cx, ey - cy);
  if (rs < 1e-9) {
    *error = "arc radius is 0 (the centre is the start point)";
    return false;
  }
  if (std::fabs(rs - re) > 0.005 + 1e-3 * rs) {
    *error = "arc end point is not on the circle (radius " + NumberText(rs) + " at the start, " +
             NumberText(re) + " at the end)";
    return false;
  }
  const double sa = std::atan2(sy - cy, sx - cx);
  const double ea = std::atan2(ey - cy, ex - cx);
  double sweep = 0.0;
  if (std::hypot(ex - sx, ey - sy) < 1e-9) {
    sweep = kTwoPi;  // end on the start: a full circle
  } else {
    sweep = NormalizeAngle(block.clockwise ? sa - ea : ea - sa);
    if (sweep == 0.0) sweep = kTwoPi;
  }
  arc->first = axes.first;
  arc->second = axes.second;
  arc->centre_first = cx;
  arc->centre_second = cy;
  arc->start_radius = rs;
  arc->end_radius = re;
  arc->start_angle = sa;
  arc->sweep = block.clockwise ? -sweep : sweep;
  return true;
}

void ArcExtent(const ArcGeometry& arc, double* min_first, double* max_first, double* min_second,
               double* max_second) {
  const double total = std::fabs(arc.sweep);
  const auto point = [&](double travelled, double* x, double* y) {
    const double f = total > 0.0 ? travelled / total : 0.0;
    const double r = arc.start_radius + (arc.end_radius - arc.start_radius) * f;
    const double a = arc.start_angle + (arc.sweep < 0.0 ? -travelled : travelled);
    *x = arc.centre_first + r * std::cos(a);
    *y = arc.centre_second + r * std::sin(a);
  };
  double x = 0.0, y = 0.0;
  point(0.0, &x, &y);
  *min_first = *max_first = x;
  *min_second = *max_second = y;
  const auto include = [&](double travelled) {
    point(travelled, &x, &y);
    *min_first = std::min(*min_first, x);
    *max_first = std::max(*max_first, x);
    *min_second = std::min(*min_second, y);
    *max_second = std::max(*max_second, y);
  };
  include(total);
  for (int quadrant = 0; quadrant < 4; ++quadrant) {
    const double cardinal = quadrant * std::numbers::pi / 2.0;
    const double travelled =
        NormalizeAngle(arc.sweep < 0.0 ? arc.start_angle - cardinal : cardinal - arc.start_angle);
    if (travelled <= total) include(travelled);
  }
}

bool CheckSoftLimits(const Machine& machine, const Position& from, const Position& to,
                     const ArcGeometry* arc, std::string* error) {
  double arc_min[kAxisCount] = {}, arc_max[kAxisCount] = {};
  if (arc) {
    ArcExtent(*arc, &arc_min[arc->first], &arc_max[arc->first], &arc_min[arc->second],
              &arc_max[arc->second]);
  }
  for (int k = 0; k < kAxisCount; ++k) {
    if (!machine.SoftLimitsApply(k)) continue;
    const bool on_arc = arc && (k == arc->first || k == arc->second);
    if (!on_arc && to[k] == from[k]) continue;  // an axis that does not move is left alone
    const double lo = on_arc ? std::min(arc_min[k], to[k]) : to[k];
    const double hi = on_arc ? std::max(arc_max[k], to[k]) : to[k];
    const AxisConfig& axis = machine.axes[k];
    if (lo < axis.soft_min || hi > axis.soft_max) {
      const double reached = lo < axis.soft_min ? lo : hi;
      *error = std::string("move beyond the soft limits: ") + kAxisLetters[k] + " would reach " +
               NumberText(reached) + " (limits " + NumberText(axis.soft_min) + " to " +
               NumberText(axis.soft_max) + ")";
      return false;
    }
  }
  return true;
}

}  // namespace kelvro::sim
