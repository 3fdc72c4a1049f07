#include "ui/thc_view_win32.h"

#include "host/platform.h"
#include "resources/resource_ids.h"
#include "ui/hwnd_dialog_controls_win32.h"

namespace kelvro {

ThcView::~ThcView() {
  page_.set_window_feed({});
}

HFONT ThcView::CreateDisplayFont() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ::ReleaseDC(nullptr, screen);
  return ::CreateFontA(-(dpi * 30 / 120), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                       VARIABLE_PITCH | FF_SWISS, "Arial");
}

void ThcView::Attach(HWND window) {
  if (font_) {
    ::SendDlgItemMessageA(window, IDC_THC_LIVE_VOLTS, WM_SETFONT, reinterpret_cast<WPARAM>(font_),
                          TRUE);
  }
  page_.set_window_feed(
      [window](uint16_t raw) { ::PostMessageA(window, kMsgRedraw, static_cast<WPARAM>(raw), 0); });
}

bool ThcView::OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM /*lparam*/,
                        INT_PTR& result) {
  if (message != kMsgRedraw) return false;
  HwndDialogControls controls(window);
  page_.ShowAnalogReading(controls, static_cast<uint16_t>(wparam & 0xFFFF));
  result = TRUE;
  return true;
}

}  // namespace kelvro
