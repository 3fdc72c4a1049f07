// The circle of an arc block and the soft-limit check of a move along a line or an arc.
#pragma once

#include <string>

#include "sim/gcode_block.h"
#include "sim/machine_profile.h"

namespace kelvro::sim {

// The circle of an arc block from `start` to `end`, in the block's plane. Coordinates along
// the plane's first and second axis (for G17: X and Y).
struct ArcGeometry {
  int first = 0;   // axis index of the plane's first axis
  int second = 1;  // ... and of its second
  double centre_first = 0.0;
  double centre_second = 0.0;
  double start_radius = 0.0;
  double end_radius = 0.0;
  double start_angle = 0.0;  // radians, from the first axis towards the second
  double sweep = 0.0;        // radians, positive counter-clockwise; a full circle is ±2π
};

// Works out the circle; false with a message (without line prefix) when the arc is
// impossible: zero radius, R shorter than half the chord, end point off the circle.
bool ResolveArc(const Block& block, const Position& start, const Position& end, ArcGeometry* arc,
                std::string* error);

// Smallest and largest coordinate reached along the arc on the plane's first and second
// axis (for the soft-limit check).
void ArcExtent(const ArcGeometry& arc, double* min_first, double* max_first, double* min_second,
               double* max_second);

// Checks a move from `from` to `to` (and along `arc` when given) against the soft limits
// of the axes that move; false with a message (without line prefix) on a violation.
bool CheckSoftLimits(const Machine& machine, const Position& from, const Position& to,
                     const ArcGeometry* arc, std::string* error);

}  // namespace kelvro::sim
