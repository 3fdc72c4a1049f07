// The laser ramp curve editor's drawing area, apart from its window: a W x H pixel area in
// which X (feed percent) runs to the right and Y (duty percent) up. It holds the working
// copy of the curve, finds points and the curve under the mouse, inserts, drags, swaps and
// deletes points, and draws grid, diagonal, spline, points and axis texts through a canvas.
// The window only forwards the mouse and shows what the area asks for.
#pragma once

#include <optional>
#include <string>

#include "motion/laser_curve.h"
#include "settings/plugin_settings.h"
#include "ui/canvas.h"

namespace kelvro {

// The mouse cursor the area wants.
enum class CurveCursor { kArrow, kPoint, kCurve };

// Feed and duty percent under the mouse (or of the dragged point), for the readout.
struct CurveReadout {
  int feed = 0;
  int duty = 0;
  bool operator==(const CurveReadout&) const = default;
};

// What a mouse event asks of the window.
struct CurveMouseResult {
  bool changed = false;  // the points changed: redraw, tell the dialog
  bool capture = false;  // take the mouse (a drag starts)
  bool release = false;  // let the mouse go
  std::optional<CurveReadout> readout;
  CurveCursor cursor = CurveCursor::kArrow;
};

// " Feed: <feed> %\r\n Duty: <duty> %".
std::string CurveReadoutText(const CurveReadout& readout);

inline constexpr Colour kCurveGridColour = MakeColour(190, 190, 190);
inline constexpr char kCurveDutyLabel[] = "Duty cycle [%]";
inline constexpr char kCurveFeedLabel[] = "[%] of nominal feedrate";

class CurveArea {
 public:
  // Half the side of the square around a point in which the mouse finds it, pixels.
  static constexpr int kPointReach = 10;
  // How close (in duty percent) the mouse must be to the curve to insert a point.
  static constexpr int kCurveReach = 4;

  CurveArea();

  // The working copy; a new curve ends any drag.
  void SetCurve(const LaserCurve& curve);
  const LaserCurve& curve() const { return curve_; }
  // Back to the start curve (0, 0), (100, 100).
  void Reset();

  // The area's size in pixels (at least 1 x 1).
  void SetSize(int width, int height);
  int width() const { return width_; }
  int height() const { return height_; }
  // The size of the feed label in the platform's font, measured once by the window; the
  // label is placed by it at the bottom-right corner.
  void SetFeedLabelSize(int width, int height);

  // The first point whose reach contains (x, y); -1 when none.
  int PointAt(int x, int y) const;
  // Whether (x, y) is within reach of the curve.
  bool NearCurve(int x, int y) const;

  CurveMouseResult Move(int x, int y);
  CurveMouseResult LeftDown(int x, int y);
  CurveMouseResult LeftUp();
  CurveMouseResult RightDown(int x, int y);
  // The window lost the mouse: the drag ends where it is.
  void CaptureLost() { dragged_ = -1; }
  // The index of the dragged point; -1 when none.
  int dragged() const { return dragged_; }

  // The whole area: background, grid, diagonal, spline, points, texts.
  void Draw(Canvas& canvas) const;

 private:
  CurveReadout ReadoutAt(int x, int y) const;
  void Insert(int index, double x, double y);
  void Remove(int index);
  CurveMouseResult DragTo(int x, int y);
  // Keeps the dragged middle point at its place in ascending X.
  void Reorder();
  void Changed() { prepared_ = BuildLaserCurve(curve_); }

  LaserCurve curve_;
  PreparedLaserCurve prepared_;
  int width_ = 1;
  int height_ = 1;
  int feed_label_width_;
  int feed_label_height_;
  int dragged_ = -1;
};

}  // namespace kelvro
