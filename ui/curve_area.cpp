#include "ui/curve_area.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "device/wire.h"

namespace kelvro {

std::string CurveReadoutText(const CurveReadout& readout) {
  char text[64];
  std::snprintf(text, sizeof text, " Feed: %d %%\r\n Duty: %d %%", readout.feed, readout.duty);
  return text;
}

CurveArea::CurveArea()
    // Until the window measures it: the label in a font of about 6 x 13 pixels.
    : feed_label_width_(static_cast<int>(sizeof kCurveFeedLabel - 1) * 6), feed_label_height_(13) {
  Changed();
}

void CurveArea::SetCurve(const LaserCurve& curve) {
  curve_ = curve;
  curve_.count = std::clamp(curve_.count, 2, kLaserCurveMaxPoints);
  dragged_ = -1;
  Changed();
}

void CurveArea::Reset() {
  SetCurve(LaserCurve{});
}

void CurveArea::SetSize(int width, int height) {
  width_ = std::max(width, 1);
  height_ = std::max(height, 1);
}

void CurveArea::SetFeedLabelSize(int width, int height) {
  feed_label_width_ = std::max(width, 0);
  feed_label_height_ = std::max(height, 0);
}

int CurveArea::PointAt(int x, int y) const {
  const int w = width_;
  const int h = height_;
  for (int i = 0; i < curve_.count; ++i) {
    const int px = TruncToInt32(curve_.x[i] * w / 100.0);
    const int py = TruncToInt32(h - h * curve_.y[i] / 100.0);
    const PixelRect reach{px - kPointReach, py - kPointReach, px + kPointReach, py + kPointReach};
    if (reach.Contains(x, y)) return i;
  }
  return -1;
}

bool CurveArea::NearCurve(int x, int y) const {
  const int c = (height_ - y) * 100 / height_;
  const int s = TruncToInt32(LaserCurveAt(prepared_, x * 100 / width_));
  return s - kCurveReach < c && c < s + kCurveReach;
}

CurveReadout CurveArea::ReadoutAt(int x, int y) const {
  return {x * 100 / width_, (height_ - y) * 100 / height_};
}

CurveMouseResult CurveArea::Move(int x, int y) {
  if (dragged_ >= 0) return DragTo(x, y);
  CurveMouseResult result;
  if (PointAt(x, y) >= 0) {
    result.cursor = CurveCursor::kPoint;
  } else if (NearCurve(x, y)) {
    result.cursor = CurveCursor::kCurve;
  }
  result.readout = ReadoutAt(x, y);
  return result;
}

CurveMouseResult CurveArea::LeftDown(int x, int y) {
  CurveMouseResult result;
  const int hit = PointAt(x, y);
  if (hit >= 0) {
    dragged_ = hit;
    result.capture = true;
    return result;
  }
  if (curve_.count >= kLaserCurveMaxPoints || !NearCurve(x, y)) return result;
  const int feed = x * 100 / width_;
  // A point on top of another one (the first and last included) would give the spline two
  // values at one X: the click inserts nothing there.
  int index = 0;
  while (index < curve_.count && curve_.x[index] < feed) ++index;
  if (index == 0 || index >= curve_.count || curve_.x[index] == feed) return result;
  Insert(index, feed, (height_ - y) * 100.0 / height_);
  dragged_ = index;
  result.capture = true;
  result.changed = true;
  return result;
}

CurveMouseResult CurveArea::LeftUp() {
  CurveMouseResult result;
  result.release = true;
  dragged_ = -1;
  return result;
}

CurveMouseResult CurveArea::RightDown(int x, int y) {
  CurveMouseResult result;
  // Not while a drag holds a point index.
  if (dragged_ >= 0) return result;
  const int hit = PointAt(x, y);
  if (hit <= 0 || hit >= curve_.count - 1) return result;
  Remove(hit);
  result.changed = true;
  return result;
}

CurveMouseResult CurveArea::DragTo(int x, int y) {
  CurveMouseResult result;
  result.changed = true;
  const int k = dragged_;
  const bool end = k == 0 || k == curve_.count - 1;
  if (!end && (x <= 0 || x >= width_ || y < 0 || y > height_)) {
    Remove(k);
    dragged_ = -1;
    return result;
  }
  if (end) {
    y = std::clamp(y, 0, height_);
  } else {
    curve_.x[k] = x * 100.0 / width_;
  }
  curve_.y[k] = (height_ - y) * 100.0 / height_;
  if (!end) Reorder();
  Changed();
  const int d = dragged_;
  result.readout = CurveReadout{TruncToInt32(curve_.x[d]), TruncToInt32(curve_.y[d])};
  return result;
}

void CurveArea::Reorder() {
  auto& xs = curve_.x;
  auto& ys = curve_.y;
  int& k = dragged_;
  const int last = curve_.count - 1;
  const auto swap_with = [&](int other) {
    std::swap(xs[k], xs[other]);
    std::swap(ys[k], ys[other]);
    k = other;
  };
  // A fast mouse can pass several points in one move: the point moves on until it is in
  // order again. The first and last points stay where they are (the dragged X is strictly
  // between 0 and 100).
  while (k + 1 < last && xs[k] >= xs[k + 1]) swap_with(k + 1);
  while (k - 1 > 0 && xs[k] <= xs[k - 1]) swap_with(k - 1);
  // Exactly on the next point's X (only reachable by a swap back): just before it, so that
  // the X stay strictly ascending.
  if (xs[k] >= xs[k + 1]) xs[k] = std::max((xs[k - 1] + xs[k + 1]) / 2, xs[k + 1] - 1e-3);
}

void CurveArea::Insert(int index, double x, double y) {
  for (int i = curve_.count; i > index; --i) {
    curve_.x[i] = curve_.x[i - 1];
    curve_.y[i] = curve_.y[i - 1];
  }
  curve_.x[index] = x;
  curve_.y[index] = y;
  ++curve_.count;
  Changed();
}

void CurveArea::Remove(int index) {
  for (int i = index; i + 1 < curve_.count; ++i) {
    curve_.x[i] = curve_.x[i + 1];
    curve_.y[i] = curve_.y[i + 1];
  }
  --curve_.count;
  Changed();
}

void CurveArea::Draw(Canvas& canvas) const {
  const int w = width_;
  const int h = height_;
  canvas.Fill({0, 0, w, h}, kWhite);
  for (int i = 1; i <= 9; ++i) {
    const int x = i * w / 10;
    const int y = TruncToInt32(h - i * h / 10.0);
    canvas.Line(x, 0, x, h, kCurveGridColour);
    canvas.Line(0, y, w, y, kCurveGridColour);
  }
  canvas.Line(0, h - 1, w - 1, 0, kCurveGridColour);

  // The spline, one vertex per pixel column, within 0..100 %.
  const auto vertex_y = [&](int i) {
    const double v = std::clamp(LaserCurveAt(prepared_, i * 100.0 / w), 0.0, 100.0);
    return TruncToInt32(h - v * h / 100.0 + 0.5);
  };
  int previous = vertex_y(0);
  for (int i = 1; i < w; ++i) {
    const int y = vertex_y(i);
    canvas.Line(i - 1, previous, i, y, kBlack);
    previous = y;
  }
  // A line leaves its end pixel out; the last column gets its vertex too.
  canvas.Fill({w - 1, previous, w, previous + 1}, kBlack);

  for (int i = 0; i < curve_.count; ++i) {
    const int px = TruncToInt32(curve_.x[i] * w / 100.0 + 0.5);
    const int py = TruncToInt32(h - h * curve_.y[i] / 100.0 + 0.5);
    canvas.Frame({px - 3, py - 3, px + 4, py + 4}, kBlack);
  }

  canvas.Text({2, 2, w, 2 + feed_label_height_}, kCurveDutyLabel, kBlack, TextAlign::kLeft);
  canvas.Text({w - 2 - feed_label_width_, h - 2 - feed_label_height_, w - 2, h - 2},
              kCurveFeedLabel, kBlack, TextAlign::kLeft);
}

}  // namespace kelvro
