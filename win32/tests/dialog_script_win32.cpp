#include "win32/tests/dialog_script_win32.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstring>

#include "resources/resource_ids.h"

namespace kelvro::test {
namespace {

constexpr UINT kTickMs = 20;
DialogScript* g_running = nullptr;

BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
  char name[16] = {};
  ::GetClassNameA(window, name, sizeof(name));
  if (std::strcmp(name, "#32770") == 0 && ::IsWindowVisible(window)) {
    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
  return TRUE;
}

}  // namespace

DialogScript::DialogScript() = default;

DialogScript::~DialogScript() {
  if (timer_) ::KillTimer(nullptr, timer_);
  if (g_running == this) g_running = nullptr;
}

void DialogScript::Start(DWORD timeout_ms) {
  g_running = this;
  deadline_ = ::GetTickCount() + timeout_ms;
  timer_ = ::SetTimer(nullptr, 0, kTickMs, Tick);
}

void CALLBACK DialogScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_running) g_running->RunNext();
}

void DialogScript::RunNext() {
  // A step that sends a message may run a message box's loop, which dispatches this timer.
  if (busy_) return;
  if (finished()) {
    ::KillTimer(nullptr, timer_);
    timer_ = 0;
    return;
  }
  if (static_cast<LONG>(::GetTickCount() - deadline_) > 0) {
    timed_out_ = true;
    next_ = steps_.size();
    CancelAllDialogs();
    return;
  }
  busy_ = true;
  const bool done = steps_[next_]();
  busy_ = false;
  if (done) ++next_;
}

HWND FindDialog(const char* caption) {
  HWND window = ::FindWindowA("#32770", caption);
  return window && ::IsWindowVisible(window) ? window : nullptr;
}

HWND VisiblePage(HWND frame) {
  HWND tabs = ::GetDlgItem(frame, IDC_CONFIG_TABS);
  return tabs ? ::FindWindowExA(tabs, nullptr, "#32770", nullptr) : nullptr;
}

void SelectTab(HWND frame, int index) {
  HWND tabs = ::GetDlgItem(frame, IDC_CONFIG_TABS);
  TabCtrl_SetCurSel(tabs, index);
  NMHDR header = {};
  header.hwndFrom = tabs;
  header.idFrom = IDC_CONFIG_TABS;
  header.code = TCN_SELCHANGE;
  ::SendMessageA(frame, WM_NOTIFY, IDC_CONFIG_TABS, reinterpret_cast<LPARAM>(&header));
}

void ClickTab(HWND frame, int index) {
  HWND tabs = ::GetDlgItem(frame, IDC_CONFIG_TABS);
  RECT item = {};
  TabCtrl_GetItemRect(tabs, index, &item);
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  ::SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageA(tabs, WM_LBUTTONUP, 0, at);
}

void PostClick(HWND dialog, int id) {
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

void SetText(HWND dialog, int id, const std::string& text) {
  ::SetDlgItemTextA(dialog, id, text.c_str());
}

std::string TextOf(HWND window) {
  char text[512] = {};
  ::GetWindowTextA(window, text, sizeof(text));
  return text;
}

RECT ListCellRect(HWND list, int row, int column) {
  RECT cell = {};
  cell.top = column;
  cell.left = LVIR_BOUNDS;
  ::SendMessageA(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&cell));
  return cell;
}

void ClickListCell(HWND list, int row, int column) {
  const RECT cell = ListCellRect(list, row, column);
  const LPARAM at = MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2);
  ::SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageA(list, WM_LBUTTONUP, 0, at);
}

void CancelAllDialogs() {
  ::EnumThreadWindows(::GetCurrentThreadId(), CancelDialog, 0);
}

}  // namespace kelvro::test
