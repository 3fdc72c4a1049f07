#include "ui/hwnd_dialog_controls_win32.h"

#include <string>

namespace kelvro {

std::string HwndDialogControls::Text(int id) {
  HWND control = ::GetDlgItem(dialog_, id);
  if (!control) return {};
  const int length = ::GetWindowTextLengthA(control);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const UINT copied = ::GetDlgItemTextA(dialog_, id, text.data(), length + 1);
  text.resize(copied);
  return text;
}

void HwndDialogControls::SetText(int id, std::string_view text) {
  const std::string copy(text);
  ::SetDlgItemTextA(dialog_, id, copy.c_str());
}

bool HwndDialogControls::Checked(int id) {
  return ::IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void HwndDialogControls::SetChecked(int id, bool checked) {
  ::CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void HwndDialogControls::SetItems(int id, std::span<const char* const> items) {
  ::SendDlgItemMessageA(dialog_, id, CB_RESETCONTENT, 0, 0);
  for (const char* item : items) {
    ::SendDlgItemMessageA(dialog_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  }
}

int HwndDialogControls::Selection(int id) {
  if (!::GetDlgItem(dialog_, id)) return -1;
  const LRESULT index = ::SendDlgItemMessageA(dialog_, id, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

void HwndDialogControls::SetSelection(int id, int index) {
  // -1 clears the selection.
  ::SendDlgItemMessageA(dialog_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void HwndDialogControls::Enable(int id, bool enabled) {
  if (HWND control = ::GetDlgItem(dialog_, id)) ::EnableWindow(control, enabled ? TRUE : FALSE);
}

void HwndDialogControls::Show(int id, bool shown) {
  if (HWND control = ::GetDlgItem(dialog_, id)) ::ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
}

void HwndDialogControls::Focus(int id) {
  HWND control = ::GetDlgItem(dialog_, id);
  if (!control) return;
  HWND top = ::GetAncestor(dialog_, GA_ROOT);
  ::SendMessageA(top ? top : dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

}  // namespace kelvro
