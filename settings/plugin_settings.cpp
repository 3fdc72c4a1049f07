#include "settings/plugin_settings.h"

#include <algorithm>

#include "settings/number_text.h"
#include "settings/profile_xml.h"
#include "settings/xml_dom.h"

namespace kelvro {
namespace {

// Key prefixes of the three input mappings, in load and save order.
constexpr std::array<const char*, 3> kMappingNames{"Analog", "Encoder1", "Encoder2"};

std::string Indexed(const char* prefix, int n, const char* suffix = "") {
  return prefix + std::to_string(n) + suffix;
}

class Reader {
 public:
  explicit Reader(ProfileXml& profile) : profile_(profile) {}
  int Int(const std::string& key, int def, const char* section = kPluginSection) {
    return profile_.ReadInt(section, key, def);
  }
  LeadingReal Real(const std::string& key, const char* def, const char* section = kPluginSection) {
    return ParseLeadingReal(profile_.ReadString(section, key, def));
  }
  std::string Text(const std::string& key, const char* def) {
    return profile_.ReadString(kPluginSection, key, def);
  }

 private:
  ProfileXml& profile_;
};

class Writer {
 public:
  explicit Writer(ProfileXml& profile) : profile_(profile) {}
  void Int(const std::string& key, int value) { profile_.WriteInt(kPluginSection, key, value); }
  void Real(const std::string& key, double value) {
    profile_.WriteString(kPluginSection, key, FormatReal(value));
  }

 private:
  ProfileXml& profile_;
};

// Reads the stored laser curve. A count of 0 leaves the curve in memory untouched; a
// stored curve that is not usable (count outside 2..20, a point that is not a number,
// broken invariants) is ignored as a whole, so the spline only ever sees a sound curve.
void LoadLaserCurve(Reader& r, LaserCurve& curve) {
  const int count = r.Int("LCurveCnt", 0);
  if (count == 0) return;
  if (count < 2 || count > kLaserCurveMaxPoints) return;
  LaserCurve stored;
  stored.count = count;
  bool numbers = true;
  for (int n = 0; n < count; ++n) {
    const LeadingReal x = r.Real(Indexed("LCurveX", n), "0");
    const LeadingReal y = r.Real(Indexed("LCurveY", n), "0");
    numbers = numbers && x.found && y.found;
    stored.x[static_cast<size_t>(n)] = x.value;
    stored.y[static_cast<size_t>(n)] = y.value;
  }
  if (numbers && LaserCurveIsUsable(stored)) curve = stored;
}

}  // namespace

bool LaserCurveIsUsable(const LaserCurve& curve) {
  if (curve.count < 2 || curve.count > kLaserCurveMaxPoints) return false;
  const size_t last = static_cast<size_t>(curve.count) - 1;
  if (curve.x[0] != 0.0 || curve.x[last] != 100.0) return false;
  for (size_t i = 0; i <= last; ++i) {
    // Written so that NaN fails every test.
    if (!(curve.x[i] >= 0.0 && curve.x[i] <= 100.0)) return false;
    if (!(curve.y[i] >= 0.0 && curve.y[i] <= 100.0)) return false;
  }
  // The order of the middle points is kept as stored: a curve loaded from a file in the
  // editor may have it out of order, and dropping it would lose the user's curve at the
  // next save. The run-time spline takes the points in ascending X.
  return true;
}

void LoadSettings(PluginSettings& s, ProfileXml& profile) {
  Reader r(profile);
  s.laser_sync = r.Int("LaserSync", 0);
  s.laser_comp = r.Int("LaserComp", 0);
  s.laser_gl = r.Int("LaserGL", 0);
  s.pwm_freq = r.Int("PWMFreq", 10000);
  s.index_cnt = r.Int("IndexCnt", 1);
  s.laser_sync_port = r.Int("LaserSyncPort", 1);
  s.home_retract = r.Int("HomeRetract", 10);
  s.limit_debounce = r.Int("LimitDebounce", 30);
  s.home_debounce = r.Int("HomeDebounce", 30);
  s.probe_debounce = r.Int("ProbeDebounce", 30);
  s.index_debounce = r.Int("IndexDebounce", 0);
  s.enc_debounce = r.Int("EncDebounce", 0);
  s.other_debounce = r.Int("OtherDebounce", 30);
  s.debounce_by_pin = r.Int("DebounceByPin", 0);

  // A spindle with no (or a negative number of) index pulses per turn makes no sense to
  // the controller; one pulse is the neutral value.
  if (s.index_cnt <= 0) s.index_cnt = 1;
  if (s.pwm_freq < 10) s.pwm_freq = 10;

  s.steps6 = r.Real("Steps6", "1000.", kHostSection).value;
  s.vel6 = r.Real("Vel6", "1.", kHostSection).value;
  s.acc6 = r.Real("Acc6", "1.", kHostSection).value;
  s.rot_soft = r.Int("ROTSOFT", 0, kHostSection) != 0 ? 1 : 0;
  for (int p = 0; p < kPulleyRatioCount; ++p) {
    s.spin_ratio[static_cast<size_t>(p)] =
        r.Real(Indexed("SPINRATIO", p + 1), "1.", kHostSection).value;
  }

  for (int n = 0; n < kDebouncePinCount; ++n) {
    s.deb_pin_ena[static_cast<size_t>(n)] = r.Int(Indexed("DebPin", n, "_ena"), 0);
    s.deb_pin_time[static_cast<size_t>(n)] = r.Int(Indexed("DebPin", n, "_time"), 0);
  }

  LoadLaserCurve(r, s.laser_curve);
  s.l_max_feed = r.Real("LMaxFeed", "1000").value;

  for (size_t m = 0; m < kMappingNames.size(); ++m) {
    const std::string name = kMappingNames[m];
    InputMapping& map = s.mappings[m];
    map.fun = r.Int(name + "Fun", 0);
    map.type = r.Int(name + "Type", 0);
    map.var_id = r.Int(name + "VarID", 1000);
    map.z_thresh = r.Int(name + "ZThresh", 5);
  }

  s.enc1_mult = r.Int("Enc1Mult", 1);
  s.enc2_mult = r.Int("Enc2Mult", 1);
  s.map_enc1 = r.Int("MapEnc1", 0);
  s.map_enc2 = r.Int("MapEnc2", 4);
  s.hw_mpg = r.Int("HwMPG", 0);
  s.mpg_feed_limit = r.Int("MPGfeedlimit", 0);
  s.thc_type = r.Int("THCtype", 0);
  s.thc_nom_voltage = r.Int("THCnomvoltage", 150);
  s.thc_hyst_voltage = r.Int("THChystvoltage", 5);
  s.thc_torch_v = r.Int("THCtorchv", 250);
  s.thc_analog_v = r.Int("THCanalogv", 5000);
  s.thc_arc_detect = r.Int("THCarcDetect", 0);
  s.thc_det_voltage = r.Int("THCdetVoltage", 50);
  s.thc_det_time = r.Int("THCdetTime", 200);
  s.thc_dwell = r.Int("THCDwell", 0);
  s.kerf_detect = r.Int("KerfDetect", 0);
  s.kerf_time = r.Int("KerfTime", 10);
  s.kerf_voltage = r.Int("KerfVoltage", 20);
  s.thc_lp = r.Int("THCLP", 0);
  s.thc_lp_freq = r.Int("THCLPFreq", 50);
  s.thc_lock = r.Int("THCLock", 0);
  s.thc_lock_max = r.Int("THCLockMax", 150);
  s.thc_lock_min = r.Int("THCLockMin", 70);
  s.thc_lock_cmd = r.Int("THCLockCmd", 0);
  s.manual_thc = r.Int("ManualTHC", 0);
  s.manual_speed = r.Int("ManualSpeed", 10);
  s.deref_on_disc = r.Int("DerefOnDisc", 0);
  s.step_freq = r.Int("StepFreq", 1);

  s.z_file_name = r.Text("ZFileName", "zfile.txt");
  s.z_normal = r.Int("ZNormal", 1);
  s.z_limit_corr = r.Int("ZLimitCorr", 1);
  s.z_start_mode = r.Int("ZStartMode", 0);
  s.z_jog_corr = r.Int("ZJogCorr", 1);
  s.mz_offset = r.Real("MZOffset", "1e30").value;

  s.step_rate_125khz = s.step_freq == 0 ? 1 : 0;
  s.probe_as_limit = r.Int("ProbeAsLimit", 0);
  s.slave_home = r.Int("SlaveHome", 0, kHostSection);
}

void SaveSettings(const PluginSettings& s, ProfileXml& profile) {
  Writer w(profile);
  w.Int("LaserSync", s.laser_sync);
  w.Int("LaserComp", s.laser_comp);
  w.Int("LaserGL", s.laser_gl);
  w.Int("PWMFreq", s.pwm_freq);
  w.Int("IndexCnt", s.index_cnt);
  w.Int("LaserSyncPort", s.laser_sync_port);
  w.Int("HomeRetract", s.home_retract);
  w.Int("LimitDebounce", s.limit_debounce);
  w.Int("HomeDebounce", s.home_debounce);
  w.Int("ProbeDebounce", s.probe_debounce);
  w.Int("IndexDebounce", s.index_debounce);
  w.Int("EncDebounce", s.enc_debounce);
  w.Int("OtherDebounce", s.other_debounce);
  w.Int("DebounceByPin", s.debounce_by_pin);
  for (int n = 0; n < kDebouncePinCount; ++n) {
    w.Int(Indexed("DebPin", n, "_ena"), s.deb_pin_ena[static_cast<size_t>(n)]);
    w.Int(Indexed("DebPin", n, "_time"), s.deb_pin_time[static_cast<size_t>(n)]);
  }
  // The record never holds more than 20 points; a count outside that is not written as is.
  const int count = std::clamp(s.laser_curve.count, 0, kLaserCurveMaxPoints);
  w.Int("LCurveCnt", count);
  for (int n = 0; n < count; ++n) {
    w.Real(Indexed("LCurveX", n), s.laser_curve.x[static_cast<size_t>(n)]);
    w.Real(Indexed("LCurveY", n), s.laser_curve.y[static_cast<size_t>(n)]);
  }
  w.Real("LMaxFeed", s.l_max_feed);
  for (size_t m = 0; m < kMappingNames.size(); ++m) {
    const std::string name = kMappingNames[m];
    const InputMapping& map = s.mappings[m];
    w.Int(name + "Fun", map.fun);
    w.Int(name + "Type", map.type);
    w.Int(name + "VarID", map.var_id);
    w.Int(name + "ZThresh", map.z_thresh);
  }
  w.Int("Enc1Mult", s.enc1_mult);
  w.Int("Enc2Mult", s.enc2_mult);
  w.Int("MapEnc1", s.map_enc1);
  w.Int("MapEnc2", s.map_enc2);
  w.Int("HwMPG", s.hw_mpg);
  w.Int("MPGfeedlimit", s.mpg_feed_limit);
  w.Int("THCtype", s.thc_type);
  w.Int("THCnomvoltage", s.thc_nom_voltage);
  w.Int("THChystvoltage", s.thc_hyst_voltage);
  w.Int("THCtorchv", s.thc_torch_v);
  w.Int("THCanalogv", s.thc_analog_v);
  w.Int("THCarcDetect", s.thc_arc_detect);
  w.Int("THCdetVoltage", s.thc_det_voltage);
  w.Int("THCdetTime", s.thc_det_time);
  w.Int("THCDwell", s.thc_dwell);
  w.Int("KerfDetect", s.kerf_detect);
  w.Int("KerfTime", s.kerf_time);
  w.Int("KerfVoltage", s.kerf_voltage);
  w.Int("THCLP", s.thc_lp);
  w.Int("THCLPFreq", s.thc_lp_freq);
  w.Int("THCLock", s.thc_lock);
  w.Int("THCLockMax", s.thc_lock_max);
  w.Int("THCLockMin", s.thc_lock_min);
  w.Int("THCLockCmd", s.thc_lock_cmd);
  w.Int("ManualTHC", s.manual_thc);
  w.Int("ManualSpeed", s.manual_speed);
  w.Int("DerefOnDisc", s.deref_on_disc);
  w.Int("StepFreq", s.step_freq);
  w.Int("ProbeAsLimit", s.probe_as_limit);
}

bool LoadSettingsFromProfile(PluginSettings& settings, const std::string& path,
                             UserMessages& messages) {
  try {
    ProfileXml profile(path, messages, MakeXmlDom());
    LoadSettings(settings, profile);
    const bool opened =
        profile.has_document() && profile.load_outcome() != XmlLoadOutcome::kUnreadable;
    profile.Close();
    return opened;
  } catch (...) {
    return false;
  }
}

bool SaveSettingsToProfile(const PluginSettings& settings, const std::string& path,
                           UserMessages& messages) {
  try {
    ProfileXml profile(path, messages, MakeXmlDom());
    SaveSettings(settings, profile);
    return profile.Close();
  } catch (...) {
    return false;
  }
}

}  // namespace kelvro
