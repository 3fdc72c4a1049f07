// The About page's drawing: the maker's links (a hand cursor while over them, a left click
// opens their target through the shell, blue text) and the picture from the resources,
// painted into the page's picture frame.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "ui/page_view_win32.h"

namespace kelvro {

// Hands a target to the shell's "open" action (tests record it instead).
using ShellOpen = std::function<void(const std::string& target)>;
void ShellOpenTarget(const std::string& target);

class AboutView final : public Win32PageView {
 public:
  AboutView(HINSTANCE resources, ShellOpen open) : resources_(resources), open_(std::move(open)) {}

  // After the page's load: makes its link controls links and decodes the picture if it is
  // not there yet.
  void Attach(HWND page) override;
  // Paints the picture.
  bool OnMessage(HWND page, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;
  // The picture stretched into frame 1023 (nothing when there is none).
  void Paint(HWND page, HDC dc) const;

 private:
  HINSTANCE resources_;
  ShellOpen open_;
};

// The About picture: the JPEG resource "JBITMAP" 1010 decoded by the platform's picture
// loader into a screen-compatible bitmap, once per process (a failed decode is tried again
// the next time the page opens).
class AboutPicture {
 public:
  // The bitmap, decoding it on the first call; null when the resource is missing or cannot
  // be decoded.
  static HBITMAP Get(HINSTANCE resources);
  static SIZE size();
  // How many times the resource was decoded in this process.
  static int decode_count();
  // Frees the bitmap (when the library is unloaded).
  static void Release();
};

}  // namespace kelvro
