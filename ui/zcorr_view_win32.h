// The windows of the Z correction page and its map dialog. The page's view gives the group box
// the dialog's font and measures and shortens the file name for its title; the map dialog's
// view creates the image window over frame 1050, has the model render the map and the legend
// (the wait cursor shown meanwhile), draws the legend's labels in the system's ANSI
// variable-width font, and blits both pictures.
#pragma once

#include <windows.h>

#include "ui/page_view_win32.h"
#include "ui/zcorr_page.h"

namespace kelvro {

class ZCorrectionView final : public Win32PageView, public PathFitter {
 public:
  explicit ZCorrectionView(ZCorrectionPage& page) : page_(page) {}
  ~ZCorrectionView() override;
  ZCorrectionView(const ZCorrectionView&) = delete;
  ZCorrectionView& operator=(const ZCorrectionView&) = delete;

  void Attach(HWND window) override;
  bool OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

  // ---- PathFitter, in the page's font ----
  int ClientWidth(int control) override;
  int TextWidth(std::string_view text) override;
  std::string CompactPath(std::string_view path, int width) override;

 private:
  ZCorrectionPage& page_;
  HWND window_ = nullptr;
};

class ZMapView final : public Win32PageView {
 public:
  explicit ZMapView(ZMapDialog& dialog) : dialog_(dialog) {}
  ~ZMapView() override;
  ZMapView(const ZMapView&) = delete;
  ZMapView& operator=(const ZMapView&) = delete;

  void Attach(HWND window) override;
  bool OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

  // The image window's class and its painting.
  static LRESULT CALLBACK ImageProc(HWND image, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  // Both pictures anew from the model, with the wait cursor.
  void Render();
  void PaintLegend(HDC dc);
  void FreeBitmaps();

  ZMapDialog& dialog_;
  HWND window_ = nullptr;
  HWND image_window_ = nullptr;
  HBITMAP image_ = nullptr;
  HBITMAP legend_ = nullptr;
  RECT legend_rect_ = {};
};

}  // namespace kelvro
