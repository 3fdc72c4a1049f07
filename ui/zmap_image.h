// The pictures of the Z correction map window, computed from the map: the map image (the
// grid rectangle stretched over the image area, high Y at the top, each pixel the palette's
// colour of the correction there scaled between ZMin and ZMax) and the legend (a colour bar
// from ZMin at the top to ZMax at the bottom, and eleven value labels whose places are given
// here and whose text the platform draws in its own font).
//
// Pixels carry the bytes blue, green, red, 255 in memory: 0xFFRRGGBB as 32-bit values.
#pragma once

#include <array>
#include <string>

#include "ui/pixel_image.h"
#include "zcorr/z_map.h"

namespace kelvro {

enum class ZMapPalette { kGreyscale = 0, kRainbow = 1 };

inline constexpr std::array<const char*, 2> kZMapPaletteItems{"Greyscale", "Rainbow"};
// The label whose width the legend leaves room for.
inline constexpr char kZMapWidestLabel[] = "-0.0000e+000";

// The opaque form of a colour, as the map's pixels store it.
constexpr Colour Opaque(Colour colour) {
  return colour | 0xFF000000u;
}

// The palette's colour of v, v limited to [0, 1] (NaN counts as 0); opaque.
Colour ZMapPaletteColour(ZMapPalette palette, double v);

// The map image, width x height pixels; empty (0 x 0) without a map.
PixelImage RenderZMapImage(const ZCorrectionMap& map, ZMapPalette palette, int width, int height);

// Where the legend's parts go in a legend area of width x height pixels, given the pixel
// width of the widest label ("-0.0000e+000") in the font that draws them.
struct ZMapLegendLayout {
  struct Label {
    int x = 0;
    int y = 0;
    std::string text;
  };
  int bar_left = 0;   // the bar runs from here to the area's right edge
  int bar_width = 0;  // at least 1 in an area at least 1 pixel wide
  std::array<Label, 11> labels;
};

ZMapLegendLayout LayoutZMapLegend(double z_min, double z_max, int width, int height,
                                  int label_width);

// The legend bitmap: white, with the bar of `layout`; the labels are left to the caller.
PixelImage RenderZMapLegend(ZMapPalette palette, const ZMapLegendLayout& layout, int width,
                            int height);

// The label text of one legend value ("%10.4e").
std::string ZMapLegendText(double value);

}  // namespace kelvro
