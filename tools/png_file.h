// Writes a PixelImage as a PNG file (8-bit RGBA, every pixel opaque) through libpng.
#pragma once

#include <string>

#include "ui/pixel_image.h"

namespace kelvro {

// False with `error` saying why when the file cannot be written; a partly written file is
// removed.
bool WritePngFile(const std::string& path, const PixelImage& image, std::string& error);

}  // namespace kelvro
