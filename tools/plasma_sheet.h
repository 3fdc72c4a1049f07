// The plasma table of a THC run: the sheet, warped, and the arc between it and the torch.
//
// The sheet's top is Z 0 of the first work offset, wavy by up to about half a millimetre,
// tilted, and buckled up by 1.5 mm along a line across it.
// The arc voltage follows the cut chart of the simulated torch: `kArcVoltsAtCutHeight` at
// `kChartCutHeight` above the sheet at the chart's cutting speed, rising by
// `kArcVoltsPerUnit` per millimetre of height; the arc lengthens when the torch slows down
// (corners) by up to `kSlowArcVolts` at a standstill; over a kerf cut earlier the arc
// stretches down into the gap and rises by `kKerfVolts`. Noise is added.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <unordered_map>
#include <utility>

namespace kelvro::sim {

class PlasmaSheet {
 public:
  static constexpr double kChartCutHeight = 1.5;         // mm
  static constexpr double kArcVoltsAtCutHeight = 115.0;  // at the chart's height and speed
  static constexpr double kArcVoltsPerUnit = 10.0;       // per mm of height
  static constexpr double kChartSpeed = 40.0;            // mm/s (2400 mm/min)
  static constexpr double kSlowArcVolts = 30.0;          // at a standstill
  static constexpr double kKerfVolts = 25.0;             // over an earlier kerf
  static constexpr double kKerfWidth = 1.5;              // mm
  static constexpr double kNoiseVolts = 0.8;             // standard deviation
  // The sheet is buckled up across its width at X kBuckleX.
  static constexpr double kBuckleX = 220.0;
  static constexpr double kBuckleHeight = 1.5;
  static constexpr double kBuckleWidth = 25.0;  // 1/e half width

  explicit PlasmaSheet(uint64_t seed) : noise_(seed) {}

  // The sheet's top at X, Y (work coordinates, mm).
  static double Top(double x, double y);

  // The arc voltage for the torch at X, Y, Z (work coordinates, mm) at `now_ms`, called once
  // per millisecond while the arc burns (the speed comes from the calls before). The arc
  // also cuts its kerf there.
  double ArcVolts(double x, double y, double z, uint64_t now_ms);
  // The arc went out: its kerf is complete, the next call starts from a standstill. A pause
  // between two calls means the same.
  void ArcOut();
  // Milliseconds in which the torch crossed an earlier kerf.
  uint64_t kerf_crossing_ms() const { return kerf_crossing_ms_; }

 private:
  // Kerf cells (kCell mm square) and the time they were cut.
  static constexpr double kCell = 0.5;
  static int64_t CellKey(double x, double y);
  bool OverOldKerf(double x, double y, uint64_t now_ms) const;
  void CutKerf(double x, double y, uint64_t now_ms);

  std::mt19937_64 noise_;
  std::optional<uint64_t> last_ms_;
  // Where the torch was in the last milliseconds: the kerf forms behind the arc.
  std::deque<std::pair<double, double>> trail_;
  double last_x_ = 0.0;
  double last_y_ = 0.0;
  double speed_ = 0.0;  // mm/s, smoothed
  std::unordered_map<int64_t, uint64_t> kerf_;
  uint64_t kerf_crossing_ms_ = 0;
};

}  // namespace kelvro::sim
