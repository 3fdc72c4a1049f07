// The stand-in host's planner: carries a part program out through the plugin, on virtual
// time, inside the host's Update hook.
//
// At every Update it plans the program about a second ahead into the trajectory ring and,
// once the motion before them has been executed (ring read empty, controller idle with an
// empty queue, host idle flag set), carries out the non-motion blocks in program order:
//   M3/M4/M5, S      spindle fields of the host planner and the spindle output, then
//                    Notify 5 (speed) and 3 or 4; in THC mode they start and stop the
//                    torch (the host's torch flag): after a start the planner goes on at
//                    once (the plugin holds the motion until the arc is there), after a
//                    stop it waits until the plugin has read Z back and continues from
//                    that Z
//   M7/M8/M9         the machine's mist and flood outputs on or off
//   M6               tool change: the spindle output off (Notify 4) if it was on; the
//                    operator changes the tool and the program goes on
//   M0/M1            pause; the operator resumes at once
//   G4 P             DoDwell, then wait until the dwell word is clear again
//   G28.1            Home for each axis in turn, then wait until homing has finished and
//                    the plugin has re-taken the positions
//   G31              the offsets in effect in the host's work-offset parameters (5221..5226)
//                    and DROs (47..49), probe target, current position (both program
//                    coordinates) and feed in the host planner, Probe, then wait until the
//                    probe has ended and the positions are re-taken
// After a homing or a probe the planner continues from where the machine really is.
//
// The run stops when the host is in E-stop, when the plugin presses the host's Stop
// button, when the planner cannot plan a move, or when nothing at all happens for 30 s.
//
// The runner reaches the plugin through its entry points only; what else it needs to know
// of the plugin (the link is up, the probe's end, the dwell countdown) comes through a
// PluginView. A RunnerListener sees every ring entry written and every event begun and
// ended, for the statistics of the run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/gcode.h"
#include "sim/machine_profile.h"
#include "sim/motion_planner.h"
#include "sim/standin_host.h"
#include "sim/trajectory_source.h"

namespace kelvro::sim {

// What the stand-in host's planner reads of the plugin besides its entry points.
class PluginView {
 public:
  virtual ~PluginView() = default;
  virtual bool LinkConnected() = 0;
  // The plugin still holds the end of a probe move (its hit is not settled yet).
  virtual bool ProbeEnded() = 0;
  // Timer ticks of a dwell still to count.
  virtual int DwellTicks() = 0;
};

class RunnerListener {
 public:
  virtual ~RunnerListener() = default;
  // One ring entry written at `ring_index` for program line `line`.
  virtual void RingEntryWritten(uint16_t ring_index, int32_t line) = 0;
  // The host begins a non-motion block; everything written before it has executed.
  virtual void EventBegun(const Block& block) = 0;
  // The host has carried the block out.
  virtual void EventEnded(const Block& block) = 0;
  // The run stopped while the block was in hand (a probe that touched nothing, an E-stop).
  virtual void EventInterrupted(const Block& /*block*/) {}
};

class ProgramRunner {
 public:
  enum class Phase { kStreaming, kEvent, kFinished, kStopped };

  // `host`, `plugin`, `machine` and `listener` must outlive the runner.
  ProgramRunner(StandinHost& host, PluginView& plugin, const Machine& machine,
                std::vector<Block> blocks, RunnerListener& listener);

  // The host's own start: its machine description in its blocks before any plugin is
  // loaded, then the plugin's start-up order with `profile_file` and the operator's Reset.
  void StartHost(const std::string& profile_file);

  // Runs the program until it has been executed or the run stopped (and then
  // kAfterStopMs more, so that the stop's effects show), at most `limit_ms`.
  void Execute(uint64_t limit_ms);

  // The host's planner at one Update.
  void Drive();

  // Stops the run with `why`; `host_stop`: the host stops its program and tells the plugin.
  void Stop(const std::string& why, bool host_stop);

  Phase phase() const { return phase_; }
  // The block in hand during Phase::kEvent.
  const Block& event() const { return event_; }
  // Why the run stopped; empty unless stopped.
  const std::string& stop_reason() const { return stop_reason_; }
  // The planner has samples before the next event or the end that are not in the ring yet.
  bool more_to_hand_over() const { return more_to_hand_over_; }
  const TrajectorySource& source() const { return source_; }
  // Simulated milliseconds at which the program began (after the first status reports).
  uint64_t run_start_ms() const { return run_start_ms_; }

  // Called at the end of every Update of a run that goes on (for a progress display).
  std::function<void()> after_drive;
  // Called once the first status reports have come, before the program starts; a text
  // returned stops the run with it as the reason.
  std::function<std::string()> before_program;

  static constexpr uint64_t kStartSettleMs = 300;   // after Reset: first reports, first resync
  static constexpr uint64_t kNoProgressMs = 30000;  // a run that does nothing this long is stuck
  static constexpr uint64_t kAfterStopMs = 1000;    // watched after a stop

 private:
  void FillRing();
  bool Settled();
  bool Stable(bool condition);
  void BeginEvent(const Block& block);
  bool EventDone();
  void EndEvent();
  void ApplySpindle(const Block& block);
  void ApplyCoolant(const Block& block);
  // The host's record of the offsets in effect (machine minus program coordinates).
  void SetWorkOffsets(const Position& offsets);
  Position HostPositionUnits();
  void WatchProgress();

  StandinHost& host_;
  PluginView& plugin_;
  const Machine& machine_;
  RunnerListener& listener_;
  MotionPlanner planner_;
  TrajectorySource source_;

  Phase phase_ = Phase::kStreaming;
  Block event_;
  std::string stop_reason_;
  int stable_count_ = 0;
  size_t buttons_seen_ = 0;
  bool link_lost_ = false;
  bool more_to_hand_over_ = false;
  uint64_t stop_ms_ = 0;
  uint64_t run_start_ms_ = 0;

  // Progress watch: anything that moves counts.
  struct ProgressMarker {
    uint64_t executed = 0;
    int64_t written = 0;
    int dwell_ticks = 0;
    int sequence = 0;
    int event_line = 0;
    bool operator==(const ProgressMarker&) const = default;
  };
  ProgressMarker progress_marker_;
  uint64_t last_progress_ms_ = 0;
};

}  // namespace kelvro::sim
