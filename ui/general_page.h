// The General setup page: laser PWM options, home retract speed, index pulses, hardware MPG,
// dereferencing on disconnect, the maximum step frequency and probe-as-limit; it opens the
// laser ramp curve editor and the probe log options dialog.
#pragma once

#include <array>
#include <vector>

#include "settings/plugin_settings.h"
#include "ui/dialog_runner.h"
#include "ui/page_model.h"
#include "ui/probe_log_dialog.h"

namespace kelvro {

// Items of the maximum step frequency list, by StepFreq value.
inline constexpr std::array<const char*, 2> kStepFrequencyItems{"125 KHz", "250 KHz"};

class GeneralPage final : public PageModel {
 public:
  GeneralPage(PluginSettings& settings, ProbeLogDialog& probe_log);

  int template_id() const override;
  std::span<const Binding> bindings() const override { return bindings_; }
  bool OnCommand(DialogControls& controls, int control, DialogRunner& runner) override;

 private:
  void EditCurve(DialogRunner& runner);

  PluginSettings& settings_;
  ProbeLogDialog& probe_log_;
  std::vector<Binding> bindings_;
};

}  // namespace kelvro
