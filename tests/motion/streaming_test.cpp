// Streaming from the host's trajectory ring and the plugin's own moves: flow control,
// record contents and the conversion of positions into start phases and distances.
#include "motion/streaming.h"

#include <cfenv>
#include <cmath>
#include <limits>
#include <random>

#include "host/trajectory_ring.h"
#include "tests/motion/tick_fixture.h"

namespace kelvro::test {
namespace {

constexpr uint8_t kReleaseHold = 0x0C;

class StreamTest : public TickTest {
 protected:
  // Connected, first report taken (mirror = host positions + 0.5), nothing streamed.
  void SetUp() override {
    Connect();
    StatusPacket p = Idle();
    p.buffer_fill = 1000;
    TickWithPacket(p);
    ClearWrites();
  }
  std::vector<WireSegment> StreamAt(int fill, Mode mode = Mode::IDLE) {
    StatusPacket p = Idle();
    p.mode = static_cast<uint8_t>(mode);
    p.buffer_fill = static_cast<uint16_t>(fill);
    TickWithPacket(p);
    return TakeSegments();
  }
  void PushEntries(int n) {
    for (int i = 0; i < n; ++i) PushEntry({double(i), 0, 0, 0, 0, 0});
  }
};

// ---- Flow control ----

struct FlowCase {
  int fill;
  int entries;
  size_t expected;
};

class FlowControlTest : public StreamTest, public ::testing::WithParamInterface<FlowCase> {};

TEST_P(FlowControlTest, StreamsAsManyAsFitAndTheRingHolds) {
  const FlowCase c = GetParam();
  PushEntries(c.entries);
  EXPECT_EQ(StreamAt(c.fill).size(), c.expected);
  EXPECT_EQ(RingPending(machine->ring_read, machine->ring_write),
            c.entries - static_cast<int>(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Fills, FlowControlTest,
                         ::testing::Values(FlowCase{850, 200, 75}, FlowCase{851, 200, 0},
                                           FlowCase{800, 20, 20}, FlowCase{0, 200, 75},
                                           FlowCase{940, 200, 0}, FlowCase{1000, 200, 0}));

TEST_F(StreamTest, FillBetweenReportsCountsWhatWasSentSince) {
  PushEntries(400);
  EXPECT_EQ(StreamAt(700).size(), 75u);  // 700 reported
  TickWithoutPacket();                   // 700 + 75 sent since that report
  EXPECT_EQ(TakeSegments().size(), 75u);
  TickWithoutPacket();  // 850
  EXPECT_EQ(TakeSegments().size(), 75u);
  TickWithoutPacket();  // 925: the queue could overflow
  EXPECT_EQ(TakeSegments().size(), 0u);
}

TEST_F(StreamTest, DwellCountsDownOnIdleReportsThenTheRingResumes) {
  PushEntries(10);
  machine->dwell_active = 1;
  tick->streaming().StartDwell(2);
  EXPECT_EQ(StreamAt(0).size(), 0u);
  EXPECT_EQ(tick->streaming().dwell_ticks(), 1);
  EXPECT_EQ(machine->dwell_active, 1);
  // Not idle (the controller still moves): the countdown waits.
  EXPECT_EQ(StreamAt(0, Mode::SEGM).size(), 0u);
  EXPECT_EQ(tick->streaming().dwell_ticks(), 1);
  // The last tick of the dwell clears the flag and the ring streams in the same tick.
  EXPECT_EQ(StreamAt(0).size(), 10u);
  EXPECT_EQ(tick->streaming().dwell_ticks(), 0);
  EXPECT_EQ(machine->dwell_active, 0);
}

TEST_F(StreamTest, TorchStartHoldStopsStreaming) {
  PushEntries(10);
  tick->thc().HoldForTorchStart();
  machine->dwell_active = 0;  // the hold alone must stop streaming
  EXPECT_EQ(StreamAt(0).size(), 0u);
}

TEST_F(StreamTest, HostEstopStopsStreaming) {
  PushEntries(10);
  machine->estop = 1;
  EXPECT_EQ(StreamAt(0).size(), 0u);
}

TEST_F(StreamTest, EmptyRingInHoldWithFlushReleasesTheHeldSegments) {
  planner->flush = 1;
  EXPECT_EQ(StreamAt(30, Mode::HOLD).size(), 0u);
  const auto commands = TakeCommands();
  ASSERT_EQ(Count(commands, CommandCode::ReleaseHold), 1);
  for (const auto& c : commands) {
    if (c.code == kReleaseHold) {
      EXPECT_EQ(c.payload, (std::vector<uint8_t>{0, 0, 0, 0}));
    }
  }
}

TEST_F(StreamTest, EmptyRingWithoutFlushKeepsTheSegmentsHeld) {
  planner->flush = 0;
  StreamAt(30, Mode::HOLD);
  EXPECT_EQ(Count(TakeCommands(), CommandCode::ReleaseHold), 0);
  planner->flush = 1;
  StreamAt(0, Mode::IDLE);  // nothing held
  EXPECT_EQ(Count(TakeCommands(), CommandCode::ReleaseHold), 0);
}

TEST_F(StreamTest, HostRingBatchIsOneWrite) {
  PushEntries(75);
  StreamAt(0);
  EXPECT_EQ(TakeSegmentWriteSizes(), std::vector<size_t>{75});
}

// ---- Record contents ----

TEST_F(StreamTest, RecordCarriesPhaseAndDistanceFromTheMirror) {
  // Mirror 0.5 on every axis; targets in steps.
  PushEntry({1.0, -2.0, 0.25, 0.0, 1000.75, -0.5}, 7);
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  // Start phase 0.5 step = 125,000,000; distances in millionths of a step.
  for (int k = 0; k < 6; ++k) EXPECT_EQ(s[0].phase[k], 125000000u) << k;
  EXPECT_EQ(s[0].distance[0], 1000000);
  EXPECT_EQ(s[0].distance[1], -2000000);
  EXPECT_EQ(s[0].distance[2], 250000);
  EXPECT_EQ(s[0].distance[3], 0);
  EXPECT_EQ(s[0].distance[4], 1000750000);
  EXPECT_EQ(s[0].distance[5], -500000);
  EXPECT_EQ(s[0].flags, 0);
  EXPECT_EQ(s[0].laser, 0);
  // The next record starts where this one ended.
  PushEntry({1.5, -2.0, 0.25, 0.0, 1000.75, -0.5}, 7);
  const auto t = StreamAt(0);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].phase[0], 125000000u);  // 1.5 steps: fraction of 2.0 is 0
  EXPECT_EQ(t[0].phase[0], 0u + 125000000u);
  EXPECT_EQ(t[0].distance[0], 500000);
  EXPECT_EQ(t[0].phase[2], 187500000u);  // 0.75 of a step
  EXPECT_EQ(t[0].distance[2], 0);
}

TEST_F(StreamTest, EntryWithIdZeroIsUntaggedOthersCarryTheirIndex) {
  const int a = PushEntry({0, 0, 0, 0, 0, 0}, 0);
  const int b = PushEntry({0, 0, 0, 0, 0, 0}, 12);
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].tag, 0xFFFF);
  EXPECT_EQ(s[1].tag, b);
  EXPECT_NE(a, b);
}

TEST_F(StreamTest, TargetBeyondTheMaximumSoftLimitIsSentOneStepBeyond) {
  ConfigureAxis(0, 1000, -500, 1000, 0, true);
  machine->soft_limits_on = 1;
  PushEntry({1000.25, 0, 0, 0, 0, 0});
  PushEntry({-700.0, 0, 0, 0, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 2u);
  // From 0.5 to 1001.5: 1,001,000,000 millionths.
  EXPECT_EQ(s[0].distance[0], 1001000000);
  // From 1001.5 to -500 - 1 + 0.5.
  EXPECT_EQ(s[1].distance[0], -1502000000);
}

TEST_F(StreamTest, SoftLimitsOffOrAxisNotLimitedPassesTheTarget) {
  ConfigureAxis(0, 1000, -500, 1000, 0, true);
  ConfigureAxis(1, 1000, -500, 1000, 0, false);
  machine->soft_limits_on = 0;
  PushEntry({1000.25, 1000.25, 0, 0, 0, 0});
  auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].distance[0], 1000250000);
  machine->soft_limits_on = 1;
  PushEntry({1000.25, 2000.25, 0, 0, 0, 0});
  s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].distance[0], 750000);      // clamped to 1001
  EXPECT_EQ(s[0].distance[1], 1000000000);  // axis without the flag follows the target
}

TEST_F(StreamTest, ZIsNotLimitedInThcMode) {
  ConfigureAxis(2, 1000, -500, 1000, 0, true);
  machine->soft_limits_on = 1;
  machine->thc_mode = 1;
  PushEntry({0, 0, 1500.0, 0, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].distance[2], 1500000000);
}

TEST_F(StreamTest, SlaveAxisCarriesExactlyItsMastersPair) {
  ConfigureAxis(3, 1000, -1000000, 1000000, /*master Y*/ 2);
  PushEntry({0, 3.3, 0, 77.0, 0, 0});
  PushEntry({0, 5.9, 0, -4.0, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 2u);
  for (const auto& r : s) {
    EXPECT_EQ(r.phase[3], r.phase[1]);
    EXPECT_EQ(r.distance[3], r.distance[1]);
    EXPECT_NE(r.distance[0], r.distance[1]);
  }
  // The double nearest 3.3 lies just below it: 3,299,999.99.. millionths, rounded down.
  EXPECT_EQ(s[0].distance[1], 3299999);
}

TEST_F(StreamTest, SynchronousOutputsFlagTheirEntryAndAreConsumed) {
  planner->sync_outputs = 1;
  const int on = PushEntry({0, 0, 0, 0, 0, 0}, 1, 47 | (9 << 8));   // output 2 on
  const int off = PushEntry({0, 0, 0, 0, 0, 0}, 1, 48 | (7 << 8));  // output 0 off
  const int other = PushEntry({0, 0, 0, 0, 0, 0}, 1, 12 | (9 << 8));
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].flags, 0x12);
  EXPECT_EQ(s[1].flags, 0x20);
  EXPECT_EQ(s[2].flags, 0x00);
  EXPECT_EQ(planner->ring[on].sync_output, 0);
  EXPECT_EQ(planner->ring[off].sync_output, 0);
  EXPECT_EQ(planner->ring[other].sync_output, 0);
}

TEST_F(StreamTest, SynchronousOutputsOptionOffSendsNoFlagButClearsTheWord) {
  planner->sync_outputs = 0;
  const int i = PushEntry({0, 0, 0, 0, 0, 0}, 1, 47 | (9 << 8));
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].flags, 0);
  EXPECT_EQ(planner->ring[i].sync_output, 0);
}

TEST_F(StreamTest, GrayValueAbove255IsSentAs255) {
  settings.laser_gl = 1;
  PushEntry({0, 0, 0, 300.0, 0, 0});
  PushEntry({0, 0, 0, -5.0, 0, 0});
  PushEntry({0, 0, 0, 77.9, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].laser, 255);
  EXPECT_EQ(s[0].flags, 0x80);
  EXPECT_EQ(s[1].laser, 0);
  EXPECT_EQ(s[2].laser, 77);
}

TEST_F(StreamTest, GrayValueIsTakenRelativeToTheAWorkOffset) {
  settings.laser_gl = 1;
  params->values[kParamWorkOffsetX + 3] = 0.1;  // units; A has 1000 steps per unit
  PushEntry({0, 0, 0, 150.0, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].laser, 50);
}

TEST_F(StreamTest, SpeedPowerScaledByGrayLevel) {
  // A flat curve at 78.5 % duty: speed power trunc(78.5 x 2.55) = 200 at any feed.
  settings.laser_comp = 1;
  settings.laser_gl = 1;
  LaserCurve flat;
  flat.count = 2;
  flat.x = {0.0, 100.0};
  flat.y = {78.5, 78.5};
  curve = BuildLaserCurve(flat);
  PushEntry({10, 0, 0, 128.0, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].laser, 100);  // 200 x 128 / 256
  EXPECT_EQ(s[0].flags, 0x80);
}

TEST_F(StreamTest, LaserPowerFollowsTheSpeed) {
  // Straight curve: duty percent = feed percent. X: 1000 steps per unit; reference feed
  // 6000 units/min = 100 units/s. 40 steps per ms = 40 units/s = 40 % -> 40 x 2.55 = 102.
  settings.laser_comp = 1;
  settings.l_max_feed = 6000.0;
  PushEntry({40.0, 0, 0, 0, 0, 0});
  // 3-4-0 steps per ms: 5 units/s = 5 % -> 12.75 -> 12.
  PushEntry({43.0, 4.0, 0, 0, 0, 0});
  // Standing still: 0 %.
  PushEntry({43.0, 4.0, 0, 0, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].laser, 102);
  EXPECT_EQ(s[1].laser, 12);
  EXPECT_EQ(s[2].laser, 0);
  for (const auto& r : s) EXPECT_EQ(r.flags, 0x80);
}

TEST_F(StreamTest, LaserPowerWithoutUsableFeedOrStepsIsTheCurveAtZeroFeed) {
  settings.laser_comp = 1;
  LaserCurve c;
  c.count = 2;
  c.x = {0.0, 100.0};
  c.y = {20.0, 100.0};  // 20 % duty at standstill -> 51
  curve = BuildLaserCurve(c);
  settings.l_max_feed = 0.0;
  PushEntry({40.0, 0, 0, 0, 0, 0});
  auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].laser, 51);
  settings.l_max_feed = std::numeric_limits<double>::quiet_NaN();
  PushEntry({80.0, 0, 0, 0, 0, 0});
  s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].laser, 51);
  settings.l_max_feed = 6000.0;
  ConfigureAxis(0, 0, -1000000, 1000000);  // X without steps per unit
  PushEntry({120.0, 0, 0, 0, 0, 0});
  s = StreamAt(0);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].laser, 51);
}

TEST_F(StreamTest, ThreadingEndMarksTheNextStreamedEntry) {
  machine->threading_start_request = 1;
  planner->feed_rate = 2.0;
  settings.index_cnt = 2;
  settings.spin_ratio[0] = 1.5;
  StreamAt(1000);
  const auto commands = TakeCommands();
  ASSERT_EQ(Count(commands, CommandCode::ThreadStart), 1);
  for (const auto& c : commands) {
    if (c.code != static_cast<uint8_t>(CommandCode::ThreadStart)) continue;
    // trunc(2.0 x 245760 / 2 x 1.5) = 368640 = 0x05A000, then mode 3.
    EXPECT_EQ(c.payload, (std::vector<uint8_t>{0x00, 0xA0, 0x05, 0x00, 0x03}));
  }
  EXPECT_EQ(machine->threading_start_request, 0);
  EXPECT_EQ(machine->threading_active, 1);
  PushEntry({0, 0, 0, 0, 0, 0});
  EXPECT_EQ(StreamAt(0)[0].flags, 0);
  // The host ends threading; the next entry written carries the marker, once.
  machine->threading_active = 0;
  StreamAt(1000);
  PushEntry({0, 0, 0, 0, 0, 0});
  PushEntry({0, 0, 0, 0, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].flags, 0x30);
  EXPECT_EQ(s[1].flags, 0);
}

// ---- Host values that are not numbers or out of range ----

TEST_F(StreamTest, NanTargetKeepsTheAxisWhereItIs) {
  PushEntry({2.0, 0, 0, 0, 0, 0});
  PushEntry({std::numeric_limits<double>::quiet_NaN(), 1.0, 0, 0, 0, 0});
  PushEntry({3.0, 1.0, 0, 0, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[1].distance[0], 0);
  EXPECT_EQ(s[1].phase[0], s[0].phase[0]);
  EXPECT_EQ(s[1].distance[1], 1000000);
  EXPECT_EQ(s[2].distance[0], 1000000);
}

TEST_F(StreamTest, TargetsBeyondTheStepRangeAreLimitedAndTheStreamStaysConsistent) {
  PushEntry({1e12, -std::numeric_limits<double>::infinity(), 0, 0, 0, 0});
  PushEntry({1e12, -std::numeric_limits<double>::infinity(), 0, 0, 0, 0});
  const auto s = StreamAt(0);
  ASSERT_EQ(s.size(), 2u);
  // At most the wire field's range per record; each record starts where the last ended.
  EXPECT_EQ(s[0].distance[0], std::numeric_limits<int32_t>::max());
  EXPECT_EQ(s[0].distance[1], std::numeric_limits<int32_t>::min());
  for (int k = 0; k < 2; ++k) {
    const int64_t end_micro = 500000 + int64_t(s[0].distance[k]);
    const int64_t fraction = ((end_micro % 1000000) + 1000000) % 1000000;
    EXPECT_EQ(s[1].phase[k], uint32_t(fraction * 250)) << k;
  }
}

TEST_F(StreamTest, ZeroLengthProbeMoveStreamsNothing) {
  Axes here{};
  EXPECT_FALSE(PlanStraightMove(tick->probing().move(), *planner, here, here, 10.0));
  EXPECT_FALSE(PlanStraightMove(zcorr->move(), *planner, here, Axes{1, 0, 0, 0, 0, 0},
                                0.0));  // no feed
  EXPECT_FALSE(PlanStraightMove(zcorr->move(), *planner, here, Axes{1, 0, 0, 0, 0, 0},
                                std::numeric_limits<double>::quiet_NaN()));
  PushEntry({1, 0, 0, 0, 0, 0});
  EXPECT_EQ(StreamAt(0).size(), 1u);  // the host ring streams as usual
}

// ---- Internal straight moves ----

TEST_F(StreamTest, ProbeMoveStreamsUntaggedSamplesThenReleasesItsTail) {
  for (int k = 0; k < 4; ++k) {
    planner->axes[k].max_velocity = 100.0;
    planner->axes[k].acceleration = 1000.0;
  }
  StraightMove& move = tick->probing().move();
  // 0.05 units of X at 10 units/s: accelerates for 10 ms, cruises 0 ... a short move.
  ASSERT_TRUE(PlanStraightMove(move, *planner, Axes{}, Axes{0.05, 0, 0, 0, 0, 0}, 10.0));
  PushEntry({9, 9, 9, 0, 0, 0});  // waits behind the probe move
  auto s = StreamAt(0);
  ASSERT_FALSE(s.empty());
  int64_t travelled = 0;
  for (const auto& r : s) {
    EXPECT_EQ(r.tag, 0xFFFF);
    EXPECT_EQ(r.flags, 0);
    travelled += r.distance[0];
  }
  EXPECT_FALSE(move.active);
  // The move ends at 50 steps: first sample is the start (0 steps), so 50 steps travelled
  // at most, and all of it lands on whole millionths.
  EXPECT_LE(travelled, 50000000);
  EXPECT_GT(travelled, 49000000);
  EXPECT_EQ(RingPending(machine->ring_read, machine->ring_write), 1);
  // Over: held segments are released once, the ring waits.
  s = StreamAt(30, Mode::HOLD);
  EXPECT_TRUE(s.empty());
  EXPECT_EQ(Count(TakeCommands(), CommandCode::ReleaseHold), 1);
  // Once the probe has ended (hit or miss) its release is suppressed and the ring goes on.
  move.release_suppressed = true;
  s = StreamAt(0);
  EXPECT_EQ(s.size(), 1u);
}

TEST_F(StreamTest, ResetStreamsEndsTheZCorrectionMoveWithoutAReleaseAndRestartsCorrection) {
  for (int k = 0; k < 4; ++k) {
    planner->axes[k].max_velocity = 100.0;
    planner->axes[k].acceleration = 1000.0;
  }
  StraightMove& move = zcorr->move();
  ASSERT_TRUE(PlanStraightMove(move, *planner, Axes{}, Axes{0, 0, 2, 0, 0, 0}, 10.0));
  zcorr->state().start_move_wait = true;
  zcorr->state().activation_step = 2;
  zcorr->state().xy_jogged = true;
  zcorr->follower().vel = 4.0;
  EXPECT_FALSE(StreamAt(0).empty());
  ASSERT_TRUE(move.active);

  tick->streaming().ResetStreams();
  EXPECT_FALSE(move.active);
  EXPECT_TRUE(move.release_suppressed);
  EXPECT_FALSE(zcorr->state().start_move_wait);
  EXPECT_EQ(zcorr->state().activation_step, 0);
  EXPECT_FALSE(zcorr->state().xy_jogged);
  EXPECT_EQ(zcorr->follower().vel, 0.0);
  // The held tail of the stopped move is not released, and the ring streams again.
  TakeCommands();
  EXPECT_TRUE(StreamAt(30, Mode::HOLD).empty());
  EXPECT_EQ(Count(TakeCommands(), CommandCode::ReleaseHold), 0);
  PushEntry({1, 0, 0, 0, 0, 0});
  EXPECT_EQ(StreamAt(0).size(), 1u);
}

// ---- The conversion itself ----

TEST(ConvertAxis, StartPhaseAlwaysInRangeAndZeroDistanceKeepsIt) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> pos(-3e6, 3e6);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int i = 0; i < 20000; ++i) {
    double mirror = i % 4 == 0 ? std::floor(pos(rng)) + unit(rng) : pos(rng);
    const double start = mirror;
    const AxisSegment a = ConvertAxis(mirror, start - 0.5);
    EXPECT_LE(a.phase, 249999750u);
    EXPECT_EQ(a.phase % 250, 0u);
    EXPECT_EQ(a.distance, 0) << std::hexfloat << start;
    const AxisSegment b = ConvertAxis(mirror, mirror - 0.5);
    EXPECT_EQ(b.phase, a.phase);
    EXPECT_EQ(b.distance, 0);
  }
}

TEST(ConvertAxis, RestoresTheRoundingMode) {
  std::fesetround(FE_TONEAREST);
  double mirror = 0.5;
  ConvertAxis(mirror, 10.3);
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);
  std::fesetround(FE_UPWARD);
  ConvertAxis(mirror, 11.3);
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  std::fesetround(FE_TONEAREST);
}

TEST(ConvertAxis, DistancesAddUpToThePlannedEndWithoutLossOrDoubling) {
  // A wandering path of 1 ms targets, in the middle of steps and on whole steps. Every
  // record must start exactly where the previous one ended, and the distances must add up
  // to the last target (+ 0.5, the middle of the step) in millionths.
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> step(-37.0, 37.0);
  for (double start : {0.5, 12345.5, -987654.5, 2000000000.5}) {
    double mirror = start;
    const int64_t start_micro = static_cast<int64_t>(start * 1e6);
    int64_t position = start_micro;  // millionths of a step
    double target = start - 0.5;
    for (int i = 0; i < 20000; ++i) {
      target += step(rng);
      if (i % 97 == 0) target = std::round(target);
      const AxisSegment a = ConvertAxis(mirror, target);
      const int64_t fraction = ((position % 1000000) + 1000000) % 1000000;
      ASSERT_EQ(int64_t(a.phase / 250), fraction) << "record " << i << " from " << start;
      position += a.distance;
    }
    target = std::round(target);
    const AxisSegment last = ConvertAxis(mirror, target);
    position += last.distance;
    EXPECT_EQ(position, static_cast<int64_t>(target) * 1000000 + 500000);
  }
}

}  // namespace
}  // namespace kelvro::test
