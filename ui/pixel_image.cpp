#include "ui/pixel_image.h"

#include <algorithm>
#include <cstdlib>

namespace kelvro {

void PixelCanvas::Fill(const PixelRect& rect, Colour colour) {
  const int left = std::max(rect.left, 0);
  const int top = std::max(rect.top, 0);
  const int right = std::min(rect.right, image_.width);
  const int bottom = std::min(rect.bottom, image_.height);
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) image_.Set(x, y, colour);
  }
}

void PixelCanvas::Line(int x0, int y0, int x1, int y1, Colour colour) {
  if (y0 == y1) {
    Fill({std::min(x0, x1 + 1), y0, std::max(x0 + 1, x1), y0 + 1}, colour);
  } else if (x0 == x1) {
    Fill({x0, std::min(y0, y1 + 1), x0 + 1, std::max(y0 + 1, y1)}, colour);
  } else {
    // Any other direction: Bresenham's steps, the end pixel left out as for the others.
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    while (x0 != x1 || y0 != y1) {
      image_.Set(x0, y0, colour);
      const int twice = 2 * error;
      if (twice >= dy) {
        error += dy;
        x0 += sx;
      }
      if (twice <= dx) {
        error += dx;
        y0 += sy;
      }
    }
  }
}

void PixelCanvas::Frame(const PixelRect& rect, Colour colour) {
  if (rect.width() <= 0 || rect.height() <= 0) return;
  Fill({rect.left, rect.top, rect.right, rect.top + 1}, colour);
  Fill({rect.left, rect.bottom - 1, rect.right, rect.bottom}, colour);
  Fill({rect.left, rect.top, rect.left + 1, rect.bottom}, colour);
  Fill({rect.right - 1, rect.top, rect.right, rect.bottom}, colour);
}

void PixelCanvas::Text(const PixelRect& box, std::string_view text, Colour colour,
                       TextAlign align) {
  texts.push_back({box, std::string(text), colour, align});
}

}  // namespace kelvro
