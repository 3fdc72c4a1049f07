// Filling the host ring: pacing, the 4095-entry bound, wraparound at 4096, the read index
// never overrun, events at the head once the ring drains, the flush flag.
#include "sim/trajectory_source.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/sim/traj_test_util.h"

namespace kelvro::sim {
namespace {

using test::AllSamples;
using test::ParseOk;
using test::TestMachine;

struct HostBlocks {
  HostBlocks() {
    std::memset(state.get(), 0, sizeof(HostMachineState));
    std::memset(planner.get(), 0, sizeof(HostPlanner));
  }
  int Pending() const { return (state->ring_write - state->ring_read) & (kRingSize - 1); }
  std::unique_ptr<HostMachineState> state = std::make_unique<HostMachineState>();
  std::unique_ptr<HostPlanner> planner = std::make_unique<HostPlanner>();
};

// Samples of the same program from a planner of their own, events passed over.
std::vector<Sample> Reference(const std::string& program, const Machine& m) {
  MotionPlanner planner(m, ParseOk(program, m));
  return AllSamples(planner);
}

void ExpectEntryIs(const HostRingEntry& entry, const Sample& sample, size_t index) {
  for (int k = 0; k < kAxisCount; ++k) {
    ASSERT_EQ(entry.target[k], sample.target[k]) << "sample " << index << " axis " << k;
  }
  ASSERT_EQ(entry.line_id, sample.line_id) << "sample " << index;
  ASSERT_EQ(entry.sync_output, sample.sync_output) << "sample " << index;
}

const char kLongProgram[] =
    "G1 X100 F6000\n"
    "M10 P1\n"
    "G2 X100 Y0 I-20 J0\n"
    "M11 P1\n"
    "G0 X0 Y10 Z-5\n";

TEST(TrajectorySource, KeepsAtMostMaxAheadPending) {
  const Machine m = TestMachine();
  MotionPlanner planner(m, ParseOk(kLongProgram, m));
  TrajectorySource source(&planner);
  HostBlocks host;
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 100), 100);
  EXPECT_EQ(host.state->ring_write, 100);
  EXPECT_EQ(host.planner->flush, 0);
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 100), 0);
  host.state->ring_read = 60;
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 100), 60);
  EXPECT_EQ(host.state->ring_write, 160);
  EXPECT_EQ(source.SamplesWritten(), 160);
  // Nothing for a bound of 0 or below.
  host.state->ring_read = 160;
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 0), 0);
  EXPECT_EQ(source.Fill(*host.state, *host.planner, -5), 0);
  EXPECT_EQ(host.state->ring_write, 160);
}

TEST(TrajectorySource, NeverMoreThan4095Pending) {
  const Machine m = TestMachine();
  const std::vector<Sample> reference = Reference(kLongProgram, m);
  ASSERT_GT(reference.size(), 5000u);
  MotionPlanner planner(m, ParseOk(kLongProgram, m));
  TrajectorySource source(&planner);
  HostBlocks host;
  host.state->ring_read = 17;
  host.state->ring_write = 17;
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 1 << 30), 4095);
  EXPECT_EQ(host.Pending(), 4095);
  EXPECT_EQ(host.state->ring_write, 16);  // one behind the read index: full
  for (int i = 0; i < 4095; ++i) {
    ExpectEntryIs(host.planner->ring[(17 + i) % kRingSize], reference[i], i);
  }
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 1 << 30), 0);
  EXPECT_FALSE(source.ProgramWritten());
}

// A consumer that reads a changing number of entries per round, starting near the wrap.
// Whatever it reads must be the reference samples in order: an overrun of the read index
// would replace an unread entry with a later sample.
TEST(TrajectorySource, WrapsAroundWithoutOverrunningTheReader) {
  const Machine m = TestMachine();
  const std::vector<Sample> reference = Reference(kLongProgram, m);
  MotionPlanner planner(m, ParseOk(kLongProgram, m));
  TrajectorySource source(&planner);
  HostBlocks host;
  host.state->ring_read = 4000;
  host.state->ring_write = 4000;
  for (HostRingEntry& e : host.planner->ring) e.sync_output = 0x7777;  // stale words
  size_t consumed = 0;
  int wraps = 0;
  for (int round = 0; round < 100000; ++round) {
    const int ahead = (round % 3 == 0) ? 4095 : 900;
    const int before = host.Pending();
    const int written = source.Fill(*host.state, *host.planner, ahead);
    ASSERT_EQ(host.Pending(), before + written);
    ASSERT_LE(host.Pending(), std::max(before, ahead));
    ASSERT_LE(host.Pending(), 4095);
    ASSERT_GE(host.state->ring_write, 0);
    ASSERT_LT(host.state->ring_write, kRingSize);
    if (source.ProgramWritten() && host.Pending() == 0) break;
    const int take = std::min(host.Pending(), 37 + (round * 53) % 150);
    for (int i = 0; i < take; ++i) {
      const int index = host.state->ring_read;
      ASSERT_LT(consumed, reference.size());
      ExpectEntryIs(host.planner->ring[index], reference[consumed], consumed);
      ++consumed;
      host.state->ring_read = (index + 1) % kRingSize;
      if (host.state->ring_read == 0) ++wraps;
    }
  }
  EXPECT_EQ(consumed, reference.size());
  EXPECT_GE(wraps, 1);
  EXPECT_EQ(source.SamplesWritten(), static_cast<int64_t>(reference.size()));
  EXPECT_EQ(host.planner->flush, 1);
  for (int k = 0; k < kAxisCount; ++k) {
    EXPECT_EQ(source.FinalTarget()[k], reference.back().target[k]);
  }
  // The program ends at X0 Y10 Z-5.
  EXPECT_EQ(source.FinalTarget()[0], 0.0);
  EXPECT_EQ(source.FinalTarget()[1], 10.0 * 800.0);
  EXPECT_EQ(source.FinalTarget()[2], -5.0 * 2000.0);
}

TEST(TrajectorySource, OutOfRangeIndicesAreTakenModuloTheRing) {
  const Machine m = TestMachine();
  const std::vector<Sample> reference = Reference(kLongProgram, m);
  MotionPlanner planner(m, ParseOk(kLongProgram, m));
  TrajectorySource source(&planner);
  HostBlocks host;
  host.state->ring_read = -1;                  // 4095
  host.state->ring_write = kRingSize * 2 - 1;  // 4095 as well: empty
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 10), 10);
  EXPECT_EQ(host.state->ring_write, 9);
  ExpectEntryIs(host.planner->ring[4095], reference[0], 0);
  ExpectEntryIs(host.planner->ring[0], reference[1], 1);
}

TEST(TrajectorySource, EventWaitsUntilTheRingIsEmpty) {
  const Machine m = TestMachine();
  const char program[] = "G1 X1 F600\nM3 S1000\nG1 X2\n";
  MotionPlanner planner(m, ParseOk(program, m));
  TrajectorySource source(&planner);
  HostBlocks host;
  const int first = source.Fill(*host.state, *host.planner, 4095);
  EXPECT_GT(first, 0);
  ASSERT_NE(source.NextEvent(), nullptr);
  EXPECT_EQ(source.NextEvent()->kind, BlockKind::kSpindle);
  EXPECT_EQ(source.NextEvent()->spindle_speed, 1000.0);
  EXPECT_EQ(host.planner->flush, 1);  // nothing follows before the event
  EXPECT_FALSE(source.EventDue(*host.state));
  EXPECT_FALSE(source.ProgramWritten());
  // The last entry before the event is the end of the first move.
  EXPECT_EQ(host.planner->ring[first - 1].target[0], 1000.0);

  // Filling again writes nothing past the event.
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 4095), 0);
  host.state->ring_read = first - 1;
  EXPECT_FALSE(source.EventDue(*host.state));
  host.state->ring_read = first;
  EXPECT_TRUE(source.EventDue(*host.state));

  source.CompleteEvent();
  EXPECT_EQ(source.NextEvent(), nullptr);
  const int second = source.Fill(*host.state, *host.planner, 10);
  EXPECT_EQ(second, 10);
  EXPECT_EQ(host.planner->flush, 0);  // more entries follow
  EXPECT_EQ(host.planner->ring[first].line_id, 3);
  EXPECT_GT(host.planner->ring[first].target[0], 1000.0);
  host.state->ring_read = host.state->ring_write;
  while (!source.ProgramWritten()) {
    ASSERT_GT(source.Fill(*host.state, *host.planner, 4095), 0);
    host.state->ring_read = host.state->ring_write;
  }
  EXPECT_EQ(host.planner->flush, 1);
  EXPECT_EQ(source.FinalTarget()[0], 2000.0);
  EXPECT_EQ(source.NextEvent(), nullptr);
}

TEST(TrajectorySource, EventAtTheStartIsDueAtOnce) {
  const Machine m = TestMachine();
  MotionPlanner planner(m, ParseOk("G28.1\nG1 X1 F600\n", m));
  TrajectorySource source(&planner);
  HostBlocks host;
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 4095), 0);
  ASSERT_NE(source.NextEvent(), nullptr);
  EXPECT_EQ(source.NextEvent()->kind, BlockKind::kHome);
  EXPECT_TRUE(source.EventDue(*host.state));
  source.CompleteEvent();
  EXPECT_GT(source.Fill(*host.state, *host.planner, 4095), 0);
  EXPECT_TRUE(source.ProgramWritten());
}

TEST(TrajectorySource, HeldSampleHidesTheEventBehindIt) {
  const Machine m = TestMachine();
  MotionPlanner planner(m, ParseOk("G1 X0.01 F600\nM5\n", m));
  TrajectorySource source(&planner);
  HostBlocks host;
  // One entry of room: the rest of the move is still to come, so no event yet.
  EXPECT_EQ(source.Fill(*host.state, *host.planner, 1), 1);
  EXPECT_EQ(source.NextEvent(), nullptr);
  EXPECT_EQ(host.planner->flush, 0);
  // Drained one entry at a time, the event shows in the Fill that writes the move's end.
  int rounds = 0;
  while (source.NextEvent() == nullptr && rounds++ < 1000) {
    host.state->ring_read = host.state->ring_write;
    EXPECT_EQ(source.Fill(*host.state, *host.planner, 1), 1);
  }
  ASSERT_NE(source.NextEvent(), nullptr);
  EXPECT_EQ(host.planner->ring[(host.state->ring_write + kRingSize - 1) % kRingSize].target[0],
            10.0);
  EXPECT_EQ(host.planner->flush, 1);
  EXPECT_EQ(source.NextEvent()->kind, BlockKind::kSpindle);
  EXPECT_EQ(source.FinalTarget()[0], 10.0);
}

TEST(TrajectorySource, PositionAfterProbeBecomesTheFinalTarget) {
  const Machine m = TestMachine();
  MotionPlanner planner(m, ParseOk("G31 Z-10 F100\n", m));
  TrajectorySource source(&planner);
  HostBlocks host;
  source.Fill(*host.state, *host.planner, 4095);
  ASSERT_NE(source.NextEvent(), nullptr);
  source.SetPosition(Position{0, 0, -4, 0, 0, 0});
  source.CompleteEvent();
  source.Fill(*host.state, *host.planner, 4095);
  EXPECT_TRUE(source.ProgramWritten());
  EXPECT_EQ(source.SamplesWritten(), 0);
  EXPECT_EQ(source.FinalTarget()[2], -4.0 * 2000.0);
}

}  // namespace
}  // namespace kelvro::sim
