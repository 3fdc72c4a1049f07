// A part program the size of a test: one straight move streamed through the stand-in host's
// trajectory ring, for tests that check what the controller executed.
#pragma once

#include "plugin/plugin.h"
#include "sim/standin_host.h"

namespace kelvro::test {

// Streams a straight move from the origin to (x1, y1) at Z 0 through the host's ring, one
// entry per ms, and runs until the controller is idle again; true when it got there.
inline bool RunStraightProgram(sim::HostOf<Plugin>& host, double x1, double y1, int ms) {
  constexpr double kSteps = 1000.0;  // the stand-in host's mill
  int written = 0;
  host.before_update = [&] {
    while (written < ms && host.RingPending() < 2000) {
      const double f = static_cast<double>(written + 1) / ms;
      host.PushRingEntry({x1 * f * kSteps, y1 * f * kSteps, 0.0, 0, 0, 0}, 1);
      ++written;
    }
    host.planner().flush = written == ms ? 1 : 0;
  };
  const bool done = host.RunUntil(
      [&] {
        return written == ms && host.RingPending() == 0 && host.controller().buffer_fill() == 0 &&
               host.controller().mode() == sim::SimMode::kIdle;
      },
      30000);
  host.before_update = nullptr;
  host.Run(500);
  return done;
}

}  // namespace kelvro::test
