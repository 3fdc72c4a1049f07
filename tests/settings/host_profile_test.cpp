// The host's real profile file: a load, a change and a save must leave every byte outside
// the plugin's section as it was, and broken files must be left alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <string>
#include <vector>

#include "profile_test_support.h"
#include "settings/plugin_settings.h"
#include "settings/profile_xml.h"
#include "sim/scripted_platform.h"

namespace kelvro {
namespace {

using test::CollapseEmptyElements;
using test::KeysInSection;
using test::KeyText;
using test::PluginSaveKeys;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

struct Flavour {
  const char* name;
  std::string bom;
  std::string encoding;
  // Accented letters in the file's own encoding.
  std::string a_uml, e_acute, u_uml, o_slash;
};

const Flavour kLatin1{"latin1", "", "ISO-8859-1", "\xE4", "\xE9", "\xFC", "\xD8"};
const Flavour kUtf8{"utf8", "", "UTF-8", "\xC3\xA4", "\xC3\xA9", "\xC3\xBC", "\xC3\x98"};
const Flavour kUtf8Bom{"utf8bom",  "\xEF\xBB\xBF", "UTF-8",   "\xC3\xA4",
                       "\xC3\xA9", "\xC3\xBC",     "\xC3\x98"};

const char* const kOurSection =
    "\t<kelvro_mach_drv>\n"
    "\t\t<LaserSync>1</LaserSync>\n"
    "\t\t<PWMFreq>5000</PWMFreq>\n"
    "\t\t<LCurveCnt>3</LCurveCnt>\n"
    "\t\t<LCurveX0>0.</LCurveX0>\n"
    "\t\t<LCurveY0>10.</LCurveY0>\n"
    "\t\t<LCurveX1>50.</LCurveX1>\n"
    "\t\t<LCurveY1>60.</LCurveY1>\n"
    "\t\t<LCurveX2>100.</LCurveX2>\n"
    "\t\t<LCurveY2>100.</LCurveY2>\n"
    "\t\t<ZFileName>C:\\Mach3\\surface.txt</ZFileName>\n"
    "\t</kelvro_mach_drv>\n";

// A machine profile as the host keeps it: many sections and keys, comments, attributes,
// accented text, an empty key, escaped characters.
std::string HostProfile(const Flavour& f, bool with_our_section) {
  std::string x = f.bom + "<?xml version=\"1.0\" encoding=\"" + f.encoding + "\"?>\n";
  x += "<!-- Mach3 profile: Fr" + f.a_uml + "se Werkstatt -->\n<profile>\n\t<Preferences>\n";
  x +=
      "\t\t<CodeFile>C:\\Mach3\\GCode\\Fr" + f.a_uml + "sen_Geh" + f.a_uml + "use.tap</CodeFile>\n";
  for (int axis = 0; axis < 6; ++axis) {
    const std::string n = std::to_string(axis);
    x += "\t\t<Steps" + n + ">" + std::to_string(2000 + axis * 100) + ".</Steps" + n + ">\n";
    x += "\t\t<Vel" + n + ">" + std::to_string(40 + axis) + ".5</Vel" + n + ">\n";
    x += "\t\t<Acc" + n + ">1.5e+001</Acc" + n + ">\n";
  }
  x += "\t\t<Steps6>3200.</Steps6>\n\t\t<Vel6>25.5</Vel6>\n\t\t<Acc6>2.5</Acc6>\n";
  x += "\t\t<ROTSOFT>1</ROTSOFT>\n";
  for (int p = 1; p <= 25; ++p) {
    const std::string n = std::to_string(p);
    x += "\t\t<SPINRATIO" + n + ">" + std::to_string(p) + ".25</SPINRATIO" + n + ">\n";
  }
  x += "\t\t<SlaveHome>1</SlaveHome>\n";
  x += "\t\t<Operator name=\"Ren" + f.e_acute + "e\" shift=\"early\">Ren" + f.e_acute + "e M" +
       f.u_uml + "ller</Operator>\n";
  x += "\t\t<Note>Spindle &amp; coolant: check &lt;daily</Note>\n";
  x += "\t\t<LastFile/>\n\t</Preferences>\n";
  x += "\t<!-- ports and pins -->\n\t<Port1 Address=\"0x378\" Enabled=\"1\">\n"
       "\t\t<Pin1>2</Pin1>\n\t\t<Pin2>3</Pin2>\n\t</Port1>\n";
  if (with_our_section) x += kOurSection;
  for (int m = 0; m < 6; ++m) {
    const std::string n = std::to_string(m);
    x += "\t<Motor" + n + " Enabled=\"" + (m < 3 ? "1" : "0") + "\">\n";
    x += "\t\t<StepPin>" + std::to_string(2 + 2 * m) + "</StepPin>\n";
    x += "\t\t<DirPin>" + std::to_string(3 + 2 * m) + "</DirPin>\n";
    x += "\t\t<Backlash>0.0125</Backlash>\n\t</Motor" + n + ">\n";
  }
  x += "\t<ToolTable>\n\t\t<Tool1 Diameter=\"6.35\">End mill " + f.o_slash +
       " 6,35</Tool1>\n\t</ToolTable>\n</profile>\n";
  return x;
}

class HostProfileTest : public ::testing::TestWithParam<std::tuple<Flavour, bool>> {
 protected:
  TempDir dir_;
  std::string path_ = dir_.File("Mach3Mill.xml");
  sim::ScriptedPlatform platform_;
};

TEST_P(HostProfileTest, LoadChangeAndSaveTouchOnlyOurSection) {
  const auto& [flavour, with_section] = GetParam();
  const std::string original = HostProfile(flavour, with_section);
  ASSERT_TRUE(WriteBytes(path_, original));

  PluginSettings s;
  ASSERT_TRUE(LoadSettingsFromProfile(s, path_, platform_));
  EXPECT_EQ(s.steps6, 3200.0);
  EXPECT_EQ(s.vel6, 25.5);
  EXPECT_EQ(s.acc6, 2.5);
  EXPECT_EQ(s.rot_soft, 1);
  EXPECT_EQ(s.slave_home, 1);
  EXPECT_EQ(s.spin_ratio[0], 1.25);
  EXPECT_EQ(s.spin_ratio[24], 25.25);
  EXPECT_EQ(s.laser_sync, with_section ? 1 : 0);
  EXPECT_EQ(s.pwm_freq, with_section ? 5000 : 10000);
  EXPECT_EQ(s.laser_curve.count, with_section ? 3 : 2);
  EXPECT_EQ(s.laser_curve.y[0], with_section ? 10.0 : 0.0);
  EXPECT_EQ(s.z_file_name, with_section ? "C:\\Mach3\\surface.txt" : "zfile.txt");
  EXPECT_EQ(ReadBytes(path_), original) << "a load must not change the file";

  s.laser_comp = 1;
  s.thc_nom_voltage = 135;
  s.l_max_feed = 2500.0;
  s.laser_curve.count = 4;
  s.laser_curve.x = {0.0, 25.0, 75.0, 100.0};
  s.laser_curve.y = {0.0, 30.0, 80.0, 100.0};
  ASSERT_TRUE(SaveSettingsToProfile(s, path_, platform_));
  const std::string saved = ReadBytes(path_);

  std::vector<std::string> expected_keys;
  if (with_section) {
    const std::string open = "<kelvro_mach_drv>";
    const std::string close = "</kelvro_mach_drv>";
    const size_t head = original.find(open) + open.size();
    const size_t tail = original.size() - original.find(close);
    ASSERT_GT(saved.size(), head + tail);
    EXPECT_EQ(saved.substr(0, head), original.substr(0, head));
    EXPECT_EQ(saved.substr(saved.size() - tail), original.substr(original.size() - tail));
    // Stored keys stay where they were; the others follow in save order.
    expected_keys = {"LaserSync", "PWMFreq",  "LCurveCnt", "LCurveX0", "LCurveY0",
                     "LCurveX1",  "LCurveY1", "LCurveX2",  "LCurveY2", "ZFileName"};
  } else {
    const size_t end = original.rfind("</profile>");
    ASSERT_GT(saved.size(), original.size());
    EXPECT_EQ(saved.substr(0, end), original.substr(0, end));
    EXPECT_EQ(saved.substr(saved.size() - (original.size() - end)), original.substr(end));
    const std::string inserted = saved.substr(end, saved.size() - original.size());
    EXPECT_EQ(inserted.rfind("<kelvro_mach_drv>", 0), 0u) << inserted;
    EXPECT_EQ(inserted.substr(inserted.size() - 18), "</kelvro_mach_drv>");
  }
  for (const std::string& k : PluginSaveKeys(4)) {
    if (std::find(expected_keys.begin(), expected_keys.end(), k) == expected_keys.end()) {
      expected_keys.push_back(k);
    }
  }
  EXPECT_EQ(KeysInSection(saved, kPluginSection), expected_keys);
  EXPECT_EQ(KeyText(saved, kPluginSection, "LMaxFeed"), "2500.");
  EXPECT_EQ(KeyText(saved, kPluginSection, "LCurveY1"), "30.");

  PluginSettings again;
  ASSERT_TRUE(LoadSettingsFromProfile(again, path_, platform_));
  EXPECT_EQ(again.laser_comp, 1);
  EXPECT_EQ(again.thc_nom_voltage, 135);
  EXPECT_EQ(again.laser_curve.count, 4);
  EXPECT_EQ(again.laser_curve.x[2], 75.0);
  EXPECT_EQ(again.steps6, 3200.0);
  EXPECT_EQ(ReadBytes(path_), saved);
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"}));
  EXPECT_TRUE(platform_.message_boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Flavours, HostProfileTest,
                         ::testing::Combine(::testing::Values(kLatin1, kUtf8, kUtf8Bom),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<Flavour, bool>>& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_with_section" : "_without_section");
                         });

// ---- files a new user may meet -------------------------------------------------------

void ExpectDefaults(const PluginSettings& s) {
  EXPECT_EQ(s.pwm_freq, 10000);
  EXPECT_EQ(s.index_cnt, 1);
  EXPECT_EQ(s.map_enc2, 4);
  EXPECT_EQ(s.mappings[0].var_id, 1000);
  EXPECT_EQ(s.thc_nom_voltage, 150);
  EXPECT_EQ(s.l_max_feed, 1000.0);
  EXPECT_EQ(s.mz_offset, 1e30);
  EXPECT_EQ(s.steps6, 1000.0);
  EXPECT_EQ(s.spin_ratio[3], 1.0);
  EXPECT_EQ(s.z_file_name, "zfile.txt");
  EXPECT_EQ(s.laser_curve.count, 2);
}

class BadProfileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.File("Mach3Mill.xml");
  sim::ScriptedPlatform platform_;
};

TEST_F(BadProfileTest, BrokenFilesGiveDefaultsAndAreNeverOverwritten) {
  const std::string valid = HostProfile(kUtf8, true);
  std::string binary;
  for (int b = 0; b < 256; ++b) binary.push_back(static_cast<char>(b));
  const std::pair<const char*, std::string> files[] = {
      {"plain text", "This is not XML at all.\r\nJust notes about the machine.\r\n"},
      {"truncated", valid.substr(0, valid.size() / 2)},
      {"cut after the last key", valid.substr(0, valid.rfind("</Motor5>"))},
      {"binary", binary},
      {"zero bytes", std::string(16, '\0')},
      {"two roots", "<profile></profile><profile></profile>"},
      {"text before the root", "hello <profile/>"},
      {"unclosed comment", "<profile><!-- comment </profile>"},
      {"mismatched tags", "<profile><Preferences></Port1></profile>"},
      {"declaration only", "<?xml version=\"1.0\"?>\n"},
      {"white space only", "  \n\t\n"},
      {"bad attribute", "<profile a=1></profile>"},
  };
  for (const auto& [name, bytes] : files) {
    ASSERT_TRUE(WriteBytes(path_, bytes));
    PluginSettings s;
    EXPECT_FALSE(LoadSettingsFromProfile(s, path_, platform_)) << name;
    ExpectDefaults(s);
    EXPECT_EQ(ReadBytes(path_), bytes) << name;
    s.thc_nom_voltage = 99;
    EXPECT_FALSE(SaveSettingsToProfile(s, path_, platform_)) << name;
    EXPECT_EQ(ReadBytes(path_), bytes) << name;
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"})) << name;
  }
  EXPECT_TRUE(platform_.message_boxes.empty());
}

TEST_F(BadProfileTest, DirectoryInPlaceOfTheFileIsLeftAlone) {
  test::MakeDirectory(path_);
  PluginSettings s;
  EXPECT_FALSE(LoadSettingsFromProfile(s, path_, platform_));
  ExpectDefaults(s);
  EXPECT_FALSE(SaveSettingsToProfile(s, path_, platform_));
  EXPECT_TRUE(test::IsDirectory(path_));
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"}));
}

TEST_F(BadProfileTest, ReadOnlyProfileIsReadAndLeftAsItWas) {
  const std::string original = HostProfile(kLatin1, true);
  ASSERT_TRUE(WriteBytes(path_, original));
  test::MakeReadOnly(path_, true);
  PluginSettings s;
  EXPECT_TRUE(LoadSettingsFromProfile(s, path_, platform_));
  EXPECT_EQ(s.pwm_freq, 5000);
  s.pwm_freq = 6000;
  EXPECT_FALSE(SaveSettingsToProfile(s, path_, platform_));
  EXPECT_EQ(ReadBytes(path_), original);
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"}));
  test::MakeReadOnly(path_, false);
}

TEST_F(BadProfileTest, EmptyFileIsTakenAsNoProfile) {
  ASSERT_TRUE(WriteBytes(path_, ""));
  PluginSettings s;
  EXPECT_TRUE(LoadSettingsFromProfile(s, path_, platform_));
  ExpectDefaults(s);
  s.pwm_freq = 300;
  EXPECT_TRUE(SaveSettingsToProfile(s, path_, platform_));
  EXPECT_EQ(KeyText(ReadBytes(path_), kPluginSection, "PWMFreq"), "300");
}

TEST_F(BadProfileTest, HugeAndNonNumericValuesAreLimited) {
  const std::string xml =
      "<profile><Preferences><Steps6>garbage</Steps6><Vel6>1e999</Vel6><Acc6>-1e999</Acc6>"
      "<SPINRATIO3>1e-999</SPINRATIO3><SPINRATIO4>" +
      std::string(500, '9') +
      "</SPINRATIO4><ROTSOFT>99999999999999999999</ROTSOFT><SlaveHome>-x</SlaveHome>"
      "</Preferences><kelvro_mach_drv><PWMFreq>99999999999999</PWMFreq>"
      "<IndexCnt>abc</IndexCnt><THCnomvoltage>-99999999999</THCnomvoltage>"
      "<LMaxFeed>1e999</LMaxFeed><MZOffset>nan</MZOffset><LCurveCnt>2147483647</LCurveCnt>"
      "<AnalogVarID>  +12abc</AnalogVarID><ZFileName>" +
      std::string(10000, 'z') + "</ZFileName></kelvro_mach_drv></profile>";
  ASSERT_TRUE(WriteBytes(path_, xml));
  PluginSettings s;
  EXPECT_TRUE(LoadSettingsFromProfile(s, path_, platform_));
  const double max = std::numeric_limits<double>::max();
  EXPECT_EQ(s.steps6, 0.0);
  EXPECT_EQ(s.vel6, max);
  EXPECT_EQ(s.acc6, -max);
  EXPECT_EQ(s.spin_ratio[2], 0.0);
  EXPECT_EQ(s.spin_ratio[3], max);
  EXPECT_EQ(s.rot_soft, 1);
  EXPECT_EQ(s.slave_home, 0);
  EXPECT_EQ(s.pwm_freq, INT_MAX);
  EXPECT_EQ(s.index_cnt, 1);
  EXPECT_EQ(s.thc_nom_voltage, INT_MIN);
  EXPECT_EQ(s.l_max_feed, max);
  EXPECT_EQ(s.mz_offset, 0.0);
  EXPECT_EQ(s.laser_curve.count, 2);
  EXPECT_EQ(s.mappings[0].var_id, 12);
  EXPECT_EQ(s.z_file_name, std::string(10000, 'z'));
  EXPECT_EQ(ReadBytes(path_), xml);
  // What is written back reads as the same numbers.
  ASSERT_TRUE(SaveSettingsToProfile(s, path_, platform_));
  const std::string saved = ReadBytes(path_);
  EXPECT_EQ(KeyText(saved, kPluginSection, "LMaxFeed"), "1.7976931e+308");
  EXPECT_EQ(KeyText(saved, kPluginSection, "PWMFreq"), "2147483647");
  EXPECT_EQ(KeyText(saved, kPluginSection, "THCnomvoltage"), "-2147483648");
}

TEST_F(BadProfileTest, EmptyKeysGiveDefaultsAndOnlyOurSectionIsTidied) {
  const std::string host =
      "<profile>\n <Preferences>\n  <Steps6/>\n  <Vel6></Vel6>\n  <SlaveHome/>\n"
      " </Preferences>\n";
  const std::string xml = host +
                          " <kelvro_mach_drv><PWMFreq/><LMaxFeed></LMaxFeed><ZFileName/>"
                          "<LCurveCnt></LCurveCnt><THCtorchv>260</THCtorchv></kelvro_mach_drv>\n"
                          "</profile>\n";
  ASSERT_TRUE(WriteBytes(path_, xml));
  PluginSettings s;
  EXPECT_TRUE(LoadSettingsFromProfile(s, path_, platform_));
  EXPECT_EQ(s.pwm_freq, 10000);
  EXPECT_EQ(s.l_max_feed, 1000.0);
  EXPECT_EQ(s.z_file_name, "zfile.txt");
  EXPECT_EQ(s.steps6, 1000.0);
  EXPECT_EQ(s.vel6, 1.0);
  EXPECT_EQ(s.slave_home, 0);
  EXPECT_EQ(s.thc_torch_v, 260);
  const std::string after = CollapseEmptyElements(ReadBytes(path_));
  const std::string host_part = CollapseEmptyElements(host);
  EXPECT_EQ(after.substr(0, host_part.size()), host_part);
  EXPECT_EQ(KeysInSection(after, kPluginSection), (std::vector<std::string>{"THCtorchv"}));
}

TEST_F(BadProfileTest, DeeplyNestedHostDataDoesNotCrash) {
  std::string xml = "<profile><Preferences><SlaveHome>1</SlaveHome></Preferences><Deep>";
  for (int i = 0; i < 5000; ++i) xml += "<a>";
  for (int i = 0; i < 5000; ++i) xml += "</a>";
  xml += "</Deep></profile>";
  ASSERT_TRUE(WriteBytes(path_, xml));
  PluginSettings s;
  const bool loaded = LoadSettingsFromProfile(s, path_, platform_);
  EXPECT_EQ(ReadBytes(path_), xml);
  EXPECT_EQ(s.slave_home, loaded ? 1 : 0);
  const bool saved = SaveSettingsToProfile(s, path_, platform_);
  const std::string after = ReadBytes(path_);
  const size_t end = xml.rfind("</profile>");
  if (saved) {
    EXPECT_EQ(after.substr(0, end), xml.substr(0, end));
  } else {
    EXPECT_EQ(after, xml);
  }
}

}  // namespace
}  // namespace kelvro
