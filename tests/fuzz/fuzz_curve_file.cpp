// Reads arbitrary bytes as a laser ramp curve file: a loaded curve must be one the spline
// takes as it is (2 to 20 points, X strictly ascending from 0 to 100, every value within 0..100),
// it must draw, and what Save writes for it must load back to the same points.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "motion/laser_curve.h"
#include "ui/curve_area.h"
#include "ui/curve_file.h"
#include "ui/pixel_image.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<kelvro::LaserCurve> curve = kelvro::ParseCurveFile(text);
  if (!curve) return 0;
  const kelvro::LaserCurve& c = *curve;
  Check(c.count >= 2 && c.count <= kelvro::kLaserCurveMaxPoints);
  Check(c.x[0] == 0.0 && c.x[c.count - 1] == 100.0);
  for (int i = 0; i < c.count; ++i) {
    Check(c.y[i] >= 0.0 && c.y[i] <= 100.0);
    if (i > 0) Check(c.x[i - 1] < c.x[i]);
  }
  const kelvro::PreparedLaserCurve prepared = kelvro::BuildLaserCurve(c);
  Check(prepared.count == c.count);
  for (double x = 0.0; x <= 100.0; x += 0.5)
    Check(std::isfinite(kelvro::LaserCurveAt(prepared, x)));

  // Points closer than a millionth cannot survive six decimals; all others load back.
  const std::optional<kelvro::LaserCurve> back = kelvro::ParseCurveFile(kelvro::FormatCurveFile(c));
  Check(back.has_value());
  bool distinct = true;
  for (int i = 1; i < c.count; ++i) distinct = distinct && c.x[i] - c.x[i - 1] > 2e-6;
  if (distinct) {
    Check(back->count == c.count);
    for (int i = 0; i < c.count; ++i) {
      // Six decimals: half a millionth, and the binary fraction's own rounding.
      Check(std::fabs(back->x[i] - c.x[i]) <= 1e-6 && std::fabs(back->y[i] - c.y[i]) <= 1e-6);
    }
  }

  kelvro::CurveArea area;
  area.SetSize(64, 64);
  area.SetCurve(c);
  kelvro::PixelImage image(64, 64);
  kelvro::PixelCanvas canvas(image);
  area.Draw(canvas);
  return 0;
}
