// The timer jitter of --jitter: its generator, its period range and its stalls.
#include "tools/jitter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tools/progress_bar.h"

namespace kelvro::sim {
namespace {

TEST(SeededRandom, IsSplitMix64) {
  // The published first outputs of splitmix64 seeded with 0 and with 1234567.
  SeededRandom zero(0);
  EXPECT_EQ(zero.Next(), 0xE220A8397B1DCDAFull);
  EXPECT_EQ(zero.Next(), 0x6E789E6AA1B965F4ull);
  SeededRandom other(1234567);
  EXPECT_EQ(other.Next(), 6457827717110365317ull);
  EXPECT_EQ(other.Next(), 3203168211198807973ull);
}

TEST(SeededRandom, BetweenStaysInside) {
  SeededRandom random(9);
  for (int i = 0; i < 10000; ++i) {
    const uint32_t v = random.Between(15, 40);
    ASSERT_GE(v, 15u);
    ASSERT_LE(v, 40u);
    const double u = random.Uniform();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
  }
  EXPECT_EQ(random.Between(7, 7), 7u);
  EXPECT_EQ(random.Between(8, 3), 8u);
}

TEST(TimerJitter, PeriodsAndStallsAsConfigured) {
  TimerJitter jitter(3);
  const JitterOptions& o = jitter.options();
  uint64_t elapsed_since_stall = o.min_stall_gap_ms;
  uint64_t stalls = 0;
  bool saw_min = false;
  bool saw_max = false;
  for (int i = 0; i < 40000; ++i) {
    const uint32_t p = jitter.NextPeriod();
    if (p > o.max_period_ms) {
      // A stall: an ordinary period plus several hundred milliseconds, never two close
      // together.
      ASSERT_GE(p, o.min_period_ms + o.min_stall_ms);
      ASSERT_LE(p, o.max_period_ms + o.max_stall_ms);
      ASSERT_GE(elapsed_since_stall, o.min_stall_gap_ms);
      elapsed_since_stall = 0;
      ++stalls;
    } else {
      ASSERT_GE(p, o.min_period_ms);
      saw_min = saw_min || p == o.min_period_ms;
      saw_max = saw_max || p == o.max_period_ms;
      elapsed_since_stall += p;
    }
  }
  EXPECT_TRUE(saw_min);
  EXPECT_TRUE(saw_max);
  EXPECT_EQ(jitter.stalls(), stalls);
  EXPECT_EQ(jitter.periods(), 40000u);
  // About one stall per 400 ticks where allowed: between 40 and 110 in 40000 ticks.
  EXPECT_GT(stalls, 40u);
  EXPECT_LT(stalls, 110u);
}

TEST(TimerJitter, SameSeedSamePeriods) {
  TimerJitter a(77);
  TimerJitter b(77);
  TimerJitter c(78);
  bool differs = false;
  for (int i = 0; i < 1000; ++i) {
    const uint32_t pa = a.NextPeriod();
    ASSERT_EQ(pa, b.NextPeriod());
    differs = differs || pa != c.NextPeriod();
  }
  EXPECT_TRUE(differs);
}

TEST(ProgressBar, Format) {
  const std::string half = FormatProgress(30.0, 60.0, 72);
  EXPECT_EQ(half.size(), 72u);
  EXPECT_EQ(half.front(), '[');
  EXPECT_NE(half.find("  50%  30.0 of 60.0 s simulated"), std::string::npos) << half;
  const size_t filled = std::count(half.begin(), half.end(), '#');
  const size_t empty = std::count(half.begin(), half.end(), '.') - 2;  // "30.0", "60.0"
  EXPECT_LE(filled, empty);
  EXPECT_LE(empty, filled + 1);
  // Past the plan (homing, probing) the bar stays full; no plan reads 0 %.
  EXPECT_NE(FormatProgress(90.0, 60.0, 72).find("100%"), std::string::npos);
  EXPECT_NE(FormatProgress(5.0, 0.0, 72).find("  0%"), std::string::npos);
  EXPECT_LE(FormatProgress(5.0, 1e12, 40).size(), 40u);
}

}  // namespace
}  // namespace kelvro::sim
