#include "tools/fault_matrix/fault_matrix.h"

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include "sim/sim_controller.h"

namespace kelvro::sim::faults {
namespace {

// The texts the user sees, as the plugin must show them.
constexpr char kConnectionClosed[] = "ERROR! Connection closed!";
constexpr char kWriteError[] = "Error writing to device!";
constexpr char kCommError[] = "Comm Error!";
constexpr uint64_t kEstopLimitMs = 500;
constexpr uint64_t kWatchdogTicks = 20;  // ticks in a row without a whole report lose the link
constexpr uint64_t kTickMs = 25;

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Times(int count) {
  return count == 1 ? "once" : std::to_string(count) + " times";
}

std::string Seconds(int64_t ms) {
  return Format("%.3f s", static_cast<double>(ms) / 1000.0);
}

std::string CommandLabel(uint8_t code) {
  const char* name = SimController::CommandName(code);
  return name != nullptr ? name : Format("command 0x%02X", code);
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// ---- What the user must see ----

struct AllowedText {
  const char* text;
  int min;
  int max;
};

// Every text shown must be an allowed one, as often as allowed.
void CheckTexts(const std::vector<std::string>& shown, const std::vector<AllowedText>& allowed,
                const char* what, std::vector<std::string>* problems) {
  std::map<std::string, int> counts;
  for (const std::string& text : shown) ++counts[text];
  for (const auto& entry : counts) {
    const std::string& text = entry.first;
    const int count = entry.second;
    const auto it = std::find_if(allowed.begin(), allowed.end(),
                                 [&](const AllowedText& a) { return text == a.text; });
    if (it == allowed.end()) {
      problems->push_back(std::string(what) + " \"" + text + "\" shown " + Times(count) +
                          ", not expected");
    } else if (count > it->max) {
      problems->push_back(std::string(what) + " \"" + text + "\" shown " + Times(count));
    }
  }
  for (const AllowedText& a : allowed) {
    const auto it = counts.find(a.text);
    const int count = it == counts.end() ? 0 : it->second;
    if (count < a.min) {
      problems->push_back(std::string(what) + " \"" + a.text + "\" not shown");
    }
  }
}

bool LinkLosingFault(FaultKind kind) {
  return kind == FaultKind::kDisconnect || kind == FaultKind::kCommandWrite ||
         kind == FaultKind::kSegmentWrite;
}

// ---- The table ----

struct Group {
  std::string title;
  std::vector<RunOutcome> runs;
  std::vector<RunChecks> checks;
  bool stall = false;
};

std::string CheckCell(const Group& group,
                      const std::function<std::optional<bool>(const RunChecks&)>& get) {
  int applicable = 0;
  int failed = 0;
  for (const RunChecks& c : group.checks) {
    const std::optional<bool> v = get(c);
    if (!v) continue;
    ++applicable;
    if (!*v) ++failed;
  }
  if (applicable == 0) return "n/a";
  if (failed == 0) return "PASS";
  return "FAIL " + std::to_string(failed) + "/" + std::to_string(applicable);
}

std::string UserSees(const Group& group) {
  // (kind, text, times in one run) -> runs, in the order first seen.
  std::vector<std::pair<std::string, int>> order;
  std::map<std::pair<std::string, int>, int> runs;
  for (const RunOutcome& o : group.runs) {
    for (const auto* list : {&o.record.message_boxes, &o.record.status_texts}) {
      const std::string kind = list == &o.record.message_boxes ? "box" : "status";
      std::map<std::string, int> counts;
      std::vector<std::string> seen;
      for (const std::string& text : *list) {
        if (counts[text]++ == 0) seen.push_back(text);
      }
      for (const std::string& text : seen) {
        const auto key = std::make_pair(kind + " \"" + text + "\"", counts[text]);
        if (runs[key]++ == 0) order.push_back(key);
      }
    }
  }
  if (order.empty()) return "nothing";
  std::string out;
  for (const auto& key : order) {
    if (!out.empty()) out += ", ";
    out += key.first;
    if (key.second > 1) out += " x" + std::to_string(key.second);
    if (group.runs.size() > 1) out += " (" + std::to_string(runs[key]) + ")";
  }
  return out;
}

std::string EstopCell(const Group& group) {
  uint64_t worst = 0;
  uint64_t sum = 0;
  int count = 0;
  for (const RunOutcome& o : group.runs) {
    const RunRecord& r = o.record;
    if (!r.fault_fired || !r.estop_ms || *r.estop_ms < r.fault_ms) continue;
    const uint64_t after = *r.estop_ms - r.fault_ms;
    worst = std::max(worst, after);
    sum += after;
    ++count;
  }
  if (count == 0) return "none";
  if (group.runs.size() == 1) return std::to_string(worst) + " ms";
  return std::to_string(worst) + " / " + Format("%.0f", static_cast<double>(sum) / count) + " ms";
}

std::string RanOnCell(const Group& group) {
  uint64_t worst = 0;
  bool any = false;
  for (const RunOutcome& o : group.runs) {
    if (!o.record.fault_fired || !o.record.estop_ms) continue;
    any = true;
    worst = std::max(worst, o.record.segments_executed_after_fault);
  }
  return any ? std::to_string(worst) + " ms" : "-";
}

std::string UnderrunCell(const Group& group) {
  int underruns = 0;
  int runs_with = 0;
  uint64_t starved = 0;
  for (const RunOutcome& o : group.runs) {
    underruns += o.record.underruns;
    starved += o.record.starved_ms;
    if (o.record.underruns > 0) ++runs_with;
  }
  std::string out;
  if (underruns == 0) {
    out = "none";
  } else {
    out = std::to_string(underruns);
    if (group.runs.size() > 1) out += " in " + std::to_string(runs_with) + " runs";
    out += ", " + std::to_string(starved) + " ms starved";
  }
  if (group.stall && !group.runs.empty()) {
    out += " (queue " + std::to_string(group.runs.front().record.queued_at_stall) + ")";
  }
  return out;
}

std::string FinishedCell(const Group& group) {
  size_t finished = 0;
  for (const RunOutcome& o : group.runs) finished += o.record.finished ? 1 : 0;
  return std::to_string(finished) + "/" + std::to_string(group.runs.size());
}

std::string Row(const Group& group) {
  std::string row = "| " + group.title + " | " + std::to_string(group.runs.size()) + " | " +
                    UserSees(group) + " | " + EstopCell(group) + " | " + RanOnCell(group) + " | " +
                    UnderrunCell(group) + " | " + FinishedCell(group);
  const std::vector<std::function<std::optional<bool>(const RunChecks&)>> columns = {
      [](const RunChecks& c) { return c.estop; },
      [](const RunChecks& c) { return c.link; },
      [](const RunChecks& c) { return c.message; },
      [](const RunChecks& c) { return c.stale; },
      [](const RunChecks& c) { return std::optional<bool>(c.crash); },
      [](const RunChecks& c) { return std::optional<bool>(c.hang); },
      [](const RunChecks& c) { return c.position; },
  };
  for (const auto& column : columns) row += " | " + CheckCell(group, column);
  return row + " |\n";
}

const char kTableHead[] =
    "| fault | runs | the user sees | E-stop after the fault (worst / average) | queued motion "
    "ran on | underruns | finished | E-stop <= 500 ms | link | message once | no stale motion | no "
    "crash | "
    "no hang | position = plan |\n"
    "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n";

std::string DescribeSpec(const FaultSpec& s) {
  switch (s.kind) {
    case FaultKind::kNone:
      return "no fault";
    case FaultKind::kDisconnect:
      return "disconnect at " + std::to_string(s.at_ms) + " ms";
    case FaultKind::kLostReports:
      return Format("%g %% of the reports lost", s.rate * 100.0) + ", seed " +
             std::to_string(s.seed);
    case FaultKind::kCorruptReports:
      return Format("%g %% of the reports corrupted", s.rate * 100.0) + ", seed " +
             std::to_string(s.seed);
    case FaultKind::kCommandWrite:
      return "write " + std::to_string(s.occurrence) + " of " + CommandLabel(s.command) + " fails";
    case FaultKind::kSegmentWrite:
      return "segment write " + std::to_string(s.occurrence) + " fails";
    case FaultKind::kGuiStall:
      return "GUI stall of " + std::to_string(s.stall_ms) + " ms at " + std::to_string(s.at_ms) +
             " ms";
  }
  return "?";
}

class Matrix {
 public:
  Matrix(const MatrixOptions& options, const Workload& workload)
      : options_(options), workload_(workload) {}

  const RunOutcome& Run(const FaultSpec& spec, Group& group) {
    RunOutcome outcome = RunIsolated(workload_, spec, options_.run_wall_limit_s);
    RunChecks checks = CheckRun(outcome);
    ++runs_;
    if (!checks.Passed()) {
      for (const std::string& why : checks.failures) {
        failures_ += "- " + group.title + ": " + DescribeSpec(spec) + ": " + why + "\n";
      }
    }
    group.runs.push_back(outcome);
    group.checks.push_back(std::move(checks));
    return group.runs.back();
  }

  void Progress(const std::string& what) {
    if (options_.progress) options_.progress(what);
  }

  int runs() const { return runs_; }
  const std::string& failures() const { return failures_; }

 private:
  const MatrixOptions& options_;
  const Workload& workload_;
  int runs_ = 0;
  std::string failures_;
};

}  // namespace

RunOutcome RunIsolated(const Workload& workload, const FaultSpec& spec, uint32_t wall_limit_s) {
  RunOutcome out;
  out.spec = spec;
  int fds[2];
  if (pipe(fds) != 0) {
    out.crashed = true;
    out.crash = std::string("could not be started: ") + std::strerror(errno);
    return out;
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    out.crashed = true;
    out.crash = std::string("could not be started: ") + std::strerror(errno);
    return out;
  }
  if (pid == 0) {
    close(fds[0]);
    alarm(wall_limit_s);
    const bool sent = WriteAll(fds[1], SerializeRecord(RunWithFault(workload, spec)));
    close(fds[1]);
    _exit(sent ? 0 : 3);
  }
  close(fds[1]);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    if (sig == SIGALRM) {
      out.timed_out = true;
      out.crash = "took more than " + std::to_string(wall_limit_s) + " s of wall time";
    } else {
      out.crashed = true;
      out.crash =
          std::string("was killed by signal ") + std::to_string(sig) + " (" + strsignal(sig) + ")";
    }
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    out.crashed = true;
    out.crash = "exited with status " + std::to_string(WEXITSTATUS(status));
  } else if (!DeserializeRecord(bytes, &out.record)) {
    out.crashed = true;
    out.crash = "left no readable record";
  }
  return out;
}

RunChecks CheckRun(const RunOutcome& outcome) {
  RunChecks c;
  const RunRecord& r = outcome.record;
  const FaultSpec& s = outcome.spec;
  auto nothing_verified = [&](const std::string& why) {
    c.failures.push_back(why);
    c.estop = c.link = c.message = c.stale = c.position = false;
    return c;
  };
  if (outcome.crashed) {
    c.crash = false;
    return nothing_verified("the run's process " + outcome.crash);
  }
  if (outcome.timed_out) {
    c.hang = false;
    return nothing_verified("the run's process " + outcome.crash);
  }
  if (!r.error.empty()) return nothing_verified("the run could not be set up: " + r.error);
  if (s.kind != FaultKind::kNone && !r.fault_fired) {
    return nothing_verified("the fault was never injected");
  }

  const bool at_stop = r.fault_in_stop_plug;
  const bool report_faults =
      s.kind == FaultKind::kLostReports || s.kind == FaultKind::kCorruptReports;
  // Failed reads close the link rightly once 20 ticks in a row brought no whole report.
  const bool watchdog_closed = report_faults && r.link_closed_ms.has_value();
  const bool link_lost = (LinkLosingFault(s.kind) && !at_stop) || watchdog_closed;
  if (link_lost) {
    c.estop = r.estop_ms && *r.estop_ms >= r.fault_ms && *r.estop_ms - r.fault_ms <= kEstopLimitMs;
    if (!*c.estop) {
      c.failures.push_back(r.estop_ms ? "E-stop " + std::to_string(*r.estop_ms - r.fault_ms) +
                                            " ms after the fault"
                                      : "no E-stop");
    }
  }
  if (watchdog_closed) {
    const uint64_t gap = r.report_gap_at_close_ms.value_or(0);
    c.link = gap >= kWatchdogTicks * kTickMs;
    if (!*c.link) {
      c.failures.push_back("the link was closed " + std::to_string(gap) +
                           " ms after the newest whole report");
    }
  } else if (link_lost) {
    c.link = r.link_closed_ms.has_value();
    if (!*c.link) c.failures.push_back("the link was not closed");
  } else if (!at_stop) {
    c.link = !r.link_closed_ms && !r.estop_ms;
    if (!*c.link) {
      c.failures.push_back(r.link_closed_ms ? "the link was closed at " +
                                                  std::to_string(*r.link_closed_ms) + " ms"
                                            : "E-stop at " + std::to_string(*r.estop_ms) + " ms");
    }
  }

  std::vector<std::string> problems;
  std::vector<AllowedText> boxes;
  std::vector<AllowedText> texts;
  switch (s.kind) {
    case FaultKind::kDisconnect:
      // A command write that meets the dead link first says so, and so does the control
      // request of a Z read-back whose device left during its 20 ms wait; the watchdog
      // always does.
      boxes = {{kWriteError, 0, 1}, {kCommError, 0, 1}};
      texts = {{kConnectionClosed, 1, 1}};
      break;
    case FaultKind::kCommandWrite:
      boxes = {{kWriteError, 1, 1}};
      if (at_stop) {
        // The plugin is being stopped: no tick follows to declare the link lost.
      } else if (r.fault_in_startup) {
        // Reset never reports a connection whose configuration failed; the first tick
        // finds the link closed.
        texts = {{kConnectionClosed, 1, 1}};
      } else {
        texts = {{kConnectionClosed, 1, 1}};
      }
      break;
    case FaultKind::kSegmentWrite:
      texts = {{kConnectionClosed, 1, 1}};
      break;
    case FaultKind::kLostReports:
    case FaultKind::kCorruptReports:
      if (watchdog_closed) texts = {{kConnectionClosed, 1, 1}};
      break;
    default:
      break;  // the link survives: nothing to say
  }
  CheckTexts(r.message_boxes, boxes, "message box", &problems);
  CheckTexts(r.status_texts, texts, "status text", &problems);
  c.message = problems.empty();
  for (std::string& p : problems) c.failures.push_back(std::move(p));

  std::vector<std::string> stale;
  if (r.positions_not_from_report != 0) {
    stale.push_back("the host's positions changed " + std::to_string(r.positions_not_from_report) +
                    " times to values no whole report carried");
  }
  if (r.order_mismatches != 0) {
    stale.push_back(std::to_string(r.order_mismatches) + " segments executed out of order");
  }
  if (r.phase_mismatches != 0) {
    stale.push_back(std::to_string(r.phase_mismatches) + " segments with a wrong start phase");
  }
  if (watchdog_closed && r.segments_received_after_close != 0) {
    stale.push_back(std::to_string(r.segments_received_after_close) +
                    " segments reached the controller after the link was closed");
  } else if (link_lost && !watchdog_closed && r.segments_received_after_fault != 0) {
    stale.push_back(std::to_string(r.segments_received_after_fault) +
                    " segments reached the controller after the fault");
  }
  c.stale = stale.empty();
  for (std::string& p : stale) c.failures.push_back(std::move(p));

  c.hang = !r.hung;
  if (!c.hang) {
    c.failures.push_back("the run neither finished nor ended in the E-stop: " +
                         (r.stop_reason.empty() ? std::string("no reason") : r.stop_reason));
  }
  if (!link_lost) {
    c.position = r.PositionsMatch();
    if (!*c.position) {
      std::string why = r.finished ? "ended elsewhere than planned:" : "did not finish:";
      if (!r.finished && !r.stop_reason.empty()) why += " " + r.stop_reason + ";";
      for (int k = 0; k < kAxisCount; ++k) {
        if (r.planned_final[k] != r.executed_final[k] || r.host_final[k] != r.executed_final[k]) {
          why += " axis " + std::to_string(k) + " planned " + std::to_string(r.planned_final[k]) +
                 ", executed " + std::to_string(r.executed_final[k]) + ", host " +
                 std::to_string(r.host_final[k]);
        }
      }
      c.failures.push_back(why);
    }
  }
  return c;
}

bool RunMatrix(const MatrixOptions& options, MatrixReport* report, std::string* error) {
  const auto wall_start = std::chrono::steady_clock::now();
  Workload workload;
  if (!PrepareWorkload(options.program_path, &workload, error)) return false;
  const int stride = std::max(1, options.stride);
  Matrix matrix(options, workload);
  std::vector<Group> groups;

  // The reference run: the ticks and writes the other rows are built from.
  matrix.Progress("reference run");
  Group reference{"no fault (reference)", {}, {}, false};
  const RunOutcome ref = matrix.Run(FaultSpec{}, reference);
  groups.push_back(reference);
  if (ref.crashed || ref.timed_out || !ref.record.finished) {
    *error = "the program does not run to the end without a fault: " +
             (ref.crash.empty() ? ref.record.stop_reason : ref.crash);
    return false;
  }
  const RunRecord& base = ref.record;
  const auto relative = [&](uint64_t t) {
    return static_cast<int64_t>(t) - static_cast<int64_t>(base.run_start_ms);
  };

  // 1. A disconnect at every tick.
  {
    Group g;
    g.title = stride == 1 ? "disconnect at every tick"
                          : "disconnect at every " + std::to_string(stride) + "th tick";
    g.title += " (" + std::to_string(base.tick_ms.size()) + " ticks of 25 ms)";
    matrix.Progress(g.title);
    for (size_t k = 0; k < base.tick_ms.size(); k += static_cast<size_t>(stride)) {
      FaultSpec spec;
      spec.kind = FaultKind::kDisconnect;
      spec.at_ms = base.tick_ms[k];
      matrix.Run(spec, g);
    }
    groups.push_back(std::move(g));
  }

  // 2. Status reports lost, and corrupted, at each rate.
  for (const FaultKind kind : {FaultKind::kLostReports, FaultKind::kCorruptReports}) {
    for (const double rate : options.rates) {
      Group g;
      g.title = Format("%g %%", rate * 100.0) + " of the status reports " +
                (kind == FaultKind::kLostReports ? "lost" : "corrupted") + " (seeds 1.." +
                std::to_string(options.seeds) + ")";
      matrix.Progress(g.title);
      for (int seed = 1; seed <= options.seeds; ++seed) {
        FaultSpec spec;
        spec.kind = kind;
        spec.rate = rate;
        spec.seed = static_cast<uint64_t>(seed);
        matrix.Run(spec, g);
      }
      groups.push_back(std::move(g));
    }
  }

  // 3. A failed write of each command, at each of its writes, and of the segment batches.
  {
    std::vector<uint8_t> codes;
    std::map<uint8_t, std::vector<uint64_t>> times;
    for (const CommandWrite& w : base.commands) {
      if (times[w.code].empty()) codes.push_back(w.code);
      times[w.code].push_back(w.t_ms);
    }
    for (const uint8_t code : codes) {
      Group g;
      g.title = "write of " + CommandLabel(code) + " fails";
      matrix.Progress(g.title);
      const std::vector<uint64_t>& at = times[code];
      std::string when;
      for (uint32_t i = 0; i < at.size(); ++i) {
        FaultSpec spec;
        spec.kind = FaultKind::kCommandWrite;
        spec.command = code;
        spec.occurrence = i;
        const RunRecord& r = matrix.Run(spec, g).record;
        if (!when.empty()) when += ", ";
        if (r.fault_in_startup) {
          when += "Reset";
        } else if (r.fault_in_stop_plug) {
          when += "StopPlug";
        } else {
          const int64_t t = relative(r.fault_fired ? r.fault_ms : at[i]);
          when += (t < 0 ? "-" : "+") + Seconds(std::llabs(t));
        }
      }
      g.title += " (at " + when + ")";
      groups.push_back(std::move(g));
    }
    Group g;
    g.title = (stride == 1 ? "every segment write fails in turn ("
                           : "every " + std::to_string(stride) + "th segment write fails (") +
              std::to_string(base.segment_writes) + " writes)";
    matrix.Progress(g.title);
    for (uint64_t i = 0; i < base.segment_writes; i += static_cast<uint64_t>(stride)) {
      FaultSpec spec;
      spec.kind = FaultKind::kSegmentWrite;
      spec.occurrence = static_cast<uint32_t>(i);
      matrix.Run(spec, g);
    }
    groups.push_back(std::move(g));
  }

  // 4. GUI-thread stalls in the middle of a move, then the largest one streaming survives.
  const uint64_t stall_at = base.run_start_ms + options.stall_after_ms;
  std::map<uint32_t, bool> underran;  // stall -> underrun
  std::map<uint32_t, RunOutcome> stall_runs;
  auto stall_spec = [&](uint32_t ms) {
    FaultSpec spec;
    spec.kind = FaultKind::kGuiStall;
    spec.at_ms = stall_at;
    spec.stall_ms = ms;
    return spec;
  };
  for (const uint32_t ms : options.stalls_ms) {
    Group g;
    g.stall = true;
    g.title = "GUI thread stalls " + std::to_string(ms) + " ms at +" +
              Seconds(static_cast<int64_t>(options.stall_after_ms));
    matrix.Progress(g.title);
    const RunOutcome o = matrix.Run(stall_spec(ms), g);
    underran[ms] = o.record.underruns > 0;
    stall_runs[ms] = o;
    groups.push_back(std::move(g));
  }
  {
    Group g;
    g.stall = true;
    uint32_t lo = 0;  // no underrun
    std::optional<uint32_t> hi;
    for (const auto& [ms, u] : underran) {
      if (!u && (!hi || ms < *hi)) lo = std::max(lo, ms);
      if (u && !hi) hi = ms;
    }
    const uint32_t resolution = std::max<uint32_t>(1, options.search_resolution_ms);
    g.title = "stall search by bisection to " + std::to_string(resolution) + " ms";
    matrix.Progress(g.title);
    while (hi && *hi - lo > resolution) {
      const uint32_t mid = lo + (*hi - lo) / 2;
      const RunOutcome o = matrix.Run(stall_spec(mid), g);
      stall_runs[mid] = o;
      if (o.record.underruns > 0) {
        hi = mid;
      } else {
        lo = mid;
      }
    }
    if (!g.runs.empty()) groups.push_back(std::move(g));
    report->largest_stall_ms = hi ? std::optional<uint32_t>(lo) : std::nullopt;
    std::string s;
    if (hi) {
      const RunRecord& survived = stall_runs[lo].record;
      s += "Largest GUI-thread stall survived without an underrun: " + std::to_string(lo) +
           " ms (a stall of " + std::to_string(*hi) + " ms underran; bisection to " +
           std::to_string(resolution) + " ms). The controller's queue held " +
           std::to_string(survived.queued_at_stall) + " segments (" +
           std::to_string(survived.queued_at_stall) +
           " ms of motion) when the stall began; the longest gap between timer ticks was " +
           std::to_string(survived.longest_timer_gap_ms) + " ms, between Updates " +
           std::to_string(survived.longest_update_gap_ms) + " ms.\n";
    } else {
      s += "No stall up to " +
           std::to_string(options.stalls_ms.empty() ? 0 : options.stalls_ms.back()) +
           " ms caused an underrun.\n";
    }
    report->summary += s;
  }

  report->table = kTableHead;
  bool all = true;
  for (const Group& g : groups) {
    report->table += Row(g);
    for (const RunChecks& c : g.checks) all = all && c.Passed();
  }
  report->all_passed = all;
  report->failures = matrix.failures();
  report->runs = matrix.runs();
  report->wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  std::string head = "Program " + options.program_path + " on " + workload.profile_label + ": " +
                     Seconds(static_cast<int64_t>(std::llround(workload.plan.seconds * 1000.0))) +
                     " planned, " +
                     Seconds(static_cast<int64_t>(base.program_end_ms - base.run_start_ms)) +
                     " from its start to the end of the motion without a fault, " +
                     std::to_string(base.tick_ms.size()) + " timer ticks, " +
                     std::to_string(base.segment_writes) + " segment writes.\n";
  report->summary = head + report->summary + std::to_string(report->runs) + " runs in " +
                    Format("%.1f", report->wall_seconds) + " s of wall time.\n";
  return true;
}

}  // namespace kelvro::sim::faults
