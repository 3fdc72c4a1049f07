// Internal straight moves: a linear move of all six axes that the plugin plans itself
// (the probe move, the Z-correction move) with a trapezoidal speed profile, sampled every
// millisecond.
#pragma once

#include <array>
#include <cstdint>

#include "host/host_blocks.h"

namespace kelvro {

using Axes = std::array<double, kAxisCount>;

struct StraightMove {
  Axes start{};         // host units
  Axes end{};           // host units
  Axes velocity{};      // V, units per second per axis
  Axes acceleration{};  // A, units per second squared per axis (along the move)
  Axes steps_per_unit{};
  double speed = 0.0;           // |V|
  double accel = 0.0;           // |A|
  double accel_time = 0.0;      // t_a
  double cruise_time = 0.0;     // t_c
  double total_time = 0.0;      // T
  double accel_distance = 0.0;  // d_a
  double distance = 0.0;        // D
  double t = 0.0;               // time of the next sample, seconds
  int64_t next_sample = 0;      // its number: t = next_sample x 1 ms
  bool active = false;
  bool release_suppressed = false;
};

// Plans a move from `start` to `end` (host units) at `feed` (units per second), limited
// by the host's per-axis maximum velocity and acceleration of X, Y, Z and A. Returns false
// and leaves the move inactive when it cannot be planned: zero length, a feed that is not
// a positive number, or axes without usable velocity or acceleration limits.
bool PlanStraightMove(StraightMove& move, const HostPlanner& planner, const Axes& start,
                      const Axes& end, double feed);

// The next 1 ms sample in steps. The first sample is the start point, the last the
// sample at the largest whole millisecond not beyond the move's end; false (and the move
// inactive) once the move is over. Sample times are counted, not summed, so that they do
// not drift; a sample within a nanosecond of the end counts as the end (the planned
// duration itself carries rounding).
bool NextStraightSample(StraightMove& move, Axes& steps);

}  // namespace kelvro
