#include "sim/motion_planner.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvro::sim {
namespace {

bool IsEvent(const Block& block, bool dwell_as_samples) {
  switch (block.kind) {
    case BlockKind::kMove:
    case BlockKind::kArc:
    case BlockKind::kSyncOutput:
      return false;
    case BlockKind::kDwell:
      return !dwell_as_samples;
    default:
      return true;
  }
}

}  // namespace

MotionPlanner::MotionPlanner(const Machine& machine, std::vector<Block> blocks,
                             PlannerOptions options)
    : machine_(machine), blocks_(std::move(blocks)), options_(options), position_(options.start) {}

Position MotionPlanner::PositionSteps() const {
  Position steps;
  for (int k = 0; k < kAxisCount; ++k) steps[k] = position_[k] * machine_.axes[k].steps_per_unit;
  return steps;
}

void MotionPlanner::SetPosition(const Position& units) {
  position_ = units;
  position_told_ = PendingEvent() != nullptr;
}

void MotionPlanner::Emit(const Position& units, int32_t line, Sample* sample) {
  for (int k = 0; k < kAxisCount; ++k) {
    sample->target[k] = units[k] * machine_.axes[k].steps_per_unit;
  }
  sample->line_id = line;
  sample->sync_output = pending_output_;
  pending_output_ = 0;
  ++samples_;
}

bool MotionPlanner::EmitPendingOutput(Sample* sample) {
  if (pending_output_ == 0) return false;
  Emit(position_, pending_output_line_, sample);
  return true;
}

MotionPlanner::Item MotionPlanner::Next(Sample* sample) {
  for (;;) {
    if (!error_.empty()) return Item::kEnd;
    if (move_.active) {
      ++move_.step;
      if (move_.step >= move_.steps) {
        move_.active = false;
        position_ = move_.end;  // the last sample is the end point itself
      } else {
        position_ = PointAt(DistanceAt(static_cast<double>(move_.step) * kSamplePeriod));
      }
      Emit(position_, move_.line, sample);
      return Item::kSample;
    }
    if (hold_left_ > 0) {
      --hold_left_;
      Emit(position_, hold_line_, sample);
      return Item::kSample;
    }
    if (index_ >= blocks_.size()) {
      return EmitPendingOutput(sample) ? Item::kSample : Item::kEnd;
    }
    const Block& block = blocks_[index_];
    switch (block.kind) {
      case BlockKind::kMove:
      case BlockKind::kArc:
        ++index_;
        StartMove(block);
        continue;
      case BlockKind::kSyncOutput:
        // Two outputs in a row without motion between them: the first gets a sample of its own.
        if (EmitPendingOutput(sample)) return Item::kSample;
        pending_output_ = SyncOutputWord(block.output, block.output_on);
        pending_output_line_ = block.line;
        ++index_;
        continue;
      case BlockKind::kDwell:
        if (options_.dwell_as_samples) {
          hold_left_ = std::llround(std::clamp(block.seconds, 0.0, 1e9) / kSamplePeriod);
          hold_line_ = block.line;
          ++index_;
          continue;
        }
        break;
      default:
        break;
    }
    // A non-motion block: an output still waiting goes out in place before it.
    if (EmitPendingOutput(sample)) return Item::kSample;
    return Item::kEvent;
  }
}

const Block* MotionPlanner::PendingEvent() const {
  if (!error_.empty() || move_.active || hold_left_ > 0 || pending_output_ != 0) return nullptr;
  if (index_ >= blocks_.size()) return nullptr;
  const Block& block = blocks_[index_];
  return IsEvent(block, options_.dwell_as_samples) ? &block : nullptr;
}

void MotionPlanner::ConsumeEvent() {
  const Block* block = PendingEvent();
  if (!block) return;
  if (position_told_) {
    // The host has said where the homing or probe left the machine.
  } else if (block->kind == BlockKind::kHome) {
    for (int k = 0; k < kAxisCount; ++k) {
      if (block->axis_mask & (1u << k)) position_[k] = machine_.axes[k].home_position;
    }
  } else if (block->kind == BlockKind::kProbe) {
    position_ = ResolveTarget(*block, position_);
  }
  position_told_ = false;
  ++index_;
}

bool MotionPlanner::StartMove(const Block& block) {
  Profile m;
  m.line = block.line;
  m.start = position_;
  m.end = ResolveTarget(block, position_);
  m.arc = block.kind == BlockKind::kArc;
  std::string message;
  if (m.arc && !ResolveArc(block, m.start, m.end, &m.circle, &message)) {
    error_ = "line " + std::to_string(block.line) + ": " + message;
    return false;
  }
  // The interpreter checked the planned path; a start elsewhere needs its own check.
  if (m.start != block.from &&
      !CheckSoftLimits(machine_, m.start, m.end, m.arc ? &m.circle : nullptr, &message)) {
    error_ = "line " + std::to_string(block.line) + ": " + message;
    return false;
  }

  double delta[kAxisCount];
  for (int k = 0; k < kAxisCount; ++k) delta[k] = m.end[k] - m.start[k];
  // Arcs: the plane's two axes move on the circle, the others in a straight line.
  const bool on_circle[kAxisCount] = {m.arc && (m.circle.first == 0 || m.circle.second == 0),
                                      m.arc && (m.circle.first == 1 || m.circle.second == 1),
                                      m.arc && (m.circle.first == 2 || m.circle.second == 2),
                                      false,
                                      false,
                                      false};
  double planar = 0.0;  // length in the arc's plane
  double other = 0.0;   // length of the axes that move in a straight line
  if (m.arc) {
    planar = std::fabs(m.circle.sweep) * 0.5 * (m.circle.start_radius + m.circle.end_radius);
  }
  for (int k = 0; k < kAxisCount; ++k) {
    if (!on_circle[k]) other += delta[k] * delta[k];
  }
  other = std::sqrt(other);
  m.length = std::hypot(planar, other);
  if (!(m.length > 1e-12)) {
    position_ = m.end;  // nothing to move
    return true;
  }

  double speed = block.rapid ? std::numeric_limits<double>::infinity() : block.feed / 60.0;
  double accel = std::numeric_limits<double>::infinity();
  for (int k = 0; k < kAxisCount; ++k) {
    if (on_circle[k]) continue;
    const double share = std::fabs(delta[k]) / m.length;
    if (share <= 0.0) continue;
    speed = std::min(speed, machine_.axes[k].velocity / share);
    accel = std::min(accel, machine_.axes[k].acceleration / share);
  }
  if (m.arc) {
    // The plane's axes swing through every direction on a circle: each may see the whole
    // planar speed and acceleration. Half the acceleration budget goes to the centripetal
    // part, so that together with √3/2 of it along the path the total stays within it.
    const AxisConfig& a = machine_.axes[m.circle.first];
    const AxisConfig& b = machine_.axes[m.circle.second];
    const double share = planar / m.length;
    const double v_plane = std::min(a.velocity, b.velocity);
    const double a_plane = std::min(a.acceleration, b.acceleration);
    const double radius = std::min(m.circle.start_radius, m.circle.end_radius);
    if (share > 0.0) {
      speed = std::min(speed, v_plane / share);
      speed = std::min(speed, std::sqrt(0.5 * a_plane * radius) / share);
      accel = std::min(accel, a_plane * std::sqrt(3.0) / 2.0 / share);
    }
  }
  if (!(speed > 0.0) || !(accel > 0.0) || !std::isfinite(speed) || !std::isfinite(accel)) {
    error_ = "line " + std::to_string(block.line) +
             ": the axis velocities and accelerations leave no speed for this move";
    return false;
  }
  if (m.length >= speed * speed / accel) {
    m.accel_time = speed / accel;
    m.cruise_time = (m.length - speed * speed / accel) / speed;
  } else {
    m.accel_time = std::sqrt(m.length / accel);
    speed = accel * m.accel_time;
    m.cruise_time = 0.0;
  }
  m.speed = speed;
  m.accel = accel;
  m.total_time = 2.0 * m.accel_time + m.cruise_time;
  const double periods = std::ceil(m.total_time / kSamplePeriod - 1e-9);
  m.steps = std::max<int64_t>(1, static_cast<int64_t>(std::min(periods, 1e15)));
  m.step = 0;
  m.active = true;
  move_ = m;
  return true;
}

double MotionPlanner::DistanceAt(double t) const {
  const Profile& m = move_;
  t = std::clamp(t, 0.0, m.total_time);
  double s = 0.0;
  if (t < m.accel_time) {
    s = 0.5 * m.accel * t * t;
  } else if (t < m.accel_time + m.cruise_time) {
    s = 0.5 * m.accel * m.accel_time * m.accel_time + m.speed * (t - m.accel_time);
  } else {
    const double left = m.total_time - t;
    s = m.length - 0.5 * m.accel * left * left;
  }
  return std::clamp(s, 0.0, m.length);
}

Position MotionPlanner::PointAt(double travelled) const {
  const Profile& m = move_;
  const double f = travelled / m.length;
  Position p;
  for (int k = 0; k < kAxisCount; ++k) p[k] = m.start[k] + (m.end[k] - m.start[k]) * f;
  if (m.arc) {
    const ArcGeometry& c = m.circle;
    const double angle = c.start_angle + c.sweep * f;
    const double radius = c.start_radius + (c.end_radius - c.start_radius) * f;
    p[c.first] = c.centre_first + radius * std::cos(angle);
    p[c.second] = c.centre_second + radius * std::sin(angle);
  }
  return p;
}

}  // namespace kelvro::sim
