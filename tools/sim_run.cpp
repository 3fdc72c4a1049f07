#include "tools/sim_run.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "plugin/plugin.h"
#include "sim/motion_planner.h"
#include "sim/standin_host.h"
#include "sim/trajectory_source.h"
#include "tools/default_profile.h"
#include "tools/jitter.h"

namespace kelvro::sim {
namespace {

constexpr int kRingAheadMs = 1000;         // the host plans about a second ahead
constexpr uint64_t kStartSettleMs = 300;   // after Reset: first reports, first resync
constexpr uint64_t kNoProgressMs = 30000;  // a run that does nothing this long is stuck
constexpr uint64_t kAfterStopMs = 1000;    // watched after a stop, so its effects show
constexpr int kStableChecks = 2;           // consecutive Updates a wait condition must hold
constexpr int kStopNotification = -1;
constexpr int kNotifySpindleStart = 3;
constexpr int kNotifySpindleStop = 4;
constexpr int kNotifySpeedChange = 5;
constexpr int kWorkingFill = 850;  // the queue level the plugin streams up to
// The stand-in host's spindle pulley: pulley 0, at most this many revolutions per minute.
constexpr double kPulleyMaxRpm = 24000.0;
constexpr uint16_t kUntagged = 0xFFFF;
// Positions on the wire are 32-bit steps; a segment's distance is a 32-bit count of
// millionths of a step.
constexpr double kMaxPositionSteps = 2147483647.0;
constexpr double kMaxStepsPerSegment = 2147483647.0 / 1e6;
constexpr int kMaxProgramHours = 24;
constexpr double kMaxProgramSeconds = kMaxProgramHours * 3600.0;
constexpr char kAxisLetters[] = "XYZABC";

double Seconds(uint64_t ms) {
  return static_cast<double>(ms) / 1000.0;
}

// A file under the system's temporary directory, removed when this object goes.
class TempFile {
 public:
  bool Create(const std::string& text, std::string* error) {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = "/tmp";
    std::string name = (dir / "kelvro-sim-profile-XXXXXX.xml").string();
    const int fd = mkstemps(name.data(), 4);
    if (fd < 0) {
      *error = "cannot create a temporary copy of the default profile in " + dir.string();
      return false;
    }
    path_ = name;
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    if (done != text.size()) {
      *error = "cannot write the temporary profile " + path_;
      return false;
    }
    return true;
  }
  ~TempFile() {
    if (!path_.empty()) std::remove(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

bool CheckInputFile(const std::string& path, const char* what, std::string* error) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    *error = std::string(what) + " \"" + path + "\" does not exist";
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    *error = std::string(what) + " \"" + path + "\" is not a regular file";
    return false;
  }
  return true;
}

// Carries out one program on a stand-in host. All the work happens on virtual time inside
// the host's Update hook (the host's planner) and its time observer (one call per
// simulated millisecond, for the statistics).
class Driver {
 public:
  Driver(const RunOptions& options, const Machine& machine, std::vector<Block> blocks,
         RunResult& result)
      : options_(options),
        machine_(machine),
        result_(result),
        planner_(machine, std::move(blocks)),
        source_(&planner_) {}

  bool Prepare(const std::string& profile_file, std::string* error);
  void Run(const ProgramPlan& plan);

 private:
  enum class Phase { kStreaming, kEvent, kFinished, kStopped };
  struct Written {
    uint16_t ring_index = 0;
    int32_t line = 0;
  };

  // ---- The host's planner, at every Update ----
  void Drive();
  void FillRing();
  bool Settled();
  bool Stable(bool condition);
  void BeginEvent(const Block& block);
  bool EventDone();
  void EndEvent();
  void ApplySpindle(const Block& block);
  Position HostPositionUnits();
  void Stop(const std::string& why, bool host_stop);
  void WatchProgress();

  // ---- Every simulated millisecond ----
  void Observe(uint64_t now);

  // Counts the milliseconds of a continuous move in which nothing executed although more of
  // the move was to come.
  void TrackMove(uint64_t now, uint64_t executed, bool more_to_come);
  void MarkLine(std::vector<uint8_t>& lines, int32_t line);
  void Collect(const ProgramPlan& plan);

  const RunOptions& options_;
  const Machine& machine_;
  RunResult& result_;
  HostOf<Plugin> host_;
  MotionPlanner planner_;
  TrajectorySource source_;
  std::unique_ptr<TimerJitter> jitter_;
  std::ofstream trace_file_;

  Phase phase_ = Phase::kStreaming;
  Block event_;
  int stable_count_ = 0;
  size_t buttons_seen_ = 0;
  bool probe_touched_ = false;  // the controller has reported the contact (PROBE2)
  uint64_t dropped_before_probe_ = 0;
  uint64_t stop_ms_ = 0;
  uint64_t observed_ms_ = 0;
  uint64_t run_start_ms_ = 0;

  // Ring entries written and not yet executed, oldest first.
  std::deque<Written> in_flight_;
  std::vector<uint8_t> lines_executed_;
  uint64_t last_executed_ = 0;
  bool move_started_ = false;  // the current move run has begun executing
  bool move_working_ = false;  // ... and its queue has reached the working level
  bool was_executing_ = false;
  uint64_t move_start_ms_ = 0;
  int32_t last_line_ = 0;
  bool more_to_hand_over_ = false;  // the planner has samples before the next event or end
  uint64_t tag_mismatches_ = 0;
  double fill_sum_ = 0.0;

  int last_timer_ticks_ = -1;
  bool link_was_up_ = false;
  std::optional<uint64_t> disconnect_ms_;

  // Progress watch.
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
  std::chrono::steady_clock::time_point last_report_;
};

bool Driver::Prepare(const std::string& profile_file, std::string* error) {
  if (!options_.trace_path.empty()) {
    trace_file_.open(options_.trace_path, std::ios::binary | std::ios::trunc);
    if (!trace_file_) {
      *error = "cannot write the trace file \"" + options_.trace_path + "\"";
      return false;
    }
  }
  SimTrace& trace = host_.controller().trace();
  // Segments are only wanted in the file: a long run streams hundreds of thousands.
  trace.options().keep_segments = false;
  if (trace_file_.is_open()) {
    trace.sink = [this](const TraceEntry& entry) { trace_file_ << FormatTraceJson(entry) << '\n'; };
  }

  const FaultOptions& faults = options_.faults;
  if (faults.jitter) {
    jitter_ = std::make_unique<TimerJitter>(faults.seed);
    host_.timer_period = [this] { return jitter_->NextPeriod(); };
  }
  if (faults.lose_rate > 0.0 || faults.corrupt_rate > 0.0) {
    host_.controller().SetStatusFaultRates(faults.lose_rate, faults.corrupt_rate, faults.seed);
  }
  if (faults.disconnect_at_seconds) {
    disconnect_ms_ = static_cast<uint64_t>(std::llround(*faults.disconnect_at_seconds * 1000.0));
  }

  // The workpiece surface the probe touches.
  const double steps_x = machine_.axes[0].steps_per_unit;
  const double steps_y = machine_.axes[1].steps_per_unit;
  const double steps_z = machine_.axes[2].steps_per_unit;
  const double z0 = options_.surface_z;
  const double sx = options_.surface_slope_x;
  const double sy = options_.surface_slope_y;
  host_.controller().SetProbePredicate([=](const std::array<int64_t, kSimAxes>& steps) {
    const double x = static_cast<double>(steps[0]) / steps_x;
    const double y = static_cast<double>(steps[1]) / steps_y;
    const double z = static_cast<double>(steps[2]) / steps_z;
    return z <= z0 + sx * x + sy * y;
  });

  // Every simulated millisecond passes through Observe.
  host_.platform().on_time = [this](uint64_t now) {
    for (uint64_t t = observed_ms_ + 1; t <= now; ++t) {
      host_.controller().AdvanceTo(t);
      Observe(t);
    }
    observed_ms_ = std::max(observed_ms_, now);
  };
  host_.before_update = [this] { Drive(); };

  // The host's own start: its machine description is in its blocks before any plugin is
  // loaded; then the plugin's start-up order and the operator's Reset.
  ApplyMachine(machine_, host_.machine(), host_.planner());
  HostPlanner& planner = host_.planner();
  planner.sync_outputs = 1;
  planner.feed_override_percent = 100.0;
  planner.current_pulley = 0;
  planner.pulley_max_speed[0] = static_cast<int32_t>(kPulleyMaxRpm);
  for (int k = 0; k < kAxisCount; ++k) result_.axis_enabled[k] = machine_.axes[k].enabled;
  result_.units = machine_.units == Units::kInch ? "inch" : "mm";

  host_.StartUp(profile_file);
  host_.Reset();
  return true;
}

void Driver::Run(const ProgramPlan& plan) {
  last_report_ = std::chrono::steady_clock::now();
  const bool connected = host_.plugin().link().connected();
  link_was_up_ = connected;
  if (!connected) {
    Stop("the plugin did not connect to the controller", false);
  } else {
    // The first status reports reach the host before the program starts.
    host_.before_update = nullptr;
    host_.Run(kStartSettleMs);
    host_.before_update = [this] { Drive(); };
    run_start_ms_ = host_.now();
    last_progress_ms_ = host_.now();
    buttons_seen_ = host_.buttons.size();
    // A backstop only: a run that hangs is caught by the progress watch long before.
    const double budget = 3.0 * (plan.seconds + plan.probing_seconds) + 3600.0;
    const uint64_t limit = static_cast<uint64_t>(std::min(budget, 1e9) * 1000.0);
    const bool done = host_.RunUntil(
        [this] {
          return phase_ == Phase::kFinished ||
                 (phase_ == Phase::kStopped && host_.now() >= stop_ms_ + kAfterStopMs);
        },
        limit);
    if (!done && phase_ != Phase::kStopped) {
      Stop("the run did not finish within " + std::to_string(limit / 1000) + " s", true);
      host_.Run(kAfterStopMs);
    }
  }
  Collect(plan);
  host_.before_update = nullptr;
  host_.StopPlug();
  result_.sim_seconds = Seconds(host_.now());
  result_.status_texts = host_.platform().status_texts;
  result_.message_boxes = host_.platform().message_boxes;
  if (trace_file_.is_open()) {
    trace_file_.flush();
    if (!trace_file_) {
      result_.output_error = "writing the trace file \"" + options_.trace_path + "\" failed";
    }
  }
}

// ---- The host's planner ----

void Driver::Drive() {
  if (phase_ == Phase::kFinished || phase_ == Phase::kStopped) return;
  HostMachineState& machine = host_.machine();
  if (machine.estop) {
    std::string why = "the host is in E-stop";
    if (machine.stop_code != 0) why += " (stop code " + std::to_string(machine.stop_code) + ")";
    if (result_.faults.link_closed_at_seconds) why += " after the plugin closed the link";
    const auto& texts = host_.platform().status_texts;
    if (!texts.empty()) why += "; last status: \"" + texts.back() + "\"";
    Stop(why, false);
    return;
  }
  if (host_.buttons.size() > buttons_seen_) {
    const bool pressed_stop = std::find(host_.buttons.begin() + buttons_seen_, host_.buttons.end(),
                                        kButtonStop) != host_.buttons.end();
    buttons_seen_ = host_.buttons.size();
    if (pressed_stop) {
      const auto& texts = host_.platform().status_texts;
      std::string why = "the plugin pressed the host's Stop button (1003)";
      if (phase_ == Phase::kEvent) why += " at line " + std::to_string(event_.line);
      if (!texts.empty()) why += ": " + texts.back();
      Stop(why, true);
      return;
    }
  }

  if (phase_ == Phase::kStreaming) {
    FillRing();
    if (!source_.error().empty()) {
      Stop(source_.error(), true);
      return;
    }
    if (source_.ProgramWritten()) {
      if (Stable(host_.planner().flush != 0 && Settled())) {
        phase_ = Phase::kFinished;
        return;
      }
    } else if (const Block* event = source_.NextEvent()) {
      if (Stable(source_.EventDue(machine) && Settled())) BeginEvent(*event);
    } else {
      stable_count_ = 0;
    }
  } else if (phase_ == Phase::kEvent) {
    if (Stable(EventDone())) EndEvent();
  }
  WatchProgress();
}

void Driver::FillRing() {
  HostMachineState& machine = host_.machine();
  const int before = machine.ring_write & (kRingSize - 1);
  source_.Fill(machine, host_.planner(), kRingAheadMs);
  const int after = machine.ring_write & (kRingSize - 1);
  for (int i = before; i != after; i = (i + 1) & (kRingSize - 1)) {
    const int32_t line = host_.planner().ring[i].line_id;
    in_flight_.push_back(Written{static_cast<uint16_t>(i), line});
  }
  more_to_hand_over_ = !source_.ProgramWritten() && source_.NextEvent() == nullptr;
}

bool Driver::Settled() {
  const SimController& c = host_.controller();
  return TrajectorySource::RingEmpty(host_.machine()) && c.mode() == SimMode::kIdle &&
         c.buffer_fill() == 0 && c.sequence() == SimSequence::kNone && host_.machine().idle != 0;
}

bool Driver::Stable(bool condition) {
  stable_count_ = condition ? stable_count_ + 1 : 0;
  if (stable_count_ < kStableChecks) return false;
  stable_count_ = 0;
  return true;
}

Position Driver::HostPositionUnits() {
  Position units = planner_.position();
  for (int k = 0; k < kAxisCount; ++k) {
    const double steps = machine_.axes[k].steps_per_unit;
    if (machine_.axes[k].enabled && steps != 0.0) {
      units[k] = static_cast<double>(host_.machine().motors[k].step_position) / steps;
    }
  }
  return units;
}

void Driver::BeginEvent(const Block& block) {
  event_ = block;
  phase_ = Phase::kEvent;
  stable_count_ = 0;
  move_started_ = false;
  move_working_ = false;
  was_executing_ = false;
  // Everything written before the event has executed; what is left was never executed.
  in_flight_.clear();
  Plugin& plugin = host_.plugin();
  HostMachineState& machine = host_.machine();
  HostPlanner& planner = host_.planner();
  switch (block.kind) {
    case BlockKind::kSpindle:
      ApplySpindle(block);
      ++result_.spindle_actions;
      EndEvent();
      return;
    case BlockKind::kDwell:
      plugin.DoDwell(block.seconds);
      ++result_.dwells;
      return;
    case BlockKind::kHome: {
      machine.positions_resynced = 0;
      bool any = false;
      for (int k = 0; k < kAxisCount; ++k) {
        if ((block.axis_mask >> k & 1u) && machine_.axes[k].enabled) {
          plugin.Home(k);
          any = true;
        }
      }
      ++result_.homings;
      if (!any) EndEvent();
      return;
    }
    case BlockKind::kProbe: {
      const Position start = HostPositionUnits();
      const Position target = ResolveTarget(block, start);
      for (int k = 0; k < kAxisCount; ++k) {
        // No work offsets: work coordinates are machine coordinates.
        planner.current_position[k] = start[k];
        planner.probe_target[k] = target[k];
      }
      planner.feed_rate = block.feed / 60.0;
      machine.positions_resynced = 0;
      probe_touched_ = false;
      dropped_before_probe_ = host_.controller().segments_dropped();
      plugin.Probe();
      return;
    }
    default:
      // Motion blocks are never events; pass anything else.
      EndEvent();
      return;
  }
}

bool Driver::EventDone() {
  const HostMachineState& machine = host_.machine();
  switch (event_.kind) {
    case BlockKind::kDwell:
      return machine.dwell_active == 0 && Settled();
    case BlockKind::kHome:
      return machine.homing_in_progress == 0 && machine.positions_resynced != 0 && Settled();
    case BlockKind::kProbe: {
      for (int k = 0; k < kAxisCount; ++k) {
        if (machine.motors[k].probe_pending) return false;
      }
      return !host_.plugin().tick().probing().ended() && machine.positions_resynced != 0 &&
             Settled();
    }
    default:
      return true;
  }
}

void Driver::EndEvent() {
  if (event_.kind == BlockKind::kHome || event_.kind == BlockKind::kProbe) {
    source_.SetPosition(HostPositionUnits());
  }
  if (event_.kind == BlockKind::kProbe) {
    ProbeReport report;
    report.line = event_.line;
    const HostPlanner& planner = host_.planner();
    for (int k = 0; k < 4; ++k) report.result[k] = planner.probe_result[k];
    report.hit = probe_touched_;
    result_.segments_dropped_probing +=
        host_.controller().segments_dropped() - dropped_before_probe_;
    result_.probes.push_back(report);
  }
  MarkLine(lines_executed_, event_.line);
  source_.CompleteEvent();
  phase_ = Phase::kStreaming;
  stable_count_ = 0;
  move_started_ = false;
  move_working_ = false;
  was_executing_ = false;
  FillRing();
}

void Driver::ApplySpindle(const Block& block) {
  Plugin& plugin = host_.plugin();
  HostPlanner& planner = host_.planner();
  HostOutputSignal& output = host_.machine().outputs[kSpindleOutputRecord];
  planner.spindle_speed = block.spindle_speed;
  planner.speed_ratio = std::min(block.spindle_speed / kPulleyMaxRpm, 1.0);
  switch (block.spindle) {
    case SpindleAction::kClockwise:
    case SpindleAction::kCounterClockwise:
      planner.spindle_direction = block.spindle == SpindleAction::kClockwise ? 0 : 1;
      output.active = 1;
      plugin.Notify(kNotifySpeedChange);
      plugin.Notify(kNotifySpindleStart);
      break;
    case SpindleAction::kStop:
      output.active = 0;
      plugin.Notify(kNotifySpindleStop);
      break;
    case SpindleAction::kSpeed:
      plugin.Notify(kNotifySpeedChange);
      break;
  }
}

void Driver::Stop(const std::string& why, bool host_stop) {
  if (phase_ == Phase::kStopped) return;
  phase_ = Phase::kStopped;
  stop_ms_ = host_.now();
  result_.error = why;
  // The host stops its program and tells the plugin, which stops the controller.
  if (host_stop) host_.plugin().Notify(kStopNotification);
}

void Driver::WatchProgress() {
  const SimController& c = host_.controller();
  // Anything that moves counts: executed segments, new ring entries, the event in hand,
  // the dwell countdown and the controller's sequences.
  const ProgressMarker marker{c.segments_executed(), source_.SamplesWritten(),
                              host_.plugin().tick().streaming().dwell_ticks(),
                              static_cast<int>(c.sequence()),
                              phase_ == Phase::kEvent ? event_.line : 0};
  const uint64_t now = host_.now();
  if (marker != progress_marker_) {
    progress_marker_ = marker;
    last_progress_ms_ = now;
  } else if (now - last_progress_ms_ > kNoProgressMs) {
    std::string what = phase_ == Phase::kEvent
                           ? "waiting for line " + std::to_string(event_.line) + " to finish"
                           : "waiting for the motion to be executed";
    Stop("nothing happened for " + std::to_string(kNoProgressMs / 1000) + " s while " + what, true);
    return;
  }
  if (options_.progress) {
    const auto wall = std::chrono::steady_clock::now();
    if (wall - last_report_ >= std::chrono::milliseconds(100)) {
      last_report_ = wall;
      options_.progress(Seconds(now - run_start_ms_), result_.planned_seconds);
    }
  }
}

// ---- Every simulated millisecond ----

void Driver::Observe(uint64_t now) {
  SimController& c = host_.controller();
  HostMachineState& machine = host_.machine();
  FaultReport& faults = result_.faults;
  if (disconnect_ms_ && !faults.disconnected_at_seconds && now >= *disconnect_ms_) {
    c.Disconnect();
    faults.disconnected_at_seconds = Seconds(now);
  }

  const uint64_t executed = c.segments_executed();
  const uint64_t delta = executed - last_executed_;
  last_executed_ = executed;
  if (machine.estop) {
    // An E-stop ends motion on purpose: nothing after it is an underrun.
    move_started_ = false;
  } else if (phase_ == Phase::kStreaming) {
    for (uint64_t i = 0; i < delta && !in_flight_.empty(); ++i) {
      const Written w = in_flight_.front();
      in_flight_.pop_front();
      MarkLine(lines_executed_, w.line);
      last_line_ = w.line;
      // The segment executing now must be the ring entry the host wrote at that place.
      if (i + 1 == delta && c.executing_tag() != kUntagged && c.executing_tag() != w.ring_index) {
        ++tag_mismatches_;
      }
    }
    TrackMove(now, delta, !in_flight_.empty());
    const int fill = static_cast<int>(c.buffer_fill());
    const bool handing_over = more_to_hand_over_ || !TrajectorySource::RingEmpty(machine);
    if (move_working_ && handing_over) {
      if (result_.fill_samples == 0) {
        result_.fill_min = fill;
        result_.fill_max = fill;
      }
      result_.fill_min = std::min(result_.fill_min, fill);
      result_.fill_max = std::max(result_.fill_max, fill);
      fill_sum_ += fill;
      ++result_.fill_samples;
    }
  } else if (phase_ == Phase::kEvent && event_.kind == BlockKind::kProbe) {
    // The probe move is continuous until the probe touches or the plugin has sent it all.
    last_line_ = event_.line;
    if (c.sequence() == SimSequence::kProbe2) probe_touched_ = true;
    TrackMove(now, delta, !probe_touched_ && host_.plugin().tick().probing().move().active);
  }

  if (machine.estop && !faults.estop_at_seconds) {
    faults.estop_at_seconds = Seconds(now);
    faults.stop_code = machine.stop_code;
  }
  const bool link_up = host_.plugin().link().connected();
  if (link_was_up_ && !link_up && !faults.link_closed_at_seconds) {
    faults.link_closed_at_seconds = Seconds(now);
  }
  link_was_up_ = link_up;
  faults.max_missed_polls =
      std::max(faults.max_missed_polls, host_.plugin().tick().watchdog().missed_polls());

  if (options_.record_plot && host_.timer_ticks != last_timer_ticks_) {
    last_timer_ticks_ = host_.timer_ticks;
    PlotSample s;
    s.t_seconds = Seconds(now);
    s.x = static_cast<double>(c.position(0)) / machine_.axes[0].steps_per_unit;
    s.y = static_cast<double>(c.position(1)) / machine_.axes[1].steps_per_unit;
    s.z = static_cast<double>(c.position(2)) / machine_.axes[2].steps_per_unit;
    s.fill = static_cast<int>(c.buffer_fill());
    result_.plot.push_back(s);
  }
}

void Driver::TrackMove(uint64_t now, uint64_t executed, bool more_to_come) {
  if (executed > 0) {
    if (!move_started_) move_start_ms_ = now;
    move_started_ = true;
  } else if (move_started_ && more_to_come) {
    ++result_.starved_ms;
    if (was_executing_) {
      ++result_.underruns;
      if (result_.underrun_list.size() < kMaxUnderrunReports) {
        UnderrunReport report;
        report.at_seconds = Seconds(now);
        report.line = last_line_;
        report.ms_since_move_start = static_cast<double>(now - move_start_ms_);
        report.queue_was_full = move_working_;
        result_.underrun_list.push_back(report);
      }
    }
    if (static_cast<size_t>(result_.underruns) <= kMaxUnderrunReports &&
        !result_.underrun_list.empty()) {
      ++result_.underrun_list.back().ms;
    }
  }
  was_executing_ = executed > 0;
  if (move_started_ && host_.controller().buffer_fill() >= kWorkingFill) move_working_ = true;
}

void Driver::MarkLine(std::vector<uint8_t>& lines, int32_t line) {
  if (line <= 0) return;
  const auto index = static_cast<size_t>(line);
  if (index >= lines.size()) lines.resize(index + 1, 0);
  lines[index] = 1;
}

void Driver::Collect(const ProgramPlan& plan) {
  const SimController& c = host_.controller();
  const SimTrace& trace = c.trace();
  result_.status = phase_ == Phase::kFinished ? RunStatus::kCompleted : RunStatus::kIncomplete;
  if (phase_ != Phase::kFinished && phase_ != Phase::kStopped) {
    result_.error = "the run ended before the program did";
  }
  result_.samples_written = source_.SamplesWritten();
  result_.segments_streamed = c.segments_received();
  result_.segments_executed = c.segments_executed();
  result_.segments_dropped = c.segments_dropped();
  result_.phase_mismatches = c.phase_mismatches();
  result_.fill_average =
      result_.fill_samples ? fill_sum_ / static_cast<double>(result_.fill_samples) : 0.0;
  // Synchronous outputs execute with the segment that carries them, in program order.
  const size_t outputs_done = std::min(c.sync_events().size(), plan.output_lines.size());
  for (size_t i = 0; i < outputs_done; ++i) MarkLine(lines_executed_, plan.output_lines[i]);
  result_.lines_executed = 0;
  for (const int line : plan.line_numbers) {
    const auto index = static_cast<size_t>(line);
    if (index < lines_executed_.size() && lines_executed_[index]) {
      ++result_.lines_executed;
    } else if (result_.lines_missed.size() < 20) {
      result_.lines_missed.push_back(line);
    }
  }
  const Position& final_target =
      phase_ == Phase::kFinished ? source_.FinalTarget() : plan.final_steps;
  for (int k = 0; k < kAxisCount; ++k) {
    // The controller rests on the whole step in which target + 0.5 lies.
    const double planned = std::floor(final_target[k] + 0.5);
    result_.planned_final_steps[k] =
        std::isfinite(planned) ? static_cast<int64_t>(std::clamp(planned, -9e15, 9e15)) : 0;
    result_.executed_final_steps[k] = c.position(k);
    result_.host_final_steps[k] = host_.machine().motors[k].step_position;
  }
  FaultReport& faults = result_.faults;
  faults.status_reads_lost = trace.Count(TraceKind::kFault, "StatusReadLost") +
                             trace.Count(TraceKind::kFault, "StatusReportDropped");
  faults.status_reads_corrupted = trace.Count(TraceKind::kFault, "StatusReadCorrupted");
  if (jitter_) {
    faults.timer_periods = jitter_->periods();
    faults.stalls = jitter_->stalls();
    faults.shortest_period_ms = jitter_->shortest();
    faults.longest_period_ms = jitter_->longest();
  }
  if (tag_mismatches_ != 0 && result_.status == RunStatus::kCompleted) {
    result_.status = RunStatus::kIncomplete;
    result_.error =
        std::to_string(tag_mismatches_) + " segments executed out of the order the host wrote them";
  }
}

}  // namespace

bool PlanProgram(std::vector<Block> blocks, const Machine& machine, ProgramPlan* plan,
                 std::string* error) {
  // Lines count when they move the machine or act: a move to where the machine already is
  // has nothing to execute.
  std::vector<int> lines;
  plan->output_lines.clear();
  plan->probing_seconds = 0.0;
  for (const Block& block : blocks) {
    if (block.kind == BlockKind::kSyncOutput) {
      plan->output_lines.push_back(block.line);
      lines.push_back(block.line);
    }
  }
  MotionPlanner planner(machine, std::move(blocks));
  int64_t samples = 0;
  double dwell = 0.0;
  Sample sample;
  Position previous = planner.PositionSteps();
  auto too_long = [&](int line) {
    if (static_cast<double>(samples) * kSamplePeriod + dwell <= kMaxProgramSeconds) return false;
    if (error) {
      *error = "line " + std::to_string(line) + ": the program takes more than " +
               std::to_string(kMaxProgramHours) + " hours by here, longer than kelvro-sim runs";
    }
    return true;
  };
  for (;;) {
    const MotionPlanner::Item item = planner.Next(&sample);
    if (item == MotionPlanner::Item::kSample) {
      ++samples;
      if (lines.empty() || lines.back() != sample.line_id) lines.push_back(sample.line_id);
      // What the controller cannot carry is refused here rather than run to a wrong end.
      for (int k = 0; k < kAxisCount; ++k) {
        const double target = sample.target[k];
        char text[200];
        if (!(std::fabs(target) <= kMaxPositionSteps)) {
          std::snprintf(text, sizeof text,
                        "line %d: axis %c would reach %.0f steps, beyond the controller's "
                        "position range (%.0f steps either way)",
                        sample.line_id, kAxisLetters[k], target, kMaxPositionSteps);
          if (error) *error = text;
          return false;
        }
        if (std::fabs(target - previous[k]) > kMaxStepsPerSegment) {
          std::snprintf(text, sizeof text,
                        "line %d: axis %c would move %.0f steps in one millisecond; a segment "
                        "carries at most %.0f (steps per unit times velocity is too high)",
                        sample.line_id, kAxisLetters[k], std::fabs(target - previous[k]),
                        std::floor(kMaxStepsPerSegment));
          if (error) *error = text;
          return false;
        }
        previous[k] = target;
      }
      if (too_long(sample.line_id)) return false;
    } else if (item == MotionPlanner::Item::kEvent) {
      const Block* event = planner.PendingEvent();
      if (event && event->kind == BlockKind::kDwell) {
        dwell += event->seconds;
        if (too_long(event->line)) return false;
      }
      if (event && event->kind == BlockKind::kProbe && event->feed > 0.0) {
        // At most the whole way to the target at the probing feed.
        const Position target = ResolveTarget(*event, planner.position());
        double squares = 0.0;
        for (int k = 0; k < kAxisCount; ++k) {
          const double d = target[k] - planner.position()[k];
          squares += d * d;
        }
        plan->probing_seconds += std::sqrt(squares) / (event->feed / 60.0);
      }
      if (event) lines.push_back(event->line);
      planner.ConsumeEvent();
      previous = planner.PositionSteps();
    } else {
      break;
    }
  }
  if (!planner.error().empty()) {
    if (error) *error = planner.error();
    return false;
  }
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  plan->lines = static_cast<int>(lines.size());
  plan->line_numbers = lines;
  plan->seconds = static_cast<double>(samples) * kSamplePeriod + dwell;
  plan->final_steps = planner.PositionSteps();
  return true;
}

SimRun::SimRun(RunOptions options) : options_(std::move(options)) {}

RunResult SimRun::Execute() {
  const auto wall_start = std::chrono::steady_clock::now();
  RunResult result;
  result.program_path = options_.program_path;
  auto bad = [&](const std::string& error) {
    result.status = RunStatus::kBadInput;
    result.error = error;
    return result;
  };

  const FaultOptions& faults = options_.faults;
  if (!(faults.lose_rate >= 0.0 && faults.lose_rate <= 1.0) ||
      !(faults.corrupt_rate >= 0.0 && faults.corrupt_rate <= 1.0)) {
    return bad("fault rates must be between 0 and 1");
  }
  if (faults.disconnect_at_seconds &&
      !(*faults.disconnect_at_seconds >= 0.0 && *faults.disconnect_at_seconds <= 1e7)) {
    return bad("the disconnect time must be between 0 and 10000000 seconds");
  }

  // The machine: the given profile, or the built-in default on a temporary copy so that
  // the plugin's save at the end never touches a shipped file.
  Machine machine;
  std::string error;
  TempFile temp_profile;
  std::string profile_file;
  if (options_.profile_path.empty()) {
    result.profile_label = kDefaultProfileName;
    if (!ParseMachine(DefaultProfileText(), kDefaultProfileName, &machine, &error)) {
      return bad(error);
    }
    if (!temp_profile.Create(DefaultProfileText(), &error)) return bad(error);
    profile_file = temp_profile.path();
  } else {
    result.profile_label = options_.profile_path;
    if (!CheckInputFile(options_.profile_path, "machine file", &error)) return bad(error);
    if (!LoadMachine(options_.profile_path, &machine, &error)) return bad(error);
    profile_file = options_.profile_path;
    result.profile_saved_to_given_file = true;
  }

  if (!CheckInputFile(options_.program_path, "part program", &error)) return bad(error);
  GcodeProgram program;
  if (!program.Load(options_.program_path, machine, &error)) {
    return bad("part program \"" + options_.program_path + "\": " + error);
  }
  ProgramPlan plan;
  if (!PlanProgram(program.blocks(), machine, &plan, &error)) {
    return bad("part program \"" + options_.program_path + "\": " + error);
  }
  result.planned_seconds = plan.seconds;
  result.planned_probing_seconds = plan.probing_seconds;
  result.lines_planned = plan.lines;

  Driver driver(options_, machine, program.TakeBlocks(), result);
  if (!driver.Prepare(profile_file, &error)) return bad(error);
  driver.Run(plan);
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  return result;
}

}  // namespace kelvro::sim
