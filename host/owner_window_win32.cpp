#include "host/owner_window_win32.h"

#include <windows.h>

namespace kelvro {

void* UsableOwnerWindow(void* window) {
  HWND handle = static_cast<HWND>(window);
  return handle != nullptr && ::IsWindow(handle) ? window : nullptr;
}

}  // namespace kelvro
