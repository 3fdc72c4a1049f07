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
    EXPECT_EQ(m.axes[k].rotary, k >= 3);  // A, B and C turn
    EXPECT_EQ(m.work_offsets[0][k], 0.0);
  }
  EXPECT_EQ(m.flood_output, 0);
  EXPECT_EQ(m.mist_output, 0);
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
                   "machine file \"mem.xml\": Units must be \"mm\" or 0, \"inch\" or 1 (is "
                   "\"furlong\")"},
        BadProfile{"HostPinOutOfRange", Profile("<Motor0StepPin>40</Motor0StepPin>"),
                   "machine file \"mem.xml\": Motor0StepPin must be between 0 and 32 (is 40)"},
        BadProfile{"HostPinFraction", Profile("<Motor2DirPin>2.5</Motor2DirPin>"),
                   "machine file \"mem.xml\": Motor2DirPin is not an integer: \"2.5\""},
        BadProfile{"HostFlagText", Profile("<Motor1Active>yes</Motor1Active>"),
                   "machine file \"mem.xml\": Motor1Active is not an integer: \"yes\""},
        BadProfile{"HostLimitsReversed", Profile("<M0Min>5</M0Min><M0Max>1.</M0Max>"),
                   "machine file \"mem.xml\": M0Min (5) is above M0Max (1)"},
        BadProfile{"HostMinAboveFallbackMax", Profile("<M1Min>5</M1Min><SoftMax1>1</SoftMax1>"),
                   "machine file \"mem.xml\": M1Min (5) is above SoftMax1 (1)"},
        BadProfile{"HostTuningBad", Profile("<Steps0>320,5</Steps0>"),
                   "machine file \"mem.xml\": Steps0 is not a number: \"320,5\""},
        BadProfile{"FloodOutputRange", Profile("<FloodOutput>7</FloodOutput>"),
                   "machine file \"mem.xml\": FloodOutput must be between 0 and 6 (is 7)"},
        BadProfile{"WorkOffsetText", Profile("<G55Y>here</G55Y>"),
                   "machine file \"mem.xml\": G55Y is not a number: \"here\""},
        BadProfile{"ToolLengthHuge", Profile("<ToolLength9>1e10</ToolLength9>"),
                   "machine file \"mem.xml\": ToolLength9 must be between -1e+09 and 1e+09 (is "
                   "1e+10)"}),
    [](const ::testing::TestParamInfo<BadProfile>& info) { return std::string(info.param.name); });

// ---- The host's own keys ----

// One quantity that a host key and a fallback key both give.
struct Precedence {
  const char* name;
  const char* host_key;
  const char* fallback_key;
  const char* host_text;
  const char* fallback_text;
  double host_value;
  double fallback_value;
  double (*read)(const Machine&);
};

class HostKeyPrecedence : public ::testing::TestWithParam<Precedence> {};

std::string Key(const char* key, const char* text) {
  return std::string("<") + key + ">" + text + "</" + key + ">";
}

TEST_P(HostKeyPrecedence, HostKeyFirstFallbackSecond) {
  const Precedence& c = GetParam();
  std::string error;
  Machine both;
  ASSERT_TRUE(
      ParseMachine(Profile(Key(c.host_key, c.host_text) + Key(c.fallback_key, c.fallback_text)),
                   "mem", &both, &error))
      << error;
  EXPECT_EQ(c.read(both), c.host_value);
  Machine fallback;
  ASSERT_TRUE(ParseMachine(Profile(Key(c.fallback_key, c.fallback_text)), "mem", &fallback, &error))
      << error;
  EXPECT_EQ(c.read(fallback), c.fallback_value);
  // An empty host key counts as missing.
  Machine empty_host;
  ASSERT_TRUE(ParseMachine(Profile(Key(c.host_key, "") + Key(c.fallback_key, c.fallback_text)),
                           "mem", &empty_host, &error))
      << error;
  EXPECT_EQ(c.read(empty_host), c.fallback_value);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, HostKeyPrecedence,
    ::testing::Values(
        Precedence{"Active", "Motor4Active", "Enabled4", "1.", "0", 1, 0,
                   [](const Machine& m) { return m.axes[4].enabled ? 1.0 : 0.0; }},
        Precedence{"SoftMin", "M1Min", "SoftMin1", "-593", "-10", -593, -10,
                   [](const Machine& m) { return m.axes[1].soft_min; }},
        Precedence{"SoftMax", "M2Max", "SoftMax2", "0.", "12", 0, 12,
                   [](const Machine& m) { return m.axes[2].soft_max; }},
        Precedence{"StepPin", "Motor0StepPin", "StepPin0", "2", "7", 2, 7,
                   [](const Machine& m) { return static_cast<double>(m.axes[0].step.pin); }},
        Precedence{"DirPin", "Motor6DirPin", "DirPin6", "9.", "3", 9, 3,
                   [](const Machine& m) { return static_cast<double>(m.axes[6].dir.pin); }},
        Precedence{"StepNeg", "Motor1StepNeg", "StepLow1", "1", "0", 1, 0,
                   [](const Machine& m) { return m.axes[1].step.active_low ? 1.0 : 0.0; }},
        Precedence{"DirNeg", "Motor2DirNeg", "DirLow2", "0", "1", 0, 1,
                   [](const Machine& m) { return m.axes[2].dir.active_low ? 1.0 : 0.0; }}),
    [](const ::testing::TestParamInfo<Precedence>& info) { return std::string(info.param.name); });

TEST(MachineProfile, HostUnitsAreNumbers) {
  std::string error;
  Machine m;
  ASSERT_TRUE(ParseMachine(Profile("<Units>1</Units>"), "mem", &m, &error)) << error;
  EXPECT_EQ(m.units, Units::kInch);
  ASSERT_TRUE(ParseMachine(Profile("<Units>0</Units>"), "mem", &m, &error)) << error;
  EXPECT_EQ(m.units, Units::kMillimetre);
  ASSERT_TRUE(ParseMachine(Profile("<Units>inch</Units>"), "mem", &m, &error)) << error;
  EXPECT_EQ(m.units, Units::kInch);
}

// A host profile as users have it: one line of XML with a CRLF at its end, no declaration,
// several sections, empty values as an open and a close tag, reals written as "320.".
constexpr char kHostProfile[] =
    "<profile><Preferences><Units>0</Units><SoftLimit>1</SoftLimit>"
    "<Motor0Active>1</Motor0Active><Motor0StepPin>2</Motor0StepPin><Motor0StepPort>1"
    "</Motor0StepPort><Motor0StepNeg>0</Motor0StepNeg><Motor0DirPin>3</Motor0DirPin>"
    "<Motor0DirPort>1</Motor0DirPort><Motor0DirNeg>1</Motor0DirNeg>"
    "<Motor1Active>1</Motor1Active><Motor1StepPin>4</Motor1StepPin><Motor1DirPin>5</Motor1DirPin>"
    "<Motor2Active>1</Motor2Active><Motor2StepPin>6</Motor2StepPin><Motor2DirPin>7</Motor2DirPin>"
    "<Motor3Active>0</Motor3Active><Motor6Active>0</Motor6Active>"
    "<Steps0>320.</Steps0><Vel0>16.67</Vel0><Acc0>120.</Acc0>"
    "<Steps1>320.</Steps1><Vel1>16.67</Vel1><Acc1>120.</Acc1>"
    "<Steps2>640.</Steps2><Vel2>8.33</Vel2><Acc2>60.</Acc2>"
    "<M0Max>0</M0Max><M0Min>-593</M0Min><M1Max>0</M1Max><M1Min>-400</M1Min>"
    "<M2Max>0</M2Max><M2Min>-160</M2Min><M0SoftRamp>5.</M0SoftRamp>"
    "<Slave0>0</Slave0><SlavePrim>0</SlavePrim><Input22Active>1</Input22Active>"
    "<Input22Pin>15</Input22Pin><Encoder7Cal></Encoder7Cal><m_SafeZ>10.</m_SafeZ>"
    "</Preferences><Mach3Mill><Ver>1</Ver></Mach3Mill><Control></Control>"
    "<VideoPlugIn></VideoPlugIn><GCodeVar></GCodeVar></profile>\r\n";

TEST(MachineProfile, ReadsAHostProfileAsUsersHaveIt) {
  Machine m;
  std::string error;
  ASSERT_TRUE(ParseMachine(kHostProfile, "user.xml", &m, &error)) << error;
  EXPECT_EQ(m.units, Units::kMillimetre);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(m.axes[k].enabled) << k;
  EXPECT_FALSE(m.axes[3].enabled);
  EXPECT_EQ(m.axes[0].steps_per_unit, 320.0);
  EXPECT_EQ(m.axes[0].velocity, 16.67);
  EXPECT_EQ(m.axes[2].steps_per_unit, 640.0);
  EXPECT_EQ(m.axes[2].acceleration, 60.0);
  EXPECT_EQ(m.axes[0].soft_min, -593.0);
  EXPECT_EQ(m.axes[0].soft_max, 0.0);
  EXPECT_EQ(m.axes[2].soft_min, -160.0);
  EXPECT_EQ(m.axes[0].step.pin, 2);
  EXPECT_EQ(m.axes[0].dir.pin, 3);
  EXPECT_TRUE(m.axes[0].dir.active_low);
  EXPECT_EQ(m.axes[2].dir.pin, 7);
  // Everything an enabled axis needs is there: nothing to note.
  EXPECT_TRUE(m.notes.empty()) << m.notes.front();
}

TEST(MachineProfile, NotesTheDefaultsOfEnabledMotors) {
  Machine m;
  std::string error;
  // X has everything; Y misses its tuning; Z only its pins; A is enabled with nothing else.
  ASSERT_TRUE(ParseMachine(
      Profile("<Units>mm</Units><Motor0Active>1</Motor0Active><Steps0>100</Steps0><Vel0>5</Vel0>"
              "<Acc0>50</Acc0><M0Min>0</M0Min><M0Max>10</M0Max><Motor0StepPin>2</Motor0StepPin>"
              "<Motor0DirPin>3</Motor0DirPin>"
              "<Enabled1>1</Enabled1><SoftMin1>0</SoftMin1><SoftMax1>10</SoftMax1>"
              "<StepPin1>4</StepPin1><DirPin1>5</DirPin1>"
              "<Motor2Active>1</Motor2Active><Steps2>100</Steps2><Vel2>5</Vel2><Acc2>50</Acc2>"
              "<M2Min>-5</M2Min><M2Max>0</M2Max>"
              "<Motor3Active>1</Motor3Active>"),
      "mem", &m, &error))
      << error;
  EXPECT_EQ(m.notes,
            (std::vector<std::string>{
                "axis Y: defaults taken for what the profile does not give: Steps1 1000, Vel1 "
                "10, Acc1 100",
                "axis Z: defaults taken for what the profile does not give: "
                "Motor2StepPin/StepPin2 0, Motor2DirPin/DirPin2 0",
                "axis A: defaults taken for what the profile does not give: Steps3 1000, Vel3 "
                "10, Acc3 100, M3Min/SoftMin3 -999999, M3Max/SoftMax3 999999, "
                "Motor3StepPin/StepPin3 0, Motor3DirPin/DirPin3 0"}));
  Machine empty;
  ASSERT_TRUE(ParseMachine(Profile(""), "mem", &empty, &error)) << error;
  ASSERT_EQ(empty.notes.size(), 4u);  // X, Y, Z and the units
  EXPECT_EQ(empty.notes[0],
            "axis X: defaults taken for what the profile does not give: Motor0Active/Enabled0 "
            "1, Steps0 1000, Vel0 10, Acc0 100, M0Min/SoftMin0 -999999, M0Max/SoftMax0 999999, "
            "Motor0StepPin/StepPin0 0, Motor0DirPin/DirPin0 0");
  EXPECT_EQ(empty.notes[3], "units: the profile has no Units key (millimetres taken)");
}

TEST(MachineProfile, WorkOffsetsReturnsToolsAndCoolant) {
  Machine m;
  std::string error;
  ASSERT_TRUE(ParseMachine(Profile("<G54X>150.</G54X><G54Z>-60</G54Z><G57Y>2.5</G57Y>"
                                   "<G59C>-3</G59C><G28Z>2</G28Z><G30X>7</G30X><G30B>45</G30B>"
                                   "<ToolLength1>10</ToolLength1><ToolLength255>12.5"
                                   "</ToolLength255><FloodOutput>3</FloodOutput>"
                                   "<MistOutput>4</MistOutput>"),
                           "mem", &m, &error))
      << error;
  EXPECT_EQ(m.work_offsets[0], (Position{150, 0, -60, 0, 0, 0}));
  EXPECT_EQ(m.work_offsets[3], (Position{0, 2.5, 0, 0, 0, 0}));
  EXPECT_EQ(m.work_offsets[5], (Position{0, 0, 0, 0, 0, -3}));
  EXPECT_EQ(m.g28_position, (Position{0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(m.g30_position, (Position{7, 0, 0, 0, 45, 0}));
  EXPECT_EQ(m.tool_lengths[0], 0.0);
  EXPECT_EQ(m.tool_lengths[1], 10.0);
  EXPECT_EQ(m.tool_lengths[2], 0.0);
  EXPECT_EQ(m.tool_lengths[255], 12.5);
  EXPECT_EQ(m.flood_output, 3);
  EXPECT_EQ(m.mist_output, 4);
}

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

TEST(MachineProfile, TorchHeightControlKeys) {
  Machine m;
  std::string error;
  ASSERT_TRUE(ParseMachine(Profile(""), "mem", &m, &error)) << error;
  EXPECT_FALSE(m.thc_on);
  EXPECT_EQ(m.thc_speed_percent, 100.0);
  ASSERT_TRUE(ParseMachine(Profile("<THCOn>1</THCOn><THCSpeed>40</THCSpeed><THCMinZ>-50.5</THCMinZ>"
                                   "<THCMaxZ>-10</THCMaxZ><THCPierceDelay>0.75</THCPierceDelay>"),
                           "mem", &m, &error))
      << error;
  EXPECT_TRUE(m.thc_on);
  EXPECT_EQ(m.thc_speed_percent, 40.0);
  EXPECT_EQ(m.thc_min_z, -50.5);
  EXPECT_EQ(m.thc_max_z, -10.0);
  EXPECT_EQ(m.thc_pierce_delay, 0.75);

  auto state = std::make_unique<HostMachineState>();
  auto planner = std::make_unique<HostPlanner>();
  std::memset(state.get(), 0, sizeof(HostMachineState));
  std::memset(planner.get(), 0, sizeof(HostPlanner));
  ApplyMachine(m, *state, *planner);
  EXPECT_EQ(state->thc_mode, 1);
  EXPECT_EQ(planner->thc_speed_percent, 40.0);
  EXPECT_EQ(planner->thc_z_limit1, -50.5);
  EXPECT_EQ(planner->thc_z_limit2, -10.0);

  EXPECT_FALSE(
      ParseMachine(Profile("<THCMinZ>1</THCMinZ><THCMaxZ>0</THCMaxZ>"), "m.xml", &m, &error));
  EXPECT_EQ(error, "machine file \"m.xml\": THCMinZ (1) is above THCMaxZ (0)");
  EXPECT_FALSE(ParseMachine(Profile("<THCSpeed>0</THCSpeed>"), "m.xml", &m, &error));
  EXPECT_EQ(error, "machine file \"m.xml\": THCSpeed must be between 1 and 100 (is 0)");
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
