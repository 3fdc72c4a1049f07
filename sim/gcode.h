// Part-program interpreter of the stand-in host: reads a G-code subset into a list of blocks
// in machine units, checked against the machine (enabled axes, soft limits, probe input).
//
// Supported words:
//   G0 rapid, G1 feed move, G2 / G3 clockwise / counter-clockwise arc in the XY plane
//   (I J centre offsets from the start point, or R radius: positive for arcs up to half a
//   circle, negative for longer ones; other axes move linearly along the arc), G4 P dwell in
//   seconds, G20 / G21 inch / millimetre program units, G90 / G91 absolute / incremental
//   distances, G28 home the named axes (all enabled axes when none is named; the values of
//   the axis words are ignored), G31 probe towards the named target at the current feed.
//   G17, G40, G49, G54, G80 and G94 are accepted and do nothing (XY plane, no cutter or
//   length compensation, the one coordinate system with zero offsets, no canned cycle, feed
//   per minute are all this interpreter knows).
//   M3 / M4 spindle clockwise / counter-clockwise, M5 spindle stop, S spindle speed (rpm),
//   M10 / M11 P<n> synchronous output n (1..6) on / off, M2 / M30 program end (the rest of
//   the file is not read).
//   F feed in program units per minute; N line numbers (ignored); comments in parentheses
//   and after ';'; a line holding only '%'.
// Axis words X Y Z A B C; words on one line act in this order: F, S, M3/M4/M5, M10/M11, G4,
// G20/G21, G90/G91, G28, G31 or motion, M2/M30. G20/G21 on a line apply to that line's
// numbers. The feed is taken in the units in force when the move is made.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/machine_profile.h"

namespace kelvro::sim {

enum class BlockKind { kMove, kArc, kDwell, kSpindle, kSyncOutput, kHome, kProbe };

enum class SpindleAction { kClockwise, kCounterClockwise, kStop, kSpeed };

// One interpreted action of the program. Positions and lengths are machine units.
struct Block {
  BlockKind kind = BlockKind::kMove;
  int line = 0;  // line of the source file, from 1

  // Moves, arcs, probes: the axis words as written (converted to machine units). For a
  // named axis, words[k] is the absolute target or, when `incremental`, the increment.
  bool rapid = false;
  bool incremental = false;
  uint32_t axis_mask = 0;  // bit k: axis k named (for homing: the axes to home)
  Position words{};
  // Where the block starts and ends if everything before it runs as planned; after a probe
  // or a homing the real start may differ (see ResolveTarget).
  Position from{};
  Position to{};
  double feed = 0.0;  // units per minute (moves other than rapids, arcs, probes)

  // Arcs.
  bool clockwise = false;
  bool radius_form = false;  // R given instead of I J
  double offset_i = 0.0;     // centre minus start point, X
  double offset_j = 0.0;     // centre minus start point, Y
  double radius = 0.0;       // R, signed

  // Dwells.
  double seconds = 0.0;

  // Spindle.
  SpindleAction spindle = SpindleAction::kStop;
  double spindle_speed = 0.0;  // rpm in force after this block

  // Synchronous outputs.
  int output = 0;  // 1..6
  bool output_on = false;
};

// The end point of a move, arc or probe block started at `current`: named axes go to their
// absolute word or current + increment, the others stay.
Position ResolveTarget(const Block& block, const Position& current);

// The circle of an arc block from `start` to `end` (XY plane).
struct ArcGeometry {
  double centre_x = 0.0;
  double centre_y = 0.0;
  double start_radius = 0.0;
  double end_radius = 0.0;
  double start_angle = 0.0;  // radians
  double sweep = 0.0;        // radians, positive counter-clockwise; a full circle is ±2π
};

// Works out the circle; false with a message (without line prefix) when the arc is
// impossible: zero radius, R shorter than half the chord, end point off the circle.
bool ResolveArc(const Block& block, const Position& start, const Position& end, ArcGeometry* arc,
                std::string* error);

// Smallest and largest X and Y reached along the arc (for the soft-limit check).
void ArcExtent(const ArcGeometry& arc, double* min_x, double* max_x, double* min_y, double* max_y);

// Checks a move from `from` to `to` (and along `arc` when given) against the soft limits
// of the axes that move; false with a message (without line prefix) on a violation.
bool CheckSoftLimits(const Machine& machine, const Position& from, const Position& to,
                     const ArcGeometry* arc, std::string* error);

// Synchronous-output word of the host trajectory ring: low byte 47 = on, 48 = off; second
// byte = output number + 7.
int32_t SyncOutputWord(int output, bool on);

class GcodeProgram {
 public:
  // Interprets the whole program. `start` is the machine position (units) when it begins.
  // On failure returns false with "line N: ..." and keeps no blocks.
  bool Parse(std::string_view text, const Machine& machine, std::string* error,
             const Position& start = {});
  bool Load(const std::string& path, const Machine& machine, std::string* error,
            const Position& start = {});

  const std::vector<Block>& blocks() const { return blocks_; }
  std::vector<Block> TakeBlocks() { return std::move(blocks_); }

 private:
  std::vector<Block> blocks_;
};

}  // namespace kelvro::sim
