#include "tools/plasma_sheet.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kelvro::sim {
namespace {

// The kerf opens this far behind the arc; a cell cut longer ago than kOwnKerfMs is an
// earlier cut (the arc closing a contour crosses its own start).
constexpr size_t kKerfDelayMs = 30;
constexpr uint64_t kOwnKerfMs = 400;
// The arc follows a change of speed within a few milliseconds.
constexpr double kSpeedSmoothing = 0.2;

}  // namespace

double PlasmaSheet::Top(double x, double y) {
  // A gentle waviness, a slight tilt and a buckle across the sheet at X 220.
  const double buckle = (x - kBuckleX) / kBuckleWidth;
  return 0.35 * std::sin(2.0 * std::numbers::pi * x / 180.0) *
             std::cos(2.0 * std::numbers::pi * y / 140.0) +
         0.0015 * x + kBuckleHeight * std::exp(-buckle * buckle);
}

int64_t PlasmaSheet::CellKey(double x, double y) {
  const auto cx = static_cast<int64_t>(std::floor(x / kCell));
  const auto cy = static_cast<int64_t>(std::floor(y / kCell));
  return (cx << 32) ^ (cy & 0xFFFFFFFF);
}

bool PlasmaSheet::OverOldKerf(double x, double y, uint64_t now_ms) const {
  const auto it = kerf_.find(CellKey(x, y));
  return it != kerf_.end() && now_ms - it->second > kOwnKerfMs;
}

void PlasmaSheet::CutKerf(double x, double y, uint64_t now_ms) {
  const double half = kKerfWidth / 2.0;
  for (double dx = -half; dx <= half + 1e-9; dx += kCell) {
    for (double dy = -half; dy <= half + 1e-9; dy += kCell) {
      if (dx * dx + dy * dy > half * half + 1e-9) continue;
      // The time the kerf last opened there: where the torch stands, its kerf is its own.
      kerf_.insert_or_assign(CellKey(x + dx, y + dy), now_ms);
    }
  }
}

void PlasmaSheet::ArcOut() {
  if (last_ms_) {
    for (const auto& [x, y] : trail_) CutKerf(x, y, *last_ms_);
  }
  trail_.clear();
  last_ms_.reset();
}

double PlasmaSheet::ArcVolts(double x, double y, double z, uint64_t now_ms) {
  if (last_ms_ && now_ms > *last_ms_ + 1) ArcOut();
  if (last_ms_ && now_ms > *last_ms_) {
    const double dt = static_cast<double>(now_ms - *last_ms_) / 1000.0;
    const double speed = std::hypot(x - last_x_, y - last_y_) / dt;
    speed_ += kSpeedSmoothing * (speed - speed_);
  } else if (!last_ms_) {
    speed_ = 0.0;
  }
  last_ms_ = now_ms;
  last_x_ = x;
  last_y_ = y;
  const bool over_kerf = OverOldKerf(x, y, now_ms);
  if (over_kerf) ++kerf_crossing_ms_;
  trail_.emplace_back(x, y);
  if (trail_.size() > kKerfDelayMs) {
    CutKerf(trail_.front().first, trail_.front().second, now_ms);
    trail_.pop_front();
  }
  const double height = z - Top(x, y);
  const double slow = std::clamp(1.0 - speed_ / kChartSpeed, 0.0, 1.0);
  std::normal_distribution<double> noise(0.0, kNoiseVolts);
  return kArcVoltsAtCutHeight + kArcVoltsPerUnit * (height - kChartCutHeight) +
         kSlowArcVolts * slow + (over_kerf ? kKerfVolts : 0.0) + noise(noise_);
}

}  // namespace kelvro::sim
