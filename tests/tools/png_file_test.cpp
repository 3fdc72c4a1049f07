// The PNG writer: what libpng reads back from the file is the image, pixel for pixel.
#include "tools/png_file.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/tools/simtool_test_util.h"

namespace kelvro::sim::test {
namespace {

struct ReadBack {
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
};

ReadBack ReadPng(const std::string& path) {
  ReadBack r;
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return r;
  png.format = PNG_FORMAT_RGBA;
  r.rgba.resize(PNG_IMAGE_SIZE(png));
  r.width = static_cast<int>(png.width);
  r.height = static_cast<int>(png.height);
  r.ok = png_image_finish_read(&png, nullptr, r.rgba.data(), 0, nullptr) != 0;
  png_image_free(&png);
  return r;
}

TEST(PngFile, ReadsBackAsWritten) {
  TempDir dir;
  // Three columns, two rows: every channel at its own value.
  PixelImage image(3, 2);
  image.Set(0, 0, MakeColour(255, 0, 0));
  image.Set(1, 0, MakeColour(0, 255, 0));
  image.Set(2, 0, MakeColour(0, 0, 255));
  image.Set(0, 1, MakeColour(1, 2, 3));
  image.Set(1, 1, kBlack);
  // (2, 1) stays white.
  std::string error;
  const std::string path = dir.File("picture.png");
  ASSERT_TRUE(WritePngFile(path, image, error)) << error;
  const ReadBack r = ReadPng(path);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.width, 3);
  EXPECT_EQ(r.height, 2);
  const std::vector<uint8_t> expected{255, 0, 0, 255, 0, 255, 0, 255, 0,   0,   255, 255,
                                      1,   2, 3, 255, 0, 0,   0, 255, 255, 255, 255, 255};
  EXPECT_EQ(r.rgba, expected);
}

TEST(PngFile, RefusesAnEmptyImageAndAnUnwritablePath) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(WritePngFile(dir.File("empty.png"), PixelImage(), error));
  EXPECT_EQ(error, "cannot write \"" + dir.File("empty.png") + "\": the image is empty");
  EXPECT_FALSE(std::filesystem::exists(dir.File("empty.png")));
  error.clear();
  const std::string missing = dir.File("no/such/folder/p.png");
  EXPECT_FALSE(WritePngFile(missing, PixelImage(2, 2), error));
  EXPECT_EQ(error.rfind("cannot write \"" + missing + "\": ", 0), 0u) << error;
}

}  // namespace
}  // namespace kelvro::sim::test
