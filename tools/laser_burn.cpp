#include "tools/laser_burn.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace kelvro::sim {

LaserBurn::LaserBurn(double pixel) : pixel_(pixel > 0.0 && std::isfinite(pixel) ? pixel : 0.1) {}

namespace {

// The cell of coordinate `v`. A path along a cell border (X = 20 mm with 0.1 mm cells) falls
// on either side by rounding alone; within a millionth of a cell it belongs to the cell above.
int64_t CellIndex(double v, double pixel) {
  const double q = v / pixel;
  const double nearest = std::round(q);
  return static_cast<int64_t>(std::fabs(q - nearest) < 1e-6 ? nearest : std::floor(q));
}

}  // namespace

LaserBurn::Cell LaserBurn::CellAt(double x, double y) const {
  return {CellIndex(x, pixel_), CellIndex(y, pixel_)};
}

void LaserBurn::Deposit(double x, double y, double power, double seconds) {
  const double energy = power * seconds;
  if (!(energy > 0.0) || !std::isfinite(x) || !std::isfinite(y)) return;
  cells_[CellAt(x, y)] += energy;
  total_ += energy;
}

double LaserBurn::EnergyIn(double x0, double y0, double x1, double y1) const {
  double sum = 0.0;
  for (const auto& [cell, energy] : cells_) {
    const double cx = (static_cast<double>(cell.first) + 0.5) * pixel_;
    const double cy = (static_cast<double>(cell.second) + 0.5) * pixel_;
    if (cx >= x0 && cx <= x1 && cy >= y0 && cy <= y1) sum += energy;
  }
  return sum;
}

PixelImage LaserBurn::Render() const {
  if (cells_.empty()) return {};
  int64_t col_min = cells_.begin()->first.first;
  int64_t col_max = col_min;
  int64_t row_min = cells_.begin()->first.second;
  int64_t row_max = row_min;
  std::vector<double> energies;
  energies.reserve(cells_.size());
  for (const auto& [cell, energy] : cells_) {
    col_min = std::min(col_min, cell.first);
    col_max = std::max(col_max, cell.first);
    row_min = std::min(row_min, cell.second);
    row_max = std::max(row_max, cell.second);
    energies.push_back(energy);
  }
  // Black at the energy that 98 % of the burned cells stay within: the few cells where the
  // beam stood still (at rest in a corner) would otherwise wash out everything else.
  const size_t rank = (energies.size() - 1) * 98 / 100;
  std::nth_element(energies.begin(), energies.begin() + static_cast<std::ptrdiff_t>(rank),
                   energies.end());
  const double black = energies[rank];
  // A runaway job must not ask for a picture larger than memory: the cells are the limit.
  constexpr int64_t kMaxSide = 20000;
  const int64_t width = std::min(col_max - col_min + 1, kMaxSide);
  const int64_t height = std::min(row_max - row_min + 1, kMaxSide);
  PixelImage image(static_cast<int>(width), static_cast<int>(height), kWhite);
  for (const auto& [cell, energy] : cells_) {
    const int x = static_cast<int>(cell.first - col_min);
    const int y = static_cast<int>(row_max - cell.second);
    const double shade = 255.0 * (1.0 - std::min(energy / black, 1.0));
    const auto level = static_cast<uint8_t>(std::clamp(std::lround(shade), 0L, 255L));
    image.Set(x, y, MakeColour(level, level, level));
  }
  return image;
}

double GrayCorrelation(const LaserBurn& gray, const LaserBurn& dwell, const LaserBurn& energy) {
  double n = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;
  for (const auto& [cell, seconds] : dwell.cells()) {
    const auto g = gray.cells().find(cell);
    const auto e = energy.cells().find(cell);
    const double x = g == gray.cells().end() ? 0.0 : g->second / seconds;
    const double y = e == energy.cells().end() ? 0.0 : e->second / seconds;
    n += 1.0;
    sx += x;
    sy += y;
    sxx += x * x;
    syy += y * y;
    sxy += x * y;
  }
  const double vx = n * sxx - sx * sx;
  const double vy = n * syy - sy * sy;
  if (!(vx > 0.0) || !(vy > 0.0)) return 0.0;
  return (n * sxy - sx * sy) / std::sqrt(vx * vy);
}

}  // namespace kelvro::sim
