// The General setup page: laser PWM options, home retract speed, index pulses, hardware MPG,
// dereferencing on disconnect, the maximum step frequency and probe-as-limit; it opens the
// laser ramp curve editor and the probe log options dialog.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "host/host_blocks.h"
#include "host/platform.h"
#include "settings/plugin_settings.h"
#include "ui/curve_editor.h"
#include "ui/dialog_runner.h"
#include "ui/page_model.h"
#include "ui/probe_log_dialog.h"

namespace kelvro {

// Items of the maximum step frequency list, by StepFreq value.
inline constexpr std::array<const char*, 2> kStepFrequencyItems{"125 KHz", "250 KHz"};

class GeneralPage final : public PageModel {
 public:
  // `messages` and `planner` serve the curve editor (its file messages, the axes' maximum
  // velocities).
  GeneralPage(PluginSettings& settings, ProbeLogDialog& probe_log, UserMessages& messages,
              std::function<const HostPlanner*()> planner);

  int template_id() const override;
  std::span<const Binding> bindings() const override { return bindings_; }
  bool OnCommand(DialogControls& controls, int control, DialogRunner& runner) override;

  CurveEditorDialog& curve_editor() { return curve_editor_; }

 private:
  void EditCurve(DialogRunner& runner);

  PluginSettings& settings_;
  ProbeLogDialog& probe_log_;
  CurveEditorDialog curve_editor_;
  std::vector<Binding> bindings_;
};

}  // namespace kelvro
