// Runs modal dialogs for the page models: the configuration dialog's frame, the smaller
// dialogs a page opens, and the laser ramp curve editor. Production: Win32 dialogs from the
// resource templates. Tests: a script that plays the user.
#pragma once

#include <optional>
#include <string>

#include "settings/plugin_settings.h"

namespace kelvro {

class ConfigDialogModel;
class PageModel;

enum class DialogResult { kOk, kCancel };

// What a file-open dialog offers: the default extension (without the dot), the name it
// starts with, and its filter in the "text|pattern|...||" form.
struct OpenFileRequest {
  std::string default_extension;
  std::string initial_name;
  std::string filter;
};

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
  // The file-open dialog (read-only box hidden): the chosen path, none when cancelled.
  virtual std::optional<std::string> OpenFile(const OpenFileRequest& /*request*/) {
    return std::nullopt;
  }
};

}  // namespace kelvro
