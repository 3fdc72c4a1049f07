#include "ui/general_page.h"

#include "resources/resource_ids.h"

namespace kelvro {

int GeneralPage::template_id() const {
  return IDD_PAGE_GENERAL;
}

ExchangeResult GeneralPage::Exchange(DialogControls& controls, ExchangeDirection direction) {
  PluginSettings& s = settings_;
  // In the page's exchange order; each range is checked right after its field.
  const std::array<Binding, 12> bindings{
      SettingBinding(IDC_GENERAL_INDEX_COUNT, BindingKind::kUnsigned, s, "IndexCnt"),
      SettingBinding(IDC_GENERAL_LASER_SYNC, BindingKind::kCheck, s, "LaserSync"),
      SettingBinding(IDC_GENERAL_LASER_COMP, BindingKind::kCheck, s, "LaserComp"),
      SettingBinding(IDC_GENERAL_PWM_FREQ, BindingKind::kUnsigned, s, "PWMFreq"),
      SettingBinding(IDC_GENERAL_GATE_PORT, BindingKind::kUnsigned, s, "LaserSyncPort"),
      SettingBinding(IDC_GENERAL_HOME_RETRACT, BindingKind::kUnsigned, s, "HomeRetract"),
      SettingBinding(IDC_GENERAL_HW_MPG, BindingKind::kCheck, s, "HwMPG"),
      SettingBinding(IDC_GENERAL_MPG_FEED_LIMIT, BindingKind::kCheck, s, "MPGfeedlimit"),
      SettingBinding(IDC_GENERAL_GRAY_LEVEL, BindingKind::kCheck, s, "LaserGL"),
      SettingBinding(IDC_GENERAL_DEREFERENCE, BindingKind::kCheck, s, "DerefOnDisc"),
      SettingBinding(IDC_GENERAL_STEP_FREQ, BindingKind::kChoice, s, "StepFreq"),
      SettingBinding(IDC_GENERAL_PROBE_AS_LIMIT, BindingKind::kCheck, s, "ProbeAsLimit"),
  };
  if (direction == ExchangeDirection::kLoad) {
    controls.SetItems(IDC_GENERAL_STEP_FREQ, kStepFrequencyItems);
  }
  return kelvro::Exchange(bindings, controls, direction);
}

bool GeneralPage::OnCommand(DialogControls& /*controls*/, int control, DialogRunner& runner) {
  switch (control) {
    case IDC_GENERAL_CURVE_EDIT:
      EditCurve(runner);
      return true;
    case IDC_GENERAL_PROBE_LOG:
      runner.RunModal(probe_log_);
      return true;
    default:
      return false;
  }
}

void GeneralPage::EditCurve(DialogRunner& runner) {
  // The editor works on a copy; only its OK replaces the page's curve (the page's own data
  // exchange does not run).
  LaserCurve curve = settings_.laser_curve;
  double nominal_feed = settings_.l_max_feed;
  if (runner.EditCurve(curve, nominal_feed) != DialogResult::kOk) return;
  settings_.laser_curve = curve;
  settings_.l_max_feed = nominal_feed;
}

}  // namespace kelvro
