#include "sim/machine_profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kelvro::sim {
namespace {

std::string Profile(const std::string& preferences) {
  return "<?xml version=\"1.0\"?>\n<profile>\n<Preferences>\n" + preferences +
         "</Preferences>\n<kelvro_mach_drv/>\n</profile>\n";
}

TEST(MachineProfile, EmptyPreferencesGiveDefaults) {
  Machine m;
  m.axes[0].steps_per_unit = 1.0;  // must be replaced by the default
  std::string error;
  ASSERT_TRUE(ParseMachine(Profile(""), "mem", &m, &error)) << error;
  for (int k = 0; k < kAxisCount; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(m.axes[k].enabled, k < 3);
    EXPECT_EQ(m.axes[k].steps_per_unit, 1000.0);
    EXPECT_EQ(m.axes[k].velocity, 10.0);
    EXPECT_EQ(m.axes[k].acceleration, 100.0);
    EXPECT_EQ(m.axes[k].soft_min, -999999.0);
    EXPECT_EQ(m.axes[k].soft_max, 999999.0);
    EXPECT_EQ(m.axes[k].home_position, 0.0);
    EXPECT_EQ(m.axes[k].slave_master, -1);
    EXPECT_EQ(m.axes[k].step.pin, 0);
    EXPECT_EQ(m.axes[k].step.port, 1);
  }
  EXPECT_FALSE(m.axes[kSpindleMotor].enabled);
  EXPECT_EQ(m.axes[kSpindleMotor].steps_per_unit, 1000.0);
  EXPECT_EQ(m.axes[kSpindleMotor].velocity, 1.0);
  EXPECT_EQ(m.axes[kSpindleMotor].acceleration, 1.0);
  EXPECT_EQ(m.units, Units::kMillimetre);
  EXPECT_TRUE(m.soft_limits_on);
  EXPECT_FALSE(m.rotary_soft_limits);
  EXPECT_FALSE(m.probe.connected());
  EXPECT_FALSE(m.spindle_motor_control);
}

TEST(MachineProfile, ReadsEveryKindOfKey) {
  const std::string xml = Profile(
      "<Steps0>800.5</Steps0><Vel1> 12.5 </Vel1><Acc2>2.5e2</Acc2><Steps6>+400</Steps6>"
      "<Enabled3>1</Enabled3><Steps3>10</Steps3><Vel3>90</Vel3><Acc3>900</Acc3>"
      "<Rotary3>1</Rotary3><Slave3>0</Slave3><SoftMin0>-5</SoftMin0><SoftMax0>300.</SoftMax0>"
      "<HomePos2>-1.5</HomePos2><HomeDir2>1</HomeDir2><HomeSpeed2>35</HomeSpeed2>"
      "<StepPin0>2</StepPin0><StepLow0>1</StepLow0><DirPin1>5</DirPin1><DirPort1>2</DirPort1>"
      "<ProbePin>5</ProbePin><ProbeLow>1</ProbeLow><EStopPin>10</EStopPin>"
      "<HomePin1>7</HomePin1><LimitMinPin2>8</LimitMinPin2><LimitMaxPin2>9</LimitMaxPin2>"
      "<OutputPin3>11</OutputPin3><OutputLow3>1</OutputLow3><SpindleOutPin>14</SpindleOutPin>"
      "<SpindleMotor>1</SpindleMotor><SpindlePWM>1</SpindlePWM><SpindlePWMMin>12.5</SpindlePWMMin>"
      "<SoftLimits>0</SoftLimits><ROTSOFT>3</ROTSOFT><Units>inch</Units>"
      "<Vel0></Vel0>");  // empty text: default
  Machine m;
  std::string error;
  ASSERT_TRUE(ParseMachine(xml, "mem", &m, &error)) << error;
  EXPECT_EQ(m.axes[0].steps_per_unit, 800.5);
  EXPECT_EQ(m.axes[0].velocity, 10.0);
  EXPECT_EQ(m.axes[1].velocity, 12.5);
  EXPECT_EQ(m.axes[2].acceleration, 250.0);
  EXPECT_EQ(m.axes[kSpindleMotor].steps_per_unit, 400.0);
  EXPECT_TRUE(m.axes[3].enabled);
  EXPECT_TRUE(m.axes[3].rotary);
  EXPECT_EQ(m.axes[3].slave_master, 0);
  EXPECT_EQ(m.axes[0].soft_min, -5.0);
  EXPECT_EQ(m.axes[0].soft_max, 300.0);
  EXPECT_EQ(m.axes[2].home_position, -1.5);
  EXPECT_EQ(m.axes[2].home_direction, 1);
  EXPECT_EQ(m.axes[2].homing_speed_percent, 35.0);
  EXPECT_EQ(m.axes[0].step.pin, 2);
  EXPECT_TRUE(m.axes[0].step.active_low);
  EXPECT_EQ(m.axes[1].dir.pin, 5);
  EXPECT_EQ(m.axes[1].dir.port, 2);
  EXPECT_EQ(m.probe.pin, 5);
  EXPECT_TRUE(m.probe.active_low);
  EXPECT_EQ(m.estop.pin, 10);
  EXPECT_EQ(m.home[1].pin, 7);
  EXPECT_EQ(m.limit_min[2].pin, 8);
  EXPECT_EQ(m.limit_max[2].pin, 9);
  EXPECT_EQ(m.outputs[2].pin, 11);
  EXPECT_TRUE(m.outputs[2].active_low);
  EXPECT_EQ(m.spindle_output.pin, 14);
  EXPECT_TRUE(m.spindle_motor_control);
  EXPECT_TRUE(m.spindle_pwm);
  EXPECT_EQ(m.spindle_pwm_min_percent, 12.5);
  EXPECT_FALSE(m.soft_limits_on);
  EXPECT_TRUE(m.rotary_soft_limits);
  EXPECT_EQ(m.units, Units::kInch);
}

TEST(MachineProfile, DisabledMotorMayHaveZeroSteps) {
  Machine m;
  std::string error;
  EXPECT_TRUE(ParseMachine(Profile("<Enabled3>0</Enabled3><Steps3>0</Steps3>"), "mem", &m, &error))
      << error;
  EXPECT_EQ(m.axes[3].steps_per_unit, 0.0);
}

struct BadProfile {
  const char* name;
  std::string xml;
  std::string message;
};

class MachineProfileErrors : public ::testing::TestWithParam<BadProfile> {};

TEST_P(MachineProfileErrors, FailsWithClearMessage) {
  Machine m;
  m.axes[0].steps_per_unit = 123.0;
  std::string error;
  EXPECT_FALSE(ParseMachine(GetParam().xml, "mem.xml", &m, &error));
  EXPECT_EQ(error, GetParam().message);
  EXPECT_EQ(m.axes[0].steps_per_unit, 123.0);  // left alone on failure
}

INSTANTIATE_TEST_SUITE_P(
    Table, MachineProfileErrors,
    ::testing::Values(
        BadProfile{"NotXml", "this is not xml",
                   "machine file \"mem.xml\" is not valid XML (line 1: No document element found)"},
        BadProfile{"Empty", "",
                   "machine file \"mem.xml\" is not valid XML (line 1: No document element found)"},
        BadProfile{"Unclosed", "<profile>\n<Preferences>\n<Steps0>1</Steps0>\n",
                   "machine file \"mem.xml\" is not valid XML (line 3: Start-end tags mismatch)"},
        BadProfile{"NoPreferences", "<profile><kelvro_mach_drv/></profile>",
                   "machine file \"mem.xml\" has no \"Preferences\" section"},
        BadProfile{"Letters", Profile("<Steps0>abc</Steps0>"),
                   "machine file \"mem.xml\": Steps0 is not a number: \"abc\""},
        BadProfile{"TrailingLetters", Profile("<Vel2>12abc</Vel2>"),
                   "machine file \"mem.xml\": Vel2 is not a number: \"12abc\""},
        BadProfile{"NotANumber", Profile("<Acc1>nan</Acc1>"),
                   "machine file \"mem.xml\": Acc1 is not a number: \"nan\""},
        BadProfile{"Overflow", Profile("<Steps1>1e999</Steps1>"),
                   "machine file \"mem.xml\": Steps1 is not a number: \"1e999\""},
        BadProfile{"Huge", Profile("<SoftMax0>1e12</SoftMax0>"),
                   "machine file \"mem.xml\": SoftMax0 must be between -1e+09 and 1e+09 (is "
                   "1e+12)"},
        BadProfile{"ZeroSteps", Profile("<Steps0>0</Steps0>"),
                   "machine file \"mem.xml\": Steps0 must be above 0 for an enabled motor (is 0)"},
        BadProfile{"NegativeVel", Profile("<Vel1>-3</Vel1>"),
                   "machine file \"mem.xml\": Vel1 must be above 0 for an enabled motor (is -3)"},
        BadProfile{"ZeroAcc", Profile("<Acc2>0.0</Acc2>"),
                   "machine file \"mem.xml\": Acc2 must be above 0 for an enabled motor (is 0)"},
        BadProfile{"SpindleZeroSteps", Profile("<Enabled6>1</Enabled6><Steps6>0</Steps6>"),
                   "machine file \"mem.xml\": Steps6 must be above 0 for an enabled motor (is 0)"},
        BadProfile{"LimitsReversed", Profile("<SoftMin0>10</SoftMin0><SoftMax0>5</SoftMax0>"),
                   "machine file \"mem.xml\": SoftMin0 (10) is above SoftMax0 (5)"},
        BadProfile{"FlagOutOfRange", Profile("<Enabled0>2</Enabled0>"),
                   "machine file \"mem.xml\": Enabled0 must be between 0 and 1 (is 2)"},
        BadProfile{"IntegerWithDecimals", Profile("<ProbePin>5.5</ProbePin>"),
                   "machine file \"mem.xml\": ProbePin is not an integer: \"5.5\""},
        BadProfile{"PinOutOfRange", Profile("<ProbePin>99</ProbePin>"),
                   "machine file \"mem.xml\": ProbePin must be between 0 and 32 (is 99)"},
        BadProfile{"SlaveOfDisabled",
                   Profile("<Enabled2>0</Enabled2><Enabled4>1</Enabled4><Slave4>2</Slave4>"),
                   "machine file \"mem.xml\": Slave4 names axis 2, which is not enabled"},
        BadProfile{"SlaveOutOfRange", Profile("<Slave3>4</Slave3>"),
                   "machine file \"mem.xml\": Slave3 must be between -1 and 2 (is 4)"},
        BadProfile{"Units", Profile("<Units>furlong</Units>"),
                   "machine file \"mem.xml\": Units must be \"mm\" or 0, \"inch\" or 1 (is \"furlong\")"}),
    [](const ::testing::TestParamInfo<BadProfile>& info) { return std::string(info.param.name); });

TEST(MachineProfile, MissingFileIsReported) {
  Machine m;
  std::string error;
  EXPECT_FALSE(LoadMachine("/nonexistent/dir/machine.xml", &m, &error));
  EXPECT_EQ(error, "machine file \"/nonexistent/dir/machine.xml\" cannot be opened");
}

TEST(MachineProfile, LoadsFromFile) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "kelvro_traj_machine_test.xml";
  {
    std::ofstream out(path);
    out << Profile("<Steps1>640</Steps1><ProbePin>4</ProbePin>");
  }
  Machine m;
  std::string error;
  EXPECT_TRUE(LoadMachine(path.string(), &m, &error)) << error;
  EXPECT_EQ(m.axes[1].steps_per_unit, 640.0);
  EXPECT_EQ(m.probe.pin, 4);
  std::filesystem::remove(path);
}

TEST(MachineProfile, ApplyFillsHostBlocks) {
  Machine m;
  m.axes[0].steps_per_unit = 1000.0;
  m.axes[0].velocity = 50.0;
  m.axes[0].acceleration = 500.0;
  m.axes[0].soft_min = -2.0;
  m.axes[0].soft_max = 300.0;
  m.axes[0].home_position = 1.5;
  m.axes[0].home_direction = 1;
  m.axes[0].step = {2, 1, true};
  m.axes[0].dir = {3, 1, false};
  m.axes[3].enabled = true;
  m.axes[3].rotary = true;
  m.axes[3].slave_master = 0;
  m.axes[4].slave_master = 1;  // disabled axis: not a slave
  m.probe = {5, 1, true};
  m.home[2] = {9, 1, false};
  m.outputs[2] = {11, 1, false};
  m.spindle_output = {14, 1, true};
  m.spindle_motor_control = true;
  m.spindle_pwm = true;
  m.spindle_pwm_min_percent = 7.0;
  m.rotary_soft_limits = true;
  m.soft_limits_on = true;

  auto state = std::make_unique<HostMachineState>();
  auto planner = std::make_unique<HostPlanner>();
  std::memset(state.get(), 0, sizeof(HostMachineState));
  std::memset(planner.get(), 0, sizeof(HostPlanner));
  state->inputs[kInputEstop].enabled = 1;  // stale: the machine has no E-stop pin
  ApplyMachine(m, *state, *planner);

  const HostAxisTuning& x = planner->axes[0];
  EXPECT_EQ(x.steps_per_unit, 1000.0);
  EXPECT_EQ(x.max_velocity, 50.0);
  EXPECT_EQ(x.acceleration, 500.0);
  EXPECT_EQ(x.soft_min, -2.0);
  EXPECT_EQ(x.soft_max, 300.0);
  EXPECT_EQ(x.home_position, 1.5);
  EXPECT_EQ(x.homing_direction, 1);
  EXPECT_EQ(x.slave_master, -1);
  EXPECT_EQ(x.soft_limit_on, 1);
  for (int k = 0; k < kMotorCount; ++k) EXPECT_EQ(planner->axes[k].max_step_rate, 250000.0);
  EXPECT_EQ(planner->axes[3].slave_master, 0);
  EXPECT_EQ(planner->axes[3].rotary, 1);
  EXPECT_EQ(planner->axes[4].slave_master, -1);
  EXPECT_EQ(planner->axes[4].soft_limit_on, 0);
  EXPECT_EQ(planner->rotary_soft_limits, 1);
  EXPECT_EQ(planner->spindle_motor_control, 1);
  EXPECT_EQ(planner->spindle_pwm, 1);
  EXPECT_EQ(planner->spindle_pwm_min_percent, 7.0);

  EXPECT_EQ(state->motors[0].enabled, 1);
  EXPECT_EQ(state->motors[0].step_pin, 2);
  EXPECT_EQ(state->motors[0].step_port, 1);
  EXPECT_EQ(state->motors[0].step_active_low, 1);
  EXPECT_EQ(state->motors[0].dir_pin, 3);
  EXPECT_EQ(state->motors[0].dir_active_low, 0);
  EXPECT_EQ(state->motors[3].enabled, 1);
  EXPECT_EQ(state->motors[3].slave, 1);
  EXPECT_EQ(state->motors[4].enabled, 0);
  EXPECT_EQ(state->motors[4].slave, 0);
  EXPECT_EQ(state->motors[kSpindleMotor].enabled, 0);
  EXPECT_EQ(state->soft_limits_on, 1);

  // Input records by their host numbers: probe 22, home Z 8, E-stop 25.
  EXPECT_EQ(state->inputs[22].enabled, 1);
  EXPECT_EQ(state->inputs[22].pin, 5);
  EXPECT_EQ(state->inputs[22].port, 1);
  EXPECT_EQ(state->inputs[22].active_low, 1);
  EXPECT_EQ(state->inputs[8].enabled, 1);
  EXPECT_EQ(state->inputs[8].pin, 9);
  EXPECT_EQ(state->inputs[25].enabled, 0);
  EXPECT_EQ(state->inputs[2].enabled, 0);
  // Output 3 is host output record 9, the spindle output record 13.
  EXPECT_EQ(state->outputs[9].enabled, 1);
  EXPECT_EQ(state->outputs[9].pin, 11);
  EXPECT_EQ(state->outputs[13].enabled, 1);
  EXPECT_EQ(state->outputs[13].pin, 14);
  EXPECT_EQ(state->outputs[13].active_low, 1);
  EXPECT_EQ(state->outputs[7].enabled, 0);
}

}  // namespace
}  // namespace kelvro::sim
