// One run of the fault matrix: a part program carried out by the stand-in host's planner
// (the runner kelvro-sim uses) through the real plugin object against the simulated
// controller, on virtual time, with one fault injected, and everything the checks need
// recorded as it happens.
//
// The faults:
// - a disconnect: the controller leaves the bus at the millisecond of a timer tick, before
//   the host's calls of that millisecond;
// - lost or corrupted status reports at a rate per status read, from the start (seeded);
// - a failed write of one command (its n-th write in the run, counted from 0) or of one
//   segment batch (the n-th write on the segment pipe);
// - a stall of the host's GUI thread: right after the first timer tick at or after a given
//   time that comes in the same millisecond as an Update, neither the timer routine nor
//   Update runs for the stall's length while the controller goes on executing; then both
//   run at once, as a thread whose message loop comes back finds its overdue timer.
//
// On a plasma machine (THCOn) the torch's arc transfers 150 ms after the torch goes on, as
// in kelvro-sim, and holds a steady voltage.
//
// After the program's end the host runs on for a second before it stops the plugin, as the
// user's machine-control program goes on running after a program.
//
// What the user sees is what the plugin shows on the scripted platform: status texts and
// message boxes. The host's E-stop flag, the plugin's connected flag and the controller's
// counters are watched every simulated millisecond and after every timer tick.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/gcode.h"
#include "sim/machine_profile.h"
#include "tools/sim_run.h"

namespace kelvro::sim::faults {

enum class FaultKind : uint8_t {
  kNone,
  kDisconnect,
  kLostReports,
  kCorruptReports,
  kCommandWrite,
  kSegmentWrite,
  kGuiStall,
};

struct FaultSpec {
  FaultKind kind = FaultKind::kNone;
  uint64_t at_ms = 0;       // kDisconnect, kGuiStall: simulated time of the tick
  double rate = 0.0;        // kLostReports, kCorruptReports: per status read, 0..1
  uint64_t seed = 1;        // kLostReports, kCorruptReports
  uint8_t command = 0;      // kCommandWrite: the command code
  uint32_t occurrence = 0;  // kCommandWrite, kSegmentWrite: which write fails, from 0
  uint32_t stall_ms = 0;    // kGuiStall
};

// The program and machine all runs share: interpreted and planned once.
struct Workload {
  std::string program_path;
  std::string profile_text;   // the machine profile the plugin is started with
  std::string profile_label;  // where it came from
  Machine machine;
  std::vector<Block> blocks;
  ProgramPlan plan;
};

// Loads `program_path` on its own machine file (the program's name with .xml) when there
// is one beside it, else on the built-in default machine; false with the reason.
bool PrepareWorkload(const std::string& program_path, Workload* workload, std::string* error);

// One command the plugin wrote (or tried to write) during a run.
struct CommandWrite {
  uint8_t code = 0;
  uint64_t t_ms = 0;
};

struct RunRecord {
  // How the run ended.
  bool finished = false;  // the program was executed to the end
  bool stopped = false;   // the host's planner stopped the run
  bool estop_at_end = false;
  bool hung = false;        // neither finished nor stopped by an E-stop
  std::string stop_reason;  // why the planner stopped, if it did
  std::string error;        // the run could not be set up
  uint64_t run_start_ms = 0;
  uint64_t program_end_ms = 0;  // when the planner finished or stopped
  uint64_t end_ms = 0;

  // The fault.
  // For lost or corrupted reports the fault is the run of failed reads that ended the link,
  // if one did: fault_ms is its first failed read; until then it is 0.
  bool fault_fired = false;
  bool fault_in_startup = false;    // during the host's start-up (its Reset)
  bool fault_in_stop_plug = false;  // while the plugin was being stopped
  uint64_t fault_ms = 0;
  std::optional<uint64_t> estop_ms;        // the host's E-stop flag first seen set
  std::optional<uint64_t> link_closed_ms;  // the plugin's connected flag first seen clear
  // Lost or corrupted reports: when the link was closed, how long before the newest whole
  // report had been taken (reads that fail in a row are what closes it).
  std::optional<uint64_t> report_gap_at_close_ms;
  uint32_t queued_at_stall = 0;        // controller queue when a stall began
  uint32_t longest_timer_gap_ms = 0;   // between two timer ticks after the start
  uint32_t longest_update_gap_ms = 0;  // between two Updates after the start

  // Streaming.
  int underruns = 0;
  uint64_t starved_ms = 0;
  uint64_t segments_received_after_fault = 0;
  uint64_t segments_received_after_close = 0;  // once the plugin's link was closed
  uint64_t segments_executed_after_fault = 0;  // queued motion that ran on
  // Changes of the host's positions to values that the newest whole status report did not
  // carry (a decode of stale or broken bytes).
  uint64_t positions_not_from_report = 0;
  uint64_t order_mismatches = 0;  // segments executed out of the order the host wrote them
  uint64_t phase_mismatches = 0;
  std::array<int64_t, kAxisCount> planned_final{};
  std::array<int64_t, kAxisCount> executed_final{};  // the controller's own step counts
  std::array<int64_t, kAxisCount> host_final{};      // what the plugin told the host

  // What the user saw from the fault on (from the end of the start-up without a fault).
  std::vector<std::string> status_texts;
  std::vector<std::string> message_boxes;

  // For the matrix's cases, from a run without a fault.
  std::vector<uint64_t> tick_ms;  // every timer tick from the program's start to its end
  std::vector<CommandWrite> commands;
  uint64_t segment_writes = 0;

  bool PositionsMatch() const {
    return finished && executed_final == planned_final && host_final == executed_final;
  }
};

// Carries the program out once with `spec`.
RunRecord RunWithFault(const Workload& workload, const FaultSpec& spec);

// The record as bytes and back, for a run carried out in a child process.
std::string SerializeRecord(const RunRecord& record);
bool DeserializeRecord(const std::string& bytes, RunRecord* record);

}  // namespace kelvro::sim::faults
