// Runs modal dialogs for the page models: the configuration dialog's frame, the smaller
// dialogs a page opens (the laser ramp curve editor among them), and the file dialogs they
// use. Production: Win32 dialogs from the resource templates. Tests: a script that plays
// the user.
#pragma once

#include <optional>
#include <string>

namespace kelvro {

class ConfigDialogModel;
class PageModel;

enum class DialogResult { kOk, kCancel };

// A file-open or file-save dialog: the extension added to a name typed without one, the
// name it starts with, and its filter as "description|pattern|...|" pairs ending in "||".
// The read-only box is hidden; a save asks before it overwrites.
struct FileDialogRequest {
  bool save = false;
  std::string default_extension;
  std::string file_name;
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
  // The file the user chose; nothing when the dialog was cancelled (or there is no window
  // to show it in).
  virtual std::optional<std::string> ChooseFile(const FileDialogRequest& /*request*/) {
    return std::nullopt;
  }
};

}  // namespace kelvro
