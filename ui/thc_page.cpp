#include "ui/thc_page.h"

#include <string>

#include "device/wire.h"
#include "resources/resource_ids.h"

namespace kelvro {
namespace {

// Volts at the controller's analog input per raw count (5 V full scale, 16 bits).
constexpr double kInputVoltsPerCount = 5.0 / 65536.0;

// The integer fields `bindings` move, in order.
std::vector<int> FieldValues(std::span<const Binding> bindings) {
  std::vector<int> values;
  for (const Binding& b : bindings) {
    if (int* const* field = std::get_if<int*>(&b.field())) values.push_back(**field);
  }
  return values;
}

void RestoreFieldValues(std::span<const Binding> bindings, const std::vector<int>& values) {
  size_t k = 0;
  for (const Binding& b : bindings) {
    if (int* const* field = std::get_if<int*>(&b.field())) **field = values[k++];
  }
}

}  // namespace

std::string CutStatisticsText(int ignitions, int64_t cut_time_ms) {
  return "Ignition count = " + std::to_string(ignitions) +
         ", Cut time = " + std::to_string(cut_time_ms / 1000);
}

// ---- Advanced dialog ----

ThcAdvancedDialog::ThcAdvancedDialog(PluginSettings& settings, ThcRuntime& thc)
    : settings_(settings), thc_(thc) {
  PluginSettings& s = settings;
  // The save's order: the check boxes, then the numbers, then the manual mode.
  bindings_ = {
      Binding::Check(IDC_THCADV_LOW_PASS, s, "THCLP"),
      Binding::Check(IDC_THCADV_KERF, s, "KerfDetect"),
      Binding::Check(IDC_THCADV_LOCK, s, "THCLock"),
      Binding::Check(IDC_THCADV_LOCK_CMD, s, "THCLockCmd"),
      Binding::Unsigned(IDC_THCADV_LP_FREQ, s, "THCLPFreq"),
      Binding::Unsigned(IDC_THCADV_LOCK_MAX, s, "THCLockMax"),
      Binding::Unsigned(IDC_THCADV_LOCK_MIN, s, "THCLockMin"),
      Binding::Unsigned(IDC_THCADV_KERF_VOLTAGE, s, "KerfVoltage"),
      Binding::Unsigned(IDC_THCADV_KERF_TIME, s, "KerfTime"),
      Binding::Unsigned(IDC_THCADV_MANUAL_SPEED, s, "ManualSpeed"),
      Binding::Check(IDC_THCADV_MANUAL, s, "ManualTHC"),
  };
}

int ThcAdvancedDialog::template_id() const {
  return IDD_THC_ADVANCED;
}

ExchangeResult ThcAdvancedDialog::Exchange(DialogControls& controls, ExchangeDirection direction) {
  if (direction == ExchangeDirection::kLoad) {
    kelvro::Exchange(bindings_, controls, direction);
    // The statistics are counted whatever the dialog shows; a plasma user reads them here.
    controls.SetText(IDC_THCADV_STATS,
                     CutStatisticsText(thc_.ignition_count(), thc_.cut_time_ms()));
    controls.Show(IDC_THCADV_STATS, true);
    controls.Show(IDC_THCADV_RESET, true);
    return {};
  }
  // A refused OK leaves the dialog open, and its Cancel must find the options as they were:
  // the fields read before the bad one are put back.
  const std::vector<int> before = FieldValues(bindings_);
  ExchangeResult result = kelvro::Exchange(bindings_, controls, direction);
  if (result.ok && settings_.thc_lock_max < settings_.thc_lock_min) {
    result = ExchangeResult::Failure(IDC_THCADV_LOCK_MAX, kMessageLockOrder);
  }
  if (!result.ok) RestoreFieldValues(bindings_, before);
  return result;
}

void ThcAdvancedDialog::ApplyEnableRules(DialogControls& controls) {
  const bool internal = thc_type_ == 1;
  controls.Enable(IDC_THCADV_LOW_PASS, internal);
  controls.Enable(IDC_THCADV_KERF, internal);
  controls.Enable(IDC_THCADV_LOCK, internal);
  controls.Enable(IDC_THCADV_LP_FREQ, internal && controls.Checked(IDC_THCADV_LOW_PASS));
  const bool kerf = internal && controls.Checked(IDC_THCADV_KERF);
  controls.Enable(IDC_THCADV_KERF_VOLTAGE, kerf);
  controls.Enable(IDC_THCADV_KERF_TIME, kerf);
  const bool lock = internal && controls.Checked(IDC_THCADV_LOCK);
  controls.Enable(IDC_THCADV_LOCK_MAX, lock);
  controls.Enable(IDC_THCADV_LOCK_MIN, lock);
  controls.Enable(IDC_THCADV_MANUAL_SPEED, controls.Checked(IDC_THCADV_MANUAL));
  controls.Enable(IDC_THCADV_LOCK_CMD, true);
  controls.Enable(IDC_THCADV_MANUAL, true);
}

bool ThcAdvancedDialog::OnCommand(DialogControls& controls, int control, DialogRunner& /*runner*/) {
  switch (control) {
    case IDC_THCADV_LOW_PASS:
    case IDC_THCADV_KERF:
    case IDC_THCADV_LOCK:
    case IDC_THCADV_MANUAL:
      return true;
    case IDC_THCADV_RESET:
      thc_.ResetCounters();
      controls.SetText(IDC_THCADV_STATS,
                       CutStatisticsText(thc_.ignition_count(), thc_.cut_time_ms()));
      return true;
    default:
      return false;
  }
}

// ---- Page ----

ThcPage::ThcPage(PluginSettings& settings, const Host& host, ThcRuntime& thc)
    : settings_(settings), host_(host), thc_(thc), advanced_(settings, thc) {
  PluginSettings& s = settings;
  // The save's order. THCtype belongs to the radio buttons, not to the exchange.
  bindings_ = {
      Binding::Unsigned(IDC_THC_NOMINAL, s, "THCnomvoltage"),
      Binding::Unsigned(IDC_THC_HYSTERESIS, s, "THChystvoltage"),
      Binding::Unsigned(IDC_THC_TORCH_V, s, "THCtorchv"),
      Binding::Unsigned(IDC_THC_PIERCE_DELAY, pierce_delay_ms_, 0, 5000),
      Binding::Check(IDC_THC_ARC_DETECT, s, "THCarcDetect"),
      Binding::Unsigned(IDC_THC_DETECT_VOLTAGE, s, "THCdetVoltage"),
      Binding::Unsigned(IDC_THC_DETECT_TIME, s, "THCdetTime"),
      Binding::Unsigned(IDC_THC_ANALOG_MV, s, "THCanalogv"),
      Binding::Check(IDC_THC_VOLTAGE_LOG, voltage_log_),
      Binding::Check(IDC_THC_DWELL, s, "THCDwell"),
  };
}

int ThcPage::template_id() const {
  return IDD_PAGE_THC;
}

ExchangeResult ThcPage::Exchange(DialogControls& controls, ExchangeDirection direction) {
  if (direction == ExchangeDirection::kLoad) {
    voltage_log_ = thc_.voltage_log() ? 1 : 0;
    kelvro::Exchange(bindings_, controls, direction);
    controls.SetChecked(IDC_THC_EXTERNAL, settings_.thc_type == 0);
    controls.SetChecked(IDC_THC_INTERNAL, settings_.thc_type == 1);
    return {};
  }
  const ExchangeResult result = kelvro::Exchange(bindings_, controls, direction);
  if (result.ok) thc_.set_voltage_log(voltage_log_ != 0);
  return result;
}

void ThcPage::ApplyEnableRules(DialogControls& controls) {
  const bool internal = controls.Checked(IDC_THC_INTERNAL);
  const bool arc = controls.Checked(IDC_THC_ARC_DETECT);
  for (int id : {IDC_THC_NOMINAL, IDC_THC_HYSTERESIS, IDC_THC_ANALOG_MV, IDC_THC_TORCH_V,
                 IDC_THC_GET, IDC_THC_ARC_DETECT, IDC_THC_LIVE_VOLTS, IDC_THC_VOLTAGE_LOG}) {
    controls.Enable(id, internal);
  }
  controls.Enable(IDC_THC_DETECT_TIME, internal && arc);
  controls.Enable(IDC_THC_DETECT_VOLTAGE, internal && arc);
  for (int id : {IDC_THC_PIERCE_DELAY, IDC_THC_DWELL, IDC_THC_ADVANCED}) controls.Enable(id, true);
  // The page's own state, not yet saved: the warning follows the user's clicks.
  const bool wait = controls.Checked(IDC_THC_DWELL);
  const bool warn = wait && !ArcOkHasSource(internal, arc, host_);
  controls.SetText(IDC_THC_HOLD_WARNING, warn ? kTorchHoldWarning : "");
  controls.Show(IDC_THC_HOLD_WARNING, warn);
}

bool ThcPage::OnCommand(DialogControls& controls, int control, DialogRunner& runner) {
  switch (control) {
    case IDC_THC_EXTERNAL:
      settings_.thc_type = 0;
      return true;
    case IDC_THC_INTERNAL:
      settings_.thc_type = 1;
      return true;
    case IDC_THC_ARC_DETECT:
    case IDC_THC_DWELL:
      return true;
    case IDC_THC_GET:
      controls.SetText(IDC_THC_ANALOG_MV, std::to_string(TruncToInt32(last_input_volts_ * 1000.0)));
      return true;
    case IDC_THC_ADVANCED:
      advanced_.set_thc_type(settings_.thc_type);
      if (runner.RunModal(advanced_) == DialogResult::kOk) thc_.RequestConfigResend();
      return true;
    default:
      return false;
  }
}

void ThcPage::ShowAnalogReading(DialogControls& controls, uint16_t raw) {
  if (settings_.thc_type == 0) return;
  last_input_volts_ = raw * kInputVoltsPerCount;
  const int torch_v = ReadSigned(controls.Text(IDC_THC_TORCH_V));
  const int analog_mv = ReadSigned(controls.Text(IDC_THC_ANALOG_MV));
  int32_t shown = 0;
  if (settings_.thc_analog_v != 0 && analog_mv != 0) {
    shown = TruncToInt32(last_input_volts_ * torch_v / (analog_mv * 0.001));
  }
  controls.SetText(IDC_THC_LIVE_VOLTS, std::to_string(shown));
}

}  // namespace kelvro
