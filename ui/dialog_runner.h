// Runs modal dialogs for the page models: the configuration dialog's frame, the smaller
// dialogs a page opens, and the laser ramp curve editor. Production: Win32 dialogs from the
// resource templates. Tests: a script that plays the user.
#pragma once

#include "settings/plugin_settings.h"

namespace kelvro {

class ConfigDialogModel;
class PageModel;

enum class DialogResult { kOk, kCancel };

class DialogRunner {
 public:
  virtual ~DialogRunner() = default;
  // The configuration dialog, modally; OK only when the model accepted it.
  virtual DialogResult RunConfigDialog(ConfigDialogModel& dialog) = 0;
  // A modal dialog showing `model`: OK saves through the model (and stays open while the save
  // fails), Cancel stores nothing.
  virtual DialogResult RunModal(PageModel& model) = 0;
  // The laser ramp curve editor on a working copy of the curve and its nominal feed; OK
  // means the copy is to be taken.
  virtual DialogResult EditCurve(LaserCurve& curve, double& nominal_feed) = 0;
};

}  // namespace kelvro
