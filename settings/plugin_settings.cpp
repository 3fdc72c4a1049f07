#include "settings/plugin_settings.h"

#include <algorithm>

#include "settings/number_text.h"
#include "settings/profile_xml.h"
#include "settings/settings_table.h"
#include "settings/xml_dom.h"

namespace kelvro {
namespace {

std::string Indexed(const char* prefix, int n) {
  return prefix + std::to_string(n);
}

const char* SectionName(SettingSection section) {
  return section == SettingSection::kHost ? kHostSection : kPluginSection;
}

// Reads the stored laser curve. A count of 0 leaves the curve in memory untouched; a
// stored curve that is not usable (count outside 2..20, a point that is not a number,
// broken invariants) is ignored as a whole, so the spline only ever sees a sound curve.
void LoadLaserCurve(ProfileXml& profile, LaserCurve& curve) {
  const int count = profile.ReadInt(kPluginSection, "LCurveCnt", 0);
  if (count == 0) return;
  if (count < 2 || count > kLaserCurveMaxPoints) return;
  LaserCurve stored;
  stored.count = count;
  bool numbers = true;
  for (int n = 0; n < count; ++n) {
    const LeadingReal x =
        ParseLeadingReal(profile.ReadString(kPluginSection, Indexed("LCurveX", n), "0"));
    const LeadingReal y =
        ParseLeadingReal(profile.ReadString(kPluginSection, Indexed("LCurveY", n), "0"));
    numbers = numbers && x.found && y.found;
    stored.x[static_cast<size_t>(n)] = x.value;
    stored.y[static_cast<size_t>(n)] = y.value;
  }
  if (numbers && LaserCurveIsUsable(stored)) curve = stored;
}

void SaveLaserCurve(ProfileXml& profile, const LaserCurve& curve) {
  // The record never holds more than 20 points; a count outside that is not written as is.
  const int count = std::clamp(curve.count, 0, kLaserCurveMaxPoints);
  profile.WriteInt(kPluginSection, "LCurveCnt", count);
  for (int n = 0; n < count; ++n) {
    profile.WriteString(kPluginSection, Indexed("LCurveX", n),
                        FormatReal(curve.x[static_cast<size_t>(n)]));
    profile.WriteString(kPluginSection, Indexed("LCurveY", n),
                        FormatReal(curve.y[static_cast<size_t>(n)]));
  }
}

}  // namespace

PluginSettings::PluginSettings() {
  ApplySettingDefaults(*this);
}

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
  for (const SettingDetail& d : SettingsTable()) {
    const char* section = SectionName(d.section);
    switch (d.kind) {
      case SettingKind::kInt:
        IntField(s, d) = profile.ReadInt(section, d.key, d.int_default);
        break;
      case SettingKind::kReal:
        RealField(s, d) =
            ParseLeadingReal(profile.ReadString(section, d.key, d.text_default)).value;
        break;
      case SettingKind::kText:
        TextField(s, d) = profile.ReadString(section, d.key, d.text_default);
        break;
      case SettingKind::kLaserCurve:
        LoadLaserCurve(profile, s.laser_curve);
        break;
    }
    if (d.after_load) d.after_load(s);
  }
}

void SaveSettings(const PluginSettings& s, ProfileXml& profile) {
  for (const SettingDetail& d : SettingsTable()) {
    if (!d.saved) continue;
    const char* section = SectionName(d.section);
    switch (d.kind) {
      case SettingKind::kInt:
        profile.WriteInt(section, d.key, IntValue(s, d));
        break;
      case SettingKind::kReal:
        profile.WriteString(section, d.key, FormatReal(RealValue(s, d)));
        break;
      case SettingKind::kText:
        profile.WriteString(section, d.key, TextValue(s, d));
        break;
      case SettingKind::kLaserCurve:
        SaveLaserCurve(profile, s.laser_curve);
        break;
    }
  }
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
