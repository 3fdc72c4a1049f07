// The THC options page's window beyond the generic page: the live torch voltage in the large
// display font, fed by the service tick through a message the window posts to itself
// (0x464, the raw analog value as its first parameter), so that the value is shown on the
// window's own turn of the message loop.
#pragma once

#include <windows.h>

#include "ui/page_view_win32.h"
#include "ui/thc_page.h"

namespace kelvro {

class ThcView final : public Win32PageView {
 public:
  // `display_font`: the large font of the live value, owned by the caller (made once).
  ThcView(ThcPage& page, HFONT display_font) : page_(page), font_(display_font) {}
  ~ThcView() override;
  ThcView(const ThcView&) = delete;
  ThcView& operator=(const ThcView&) = delete;

  // Gives the live value its font and takes the tick's readings.
  void Attach(HWND window) override;
  // Shows a posted reading.
  bool OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

  // The display font: Arial, 30/120 of the screen's vertical dots per inch (24 pixels at
  // 96 dpi), normal weight.
  static HFONT CreateDisplayFont();

 private:
  ThcPage& page_;
  HFONT font_;
};

}  // namespace kelvro
