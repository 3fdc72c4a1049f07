#include "ui/zmap_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace kelvro {
namespace {

struct Stop {
  int r;
  int g;
  int b;
};

constexpr std::array<Stop, 7> kRainbowStops{{{50, 50, 50},
                                             {128, 0, 200},
                                             {0, 0, 255},
                                             {0, 255, 255},
                                             {0, 255, 0},
                                             {255, 255, 0},
                                             {255, 0, 0}}};

// One stretch of the rainbow: its first stop and the step to the next, and where it starts
// (k ÷ 6), all exact in doubles.
struct Stretch {
  double r, g, b;
  double dr, dg, db;
  double start;
};

constexpr std::array<Stretch, 6> MakeStretches() {
  std::array<Stretch, 6> out{};
  for (size_t k = 0; k < 6; ++k) {
    const Stop& a = kRainbowStops[k];
    const Stop& b = kRainbowStops[k + 1];
    out[k] = {static_cast<double>(a.r),       static_cast<double>(a.g),
              static_cast<double>(a.b),       static_cast<double>(b.r - a.r),
              static_cast<double>(b.g - a.g), static_cast<double>(b.b - a.b),
              static_cast<double>(k) / 6.0};
  }
  return out;
}
constexpr std::array<Stretch, 6> kStretches = MakeStretches();

// trunc(a + f × (b − a)) as a byte (the conversion truncates toward zero; the value lies
// within a rounding error of [0, 255]).
int Blend(double a, double step, double f) {
  return static_cast<int>(a + f * step) & 0xFF;
}

// v scaled between the map's lowest and highest value; a flat map gives 0 everywhere (its
// lowest colour) rather than dividing by zero.
struct Scale {
  double z_min;
  double span;
  double operator()(double z) const { return span > 0.0 ? (z - z_min) / span : 0.0; }
};

}  // namespace

Colour ZMapPaletteColour(ZMapPalette palette, double v) {
  // Written so that NaN fails both tests and counts as 0.
  v = v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0;
  if (palette == ZMapPalette::kGreyscale) {
    const int g = static_cast<int>(v * 255.0) & 0xFF;
    return Opaque(MakeColour(g, g, g));
  }
  const int k = static_cast<int>(v * 6.0);
  if (k >= 6) {
    const Stop& last = kRainbowStops[6];
    return Opaque(MakeColour(last.r, last.g, last.b));
  }
  const Stretch& s = kStretches[static_cast<size_t>(k)];
  const double f = (v - s.start) * 6.0;
  return Opaque(MakeColour(Blend(s.r, s.dr, f), Blend(s.g, s.dg, f), Blend(s.b, s.db, f)));
}

PixelImage RenderZMapImage(const ZCorrectionMap& map, ZMapPalette palette, int width, int height) {
  const ZCorrectionGrid grid = map.GetZCorrectionGrid();
  if (grid.points.empty() || grid.cols < 1 || width <= 0 || height <= 0) return {};
  PixelImage image(width, height, Opaque(kWhite));
  const ZMapPoint& first = grid.points.front();
  const double x_extent = grid.points[static_cast<size_t>(grid.cols) - 1].x - first.x;
  const double y_extent = grid.points.back().y - first.y;
  const Scale scale{grid.z_min, grid.z_max - grid.z_min};
  // Every row samples the same X positions.
  std::vector<double> xs(static_cast<size_t>(width));
  for (int j = 0; j < width; ++j) xs[static_cast<size_t>(j)] = first.x + j * x_extent / width;
  const std::vector<ZGridAxis::Cell> columns = map.LocateColumns(xs);
  std::vector<double> zs(static_cast<size_t>(width));
  for (int i = 0; i < height; ++i) {
    const double y = first.y + y_extent - i * y_extent / height;
    map.ZCorrectionRow(columns, y, zs.data());
    Colour* row = image.pixels.data() + static_cast<size_t>(i) * static_cast<size_t>(width);
    for (int j = 0; j < width; ++j) {
      row[j] = ZMapPaletteColour(palette, scale(zs[static_cast<size_t>(j)]));
    }
  }
  return image;
}

std::string ZMapLegendText(double value) {
  char text[64];
  std::snprintf(text, sizeof(text), "%10.4e", value);
  return text;
}

ZMapLegendLayout LayoutZMapLegend(double z_min, double z_max, int width, int height,
                                  int label_width) {
  ZMapLegendLayout layout;
  int bar = 30;
  if (width - 30 < label_width + 10) bar = width - label_width - 10;
  // However narrow the area, the bar keeps at least one pixel and never leaves the area.
  layout.bar_width = std::clamp(bar, std::min(1, std::max(width, 0)), std::max(width, 0));
  layout.bar_left = std::max(width, 0) - layout.bar_width;
  for (int i = 0; i <= 10; ++i) {
    ZMapLegendLayout::Label& label = layout.labels[static_cast<size_t>(i)];
    label.x = 5;
    label.y = static_cast<int>(static_cast<long long>(i) * height / 11) + 5;
    // The steps are computed, not accumulated, and a value that is zero but for rounding
    // (the top of a map normalised to its highest point) shows as zero, not as 5.5511e-17.
    double value = i == 10 ? z_max : z_min + i * (z_max - z_min) * 0.1;
    if (std::fabs(value) < 1e-9 * std::fabs(z_max - z_min)) value = 0.0;
    label.text = ZMapLegendText(value);
  }
  return layout;
}

PixelImage RenderZMapLegend(ZMapPalette palette, const ZMapLegendLayout& layout, int width,
                            int height) {
  PixelImage image(width, height, Opaque(kWhite));
  for (int d = 0; d < image.height; ++d) {
    const Colour colour = ZMapPaletteColour(palette, static_cast<double>(d) / image.height);
    for (int x = layout.bar_left; x < layout.bar_left + layout.bar_width; ++x) {
      image.Set(x, d, colour);
    }
  }
  return image;
}

}  // namespace kelvro
