#include "ui/hwnd_dialog_controls_win32.h"

#include <string>

namespace kelvro {
namespace {

// List boxes and combo boxes take the same requests under different message numbers.
struct ListMessages {
  UINT reset, add, get_selection, set_selection;
  LRESULT error;
};

ListMessages MessagesOf(HWND control) {
  char name[16] = {};
  if (control && ::GetClassNameA(control, name, sizeof name) > 0 &&
      ::lstrcmpiA(name, "ListBox") == 0) {
    return {LB_RESETCONTENT, LB_ADDSTRING, LB_GETCURSEL, LB_SETCURSEL, LB_ERR};
  }
  return {CB_RESETCONTENT, CB_ADDSTRING, CB_GETCURSEL, CB_SETCURSEL, CB_ERR};
}

}  // namespace

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
  HWND control = ::GetDlgItem(dialog_, id);
  if (!control) return;
  const ListMessages m = MessagesOf(control);
  ::SendMessageA(control, m.reset, 0, 0);
  for (const char* item : items) {
    ::SendMessageA(control, m.add, 0, reinterpret_cast<LPARAM>(item));
  }
}

int HwndDialogControls::Selection(int id) {
  HWND control = ::GetDlgItem(dialog_, id);
  if (!control) return -1;
  const ListMessages m = MessagesOf(control);
  const LRESULT index = ::SendMessageA(control, m.get_selection, 0, 0);
  return index == m.error ? -1 : static_cast<int>(index);
}

void HwndDialogControls::SetSelection(int id, int index) {
  HWND control = ::GetDlgItem(dialog_, id);
  if (!control) return;
  // -1 clears the selection.
  ::SendMessageA(control, MessagesOf(control).set_selection, static_cast<WPARAM>(index), 0);
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
