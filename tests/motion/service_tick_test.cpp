// The service tick's decode of status reports into the host blocks, the link watchdog and
// the state commands.
#include <cmath>
#include <limits>

#include "host/host_fields.h"
#include "tests/motion/tick_fixture.h"

namespace kelvro::test {
namespace {

constexpr uint8_t kSetOutputs = 0x06;
constexpr uint8_t kSetForcedInputs = 0x0F;
constexpr uint8_t kMpgConfig = 0x11;
constexpr uint8_t kThcConfig = 0x13;
constexpr uint8_t kStop = 0x0E;
constexpr uint8_t kEndProbe = 0x0D;

class ServiceTickTest : public TickTest {
 protected:
  void SetUp() override { Connect(); }
  // The last payload of a command code among `commands`, or empty.
  static std::vector<uint8_t> Last(const std::vector<SentCommand>& commands, uint8_t code) {
    std::vector<uint8_t> out;
    for (const auto& c : commands) {
      if (c.code == code) out = c.payload;
    }
    return out;
  }
  static int CountCode(const std::vector<SentCommand>& commands, uint8_t code) {
    int n = 0;
    for (const auto& c : commands) n += c.code == code;
    return n;
  }
};

// ---- Inputs, current line, e-stop ----

TEST_F(ServiceTickTest, InputsFollowTheirPinsWithActiveLow) {
  auto input = [&](int record, uint8_t pin, uint8_t active_low, uint8_t port = 1,
                   uint8_t emulated = 0) {
    HostInputSignal& in = machine->inputs[record];
    in.enabled = 1;
    in.pin = pin;
    in.port = port;
    in.active_low = active_low;
    in.emulated = emulated;
    in.state = 7;  // marker: untouched records keep it
  };
  input(0, 3, 0);        // pin 3 high -> 1
  input(1, 4, 0);        // pin 4 low -> 0
  input(2, 3, 1);        // active low -> 0
  input(3, 16, 1);       // pin 16 low, active low -> 1
  input(4, 20, 1);       // pin 20 is not reported: reads its active-low flag
  input(5, 0, 0);        // no pin -> 0
  input(6, 3, 0, 2);     // another port: untouched
  input(7, 3, 0, 1, 1);  // emulated by the host: untouched
  input(8, 32, 0);       // pin 32: untouched
  StatusPacket p = Idle();
  p.inputs = 0x0004;  // pin 3
  TickWithPacket(p);
  EXPECT_EQ(machine->inputs[0].state, 1);
  EXPECT_EQ(machine->inputs[1].state, 0);
  EXPECT_EQ(machine->inputs[2].state, 0);
  EXPECT_EQ(machine->inputs[3].state, 1);
  EXPECT_EQ(machine->inputs[4].state, 1);
  EXPECT_EQ(machine->inputs[5].state, 0);
  EXPECT_EQ(machine->inputs[6].state, 7);
  EXPECT_EQ(machine->inputs[7].state, 7);
  EXPECT_EQ(machine->inputs[8].state, 7);
}

TEST_F(ServiceTickTest, CurrentLineIsTheIdOfTheExecutingEntry) {
  planner->ring[5].line_id = 42;
  planner->current_line = 3;
  StatusPacket p = Idle();
  p.ring_index = 0xFFFF;
  TickWithPacket(p);
  EXPECT_EQ(planner->current_line, 3);
  p.ring_index = 5;
  TickWithPacket(p);
  EXPECT_EQ(planner->current_line, 42);
  p.ring_index = 5000;  // no such entry
  planner->current_line = 9;
  TickWithPacket(p);
  EXPECT_EQ(planner->current_line, 9);
}

struct EstopCase {
  uint8_t reason;
  int32_t stop_code;
  int32_t second_flag;
};

class EstopTest : public ServiceTickTest, public ::testing::WithParamInterface<EstopCase> {};

TEST_P(EstopTest, ControllerEstopStopsTheHostAndSkipsTheRest) {
  const EstopCase c = GetParam();
  TickWithPacket(Idle());
  for (int i = 0; i < 10; ++i) PushEntry({1, 2, 3, 0, 0, 0});
  machine->motors[0].step_position = 77;
  planner->ring[4].line_id = 5;
  ClearWrites();
  StatusPacket p = Idle();
  p.mode = static_cast<uint8_t>(Mode::ESTOP);
  p.stop_reason = c.reason;
  p.positions = {1000, 2000, 3000, 0, 0, 0};
  p.inputs = 0x1;
  p.ring_index = 4;
  machine->inputs[10].enabled = 1;
  machine->inputs[10].port = 1;
  machine->inputs[10].pin = 1;
  TickWithPacket(p);
  EXPECT_EQ(machine->stop_code, c.stop_code);
  EXPECT_EQ(machine->second_stop_flag, c.second_flag);
  EXPECT_EQ(machine->estop, 1);
  EXPECT_EQ(machine->motors[0].step_position, 77);  // positions not taken
  EXPECT_TRUE(TakeSegments().empty());
  EXPECT_EQ(tick->watchdog().missed_polls(), 0);  // the tail did not run
  EXPECT_EQ(machine->inputs[10].state, 1);        // inputs and line still are
  EXPECT_EQ(planner->current_line, 5);
  // The controller is already in ESTOP: no Stop for it.
  EXPECT_EQ(CountCode(TakeCommands(), kStop), 0);
}

INSTANTIATE_TEST_SUITE_P(Reasons, EstopTest,
                         ::testing::Values(EstopCase{3, 4, 0}, EstopCase{4, 7, 1},
                                           EstopCase{0, 6, 0}, EstopCase{9, 6, 0}));

TEST_F(ServiceTickTest, HostEstopSendsStopOneUntilTheControllerStops) {
  machine->estop = 1;
  TickWithPacket(Idle());
  auto commands = TakeCommands();
  EXPECT_EQ(Last(commands, kStop), (std::vector<uint8_t>{1}));
  TickWithPacket(Idle());
  EXPECT_EQ(CountCode(TakeCommands(), kStop), 1);
  StatusPacket safe = Idle();
  safe.mode = static_cast<uint8_t>(Mode::SAFE);
  TickWithPacket(safe);
  EXPECT_EQ(CountCode(TakeCommands(), kStop), 0);
}

TEST_F(ServiceTickTest, LimitOverrideInputLatches) {
  machine->inputs[kInputLimitOverride].enabled = 1;
  machine->inputs[kInputLimitOverride].emulated = 1;  // host-driven, not decoded
  machine->inputs[kInputLimitOverride].state = 1;
  TickWithPacket(Idle());
  EXPECT_EQ(machine->limit_override_latch, 1);
}

// ---- Positions, velocity, resync ----

TEST_F(ServiceTickTest, PositionsMirrorAndChangedAxes) {
  StatusPacket p = Idle();
  p.positions = {10, -20, 30, 40, 50, 60};
  TickWithPacket(p);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(machine->motors[k].step_position, p.positions[k]);
    // Reset asked for a resync: the mirror follows the host.
    EXPECT_DOUBLE_EQ(tick->decoder().mirror()[k], p.positions[k] + 0.5);
  }
  EXPECT_EQ(machine->positions_resynced, 1);
  auto first = Last(TakeCommands(), kSetOutputs);
  ASSERT_EQ(first.size(), 8u);
  EXPECT_EQ(Le16(&first[4]), 0);  // nothing changed before the first report
  // The host overwrites Y and C between two reports.
  machine->motors[1].step_position = 5;
  machine->motors[5].step_position = 6;
  TickWithPacket(p);
  auto next = Last(TakeCommands(), kSetOutputs);
  ASSERT_EQ(next.size(), 8u);
  EXPECT_EQ(Le16(&next[4]), 0x22);
  // While the alternative homing runs the mask is 0.
  machine->motors[1].step_position = 5;
  planner->alternative_homing = 1;
  TickWithPacket(p);
  next = Last(TakeCommands(), kSetOutputs);
  ASSERT_EQ(next.size(), 8u);
  EXPECT_EQ(Le16(&next[4]), 0);
}

TEST_F(ServiceTickTest, ResyncWaitsForIdleAndSkipsAlternativeHoming) {
  StatusPacket p = Idle();
  p.mode = static_cast<uint8_t>(Mode::HOLD);
  p.positions = {100, 0, 0, 0, 0, 0};
  TickWithPacket(p);
  EXPECT_EQ(tick->decoder().mirror()[0], 0.0);
  EXPECT_TRUE(tick->decoder().resync_requested());
  planner->alternative_homing = 1;
  p.mode = static_cast<uint8_t>(Mode::IDLE);
  TickWithPacket(p);
  EXPECT_EQ(tick->decoder().mirror()[0], 0.0);
  planner->alternative_homing = 0;
  TickWithPacket(p);
  EXPECT_EQ(tick->decoder().mirror()[0], 100.5);
  EXPECT_FALSE(tick->decoder().resync_requested());
  // The controller asks for it itself with flags bit 0.
  p.positions[0] = 200;
  TickWithPacket(p);
  EXPECT_EQ(tick->decoder().mirror()[0], 100.5);
  p.flags = kStatusFlagResync;
  TickWithPacket(p);
  EXPECT_EQ(tick->decoder().mirror()[0], 200.5);
}

TEST_F(ServiceTickTest, ZIncludesTheThcOffsetUnlessLed805) {
  StatusPacket p = Idle();
  p.positions = {0, 0, 1000, 0, 0, 0};
  p.thc_z_offset = -250;
  p.flags = kStatusFlagThcActive;
  TickWithPacket(p);
  EXPECT_EQ(machine->motors[2].step_position, 750);
  leds[805] = 1;
  TickWithPacket(p);
  EXPECT_EQ(machine->motors[2].step_position, 1000);
  // Offsets at the ends of the range add without wrapping.
  leds[805] = 0;
  p.positions[2] = std::numeric_limits<int32_t>::max();
  p.thc_z_offset = 10;
  TickWithPacket(p);
  EXPECT_EQ(machine->motors[2].step_position, std::numeric_limits<int32_t>::max());
}

TEST_F(ServiceTickTest, VelocityOverAtLeastTwoTenthsOfASecond) {
  StatusPacket p = Idle();
  p.timestamp = 20000100;  // baseline 0
  p.positions = {2000, -1000, 0, 0, 0, 0};
  TickWithPacket(p);
  // 2000 steps in 20,000,000 ticks (0.4 s): (2000 / 2e7) x 1e7 + 0.5 -> 1000.
  EXPECT_EQ(machine->motors[0].velocity, 1000);
  EXPECT_EQ(machine->motors[1].velocity, -499);  // trunc(-500 + 0.5)
  // Less than 10,000,000 ticks later: unchanged.
  p.timestamp += 5000000;
  p.positions[0] = 9000;
  TickWithPacket(p);
  EXPECT_EQ(machine->motors[0].velocity, 1000);
  // The counter wraps: the difference is taken unsigned.
  p.timestamp = 20000100u + 10000100u;
  TickWithPacket(p);
  EXPECT_EQ(machine->motors[0].velocity, 7000);
}

TEST_F(ServiceTickTest, SpindleSpeedFromTheIndexPeriod) {
  settings.index_cnt = 2;
  planner->current_pulley = 1;
  settings.spin_ratio[1] = 0.5;
  StatusPacket p = Idle();
  p.index_period = 1000000;  // 20 ms per pulse
  TickWithPacket(p);
  // 50,000,000 / 1,000,000 x 60 / 2 x 0.5 = 750.
  EXPECT_DOUBLE_EQ(planner->measured_spindle_speed, 750.0);
  p.index_period = 0;
  TickWithPacket(p);
  EXPECT_EQ(planner->measured_spindle_speed, 0.0);
  settings.index_cnt = 0;  // no pulses per revolution configured: taken as 1
  p.index_period = 1000000;
  TickWithPacket(p);
  EXPECT_DOUBLE_EQ(planner->measured_spindle_speed, 1500.0);
}

// ---- Idle, jogging, MPG ----

TEST_F(ServiceTickTest, IdleFlagAndJoggingBit) {
  TickWithPacket(Idle());
  EXPECT_EQ(machine->idle, 1);
  EXPECT_EQ(machine->status_word & 1, 0);
  machine->motors[0].jog_active = 1;
  StatusPacket jog = Idle();
  jog.mode = static_cast<uint8_t>(Mode::JOG);
  TickWithPacket(jog);
  EXPECT_EQ(machine->idle, 0);
  EXPECT_EQ(machine->status_word & 1, 1);
  EXPECT_EQ(machine->motors[0].jog_active, 1);
  TickWithPacket(Idle());
  EXPECT_EQ(machine->status_word & 1, 0);
  EXPECT_EQ(machine->motors[0].jog_active, 0);
  // Hand wheel: the MPG axis is marked as jogging.
  planner->mpg_axis = 2;
  StatusPacket mpg = Idle();
  mpg.sequence = static_cast<uint8_t>(Sequence::MPG);
  TickWithPacket(mpg);
  EXPECT_EQ(machine->motors[2].jog_active, 1);
  EXPECT_EQ(machine->status_word & 1, 1);
  EXPECT_EQ(machine->idle, 0);
  // A machine-wide jog keeps the host busy.
  machine->jog_active = 1;
  TickWithPacket(Idle());
  EXPECT_EQ(machine->idle, 0);
  EXPECT_EQ(machine->status_word & 1, 1);
}

// ---- Probe and homing events ----

TEST_F(ServiceTickTest, ProbeHitSettlesThenEndsOnceAlthoughReportedRepeatedly) {
  StatusPacket hit = Idle();
  hit.sequence = static_cast<uint8_t>(Sequence::PROBE2);
  hit.positions = {100, 200, 300, 0, 0, 0};
  for (int k = 0; k < 4; ++k) planner->axes[k].steps_per_unit = 100.0;
  TickWithPacket(hit);
  EXPECT_TRUE(tick->probing().ended());
  EXPECT_EQ(tick->probing().settle_count(), 2);
  EXPECT_DOUBLE_EQ(planner->probe_result[2], 3.0);
  // The controller stands a little further on in the following reports; the mirror is
  // re-taken only when EndProbe goes out.
  hit.positions = {150, 200, 300, 0, 0, 0};
  int end_probes = 0;
  for (int i = 0; i < 5; ++i) {
    TickWithPacket(hit);  // still PROBE2 until EndProbe arrives
    const int sent = CountCode(TakeCommands(), kEndProbe);
    end_probes += sent;
    if (end_probes == 0) {
      EXPECT_EQ(tick->decoder().mirror()[0], 100.5) << i;
    }
    if (sent) {
      EXPECT_EQ(i, 2);  // settle count 2 -> 1 -> 0, then EndProbe
    }
  }
  EXPECT_EQ(end_probes, 1);
  EXPECT_FALSE(tick->probing().ended());
  EXPECT_TRUE(tick->probing().hold_release());
  EXPECT_EQ(tick->decoder().mirror()[0], 150.5);
}

TEST_F(ServiceTickTest, NewProbeTakesAHitThatLooksLikeThePreviousReport) {
  StatusPacket hit = Idle();
  hit.sequence = static_cast<uint8_t>(Sequence::PROBE2);
  TickWithPacket(hit);
  for (int i = 0; i < 4; ++i) TickWithPacket(hit);
  ASSERT_EQ(CountCode(TakeCommands(), kEndProbe), 1);
  ASSERT_FALSE(tick->probing().ended());
  // A new probe starts and touches at once; the reports in between were lost.
  for (int k = 0; k < kAxisCount; ++k) machine->motors[k].probe_pending = 1;
  TickWithPacket(hit);
  EXPECT_TRUE(tick->probing().ended());
  EXPECT_EQ(machine->motors[2].probe_pending, 0);
}

TEST_F(ServiceTickTest, NewProbeTakesAMissThatLooksLikeThePreviousReport) {
  StatusPacket miss = Idle();
  miss.sequence = static_cast<uint8_t>(Sequence::PROBE1);
  TickWithPacket(miss);
  for (int k = 0; k < kAxisCount; ++k) machine->motors[k].probe_pending = 1;
  TickWithPacket(miss);
  EXPECT_EQ(CountCode(TakeCommands(), kEndProbe), 2);
  EXPECT_EQ(buttons, (std::vector<int>{1003, 1003}));
}

TEST_F(ServiceTickTest, EstopReportKeepsTheLastFullReportsPositionsAndThcOffset) {
  StatusPacket full = Idle();
  full.positions = {10, 20, 30, 0, 0, 0};
  full.thc_z_offset = 55;
  TickWithPacket(full);
  StatusPacket estop = Idle();
  estop.mode = static_cast<uint8_t>(Mode::ESTOP);
  estop.positions = {999, 999, 999, 0, 0, 0};
  estop.thc_z_offset = 777;
  estop.stop_reason = 3;
  TickWithPacket(estop);
  EXPECT_EQ(tick->decoder().last().mode, static_cast<uint8_t>(Mode::ESTOP));
  EXPECT_EQ(tick->decoder().last().positions[0], 10);
  EXPECT_EQ(tick->decoder().last().thc_z_offset, 55);
  EXPECT_EQ(machine->motors[0].step_position, 10);
}

TEST_F(ServiceTickTest, ProbeMissReportedTwiceIsTakenOnce) {
  StatusPacket miss = Idle();
  miss.sequence = static_cast<uint8_t>(Sequence::PROBE1);
  TickWithPacket(miss);
  TickWithPacket(miss);
  EXPECT_EQ(CountCode(TakeCommands(), kEndProbe), 1);
  EXPECT_EQ(buttons, std::vector<int>{1003});
  // A new probe later is taken again.
  TickWithPacket(Idle());
  TickWithPacket(miss);
  EXPECT_EQ(CountCode(TakeCommands(), kEndProbe), 1);
}

TEST_F(ServiceTickTest, HomingEndReportedTwiceCountsOnce) {
  tick->homing().Home(0);
  tick->homing().Home(1);
  StatusPacket home = Idle();
  home.sequence = static_cast<uint8_t>(Sequence::HOME4);
  home.homed_axis = 0;
  TickWithPacket(home);
  TickWithPacket(home);
  EXPECT_EQ(machine->homing_in_progress, 1);
  home.homed_axis = 1;
  TickWithPacket(home);
  EXPECT_EQ(machine->homing_in_progress, 0);
  EXPECT_EQ(machine->homed_axes, 3);
}

TEST_F(ServiceTickTest, HomingFinishedMarksTheAxis) {
  StatusPacket home = Idle();
  home.sequence = static_cast<uint8_t>(Sequence::HOME4);
  home.homed_axis = 2;
  TickWithPacket(home);
  EXPECT_EQ(machine->motors[2].referenced, 1);
  EXPECT_EQ(machine->homed_axes & 4, 4);
}

// ---- Analog input and encoders ----

struct AnalogCase {
  int fun;
  int type;
  int threshold;
  uint16_t raw;
  int target;  // DRO or parameter number
  double expected;
};

class AnalogTest : public ServiceTickTest, public ::testing::WithParamInterface<AnalogCase> {};

TEST_P(AnalogTest, MapsTheRawValue) {
  const AnalogCase c = GetParam();
  auto mappings = tick->mapper().mappings();
  InputMapping& m = mappings[0];
  m.fun = c.fun;
  m.type = c.type;
  m.z_thresh = c.threshold;
  m.var_id = 600;
  tick->mapper().Configure(mappings, tick->mapper().encoder_host_map(), false, 1.0);
  StatusPacket p = Idle();
  p.analog_raw = c.raw;
  TickWithPacket(p);
  const double got = c.fun == 3 ? params->values[c.target] : dros[c.target];
  EXPECT_DOUBLE_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AnalogTest,
    ::testing::Values(AnalogCase{3, 0, 1000, 500, 600, 0.0},  // below the threshold
                      AnalogCase{3, 0, 1000, 65535, 600, 65535.0},
                      AnalogCase{3, 1, 0, 32768, 600, 50.0},  // trunc(50.0008 + 0.5)
                      AnalogCase{1, 0, 0, 65535, 821, 250.0},
                      AnalogCase{2, 0, 0, 13107, 74, 50.0},  // 13107 x 250 / 65535 = 50
                      AnalogCase{4, 0, 5, 5, 600, 0.0},
                      AnalogCase{4, 1, 65535, 65535, 600, 0.0}));  // threshold at full scale

TEST_F(ServiceTickTest, EncoderWithZeroCountsPerUnitMovesByWholeCounts) {
  auto mappings = tick->mapper().mappings();
  mappings[1].fun = 4;  // user DRO
  mappings[1].type = 0;
  mappings[1].var_id = 300;
  tick->mapper().Configure(mappings, {1, 0}, false, 1.0);
  planner->encoder_counts_per_unit[0] = 0.0;
  dros[300] = 10.0;
  StatusPacket p = Idle();
  p.enc1 = 5000;
  TickWithPacket(p);  // first report after Reset: baseline only
  EXPECT_EQ(dros[300], 10.0);
  p.enc1 = 5003;
  TickWithPacket(p);
  EXPECT_EQ(dros[300], 13.0);
  p.enc1 = 4000;  // far down: limited at 0
  TickWithPacket(p);
  EXPECT_EQ(dros[300], 0.0);
}

TEST_F(ServiceTickTest, EncoderCountIsNeverAddedTwice) {
  auto mappings = tick->mapper().mappings();
  mappings[2].fun = 3;  // user variable, percent
  mappings[2].type = 1;
  mappings[2].var_id = 700;
  tick->mapper().Configure(mappings, {0, 2}, false, 1.0);
  planner->encoder_counts_per_unit[1] = 49.0;
  StatusPacket p = Idle();
  p.enc2 = 0;
  TickWithPacket(p);
  p.enc2 = 49 * 3 + 1;
  for (int i = 0; i < 5; ++i) TickWithPacket(p);  // the count stands still
  EXPECT_NEAR(params->values[700], 148.0 / 49.0, 1e-12);
}

TEST_F(ServiceTickTest, EncoderOnThcTargetStaysWithin50And300) {
  auto mappings = tick->mapper().mappings();
  mappings[1].fun = 5;
  tick->mapper().Configure(mappings, {3, 0}, false, 1.0);
  planner->encoder_counts_per_unit[2] = 1.0;
  dros[1501] = 290.0;
  StatusPacket p = Idle();
  TickWithPacket(p);
  p.enc1 = 25;
  TickWithPacket(p);
  EXPECT_EQ(dros[1501], 300.0);
  p.enc1 = -1000;
  TickWithPacket(p);
  EXPECT_EQ(dros[1501], 50.0);
}

// ---- Link watchdog ----

TEST_F(ServiceTickTest, NineteenTicksWithoutAReportKeepTheLinkTheTwentiethClosesIt) {
  settings.deref_on_disc = 1;
  for (int k = 0; k < 6; ++k) machine->motors[k].referenced = 1;
  TickWithPacket(Idle());
  EXPECT_EQ(tick->watchdog().missed_polls(), 1);
  for (int i = 0; i < 19; ++i) TickWithoutPacket();
  EXPECT_TRUE(link->connected());
  EXPECT_EQ(machine->estop, 0);
  EXPECT_EQ(tick->watchdog().missed_polls(), 20);
  TickWithoutPacket();
  EXPECT_FALSE(link->connected());
  EXPECT_FALSE(link->IsOpen());
  EXPECT_EQ(machine->estop, 1);
  EXPECT_STREQ(planner->status_text, "ERROR! Connection closed!");
  for (int k = 0; k < 6; ++k) EXPECT_EQ(machine->motors[k].referenced, 0);
  TickWithoutPacket();
  EXPECT_EQ(tick->watchdog().missed_polls(), 0);
}

TEST_F(ServiceTickTest, GarbageReportsCountAsMissed) {
  TickWithPacket(Idle());
  std::vector<uint8_t> wrong(60, 0);
  wrong[0] = 0x3D;
  for (int i = 0; i < 19; ++i) TickWithBytes(wrong);
  EXPECT_TRUE(link->connected());
  TickWithBytes(std::vector<uint8_t>{0x3C, 1, 2});  // short
  EXPECT_FALSE(link->connected());
  EXPECT_EQ(machine->estop, 1);
}

TEST_F(ServiceTickTest, DerefOnDiscOffKeepsTheReferences) {
  settings.deref_on_disc = 0;
  machine->motors[0].referenced = 1;
  for (int i = 0; i < 21; ++i) TickWithoutPacket();
  EXPECT_EQ(machine->estop, 1);
  EXPECT_EQ(machine->motors[0].referenced, 1);
}

TEST_F(ServiceTickTest, FailedCommandWriteIsNoticedOnTheNextTick) {
  TickWithPacket(Idle());
  TakeCommands();
  port.fail_writes_on_pipe = kPipeCommand;
  machine->outputs[0] = HostOutputSignal{1, 5, 1, 0, 1, {}};  // SetOutputs goes out and fails
  TickWithPacket(Idle());
  EXPECT_FALSE(link->connected());
  ASSERT_EQ(platform.message_boxes.size(), 1u);
  EXPECT_EQ(platform.message_boxes[0], "Error writing to device!");
  EXPECT_EQ(machine->estop, 0);
  TickWithoutPacket();
  EXPECT_EQ(machine->estop, 1);
  EXPECT_STREQ(planner->status_text, "ERROR! Connection closed!");
  // Once: the link stays down quietly until the next Reset.
  platform.status_texts.clear();
  TickWithoutPacket();
  EXPECT_TRUE(platform.status_texts.empty());
}

TEST_F(ServiceTickTest, ResetClearingTheConnectedFlagIsNoLoss) {
  TickWithPacket(Idle());
  // Reset under way: flag cleared, link closed and reopened; its message boxes and the
  // firmware update let timer ticks run.
  tick->watchdog().BeginReset();
  link->set_connected(false);
  for (int i = 0; i < 3; ++i) tick->Run();
  EXPECT_EQ(machine->estop, 0);
  EXPECT_TRUE(link->IsOpen());
  EXPECT_TRUE(platform.status_texts.empty());
  // Reset done and connected again: a later loss is noticed as usual.
  link->set_connected(true);
  tick->AfterReset();
  TickWithPacket(Idle());
  link->set_connected(false);
  tick->Run();
  EXPECT_EQ(machine->estop, 1);
}

TEST_F(ServiceTickTest, NothingIsStreamedWhileNotConnectedEvenOutOfEstop) {
  TickWithPacket(Idle());
  link->set_connected(false);
  tick->AfterReset();
  PushEntry({1, 0, 0, 0, 0, 0});
  tick->Run();
  EXPECT_TRUE(TakeSegments().empty());
  EXPECT_EQ(machine->ring_read, 0);  // the host's entry is not consumed
}

TEST_F(ServiceTickTest, FailedSegmentWriteClosesTheLinkAtOnce) {
  PushEntry({1, 0, 0, 0, 0, 0});
  port.fail_writes_on_pipe = kPipeSegments;
  TickWithPacket(Idle());
  EXPECT_TRUE(link->connected());  // the transport leaves the flag to the tick
  EXPECT_FALSE(link->IsOpen());
  TickWithoutPacket();
  EXPECT_FALSE(link->connected());
  EXPECT_EQ(machine->estop, 1);
  EXPECT_STREQ(planner->status_text, "ERROR! Connection closed!");
}

TEST_F(ServiceTickTest, NotConnectedSkipsThePollButRunsTheRest) {
  link->set_connected(false);
  tick->AfterReset();
  dros[1501] = 350.0;
  tick->Run();
  EXPECT_FALSE(port.read_in_flight());
  EXPECT_EQ(dros[1501], 300.0);
  EXPECT_EQ(machine->estop, 0);  // never connected: nothing was lost
}

TEST_F(ServiceTickTest, WithoutHostBlocksTheTickDoesNothing) {
  host.machine = nullptr;
  tick->Run();
  EXPECT_TRUE(port.writes.empty());
}

// ---- Target voltage ----

TEST_F(ServiceTickTest, TargetVoltageAbove300IsWrittenBackAs300) {
  dros[1501] = 350.0;
  TickWithPacket(Idle());
  EXPECT_EQ(dros[1501], 300.0);
  EXPECT_EQ(tick->thc().target_voltage(), 300.0);
  dros[1501] = 0.0;  // 0 is ignored
  TickWithPacket(Idle());
  EXPECT_EQ(tick->thc().target_voltage(), 300.0);
  dros[1501] = std::nan("");
  TickWithPacket(Idle());
  EXPECT_EQ(tick->thc().target_voltage(), 300.0);
  dros[1501] = 120.0;
  tick->thc().set_own_target_write(true);  // the plugin's own write
  TickWithPacket(Idle());
  EXPECT_EQ(tick->thc().target_voltage(), 300.0);
  tick->thc().set_own_target_write(false);
  TickWithPacket(Idle());
  EXPECT_EQ(tick->thc().target_voltage(), 120.0);
}

// ---- State commands ----

TEST_F(ServiceTickTest, EachStateCommandOncePerChangeAndAgainAfterReset) {
  TickWithPacket(Idle());
  auto c = TakeCommands();
  EXPECT_EQ(CountCode(c, kSetOutputs), 1);
  EXPECT_EQ(CountCode(c, kSetForcedInputs), 1);
  EXPECT_EQ(CountCode(c, kMpgConfig), 1);
  EXPECT_EQ(CountCode(c, kThcConfig), 0);  // THC mode off
  for (int i = 0; i < 3; ++i) TickWithPacket(Idle());
  TickWithoutPacket();
  EXPECT_TRUE(TakeCommands().empty());

  machine->outputs[3] = HostOutputSignal{1, 9, 1, 0, 1, {}};
  TickWithoutPacket();
  c = TakeCommands();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].code, kSetOutputs);
  EXPECT_EQ(Le32(&c[0].payload[0]), 1u << 8);

  tick->AfterReset();
  TickWithoutPacket();
  c = TakeCommands();
  EXPECT_EQ(CountCode(c, kSetOutputs), 1);
  EXPECT_EQ(CountCode(c, kSetForcedInputs), 1);
  EXPECT_EQ(CountCode(c, kMpgConfig), 1);

  machine->thc_mode = 1;
  TickWithoutPacket();
  c = TakeCommands();
  EXPECT_EQ(CountCode(c, kThcConfig), 1);
  EXPECT_EQ(CountCode(c, kSetOutputs), 1);  // mode flags bit 3
  TickWithoutPacket();
  EXPECT_TRUE(TakeCommands().empty());
  tick->AfterReset();
  TickWithoutPacket();
  EXPECT_EQ(CountCode(TakeCommands(), kThcConfig), 1);
}

TEST_F(ServiceTickTest, NothingIsSentWhileNotConnected) {
  link->set_connected(false);
  tick->AfterReset();
  tick->Run();
  EXPECT_TRUE(TakeCommands().empty());
}

TEST_F(ServiceTickTest, SetOutputsPayload) {
  machine->outputs[0] = HostOutputSignal{1, 3, 1, 0, 1, {}};  // pin 3 on
  machine->outputs[1] = HostOutputSignal{1, 4, 1, 1, 0, {}};  // active low, off -> high
  machine->outputs[2] = HostOutputSignal{1, 1, 1, 0, 1, {}};  // pin 1: never
  machine->outputs[4] = HostOutputSignal{1, 6, 2, 0, 1, {}};  // other port
  machine->soft_limits_on = 1;
  leds[106] = 1;
  machine->passthrough_flag = 1;
  machine->thc_mode = 1;
  machine->counter_flag = 1;
  machine->counter_a = 1;
  machine->counter_b = 2;
  settings.probe_as_limit = 1;
  TickWithoutPacket();
  const auto p = Last(TakeCommands(), kSetOutputs);
  EXPECT_EQ(p, (std::vector<uint8_t>{0x0C, 0, 0, 0, 0, 0, 0x6F, 0}));
  machine->counter_a = 2;  // not below: bit 5 off
  TickWithoutPacket();
  EXPECT_EQ(Last(TakeCommands(), kSetOutputs),
            (std::vector<uint8_t>{0x0C, 0, 0, 0, 0, 0, 0x4F, 0}));
}

TEST_F(ServiceTickTest, ForcedInputsInTheControllersOrder) {
  auto emulate = [&](int record) {
    machine->inputs[record].enabled = 1;
    machine->inputs[record].emulated = 1;
    machine->inputs[record].state = 1;
  };
  emulate(2);                      // HomeX -> bit 0
  emulate(1);                      // LimitX- -> bit 6
  emulate(15);                     // LimitC+ -> bit 17
  emulate(44);                     // Timing -> bit 20
  emulate(28);                     // THC down -> bit 24
  machine->inputs[3].enabled = 1;  // not emulated: no bit
  machine->inputs[3].state = 1;
  TickWithoutPacket();
  auto p = Last(TakeCommands(), kSetForcedInputs);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(Le32(p.data()), (1u << 0) | (1u << 6) | (1u << 17) | (1u << 20) | (1u << 24));
  // Arc OK emulated by the host while the torch burns in THC mode.
  planner->arc_ok_emulation = 1;
  machine->thc_mode = 1;
  machine->torch_on = 1;
  TickWithoutPacket();
  p = Last(TakeCommands(), kSetForcedInputs);
  EXPECT_EQ(Le32(p.data()) & (1u << 22), 1u << 22);
}

TEST_F(ServiceTickTest, ManualThcOnTheKeypad) {
  machine->inputs[2].enabled = machine->inputs[2].emulated = machine->inputs[2].state = 1;
  settings.manual_thc = 1;
  TickWithoutPacket();  // Num Lock off: nothing manual
  auto p = Last(TakeCommands(), kSetForcedInputs);
  EXPECT_EQ(Le32(p.data()), 1u);
  platform.toggled_keys.insert(kVkNumLock);
  TickWithoutPacket();
  p = Last(TakeCommands(), kSetForcedInputs);
  EXPECT_EQ(Le32(p.data()), 1u << 31);  // bits 0-4 cleared
  machine->thc_mode = 1;
  platform.down_keys.insert(kVkNumpad3);
  TickWithoutPacket();
  EXPECT_EQ(Le32(Last(TakeCommands(), kSetForcedInputs).data()), (1u << 31) | (1u << 24));
  platform.down_keys.insert(kVkNumpad9);  // 9 wins
  TickWithoutPacket();
  EXPECT_EQ(Le32(Last(TakeCommands(), kSetForcedInputs).data()), (1u << 31) | (1u << 23));
  machine->estop = 1;
  TickWithoutPacket();
  EXPECT_EQ(Le32(Last(TakeCommands(), kSetForcedInputs).data()), 1u << 31);
}

TEST_F(ServiceTickTest, MpgConfigPayload) {
  planner->mpg_axis = 1;
  planner->mpg_step_per_count = 0.01;
  planner->axes[1].max_velocity = 2.0;
  tick->mapper().Configure(tick->mapper().mappings(), tick->mapper().encoder_host_map(), false,
                           1.0);
  planner->jog_mode = 2;
  settings.hw_mpg = 1;
  TickWithoutPacket();
  // step 0.01 x 1000 x 10000 = 100000; speed 2 x 1000 x 4096 = 8192000; enabled.
  EXPECT_EQ(Last(TakeCommands(), kMpgConfig),
            (std::vector<uint8_t>{1, 0xA0, 0x86, 0x01, 0x00, 0x00, 0x00, 0x7D, 0x00, 1, 0}));
  settings.mpg_feed_limit = 1;
  planner->mpg_feed = 60.0;  // 1 unit/s
  leds[106] = 1;             // MPG by the host: not enabled
  tick->mapper().Configure(tick->mapper().mappings(), tick->mapper().encoder_host_map(), false,
                           0.0);  // unusable scale: 1.0
  TickWithoutPacket();
  EXPECT_EQ(Last(TakeCommands(), kMpgConfig),
            (std::vector<uint8_t>{1, 0xA0, 0x86, 0x01, 0x00, 0x00, 0x80, 0x3E, 0x00, 0, 0}));
  planner->mpg_step_per_count = 0.0;  // step 0 goes out as 1
  planner->mpg_axis = 9;              // sent as 6
  TickWithoutPacket();
  const auto p = Last(TakeCommands(), kMpgConfig);
  ASSERT_EQ(p.size(), 11u);
  EXPECT_EQ(p[0], 6);
  EXPECT_EQ(Le32(&p[1]), 1u);
}

TEST_F(ServiceTickTest, ThcConfigComparesTheFirst25BytesOnly) {
  machine->thc_mode = 1;
  settings.thc_type = 1;
  settings.thc_lp_freq = 50;
  dros[1501] = 150.0;
  TickWithPacket(Idle());
  auto p = Last(TakeCommands(), kThcConfig);
  ASSERT_EQ(p.size(), 47u);
  EXPECT_EQ(Le16(&p[15]), 150);
  EXPECT_EQ(static_cast<int32_t>(Le32(&p[31])), 4480);
  EXPECT_EQ(static_cast<int32_t>(Le32(&p[35])), 4480);
  EXPECT_EQ(static_cast<int32_t>(Le32(&p[39])), -23806);
  // A change beyond byte 24 waits.
  settings.thc_lp = 1;
  TickWithoutPacket();
  EXPECT_EQ(CountCode(TakeCommands(), kThcConfig), 0);
  // ... for a resend request,
  tick->thc().RequestConfigResend();
  TickWithoutPacket();
  p = Last(TakeCommands(), kThcConfig);
  ASSERT_EQ(p.size(), 47u);
  EXPECT_EQ(Le16(&p[25]), kThcFlagLowPass);
  EXPECT_FALSE(tick->thc().config_resend_requested());
  // ... or a change in the first 25 bytes (the target voltage at 15).
  settings.thc_lock = 1;
  TickWithoutPacket();
  EXPECT_EQ(CountCode(TakeCommands(), kThcConfig), 0);
  dros[1501] = 350.0;
  TickWithoutPacket();
  p = Last(TakeCommands(), kThcConfig);
  ASSERT_EQ(p.size(), 47u);
  EXPECT_EQ(Le16(&p[15]), 300);
  EXPECT_EQ(Le16(&p[25]), kThcFlagLowPass | kThcFlagLock);
}

TEST_F(ServiceTickTest, ThcOffsetIntoTheHostWhileThcModeIsOn) {
  StatusPacket p = Idle();
  p.thc_z_offset = 321;
  TickWithPacket(p);
  EXPECT_EQ(machine->thc_z_offset, 0);  // THC mode off: untouched
  machine->thc_mode = 1;
  TickWithoutPacket();
  EXPECT_EQ(machine->thc_z_offset, 321);
  leds[805] = 1;
  TickWithoutPacket();
  EXPECT_EQ(machine->thc_z_offset, 0);
}

}  // namespace
}  // namespace kelvro::test

namespace kelvro::test {
namespace {

// What the status window is given beside each report: the host's threading flag, the
// uncorrected Z in work units while Z correction is applied, and whether the spindle runs
// as a step/dir axis (its enabled motor and spindle mode 2 of the configuration).
TEST_F(TickTest, StatusSnapshotCarriesTheHostsValues) {
  StatusPacket packet = Idle();
  packet.positions[kAxisZ] = -4200;
  packet.thc_z_offset = 31;
  machine->threading_active = 5;
  planner->axes[kAxisZ].steps_per_unit = 200.0;
  params->values[kParamWorkOffsetX + kAxisZ] = 1.5;
  zcorr->state().active = true;
  zcorr->state().applied_steps = 100.0;
  machine->motors[kSpindleMotor].enabled = 1;
  config.motion[motion_config::kSpindleMode] = kSpindleModeStepDir;
  StatusSnapshot s = tick->MakeStatusSnapshot(packet);
  EXPECT_EQ(s.packet, packet);
  EXPECT_TRUE(s.threading);
  EXPECT_TRUE(s.zcorr_active);
  // (-4200 - 100) / 200 - 1.5
  EXPECT_DOUBLE_EQ(s.z_original, -23.0);
  EXPECT_TRUE(s.spindle_axis);

  machine->threading_active = 0;
  zcorr->state().active = false;
  config.motion[motion_config::kSpindleMode] = kSpindleModePwm;
  s = tick->MakeStatusSnapshot(packet);
  EXPECT_FALSE(s.threading);
  EXPECT_FALSE(s.zcorr_active);
  EXPECT_FALSE(s.spindle_axis);
  config.motion[motion_config::kSpindleMode] = kSpindleModeStepDir;
  machine->motors[kSpindleMotor].enabled = 0;
  EXPECT_FALSE(tick->MakeStatusSnapshot(packet).spindle_axis);
}

}  // namespace
}  // namespace kelvro::test
