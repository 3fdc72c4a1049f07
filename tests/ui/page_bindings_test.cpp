// Every page model's binding table against the settings table: each key is in the plugin's
// section, the binding's kind exchanges the setting's type and its field is the setting's
// field, every value a save can store lies inside the table's range, and no control is
// bound twice on one page. The models are built as the plugin builds them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "plugin/plugin.h"
#include "settings/settings_table.h"
#include "sim/standin_host.h"
#include "ui/config_dialog.h"
#include "ui/page_model.h"

namespace kelvro {
namespace {

bool BindsField(const Binding& b, PluginSettings& settings, const SettingDetail& detail) {
  switch (detail.kind) {
    case SettingKind::kInt:
      return b.field() == BoundField(&IntField(settings, detail));
    case SettingKind::kReal:
      return b.field() == BoundField(&RealField(settings, detail));
    case SettingKind::kText:
      return b.field() == BoundField(&TextField(settings, detail));
    case SettingKind::kLaserCurve:
      return false;
  }
  return false;
}

// What is wrong with one binding, empty when nothing is.
std::string Problem(const Binding& b, PluginSettings& settings) {
  const std::string name = "control " + std::to_string(b.control()) + " (" + b.key() + ")";
  if (b.key().empty()) return b.resolved() ? std::string() : name + ": binds no field";
  const SettingDetail* detail = FindSetting(b.key());
  if (!detail) return name + ": the key is not in the settings table";
  // A binding by key holds no field only when its kind cannot exchange the setting's type.
  if (!b.resolved()) return name + ": the kind does not match";
  if (!BindsField(b, settings, *detail)) return name + ": not the setting's field";
  const auto stored = b.StoredRange();
  if (detail->range && stored &&
      (stored->first < detail->range->min || stored->second > detail->range->max)) {
    return name + ": stores " + std::to_string(stored->first) + " to " +
           std::to_string(stored->second) + ", the table allows " +
           std::to_string(detail->range->min) + " to " + std::to_string(detail->range->max);
  }
  return {};
}

std::vector<std::string> Problems(std::span<const Binding> bindings, PluginSettings& settings) {
  std::vector<std::string> problems;
  std::set<int> controls;
  for (const Binding& b : bindings) {
    if (std::string problem = Problem(b, settings); !problem.empty()) problems.push_back(problem);
    const std::vector<int> ids = b.kind() == BindingKind::kRadioGroup
                                     ? std::vector<int>(b.buttons().begin(), b.buttons().end())
                                     : std::vector<int>{b.control()};
    for (int id : ids) {
      if (!controls.insert(id).second) problems.push_back(std::to_string(id) + " bound twice");
    }
  }
  return problems;
}

TEST(PageBindings, EveryPageModelBindsWhatTheSettingsTableHolds) {
  sim::HostOf<Plugin> host;
  host.DescribeMill();
  host.StartUp();
  ConfigDialogModel& dialog = host.plugin().config_dialog();
  std::vector<PageModel*> pages;
  for (int i = 0; i < dialog.tab_count(); ++i) pages.push_back(&dialog.page(i));
  pages.push_back(&dialog.probe_log_dialog());
  pages.push_back(&dialog.thc().advanced());
  size_t bound = 0;
  for (PageModel* page : pages) {
    SCOPED_TRACE("template " + std::to_string(page->template_id()));
    EXPECT_EQ(Problems(page->bindings(), host.plugin().settings()), std::vector<std::string>{});
    bound += page->bindings().size();
  }
  // The General page, the probe log options, the Input filter, the Analog input & encoder
  // the THC options and Z correction pages, and the advanced THC options.
  EXPECT_EQ(bound, 12u + 7u + 7u + 4u + 10u + 11u + 4u);
}

TEST(PageBindings, TheCheckNamesEveryWrongBinding) {
  PluginSettings settings;
  ApplySettingDefaults(settings);
  constexpr std::array<const char*, 3> kThree{"a", "b", "c"};
  int own = 0;
  const std::vector<Binding> wrong{
      Binding::Unsigned(1, settings, "PWMFreqq"),              // misspelt
      Binding::Number(2, settings, "HomeRetract"),             // an integer setting
      Binding::Text(3, settings, "LMaxFeed"),                  // a real setting
      Binding::Check(4, settings, "THCnomvoltage"),            // 0 is below 1 to 300
      Binding::RadioGroup({5, 6, 7}, settings, "AnalogType"),  // 2 is above 0 to 1
      Binding::Choice(8, settings, "EncDebounce", kThree),     // fine
      Binding::Check(8, own)};                                 // control 8 again
  EXPECT_EQ(
      Problems(wrong, settings),
      (std::vector<std::string>{
          "control 1 (PWMFreqq): the key is not in the settings table",
          "control 2 (HomeRetract): the kind does not match",
          "control 3 (LMaxFeed): the kind does not match",
          "control 4 (THCnomvoltage): stores 0 to 1, the table allows 1 to 300",
          "control 5 (AnalogType): stores 0 to 2, the table allows 0 to 1", "8 bound twice"}));
}

}  // namespace
}  // namespace kelvro
