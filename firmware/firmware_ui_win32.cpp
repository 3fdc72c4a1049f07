#include "firmware/firmware_ui_win32.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>

#include "firmware/packed_image.h"
#include "host/owner_window_win32.h"
#include "host/platform.h"

namespace kelvro {
namespace {

// The module these resources live in: the one this code is linked into (the plugin DLL).
HMODULE ThisModule() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&ThisModule), &module)) {
    return nullptr;
  }
  return module;
}

class DialogView final : public FirmwareProgressView {
 public:
  void Bind(HWND dialog) { dialog_ = dialog; }

  void SetHeading(std::string_view text) override { SetText(kFirmwareHeadingId, text); }
  void SetStep(std::string_view text) override { SetText(kFirmwareStepId, text); }
  void SetProgressRange(int low, int high) override {
    ::SendDlgItemMessageA(dialog_, kFirmwareProgressId, PBM_SETRANGE32, static_cast<WPARAM>(low),
                          static_cast<LPARAM>(high));
  }
  void SetProgress(int position) override {
    ::SendDlgItemMessageA(dialog_, kFirmwareProgressId, PBM_SETPOS, static_cast<WPARAM>(position),
                          0);
  }
  void SetOkEnabled(bool enabled) override {
    ok_enabled_ = enabled;
    ::EnableWindow(::GetDlgItem(dialog_, kFirmwareOkId), enabled ? TRUE : FALSE);
  }
  void SetBusy(bool busy) override {
    busy_ = busy;
    // Take effect now if the mouse is over the dialog; WM_SETCURSOR keeps it so.
    POINT at;
    RECT area;
    if (::GetCursorPos(&at) && ::GetWindowRect(dialog_, &area) && ::PtInRect(&area, at)) {
      ::SetCursor(::LoadCursorA(nullptr, busy ? IDC_WAIT : IDC_ARROW));
    }
  }
  void ShowNow() override {
    ::ShowWindow(dialog_, SW_SHOW);
    ::UpdateWindow(dialog_);
  }

  bool busy() const { return busy_; }
  bool ok_enabled() const { return ok_enabled_; }

 private:
  void SetText(int id, std::string_view text) {
    const std::string copy(text);
    ::SetDlgItemTextA(dialog_, id, copy.c_str());
    // Repaint at once: the update runs inside a message handler.
    ::UpdateWindow(::GetDlgItem(dialog_, id));
  }

  HWND dialog_ = nullptr;
  bool busy_ = false;
  bool ok_enabled_ = true;
};

struct DialogState {
  FirmwareDialogClient* client = nullptr;
  DialogView view;
};

// Runs a client step; an exception must not unwind through the dialog manager. The dialog
// then lets the user close it (the update's verdict stays a failure).
template <typename Step>
void Guarded(DialogState& state, Step step) {
  try {
    step();
  } catch (...) {
    state.view.SetBusy(false);
    state.view.SetOkEnabled(true);
  }
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrA(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<DialogState*>(lparam);
      ::SetWindowLongPtrA(dialog, DWLP_USER, static_cast<LONG_PTR>(lparam));
      state->view.Bind(dialog);
      ::SendDlgItemMessageA(dialog, kFirmwareHeadingId, WM_SETFONT,
                            reinterpret_cast<WPARAM>(::GetStockObject(SYSTEM_FONT)), TRUE);
      Guarded(*state, [&] { state->client->OnCreated(state->view); });
      // The work starts once the dialog is on screen.
      ::PostMessageA(dialog, kMsgRedraw, 0, 0);
      return TRUE;
    }
    case kMsgRedraw:
      if (state) Guarded(*state, [&] { state->client->OnStart(state->view); });
      return TRUE;
    case WM_SETCURSOR:
      if (state && state->view.busy()) {
        ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
        ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_COMMAND:
      // Only OK closes the dialog, and only once the update has ended (Escape, Alt+F4 and
      // an early OK are ignored).
      if (LOWORD(wparam) == IDOK && state && state->view.ok_enabled() && !state->view.busy()) {
        ::EndDialog(dialog, IDOK);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool Win32FirmwareUi::Load(std::vector<uint8_t>& packed) {
  HMODULE module = ThisModule();
  if (module == nullptr) return false;
  HRSRC resource =
      ::FindResourceA(module, MAKEINTRESOURCEA(kPackedImageResourceId), kPackedImageResourceType);
  if (resource == nullptr) return false;
  HGLOBAL loaded = ::LoadResource(module, resource);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  const DWORD size = ::SizeofResource(module, resource);
  if (data == nullptr || size == 0) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  packed.assign(bytes, bytes + size);
  return true;
}

bool Win32FirmwareUi::RunModal(void* owner_window, FirmwareDialogClient& client) {
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  DialogState state;
  state.client = &client;
  HWND owner = static_cast<HWND>(UsableOwnerWindow(owner_window));
  const INT_PTR result = ::DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(kFirmwareDialogId), owner,
                                           DialogProc, reinterpret_cast<LPARAM>(&state));
  return result == IDOK;
}

}  // namespace kelvro
