#include "ui/input_filter_page.h"

#include "resources/resource_ids.h"

namespace kelvro {

InputFilterPage::InputFilterPage(PluginSettings& settings,
                                 std::function<const HostMachineState*()> machine)
    : machine_(std::move(machine)), pins_(settings.deb_pin_ena, settings.deb_pin_time) {
  PluginSettings& s = settings;
  // In the page's exchange order; each range (0 to 10000, from the settings table) is checked
  // right after its field.
  bindings_ = {
      Binding::Unsigned(IDC_FILTER_ENCODER, s, "EncDebounce"),
      Binding::Unsigned(IDC_FILTER_HOME, s, "HomeDebounce"),
      Binding::Unsigned(IDC_FILTER_INDEX, s, "IndexDebounce"),
      Binding::Unsigned(IDC_FILTER_LIMIT, s, "LimitDebounce"),
      Binding::Unsigned(IDC_FILTER_OTHER, s, "OtherDebounce"),
      Binding::Unsigned(IDC_FILTER_PROBE, s, "ProbeDebounce"),
      Binding::Check(IDC_FILTER_BY_PIN, s, "DebounceByPin"),
  };
}

int InputFilterPage::template_id() const {
  return IDD_PAGE_INPUT_FILTER;
}

ExchangeResult InputFilterPage::Exchange(DialogControls& controls, ExchangeDirection direction) {
  const ExchangeResult result = kelvro::Exchange(bindings_, controls, direction);
  if (direction == ExchangeDirection::kLoad) pins_.Describe(machine_ ? machine_() : nullptr);
  return result;
}

}  // namespace kelvro
