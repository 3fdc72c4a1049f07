// The Win32 form of a page view: what a page's window does beyond the generic page window.
// The generic procedure makes the view when the page's window is created and loaded, hands
// it every message first, and destroys it with the window.
#pragma once

#include <windows.h>

#include "ui/page_model.h"

namespace kelvro {

class Win32PageView : public PageView {
 public:
  // The page's window exists and its controls are loaded.
  virtual void Attach(HWND window) = 0;
  // A message to the page's window: true when the view handled it, with the dialog
  // procedure's answer in `result`.
  virtual bool OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                         INT_PTR& result) = 0;
};

}  // namespace kelvro
