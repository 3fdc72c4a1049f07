// The map window's pictures: the two palettes against values worked out by hand, the map
// image against a rendering written here from the grid (pixel place to machine position,
// scaling between ZMin and ZMax, palette colour), the legend's bar row by row and its
// labels' places, and the flat-map and narrow-legend cases.
#include "ui/zmap_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/zcorr/z_map_test_support.h"

namespace kelvro {
namespace {

constexpr Colour Rgb(int r, int g, int b) {
  return 0xFF000000u | (static_cast<Colour>(r) << 16) | (static_cast<Colour>(g) << 8) |
         static_cast<Colour>(b);
}

// ---- Palettes, by hand ----

struct PaletteCase {
  ZMapPalette palette;
  double v;
  Colour expected;
};

class ZMapPaletteTest : public ::testing::TestWithParam<PaletteCase> {};

TEST_P(ZMapPaletteTest, ColourOfAValue) {
  const PaletteCase& c = GetParam();
  EXPECT_EQ(ZMapPaletteColour(c.palette, c.v), c.expected) << c.v;
}

constexpr ZMapPalette kGrey = ZMapPalette::kGreyscale;
constexpr ZMapPalette kRainbow = ZMapPalette::kRainbow;

INSTANTIATE_TEST_SUITE_P(
    HandWorked, ZMapPaletteTest,
    ::testing::Values(
        PaletteCase{kGrey, 0.0, Rgb(0, 0, 0)},
        PaletteCase{kGrey, 0.5, Rgb(127, 127, 127)},    // 127.5
        PaletteCase{kGrey, 0.999, Rgb(254, 254, 254)},  // 254.7
        PaletteCase{kGrey, 1.0, Rgb(255, 255, 255)},
        PaletteCase{kGrey, -0.1, Rgb(0, 0, 0)},  // limited to [0, 1]
        PaletteCase{kGrey, 7.0, Rgb(255, 255, 255)}, PaletteCase{kGrey, NAN, Rgb(0, 0, 0)},
        PaletteCase{kRainbow, 0.0, Rgb(50, 50, 50)},
        // k 1, f 0.5: halfway from (128, 0, 200) to (0, 0, 255).
        PaletteCase{kRainbow, 0.25, Rgb(64, 0, 227)}, PaletteCase{kRainbow, 0.5, Rgb(0, 255, 255)},
        // k 4, f 0.5: halfway from (0, 255, 0) to (255, 255, 0).
        PaletteCase{kRainbow, 0.75, Rgb(127, 255, 0)},
        // k 0, f 0.75: (50 + 0.75 × 78, 50 − 0.75 × 50, 50 + 0.75 × 150).
        PaletteCase{kRainbow, 0.125, Rgb(108, 12, 162)}, PaletteCase{kRainbow, 1.0, Rgb(255, 0, 0)},
        PaletteCase{kRainbow, 3.0, Rgb(255, 0, 0)}, PaletteCase{kRainbow, -2.0, Rgb(50, 50, 50)}));

// ---- The map image against a rendering written from the formulas ----

struct Rgb3 {
  double r, g, b;
};

// The palettes as the formulas give them, on their own.
Colour ReferenceColour(ZMapPalette palette, double v) {
  if (v < 0.0) v = 0.0;
  if (v > 1.0) v = 1.0;
  if (palette == ZMapPalette::kGreyscale) {
    const int g = static_cast<int>(v * 255.0);
    return Rgb(g, g, g);
  }
  static const Rgb3 stops[7] = {{50, 50, 50}, {128, 0, 200}, {0, 0, 255}, {0, 255, 255},
                                {0, 255, 0},  {255, 255, 0}, {255, 0, 0}};
  const int k = static_cast<int>(v * 6.0);
  if (k == 6) return Rgb(255, 0, 0);
  const double f = (v - k / 6.0) * 6.0;
  const Rgb3& a = stops[k];
  const Rgb3& b = stops[k + 1];
  return Rgb(static_cast<int>(a.r + f * (b.r - a.r)), static_cast<int>(a.g + f * (b.g - a.g)),
             static_cast<int>(a.b + f * (b.b - a.b)));
}

// Row i, column j of a W x H picture: the grid rectangle stretched over it, high Y on top.
std::vector<Colour> ReferenceImage(const ZCorrectionMap& map, ZMapPalette palette, int w, int h) {
  const std::vector<ZMapPoint>& p = map.points();
  const double x0 = p[0].x, y0 = p[0].y;
  const double xe = p[static_cast<size_t>(map.cols() - 1)].x - x0;
  const double ye = p.back().y - y0;
  std::vector<Colour> pixels;
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      const double x = x0 + j * xe / w;
      const double y = y0 + ye - i * ye / h;
      const double v = (map.ZCorrectionAt(x, y) - map.z_min()) / (map.z_max() - map.z_min());
      pixels.push_back(ReferenceColour(palette, v));
    }
  }
  return pixels;
}

class ZMapImageTest : public test::ZMapTest {};

struct Size {
  int w, h;
};

TEST_F(ZMapImageTest, EqualsTheReferenceForBothPalettesSizesAndAnUnevenGrid) {
  // Uneven spacing in both directions, a saddle with a bump.
  const std::vector<double> xs{-4.0, 0.0, 3.0, 10.0, 12.5};
  const std::vector<double> ys{-5.0, 0.0, 20.0, 21.0};
  ASSERT_TRUE(LoadText(test::GridText(
      xs, ys, [](double x, double y) { return 0.01 * x * y + std::sin(x) - 0.2 * y; })));
  for (const Size size : {Size{1, 1}, Size{7, 5}, Size{64, 48}, Size{440, 370}}) {
    for (const ZMapPalette palette : {kGrey, kRainbow}) {
      SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h) + " palette " +
                   std::to_string(static_cast<int>(palette)));
      const PixelImage image = RenderZMapImage(map, palette, size.w, size.h);
      ASSERT_EQ(image.width, size.w);
      ASSERT_EQ(image.height, size.h);
      EXPECT_EQ(image.pixels, ReferenceImage(map, palette, size.w, size.h));
    }
  }
  // The top-left pixel is the grid point of lowest X and highest Y.
  const PixelImage image = RenderZMapImage(map, kGrey, 10, 10);
  const double top_left = map.points()[15].z;  // row 3 (Y 21), column 0
  const int g = static_cast<int>((top_left - map.z_min()) / (map.z_max() - map.z_min()) * 255.0);
  EXPECT_EQ(image.at(0, 0), Rgb(g, g, g));
}

TEST_F(ZMapImageTest, AFlatMapIsThePalettesLowestColour) {
  // 0.1 everywhere: between the points the interpolation may land a rounding error off it.
  ASSERT_TRUE(LoadText("0,0,0.1\n3,0,0.1\n7,0,0.1\n0,5,0.1\n3,5,0.1\n7,5,0.1\n", kZNormalNone));
  ASSERT_EQ(map.z_min(), map.z_max());
  for (const auto& [palette, lowest] :
       {std::pair{kGrey, Rgb(0, 0, 0)}, std::pair{kRainbow, Rgb(50, 50, 50)}}) {
    const PixelImage image = RenderZMapImage(map, palette, 64, 48);
    EXPECT_EQ(image.pixels, std::vector<Colour>(64 * 48, lowest));
  }
  const ZMapLegendLayout layout = LayoutZMapLegend(2.0, 2.0, 80, 110, 40);
  for (const auto& label : layout.labels) EXPECT_EQ(label.text, ZMapLegendText(2.0));
}

TEST_F(ZMapImageTest, NoMapGivesNoImage) {
  const PixelImage image = RenderZMapImage(map, kRainbow, 20, 20);
  EXPECT_EQ(image.width, 0);
  EXPECT_TRUE(image.pixels.empty());
}

// ---- The legend ----

struct LegendCase {
  const char* name;
  int width;
  int label_width;
  int bar_width;
};

class ZMapLegendTest : public ::testing::TestWithParam<LegendCase> {};

TEST_P(ZMapLegendTest, BarWidthAndRows) {
  const LegendCase& c = GetParam();
  constexpr int kHeight = 115;
  const ZMapLegendLayout layout = LayoutZMapLegend(-0.5, 1.5, c.width, kHeight, c.label_width);
  EXPECT_EQ(layout.bar_width, c.bar_width);
  EXPECT_EQ(layout.bar_left, c.width - c.bar_width);
  for (const ZMapPalette palette : {kGrey, kRainbow}) {
    const PixelImage legend = RenderZMapLegend(palette, layout, c.width, kHeight);
    ASSERT_EQ(legend.height, kHeight);
    for (int d = 0; d < kHeight; ++d) {
      std::vector<Colour> expected(static_cast<size_t>(c.width), Rgb(255, 255, 255));
      for (int x = c.width - c.bar_width; x < c.width; ++x) {
        expected[static_cast<size_t>(x)] =
            ReferenceColour(palette, static_cast<double>(d) / kHeight);
      }
      const auto row = legend.pixels.begin() + static_cast<std::ptrdiff_t>(d) * c.width;
      ASSERT_EQ(std::vector<Colour>(row, row + c.width), expected) << "row " << d;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Widths, ZMapLegendTest,
    ::testing::Values(LegendCase{"Wide", 120, 60, 30},
                      LegendCase{"JustWideEnough", 100, 60, 30},  // 70 is not below 70
                      LegendCase{"LabelPlus39", 99, 60, 29}, LegendCase{"Narrow", 80, 60, 10},
                      // No room beside the labels: the bar keeps one pixel.
                      LegendCase{"TooNarrowForTheLabels", 65, 60, 1},
                      LegendCase{"OnePixel", 1, 60, 1}, LegendCase{"Empty", 0, 60, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ZMapLegend, ElevenLabelsFromZMinDown) {
  const ZMapLegendLayout layout = LayoutZMapLegend(-0.5, 1.5, 84, 115, 60);
  // trunc(i × 115 ÷ 11) + 5.
  const int ys[11] = {5, 15, 25, 36, 46, 57, 67, 78, 88, 99, 109};
  for (int i = 0; i <= 10; ++i) {
    const auto& label = layout.labels[static_cast<size_t>(i)];
    EXPECT_EQ(label.x, 5);
    EXPECT_EQ(label.y, ys[i]) << i;
  }
  EXPECT_EQ(layout.labels[0].text, ZMapLegendText(-0.5));
  EXPECT_EQ(layout.labels[5].text, ZMapLegendText(0.5));
  EXPECT_EQ(layout.labels[10].text, ZMapLegendText(1.5));
  // Ten characters at least, four decimals, an exponent.
  const std::string text = ZMapLegendText(-0.5);
  EXPECT_EQ(text.substr(0, 8), "-5.0000e") << text;
  // A map normalised to its highest point: the top label reads zero, not a rounding residue.
  const ZMapLegendLayout normalised = LayoutZMapLegend(-0.3, 0.0, 84, 115, 60);
  EXPECT_EQ(normalised.labels[10].text, ZMapLegendText(0.0));
  EXPECT_EQ(normalised.labels[5].text, ZMapLegendText(-0.15));
}

}  // namespace
}  // namespace kelvro
