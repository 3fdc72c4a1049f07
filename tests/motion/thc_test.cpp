// Torch height control at run time: voltage reading, signals into the host, voltage log,
// ignition counting, the torch-start hold and the ThcConfig values.
#include "motion/thc.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/motion/tick_fixture.h"

namespace kelvro::test {
namespace {

TEST(TorchVolts, CalibrationAndExternalThc) {
  PluginSettings s;
  s.thc_type = 1;
  s.thc_torch_v = 250;
  s.thc_analog_v = 5000;
  EXPECT_EQ(TorchVolts(s, 32768), 125);
  EXPECT_EQ(TorchVolts(s, 65535), 249);  // 65535 x 50 x 5 / 65536 = 249.99
  EXPECT_EQ(TorchVolts(s, 0), 0);
  s.thc_analog_v = 0;  // no calibration: 0 V
  EXPECT_EQ(TorchVolts(s, 32768), 0);
  s.thc_analog_v = 5000;
  s.thc_type = 0;
  EXPECT_EQ(TorchVolts(s, 32768), 0);
}

TEST(LowPass, CoefficientsInFixedPoint) {
  const LowPassCoefficients c = ComputeLowPass(50);
  EXPECT_EQ(c.b0, 4480);
  EXPECT_EQ(c.b1, 4480);
  EXPECT_EQ(c.a1, -23806);
  // 250 Hz: K = tan(pi / 4) = 1 -> b0 = 16384, a1 = trunc(0.5) = 0.
  const LowPassCoefficients q = ComputeLowPass(250);
  EXPECT_EQ(q.b0, 16384);
  EXPECT_EQ(q.a1, 0);
  // Outside the page's 1..500 Hz the nearest end is used.
  EXPECT_EQ(ComputeLowPass(0).b0, ComputeLowPass(1).b0);
  EXPECT_EQ(ComputeLowPass(900).a1, ComputeLowPass(500).a1);
  EXPECT_EQ(ComputeLowPass(500).b0, 32768);
}

TEST(ThcConfigFields, FromSettingsAndHost) {
  PluginSettings s;
  s.thc_type = 2;
  s.thc_hyst_voltage = 4;
  s.thc_torch_v = 250;
  s.thc_analog_v = 5000;
  s.thc_arc_detect = 1;
  s.thc_det_voltage = 30;
  s.thc_det_time = 150;
  s.kerf_detect = 1;
  s.kerf_voltage = 20;
  s.kerf_time = 12;
  s.thc_lock_cmd = 1;
  s.thc_lock_max = 150;
  s.thc_lock_min = 70;
  s.manual_speed = 50;
  ThcHostValues h;
  h.z_max_velocity = 2.0;
  h.z_steps_per_unit = 1000.0;
  h.thc_speed_percent = 25.0;
  h.z_limit1 = -1.5;
  h.z_limit2 = 2.25;
  h.pierce_delay_s = 0.75;
  h.target_voltage = 121.9;
  ThcConfigFields f = BuildThcConfigFields(s, h);
  EXPECT_EQ(f.correction_speed, 2048000);  // 2 x 0.25 x 1000 x 4096
  EXPECT_EQ(f.z_limit1, -1500);
  EXPECT_EQ(f.z_limit2, 2250);
  EXPECT_EQ(f.dro177_x1000, 750);
  EXPECT_EQ(f.thc_type, 2);
  EXPECT_EQ(f.target, 121);
  EXPECT_EQ(f.hysteresis, 4);
  EXPECT_EQ(f.torch_scale, 250);  // 250 x 5 / 5
  EXPECT_EQ(f.detect_voltage, 30);
  EXPECT_EQ(f.detect_time, 150);
  EXPECT_EQ(f.flags, kThcFlagKerfDetect | kThcFlagLockCmd);
  EXPECT_EQ(f.kerf_voltage, 24);  // 121 x 20 %
  EXPECT_EQ(f.kerf_time, 12);
  EXPECT_EQ(f.lock_max, 181);  // 121 x 1.5
  EXPECT_EQ(f.lock_min, 84);   // 121 x 0.7
  h.manual_active = true;
  EXPECT_EQ(BuildThcConfigFields(s, h).correction_speed, 1024000);
  s.thc_arc_detect = 0;
  s.thc_analog_v = 0;
  h.target_voltage = -5.0;
  f = BuildThcConfigFields(s, h);
  EXPECT_EQ(f.detect_voltage, 0);
  EXPECT_EQ(f.torch_scale, 0);
  EXPECT_EQ(f.target, 0);
}

class ThcTickTest : public TickTest {
 protected:
  void SetUp() override {
    Connect();
    settings.thc_type = 1;
    settings.thc_torch_v = 250;
    settings.thc_analog_v = 5000;
  }
  static StatusPacket Report(uint8_t flags, uint16_t raw = 32768) {
    StatusPacket p = Idle();
    p.flags = flags;
    p.analog_raw = raw;
    return p;
  }
};

TEST_F(ThcTickTest, VoltageOnDro1500AndSignalsIntoTheHost) {
  TickWithPacket(Report(kStatusFlagTorchUp | kStatusFlagLed1500));
  EXPECT_EQ(dros[1500], 125.0);
  EXPECT_EQ(leds[1500], 1);
  EXPECT_EQ(machine->inputs[kInputThcUp].state, 1);
  EXPECT_EQ(machine->inputs[kInputThcDown].state, 0);
  TickWithPacket(Report(kStatusFlagTorchDown));
  EXPECT_EQ(leds[1500], 0);
  EXPECT_EQ(machine->inputs[kInputThcUp].state, 0);
  EXPECT_EQ(machine->inputs[kInputThcDown].state, 1);
  // An input on a pin is the pin's.
  machine->inputs[kInputThcDown].enabled = 1;
  machine->inputs[kInputThcDown].port = 2;
  machine->inputs[kInputThcDown].state = 0;
  TickWithPacket(Report(kStatusFlagTorchDown));
  EXPECT_EQ(machine->inputs[kInputThcDown].state, 0);
  settings.thc_type = 0;
  TickWithPacket(Report(0));
  EXPECT_EQ(dros[1500], 0.0);
}

// The host's values in the ThcConfig the tick sends: Z's maximum velocity x the THC speed
// percent x steps per unit x 4096, the two Z limits in steps in their order, DRO 177 in ms.
struct HostValuesCase {
  double percent, limit1, limit2, pierce_s;
  int32_t speed, steps1, steps2;
  uint16_t pierce_ms;
};

class ThcHostValuesTest : public ThcTickTest,
                          public ::testing::WithParamInterface<HostValuesCase> {};

TEST_P(ThcHostValuesTest, TheSentThcConfigCarriesThem) {
  const HostValuesCase& c = GetParam();
  planner->axes[kAxisZ].max_velocity = 2.0;
  planner->axes[kAxisZ].steps_per_unit = 1000.0;
  planner->thc_speed_percent = c.percent;
  planner->thc_z_limit1 = c.limit1;
  planner->thc_z_limit2 = c.limit2;
  dros[kDroPierceDelay] = c.pierce_s;
  machine->thc_mode = 1;
  TakeCommands();
  TickWithPacket(Report(0));
  const std::vector<SentCommand> sent = TakeCommands();
  const auto thc = std::find_if(sent.begin(), sent.end(), [](const SentCommand& command) {
    return command.code == static_cast<uint8_t>(CommandCode::ThcConfig);
  });
  ASSERT_NE(thc, sent.end());
  ASSERT_GE(thc->payload.size(), 14u);
  EXPECT_EQ(static_cast<int32_t>(Le32(&thc->payload[0])), c.speed);
  EXPECT_EQ(static_cast<int32_t>(Le32(&thc->payload[4])), c.steps1);
  EXPECT_EQ(static_cast<int32_t>(Le32(&thc->payload[8])), c.steps2);
  EXPECT_EQ(Le16(&thc->payload[12]), c.pierce_ms);
}

INSTANTIATE_TEST_SUITE_P(Hosts, ThcHostValuesTest,
                         ::testing::Values(
                             // 2 x 0.25 x 1000 x 4096 = 2,048,000.
                             HostValuesCase{25.0, -1.5, 2.25, 0.75, 2048000, -1500, 2250, 750},
                             // 2 x 0.5 x 1000 x 4096 = 4,096,000; the first limit the higher one.
                             HostValuesCase{50.0, 0.5, -3.0, 0.2, 4096000, 500, -3000, 200}));

TEST_F(ThcTickTest, ArcOkFromTheControllerOrEmulated) {
  HostInputSignal& arc = machine->inputs[kInputThcOn];
  TickWithPacket(Report(kStatusFlagArcOk));
  EXPECT_EQ(arc.state, 0);  // arc detection off
  settings.thc_arc_detect = 1;
  TickWithPacket(Report(kStatusFlagArcOk));
  EXPECT_EQ(arc.state, 1);
  settings.thc_type = 0;
  TickWithPacket(Report(kStatusFlagArcOk));
  EXPECT_EQ(arc.state, 0);
  planner->arc_ok_emulation = 1;
  machine->thc_mode = 1;
  machine->torch_on = 1;
  TickWithoutPacket();
  EXPECT_EQ(arc.state, 1);
  machine->torch_on = 0;
  TickWithoutPacket();
  EXPECT_EQ(arc.state, 0);
  arc.enabled = 1;  // on a pin: left alone
  arc.port = 2;
  arc.state = 1;
  TickWithoutPacket();
  EXPECT_EQ(arc.state, 1);
}

TEST_F(ThcTickTest, IgnitionsAndCutTime) {
  settings.thc_arc_detect = 1;
  machine->thc_mode = 1;
  const uint8_t pattern[] = {kStatusFlagArcOk, kStatusFlagArcOk, 0, kStatusFlagArcOk};
  for (uint8_t flags : pattern) {
    TickWithPacket(Report(flags));
    platform.Advance(25);
  }
  EXPECT_EQ(tick->thc().ignition_count(), 2);
  // Arc on during ticks 1-2 (25 ms counted at tick 2, 25 more at tick 3 whose previous
  // tick had the arc), then from tick 4: 50 ms.
  EXPECT_EQ(tick->thc().cut_time_ms(), 50);
  TickWithPacket(Report(kStatusFlagArcOk));
  EXPECT_EQ(tick->thc().cut_time_ms(), 75);
  // Not counted in e-stop or outside THC mode.
  machine->thc_mode = 0;
  platform.Advance(25);
  TickWithPacket(Report(kStatusFlagArcOk));
  EXPECT_EQ(tick->thc().cut_time_ms(), 75);
  EXPECT_EQ(tick->thc().ignition_count(), 2);
}

TEST_F(ThcTickTest, TorchStartHoldEndsWithArcOk) {
  settings.thc_arc_detect = 1;
  PushEntry({1, 0, 0, 0, 0, 0});
  tick->thc().HoldForTorchStart();
  EXPECT_EQ(machine->dwell_active, 1);
  TickWithPacket(Report(0));
  EXPECT_TRUE(TakeSegments().empty());
  EXPECT_TRUE(tick->thc().torch_start_hold());
  TickWithPacket(Report(kStatusFlagArcOk));
  EXPECT_FALSE(tick->thc().torch_start_hold());
  EXPECT_EQ(machine->dwell_active, 0);
  EXPECT_EQ(TakeSegments().size(), 1u);
}

TEST_F(ThcTickTest, TorchStartHoldKeepsADwellThatIsCounting) {
  settings.thc_arc_detect = 1;
  tick->thc().HoldForTorchStart();
  tick->streaming().StartDwell(5);
  EXPECT_EQ(machine->dwell_active, 1);
  TickWithPacket(Report(kStatusFlagArcOk));
  EXPECT_FALSE(tick->thc().torch_start_hold());
  EXPECT_EQ(machine->dwell_active, 1);
}

class VoltageLogTest : public ThcTickTest {
 protected:
  void SetUp() override {
    ThcTickTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() / ("kelvro_tick_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  static std::string Read(const std::string& name) {
    std::ifstream in(name);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::filesystem::path dir_;
  std::filesystem::path old_;
};

TEST_F(VoltageLogTest, RowsWhileTheControllersThcIsActive) {
  {
    std::ofstream old("thc_voltage.log");
    old << "from an earlier run\n";
  }
  tick->thc().set_voltage_log(true);
  settings.thc_arc_detect = 1;
  machine->thc_z_offset = 7;
  StatusPacket p = Report(kStatusFlagThcActive | kStatusFlagArcOk, 32768);
  p.positions[2] = -100;
  TickWithPacket(p);
  TickWithPacket(Report(0, 1000));  // THC not active: no row
  TickWithPacket(Report(kStatusFlagThcActive, 65535));
  EXPECT_EQ(Read("thc_voltage.log"),
            "flags\tth\tadc\tvolts\tzs\n"
            "0x0A\t1\t32768\t125\t-93\n"
            "0x02\t0\t65535\t249\t7\n");
}

TEST_F(VoltageLogTest, NoRowsWithExternalThcOrTheOptionOff) {
  TickWithPacket(Report(kStatusFlagThcActive));
  tick->thc().set_voltage_log(true);
  settings.thc_type = 0;
  TickWithPacket(Report(kStatusFlagThcActive));
  EXPECT_FALSE(std::filesystem::exists("thc_voltage.log"));
}

TEST(ThcVoltageLog, UnwritableFileIsSkipped) {
  ThcVoltageLog log("/nonexistent-dir/thc_voltage.log");
  EXPECT_FALSE(log.Append(0x02, 0, 1, 2, 3));
  EXPECT_TRUE(log.first_write());
}

}  // namespace
}  // namespace kelvro::test
