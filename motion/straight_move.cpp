#include "motion/straight_move.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvro {
namespace {

// Only these axes limit the speed and acceleration of a straight move; B and C follow.
constexpr int kLimitingAxes = 4;

double Length(const Axes& v) {
  double sum = 0.0;
  for (double x : v) sum += x * x;
  return std::sqrt(sum);
}

}  // namespace

bool PlanStraightMove(StraightMove& move, const HostPlanner& planner, const Axes& start,
                      const Axes& end, double feed) {
  move.active = false;
  move.release_suppressed = false;
  move.start = start;
  move.end = end;
  Axes delta{};
  for (int k = 0; k < kAxisCount; ++k) {
    delta[k] = end[k] - start[k];
    move.steps_per_unit[k] = planner.axes[k].steps_per_unit;
  }
  const double length = Length(delta);
  if (!std::isfinite(length) || length <= 0.0 || !std::isfinite(feed) || feed <= 0.0) {
    return false;
  }

  Axes v{};
  for (int k = 0; k < kAxisCount; ++k) v[k] = delta[k] * feed / length;

  // Every limiting axis that moves needs a positive, finite velocity and acceleration
  // limit; a negative one would turn the move around.
  for (int k = 0; k < kLimitingAxes; ++k) {
    if (v[k] == 0.0) continue;
    const HostAxisTuning& axis = planner.axes[k];
    if (!(std::isfinite(axis.max_velocity) && axis.max_velocity > 0.0 &&
          std::isfinite(axis.acceleration) && axis.acceleration > 0.0)) {
      return false;
    }
  }
  double velocity_scale = std::numeric_limits<double>::infinity();
  for (int k = 0; k < kLimitingAxes; ++k) {
    if (v[k] != 0.0)
      velocity_scale = std::min(velocity_scale, planner.axes[k].max_velocity / std::fabs(v[k]));
  }
  if (velocity_scale < 1.0) {
    for (double& x : v) x *= velocity_scale;
  }
  double accel_scale = std::numeric_limits<double>::infinity();
  for (int k = 0; k < kLimitingAxes; ++k) {
    if (v[k] != 0.0)
      accel_scale = std::min(accel_scale, planner.axes[k].acceleration / std::fabs(v[k]));
  }
  Axes a{};
  for (int k = 0; k < kAxisCount; ++k) a[k] = accel_scale * v[k];

  const double speed = Length(v);
  const double accel = Length(a);
  // A move only along B or C, or limits of zero, leave nothing sensible to plan with.
  if (!std::isfinite(speed) || !std::isfinite(accel) || speed <= 0.0 || accel <= 0.0) {
    return false;
  }

  double ta = speed / accel;
  double tc = 0.0;
  if (0.5 * length < 0.5 * accel * ta * ta) {
    ta = std::sqrt(length / accel);
  } else {
    tc = (length - accel * ta * ta) / speed;
  }
  move.velocity = v;
  move.acceleration = a;
  move.speed = speed;
  move.accel = accel;
  move.accel_time = ta;
  move.cruise_time = tc;
  move.total_time = 2.0 * ta + tc;
  move.accel_distance = 0.5 * accel * ta * ta;
  move.distance = accel * ta * ta + speed * tc;
  move.t = 0.0;
  move.next_sample = 0;
  move.active = true;
  return true;
}

bool NextStraightSample(StraightMove& move, Axes& steps) {
  constexpr double kSampleSeconds = 0.001;
  constexpr double kEndTolerance = 1e-9;
  if (!move.active) return false;
  const double t = static_cast<double>(move.next_sample) * kSampleSeconds;
  if (t > move.total_time + kEndTolerance) {
    move.active = false;
    return false;
  }
  double s;
  if (t < move.accel_time) {
    s = 0.5 * move.accel * t * t;
  } else if (t < move.accel_time + move.cruise_time) {
    s = (t - move.accel_time) * move.speed + move.accel_distance;
  } else {
    const double rest = std::max(0.0, move.total_time - t);
    s = move.distance - 0.5 * move.accel * rest * rest;
  }
  const double fraction = s / move.speed;
  for (int k = 0; k < kAxisCount; ++k) {
    steps[k] = (move.start[k] + fraction * move.velocity[k]) * move.steps_per_unit[k];
  }
  ++move.next_sample;
  move.t = static_cast<double>(move.next_sample) * kSampleSeconds;
  return true;
}

}  // namespace kelvro
