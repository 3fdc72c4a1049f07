// The simulated controller's behaviour, driven through its wire protocol.
#include <gtest/gtest.h>

#include <string>

#include "tests/sim/sim_test_util.h"

namespace kelvro::sim::test {
namespace {

// Status offsets and codes, written out here from the report layout.
constexpr size_t kMode = 1;
constexpr size_t kSeq = 2;
constexpr size_t kFlags = 3;
constexpr size_t kPos = 8;
constexpr size_t kFill = 40;
constexpr size_t kStamp = 42;
constexpr size_t kReason = 54;
constexpr size_t kHomed = 55;
constexpr size_t kTag = 56;

constexpr uint8_t kIdle = 0, kJog = 1, kSegm = 2, kHold = 3, kEstop = 4, kSafe = 5, kRdown = 6;
constexpr uint8_t kNone = 0, kHome0 = 1, kHome3 = 4, kHome4 = 5, kProbe1 = 6, kProbe2 = 7,
                  kMpgSeq = 8;

int32_t Pos(const std::vector<uint8_t>& s, int axis) {
  return Le32(&s[kPos + 4 * axis]);
}

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
  std::vector<uint8_t> out;
  for (int b : v) out.push_back(static_cast<uint8_t>(b));
  return out;
}

std::vector<uint8_t> JogStart(uint8_t axis, int8_t dir, int32_t speed) {
  std::vector<uint8_t> p{axis, static_cast<uint8_t>(dir)};
  PutLe32(p, static_cast<uint32_t>(speed));
  return p;
}

// ---------------------------------------------------------------- queue and modes

TEST(SimQueue, NSegmentsTakeNMilliseconds) {
  Rig rig;
  ASSERT_TRUE(rig.Write(0x02, StepRecords(120, 0, 0, 0)));
  auto s = rig.Read();
  ASSERT_EQ(s.size(), 60u);
  EXPECT_EQ(s[0], 0x3C);
  EXPECT_EQ(s[kMode], kSegm);
  EXPECT_EQ(Le16(&s[kFill]), 120);
  EXPECT_EQ(Le16(&s[kTag]), 0xFFFF);  // nothing executed yet

  struct Point {
    uint64_t t;
    uint8_t mode;
    uint16_t fill;
    uint16_t tag;
  };
  const Point points[] = {{1, kSegm, 119, 0},
                          {60, kSegm, 60, 59},
                          {119, kSegm, 1, 118},
                          {120, kIdle, 0, 0xFFFF},
                          {200, kIdle, 0, 0xFFFF}};
  for (const Point& p : points) {
    rig.Advance(p.t - rig.platform.Now());
    s = rig.Read();
    ASSERT_EQ(s.size(), 60u);
    EXPECT_EQ(s[kMode], p.mode) << "t=" << p.t;
    EXPECT_EQ(Le16(&s[kFill]), p.fill) << "t=" << p.t;
    EXPECT_EQ(Le16(&s[kTag]), p.tag) << "t=" << p.t;
  }
  EXPECT_EQ(rig.controller.segments_executed(), 120u);
}

TEST(SimQueue, FewSegmentsHoldUntilThresholdOrRelease) {
  Rig rig;
  ASSERT_TRUE(rig.Write(0x02, StepRecords(30, 0, 1000000)));
  rig.Advance(500);
  auto s = rig.Read();
  EXPECT_EQ(s[kMode], kHold);
  EXPECT_EQ(Le16(&s[kFill]), 30);
  EXPECT_EQ(Pos(s, 0), 0);

  // Twenty more make fifty: execution starts without a release.
  ASSERT_TRUE(rig.Write(0x02, StepRecords(20, 0, 1000000, 30)));
  EXPECT_EQ(rig.Read()[kMode], kSegm);
  rig.Advance(50);
  s = rig.Read();
  EXPECT_EQ(s[kMode], kIdle);
  EXPECT_EQ(Pos(s, 0), 50);
}

TEST(SimQueue, ReleaseHoldStartsHeldSegments) {
  Rig rig;
  ASSERT_TRUE(rig.Write(0x02, StepRecords(10, 1, -1000000)));
  EXPECT_EQ(rig.controller.mode(), SimMode::kHold);
  ASSERT_TRUE(rig.Command(0x0C, Bytes({0, 0, 0, 0})));
  EXPECT_EQ(rig.Read()[kMode], kSegm);
  rig.Advance(9);
  EXPECT_EQ(rig.Read()[kMode], kSegm);
  rig.Advance(1);
  auto s = rig.Read();
  EXPECT_EQ(s[kMode], kIdle);
  EXPECT_EQ(Pos(s, 1), -10);
}

TEST(SimQueue, ReleaseHoldWhileIdleIsOnlyNoted) {
  Rig rig;
  ASSERT_TRUE(rig.Command(0x0C, Bytes({0, 0, 0, 0})));
  EXPECT_EQ(rig.controller.mode(), SimMode::kIdle);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kNote, "ReleaseHold"), 1u);
}

TEST(SimQueue, OverflowIsAFaultAndDropsTheSegment) {
  Rig rig;
  rig.controller.options().start_threshold = 2000;  // keep everything held
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(rig.Write(0x02, StepRecords(100, 0, 0)));
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kFault, "QueueOverflow"), 0u);
  ASSERT_TRUE(rig.Write(0x02, StepRecords(3, 0, 0)));
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kFault, "QueueOverflow"), 3u);
  EXPECT_EQ(Le16(&rig.Read()[kFill]), 1000);
  EXPECT_EQ(rig.controller.segments_dropped(), 3u);
}

TEST(SimQueue, SegmentWriteOfPartialRecordIsRejected) {
  Rig rig;
  auto bytes = StepRecords(2, 0, 1000000);
  bytes.pop_back();
  ASSERT_TRUE(rig.Write(0x02, bytes));  // the USB transfer itself succeeds
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kRejected), 1u);
  EXPECT_EQ(rig.controller.segments_received(), 0u);
  EXPECT_EQ(rig.controller.buffer_fill(), 0u);
}

TEST(SimQueue, StatusTimestampCountsTwentyNanosecondTicks) {
  Rig rig;
  rig.Advance(7);
  EXPECT_EQ(static_cast<uint32_t>(Le32(&rig.Read()[kStamp])), 350000u);
  rig.Advance(100000);  // 5,000,350,000 ticks wraps the 32-bit counter
  EXPECT_EQ(static_cast<uint32_t>(Le32(&rig.Read()[kStamp])),
            static_cast<uint32_t>(100007ull * 50000ull));
}

// ---------------------------------------------------------------- framing

struct BadFrame {
  const char* what;
  std::vector<uint8_t> bytes;
};

TEST(SimFraming, BadFramesAreRejectedAndChangeNothing) {
  const std::vector<BadFrame> frames = {
      {"inverted code wrong", Bytes({0x02, 0xFC, 6, 0, 0, 1, 0, 0x10, 0, 0})},
      {"length field too large", Bytes({0x02, 0xFD, 7, 0, 0, 1, 0, 0x10, 0, 0})},
      {"length field too small", Bytes({0x02, 0xFD, 5, 0, 0, 1, 0, 0x10, 0, 0})},
      {"payload does not fit JogStart", Bytes({0x02, 0xFD, 5, 0, 0, 1, 0, 0x10, 0})},
      {"unknown code", Bytes({0x01, 0xFE, 0, 0})},
      {"Stop with two bytes", Bytes({0x0E, 0xF1, 2, 0, 1, 1})},
      {"FlashWrite length word disagrees",
       Bytes({0xF2, 0x0D, 12, 0, 8, 0, 0, 0, 4, 0, 0, 0, 1, 2, 3, 4})},
      {"shorter than a header", Bytes({0x0E, 0xF1, 0})},
  };
  for (const BadFrame& f : frames) {
    Rig rig;
    ASSERT_TRUE(rig.Write(0x01, f.bytes)) << f.what;
    EXPECT_EQ(rig.controller.trace().Count(TraceKind::kRejected), 1u) << f.what;
    EXPECT_EQ(rig.controller.trace().Count(TraceKind::kCommand), 0u) << f.what;
    rig.Advance(50);
    EXPECT_EQ(rig.controller.mode(), SimMode::kIdle) << f.what;
    EXPECT_EQ(rig.controller.position(0), 0) << f.what;
  }
}

TEST(SimFraming, TraceLinesForACommand) {
  Rig rig;
  rig.Advance(12);
  ASSERT_TRUE(rig.Command(0x02, JogStart(1, -1, 1024000)));
  const auto cmds = rig.controller.trace().Find(TraceKind::kCommand);
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_EQ(
      FormatTraceJson(*cmds[0]),
      "{\"t_ms\":12,\"pipe\":1,\"code\":2,\"name\":\"JogStart\",\"payload\":\"01ff00a00f00\"}");
  EXPECT_EQ(FormatTraceText(*cmds[0]), "12 ms  pipe 0x01  JogStart (0x02)  01ff00a00f00");

  ASSERT_TRUE(rig.Write(0x01, Bytes({0x03, 0x00, 1, 0, 1})));
  const auto rejected = rig.controller.trace().Find(TraceKind::kRejected);
  ASSERT_EQ(rejected.size(), 1u);
  EXPECT_EQ(FormatTraceJson(*rejected[0]),
            "{\"t_ms\":12,\"pipe\":1,\"code\":3,\"name\":\"JogStop\",\"payload\":\"0300010001\","
            "\"kind\":\"rejected\",\"detail\":\"inverted code 0x00 does not match code 0x03\"}");
}

TEST(SimFraming, SegmentTraceCanBeLeftOutAndIsBounded) {
  Rig rig;
  rig.controller.trace().options().keep_segments = false;
  size_t seen = 0;
  rig.controller.trace().sink = [&seen](const TraceEntry& e) {
    if (e.kind == TraceKind::kSegment) ++seen;
  };
  ASSERT_TRUE(rig.Write(0x02, StepRecords(60, 0, 0)));
  EXPECT_EQ(seen, 60u);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kSegment), 0u);

  rig.controller.trace().sink = nullptr;
  rig.controller.trace().options().keep_segments = true;
  rig.controller.trace().options().max_entries = 10;
  ASSERT_TRUE(rig.Write(0x02, StepRecords(25, 0, 0)));
  EXPECT_EQ(rig.controller.trace().entries().size(), 10u);
  EXPECT_EQ(rig.controller.trace().dropped(), 15u);
}

// ---------------------------------------------------------------- jogging

TEST(SimJog, JogMovesAtTheCommandedSpeed) {
  Rig rig;
  // 2 units/s x 1000 steps/unit x 4096 = 2 steps per ms.
  ASSERT_TRUE(rig.Command(0x02, JogStart(0, 1, 8192000)));
  EXPECT_EQ(rig.Read()[kMode], kJog);
  rig.Advance(100);
  auto s = rig.Read();
  EXPECT_EQ(s[kMode], kJog);
  EXPECT_EQ(Pos(s, 0), 200);
  ASSERT_TRUE(rig.Command(0x03, Bytes({0})));
  s = rig.Read();
  EXPECT_EQ(s[kMode], kIdle);
  EXPECT_EQ(Pos(s, 0), 200);
  EXPECT_EQ(s[kFlags] & 0x01, 0x01);  // positions changed under the sender: resync once
  EXPECT_EQ(rig.Read()[kFlags] & 0x01, 0x00);
  EXPECT_EQ(rig.controller.fraction_micro(0), 500000u);
}

TEST(SimJog, FractionalSpeedNegativeDirection) {
  Rig rig;
  // 1.5 steps per ms backwards: 0.5 - 15 = -14.5 -> whole step -15 after 10 ms.
  ASSERT_TRUE(rig.Command(0x02, JogStart(2, -1, 6144000)));
  rig.Advance(10);
  EXPECT_EQ(Pos(rig.Read(), 2), -15);
}

TEST(SimJog, SoftLimitStopsTheJog) {
  Rig rig;
  std::array<AxisSetup, 6> axes{};
  axes[0] = {0, -10, 50, 0x04};
  ASSERT_TRUE(rig.Command(0x09, MotionConfig(axes)));
  ASSERT_TRUE(rig.Command(0x06, Bytes({0, 0, 0, 0, 0, 0, 0x01, 0})));  // soft limits on
  ASSERT_TRUE(rig.Command(0x02, JogStart(0, 1, 8192000)));
  rig.Advance(100);
  auto s = rig.Read();
  EXPECT_EQ(Pos(s, 0), 50);
  EXPECT_EQ(s[kMode], kJog);
}

TEST(SimJog, JogRefusedWhileSegmentsAreQueued) {
  Rig rig;
  ASSERT_TRUE(rig.Write(0x02, StepRecords(10, 0, 0)));
  ASSERT_TRUE(rig.Command(0x02, JogStart(0, 1, 8192000)));
  EXPECT_FALSE(rig.controller.jogging(0));
  EXPECT_EQ(rig.controller.mode(), SimMode::kHold);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kNote, "JogStart"), 1u);
}

// ---------------------------------------------------------------- stop, e-stop, safe

TEST(SimStop, EstopWithReasonFlushesAndDropsSegments) {
  SimControllerOptions options;
  options.estop_reason = 4;
  Rig rig(options);
  ASSERT_TRUE(rig.Write(0x02, StepRecords(100, 0, 1000000)));
  rig.Advance(10);
  ASSERT_TRUE(rig.Command(0x0E, Bytes({1})));
  auto s = rig.Read();
  EXPECT_EQ(s[kMode], kEstop);
  EXPECT_EQ(s[kReason], 4);
  EXPECT_EQ(Le16(&s[kFill]), 0);
  EXPECT_EQ(Pos(s, 0), 10);
  ASSERT_TRUE(rig.Write(0x02, StepRecords(60, 0, 1000000)));
  ASSERT_TRUE(rig.Command(0x02, JogStart(0, 1, 8192000)));
  rig.Advance(100);
  s = rig.Read();
  EXPECT_EQ(s[kMode], kEstop);
  EXPECT_EQ(Pos(s, 0), 10);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kNote, "SegmentsDropped"), 1u);

  // Configuring the controller is its reset.
  ASSERT_TRUE(rig.Command(0x09, MotionConfig({})));
  EXPECT_EQ(rig.Read()[kMode], kIdle);
}

TEST(SimStop, TriggeredEstopReportsItsReason) {
  Rig rig;
  rig.controller.TriggerEstop(3);
  auto s = rig.Read();
  EXPECT_EQ(s[kMode], kEstop);
  EXPECT_EQ(s[kReason], 3);
}

TEST(SimStop, StopThreeIsSafe) {
  Rig rig;
  ASSERT_TRUE(rig.Command(0x02, JogStart(0, 1, 8192000)));
  ASSERT_TRUE(rig.Command(0x0E, Bytes({3})));
  rig.Advance(10);
  auto s = rig.Read();
  EXPECT_EQ(s[kMode], kSafe);
  EXPECT_FALSE(rig.controller.jogging(0));
}

TEST(SimStop, PlainStopRunsDownSegmentsAndStopsJogsAtOnce) {
  Rig rig;
  ASSERT_TRUE(rig.Write(0x02, StepRecords(100, 0, 1000000)));
  rig.Advance(5);
  ASSERT_TRUE(rig.Command(0x0E));
  auto s = rig.Read();
  EXPECT_EQ(s[kMode], kRdown);
  EXPECT_EQ(Le16(&s[kFill]), 0);
  rig.Advance(9);
  EXPECT_EQ(rig.Read()[kMode], kRdown);
  rig.Advance(1);
  s = rig.Read();
  EXPECT_EQ(s[kMode], kIdle);
  EXPECT_EQ(Pos(s, 0), 5);

  ASSERT_TRUE(rig.Command(0x02, JogStart(1, 1, 8192000)));
  rig.Advance(3);
  ASSERT_TRUE(rig.Command(0x0E));
  s = rig.Read();
  EXPECT_EQ(s[kMode], kIdle);
  EXPECT_EQ(Pos(s, 1), 6);
}

// ---------------------------------------------------------------- homing

TEST(SimHoming, WalksThePhasesAndReportsTheAxisUntilDelivered) {
  Rig rig;
  std::array<AxisSetup, 6> axes{};
  axes[1].home = 1234;
  ASSERT_TRUE(rig.Command(0x09, MotionConfig(axes)));
  ASSERT_TRUE(rig.Command(0x05, Bytes({1, 0})));
  const uint8_t phases[] = {kHome0, kHome0 + 1, kHome0 + 2, kHome3};
  for (int i = 0; i < 4; ++i) {
    rig.controller.AdvanceTo(100 * i + 50);
    EXPECT_EQ(static_cast<uint8_t>(rig.controller.sequence()), phases[i]) << i;
  }
  // Without a status read HOME4 stays.
  rig.Advance(2000);
  EXPECT_EQ(rig.controller.sequence(), SimSequence::kHome4);
  auto s = rig.Read();
  EXPECT_EQ(s[kSeq], kHome4);
  EXPECT_EQ(s[kHomed], 1);
  EXPECT_EQ(Pos(s, 1), 1234);
  EXPECT_EQ(s[kMode], kIdle);
  rig.Advance(1);
  s = rig.Read();
  EXPECT_EQ(s[kSeq], kNone);
  EXPECT_EQ(Pos(s, 1), 1234);
}

TEST(SimHoming, HomeFourAppearsAtTheEndOfTheFourthPhase) {
  Rig rig;
  ASSERT_TRUE(rig.Command(0x05, Bytes({0, 0})));
  rig.Advance(399);
  EXPECT_EQ(rig.Read()[kSeq], kHome3);
  rig.Advance(1);
  EXPECT_EQ(rig.Read()[kSeq], kHome4);
}

TEST(SimHoming, QueuedAxesReportOneAfterAnother) {
  Rig rig;
  std::array<AxisSetup, 6> axes{};
  axes[0].home = -5;
  axes[2].home = 77;
  ASSERT_TRUE(rig.Command(0x09, MotionConfig(axes)));
  ASSERT_TRUE(rig.Command(0x05, Bytes({0, 0})));
  ASSERT_TRUE(rig.Command(0x05, Bytes({2, 0})));
  std::vector<uint8_t> reported;
  for (int tick = 0; tick < 60; ++tick) {
    rig.Advance(25);
    const auto s = rig.Read();
    if (s[kSeq] == kHome4) reported.push_back(s[kHomed]);
  }
  EXPECT_EQ(reported, (std::vector<uint8_t>{0, 2}));
  EXPECT_EQ(rig.controller.position(0), -5);
  EXPECT_EQ(rig.controller.position(2), 77);
  EXPECT_EQ(rig.controller.sequence(), SimSequence::kNone);
}

TEST(SimHoming, VerifyHomingReportsWithoutMovingTheOrigin) {
  Rig rig;
  std::array<AxisSetup, 6> axes{};
  axes[0].home = 500;
  ASSERT_TRUE(rig.Command(0x09, MotionConfig(axes)));
  ASSERT_TRUE(rig.Write(0x02, StepRecords(50, 0, 3000000)));
  rig.Advance(50);
  ASSERT_TRUE(rig.Command(0x12, Bytes({0, 0})));
  rig.Advance(400);
  auto s = rig.Read();
  EXPECT_EQ(s[kSeq], kHome4);
  EXPECT_EQ(s[kHomed], 0);
  EXPECT_EQ(Pos(s, 0), 150);
}

TEST(SimHoming, RefusedInEstop) {
  Rig rig;
  ASSERT_TRUE(rig.Command(0x0E, Bytes({1})));
  ASSERT_TRUE(rig.Command(0x05, Bytes({0, 0})));
  rig.Advance(50);
  EXPECT_EQ(rig.Read()[kSeq], kNone);
}

// ---------------------------------------------------------------- probing

std::vector<uint8_t> ProbePayload() {
  std::vector<uint8_t> p;
  for (int k = 0; k < 6; ++k) PutLe32(p, static_cast<uint32_t>(10 * k + 1));
  for (int k = 0; k < 6; ++k) PutLe32(p, static_cast<uint32_t>(-100 * k));
  return p;
}

TEST(SimProbe, HitStopsAtContactAndFlushes) {
  Rig rig;
  rig.controller.SetProbePredicate([](const std::array<int64_t, 6>& p) { return p[2] <= -100; });
  ASSERT_TRUE(rig.Command(0x04, ProbePayload()));
  ASSERT_TRUE(rig.controller.last_probe_start().has_value());
  EXPECT_EQ(rig.controller.last_probe_start()->acceleration[3], 31);
  EXPECT_EQ(rig.controller.last_probe_start()->velocity[2], -200);
  // Armed but not yet moving: a report now must not read as a finished probe.
  EXPECT_EQ(rig.Read()[kSeq], kNone);

  ASSERT_TRUE(rig.Write(0x02, StepRecords(300, 2, -1000000)));
  rig.Advance(50);
  auto s = rig.Read();
  EXPECT_EQ(s[kSeq], kProbe1);
  EXPECT_EQ(s[kMode], kSegm);
  rig.Advance(50);
  s = rig.Read();
  EXPECT_EQ(s[kSeq], kProbe2);
  EXPECT_EQ(s[kMode], kIdle);
  EXPECT_EQ(Le16(&s[kFill]), 0);
  EXPECT_EQ(Pos(s, 2), -100);

  // Segments still in flight after the contact are not executed.
  ASSERT_TRUE(rig.Write(0x02, StepRecords(75, 2, -1000000)));
  rig.Advance(100);
  s = rig.Read();
  EXPECT_EQ(Pos(s, 2), -100);
  EXPECT_EQ(s[kSeq], kProbe2);

  ASSERT_TRUE(rig.Command(0x0D));
  EXPECT_EQ(rig.Read()[kSeq], kNone);
}

TEST(SimProbe, MoveWithoutContactEndsInProbe1Idle) {
  Rig rig;
  ASSERT_TRUE(rig.Command(0x04, ProbePayload()));
  ASSERT_TRUE(rig.Write(0x02, StepRecords(60, 2, -1000000)));
  rig.Advance(59);
  EXPECT_EQ(rig.Read()[kMode], kSegm);
  rig.Advance(1);
  auto s = rig.Read();
  EXPECT_EQ(s[kSeq], kProbe1);
  EXPECT_EQ(s[kMode], kIdle);
  EXPECT_EQ(Pos(s, 2), -60);
  ASSERT_TRUE(rig.Command(0x0D));
  EXPECT_EQ(rig.Read()[kSeq], kNone);
}

TEST(SimProbe, ShortMoveHeldUntilReleased) {
  Rig rig;
  rig.controller.SetProbePredicate([](const std::array<int64_t, 6>& p) { return p[0] >= 7; });
  ASSERT_TRUE(rig.Command(0x04, ProbePayload()));
  ASSERT_TRUE(rig.Write(0x02, StepRecords(20, 0, 1000000)));
  auto s = rig.Read();
  EXPECT_EQ(s[kMode], kHold);
  EXPECT_EQ(s[kSeq], kNone);
  ASSERT_TRUE(rig.Command(0x0C, Bytes({0, 0, 0, 0})));
  EXPECT_EQ(rig.Read()[kSeq], kProbe1);
  rig.Advance(20);
  s = rig.Read();
  EXPECT_EQ(s[kSeq], kProbe2);
  EXPECT_EQ(Pos(s, 0), 7);
}

// ---------------------------------------------------------------- records of state commands

TEST(SimRecords, StateCommandsAreDecoded) {
  Rig rig;
  ASSERT_TRUE(rig.Command(0x06, Bytes({0x04, 0x00, 0x00, 0x80, 0x05, 0x00, 0x41, 0x00})));
  ASSERT_TRUE(rig.Command(0x0F, Bytes({0x00, 0x00, 0x40, 0x80})));
  ASSERT_TRUE(rig.Command(0x07, Bytes({1, 0x00, 0x80, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0xFF})));
  ASSERT_TRUE(rig.Command(0x11, Bytes({2, 0x10, 0x27, 0, 0, 0x00, 0x00, 0x7D, 0x00, 1, 0})));
  ASSERT_TRUE(rig.Command(0x10, Bytes({0x00, 0xC0, 0x03, 0x00, 3})));

  const auto& out = rig.controller.last_outputs();
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(out->bits, 0x80000004u);
  EXPECT_EQ(out->changed_axes, 5);
  EXPECT_EQ(out->mode_flags, 0x41);
  EXPECT_EQ(*rig.controller.last_forced_inputs(), 0x80400000u);
  const auto& sp = rig.controller.last_spindle();
  ASSERT_TRUE(sp.has_value());
  EXPECT_EQ(sp->on, 1);
  EXPECT_EQ(sp->duty, 32768);
  EXPECT_EQ(sp->step_rate, 4096);
  EXPECT_EQ(sp->direction, -1);
  const auto& mpg = rig.controller.last_mpg();
  ASSERT_TRUE(mpg.has_value());
  EXPECT_EQ(mpg->axis, 2);
  EXPECT_EQ(mpg->step, 10000);
  EXPECT_EQ(mpg->speed_limit, 0x7D0000);
  EXPECT_EQ(mpg->enable, 1);
  const auto& th = rig.controller.last_thread_start();
  ASSERT_TRUE(th.has_value());
  EXPECT_EQ(th->rate, 245760);
  EXPECT_EQ(th->mode, 3);
  EXPECT_TRUE(rig.controller.threading());
  EXPECT_EQ(*rig.controller.LastPayload(0x10), Bytes({0x00, 0xC0, 0x03, 0x00, 3}));
}

TEST(SimRecords, ThcConfigFieldsAtTheirOffsets) {
  std::vector<uint8_t> p;
  PutLe32(p, 4096000);                       // speed
  PutLe32(p, static_cast<uint32_t>(-2000));  // z limit 1
  PutLe32(p, 3000);                          // z limit 2
  PutLe16(p, 500);                           // pierce delay
  p.push_back(1);                            // type
  PutLe16(p, 120);                           // target
  PutLe16(p, 4);                             // hysteresis
  PutLe16(p, 250);                           // full scale
  PutLe16(p, 15);                            // detect voltage
  PutLe16(p, 30);                            // detect time
  PutLe16(p, 0x0B);                          // flags
  PutLe16(p, 132);                           // kerf voltage
  PutLe16(p, 40);                            // kerf time
  PutLe32(p, 4480);
  PutLe32(p, 4480);
  PutLe32(p, static_cast<uint32_t>(-23806));
  PutLe16(p, 180);
  PutLe16(p, 60);
  ASSERT_EQ(p.size(), 47u);
  Rig rig;
  ASSERT_TRUE(rig.Command(0x13, p));
  const auto& t = rig.controller.last_thc();
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->speed, 4096000);
  EXPECT_EQ(t->z_limit1, -2000);
  EXPECT_EQ(t->z_limit2, 3000);
  EXPECT_EQ(t->pierce_delay, 500);
  EXPECT_EQ(t->type, 1);
  EXPECT_EQ(t->target, 120);
  EXPECT_EQ(t->hysteresis, 4);
  EXPECT_EQ(t->full_scale, 250);
  EXPECT_EQ(t->detect_voltage, 15);
  EXPECT_EQ(t->detect_time, 30);
  EXPECT_EQ(t->flags, 0x0B);
  EXPECT_EQ(t->kerf_voltage, 132);
  EXPECT_EQ(t->kerf_time, 40);
  EXPECT_EQ(t->b0, 4480);
  EXPECT_EQ(t->b1, 4480);
  EXPECT_EQ(t->a1, -23806);
  EXPECT_EQ(t->lock_max, 180);
  EXPECT_EQ(t->lock_min, 60);
}

TEST(SimRecords, SegmentFlagsSwitchSyncOutputsAndEndThreading) {
  Rig rig;
  ASSERT_TRUE(rig.Command(0x10, Bytes({1, 0, 0, 0, 3})));
  std::vector<uint8_t> bytes;
  const uint8_t flags[] = {0x13, 0x1F, 0x23, 0x80, 0x30};
  const uint8_t laser[] = {0, 0, 0, 200, 0};
  for (int i = 0; i < 5; ++i) {
    const auto r = SegmentRecord({}, static_cast<uint16_t>(i), flags[i], laser[i]);
    bytes.insert(bytes.end(), r.begin(), r.end());
  }
  ASSERT_TRUE(rig.Write(0x02, bytes));
  ASSERT_TRUE(rig.Command(0x0C, Bytes({0, 0, 0, 0})));
  rig.Advance(2);
  EXPECT_EQ(rig.controller.sync_outputs(), 0x8008);
  rig.Advance(1);
  EXPECT_EQ(rig.controller.sync_outputs(), 0x8000);
  EXPECT_TRUE(rig.controller.threading());
  rig.Advance(2);
  EXPECT_EQ(rig.controller.last_laser(), 0);  // the threading marker carries no power
  EXPECT_FALSE(rig.controller.threading());
  ASSERT_EQ(rig.controller.sync_events().size(), 4u);
  EXPECT_EQ(rig.controller.sync_events()[3].flag, 0x30);
  EXPECT_EQ(rig.controller.sync_events()[3].ring_tag, 4);
  EXPECT_EQ(rig.controller.sync_events()[3].t_ms, 5u);
  EXPECT_EQ(rig.controller.laser_segments(), 5u);
}

TEST(SimRecords, LaserPowerIsRecorded) {
  Rig rig;
  const auto r = SegmentRecord({}, 0xFFFF, 0x80, 200);
  ASSERT_TRUE(rig.Write(0x02, r));
  ASSERT_TRUE(rig.Command(0x0C, Bytes({0, 0, 0, 0})));
  rig.Advance(1);
  EXPECT_EQ(rig.controller.last_laser(), 200);
}

// ---------------------------------------------------------------- inputs in the report

TEST(SimInputs, SettableInputsAppearAtTheirOffsets) {
  Rig rig;
  rig.controller.SetInputPins(0x8001);
  rig.controller.SetLineWord(0x1234);
  rig.controller.SetIndexPeriod(3000000);
  rig.controller.SetEncoderCount(1, 123456);
  rig.controller.SetEncoderCount(2, -5);
  rig.controller.SetAnalogRaw(40000);
  rig.controller.SetExtraFlags(0x40);
  const auto s = rig.Read();
  EXPECT_EQ(Le16(&s[4]), 0x8001);
  EXPECT_EQ(Le16(&s[6]), 0x1234);
  EXPECT_EQ(Le32(&s[36]), 3000000);
  EXPECT_EQ(Le32(&s[46]), 123456);
  EXPECT_EQ(Le32(&s[50]), -5);
  EXPECT_EQ(Le16(&s[58]), 40000);
  EXPECT_EQ(s[kFlags], 0x40);
}

TEST(SimInputs, HandWheelJogsTheMpgAxis) {
  Rig rig;
  // axis 0, 2 steps per count (x 10,000), limit 2 steps/ms, enabled
  std::vector<uint8_t> p{0};
  PutLe32(p, 20000);
  PutLe32(p, 8192000);
  PutLe16(p, 1);
  ASSERT_TRUE(rig.Command(0x11, p));
  EXPECT_EQ(rig.Read()[kSeq], kMpgSeq);
  rig.controller.AddEncoderCount(1, 5);
  rig.Advance(2);
  EXPECT_EQ(rig.controller.position(0), 4);  // limited to 2 steps per ms
  rig.Advance(10);
  auto s = rig.Read();
  EXPECT_EQ(Pos(s, 0), 10);
  EXPECT_EQ(s[kSeq], kMpgSeq);
  EXPECT_EQ(s[kFlags] & 0x01, 0x01);
  rig.controller.AddEncoderCount(1, -1);
  rig.Advance(5);
  EXPECT_EQ(rig.controller.position(0), 8);

  p[p.size() - 2] = 0;  // disable
  ASSERT_TRUE(rig.Command(0x11, p));
  rig.controller.AddEncoderCount(1, 50);
  rig.Advance(20);
  s = rig.Read();
  EXPECT_EQ(s[kSeq], kNone);
  EXPECT_EQ(Pos(s, 0), 8);
}

TEST(SimInputs, LatchZMakesZReadable) {
  Rig rig;
  ASSERT_TRUE(rig.Write(0x02, StepRecords(50, 2, 1000000)));
  rig.Advance(50);
  ASSERT_TRUE(rig.Command(0x14));
  uint8_t z[4] = {};
  ASSERT_TRUE(rig.port.ControlIn(0xE2, z, 4));
  EXPECT_EQ(Le32(z), 50);
}

TEST(SimThc, ArcVoltageDrivesTheZOffset) {
  Rig rig;
  // 120 V at the surface, +0.1 V per step of height.
  rig.controller.SetArcVoltageModel([](const std::array<int64_t, kSimAxes>& p) {
    return 120.0 + 0.1 * static_cast<double>(p[2]);
  });
  std::vector<uint8_t> thc;
  PutLe32(thc, 4096000);  // 1 step per ms
  PutLe32(thc, 0);
  PutLe32(thc, 0);
  PutLe16(thc, 0);
  thc.push_back(1);   // internal THC
  PutLe16(thc, 100);  // target
  PutLe16(thc, 4);    // hysteresis: 98..102 V
  PutLe16(thc, 250);  // 250 V full scale
  PutLe16(thc, 0);
  PutLe16(thc, 5);  // arc after 5 ms
  thc.resize(47, 0);
  ASSERT_TRUE(rig.Command(0x13, thc));
  ASSERT_TRUE(rig.Command(0x06, Bytes({0, 0, 0, 0, 0, 0, 0x08, 0})));     // THC mode
  ASSERT_TRUE(rig.Command(0x07, Bytes({1, 0, 0, 1, 0, 0, 0, 0, 0, 1})));  // torch on
  rig.Advance(4);
  EXPECT_EQ(rig.Read()[kFlags], 0x00);
  rig.Advance(1);
  auto s = rig.Read();
  EXPECT_EQ(s[kFlags], 0x02 | 0x08 | 0x20);  // active, arc OK, torch down
  rig.Advance(300);
  s = rig.Read();
  EXPECT_EQ(s[kFlags], 0x02 | 0x08);
  EXPECT_EQ(Le32(&s[32]), -180);   // 120 - 18 = 102 V
  EXPECT_EQ(Le16(&s[58]), 26738);  // 102 / 250 x 65536
  EXPECT_EQ(Pos(s, 2), 0);

  // LatchZ folds the offset into Z.
  ASSERT_TRUE(rig.Command(0x14));
  uint8_t z[4] = {};
  ASSERT_TRUE(rig.port.ControlIn(0xE2, z, 4));
  EXPECT_EQ(Le32(z), -180);
  s = rig.Read();
  EXPECT_EQ(Pos(s, 2), -180);
  EXPECT_EQ(Le32(&s[32]), 0);

  ASSERT_TRUE(rig.Command(0x07, Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 1})));  // torch off
  rig.Advance(1);
  EXPECT_EQ(rig.Read()[kFlags], 0x00);
}

TEST(SimThc, ArcStrikesLateAndTheLoopWaitsOutThePierceDelay) {
  SimControllerOptions options;
  options.arc_strike_ms = 30;
  Rig rig(options);
  // 130 V wherever the torch is: far above the target, so the loop drives down at once.
  rig.controller.SetArcVoltageModel([](const std::array<int64_t, kSimAxes>&) { return 130.0; });
  std::vector<uint8_t> thc;
  PutLe32(thc, 4096000);  // 1 step per ms
  PutLe32(thc, 0);
  PutLe32(thc, 0);
  PutLe16(thc, 50);  // pierce delay 50 ms
  thc.push_back(1);
  PutLe16(thc, 100);
  PutLe16(thc, 4);
  PutLe16(thc, 250);
  PutLe16(thc, 0);
  PutLe16(thc, 20);  // arc OK 20 ms after the arc
  thc.resize(47, 0);
  ASSERT_TRUE(rig.Command(0x13, thc));
  ASSERT_TRUE(rig.Command(0x06, Bytes({0, 0, 0, 0, 0, 0, 0x08, 0})));
  ASSERT_TRUE(rig.Command(0x07, Bytes({1, 0, 0, 1, 0, 0, 0, 0, 0, 1})));
  rig.Advance(29);
  auto s = rig.Read();
  EXPECT_EQ(s[kFlags], 0x00);
  EXPECT_EQ(Le16(&s[58]), 0);  // no arc yet: nothing on the analog input
  rig.Advance(1);
  s = rig.Read();
  EXPECT_EQ(s[kFlags], 0x00);      // the arc burns, not yet reported OK
  EXPECT_EQ(Le16(&s[58]), 34078);  // 130 / 250 x 65536
  rig.Advance(20);
  s = rig.Read();
  EXPECT_EQ(s[kFlags], 0x08);  // arc OK at 50 ms; the loop still waits
  rig.Advance(49);
  EXPECT_EQ(Le32(&rig.Read()[32]), 0);
  rig.Advance(1);
  s = rig.Read();
  EXPECT_EQ(s[kFlags], 0x02 | 0x08 | 0x20);  // regulating from 100 ms, torch down
  rig.Advance(10);
  EXPECT_EQ(Le32(&rig.Read()[32]), -11);
}

}  // namespace
}  // namespace kelvro::sim::test

namespace kelvro::sim::test {
namespace {

// A ThcConfig payload: internal THC at 1 step per ms, target 100 V, 4 V dead band, 250 V at
// full scale of the input, arc OK 5 ms after the arc; the rest as each case sets it.
struct LoopCase {
  const char* name;
  double arc_volts;           // what the arc gives (constant)
  double divider_full_scale;  // the table's divider; 0: the calibration's
  uint16_t full_scale;        // the calibration sent
  uint16_t detect_voltage;
  uint16_t flags;  // kerf 1, low-pass 2, lock 4
  uint16_t kerf_voltage;
  uint16_t kerf_time;
  uint16_t lock_max;
  uint16_t lock_min;
  // After 100 ms of torch on:
  bool arc_ok;
  int32_t offset;  // THC Z offset in steps
};

std::vector<uint8_t> LoopPayload(const LoopCase& c) {
  std::vector<uint8_t> p;
  PutLe32(p, 4096000);  // 1 step per ms
  PutLe32(p, 0);
  PutLe32(p, 0);
  PutLe16(p, 0);  // no pierce delay
  p.push_back(1);
  PutLe16(p, 100);
  PutLe16(p, 4);
  PutLe16(p, c.full_scale);
  PutLe16(p, c.detect_voltage);
  PutLe16(p, 5);
  PutLe16(p, c.flags);
  PutLe16(p, c.kerf_voltage);
  PutLe16(p, c.kerf_time);
  // 50 Hz low-pass: b0 = b1 = 4480, a1 = -23806.
  PutLe32(p, 4480);
  PutLe32(p, 4480);
  PutLe32(p, static_cast<uint32_t>(-23806));
  PutLe16(p, c.lock_max);
  PutLe16(p, c.lock_min);
  return p;
}

class SimThcLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(SimThcLoop, RegulatesOnTheCalibratedReading) {
  const LoopCase& c = GetParam();
  SimControllerOptions options;
  options.divider_full_scale = c.divider_full_scale;
  Rig rig(options);
  rig.controller.SetArcVoltageModel(
      [volts = c.arc_volts](const std::array<int64_t, kSimAxes>&) { return volts; });
  ASSERT_TRUE(rig.Command(0x13, LoopPayload(c)));
  ASSERT_TRUE(rig.Command(0x06, Bytes({0, 0, 0, 0, 0, 0, 0x08, 0})));     // THC mode
  ASSERT_TRUE(rig.Command(0x07, Bytes({1, 0, 0, 1, 0, 0, 0, 0, 0, 1})));  // torch on
  rig.Advance(100);
  const auto s = rig.Read();
  EXPECT_EQ((s[kFlags] & 0x08) != 0, c.arc_ok);
  EXPECT_EQ(static_cast<int32_t>(Le32(&s[32])), c.offset);
}

// Offsets: 1 step per ms of correction from arc OK (ms 5) on, 96 ms to ms 100.
INSTANTIATE_TEST_SUITE_P(
    Cases, SimThcLoop,
    ::testing::Values(
        // 110 V read as 110 V: above 102, down all the way.
        LoopCase{"Calibrated", 110, 250, 250, 0, 0, 0, 0, 0, 0, true, -96},
        // A 250 V divider read with a 200 V calibration: 110 V reads 88 V, below 98: up.
        LoopCase{"Miscalibrated", 110, 250, 200, 0, 0, 0, 0, 0, 0, true, 96},
        // 101 V reads within the dead band: no correction.
        LoopCase{"InDeadBand", 101, 250, 250, 0, 0, 0, 0, 0, 0, true, 0},
        // Detection window 100 +- 5 V: 110 V is never arc OK, so nothing regulates.
        LoopCase{"OutsideDetectionWindow", 110, 250, 250, 5, 0, 0, 0, 0, 0, false, 0},
        LoopCase{"InsideDetectionWindow", 104, 250, 250, 5, 0, 0, 0, 0, 0, true, -96},
        // Lock band 80..105 V: 110 V holds the correction.
        LoopCase{"Locked", 110, 250, 250, 0, 4, 0, 0, 105, 80, true, 0},
        LoopCase{"LockOff", 110, 250, 250, 0, 0, 0, 0, 105, 80, true, -96},
        // Kerf: 5 V above target for 20 ms: the loop corrects for 20 ms, then holds.
        LoopCase{"Kerf", 110, 250, 250, 0, 1, 5, 20, 0, 0, true, -19},
        // Low-pass: the reading rises from 0 (y = (4480 x + 4480 x' + 23806 y') / 32768):
        // 83.5, 90.8, 96.0 V at ms 5..7 (below 98: up 3), 99.8 at ms 8, above 102 from ms 9
        // (down 92).
        LoopCase{"LowPass", 110, 250, 250, 0, 2, 0, 0, 0, 0, true, 3 - 92}),
    [](const ::testing::TestParamInfo<LoopCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kelvro::sim::test
