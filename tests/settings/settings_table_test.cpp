// The settings table as data: each key once, each entry bound to a field of its own, ranges
// that hold their defaults.
#include "settings/settings_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace kelvro {
namespace {

TEST(SettingsTable, EveryKeyAppearsOncePerSection) {
  std::set<std::string> seen;
  for (const SettingDetail& d : SettingsTable()) {
    const std::string id = (d.section == SettingSection::kHost ? "host/" : "plugin/") + d.key;
    EXPECT_TRUE(seen.insert(id).second) << id;
  }
}

// Writes a distinct value through every entry and reads all of them back: two entries bound to
// one field (a copy-and-paste slip) would read the later value twice.
TEST(SettingsTable, EveryEntryBindsAFieldOfItsOwn) {
  PluginSettings s;
  int n = 1;
  for (const SettingDetail& d : SettingsTable()) {
    if (d.kind == SettingKind::kInt) IntField(s, d) = 1000 + n;
    if (d.kind == SettingKind::kReal) RealField(s, d) = 0.5 + n;
    if (d.kind == SettingKind::kText) TextField(s, d) = std::to_string(n);
    ++n;
  }
  n = 1;
  for (const SettingDetail& d : SettingsTable()) {
    if (d.kind == SettingKind::kInt) {
      EXPECT_EQ(IntValue(s, d), 1000 + n) << d.key;
    } else if (d.kind == SettingKind::kReal) {
      EXPECT_EQ(RealValue(s, d), 0.5 + n) << d.key;
    } else if (d.kind == SettingKind::kText) {
      EXPECT_EQ(TextValue(s, d), std::to_string(n)) << d.key;
    }
    ++n;
  }
}

TEST(SettingsTable, RangesAreOrderedAndHoldTheirDefaults) {
  int ranged = 0;
  for (const SettingDetail& d : SettingsTable()) {
    if (!d.range) continue;
    ++ranged;
    EXPECT_EQ(d.kind, SettingKind::kInt) << d.key;
    EXPECT_LE(d.range->min, d.range->max) << d.key;
    EXPECT_GE(d.int_default, d.range->min) << d.key;
    EXPECT_LE(d.int_default, d.range->max) << d.key;
  }
  EXPECT_GT(ranged, 20);
}

TEST(SettingsTable, OnlyPluginKeysAreSaved) {
  for (const SettingDetail& d : SettingsTable()) {
    if (d.section == SettingSection::kHost) {
      EXPECT_FALSE(d.saved) << d.key;
    }
  }
  ASSERT_NE(FindSetting("PWMFreq"), nullptr);
  EXPECT_EQ(FindSetting("PWMFreq")->range->max, 200000);
  EXPECT_EQ(FindSetting("Steps6"), nullptr);  // a host key, not the plugin's
  EXPECT_EQ(FindSetting("NoSuchKey"), nullptr);
}

}  // namespace
}  // namespace kelvro
