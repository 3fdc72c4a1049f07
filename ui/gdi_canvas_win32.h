// The drawing seam over a GDI device context: fills, lines and frames with solid pens and
// brushes, texts in the context's selected font (transparent background, clipped to their
// box), icons drawn from the icons a view loaded.
#pragma once

#include <windows.h>

#include <map>

#include "ui/canvas.h"

namespace kelvro {

class GdiCanvas final : public Canvas {
 public:
  // `icons`: the loaded icons by resource id (not owned).
  GdiCanvas(HDC dc, const std::map<int, HICON>& icons) : dc_(dc), icons_(icons) {}

  Colour ButtonFace() const override;
  void Fill(const PixelRect& rect, Colour colour) override;
  void Line(int x0, int y0, int x1, int y1, Colour colour) override;
  void Frame(const PixelRect& rect, Colour colour) override;
  void Text(const PixelRect& box, std::string_view text, Colour colour, TextAlign align) override;
  void Icon(int icon_id, int x, int y) override;

  static COLORREF ToColorRef(Colour colour) {
    return RGB((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
  }

 private:
  HDC dc_;
  const std::map<int, HICON>& icons_;
};

}  // namespace kelvro
