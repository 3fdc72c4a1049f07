// One interpreted action of a part program, as the stand-in host's interpreter hands it to
// its planner. Positions and lengths are machine units, in machine coordinates.
#pragma once

#include <cstdint>
#include <string>

#include "sim/machine_profile.h"

namespace kelvro::sim {

enum class BlockKind {
  kMove,
  kArc,
  kDwell,
  kSpindle,
  kSyncOutput,
  kHome,
  kProbe,
  kToolChange,  // M6
  kPause,       // M0, M1
  kCoolant,     // M7, M8, M9
};

enum class SpindleAction { kClockwise, kCounterClockwise, kStop, kSpeed };

enum class CoolantAction { kMist, kFlood, kOff };

// The plane of an arc: G17 (X, Y), G18 (Z, X) or G19 (Y, Z). Each is named by its first and
// second axis in the right-handed order, so that counter-clockwise seen from the positive
// end of the third axis is the positive sense in every plane.
enum class ArcPlane { kXY, kZX, kYZ };

struct PlaneAxes {
  int first = 0;
  int second = 1;
  int normal = 2;
};

constexpr PlaneAxes AxesOf(ArcPlane plane) {
  switch (plane) {
    case ArcPlane::kZX:
      return {2, 0, 1};
    case ArcPlane::kYZ:
      return {1, 2, 0};
    case ArcPlane::kXY:
      break;
  }
  return {0, 1, 2};
}

struct Block {
  BlockKind kind = BlockKind::kMove;
  int line = 0;  // line of the source file, from 1

  // Moves, arcs, probes: the axis words as resolved (machine units). For a named axis,
  // words[k] is the absolute machine target or, when `incremental`, the increment.
  bool rapid = false;
  bool incremental = false;
  uint32_t axis_mask = 0;  // bit k: axis k named (for homing: the axes to home)
  Position words{};
  // Where the block starts and ends if everything before it runs as planned; after a probe
  // or a homing the real start may differ (see ResolveTarget).
  Position from{};
  Position to{};
  double feed = 0.0;  // units per minute (moves other than rapids, arcs, probes)
  // Machine minus program coordinates in effect (work offset, G92 and tool length): what
  // the host tells the plugin for a probe, whose target and result are program coordinates.
  Position offset{};

  // Arcs.
  bool clockwise = false;
  ArcPlane plane = ArcPlane::kXY;
  bool radius_form = false;  // R given instead of the centre
  // The centre minus the start point along the plane's first and second axis. With
  // `centre_absolute` (G90.1) the centre is a fixed point: `from` plus these offsets,
  // wherever the arc really starts.
  double offset_first = 0.0;
  double offset_second = 0.0;
  bool centre_absolute = false;
  double radius = 0.0;  // R, signed

  // Dwells.
  double seconds = 0.0;

  // Spindle.
  SpindleAction spindle = SpindleAction::kStop;
  double spindle_speed = 0.0;  // rpm in force after this block

  // Synchronous outputs (1..6) and coolant.
  int output = 0;
  bool output_on = false;
  CoolantAction coolant = CoolantAction::kOff;

  // Tool changes: the tool now in the spindle. Pauses: M1 (optional stop) rather than M0.
  int tool = 0;
  bool optional_stop = false;
};

// The end point of a move, arc or probe block started at `current`: named axes go to their
// absolute word or current + increment, the others stay.
Position ResolveTarget(const Block& block, const Position& current);

// A number in a message: up to six significant digits ("2.5", "304.8", "1e+06").
std::string NumberText(double value);

// Synchronous-output word of the host trajectory ring: low byte 47 = on, 48 = off; second
// byte = output number + 7.
int32_t SyncOutputWord(int output, bool on);

}  // namespace kelvro::sim
