// One table describes every setting of the plugin: profile key, section, kind, default, the
// range the dialog pages check, whether the plugin saves it, and the field of PluginSettings
// it binds. The table is in load order; saving writes the saved entries in the same order.
// It drives the defaults, the profile load (with its corrections), the save, and the pages'
// range checks, so that a key is written once in the whole tree.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/plugin_settings.h"

namespace kelvro {

// Names of the three input mappings (the analog input, controller encoders 1 and 2): the
// prefixes of their keys, in load and save order, and the names the pages show.
inline constexpr std::array<const char*, 3> kInputMappingNames{"Analog", "Encoder1", "Encoder2"};

enum class SettingKind {
  kInt,         // integer key, read and written through the profile's integer access
  kReal,        // real key, read as text (leading number) and written in the real form
  kText,        // text key
  kLaserCurve,  // LCurveCnt with its points LCurveX<n>, LCurveY<n>
};

enum class SettingSection { kPlugin, kHost };

// An inclusive integer range checked by the dialog pages.
struct SettingRange {
  int64_t min = 0;
  int64_t max = 0;
};

struct SettingDetail {
  std::string key;
  SettingSection section = SettingSection::kPlugin;
  SettingKind kind = SettingKind::kInt;
  int int_default = 0;
  std::string text_default;  // the default text of real and text keys
  bool saved = true;         // written when the plugin saves
  std::optional<SettingRange> range;
  // The bound field (by kind); `index` is the field's index for the table entries of one
  // array or mapping.
  int index = 0;
  int* (*int_field)(PluginSettings&, int index) = nullptr;
  double* (*real_field)(PluginSettings&, int index) = nullptr;
  std::string* (*text_field)(PluginSettings&, int index) = nullptr;
  // Correction or derived value applied right after the key was read.
  void (*after_load)(PluginSettings&) = nullptr;
};

// The whole table, in load order.
const std::vector<SettingDetail>& SettingsTable();
// The entry of `key` in the plugin's own section, or null.
const SettingDetail* FindSetting(std::string_view key);

// The bound fields of an entry, for writing and for reading.
int& IntField(PluginSettings& settings, const SettingDetail& detail);
double& RealField(PluginSettings& settings, const SettingDetail& detail);
std::string& TextField(PluginSettings& settings, const SettingDetail& detail);
int IntValue(const PluginSettings& settings, const SettingDetail& detail);
double RealValue(const PluginSettings& settings, const SettingDetail& detail);
const std::string& TextValue(const PluginSettings& settings, const SettingDetail& detail);

// Every field set to its default (the start values before any load).
void ApplySettingDefaults(PluginSettings& settings);

}  // namespace kelvro
