#include "ui/general_page.h"

#include "resources/resource_ids.h"

namespace kelvro {

GeneralPage::GeneralPage(PluginSettings& settings, ProbeLogDialog& probe_log,
                         UserMessages& messages, std::function<const HostPlanner*()> planner)
    : settings_(settings), probe_log_(probe_log), curve_editor_(messages, std::move(planner)) {
  PluginSettings& s = settings;
  // In the page's exchange order; each range is checked right after its field.
  bindings_ = {
      Binding::Unsigned(IDC_GENERAL_INDEX_COUNT, s, "IndexCnt"),
      Binding::Check(IDC_GENERAL_LASER_SYNC, s, "LaserSync"),
      Binding::Check(IDC_GENERAL_LASER_COMP, s, "LaserComp"),
      Binding::Unsigned(IDC_GENERAL_PWM_FREQ, s, "PWMFreq"),
      Binding::Unsigned(IDC_GENERAL_GATE_PORT, s, "LaserSyncPort"),
      Binding::Unsigned(IDC_GENERAL_HOME_RETRACT, s, "HomeRetract"),
      Binding::Check(IDC_GENERAL_HW_MPG, s, "HwMPG"),
      Binding::Check(IDC_GENERAL_MPG_FEED_LIMIT, s, "MPGfeedlimit"),
      Binding::Check(IDC_GENERAL_GRAY_LEVEL, s, "LaserGL"),
      Binding::Check(IDC_GENERAL_DEREFERENCE, s, "DerefOnDisc"),
      Binding::Choice(IDC_GENERAL_STEP_FREQ, s, "StepFreq", kStepFrequencyItems),
      Binding::Check(IDC_GENERAL_PROBE_AS_LIMIT, s, "ProbeAsLimit"),
  };
}

int GeneralPage::template_id() const {
  return IDD_PAGE_GENERAL;
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
  curve_editor_.Open(settings_.laser_curve, settings_.l_max_feed);
  if (runner.RunModal(curve_editor_) != DialogResult::kOk) return;
  settings_.laser_curve = curve_editor_.curve();
  settings_.l_max_feed = curve_editor_.nominal_feed();
}

}  // namespace kelvro
