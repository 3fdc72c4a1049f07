#include "settings/settings_table.h"

#include <array>
#include <cstdio>

#include "settings/number_text.h"

namespace kelvro {
namespace {

std::string Indexed(const char* format, int n) {
  char key[64];
  std::snprintf(key, sizeof key, format, n);
  return key;
}

class TableBuilder {
 public:
  std::vector<SettingDetail> rows;

  SettingDetail& Int(std::string key, int def, int* (*field)(PluginSettings&, int), int index = 0) {
    SettingDetail& d = Add(std::move(key), SettingKind::kInt, index);
    d.int_default = def;
    d.int_field = field;
    return d;
  }
  SettingDetail& Real(std::string key, const char* def, double* (*field)(PluginSettings&, int),
                      int index = 0) {
    SettingDetail& d = Add(std::move(key), SettingKind::kReal, index);
    d.text_default = def;
    d.real_field = field;
    return d;
  }
  SettingDetail& Text(std::string key, const char* def,
                      std::string* (*field)(PluginSettings&, int)) {
    SettingDetail& d = Add(std::move(key), SettingKind::kText, 0);
    d.text_default = def;
    d.text_field = field;
    return d;
  }
  SettingDetail& Curve() { return Add("LCurveCnt", SettingKind::kLaserCurve, 0); }

 private:
  SettingDetail& Add(std::string key, SettingKind kind, int index) {
    SettingDetail d;
    d.key = std::move(key);
    d.kind = kind;
    d.index = index;
    rows.push_back(std::move(d));
    return rows.back();
  }
};

SettingDetail& Range(SettingDetail& d, int64_t min, int64_t max) {
  d.range = SettingRange{min, max};
  return d;
}

// Read from the host's own section, never written.
SettingDetail& Host(SettingDetail& d) {
  d.section = SettingSection::kHost;
  d.saved = false;
  return d;
}

SettingDetail& NotSaved(SettingDetail& d) {
  d.saved = false;
  return d;
}

// A field bound by a plain pointer-to-member, as a function the table can hold.
#define KELVRO_INT_FIELD(member) [](PluginSettings& s, int) { return &s.member; }
#define KELVRO_REAL_FIELD(member) [](PluginSettings& s, int) -> double* { return &s.member; }

std::vector<SettingDetail> BuildTable() {
  constexpr int64_t kDebounceMax = 10000;
  TableBuilder t;
  t.Int("LaserSync", 0, KELVRO_INT_FIELD(laser_sync));
  t.Int("LaserComp", 0, KELVRO_INT_FIELD(laser_comp));
  t.Int("LaserGL", 0, KELVRO_INT_FIELD(laser_gl));
  Range(t.Int("PWMFreq", 10000, KELVRO_INT_FIELD(pwm_freq)), 10, 200000).after_load =
      [](PluginSettings& s) {
        if (s.pwm_freq < 10) s.pwm_freq = 10;
      };
  // A spindle with no (or a negative number of) index pulses per turn makes no sense to the
  // controller; one pulse is the neutral value.
  Range(t.Int("IndexCnt", 1, KELVRO_INT_FIELD(index_cnt)), 1, 2000).after_load =
      [](PluginSettings& s) {
        if (s.index_cnt <= 0) s.index_cnt = 1;
      };
  Range(t.Int("LaserSyncPort", 1, KELVRO_INT_FIELD(laser_sync_port)), 1, 6);
  Range(t.Int("HomeRetract", 10, KELVRO_INT_FIELD(home_retract)), 1, 100);
  Range(t.Int("LimitDebounce", 30, KELVRO_INT_FIELD(limit_debounce)), 0, kDebounceMax);
  Range(t.Int("HomeDebounce", 30, KELVRO_INT_FIELD(home_debounce)), 0, kDebounceMax);
  Range(t.Int("ProbeDebounce", 30, KELVRO_INT_FIELD(probe_debounce)), 0, kDebounceMax);
  Range(t.Int("IndexDebounce", 0, KELVRO_INT_FIELD(index_debounce)), 0, kDebounceMax);
  Range(t.Int("EncDebounce", 0, KELVRO_INT_FIELD(enc_debounce)), 0, kDebounceMax);
  Range(t.Int("OtherDebounce", 30, KELVRO_INT_FIELD(other_debounce)), 0, kDebounceMax);
  t.Int("DebounceByPin", 0, KELVRO_INT_FIELD(debounce_by_pin));

  Host(t.Real("Steps6", "1000.", KELVRO_REAL_FIELD(steps6)));
  Host(t.Real("Vel6", "1.", KELVRO_REAL_FIELD(vel6)));
  Host(t.Real("Acc6", "1.", KELVRO_REAL_FIELD(acc6)));
  Host(t.Int("ROTSOFT", 0, KELVRO_INT_FIELD(rot_soft))).after_load = [](PluginSettings& s) {
    s.rot_soft = s.rot_soft != 0 ? 1 : 0;
  };
  for (int p = 0; p < kPulleyRatioCount; ++p) {
    Host(t.Real(
        Indexed("SPINRATIO%d", p + 1), "1.",
        [](PluginSettings& s, int i) { return &s.spin_ratio[static_cast<size_t>(i)]; }, p));
  }

  for (int n = 0; n < kDebouncePinCount; ++n) {
    t.Int(
        Indexed("DebPin%d_ena", n), 0,
        [](PluginSettings& s, int i) { return &s.deb_pin_ena[static_cast<size_t>(i)]; }, n);
    Range(t.Int(
              Indexed("DebPin%d_time", n), 0,
              [](PluginSettings& s, int i) { return &s.deb_pin_time[static_cast<size_t>(i)]; }, n),
          0, kDebounceMax);
  }

  t.Curve();
  t.Real("LMaxFeed", "1000", KELVRO_REAL_FIELD(l_max_feed));

  for (int m = 0; m < static_cast<int>(kInputMappingNames.size()); ++m) {
    const std::string name = kInputMappingNames[static_cast<size_t>(m)];
    Range(t.Int(
              name + "Fun", 0,
              [](PluginSettings& s, int i) { return &s.mappings[static_cast<size_t>(i)].fun; }, m),
          0, 5);
    Range(t.Int(
              name + "Type", 0,
              [](PluginSettings& s, int i) { return &s.mappings[static_cast<size_t>(i)].type; }, m),
          0, 1);
    Range(
        t.Int(
            name + "VarID", 1000,
            [](PluginSettings& s, int i) { return &s.mappings[static_cast<size_t>(i)].var_id; }, m),
        0, 14999);
    Range(t.Int(
              name + "ZThresh", 5,
              [](PluginSettings& s, int i) { return &s.mappings[static_cast<size_t>(i)].z_thresh; },
              m),
          0, 1000);
  }

  t.Int("Enc1Mult", 1, KELVRO_INT_FIELD(enc1_mult));
  t.Int("Enc2Mult", 1, KELVRO_INT_FIELD(enc2_mult));
  t.Int("MapEnc1", 0, KELVRO_INT_FIELD(map_enc1));
  t.Int("MapEnc2", 4, KELVRO_INT_FIELD(map_enc2));
  t.Int("HwMPG", 0, KELVRO_INT_FIELD(hw_mpg));
  t.Int("MPGfeedlimit", 0, KELVRO_INT_FIELD(mpg_feed_limit));
  t.Int("THCtype", 0, KELVRO_INT_FIELD(thc_type));
  Range(t.Int("THCnomvoltage", 150, KELVRO_INT_FIELD(thc_nom_voltage)), 1, 300);
  Range(t.Int("THChystvoltage", 5, KELVRO_INT_FIELD(thc_hyst_voltage)), 0, 50);
  Range(t.Int("THCtorchv", 250, KELVRO_INT_FIELD(thc_torch_v)), 1, 400);
  Range(t.Int("THCanalogv", 5000, KELVRO_INT_FIELD(thc_analog_v)), 500, 5000);
  t.Int("THCarcDetect", 0, KELVRO_INT_FIELD(thc_arc_detect));
  Range(t.Int("THCdetVoltage", 50, KELVRO_INT_FIELD(thc_det_voltage)), 0, 400);
  Range(t.Int("THCdetTime", 200, KELVRO_INT_FIELD(thc_det_time)), 1, 1000);
  t.Int("THCDwell", 0, KELVRO_INT_FIELD(thc_dwell));
  t.Int("KerfDetect", 0, KELVRO_INT_FIELD(kerf_detect));
  Range(t.Int("KerfTime", 10, KELVRO_INT_FIELD(kerf_time)), 1, 250);
  Range(t.Int("KerfVoltage", 20, KELVRO_INT_FIELD(kerf_voltage)), 1, 200);
  t.Int("THCLP", 0, KELVRO_INT_FIELD(thc_lp));
  Range(t.Int("THCLPFreq", 50, KELVRO_INT_FIELD(thc_lp_freq)), 1, 500);
  t.Int("THCLock", 0, KELVRO_INT_FIELD(thc_lock));
  Range(t.Int("THCLockMax", 150, KELVRO_INT_FIELD(thc_lock_max)), 0, 200);
  Range(t.Int("THCLockMin", 70, KELVRO_INT_FIELD(thc_lock_min)), 0, 200);
  t.Int("THCLockCmd", 0, KELVRO_INT_FIELD(thc_lock_cmd));
  t.Int("ManualTHC", 0, KELVRO_INT_FIELD(manual_thc));
  Range(t.Int("ManualSpeed", 10, KELVRO_INT_FIELD(manual_speed)), 1, 100);
  t.Int("DerefOnDisc", 0, KELVRO_INT_FIELD(deref_on_disc));
  // StepFreq 0 selects the 125 kHz step rate.
  t.Int("StepFreq", 1, KELVRO_INT_FIELD(step_freq)).after_load = [](PluginSettings& s) {
    s.step_rate_125khz = s.step_freq == 0 ? 1 : 0;
  };

  // The Z correction keys are read, never saved by the plugin's save.
  NotSaved(t.Text("ZFileName", "zfile.txt", [](PluginSettings& s, int) { return &s.z_file_name; }));
  NotSaved(t.Int("ZNormal", 1, KELVRO_INT_FIELD(z_normal)));
  NotSaved(t.Int("ZLimitCorr", 1, KELVRO_INT_FIELD(z_limit_corr)));
  NotSaved(t.Int("ZStartMode", 0, KELVRO_INT_FIELD(z_start_mode)));
  NotSaved(t.Int("ZJogCorr", 1, KELVRO_INT_FIELD(z_jog_corr)));
  NotSaved(t.Real("MZOffset", "1e30", KELVRO_REAL_FIELD(mz_offset)));

  t.Int("ProbeAsLimit", 0, KELVRO_INT_FIELD(probe_as_limit));
  Host(t.Int("SlaveHome", 0, KELVRO_INT_FIELD(slave_home)));
  return std::move(t.rows);
}

#undef KELVRO_INT_FIELD
#undef KELVRO_REAL_FIELD

}  // namespace

const std::vector<SettingDetail>& SettingsTable() {
  static const std::vector<SettingDetail> table = BuildTable();
  return table;
}

const SettingDetail* FindSetting(std::string_view key) {
  for (const SettingDetail& d : SettingsTable()) {
    if (d.key == key && d.section == SettingSection::kPlugin) return &d;
  }
  return nullptr;
}

int& IntField(PluginSettings& settings, const SettingDetail& detail) {
  return *detail.int_field(settings, detail.index);
}

double& RealField(PluginSettings& settings, const SettingDetail& detail) {
  return *detail.real_field(settings, detail.index);
}

std::string& TextField(PluginSettings& settings, const SettingDetail& detail) {
  return *detail.text_field(settings, detail.index);
}

// The bound-field functions only take the field's address, so reading through them from a
// const record is sound.
int IntValue(const PluginSettings& settings, const SettingDetail& detail) {
  return IntField(const_cast<PluginSettings&>(settings), detail);
}

double RealValue(const PluginSettings& settings, const SettingDetail& detail) {
  return RealField(const_cast<PluginSettings&>(settings), detail);
}

const std::string& TextValue(const PluginSettings& settings, const SettingDetail& detail) {
  return TextField(const_cast<PluginSettings&>(settings), detail);
}

void ApplySettingDefaults(PluginSettings& settings) {
  for (const SettingDetail& d : SettingsTable()) {
    switch (d.kind) {
      case SettingKind::kInt:
        IntField(settings, d) = d.int_default;
        break;
      case SettingKind::kReal:
        RealField(settings, d) = ParseLeadingReal(d.text_default).value;
        break;
      case SettingKind::kText:
        TextField(settings, d) = d.text_default;
        break;
      case SettingKind::kLaserCurve:
        // The curve keeps its start points until a profile stores a usable one.
        break;
    }
    if (d.after_load) d.after_load(settings);
  }
}

}  // namespace kelvro
