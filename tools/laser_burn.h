// What a laser burns onto the work plane: the energy of every millisecond the beam was on,
// added up in square cells of the work plane (machine units, X to the right, Y up).
//
// Energy is counted in full-power seconds: one second with the beam at 100 % duty is 1.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "ui/pixel_image.h"

namespace kelvro::sim {

class LaserBurn {
 public:
  // `pixel`: the cell size in machine units (not above 0: 0.1).
  explicit LaserBurn(double pixel = 0.1);

  double pixel() const { return pixel_; }
  bool empty() const { return cells_.empty(); }

  // The beam at `power` (0..1 of full duty) for `seconds` at (x, y).
  void Deposit(double x, double y, double power, double seconds);

  double total_energy() const { return total_; }
  // The cells that received something, by column and row (row grows with Y).
  using Cell = std::pair<int64_t, int64_t>;
  const std::map<Cell, double>& cells() const { return cells_; }
  // The energy of the cells whose centres lie within [x0, x1] x [y0, y1].
  double EnergyIn(double x0, double y0, double x1, double y1) const;

  // The cells as a picture covering the burned area: one pixel per cell, the top row at the
  // largest Y; white where nothing was burned, black from the energy that 98 % of the burned
  // cells stay within, the gray in between proportional to the energy.
  PixelImage Render() const;

 private:
  Cell CellAt(double x, double y) const;

  double pixel_;
  double total_ = 0.0;
  std::map<Cell, double> cells_;
};

// The correlation (Pearson) between the mean gray level a laser was commanded with in each
// cell (`gray`: level x seconds, `dwell`: seconds with the gate open, on the same cells) and
// the energy the cell received per second of that time (`energy`), over the cells of
// `dwell`; 0 when either side does not vary. Per second, because where the tool slows down
// (the ends of every move) a cell gets more time and so more energy at the same level.
double GrayCorrelation(const LaserBurn& gray, const LaserBurn& dwell, const LaserBurn& energy);

}  // namespace kelvro::sim
