// The link watchdog: 20 ticks in a row without a valid report, or a link that closed under
// the connected flag, mean the controller is gone. The host then goes into E-stop with
// "ERROR! Connection closed!", and its axes are dereferenced when the user asked for that.
#pragma once

#include "motion/motion_context.h"

namespace kelvro {

inline constexpr char kConnectionClosed[] = "ERROR! Connection closed!";

class LinkWatchdog {
 public:
  static constexpr int kMissedPollsLimit = 20;

  explicit LinkWatchdog(const MotionContext& context) : ctx_(context) {}

  // A valid report arrived.
  void ReportReceived() { missed_polls_ = 0; }
  // Once per tick, in the tick's tail.
  void Check();

  // Reset brackets its work with these: it clears the connected flag on purpose, and ticks
  // that run inside its message boxes must not take that for a lost link.
  void BeginReset() { reset_complete_ = false; }
  void EndReset();
  bool reset_complete() const { return reset_complete_; }
  // The connected link is taken to be fresh: no missed reports counted.
  void Connected() { missed_polls_ = 0; }
  int missed_polls() const { return missed_polls_; }

 private:
  void LinkLost();

  MotionContext ctx_;
  int missed_polls_ = 0;
  bool reset_complete_ = true;
  bool link_seen_connected_ = false;  // connected flag as the last tick (or Reset) left it
};

}  // namespace kelvro
