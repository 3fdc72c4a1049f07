// Screenshots for the test gallery: a window as it is drawn, read back into 32-bit pixels,
// and a small PNG writer (8-bit RGB, deflate in stored blocks).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kelvro::test {

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> rgb;  // 0x00RRGGBB, rows from the top

  uint32_t at(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};

// Paints `window` and its children now, then reads back its whole window rectangle.
std::optional<Pixels> CaptureWindow(HWND window);

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);
uint32_t Adler32(std::span<const uint8_t> bytes);
std::vector<uint8_t> EncodePng(const Pixels& image);
bool WritePng(const std::string& path, const Pixels& image);

// The gallery folder from KELVRO_GALLERY (a Windows path), empty when not set; the folder is
// created when missing.
std::string GalleryFolder();
// Captures `window` into GALLERY/name.png; true when written (false also when no gallery).
bool CaptureToGallery(HWND window, const std::string& name);

}  // namespace kelvro::test
