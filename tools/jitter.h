// Timer periods of a busy host GUI thread, for the --jitter fault: the 25 ms thread timer
// really fires every 15 to 40 ms, and now and then the thread stalls for several hundred
// milliseconds (a modal dialog, a slow redraw). Stalls are occasional: after one, the timer
// runs normally for a while (min_stall_gap_ms) before the next can come; two stalls in a row
// would be one stall longer than the controller's queue. Drawn from a seeded generator of our own
// so that a seed gives the same run on every platform and library.
#pragma once

#include <cstdint>

namespace kelvro::sim {

// splitmix64: small, fast and fully specified.
class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // Uniform in [0, 1).
  double Uniform();
  // Uniform integer in [low, high] (high >= low).
  uint32_t Between(uint32_t low, uint32_t high);

 private:
  uint64_t state_;
};

struct JitterOptions {
  uint32_t min_period_ms = 15;
  uint32_t max_period_ms = 40;
  double stall_probability = 1.0 / 400.0;  // per tick: one stall every ten seconds or so
  uint32_t min_stall_ms = 200;
  uint32_t max_stall_ms = 500;
  uint32_t min_stall_gap_ms = 3000;
};

class TimerJitter {
 public:
  explicit TimerJitter(uint64_t seed, JitterOptions options = {});

  // The time until the next timer tick.
  uint32_t NextPeriod();

  const JitterOptions& options() const { return options_; }
  uint64_t periods() const { return periods_; }
  uint64_t stalls() const { return stalls_; }
  uint32_t shortest() const { return shortest_; }
  uint32_t longest() const { return longest_; }

 private:
  SeededRandom random_;
  JitterOptions options_;
  uint64_t periods_ = 0;
  uint64_t stalls_ = 0;
  uint32_t shortest_ = 0;
  uint32_t longest_ = 0;
  uint64_t since_stall_ms_ = 0;
};

}  // namespace kelvro::sim
