#include "tools/zmap_picture.h"

#include <algorithm>
#include <array>

namespace kelvro {
namespace {

constexpr int kAdvance = 6;

struct Glyph {
  char c;
  std::array<const char*, 7> rows;
};

// What the legend's "%10.4e" labels use.
constexpr Glyph kGlyphs[] = {
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {'e', {".....", ".....", ".###.", "#...#", "#####", "#....", ".###."}},
    {'+', {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
};

const Glyph* FindGlyph(char c) {
  for (const Glyph& glyph : kGlyphs) {
    if (glyph.c == c) return &glyph;
  }
  return nullptr;
}

}  // namespace

int BuiltInTextWidth(std::string_view text) {
  return kAdvance * static_cast<int>(text.size());
}

void DrawBuiltInText(PixelImage& image, int x, int y, std::string_view text, Colour colour) {
  for (size_t k = 0; k < text.size(); ++k) {
    const Glyph* glyph = FindGlyph(text[k]);
    if (!glyph) continue;
    const int left = x + kAdvance * static_cast<int>(k);
    for (int row = 0; row < 7; ++row) {
      for (int col = 0; col < 5; ++col) {
        if (glyph->rows[static_cast<size_t>(row)][col] == '#') {
          image.Set(left + col, y + row, colour);
        }
      }
    }
  }
}

PixelImage RenderZMapPicture(const ZCorrectionMap& map, ZMapPalette palette, int width,
                             int height) {
  const PixelImage image = RenderZMapImage(map, palette, width, height);
  if (image.pixels.empty()) return {};
  const ZCorrectionGrid grid = map.GetZCorrectionGrid();
  const int legend_width = kZMapPictureLegendWidth;
  const ZMapLegendLayout layout = LayoutZMapLegend(grid.z_min, grid.z_max, legend_width, height,
                                                   BuiltInTextWidth(kZMapWidestLabel));
  PixelImage legend = RenderZMapLegend(palette, layout, legend_width, height);
  for (const ZMapLegendLayout::Label& label : layout.labels) {
    DrawBuiltInText(legend, label.x, label.y, label.text, Opaque(kBlack));
  }
  PixelImage picture(width + legend_width, height, Opaque(kWhite));
  for (int y = 0; y < height; ++y) {
    const auto out = picture.pixels.begin() + static_cast<std::ptrdiff_t>(y) * picture.width;
    std::copy_n(image.pixels.begin() + static_cast<std::ptrdiff_t>(y) * width, width, out);
    std::copy_n(legend.pixels.begin() + static_cast<std::ptrdiff_t>(y) * legend_width, legend_width,
                out + width);
  }
  return picture;
}

}  // namespace kelvro
