// The PNG writer, read back through libpng: every pixel's red, green and blue with an opaque
// alpha, for odd sizes; failures named; and kelvro-sim's map picture, whose left part is the
// map window's image and whose right part is its legend with the labels drawn in.
#include "tools/png_file.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/zcorr/z_map_test_support.h"
#include "tools/zmap_picture.h"

namespace kelvro {
namespace {

struct ReadBack {
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
};

ReadBack ReadPng(const std::string& path) {
  ReadBack out;
  png_image png = {};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return out;
  png.format = PNG_FORMAT_RGBA;
  out.width = static_cast<int>(png.width);
  out.height = static_cast<int>(png.height);
  out.rgba.resize(PNG_IMAGE_SIZE(png));
  out.ok = png_image_finish_read(&png, nullptr, out.rgba.data(), 0, nullptr) != 0;
  return out;
}

TEST(PngFile, WritesEveryPixelAsRgbaAndReadsBack) {
  test::TempDir dir;
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{33, 65}}) {
    PixelImage image(w, h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        // The top byte is no alpha: it must not reach the file.
        image.Set(x, y, (static_cast<Colour>(x * 37 + y) << 24) | MakeColour(x * 7, y * 3, x ^ y));
      }
    }
    const std::string path = dir.File("image.png");
    std::string error;
    ASSERT_TRUE(WritePngFile(path, image, error)) << error;
    const ReadBack back = ReadPng(path);
    ASSERT_TRUE(back.ok);
    ASSERT_EQ(back.width, w);
    ASSERT_EQ(back.height, h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const uint8_t* p = &back.rgba[(static_cast<size_t>(y) * w + x) * 4];
        EXPECT_EQ(p[0], (x * 7) & 0xFF);
        EXPECT_EQ(p[1], (y * 3) & 0xFF);
        EXPECT_EQ(p[2], (x ^ y) & 0xFF);
        EXPECT_EQ(p[3], 0xFF);
      }
    }
  }
}

TEST(PngFile, FailuresAreNamedAndLeaveNoFile) {
  test::TempDir dir;
  std::string error;
  EXPECT_FALSE(WritePngFile(dir.File("empty.png"), PixelImage(), error));
  EXPECT_NE(error.find("empty"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir.File("empty.png")));
  error.clear();
  const std::string nowhere = dir.File("none") + "/x.png";
  EXPECT_FALSE(WritePngFile(nowhere, PixelImage(4, 4), error));
  EXPECT_NE(error.find(nowhere), std::string::npos) << error;
}

class ZMapPictureTest : public test::ZMapTest {};

TEST_F(ZMapPictureTest, TheMapLeftTheLegendRightWithItsLabels) {
  ASSERT_TRUE(LoadText(test::GridText({0, 10, 30}, {0, 5, 20},
                                      [](double x, double y) { return 0.01 * x - 0.02 * y; })));
  constexpr int kW = 50, kH = 120, kL = kZMapPictureLegendWidth;
  const PixelImage picture = RenderZMapPicture(map, ZMapPalette::kRainbow, kW, kH);
  ASSERT_EQ(picture.width, kW + kL);
  ASSERT_EQ(picture.height, kH);
  const PixelImage image = RenderZMapImage(map, ZMapPalette::kRainbow, kW, kH);
  const ZMapLegendLayout layout =
      LayoutZMapLegend(map.z_min(), map.z_max(), kL, kH, BuiltInTextWidth(kZMapWidestLabel));
  const PixelImage legend = RenderZMapLegend(ZMapPalette::kRainbow, layout, kL, kH);
  int black = 0;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) ASSERT_EQ(picture.at(x, y), image.at(x, y)) << x << "," << y;
    for (int x = 0; x < kL; ++x) {
      const Colour got = picture.at(kW + x, y);
      if (got == Opaque(kBlack)) {
        ++black;
        // Label ink lies left of the bar, inside the label rows.
        EXPECT_LT(x, layout.bar_left);
      } else {
        ASSERT_EQ(got, legend.at(x, y)) << x << "," << y;
      }
    }
  }
  EXPECT_GT(black, 11 * 20);  // eleven labels of several glyphs each
  EXPECT_EQ(RenderZMapPicture(ZCorrectionMap(), ZMapPalette::kGreyscale, 10, 10).width, 0);
}

}  // namespace
}  // namespace kelvro
