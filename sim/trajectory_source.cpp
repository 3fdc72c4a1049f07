#include "sim/trajectory_source.h"

#include <algorithm>

namespace kelvro::sim {
namespace {

constexpr uint32_t kRingMask = kRingSize - 1;
static_assert((kRingSize & kRingMask) == 0, "the ring size must be a power of two");

// Ring indices as the host holds them, taken modulo the ring size whatever their value.
uint32_t RingIndex(int32_t value) {
  return static_cast<uint32_t>(value) & kRingMask;
}

}  // namespace

TrajectorySource::TrajectorySource(MotionPlanner* planner)
    : planner_(planner), final_target_(planner->PositionSteps()) {}

bool TrajectorySource::RingEmpty(const HostMachineState& state) {
  return RingIndex(state.ring_read) == RingIndex(state.ring_write);
}

const Block* TrajectorySource::NextEvent() const {
  return held_ ? nullptr : planner_->PendingEvent();
}

void TrajectorySource::CompleteEvent() {
  if (held_) return;
  planner_->ConsumeEvent();
  at_event_ = false;
}

void TrajectorySource::SetPosition(const Position& units) {
  planner_->SetPosition(units);
  if (!held_) final_target_ = planner_->PositionSteps();
}

int TrajectorySource::Fill(HostMachineState& state, HostPlanner& host, int max_ahead_ms) {
  const uint32_t read = RingIndex(state.ring_read);
  uint32_t write = RingIndex(state.ring_write);
  const uint32_t limit = static_cast<uint32_t>(std::clamp(max_ahead_ms, 0, kRingSize - 1));
  uint32_t pending = (write - read) & kRingMask;
  int written = 0;
  for (;;) {
    if (!held_) {
      if (ended_) break;
      const MotionPlanner::Item item = planner_->Next(&held_sample_);
      if (item != MotionPlanner::Item::kSample) {
        ended_ = item == MotionPlanner::Item::kEnd;
        at_event_ = item == MotionPlanner::Item::kEvent;
        break;
      }
      held_ = true;
    }
    if (pending >= limit) break;
    HostRingEntry& entry = host.ring[write];
    for (int k = 0; k < kAxisCount; ++k) {
      entry.target[k] = held_sample_.target[k];
      final_target_[k] = held_sample_.target[k];
    }
    entry.line_id = held_sample_.line_id;
    entry.sync_output = held_sample_.sync_output;
    held_ = false;
    write = (write + 1) & kRingMask;
    ++pending;
    ++written;
    ++written_;
  }
  state.ring_write = static_cast<int32_t>(write);
  host.flush = (!held_ && (ended_ || at_event_)) ? 1 : 0;
  return written;
}

}  // namespace kelvro::sim
