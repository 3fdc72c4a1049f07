// Turns interpreted blocks into 1 ms trajectory samples, one move at a time, so that a long
// program never needs more memory than its block list.
//
// Each move (G0, G1, G2/G3) gets its own trapezoidal speed profile that starts and ends at
// rest: the path speed is limited so that no axis exceeds
// its maximum velocity, and the path acceleration so that no axis exceeds its acceleration
// (on arcs, half of the acceleration budget of the plane's axes is kept for the centripetal
// part). G0 runs at
// the highest speed the axes allow. Samples are taken every millisecond after the start of
// the move; the last one is exactly the end point. Positions are axis units times steps per
// unit (doubles).
//
// Each sample carries the source line of its block as the line ID. The first sample after an
// M10/M11 carries that output's word; when no motion follows before the next non-motion block
// or the end, one sample that stays in place carries it.
//
// Spindle, coolant, homing, probing, tool changes, pauses and (by default) dwell blocks are
// not sampled: the planner stops in front of them and reports them as events. The host acts on an
// event once the ring has drained, then calls ConsumeEvent; after homing and probing the host may
// tell the planner where the machine really is (SetPosition), and the moves after it start from
// there. With `dwell_as_samples` a dwell is planned as samples that stay in place (one per
// millisecond) instead of an event.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/gcode.h"
#include "sim/machine_profile.h"

namespace kelvro::sim {

inline constexpr double kSamplePeriod = 0.001;  // seconds

struct Sample {
  double target[kAxisCount] = {};  // absolute, steps
  int32_t line_id = 0;
  int32_t sync_output = 0;
};

struct PlannerOptions {
  bool dwell_as_samples = false;
  Position start{};  // machine position (units) when the program starts
};

class MotionPlanner {
 public:
  enum class Item { kSample, kEvent, kEnd };

  MotionPlanner(const Machine& machine, std::vector<Block> blocks, PlannerOptions options = {});

  // The next item: a sample (written to *sample), an event waiting at the head (stays there
  // until ConsumeEvent), or the end of the program (also after an error).
  Item Next(Sample* sample);

  // The event at the head, or nullptr when the next item is not an event.
  const Block* PendingEvent() const;
  // Passes the pending event. Homing moves the planned position of the homed axes to their
  // home positions, probing to the probe target, unless SetPosition was called while the
  // event was pending: then the position given there stands.
  void ConsumeEvent();

  // Where the machine is (units). Use between moves: at an event (before or after passing
  // it), or before the start.
  void SetPosition(const Position& units);

  const Position& position() const { return position_; }  // units, after the last sample
  Position PositionSteps() const;
  int64_t samples() const { return samples_; }
  // Set when a move cannot be planned from where the machine really is (after a probe or a
  // homing moved it elsewhere than planned): "line N: ...". The planner then ends.
  const std::string& error() const { return error_; }

  const Machine& machine() const { return machine_; }

 private:
  struct Profile {
    bool active = false;
    bool arc = false;
    int32_t line = 0;
    Position start{};
    Position end{};
    ArcGeometry circle;
    double length = 0.0;  // path length, units
    double speed = 0.0;   // cruise speed, units per second
    double accel = 0.0;   // units per second squared
    double accel_time = 0.0;
    double cruise_time = 0.0;
    double total_time = 0.0;
    int64_t step = 0;   // samples taken
    int64_t steps = 0;  // samples in the move
  };

  bool StartMove(const Block& block);
  double DistanceAt(double t) const;
  Position PointAt(double travelled) const;
  void Emit(const Position& units, int32_t line, Sample* sample);
  bool EmitPendingOutput(Sample* sample);

  Machine machine_;
  std::vector<Block> blocks_;
  PlannerOptions options_;
  size_t index_ = 0;  // next block to look at
  Position position_;
  Profile move_;
  int64_t hold_left_ = 0;  // samples of a dwell still to send
  int32_t hold_line_ = 0;
  int32_t pending_output_ = 0;  // output word waiting for the next sample
  int32_t pending_output_line_ = 0;
  bool position_told_ = false;  // SetPosition called while the current event is pending
  int64_t samples_ = 0;
  std::string error_;
};

}  // namespace kelvro::sim
