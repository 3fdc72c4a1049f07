// kelvro-sim's status log: the lines the status window shows, written as the window would
// show them during the run. The plugin feeds a window without a window (the inline stand-in)
// exactly as it feeds the real one; each report shown (or every Nth) and each offline view
// becomes one block of the log.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "sim/status_window_standin.h"
#include "ui/status_view.h"

namespace kelvro::sim {

// One block: the time, the text lines, the counters and the indicator's two rows ('#' lit,
// '.' dark, ' ' for the two "In:" boxes that have no input).
std::string FormatStatusBlock(const StatusView& view, uint64_t time_ms, uint64_t report);

class StatusLog {
 public:
  // `every`: write every Nth report (1: all); offline views are always written.
  StatusLog(std::ostream& out, uint32_t every, std::function<uint64_t()> now);

  // The window the plugin is given.
  InlineStatusWindow& window() { return window_; }
  uint64_t reports() const { return reports_; }
  uint64_t blocks() const { return blocks_; }

 private:
  void Shown(const StatusView& view, bool online);

  std::ostream& out_;
  uint32_t every_;
  std::function<uint64_t()> now_;
  InlineStatusWindow window_;
  uint64_t reports_ = 0;
  uint64_t blocks_ = 0;
};

}  // namespace kelvro::sim
