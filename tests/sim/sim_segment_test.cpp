// Segment arithmetic: a stream made the way the plugin makes it (position + 0.5, start phase
// from the fraction, distance to the target, rounding toward minus infinity) must bring the
// controller's axes exactly to the planned whole steps.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <random>

#include "tests/sim/sim_test_util.h"

namespace kelvro::sim::test {
namespace {

// The reference conversion, written here from the description of the segment record.
AxisPair ReferenceSegmentAxis(double& mirror, double target) {
  const int saved = std::fegetround();
  std::fesetround(FE_DOWNWARD);
  volatile double p = mirror;
  volatile double t = target;
  const double base = std::floor(p);
  const auto frac = static_cast<int64_t>(std::floor((p - base) * 1000000.0));
  const auto end = static_cast<int64_t>(std::floor((t + 0.5 - base) * 1000000.0));
  std::fesetround(saved);
  int64_t phase = frac * 250;
  if (phase < 0) phase += 250000000;
  mirror = target + 0.5;
  return {static_cast<uint32_t>(phase), static_cast<int32_t>(end - frac)};
}

struct Stream {
  std::array<double, 6> mirror{0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
  std::vector<std::vector<uint8_t>> records;

  void Add(const std::array<double, 6>& target, uint16_t tag) {
    std::array<AxisPair, 6> axes{};
    for (int k = 0; k < 6; ++k) axes[k] = ReferenceSegmentAxis(mirror[k], target[k]);
    records.push_back(SegmentRecord(axes, tag));
  }
};

// Streams the records the way the plugin's flow control does: every 25 ms, at most 75
// records while the queue holds at most 850.
void Feed(Rig& rig, const std::vector<std::vector<uint8_t>>& records) {
  size_t next = 0;
  while (next < records.size()) {
    const size_t fill = rig.controller.buffer_fill();
    if (fill <= 850) {
      const size_t n = std::min({records.size() - next, size_t{75}, 1000 - fill});
      std::vector<uint8_t> batch;
      for (size_t i = 0; i < n; ++i) {
        batch.insert(batch.end(), records[next + i].begin(), records[next + i].end());
      }
      ASSERT_TRUE(rig.Write(0x02, batch));
      next += n;
    }
    rig.Advance(25);
  }
  ASSERT_TRUE(rig.Command(0x0C, {0, 0, 0, 0}));  // release the tail if it is held
  rig.Advance(1100);
}

TEST(SimSegments, WorkedExample) {
  // Mirror 0.5 -> target 2.25: frac 500000, end 2750000, distance 2250000, phase 125000000.
  Rig rig;
  rig.controller.options().start_threshold = 1;
  std::array<AxisPair, 6> axes{};
  axes[0] = {125000000, 2250000};
  ASSERT_TRUE(rig.Write(0x02, SegmentRecord(axes)));
  rig.Advance(1);
  EXPECT_EQ(rig.controller.position(0), 2);
  EXPECT_EQ(rig.controller.fraction_micro(0), 750000u);
  // Then to -3.0: frac 750000, end floor((-3 + 0.5 - 2) x 1e6) = -4500000.
  axes[0] = {187500000, -5250000};
  ASSERT_TRUE(rig.Write(0x02, SegmentRecord(axes)));
  rig.Advance(1);
  EXPECT_EQ(rig.controller.position(0), -3);
  EXPECT_EQ(rig.controller.fraction_micro(0), 500000u);
  EXPECT_EQ(rig.controller.phase_mismatches(), 0u);
}

TEST(SimSegments, ReferenceStreamReachesThePlannedPositions) {
  // Targets on a 1/1024-step grid are exact in binary, so every value is exact too.
  std::mt19937 gen(1234);
  std::uniform_int_distribution<int> step(-40 * 1024, 40 * 1024);
  Stream stream;
  std::array<double, 6> target{};
  for (int i = 0; i < 5000; ++i) {
    for (int k = 0; k < 6; ++k) target[k] += step(gen) / 1024.0;
    stream.Add(target, static_cast<uint16_t>(i & 4095));
  }
  Rig rig;
  Feed(rig, stream.records);
  EXPECT_EQ(rig.controller.segments_executed(), 5000u);
  EXPECT_EQ(rig.controller.phase_mismatches(), 0u);
  const auto s = rig.Read();
  for (int k = 0; k < 6; ++k) {
    const auto expected = static_cast<int64_t>(std::floor(stream.mirror[k]));
    EXPECT_EQ(rig.controller.position(k), expected) << "axis " << k;
    EXPECT_EQ(Le32(&s[8 + 4 * k]), expected) << "axis " << k;
    EXPECT_EQ(rig.controller.fraction_micro(k),
              static_cast<uint32_t>((stream.mirror[k] - std::floor(stream.mirror[k])) * 1e6))
        << "axis " << k;
  }
}

TEST(SimSegments, DecimalTargetsStayOnTheirStepsAtEveryCheckpoint) {
  // Host targets are decimal (millimetres x steps per unit), not exact in binary; positions
  // must still match exactly. Two axes drift far from zero to cover large positions.
  std::mt19937 gen(99);
  std::uniform_int_distribution<int> step(-2500, 2500);
  const std::array<double, 6> drift{0.0, 0.0, 0.0, 400.0, -300.0, 0.0};
  std::array<double, 6> target{};
  Stream stream;
  Rig rig;
  Rig strict;
  strict.controller.options().phase_tolerance_micro = 0;
  for (int checkpoint = 0; checkpoint < 6; ++checkpoint) {
    stream.records.clear();
    for (int i = 0; i < 500; ++i) {
      for (int k = 0; k < 6; ++k) target[k] += drift[k] + step(gen) * 0.013;
      stream.Add(target, 0xFFFF);
    }
    Feed(rig, stream.records);
    Feed(strict, stream.records);
    for (int k = 0; k < 6; ++k) {
      const auto expected = static_cast<int64_t>(std::floor(stream.mirror[k]));
      EXPECT_EQ(rig.controller.position(k), expected)
          << "checkpoint " << checkpoint << " axis " << k;
      EXPECT_EQ(strict.controller.position(k), expected)
          << "checkpoint " << checkpoint << " axis " << k;
    }
  }
  EXPECT_EQ(rig.controller.segments_executed(), 3000u);
  EXPECT_EQ(rig.controller.phase_mismatches(), 0u);
  // The conversion is exact enough that even a strict controller sees no mismatch.
  EXPECT_EQ(strict.controller.phase_mismatches(), 0u);
  EXPECT_GT(rig.controller.position(3), 1000000);
  EXPECT_LT(rig.controller.position(4), -800000);
}

TEST(SimSegments, StepBoundaryRoundingDoesNotCostAStep) {
  // The controller ended a segment one millionth below step 3 (2.999999) while the sender
  // believes it is at 3.0 exactly and starts the next segment at phase 0.
  Rig rig;
  rig.controller.options().start_threshold = 1;
  std::array<AxisPair, 6> axes{};
  axes[0] = {125000000, 2499999};
  ASSERT_TRUE(rig.Write(0x02, SegmentRecord(axes)));
  rig.Advance(1);
  EXPECT_EQ(rig.controller.position(0), 2);
  axes[0] = {0, 4000000};
  ASSERT_TRUE(rig.Write(0x02, SegmentRecord(axes)));
  rig.Advance(1);
  EXPECT_EQ(rig.controller.position(0), 7);
  EXPECT_EQ(rig.controller.phase_mismatches(), 0u);  // one millionth is within tolerance
}

struct MismatchCase {
  const char* what;
  uint32_t phase;
  int64_t tolerance;
  uint64_t mismatches;
  int64_t position;
};

TEST(SimSegments, PhaseMismatchesAreRecorded) {
  const MismatchCase cases[] = {
      {"exact phase", 125000000, 2, 0, 4},
      {"one millionth off, strict", 125000250, 0, 1, 4},
      {"one millionth off, tolerant", 125000250, 2, 0, 4},
      {"0.3 step off", 200000000, 2, 1, 4},
      {"phase beyond one step", 250000000, 2, 1, 4},
      {"phase not a multiple of 250", 125000001, 2, 1, 4},
  };
  for (const MismatchCase& c : cases) {
    Rig rig;
    rig.controller.options().start_threshold = 1;
    rig.controller.options().phase_tolerance_micro = c.tolerance;
    std::array<AxisPair, 6> axes{};
    axes[1] = {c.phase, 4000000};
    ASSERT_TRUE(rig.Write(0x02, SegmentRecord(axes)));
    rig.Advance(1);
    EXPECT_EQ(rig.controller.phase_mismatches(), c.mismatches) << c.what;
    EXPECT_EQ(rig.controller.trace().Count(TraceKind::kPhaseMismatch), c.mismatches) << c.what;
    EXPECT_EQ(rig.controller.position(1), c.position) << c.what;
  }
}

}  // namespace
}  // namespace kelvro::sim::test
