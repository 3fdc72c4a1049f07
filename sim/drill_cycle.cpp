#include "sim/drill_cycle.h"

#include <algorithm>
#include <cmath>

namespace kelvro::sim {
namespace {

// Appends moves and dwells, leaving out moves to where the tool already is.
class StepWriter {
 public:
  StepWriter(const Position& start, std::vector<CycleStep>* steps)
      : position_(start), steps_(steps) {}

  void Z(CycleStep::Kind kind, double z) {
    Position target = position_;
    target[2] = z;
    Add(kind, target);
  }
  void XY(double x, double y) {
    Position target = position_;
    target[0] = x;
    target[1] = y;
    Add(CycleStep::Kind::kRapid, target);
  }
  void Dwell(double seconds) {
    CycleStep step;
    step.kind = CycleStep::Kind::kDwell;
    step.target = position_;
    step.seconds = seconds;
    steps_->push_back(step);
  }
  double z() const { return position_[2]; }

 private:
  void Add(CycleStep::Kind kind, const Position& target) {
    if (target == position_) return;
    CycleStep step;
    step.kind = kind;
    step.target = target;
    steps_->push_back(step);
    position_ = target;
  }

  Position position_;
  std::vector<CycleStep>* steps_;
};

}  // namespace

bool ExpandDrillCycle(const DrillCycle& c, const Position& start, std::vector<CycleStep>* steps,
                      std::string* error) {
  using Kind = CycleStep::Kind;
  const bool pecking = c.code == 73 || c.code == 83;
  if (pecking && (c.retract_z - c.bottom_z) / c.peck > kMaxPecks) {
    *error = "G" + std::to_string(c.code) + ": the hole takes more than " +
             std::to_string(kMaxPecks) + " pecks of Q";
    return false;
  }
  StepWriter out(start, steps);
  const double clear_z = c.retract_to_r ? c.retract_z : std::max(start[2], c.retract_z);

  // Preliminary motion.
  if (out.z() < c.retract_z) out.Z(Kind::kRapid, c.retract_z);
  out.XY(c.x, c.y);
  out.Z(Kind::kRapid, c.retract_z);

  switch (c.code) {
    case 73:
    case 83: {
      double depth = c.retract_z;  // reached so far
      for (;;) {
        const double next = std::max(depth - c.peck, c.bottom_z);
        out.Z(Kind::kFeed, next);
        if (next <= c.bottom_z) break;
        if (c.code == 83) {
          out.Z(Kind::kRapid, c.retract_z);
          out.Z(Kind::kRapid, std::min(next + c.clearance, c.retract_z));
        } else {
          out.Z(Kind::kRapid, std::min(next + c.clearance, c.retract_z));
        }
        depth = next;
      }
      out.Z(Kind::kRapid, clear_z);
      break;
    }
    case 82:
      out.Z(Kind::kFeed, c.bottom_z);
      out.Dwell(c.dwell_seconds);
      out.Z(Kind::kRapid, clear_z);
      break;
    case 85:
    case 89:
      out.Z(Kind::kFeed, c.bottom_z);
      if (c.code == 89) out.Dwell(c.dwell_seconds);
      out.Z(Kind::kFeed, c.retract_z);
      out.Z(Kind::kRapid, clear_z);
      break;
    default:  // 81
      out.Z(Kind::kFeed, c.bottom_z);
      out.Z(Kind::kRapid, clear_z);
      break;
  }
  return true;
}

}  // namespace kelvro::sim
