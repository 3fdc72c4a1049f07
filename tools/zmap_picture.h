// The picture kelvro-sim draws of a Z correction map: the map window's map image in the
// top-left W x H pixels and its legend to the right, the legend's labels in a small
// built-in font (the plugin's window draws them in the system's font).
#pragma once

#include "ui/pixel_image.h"
#include "ui/zmap_image.h"
#include "zcorr/z_map.h"

namespace kelvro {

// Width of the legend beside the map.
inline constexpr int kZMapPictureLegendWidth = 120;

// Empty without a map.
PixelImage RenderZMapPicture(const ZCorrectionMap& map, ZMapPalette palette, int width, int height);

// Pixel width of a text in the built-in font (6 pixels a character).
int BuiltInTextWidth(std::string_view text);

// Draws `text` with its top-left corner at (x, y), in 5 x 7 glyphs; characters the font does
// not have are left blank.
void DrawBuiltInText(PixelImage& image, int x, int y, std::string_view text, Colour colour);

}  // namespace kelvro
