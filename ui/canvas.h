// A small drawing seam for the windows that draw themselves (owner-drawn list rows, and next
// the status window, the curve editor and the map window): the portable code says what to
// draw in pixel coordinates, a canvas draws it. The DLL's canvas draws with GDI into the
// window's device context, texts in the window's font; the portable `PixelCanvas` draws into
// a `PixelImage` and records its texts and icons, so that tests look at the pixels.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelvro {

// 0x00RRGGBB.
using Colour = uint32_t;
constexpr Colour MakeColour(int r, int g, int b) {
  return (static_cast<Colour>(r & 0xFF) << 16) | (static_cast<Colour>(g & 0xFF) << 8) |
         static_cast<Colour>(b & 0xFF);
}
inline constexpr Colour kBlack = 0x000000;
inline constexpr Colour kWhite = 0xFFFFFF;

// A rectangle in pixels: left and top inside, right and bottom just outside.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const PixelRect&) const = default;
};

enum class TextAlign { kLeft, kCentre };

class Canvas {
 public:
  virtual ~Canvas() = default;
  // The system's colour of button faces (dialog backgrounds, list row headers).
  virtual Colour ButtonFace() const = 0;
  virtual void Fill(const PixelRect& rect, Colour colour) = 0;
  // A one-pixel line from (x0, y0) to just before (x1, y1), in any direction.
  virtual void Line(int x0, int y0, int x1, int y1, Colour colour) = 0;
  // The one-pixel outline of `rect`, not filled.
  virtual void Frame(const PixelRect& rect, Colour colour) = 0;
  // One line of text clipped to `box` and centred in it vertically; left-aligned texts start
  // at the box's left edge.
  virtual void Text(const PixelRect& box, std::string_view text, Colour colour,
                    TextAlign align) = 0;
  // A 16 x 16 icon of the resources with its top-left corner at (x, y).
  virtual void Icon(int icon_id, int x, int y) = 0;
};

}  // namespace kelvro
