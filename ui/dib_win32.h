// A 32-bit device-independent bitmap with its rows from the top, for pictures rendered or
// read back by the views.
#pragma once

#include <windows.h>

namespace kelvro {

// Null when it cannot be made; `bits` receives its pixels (0x00RRGGBB, rows from the top).
inline HBITMAP CreateTopDownDib32(HDC dc, int width, int height, void** bits) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

}  // namespace kelvro
