// Fills the host's trajectory ring from the motion planner, the way the host's planner does:
// a bounded distance ahead of the plugin's read index, never over it.
//
// The ring holds kRingSize entries and is empty when read == write, so at most
// kRingSize - 1 entries are pending. Fill writes an entry completely before it moves the
// write index past it. Non-motion blocks stop the filling: they are returned as the next
// event, which the host carries out once the ring has drained up to it (EventDue), and
// then passes with CompleteEvent. While nothing more is to be written before an event or
// the end, the host's flush flag is set so that the plugin releases the last segments;
// while more entries follow it is clear.
#pragma once

#include <cstdint>

#include "host/host_blocks.h"
#include "sim/motion_planner.h"

namespace kelvro::sim {

class TrajectorySource {
 public:
  explicit TrajectorySource(MotionPlanner* planner);

  // Writes samples into the ring until max_ahead_ms entries (at most kRingSize - 1) are
  // pending, an event is reached or the program is written. Returns the entries written.
  int Fill(HostMachineState& state, HostPlanner& host, int max_ahead_ms);

  // The non-motion block the program waits at, or nullptr while samples come first.
  const Block* NextEvent() const;
  // Every block here needs the motion before it finished: the event is due once the ring is
  // empty (the plugin has read every entry; the controller may still be executing them).
  static bool RingEmpty(const HostMachineState& state);
  bool EventDue(const HostMachineState& state) const {
    return NextEvent() != nullptr && RingEmpty(state);
  }
  // Passes the event the host has carried out; `SetPosition` before it tells the planner
  // where a homing or probe left the machine.
  void CompleteEvent();
  void SetPosition(const Position& units);

  // Every sample is in the ring and no event is left.
  bool ProgramWritten() const { return ended_ && !held_; }
  // The planner stopped on a move it could not plan ("line N: ..."); empty otherwise.
  const std::string& error() const { return planner_->error(); }

  // Targets (steps) of the last entry written: the end point of the program once written.
  const Position& FinalTarget() const { return final_target_; }
  int64_t SamplesWritten() const { return written_; }

 private:
  MotionPlanner* planner_;
  Sample held_sample_;
  bool held_ = false;   // a sample taken from the planner that did not fit yet
  bool ended_ = false;  // the planner has reported the end
  bool at_event_ = false;
  Position final_target_{};
  int64_t written_ = 0;
};

}  // namespace kelvro::sim
