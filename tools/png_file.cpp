#include "tools/png_file.h"

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace kelvro {

bool WritePngFile(const std::string& path, const PixelImage& image, std::string& error) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
    error = "cannot write \"" + path + "\": the image is empty";
    return false;
  }
  // Colours are 0x00RRGGBB; the file gets R, G, B and an opaque alpha per pixel.
  std::vector<uint8_t> rgba(image.pixels.size() * 4);
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    const Colour c = image.pixels[i];
    rgba[4 * i] = static_cast<uint8_t>(c >> 16);
    rgba[4 * i + 1] = static_cast<uint8_t>(c >> 8);
    rgba[4 * i + 2] = static_cast<uint8_t>(c);
    rgba[4 * i + 3] = 0xFF;
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGBA;
  const bool written = png_image_write_to_file(&png, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
  if (!written) {
    error = "cannot write \"" + path + "\": " + png.message;
    png_image_free(&png);
    std::remove(path.c_str());
    return false;
  }
  png_image_free(&png);
  return true;
}

}  // namespace kelvro
