// Update's steps that act on the host and the controller, and the host's spindle events.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/wire.h"
#include "plugin/plugin.h"
#include "sim/standin_host.h"

namespace kelvro::sim {
namespace {

using TK = TraceKind;

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.DescribeMill();
    host.StartUp();
    host.Reset();
    host.Run(200);
    host.controller().trace().Clear();
  }
  size_t Count(std::string_view name) {
    return host.controller().trace().Count(TK::kCommand, name);
  }
  HostOf<Plugin> host;
};

TEST_F(UpdateTest, ZReadBackTakesTheLatchedPosition) {
  host.machine().thc_z_offset = 77;
  host.machine().z_readback_request = 1;
  host.plugin().Update();
  EXPECT_EQ(Count("LatchZ"), 1u);
  EXPECT_EQ(host.controller().trace().Count(TK::kControl, "GetZPosition"), 1u);
  EXPECT_EQ(host.machine().z_readback_request, 0);
  EXPECT_EQ(host.machine().motors[2].step_position, host.controller().position(2));
  EXPECT_EQ(host.machine().thc_z_offset, 0);
  EXPECT_EQ(host.machine().positions_resynced, 1);
  EXPECT_EQ(host.plugin().tick().decoder().mirror()[2],
            static_cast<double>(host.controller().position(2)) + 0.5);
}

// The report in flight when Z is read back was taken before the latch: its THC offset (and
// the Z without it) are gone once the offset is folded into Z, and are not shown again.
TEST_F(UpdateTest, AfterAZReadBackTheOldOffsetIsNotShownAgain) {
  host.machine().thc_mode = 1;
  host.controller().SetThcOffset(300);
  host.Run(100);
  ASSERT_EQ(host.machine().thc_z_offset, 300);
  const int64_t z_before = host.controller().position(2);
  host.machine().z_readback_request = 1;
  host.plugin().Update();
  ASSERT_EQ(host.machine().z_readback_request, 0);
  ASSERT_EQ(host.controller().position(2), z_before + 300);
  for (int tick = 0; tick < 8; ++tick) {
    host.Run(25);
    EXPECT_EQ(host.machine().thc_z_offset, 0) << "tick " << tick;
    EXPECT_EQ(host.machine().motors[2].step_position, z_before + 300) << "tick " << tick;
  }
}

// A torch started in THC mode holds motion until the arc is there. E-stop and Reset while it
// holds must end the hold with the dwell word it set, or nothing moves afterwards.
TEST_F(UpdateTest, ResetEndsATorchStartHoldAndItsDwellWord) {
  host.plugin().settings().thc_dwell = 1;
  host.machine().thc_mode = 1;
  host.machine().inputs[kInputThcOn].enabled = 1;  // a pin gives arc OK: the wait can end
  host.plugin().Notify(kNotifySpindleStart);
  ASSERT_TRUE(host.plugin().tick().thc().torch_start_hold());
  ASSERT_EQ(host.machine().dwell_active, 1);
  host.machine().estop = 1;
  host.Run(100);
  host.machine().estop = 0;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  EXPECT_FALSE(host.plugin().tick().thc().torch_start_hold());
  EXPECT_EQ(host.machine().dwell_active, 0);
  for (int i = 1; i <= 700; ++i) ASSERT_TRUE(host.PushRingEntry({i * 5.0, 0, 0, 0, 0, 0}, 1));
  host.planner().flush = 1;
  host.Run(2000);
  EXPECT_EQ(host.controller().segments_received(), 700u);
}

TEST_F(UpdateTest, FailedZReadBackShowsOneMessageAndRetriesOnTheNextUpdate) {
  host.controller().FailControlRequests(1);
  // The box's message loop lets the host call Update again; that must not open a second.
  host.platform().during_message_box = [&] { host.plugin().Update(); };
  host.machine().z_readback_request = 1;
  host.plugin().Update();
  EXPECT_EQ(host.platform().message_boxes, std::vector<std::string>{"Comm Error!"});
  EXPECT_EQ(host.machine().z_readback_request, 1);
  host.plugin().Update();
  EXPECT_EQ(host.machine().z_readback_request, 0);
  EXPECT_EQ(host.platform().message_boxes.size(), 1u);
}

TEST_F(UpdateTest, FailedLatchWriteShowsOnlyTheWriteErrorAndReadsNothing) {
  // The controller latched Z once before; a read after a latch that never arrived would
  // hand the host that old value.
  host.machine().z_readback_request = 1;
  host.plugin().Update();
  ASSERT_EQ(host.machine().z_readback_request, 0);
  const int32_t host_z = host.machine().motors[2].step_position;
  host.controller().trace().Clear();

  host.controller().FailNextCommand(0x14);  // LatchZ
  host.machine().z_readback_request = 1;
  host.plugin().Update();
  EXPECT_EQ(host.platform().message_boxes, std::vector<std::string>{"Error writing to device!"});
  EXPECT_EQ(host.controller().trace().Count(TK::kControl, "GetZPosition"), 0u);
  EXPECT_FALSE(host.plugin().link().IsOpen());
  EXPECT_EQ(host.machine().motors[2].step_position, host_z);
  // The request waits for a link again; the next Update neither retries nor shows more.
  EXPECT_EQ(host.machine().z_readback_request, 1);
  host.plugin().Update();
  EXPECT_EQ(host.platform().message_boxes.size(), 1u);
  // The tick then declares the link lost, once.
  host.Run(100);
  EXPECT_EQ(std::count(host.platform().status_texts.begin(), host.platform().status_texts.end(),
                       "ERROR! Connection closed!"),
            1);
  EXPECT_EQ(host.machine().estop, 1);
}

TEST_F(UpdateTest, ZReadBackIsReplacedByAResyncWhileZCorrectionIsActive) {
  host.plugin().zcorrection().state().active = true;
  ASSERT_FALSE(host.plugin().tick().decoder().resync_requested());
  host.machine().z_readback_request = 1;
  host.plugin().Update();
  EXPECT_EQ(Count("LatchZ"), 0u);
  EXPECT_EQ(host.machine().z_readback_request, 0);
  EXPECT_TRUE(host.plugin().tick().decoder().resync_requested());
}

TEST_F(UpdateTest, ProbeHitHoldForcesTheProbeInputUntilReleased) {
  Probing& probing = host.plugin().tick().probing();
  HostInputSignal& probe = host.machine().inputs[kInputProbe];
  probe.state = 0;
  StatusPacket hit;
  hit.sequence = static_cast<uint8_t>(Sequence::PROBE2);
  probing.OnHit(hit);
  host.plugin().Update();
  EXPECT_EQ(probe.state, 1);
  // Two settling reports, then EndProbe releases the hold.
  StatusPacket idle;
  for (int i = 0; i < 3; ++i) probing.OnReport(idle);
  ASSERT_TRUE(probing.hold_release());
  host.plugin().Update();
  EXPECT_FALSE(probing.hit_hold());
  host.plugin().Update();
  EXPECT_EQ(probe.state, 0);
}

TEST_F(UpdateTest, EncoderCountsGoToTheirHostRecordsAndTheMpg) {
  InputMapper& mapper = host.plugin().tick().mapper();
  // Encoder 1 -> host encoder 2, encoder 2 -> MPG 1; the MPG is not the controller's.
  mapper.Configure(mapper.mappings(), {2, 5}, false, 1.0);
  host.controller().SetEncoderCount(1, 123);
  host.controller().SetEncoderCount(2, -456);
  host.Run(100);  // the reports carry the counts
  host.planner().jog_mode = 2;
  host.plugin().Update();
  EXPECT_EQ(host.machine().encoders[1].count, 123);
  EXPECT_EQ(host.machine().encoders[4].count, -456);
  EXPECT_EQ(host.planner().jog_mode, 2);
  // Without an MPG mapping the MPG jog mode is dropped.
  mapper.Configure(mapper.mappings(), {1, 2}, false, 1.0);
  host.plugin().Update();
  EXPECT_EQ(host.planner().jog_mode, 0);
  EXPECT_EQ(host.machine().encoders[0].count, 123);
  // LED 106 (MPG mode) on: MPG jog mode while an MPG is mapped, and no copies.
  host.leds[106] = 1;
  mapper.Configure(mapper.mappings(), {1, 5}, false, 1.0);
  host.controller().SetEncoderCount(1, 999);
  host.Run(100);
  host.plugin().Update();
  EXPECT_EQ(host.planner().jog_mode, 2);
  EXPECT_EQ(host.machine().encoders[0].count, 123);
}

class SpindleTest : public UpdateTest {
 protected:
  void SetUp() override {
    host.DescribeMill();
    host.planner().spindle_motor_control = 1;
    host.planner().spindle_pwm = 1;
    host.planner().pulley_max_speed[0] = 24000;
    host.StartUp();
    host.Reset();
    host.controller().trace().Clear();
  }
  std::vector<uint8_t> LastSpindle() {
    const auto spindles = host.controller().trace().Find(TK::kCommand, "Spindle");
    return spindles.empty() ? std::vector<uint8_t>{} : spindles.back()->payload;
  }
};

TEST_F(SpindleTest, StartBeforeAnySpeedSendsSpeedAndRatioZero) {
  host.plugin().Notify(3);
  const auto p = LastSpindle();
  ASSERT_EQ(p.size(), 10u);
  EXPECT_EQ(p[0], 1);
  EXPECT_EQ(GetI32(p.data(), 1), 0);
  EXPECT_EQ(GetI32(p.data(), 5), 0);
  EXPECT_EQ(p[9], 0x01);
  EXPECT_EQ(host.planner().spindle_running, 1);
}

TEST_F(SpindleTest, SpeedChangeLimitsTheRatioAndRestartsARunningSpindle) {
  host.plugin().Notify(3);
  host.planner().spindle_speed = 12000.0;
  host.planner().speed_ratio = 1.5;
  host.planner().spindle_direction = 1;
  host.plugin().Notify(5);
  const auto p = LastSpindle();
  ASSERT_EQ(p.size(), 10u);
  EXPECT_EQ(GetI32(p.data(), 1), 65536);  // ratio 1.5 kept as 1.0
  // 1000 steps x 1 unit/s / 24000 rpm x 12000 rpm x 4096 = 2,048,000.
  EXPECT_EQ(GetI32(p.data(), 5), 2048000);
  EXPECT_EQ(p[9], 0xFF);  // reverse
}

TEST_F(SpindleTest, StartInEstopOnlyWritesTheStatusText) {
  host.machine().estop = 1;
  host.plugin().Notify(3);
  EXPECT_TRUE(LastSpindle().empty());
  EXPECT_EQ(host.platform().status_texts.back(), "Cannot start Spindle in Estop!");
  EXPECT_EQ(host.planner().spindle_running, 0);
}

TEST_F(SpindleTest, StopSendsTheHostSpeedAndRatio) {
  host.plugin().Notify(3);
  host.planner().spindle_speed = 500.7;
  host.planner().speed_ratio = 0.5;
  host.plugin().Notify(4);
  const auto p = LastSpindle();
  ASSERT_EQ(p.size(), 10u);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(GetI32(p.data(), 1), 32768);
  EXPECT_EQ(GetI32(p.data(), 5), 500);
  EXPECT_EQ(host.planner().spindle_running, 0);
}

TEST(NotifyWithoutMenuRange, LowCodesDoNotReachTheMenuCommands) {
  HostOf<Plugin> host;
  int window = 0;
  host.app().main_window = &window;
  host.plugin().InitControl(&host.machine(), &host.params(), &host.planner(), &host.app());
  EXPECT_EQ(host.plugin().menu_base(), 0);  // no GetMenuRange callback
  host.plugin().Notify(2);
  host.plugin().Notify(0);
  EXPECT_TRUE(host.platform().menu_commands.empty());
  EXPECT_EQ(host.machine().estop, 0);
}

}  // namespace
}  // namespace kelvro::sim
