// The modal dialogs of the user interface as Win32 dialogs built from the resource
// templates: the configuration dialog's frame with its tab control and one page window at a
// time, the smaller modal dialogs the pages open (the laser ramp curve editor among them),
// and the common file dialogs. The windows only move values between their controls and the
// page models; every decision is the models'.
#pragma once

#include <windows.h>

#include "host/platform.h"
#include "ui/about_view_win32.h"
#include "ui/curve_editor_view_win32.h"
#include "ui/dialog_runner.h"
#include "ui/input_filter_view_win32.h"
#include "ui/owner_window_slot.h"
#include "ui/page_model.h"
#include "ui/thc_view_win32.h"
#include "ui/zcorr_view_win32.h"

namespace kelvro {

class Win32DialogRunner final : public DialogRunner, public PageViewMaker {
 public:
  // `resources`: the module whose resources carry the templates; `uxtheme`: the
  // visual-styles library, or null (no theming); `messages`: the message boxes; `owner`:
  // the window that owns the dialogs and boxes, pointed at each dialog while it is open.
  Win32DialogRunner(HINSTANCE resources, HMODULE uxtheme, UserMessages& messages,
                    OwnerWindowSlot& owner);
  ~Win32DialogRunner() override;
  Win32DialogRunner(const Win32DialogRunner&) = delete;
  Win32DialogRunner& operator=(const Win32DialogRunner&) = delete;

  // The module this code is linked into (the plugin DLL, or a test program).
  static HINSTANCE ThisModule();

  DialogResult RunConfigDialog(ConfigDialogModel& dialog) override;
  DialogResult RunModal(PageModel& model) override;
  // The common file-open or file-save dialog over the open dialog.
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;

  // The views of the pages that have one.
  std::unique_ptr<PageView> About(AboutPage& page) override;
  std::unique_ptr<PageView> InputFilter(InputFilterPage& page) override;
  std::unique_ptr<PageView> Thc(ThcPage& page) override;
  std::unique_ptr<PageView> ZCorrection(ZCorrectionPage& page) override;
  std::unique_ptr<PageView> ZMap(ZMapDialog& dialog) override;
  std::unique_ptr<PageView> CurveEditor(CurveEditorDialog& editor) override;

  // The shell's "open" action of the About page's links (tests record it instead).
  void set_shell_open(ShellOpen open) { shell_open_ = std::move(open); }

  // ---- For the dialog procedures ----
  HINSTANCE resources() const { return resources_; }
  UserMessages& messages() { return messages_; }
  // The visual-styles function looked up by name, or null.
  FARPROC ThemeFunction(const char* name) const;
  void DialogOpened(HWND dialog) { owner_.SetOwnerWindow(dialog); }

 private:
  // Runs template `id` modally over the current owner with `procedure`, restoring the owner
  // afterwards; the dialog's end code, -1 when it could not be created.
  INT_PTR RunDialog(int id, DLGPROC procedure, void* state);

  HINSTANCE resources_;
  HMODULE uxtheme_;
  UserMessages& messages_;
  OwnerWindowSlot& owner_;
  ShellOpen shell_open_ = ShellOpenTarget;
  bool config_open_ = false;
  HFONT thc_display_font_ = nullptr;  // made with the THC page's first window, kept
};

}  // namespace kelvro
