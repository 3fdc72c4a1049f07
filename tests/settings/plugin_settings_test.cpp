// Loading and saving the settings record: keys, defaults, order, corrections, the curve.
#include "settings/plugin_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "profile_test_support.h"
#include "settings/profile_xml.h"
#include "sim/scripted_platform.h"

namespace kelvro {
namespace {

using test::KeysInSection;
using test::KeyText;
using test::ReadBytes;
using test::RecordingDom;
using test::TempDir;
using test::WriteBytes;

const std::string kP = "kelvro_mach_drv/";
const std::string kH = "Preferences/";

const char* const kHeadKeys[] = {"LaserSync",     "LaserComp",     "LaserGL",       "PWMFreq",
                                 "IndexCnt",      "LaserSyncPort", "HomeRetract",   "LimitDebounce",
                                 "HomeDebounce",  "ProbeDebounce", "IndexDebounce", "EncDebounce",
                                 "OtherDebounce", "DebounceByPin"};
const char* const kTailKeys[] = {
    "Enc1Mult",      "Enc2Mult",      "MapEnc1",        "MapEnc2",    "HwMPG",      "MPGfeedlimit",
    "THCtype",       "THCnomvoltage", "THChystvoltage", "THCtorchv",  "THCanalogv", "THCarcDetect",
    "THCdetVoltage", "THCdetTime",    "THCDwell",       "KerfDetect", "KerfTime",   "KerfVoltage",
    "THCLP",         "THCLPFreq",     "THCLock",        "THCLockMax", "THCLockMin", "THCLockCmd",
    "ManualTHC",     "ManualSpeed",   "DerefOnDisc",    "StepFreq"};

void AddPins(std::vector<std::string>& keys) {
  for (int n = 0; n < 14; ++n) {
    keys.push_back(kP + "DebPin" + std::to_string(n) + "_ena");
    keys.push_back(kP + "DebPin" + std::to_string(n) + "_time");
  }
}
void AddCurve(std::vector<std::string>& keys, int points) {
  keys.push_back(kP + "LCurveCnt");
  for (int n = 0; n < points; ++n) {
    keys.push_back(kP + "LCurveX" + std::to_string(n));
    keys.push_back(kP + "LCurveY" + std::to_string(n));
  }
  keys.push_back(kP + "LMaxFeed");
  for (const char* m : {"Analog", "Encoder1", "Encoder2"}) {
    for (const char* f : {"Fun", "Type", "VarID", "ZThresh"}) keys.push_back(kP + m + f);
  }
}

std::vector<std::string> LoadOrder(int curve_points) {
  std::vector<std::string> keys;
  for (const char* k : kHeadKeys) keys.push_back(kP + k);
  for (const char* k : {"Steps6", "Vel6", "Acc6", "ROTSOFT"}) keys.push_back(kH + k);
  for (int i = 1; i <= 25; ++i) keys.push_back(kH + "SPINRATIO" + std::to_string(i));
  AddPins(keys);
  AddCurve(keys, curve_points);
  for (const char* k : kTailKeys) keys.push_back(kP + k);
  for (const char* k :
       {"ZFileName", "ZNormal", "ZLimitCorr", "ZStartMode", "ZJogCorr", "MZOffset"}) {
    keys.push_back(kP + k);
  }
  keys.push_back(kP + "ProbeAsLimit");
  keys.push_back(kH + "SlaveHome");
  return keys;
}

std::vector<std::string> SaveOrder(int curve_points) {
  std::vector<std::string> keys;
  for (const char* k : kHeadKeys) keys.push_back(kP + k);
  AddPins(keys);
  AddCurve(keys, curve_points);
  for (const char* k : kTailKeys) keys.push_back(kP + k);
  keys.push_back(kP + "ProbeAsLimit");
  return keys;
}

std::vector<std::string> WithoutSection(const std::vector<std::string>& keys) {
  std::vector<std::string> bare;
  for (const std::string& k : keys) bare.push_back(k.substr(k.find('/') + 1));
  return bare;
}

class PluginSettingsTest : public ::testing::Test {
 protected:
  void Put(const std::string& xml) { ASSERT_TRUE(WriteBytes(path_, xml)); }
  void Load(PluginSettings& s, std::vector<std::string>* log = nullptr) {
    std::unique_ptr<XmlDom> dom = log ? std::make_unique<RecordingDom>(log) : MakeXmlDom();
    ProfileXml profile(path_, platform_, std::move(dom));
    LoadSettings(s, profile);
    profile.Close();
  }
  void Save(const PluginSettings& s, std::vector<std::string>* log = nullptr) {
    std::unique_ptr<XmlDom> dom = log ? std::make_unique<RecordingDom>(log) : MakeXmlDom();
    ProfileXml profile(path_, platform_, std::move(dom));
    SaveSettings(s, profile);
    EXPECT_TRUE(profile.Close());
  }
  // A profile holding the given plugin keys (name, text) and host keys.
  static std::string Profile(const std::vector<std::pair<std::string, std::string>>& plugin,
                             const std::vector<std::pair<std::string, std::string>>& host = {}) {
    std::string xml = "<profile>\n<Preferences>\n";
    for (const auto& [k, v] : host) xml += "<" + k + ">" + v + "</" + k + ">\n";
    xml += "</Preferences>\n<kelvro_mach_drv>\n";
    for (const auto& [k, v] : plugin) xml += "<" + k + ">" + v + "</" + k + ">\n";
    return xml + "</kelvro_mach_drv>\n</profile>\n";
  }

  TempDir dir_;
  std::string path_ = dir_.File("Mach3Mill.xml");
  sim::ScriptedPlatform platform_;
};

// Every field set to something no load would leave behind by accident.
PluginSettings Scrambled() {
  PluginSettings s;
  int v = 7001;
  for (int* f : {&s.laser_sync,     &s.laser_comp,      &s.laser_gl,         &s.pwm_freq,
                 &s.index_cnt,      &s.laser_sync_port, &s.home_retract,     &s.limit_debounce,
                 &s.home_debounce,  &s.probe_debounce,  &s.index_debounce,   &s.enc_debounce,
                 &s.other_debounce, &s.debounce_by_pin, &s.enc1_mult,        &s.enc2_mult,
                 &s.map_enc1,       &s.map_enc2,        &s.hw_mpg,           &s.mpg_feed_limit,
                 &s.thc_type,       &s.thc_nom_voltage, &s.thc_hyst_voltage, &s.thc_torch_v,
                 &s.thc_analog_v,   &s.thc_arc_detect,  &s.thc_det_voltage,  &s.thc_det_time,
                 &s.thc_dwell,      &s.kerf_detect,     &s.kerf_time,        &s.kerf_voltage,
                 &s.thc_lp,         &s.thc_lp_freq,     &s.thc_lock,         &s.thc_lock_max,
                 &s.thc_lock_min,   &s.thc_lock_cmd,    &s.manual_thc,       &s.manual_speed,
                 &s.deref_on_disc,  &s.step_freq,       &s.z_normal,         &s.z_limit_corr,
                 &s.z_start_mode,   &s.z_jog_corr,      &s.probe_as_limit,   &s.rot_soft,
                 &s.slave_home,     &s.step_rate_125khz}) {
    *f = v++;
  }
  for (int n = 0; n < 14; ++n) {
    s.deb_pin_ena[static_cast<size_t>(n)] = v++;
    s.deb_pin_time[static_cast<size_t>(n)] = v++;
  }
  for (auto& m : s.mappings) {
    m.fun = v++;
    m.type = v++;
    m.var_id = v++;
    m.z_thresh = v++;
  }
  s.l_max_feed = 1234.5;
  s.mz_offset = -3.25;
  s.steps6 = s.vel6 = s.acc6 = 77.5;
  s.spin_ratio.fill(9.5);
  s.z_file_name = "old.txt";
  s.laser_curve.count = 3;
  s.laser_curve.x = {0.0, 50.0, 100.0};
  s.laser_curve.y = {5.0, 50.0, 95.0};
  return s;
}

TEST_F(PluginSettingsTest, ProfileWithoutOurSectionGivesEveryDefault) {
  Put("<profile><Preferences><Other>1</Other></Preferences></profile>");
  PluginSettings s = Scrambled();
  Load(s);
  const int head[] = {s.laser_sync,     s.laser_comp,      s.laser_gl,       s.pwm_freq,
                      s.index_cnt,      s.laser_sync_port, s.home_retract,   s.limit_debounce,
                      s.home_debounce,  s.probe_debounce,  s.index_debounce, s.enc_debounce,
                      s.other_debounce, s.debounce_by_pin};
  const int head_defaults[] = {0, 0, 0, 10000, 1, 1, 10, 30, 30, 30, 0, 0, 30, 0};
  for (size_t i = 0; i < std::size(head); ++i) EXPECT_EQ(head[i], head_defaults[i]) << kHeadKeys[i];
  const int tail[] = {s.enc1_mult,        s.enc2_mult,      s.map_enc1,      s.map_enc2,
                      s.hw_mpg,           s.mpg_feed_limit, s.thc_type,      s.thc_nom_voltage,
                      s.thc_hyst_voltage, s.thc_torch_v,    s.thc_analog_v,  s.thc_arc_detect,
                      s.thc_det_voltage,  s.thc_det_time,   s.thc_dwell,     s.kerf_detect,
                      s.kerf_time,        s.kerf_voltage,   s.thc_lp,        s.thc_lp_freq,
                      s.thc_lock,         s.thc_lock_max,   s.thc_lock_min,  s.thc_lock_cmd,
                      s.manual_thc,       s.manual_speed,   s.deref_on_disc, s.step_freq};
  const int tail_defaults[] = {1, 1, 0,  4,  0, 0,  0, 150, 5,  250, 5000, 0,  50, 200,
                               0, 0, 10, 20, 0, 50, 0, 150, 70, 0,   0,    10, 0,  1};
  for (size_t i = 0; i < std::size(tail); ++i) EXPECT_EQ(tail[i], tail_defaults[i]) << kTailKeys[i];
  for (int n = 0; n < 14; ++n) {
    EXPECT_EQ(s.deb_pin_ena[static_cast<size_t>(n)], 0);
    EXPECT_EQ(s.deb_pin_time[static_cast<size_t>(n)], 0);
  }
  for (const auto& m : s.mappings) {
    EXPECT_EQ(m.fun, 0);
    EXPECT_EQ(m.type, 0);
    EXPECT_EQ(m.var_id, 1000);
    EXPECT_EQ(m.z_thresh, 5);
  }
  EXPECT_EQ(s.l_max_feed, 1000.0);
  EXPECT_EQ(s.mz_offset, 1e30);
  EXPECT_EQ(s.z_file_name, "zfile.txt");
  EXPECT_EQ(s.z_normal, 1);
  EXPECT_EQ(s.z_limit_corr, 1);
  EXPECT_EQ(s.z_start_mode, 0);
  EXPECT_EQ(s.z_jog_corr, 1);
  EXPECT_EQ(s.probe_as_limit, 0);
  EXPECT_EQ(s.steps6, 1000.0);
  EXPECT_EQ(s.vel6, 1.0);
  EXPECT_EQ(s.acc6, 1.0);
  EXPECT_EQ(s.rot_soft, 0);
  for (double r : s.spin_ratio) EXPECT_EQ(r, 1.0);
  EXPECT_EQ(s.slave_home, 0);
  EXPECT_EQ(s.step_rate_125khz, 0);
  // No stored curve: the one in memory stays.
  EXPECT_EQ(s.laser_curve.count, 3);
  EXPECT_EQ(s.laser_curve.y[0], 5.0);
}

TEST_F(PluginSettingsTest, LoadReadsEveryKeyInItsOrder) {
  for (int points : {0, 3}) {
    std::vector<std::pair<std::string, std::string>> plugin, host;
    for (const std::string& key : LoadOrder(points)) {
      const std::string name = key.substr(key.find('/') + 1);
      std::string value = "2";
      if (name == "LCurveCnt") value = std::to_string(points);
      if (name == "LCurveX1" || name == "LCurveY1") value = "50.";
      if (name == "LCurveX2" || name == "LCurveY2") value = "100.";
      if (name == "LCurveX0" || name == "LCurveY0") value = "0.";
      (key.rfind(kH, 0) == 0 ? host : plugin).emplace_back(name, value);
    }
    // Point keys stored although the count is 0 must not be read.
    if (points == 0) plugin.emplace_back("LCurveX0", "0.");
    Put(Profile(plugin, host));
    std::vector<std::string> log;
    PluginSettings s;
    Load(s, &log);
    EXPECT_EQ(log, LoadOrder(points)) << "points " << points;
    EXPECT_EQ(s.laser_curve.count, points == 0 ? 2 : 3);
  }
}

TEST_F(PluginSettingsTest, SaveWritesThePluginKeysInTheirOrder) {
  PluginSettings s;
  s.laser_curve.count = 4;
  s.laser_curve.x = {0.0, 20.0, 60.0, 100.0};
  s.laser_curve.y = {0.0, 10.0, 70.0, 100.0};
  std::vector<std::string> log;
  Save(s, &log);
  EXPECT_EQ(log, SaveOrder(4));
  const std::string saved = ReadBytes(path_);
  EXPECT_EQ(KeysInSection(saved, kPluginSection), WithoutSection(SaveOrder(4)));
  // Neither the Z correction keys nor the host's keys are written.
  EXPECT_EQ(saved.find("ZFileName"), std::string::npos);
  EXPECT_EQ(saved.find("MZOffset"), std::string::npos);
  EXPECT_EQ(saved.find("Preferences"), std::string::npos);
}

TEST_F(PluginSettingsTest, RealsAreStoredInTheirWrittenForm) {
  PluginSettings s;
  s.laser_curve.count = 3;
  s.laser_curve.x = {0.0, 1.0 / 3.0, 100.0};
  s.laser_curve.y = {0.5, 12.25, 100.0};
  s.l_max_feed = 1000.0;
  Save(s);
  const std::string saved = ReadBytes(path_);
  const std::pair<const char*, const char*> expected[] = {
      {"LCurveCnt", "3"},         {"LCurveX0", "0."},    {"LCurveY0", "0.5"},
      {"LCurveX1", "0.33333333"}, {"LCurveY1", "12.25"}, {"LCurveX2", "100."},
      {"LCurveY2", "100."},       {"LMaxFeed", "1000."}, {"PWMFreq", "10000"},
  };
  for (const auto& [key, text] : expected)
    EXPECT_EQ(KeyText(saved, kPluginSection, key), text) << key;
}

TEST_F(PluginSettingsTest, SavedSettingsLoadBackUnchanged) {
  PluginSettings saved = Scrambled();
  saved.laser_curve.count = 5;
  saved.laser_curve.x = {0.0, 12.5, 40.0, 77.7, 100.0};
  saved.laser_curve.y = {3.0, 20.0, 45.5, 90.0, 100.0};
  saved.pwm_freq = 25000;
  saved.index_cnt = 4;
  saved.step_freq = 0;
  Save(saved);
  PluginSettings loaded;
  Load(loaded);
  const std::pair<int, int> ints[] = {
      {loaded.laser_sync, saved.laser_sync},
      {loaded.laser_comp, saved.laser_comp},
      {loaded.laser_gl, saved.laser_gl},
      {loaded.pwm_freq, saved.pwm_freq},
      {loaded.index_cnt, saved.index_cnt},
      {loaded.laser_sync_port, saved.laser_sync_port},
      {loaded.home_retract, saved.home_retract},
      {loaded.limit_debounce, saved.limit_debounce},
      {loaded.home_debounce, saved.home_debounce},
      {loaded.probe_debounce, saved.probe_debounce},
      {loaded.index_debounce, saved.index_debounce},
      {loaded.enc_debounce, saved.enc_debounce},
      {loaded.other_debounce, saved.other_debounce},
      {loaded.debounce_by_pin, saved.debounce_by_pin},
      {loaded.enc1_mult, saved.enc1_mult},
      {loaded.enc2_mult, saved.enc2_mult},
      {loaded.map_enc1, saved.map_enc1},
      {loaded.map_enc2, saved.map_enc2},
      {loaded.hw_mpg, saved.hw_mpg},
      {loaded.mpg_feed_limit, saved.mpg_feed_limit},
      {loaded.thc_type, saved.thc_type},
      {loaded.thc_nom_voltage, saved.thc_nom_voltage},
      {loaded.thc_hyst_voltage, saved.thc_hyst_voltage},
      {loaded.thc_torch_v, saved.thc_torch_v},
      {loaded.thc_analog_v, saved.thc_analog_v},
      {loaded.thc_arc_detect, saved.thc_arc_detect},
      {loaded.thc_det_voltage, saved.thc_det_voltage},
      {loaded.thc_det_time, saved.thc_det_time},
      {loaded.thc_dwell, saved.thc_dwell},
      {loaded.kerf_detect, saved.kerf_detect},
      {loaded.kerf_time, saved.kerf_time},
      {loaded.kerf_voltage, saved.kerf_voltage},
      {loaded.thc_lp, saved.thc_lp},
      {loaded.thc_lp_freq, saved.thc_lp_freq},
      {loaded.thc_lock, saved.thc_lock},
      {loaded.thc_lock_max, saved.thc_lock_max},
      {loaded.thc_lock_min, saved.thc_lock_min},
      {loaded.thc_lock_cmd, saved.thc_lock_cmd},
      {loaded.manual_thc, saved.manual_thc},
      {loaded.manual_speed, saved.manual_speed},
      {loaded.deref_on_disc, saved.deref_on_disc},
      {loaded.step_freq, saved.step_freq},
      {loaded.probe_as_limit, saved.probe_as_limit},
  };
  for (size_t i = 0; i < std::size(ints); ++i) EXPECT_EQ(ints[i].first, ints[i].second) << i;
  EXPECT_EQ(loaded.deb_pin_ena, saved.deb_pin_ena);
  EXPECT_EQ(loaded.deb_pin_time, saved.deb_pin_time);
  for (size_t m = 0; m < 3; ++m) {
    EXPECT_EQ(loaded.mappings[m].fun, saved.mappings[m].fun);
    EXPECT_EQ(loaded.mappings[m].type, saved.mappings[m].type);
    EXPECT_EQ(loaded.mappings[m].var_id, saved.mappings[m].var_id);
    EXPECT_EQ(loaded.mappings[m].z_thresh, saved.mappings[m].z_thresh);
  }
  EXPECT_EQ(loaded.laser_curve.count, 5);
  for (size_t n = 0; n < 5; ++n) {
    EXPECT_DOUBLE_EQ(loaded.laser_curve.x[n], saved.laser_curve.x[n]);
    EXPECT_DOUBLE_EQ(loaded.laser_curve.y[n], saved.laser_curve.y[n]);
  }
  EXPECT_DOUBLE_EQ(loaded.l_max_feed, 1234.5);
  EXPECT_EQ(loaded.step_rate_125khz, 1);
  // Not part of the save: the load finds their defaults.
  EXPECT_EQ(loaded.z_file_name, "zfile.txt");
  EXPECT_EQ(loaded.mz_offset, 1e30);
}

TEST_F(PluginSettingsTest, PwmFrequencyAndIndexCountAreCorrected) {
  const struct {
    const char* pwm;
    int pwm_expected;
    const char* index;
    int index_expected;
  } cases[] = {
      {"5", 10, "0", 1},    {"9", 10, "-2", 1},       {"10", 10, "3", 3},
      {"-3", 10, "abc", 1}, {"20000", 20000, "1", 1}, {"99999999999", INT_MAX, "7x", 7},
  };
  for (const auto& c : cases) {
    Put(Profile({{"PWMFreq", c.pwm}, {"IndexCnt", c.index}}));
    PluginSettings s;
    Load(s);
    EXPECT_EQ(s.pwm_freq, c.pwm_expected) << c.pwm;
    EXPECT_EQ(s.index_cnt, c.index_expected) << c.index;
  }
}

TEST_F(PluginSettingsTest, StepFrequencyZeroSelects125kHz) {
  const std::pair<const char*, int> cases[] = {{"0", 1}, {"1", 0}, {"7", 0}, {"-1", 0}, {"x", 1}};
  for (const auto& [text, flag] : cases) {
    Put(Profile({{"StepFreq", text}}));
    PluginSettings s;
    s.step_rate_125khz = 5;
    Load(s);
    EXPECT_EQ(s.step_rate_125khz, flag) << text;
  }
}

TEST_F(PluginSettingsTest, HostPreferencesAreReadAsTheyAre) {
  std::vector<std::pair<std::string, std::string>> host = {
      {"Steps6", "3200."}, {"Vel6", "25.5"},     {"Acc6", "2.5e-001"},    {"ROTSOFT", "5"},
      {"SlaveHome", "1"},  {"SPINRATIO1", "2."}, {"SPINRATIO25", "0.75"}, {"SPINRATIO7", "x"}};
  Put(Profile({{"MZOffset", "-2.5"}}, host));
  PluginSettings s;
  Load(s);
  EXPECT_EQ(s.steps6, 3200.0);
  EXPECT_EQ(s.vel6, 25.5);
  EXPECT_EQ(s.acc6, 0.25);
  EXPECT_EQ(s.rot_soft, 1);
  EXPECT_EQ(s.slave_home, 1);
  EXPECT_EQ(s.spin_ratio[0], 2.0);
  EXPECT_EQ(s.spin_ratio[24], 0.75);
  EXPECT_EQ(s.spin_ratio[6], 0.0);  // stored text without a number
  EXPECT_EQ(s.spin_ratio[1], 1.0);  // missing
  EXPECT_EQ(s.mz_offset, -2.5);
  for (const auto& [text, flag] : {std::pair{"0", 0}, std::pair{"-1", 1}}) {
    Put(Profile({}, {{"ROTSOFT", text}}));
    Load(s);
    EXPECT_EQ(s.rot_soft, flag);
  }
}

struct CurveCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> stored;  // LCurveCnt first
  bool accepted;
};

TEST_F(PluginSettingsTest, StoredCurveIsTakenOnlyWhenItIsUsable) {
  auto points = [](const std::vector<std::pair<const char*, const char*>>& xy) {
    std::vector<std::pair<std::string, std::string>> keys{{"LCurveCnt", std::to_string(xy.size())}};
    for (size_t n = 0; n < xy.size(); ++n) {
      keys.emplace_back("LCurveX" + std::to_string(n), xy[n].first);
      keys.emplace_back("LCurveY" + std::to_string(n), xy[n].second);
    }
    return keys;
  };
  std::vector<std::pair<const char*, const char*>> twenty;
  const char* const xs[] = {"0.",  "5.",  "10.", "15.", "20.", "25.", "30.", "35.", "40.", "45.",
                            "50.", "55.", "60.", "65.", "70.", "75.", "80.", "85.", "90.", "100."};
  for (const char* x : xs) twenty.emplace_back(x, "50.");
  auto twenty_one = points(twenty);
  twenty_one[0].second = "21";
  twenty_one.emplace_back("LCurveX20", "100.");
  twenty_one.emplace_back("LCurveY20", "100.");

  const CurveCase cases[] = {
      {"three points", points({{"0.", "0."}, {"40.", "70."}, {"100.", "100."}}), true},
      {"twenty points", points(twenty), true},
      {"equal X", points({{"0.", "0."}, {"50.", "20."}, {"50.", "60."}, {"100.", "100."}}), true},
      {"number then letters", points({{"0.", "0."}, {"50abc", "20."}, {"100.", "100."}}), true},
      {"missing Y reads 0", {{"LCurveCnt", "2"}, {"LCurveX0", "0."}, {"LCurveX1", "100."}}, true},
      {"twenty-one points", twenty_one, false},
      {"huge count", {{"LCurveCnt", "1000000"}}, false},
      {"negative count", {{"LCurveCnt", "-3"}, {"LCurveX0", "0."}}, false},
      {"one point", points({{"0.", "0."}}), false},
      {"first X not 0", points({{"5.", "0."}, {"100.", "100."}}), false},
      {"last X not 100", points({{"0.", "0."}, {"90.", "100."}}), false},
      {"middle X out of order",
       points({{"0.", "0."}, {"60.", "20."}, {"40.", "30."}, {"100.", "100."}}), true},
      {"Y above 100", points({{"0.", "0."}, {"50.", "120."}, {"100.", "100."}}), false},
      {"Y below 0", points({{"0.", "-1."}, {"100.", "100."}}), false},
      {"X beyond double", points({{"0.", "0."}, {"1e999", "5."}, {"100.", "100."}}), false},
      {"not a number", points({{"0.", "0."}, {"50.", "abc"}, {"100.", "100."}}), false},
  };
  for (const CurveCase& c : cases) {
    Put(Profile(c.stored));
    PluginSettings s;
    s.laser_curve.count = 3;
    s.laser_curve.x = {0.0, 50.0, 100.0};
    s.laser_curve.y = {5.0, 50.0, 95.0};
    std::vector<std::string> log;
    Load(s, &log);
    EXPECT_TRUE(LaserCurveIsUsable(s.laser_curve)) << c.name;
    if (c.accepted) {
      const int count = std::stoi(c.stored[0].second);
      EXPECT_EQ(s.laser_curve.count, count) << c.name;
      EXPECT_EQ(s.laser_curve.x[static_cast<size_t>(count) - 1], 100.0) << c.name;
    } else {
      EXPECT_EQ(s.laser_curve.count, 3) << c.name;
      EXPECT_EQ(s.laser_curve.y[0], 5.0) << c.name;
      EXPECT_EQ(s.laser_curve.y[2], 95.0) << c.name;
    }
    // Counts outside 2..20 are not even looked at point by point.
    const int count = std::stoi(c.stored[0].second);
    const bool points_read = std::find(log.begin(), log.end(), kP + "LCurveX0") != log.end();
    EXPECT_EQ(points_read, count >= 2 && count <= 20) << c.name;
  }
}

TEST_F(PluginSettingsTest, CountZeroKeepsTheCurveInMemory) {
  Put(Profile({{"LCurveCnt", "0"}, {"LCurveX0", "0."}, {"LCurveY0", "90."}}));
  PluginSettings s;
  s.laser_curve.count = 3;
  s.laser_curve.x = {0.0, 30.0, 100.0};
  s.laser_curve.y = {1.0, 2.0, 3.0};
  Load(s);
  EXPECT_EQ(s.laser_curve.count, 3);
  EXPECT_EQ(s.laser_curve.x[1], 30.0);
  EXPECT_EQ(s.laser_curve.y[0], 1.0);
}

TEST_F(PluginSettingsTest, CurveCheckRejectsBrokenRecords) {
  LaserCurve c;
  EXPECT_TRUE(LaserCurveIsUsable(c));  // the start curve
  c.count = 21;
  EXPECT_FALSE(LaserCurveIsUsable(c));
  c.count = 2;
  c.y[1] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(LaserCurveIsUsable(c));
  c.y[1] = 100.0;
  c.x[0] = -0.0;  // equal to 0
  EXPECT_TRUE(LaserCurveIsUsable(c));
}

TEST_F(PluginSettingsTest, WholeLoadAndSaveThroughTheProfileFile) {
  Put(Profile({{"THCnomvoltage", "135"}}, {{"SlaveHome", "1"}}));
  PluginSettings s;
  EXPECT_TRUE(LoadSettingsFromProfile(s, path_, platform_));
  EXPECT_EQ(s.thc_nom_voltage, 135);
  EXPECT_EQ(s.slave_home, 1);
  s.thc_nom_voltage = 140;
  EXPECT_TRUE(SaveSettingsToProfile(s, path_, platform_));
  EXPECT_EQ(KeyText(ReadBytes(path_), kPluginSection, "THCnomvoltage"), "140");
  EXPECT_EQ(KeyText(ReadBytes(path_), kHostSection, "SlaveHome"), "1");
  EXPECT_TRUE(platform_.message_boxes.empty());
}

}  // namespace
}  // namespace kelvro
