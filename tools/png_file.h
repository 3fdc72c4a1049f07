// Writes a PixelImage as an 8-bit RGBA PNG file (opaque), through libpng.
#pragma once

#include <string>

#include "ui/pixel_image.h"

namespace kelvro {

// False with a message in `error` when the image is empty or the file cannot be written;
// a file that could not be written whole is removed.
bool WritePngFile(const std::string& path, const PixelImage& image, std::string& error);

}  // namespace kelvro
