#include "ui/probe_log_dialog.h"

#include <array>

#include "resources/resource_ids.h"

namespace kelvro {

namespace {

constexpr int64_t kTipMin = 0;
constexpr int64_t kTipMax = 1000;  // mm

}  // namespace

ProbeLogDialog::ProbeLogDialog(ProbeLogOptions& options) : options_(options) {
  bindings_ = {
      Binding::Check(IDC_PROBE_LOG_ENABLE, enabled_),
      Binding::Check(IDC_PROBE_LOG_COMPENSATION, compensation_),
      Binding::Number(IDC_PROBE_LOG_TIP_D, d_, kTipMin, kTipMax),
      Binding::Number(IDC_PROBE_LOG_TIP_C1, c1_, kTipMin, kTipMax),
      Binding::Number(IDC_PROBE_LOG_TIP_C2, c2_, kTipMin, kTipMax),
      Binding::Check(IDC_PROBE_LOG_MACHINE, machine_),
      Binding::Choice(IDC_PROBE_LOG_SEPARATOR, separator_, kProbeLogSeparatorItems),
  };
}

int ProbeLogDialog::template_id() const {
  return IDD_PROBE_LOG;
}

ExchangeResult ProbeLogDialog::Exchange(DialogControls& controls, ExchangeDirection direction) {
  if (direction == ExchangeDirection::kLoad) {
    enabled_ = options_.log_enabled ? 1 : 0;
    compensation_ = options_.compensation ? 1 : 0;
    d_ = options_.d;
    c1_ = options_.c1;
    c2_ = options_.c2;
    machine_ = options_.machine_coordinates ? 1 : 0;
    separator_ = options_.separator_index;
    return kelvro::Exchange(bindings_, controls, direction);
  }
  ExchangeResult result = kelvro::Exchange(bindings_, controls, direction);
  if (!result.ok) return result;
  if (separator_ < 0 || separator_ >= static_cast<int>(kProbeLogSeparators.size())) separator_ = 0;
  options_.log_enabled = enabled_ != 0;
  options_.compensation = compensation_ != 0;
  options_.d = d_;
  options_.c1 = c1_;
  options_.c2 = c2_;
  options_.machine_coordinates = machine_ != 0;
  options_.separator_index = separator_;
  options_.separator = kProbeLogSeparators[static_cast<size_t>(separator_)];
  return result;
}

}  // namespace kelvro
