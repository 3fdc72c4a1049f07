#include "tools/fault_matrix/fault_run.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <type_traits>

#include "device/commands.h"
#include "device/wire.h"
#include "plugin/plugin.h"
#include "sim/program_runner.h"
#include "sim/standin_host.h"
#include "sim/trajectory_source.h"
#include "tools/default_profile.h"
#include "tools/plugin_view.h"
#include "tools/temp_file.h"

namespace kelvro::sim::faults {
namespace {

constexpr uint16_t kUntagged = 0xFFFF;
constexpr uint32_t kTimerPeriodMs = 25;
constexpr uint64_t kIdleAfterProgramMs = 1000;
constexpr size_t kStatusPositions = 8;   // status report offset of the six 32-bit positions
constexpr size_t kStatusThcOffset = 32;  // the THC Z offset, 32 bits

// A plasma machine's torch: the arc transfers a moment after the torch goes on (as in
// kelvro-sim) and holds its voltage, so that torch height control has nothing to correct.
constexpr uint32_t kArcStrikeMs = 150;
constexpr double kArcVolts = 100.0;

SimControllerOptions ControllerOptionsFor(const Machine& machine) {
  SimControllerOptions options;
  if (machine.thc_on) options.arc_strike_ms = kArcStrikeMs;
  return options;
}

// The stand-in host, the plugin and the simulated controller of one run, watched.
class FaultRig final : public RunnerListener {
 public:
  FaultRig(const Workload& workload, const FaultSpec& spec, RunRecord& record)
      : workload_(workload),
        spec_(spec),
        record_(record),
        host_(ControllerOptionsFor(workload.machine)),
        view_(host_.plugin()),
        runner_(host_, view_, workload.machine, workload.blocks, *this) {}

  void Run(const std::string& profile_path);

  // ---- RunnerListener ----
  void RingEntryWritten(uint16_t ring_index, int32_t line) override {
    in_flight_.push_back(Written{ring_index, line});
  }
  void EventBegun(const Block& /*block*/) override { EndMove(); }
  void EventEnded(const Block& /*block*/) override { EndMove(); }

 private:
  struct Written {
    uint16_t ring_index = 0;
    int32_t line = 0;
  };

  void Arm();
  void Observe(uint64_t now);
  // Called by the host whenever it schedules its next timer tick: after every tick, and
  // when the timer is created. Returns the time to the next tick.
  uint32_t AfterTimerTick();
  void Watch(uint64_t now);
  void TrackMove(uint64_t executed, bool more_to_come);
  void EndMove() {
    in_flight_.clear();
    move_started_ = false;
    was_executing_ = false;
  }
  void MarkFault(uint64_t now);
  void OnTraceEntry(const TraceEntry& entry);
  void Collect();

  const Workload& workload_;
  const FaultSpec& spec_;
  RunRecord& record_;
  HostOf<Plugin> host_;
  PluginViewOf view_;
  ProgramRunner runner_;

  uint64_t observed_ms_ = 0;
  bool started_ = false;  // the program has begun
  bool program_over_ = false;
  bool in_startup_ = false;
  bool in_stop_plug_ = false;
  size_t status_base_ = 0;
  size_t boxes_base_ = 0;
  bool bases_from_fault_ = false;

  // Ring entries written and not yet executed, oldest first.
  std::deque<Written> in_flight_;
  uint64_t last_executed_ = 0;
  bool move_started_ = false;
  bool was_executing_ = false;

  // The host's positions as last seen, and those of the newest whole report.
  std::array<int32_t, kAxisCount> host_positions_{};
  std::array<int32_t, kAxisCount> report_positions_{};
  bool have_report_ = false;
  std::optional<int32_t> latched_z_;  // the last Z read back by the plugin

  bool link_was_up_ = false;
  // Status reads: the newest whole report, and the first read that failed after it.
  uint64_t last_whole_report_ms_ = 0;
  std::optional<uint64_t> failed_read_since_ms_;
  uint64_t received_at_failed_read_ = 0;
  uint64_t executed_at_failed_read_ = 0;
  uint64_t received_at_close_ = 0;
  uint64_t received_at_fault_ = 0;
  uint64_t executed_at_fault_ = 0;

  int last_timer_ticks_ = 0;
  std::optional<uint64_t> last_tick_ms_;
  std::optional<uint64_t> last_update_ms_;
  std::optional<uint64_t> update_before_ms_;
  bool stall_started_ = false;
  uint64_t stall_end_ms_ = 0;
  bool stalling_ = false;
};

void FaultRig::Arm() {
  SimController& c = host_.controller();
  switch (spec_.kind) {
    case FaultKind::kLostReports:
      c.SetStatusFaultRates(spec_.rate, 0.0, spec_.seed);
      break;
    case FaultKind::kCorruptReports:
      c.SetStatusFaultRates(0.0, spec_.rate, spec_.seed);
      break;
    case FaultKind::kCommandWrite:
      c.FailNextCommand(spec_.command, spec_.occurrence);
      break;
    case FaultKind::kSegmentWrite:
      c.FailNextWrite(0x02, spec_.occurrence);
      break;
    default:
      break;
  }
}

void FaultRig::Run(const std::string& profile_path) {
  SimController& c = host_.controller();
  SimTrace& trace = c.trace();
  trace.options().keep_segments = false;
  trace.sink = [this](const TraceEntry& entry) { OnTraceEntry(entry); };
  if (workload_.machine.thc_on) {
    c.SetArcVoltageModel([](const std::array<int64_t, kSimAxes>&) { return kArcVolts; });
  }
  c.on_report_delivered = [this](const std::array<uint8_t, kSimStatusLength>& status) {
    for (int k = 0; k < kAxisCount; ++k) {
      report_positions_[k] = GetI32(status.data(), kStatusPositions + 4 * k);
    }
    // While the controller's torch height control is active the host's Z includes its
    // offset.
    if (status[3] & kStatusFlagThcActive) {
      const int64_t z =
          static_cast<int64_t>(report_positions_[kAxisZ]) + GetI32(status.data(), kStatusThcOffset);
      report_positions_[kAxisZ] =
          static_cast<int32_t>(std::clamp<int64_t>(z, INT32_MIN, INT32_MAX));
    }
    have_report_ = true;
    last_whole_report_ms_ = host_.now();
    failed_read_since_ms_.reset();
  };
  host_.platform().on_time = [this](uint64_t now) {
    for (uint64_t t = observed_ms_ + 1; t <= now; ++t) {
      host_.controller().AdvanceTo(t);
      Observe(t);
    }
    observed_ms_ = std::max(observed_ms_, now);
  };
  host_.timer_period = [this] { return AfterTimerTick(); };
  runner_.before_program = [this] {
    started_ = true;
    record_.run_start_ms = host_.now();
    return std::string();
  };
  runner_.after_drive = [this] {
    const uint64_t now = host_.now();
    if (started_ && last_update_ms_ && now - *last_update_ms_ > record_.longest_update_gap_ms) {
      record_.longest_update_gap_ms = static_cast<uint32_t>(now - *last_update_ms_);
    }
    last_update_ms_ = now;
  };

  Arm();
  if (spec_.kind == FaultKind::kLostReports || spec_.kind == FaultKind::kCorruptReports) {
    // The rates apply from the start.
    MarkFault(0);
  }
  in_startup_ = true;
  runner_.StartHost(profile_path);
  in_startup_ = false;
  if (!bases_from_fault_) {
    status_base_ = host_.platform().status_texts.size();
    boxes_base_ = host_.platform().message_boxes.size();
  }
  link_was_up_ = host_.plugin().link().connected();

  // A backstop only: a run that hangs is caught by the planner's progress watch first.
  const double budget_s = 3.0 * workload_.plan.seconds + 60.0;
  runner_.Execute(static_cast<uint64_t>(budget_s * 1000.0));
  record_.program_end_ms = host_.now();
  program_over_ = true;
  // The host goes on running after the program's end, as the user's machine-control
  // program does: a fault in the program's last moments still meets the plugin's ticks.
  host_.before_update = nullptr;
  host_.Run(kIdleAfterProgramMs);
  Watch(host_.now());
  Collect();
  in_stop_plug_ = true;
  host_.StopPlug();
  in_stop_plug_ = false;
  record_.end_ms = host_.now();
  const auto& texts = host_.platform().status_texts;
  const auto& boxes = host_.platform().message_boxes;
  record_.status_texts.assign(texts.begin() + static_cast<std::ptrdiff_t>(status_base_),
                              texts.end());
  record_.message_boxes.assign(boxes.begin() + static_cast<std::ptrdiff_t>(boxes_base_),
                               boxes.end());
  record_.segment_writes = c.segment_writes();
}

void FaultRig::MarkFault(uint64_t now) {
  if (record_.fault_fired) return;
  record_.fault_fired = true;
  record_.fault_ms = now;
  record_.fault_in_startup = in_startup_;
  record_.fault_in_stop_plug = in_stop_plug_;
  received_at_fault_ = host_.controller().segments_received();
  executed_at_fault_ = host_.controller().segments_executed();
  // What the user sees from here on (the start-up's texts are not the fault's).
  if (in_startup_ || started_) {
    status_base_ = host_.platform().status_texts.size();
    boxes_base_ = host_.platform().message_boxes.size();
    bases_from_fault_ = true;
  }
}

void FaultRig::OnTraceEntry(const TraceEntry& entry) {
  if (entry.kind == TraceKind::kControl && entry.name == "GetZPosition" &&
      entry.payload.size() >= 4) {
    // The Z read-back after a torch stop: the host's Z becomes the latched value.
    latched_z_ = GetI32(entry.payload.data(), 0);
  } else if (entry.kind == TraceKind::kCommand) {
    record_.commands.push_back(CommandWrite{static_cast<uint8_t>(entry.code), entry.t_ms});
  } else if (entry.kind == TraceKind::kFault &&
             (entry.name == "StatusReadCorrupted" || entry.name == "StatusReadLost" ||
              entry.name == "StatusReportDropped")) {
    if (!failed_read_since_ms_) {
      failed_read_since_ms_ = entry.t_ms;
      received_at_failed_read_ = host_.controller().segments_received();
      executed_at_failed_read_ = host_.controller().segments_executed();
    }
  } else if (entry.kind == TraceKind::kFault && entry.name == "WriteFailed") {
    if (entry.code >= 0) {
      record_.commands.push_back(CommandWrite{static_cast<uint8_t>(entry.code), entry.t_ms});
    }
    // The failed write is under way right now: the plugin has not reacted yet.
    MarkFault(entry.t_ms);
  }
}

uint32_t FaultRig::AfterTimerTick() {
  const uint64_t now = host_.now();
  const bool ticked = host_.timer_ticks != last_timer_ticks_;
  last_timer_ticks_ = host_.timer_ticks;
  if (!ticked) return kTimerPeriodMs;
  Watch(now);
  if (started_ && !program_over_) {
    record_.tick_ms.push_back(now);
    if (last_tick_ms_ && now - *last_tick_ms_ > record_.longest_timer_gap_ms) {
      record_.longest_timer_gap_ms = static_cast<uint32_t>(now - *last_tick_ms_);
    }
    last_tick_ms_ = now;
  }
  if (spec_.kind == FaultKind::kGuiStall && started_ && !stall_started_ && now >= spec_.at_ms &&
      last_update_ms_ == now) {
    // The GUI thread is busy from right after this tick: no timer routine and no Update
    // until the stall is over.
    stall_started_ = true;
    stalling_ = true;
    stall_end_ms_ = now + spec_.stall_ms;
    record_.queued_at_stall = static_cast<uint32_t>(host_.controller().buffer_fill());
    MarkFault(now);
    host_.calls_update = false;
    return std::max<uint32_t>(1, spec_.stall_ms);
  }
  return kTimerPeriodMs;
}

void FaultRig::Observe(uint64_t now) {
  SimController& c = host_.controller();
  if (spec_.kind == FaultKind::kDisconnect && started_ && !record_.fault_fired &&
      now >= spec_.at_ms) {
    c.Disconnect();
    MarkFault(now);
  }
  if (stalling_ && now >= stall_end_ms_) {
    stalling_ = false;
    host_.calls_update = true;
  }

  const uint64_t executed = c.segments_executed();
  const uint64_t delta = executed - last_executed_;
  last_executed_ = executed;
  const HostMachineState& machine = host_.machine();
  if (machine.estop) {
    // An E-stop ends motion on purpose: nothing after it is an underrun.
    move_started_ = false;
  } else if (started_ && runner_.phase() == ProgramRunner::Phase::kStreaming) {
    for (uint64_t i = 0; i < delta && !in_flight_.empty(); ++i) {
      const Written w = in_flight_.front();
      in_flight_.pop_front();
      if (i + 1 == delta && c.executing_tag() != kUntagged && c.executing_tag() != w.ring_index) {
        ++record_.order_mismatches;
      }
    }
    TrackMove(delta, !in_flight_.empty());
  }
  Watch(now);
}

void FaultRig::Watch(uint64_t now) {
  const HostMachineState& machine = host_.machine();
  if (machine.estop && !record_.estop_ms) record_.estop_ms = now;
  const bool link_up = host_.plugin().link().connected();
  if (link_was_up_ && !link_up && !record_.link_closed_ms) {
    record_.link_closed_ms = now;
    received_at_close_ = host_.controller().segments_received();
    if (spec_.kind == FaultKind::kLostReports || spec_.kind == FaultKind::kCorruptReports) {
      record_.report_gap_at_close_ms = now - last_whole_report_ms_;
      record_.fault_ms = failed_read_since_ms_.value_or(last_whole_report_ms_);
      if (failed_read_since_ms_) {
        received_at_fault_ = received_at_failed_read_;
        executed_at_fault_ = executed_at_failed_read_;
      }
    }
  }
  link_was_up_ = link_up;
  // Every change of the host's positions must come from the newest whole report.
  std::array<int32_t, kAxisCount> positions{};
  for (int k = 0; k < kAxisCount; ++k) positions[k] = machine.motors[k].step_position;
  if (positions != host_positions_) {
    std::array<int32_t, kAxisCount> read_back = host_positions_;
    if (latched_z_) read_back[kAxisZ] = *latched_z_;
    const bool from_report = have_report_ && positions == report_positions_;
    const bool from_read_back = latched_z_ && positions == read_back;
    if (started_ && !from_report && !from_read_back) ++record_.positions_not_from_report;
    host_positions_ = positions;
  }
}

void FaultRig::TrackMove(uint64_t executed, bool more_to_come) {
  if (executed > 0) {
    move_started_ = true;
  } else if (move_started_ && more_to_come) {
    ++record_.starved_ms;
    if (was_executing_) ++record_.underruns;
  }
  was_executing_ = executed > 0;
}

void FaultRig::Collect() {
  const SimController& c = host_.controller();
  const ProgramRunner::Phase phase = runner_.phase();
  record_.finished = phase == ProgramRunner::Phase::kFinished;
  record_.stopped = phase == ProgramRunner::Phase::kStopped;
  record_.stop_reason = runner_.stop_reason();
  record_.estop_at_end = host_.machine().estop != 0;
  record_.hung = !record_.finished && !record_.estop_at_end;
  if (record_.fault_fired) {
    record_.segments_received_after_fault = c.segments_received() - received_at_fault_;
    record_.segments_executed_after_fault = c.segments_executed() - executed_at_fault_;
  }
  if (record_.link_closed_ms) {
    record_.segments_received_after_close = c.segments_received() - received_at_close_;
  }
  record_.phase_mismatches = c.phase_mismatches();
  for (int k = 0; k < kAxisCount; ++k) {
    // The controller rests on the whole step in which target + 0.5 lies.
    // A finished run ends where the host planned it (after a torch stop the host plans on
    // from the Z read back); otherwise at the end of the program as planned before.
    const Position& target =
        record_.finished ? runner_.source().FinalTarget() : workload_.plan.final_steps;
    const double planned = std::floor(target[k] + 0.5);
    record_.planned_final[k] =
        std::isfinite(planned) ? static_cast<int64_t>(std::clamp(planned, -9e15, 9e15)) : 0;
    record_.executed_final[k] = c.position(k);
    record_.host_final[k] = host_.machine().motors[k].step_position;
  }
}

// ---- Serialisation: the same program writes and reads, so native byte order will do ----

class Writer {
 public:
  template <class T>
  void Put(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    const size_t at = bytes_.size();
    bytes_.resize(at + sizeof(T));
    std::memcpy(bytes_.data() + at, &value, sizeof(T));
  }
  void PutString(const std::string& s) {
    Put<uint64_t>(s.size());
    bytes_ += s;
  }
  template <class T>
  void PutOptional(const std::optional<T>& v) {
    Put<uint8_t>(v ? 1 : 0);
    Put<T>(v.value_or(T{}));
  }
  std::string Take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes_(bytes) {}
  template <class T>
  bool Get(T* value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (bytes_.size() - at_ < sizeof(T)) return false;
    std::memcpy(value, bytes_.data() + at_, sizeof(T));
    at_ += sizeof(T);
    return true;
  }
  bool GetString(std::string* s) {
    uint64_t n = 0;
    if (!Get(&n) || bytes_.size() - at_ < n) return false;
    s->assign(bytes_, at_, n);
    at_ += n;
    return true;
  }
  template <class T>
  bool GetOptional(std::optional<T>* v) {
    uint8_t has = 0;
    T value{};
    if (!Get(&has) || !Get(&value)) return false;
    if (has) {
      *v = value;
    } else {
      v->reset();
    }
    return true;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

// Every field once, in one order, for both directions.
template <class IO>
bool Fields(IO& io, RunRecord& r);

template <>
bool Fields(Writer& w, RunRecord& r) {
  w.Put(r.finished);
  w.Put(r.stopped);
  w.Put(r.estop_at_end);
  w.Put(r.hung);
  w.PutString(r.stop_reason);
  w.PutString(r.error);
  w.Put(r.run_start_ms);
  w.Put(r.program_end_ms);
  w.Put(r.end_ms);
  w.Put(r.fault_fired);
  w.Put(r.fault_in_startup);
  w.Put(r.fault_in_stop_plug);
  w.Put(r.fault_ms);
  w.PutOptional(r.estop_ms);
  w.PutOptional(r.link_closed_ms);
  w.PutOptional(r.report_gap_at_close_ms);
  w.Put(r.queued_at_stall);
  w.Put(r.longest_timer_gap_ms);
  w.Put(r.longest_update_gap_ms);
  w.Put(r.underruns);
  w.Put(r.starved_ms);
  w.Put(r.segments_received_after_fault);
  w.Put(r.segments_received_after_close);
  w.Put(r.segments_executed_after_fault);
  w.Put(r.positions_not_from_report);
  w.Put(r.order_mismatches);
  w.Put(r.phase_mismatches);
  w.Put(r.planned_final);
  w.Put(r.executed_final);
  w.Put(r.host_final);
  for (const auto* list : {&r.status_texts, &r.message_boxes}) {
    w.Put<uint64_t>(list->size());
    for (const std::string& s : *list) w.PutString(s);
  }
  w.Put<uint64_t>(r.tick_ms.size());
  for (const uint64_t t : r.tick_ms) w.Put(t);
  w.Put<uint64_t>(r.commands.size());
  for (const CommandWrite& c : r.commands) w.Put(c);
  w.Put(r.segment_writes);
  return true;
}

template <>
bool Fields(Reader& in, RunRecord& r) {
  bool ok = in.Get(&r.finished) && in.Get(&r.stopped) && in.Get(&r.estop_at_end) &&
            in.Get(&r.hung) && in.GetString(&r.stop_reason) && in.GetString(&r.error) &&
            in.Get(&r.run_start_ms) && in.Get(&r.program_end_ms) && in.Get(&r.end_ms) &&
            in.Get(&r.fault_fired) && in.Get(&r.fault_in_startup) &&
            in.Get(&r.fault_in_stop_plug) && in.Get(&r.fault_ms) && in.GetOptional(&r.estop_ms) &&
            in.GetOptional(&r.link_closed_ms) && in.GetOptional(&r.report_gap_at_close_ms) &&
            in.Get(&r.queued_at_stall) && in.Get(&r.longest_timer_gap_ms) &&
            in.Get(&r.longest_update_gap_ms) && in.Get(&r.underruns) && in.Get(&r.starved_ms) &&
            in.Get(&r.segments_received_after_fault) && in.Get(&r.segments_received_after_close) &&
            in.Get(&r.segments_executed_after_fault) && in.Get(&r.positions_not_from_report) &&
            in.Get(&r.order_mismatches) && in.Get(&r.phase_mismatches) &&
            in.Get(&r.planned_final) && in.Get(&r.executed_final) && in.Get(&r.host_final);
  // Counts come from another process: a list longer than the bytes left is refused by the
  // reads themselves, one element at a time.
  for (auto* list : {&r.status_texts, &r.message_boxes}) {
    uint64_t n = 0;
    ok = ok && in.Get(&n);
    list->clear();
    for (uint64_t i = 0; ok && i < n; ++i) {
      std::string s;
      ok = in.GetString(&s);
      list->push_back(std::move(s));
    }
  }
  uint64_t n = 0;
  ok = ok && in.Get(&n);
  r.tick_ms.clear();
  for (uint64_t i = 0; ok && i < n; ++i) {
    uint64_t t = 0;
    ok = in.Get(&t);
    r.tick_ms.push_back(t);
  }
  ok = ok && in.Get(&n);
  r.commands.clear();
  for (uint64_t i = 0; ok && i < n; ++i) {
    CommandWrite c;
    ok = in.Get(&c);
    r.commands.push_back(c);
  }
  return ok && in.Get(&r.segment_writes) && in.AtEnd();
}

}  // namespace

bool PrepareWorkload(const std::string& program_path, Workload* workload, std::string* error) {
  workload->program_path = program_path;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(program_path, ec)) {
    *error = "part program \"" + program_path + "\" is not a readable file";
    return false;
  }
  // The program's own machine file beside it (its name with .xml), as kelvro-sim takes it,
  // else the built-in default machine.
  const std::string own = std::filesystem::path(program_path).replace_extension(".xml").string();
  if (own != program_path && std::filesystem::is_regular_file(own, ec)) {
    std::ifstream in(own, std::ios::binary);
    workload->profile_text.assign(std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      *error = "cannot read the machine file \"" + own + "\"";
      return false;
    }
    workload->profile_label = own + " (the program's own machine)";
  } else {
    workload->profile_text = DefaultProfileText();
    workload->profile_label = kDefaultProfileName;
  }
  if (!ParseMachine(workload->profile_text, workload->profile_label, &workload->machine, error)) {
    return false;
  }
  GcodeProgram program;
  std::string why;
  if (!program.Load(program_path, workload->machine, &why)) {
    *error = "part program \"" + program_path + "\": " + why;
    return false;
  }
  if (!PlanProgram(program.blocks(), workload->machine, &workload->plan, &why)) {
    *error = "part program \"" + program_path + "\": " + why;
    return false;
  }
  workload->blocks = program.TakeBlocks();
  return true;
}

RunRecord RunWithFault(const Workload& workload, const FaultSpec& spec) {
  RunRecord record;
  TempFile profile;
  if (!profile.Create("kelvro-faults-profile", workload.profile_text, &record.error)) return record;
  FaultRig rig(workload, spec, record);
  rig.Run(profile.path());
  return record;
}

std::string SerializeRecord(const RunRecord& record) {
  Writer w;
  RunRecord copy = record;
  Fields(w, copy);
  return w.Take();
}

bool DeserializeRecord(const std::string& bytes, RunRecord* record) {
  Reader in(bytes);
  return Fields(in, *record);
}

}  // namespace kelvro::sim::faults
