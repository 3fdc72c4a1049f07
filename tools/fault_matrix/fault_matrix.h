// The fault matrix: every fault of the list below injected into runs of one part program,
// each run carried out in a child process of its own (so that a crash or a hang of one run
// is seen and counted rather than ending the matrix), checked, and summarised as a table.
//
// Rows:
//   - no fault (the reference run, whose ticks and writes the other rows are built from);
//   - a disconnect at every timer tick of the run (or every n-th with a stride);
//   - status reports lost, and separately corrupted, at 1 % to 50 % of the reads (several
//     seeds each);
//   - a failed write of every command the plugin sends in the run, at each of its writes,
//     and of the segment batches (every n-th with a stride);
//   - GUI-thread stalls of 100 ms to 2 s in the middle of a move, and the largest stall
//     without an underrun found by bisection.
//
// The checks, each computed from the run:
//   E-stop <= 500 ms    where the link is lost: the host's E-stop within 500 ms of the fault
//   link                closed by a fault that loses it, kept (and no E-stop) otherwise
//   message once        the texts the user must see for that fault, each once, and no other
//   no stale motion     the host's positions only ever from the newest whole report; the
//                       controller executes the host's segments in order and phase; once the
//                       link is lost, no segment reaches the controller
//   no crash            the run's process ended normally
//   no hang             the run finished, or ended in the E-stop, within its time
//   position = plan     where the link survives: the controller's executed step counts and
//                       the host's positions equal the plan's end position
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/fault_matrix/fault_run.h"

namespace kelvro::sim::faults {

struct MatrixOptions {
  std::string program_path;
  int stride = 1;  // every stride-th tick (disconnects) and segment batch (write failures)
  int seeds = 10;  // runs per rate of lost or corrupted reports, seeds 1..seeds
  std::vector<double> rates = {0.01, 0.02, 0.05, 0.10, 0.20, 0.50};
  std::vector<uint32_t> stalls_ms = {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1500, 2000};
  uint64_t stall_after_ms = 1500;  // from the program's start
  uint32_t search_resolution_ms = 5;
  uint32_t run_wall_limit_s = 60;  // a run's process that takes longer has hung
  // Told what the matrix is doing (a group and how many runs it has), for a progress line.
  std::function<void(const std::string&)> progress;
};

// One run as the parent saw it.
struct RunOutcome {
  FaultSpec spec;
  RunRecord record;
  bool crashed = false;    // killed by a signal, or no readable record
  bool timed_out = false;  // killed after run_wall_limit_s
  std::string crash;       // what happened to the process
};

// The checks of one run; nothing: not applicable to this fault.
struct RunChecks {
  std::optional<bool> estop;
  std::optional<bool> link;
  std::optional<bool> message;
  std::optional<bool> stale;
  bool crash = true;
  bool hang = true;
  std::optional<bool> position;
  std::vector<std::string> failures;  // why, for the report
  bool Passed() const { return failures.empty(); }
};

// Carries out one run in a child process.
RunOutcome RunIsolated(const Workload& workload, const FaultSpec& spec, uint32_t wall_limit_s);

// What the user must see and what must hold for this run's fault.
RunChecks CheckRun(const RunOutcome& outcome);

struct MatrixReport {
  std::string table;     // the markdown table
  std::string summary;   // the figures below it (largest stall, run counts, times)
  std::string failures;  // every failed check of every run
  bool all_passed = false;
  int runs = 0;
  double wall_seconds = 0.0;
  std::optional<uint32_t> largest_stall_ms;  // survived without an underrun
};

// Runs the whole matrix; false with `error` when the program cannot be used at all.
bool RunMatrix(const MatrixOptions& options, MatrixReport* report, std::string* error);

}  // namespace kelvro::sim::faults
