// Pictures computed by portable code: a `PixelImage` (32-bit pixels, rows from the top) and a
// `PixelCanvas` that draws into one. Fills and lines set pixels; texts and icons, which the
// platform draws in its own font and from its own resources, are recorded with the place
// they were given, so tests can read them back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/canvas.h"

namespace kelvro {

struct PixelImage {
  PixelImage() = default;
  PixelImage(int w, int h, Colour background = kWhite)
      : width(w > 0 ? w : 0),
        height(h > 0 ? h : 0),
        pixels(static_cast<size_t>(width) * static_cast<size_t>(height), background) {}
  // Outside the image: reads give 0xFFFFFFFF, writes are dropped.
  Colour at(int x, int y) const { return Inside(x, y) ? pixels[Index(x, y)] : 0xFFFFFFFFu; }
  void Set(int x, int y, Colour colour) {
    if (Inside(x, y)) pixels[Index(x, y)] = colour;
  }
  bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }

  int width = 0;
  int height = 0;
  std::vector<Colour> pixels;

 private:
  size_t Index(int x, int y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
  }
};

class PixelCanvas final : public Canvas {
 public:
  struct DrawnText {
    PixelRect box;
    std::string text;
    Colour colour;
    TextAlign align;
  };
  struct DrawnIcon {
    int id;
    int x;
    int y;
  };

  explicit PixelCanvas(PixelImage& image, Colour button_face = MakeColour(240, 240, 240))
      : image_(image), button_face_(button_face) {}

  Colour ButtonFace() const override { return button_face_; }
  void Fill(const PixelRect& rect, Colour colour) override;
  void Line(int x0, int y0, int x1, int y1, Colour colour) override;
  void Frame(const PixelRect& rect, Colour colour) override;
  void Text(const PixelRect& box, std::string_view text, Colour colour, TextAlign align) override;
  void Icon(int icon_id, int x, int y) override { icons.push_back({icon_id, x, y}); }

  std::vector<DrawnText> texts;
  std::vector<DrawnIcon> icons;

 private:
  PixelImage& image_;
  Colour button_face_;
};

}  // namespace kelvro
