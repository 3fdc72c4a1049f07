// Z correction map: a regular grid of measured surface points read from a plain-text point
// file, normalised so that a chosen level becomes zero, with a few statistics for the Z
// correction page and one query, ZCorrectionAt, that the motion side adds to Z.
//
// Point file: one point per line, "X,Y,Z" as three decimal numbers. White space may precede
// each number, each comma follows its number directly, anything after the third number is
// ignored. Reading stops at the first line without three numbers. Blank lines are passed
// over. The points may come in any order but must form a full rectangular grid in which
// every row shares one Y and every column one X.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "host/platform.h"

namespace kelvro {

// One measured point, in machine units.
struct ZMapPoint {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// Reference plane nx·x + ny·y + nz·z = d (the normal is not scaled to unit length).
struct ZPlane {
  double nx = 0.0;
  double ny = 0.0;
  double nz = 0.0;
  double d = 0.0;
};

// What the map window draws from: the grid and its Z range. `points` is empty when no map
// is loaded.
struct ZCorrectionGrid {
  std::span<const ZMapPoint> points;
  int cols = 0;
  int rows = 0;
  double z_max = 0.0;
  double z_min = 0.0;
};

// Normalisation modes (the page's combo box index).
inline constexpr int kZNormalNone = 0;
inline constexpr int kZNormalHighest = 1;
inline constexpr int kZNormalLowest = 2;
inline constexpr int kZNormalMiddle = 3;

// Numbers of larger magnitude are not machine positions; a line holding one is read as
// unreadable, which keeps every sum and difference the map computes far from overflow.
inline constexpr double kZMapMaxMagnitude = 1e9;
// Far more points than any probing run produces; a larger file is refused.
inline constexpr size_t kZMapMaxPoints = size_t{1} << 20;
// Characters of one line that are looked at; the rest of a longer line is skipped. A number
// that runs past this many characters makes the line unreadable.
inline constexpr size_t kZMapLineKeep = 65536;

// Parses one line of a point file. False when the line does not start with three numbers
// separated by commas, or when a number is not finite or beyond kZMapMaxMagnitude.
bool ParseZMapLine(std::string_view line, ZMapPoint* point);

// Why the reading of a point file ended.
enum class ZPointReadEnd {
  kEndOfData,  // end of file or a line without three numbers
  kTooMany,    // more than `limit` points
  kReadError,  // the file could not be read to its end
};

// Reads points from `file` (opened in binary mode) onto the end of `points`, line by line,
// lines of any length; LF or CRLF line ends. Stops at the first unreadable line.
ZPointReadEnd ReadZMapPoints(std::FILE* file, std::vector<ZMapPoint>* points,
                             size_t limit = kZMapMaxPoints);

// Least-squares plane through the points. False (and `plane` unchanged) when there are 2
// points or fewer or when the points do not fix a plane (all on one straight line).
bool FitZPlane(std::span<const ZMapPoint> points, ZPlane* plane);

// The grid lines of one axis (strictly ascending) and the lookup of the cell holding a
// coordinate. When the lines are evenly spaced the cell is computed, otherwise it is found
// by binary search; either way no memory is allocated per lookup.
class ZGridAxis {
 public:
  // Cell `index` runs from line index to line index + 1; `t` in [0, 1] is the position
  // inside it.
  struct Cell {
    int index = 0;
    double t = 0.0;
  };

  // `lines` must hold at least 2 strictly ascending values.
  void Assign(std::vector<double> lines);
  void Clear();

  // The cell of coordinate v, held to the outer lines: below the first line (and for NaN)
  // the first line, above the last line the last one.
  Cell Locate(double v) const;

  bool evenly_spaced() const { return evenly_spaced_; }
  const std::vector<double>& lines() const { return lines_; }

 private:
  std::vector<double> lines_;
  double first_ = 0.0;
  double last_ = 0.0;
  double cells_per_unit_ = 0.0;
  int last_cell_ = 0;
  bool evenly_spaced_ = false;
};

// The one correction map of the plugin.
class ZCorrectionMap {
 public:
  // Replaces the map from the point file at `path`, normalised by `z_normal` (0 to 3). A
  // file that cannot be opened changes nothing; once it is open the old map is discarded
  // first, so any later failure leaves no map. Failures are told through message boxes
  // (except an unopenable or unreadable file: the callers tell those); success writes the
  // maximum correction to the host's status text.
  bool LoadZCorrectionFile(const std::string& path, int z_normal, UserMessages& messages,
                           const Host& host);
  // True at once when a map is loaded, otherwise loads `file_name` and tells the user when
  // that fails.
  bool EnsureZCorrectionLoaded(const std::string& file_name, int z_normal, UserMessages& messages,
                               const Host& host);
  // Frees the grid; the statistics keep their last values.
  void DiscardZCorrectionMap();
  bool IsZCorrectionLoaded() const { return loaded_; }
  ZCorrectionGrid GetZCorrectionGrid() const;

  // The correction for machine position (x, y), in machine units: bilinear between the grid
  // points, the value at the nearest point of the grid rectangle outside it; 0 without a
  // map. Always finite.
  double ZCorrectionAt(double x, double y) const;
  // ZCorrectionAt(x, y) for every x whose cell `columns` holds (LocateColumns), into
  // `out`: the same values, bit for bit, with the cells found once for a whole picture.
  std::vector<ZGridAxis::Cell> LocateColumns(const std::vector<double>& xs) const;
  void ZCorrectionRow(const std::vector<ZGridAxis::Cell>& columns, double y, double* out) const;
  // Z of the reference plane at (x, y); 0 when the plane is vertical or not yet fitted.
  double PlaneZAt(double x, double y) const;

  const std::vector<ZMapPoint>& points() const { return points_; }
  int cols() const { return cols_; }
  int rows() const { return rows_; }
  bool loaded() const { return loaded_; }
  const ZMapPoint& first() const { return first_; }
  const ZMapPoint& last() const { return last_; }
  double z_min() const { return z_min_; }
  double z_max() const { return z_max_; }
  double norm_offset() const { return norm_offset_; }
  // The signed correction of largest magnitude (ZMax on a tie).
  double max_correction() const { return max_correction_; }
  const ZPlane& plane() const { return plane_; }
  double dev_above() const { return dev_above_; }
  double dev_below() const { return dev_below_; }

 private:
  // Steps after the points were read: false with the user told when they are no grid.
  bool BuildGrid(std::vector<ZMapPoint> points, int z_normal, UserMessages& messages,
                 const Host& host);
  void Normalise(int z_normal);
  void FitPlaneAndDeviations();
  double Interpolate(const ZGridAxis::Cell& cx, const ZGridAxis::Cell& cy) const {
    const ZMapPoint* low = &points_[static_cast<size_t>(cy.index) * cols_ + cx.index];
    const ZMapPoint* high = low + cols_;
    // Weights (1 - t, t) give the grid value itself at t = 0 and at t = 1.
    const double along_low = low[0].z * (1.0 - cx.t) + low[1].z * cx.t;
    const double along_high = high[0].z * (1.0 - cx.t) + high[1].z * cx.t;
    return along_low * (1.0 - cy.t) + along_high * cy.t;
  }

  std::vector<ZMapPoint> points_;
  ZGridAxis x_axis_;
  ZGridAxis y_axis_;
  int cols_ = 0;
  int rows_ = 0;
  bool loaded_ = false;
  ZMapPoint first_;
  ZMapPoint last_;
  double z_min_ = 0.0;
  double z_max_ = 0.0;
  double norm_offset_ = 0.0;
  double max_correction_ = 0.0;
  ZPlane plane_;
  double dev_above_ = 0.0;
  double dev_below_ = 0.0;
};

// The statistics text of the Z correction page for `map` ("File not loaded." without one).
std::string ZMapStatisticsText(const ZCorrectionMap& map);

// The host status text after a successful load.
std::string ZMapLoadedStatusText(double max_correction);

}  // namespace kelvro
