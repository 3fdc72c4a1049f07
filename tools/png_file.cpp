#include "tools/png_file.h"

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace kelvro {

bool WritePngFile(const std::string& path, const PixelImage& image, std::string& error) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
    error = "\"" + path + "\": the image is empty";
    return false;
  }
  // Colours are 0x..RRGGBB; the file gets R, G, B and an opaque alpha per pixel.
  std::vector<uint8_t> rgba;
  rgba.reserve(image.pixels.size() * 4);
  for (const Colour colour : image.pixels) {
    rgba.push_back(static_cast<uint8_t>(colour >> 16));
    rgba.push_back(static_cast<uint8_t>(colour >> 8));
    rgba.push_back(static_cast<uint8_t>(colour));
    rgba.push_back(0xFF);
  }
  png_image png = {};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGBA;
  if (png_image_write_to_file(&png, path.c_str(), 0, rgba.data(), 0, nullptr) != 0) return true;
  error = "\"" + path + "\": " + (png.message[0] ? png.message : "cannot be written");
  png_image_free(&png);
  std::remove(path.c_str());
  return false;
}

}  // namespace kelvro
