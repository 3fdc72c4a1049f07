// DialogControls over a dialog window's child controls, addressed by control id.
#pragma once

#include <windows.h>

#include "ui/dialog_controls.h"

namespace kelvro {

class HwndDialogControls final : public DialogControls {
 public:
  explicit HwndDialogControls(HWND dialog) : dialog_(dialog) {}

  HWND dialog() const { return dialog_; }

  std::string Text(int id) override;
  void SetText(int id, std::string_view text) override;
  bool Checked(int id) override;
  void SetChecked(int id, bool checked) override;
  // Drop-down lists and combo boxes.
  void SetItems(int id, std::span<const char* const> items) override;
  int Selection(int id) override;
  void SetSelection(int id, int index) override;
  void Enable(int id, bool enabled) override;
  void Show(int id, bool shown) override;
  // Through the dialog manager of the top-level dialog, which also selects an edit's text.
  void Focus(int id) override;

 private:
  HWND dialog_;
};

}  // namespace kelvro
