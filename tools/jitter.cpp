#include "tools/jitter.h"

#include <algorithm>

namespace kelvro::sim {

uint64_t SeededRandom::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double SeededRandom::Uniform() {
  return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

uint32_t SeededRandom::Between(uint32_t low, uint32_t high) {
  if (high <= low) return low;
  const uint64_t span = static_cast<uint64_t>(high) - low + 1;
  return low + static_cast<uint32_t>(Next() % span);
}

TimerJitter::TimerJitter(uint64_t seed, JitterOptions options)
    : random_(seed), options_(options), since_stall_ms_(options.min_stall_gap_ms) {}

uint32_t TimerJitter::NextPeriod() {
  uint32_t period = random_.Between(options_.min_period_ms, options_.max_period_ms);
  const bool may_stall = since_stall_ms_ >= options_.min_stall_gap_ms;
  if (random_.Uniform() < options_.stall_probability && may_stall) {
    period += random_.Between(options_.min_stall_ms, options_.max_stall_ms);
    ++stalls_;
    since_stall_ms_ = 0;
  } else {
    since_stall_ms_ += period;
  }
  shortest_ = periods_ == 0 ? period : std::min(shortest_, period);
  longest_ = std::max(longest_, period);
  ++periods_;
  return period;
}

}  // namespace kelvro::sim
