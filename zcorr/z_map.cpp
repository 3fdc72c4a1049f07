#include "zcorr/z_map.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <utility>

namespace kelvro {

namespace {

constexpr std::string_view kTooFewPoints = "Z correction data must have at least 4 points.";
constexpr std::string_view kTooFewRows =
    "Z correction data must have at least 2 rows and 2 columns (define rectangle).";
constexpr std::string_view kCropped =
    "Warning: z point data is not regular X-Y patern, some data is cropped.";
constexpr std::string_view kNotAGrid =
    "Z correction data is not a regular X-Y grid (rows must share their Y and columns their X).";
constexpr std::string_view kTooLarge = "Z correction data is too large to load.";
constexpr std::string_view kLoadError = "Error loading Z correction file!";

// Rows and columns may differ from their first point by this share of the map's extent:
// the round-off of numbers written as text, not a different grid line.
constexpr double kGridTolerance = 1e-9;
// Grid lines count as evenly spaced when none is further than this share of the spacing
// from its even position.
constexpr double kEvenSpacingTolerance = 1e-6;

// White space as the C library's scanf skips it before a number.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Power of ten of the first significant digit of the decimal number in `text` (digits, an
// optional point and an optional exponent, no sign), or 0 when all its digits are zeros.
long LeadingPowerOfTen(std::string_view text) {
  const size_t e_at = std::min(text.find_first_of("eE"), text.size());
  const std::string_view mantissa = text.substr(0, e_at);
  const size_t point = std::min(mantissa.find('.'), mantissa.size());
  long lead = 0;
  for (size_t k = 0; k < mantissa.size(); ++k) {
    if (mantissa[k] == '.' || mantissa[k] == '0') continue;
    lead = k < point ? static_cast<long>(point - k) - 1 : -static_cast<long>(k - point);
    break;
  }
  long exponent = 0;
  bool negative = false;
  for (size_t k = e_at + 1; k < text.size(); ++k) {
    if (text[k] == '-') negative = true;
    if (IsDigit(text[k]) && exponent < 1'000'000) exponent = exponent * 10 + (text[k] - '0');
  }
  return lead + (negative ? -exponent : exponent);
}

// Reads one number at *pos the way "%lf" does: white space, an optional sign, decimal
// digits with an optional point, an optional exponent (which then needs a digit). Advances
// *pos past it. False for text that is no decimal number (including "inf", "nan" and
// hexadecimal), for magnitudes beyond the double range and beyond kZMapMaxMagnitude.
// Magnitudes too small for a double read as 0, as "%lf" reads them.
bool ScanNumber(std::string_view s, size_t* pos, double* value) {
  size_t i = *pos;
  while (i < s.size() && IsSpace(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  const size_t begin = i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  const size_t integer_end = i;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  // "0x..." would be read by "%lf" as a hexadecimal number, which a point file never holds.
  const bool lone_zero = integer_end - begin == 1 && s[begin] == '0' && i == integer_end;
  if (lone_zero && i < s.size() && (s[i] == 'x' || s[i] == 'X')) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (i >= s.size() || !IsDigit(s[i])) return false;
    while (i < s.size() && IsDigit(s[i])) ++i;
  }
  const std::string_view text = s.substr(begin, i - begin);
  double magnitude = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude,
                                         std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    if (LeadingPowerOfTen(text) > 0) return false;  // beyond the largest double
    magnitude = 0.0;
  } else if (ec != std::errc() || end != text.data() + text.size()) {
    return false;
  }
  if (!(magnitude <= kZMapMaxMagnitude)) return false;
  *value = negative ? -magnitude : magnitude;
  *pos = i;
  return true;
}

// Parses "X,Y,Z" at the start of `line`; *end receives the position after the third number.
bool ParsePointAt(std::string_view line, ZMapPoint* point, size_t* end) {
  size_t pos = 0;
  double v[3] = {};
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      if (pos >= line.size() || line[pos] != ',') return false;
      ++pos;
    }
    if (!ScanNumber(line, &pos, &v[k])) return false;
  }
  *point = {v[0], v[1], v[2]};
  *end = pos;
  return true;
}

bool IsBlank(std::string_view line) {
  return std::all_of(line.begin(), line.end(), IsSpace);
}

// What one line of the point file gives.
enum class LineResult { kPoint, kBlank, kUnreadable };

// `truncated`: the line went on past the characters kept in `line`.
LineResult ReadLine(std::string_view line, bool truncated, ZMapPoint* point) {
  if (!truncated && IsBlank(line)) return LineResult::kBlank;
  size_t end = 0;
  if (!ParsePointAt(line, point, &end)) return LineResult::kUnreadable;
  // A number that reaches the cut may go on in the part that was not kept.
  if (truncated && end >= line.size()) return LineResult::kUnreadable;
  return LineResult::kPoint;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Rows share their first point's Y, columns the X of row 0, and both grid lines ascend
// strictly (no two points in one place), all within `tolerance`.
bool IsRegularGrid(const std::vector<ZMapPoint>& p, int rows, int cols, double tolerance) {
  for (int r = 0; r < rows; ++r) {
    const ZMapPoint* row = &p[static_cast<size_t>(r) * cols];
    if (r > 0 && !(row[0].y - row[-cols].y > tolerance)) return false;
    for (int c = 0; c < cols; ++c) {
      if (std::fabs(row[c].y - row[0].y) > tolerance) return false;
      if (std::fabs(row[c].x - p[c].x) > tolerance) return false;
      if (r == 0 && c > 0 && !(row[c].x - row[c - 1].x > tolerance)) return false;
    }
  }
  return true;
}

// Largest X or Y range of the first `count` points.
double Extent(const std::vector<ZMapPoint>& p, size_t count) {
  double x_lo = p[0].x, x_hi = p[0].x, y_lo = p[0].y, y_hi = p[0].y;
  for (size_t i = 1; i < count; ++i) {
    x_lo = std::min(x_lo, p[i].x);
    x_hi = std::max(x_hi, p[i].x);
    y_lo = std::min(y_lo, p[i].y);
    y_hi = std::max(y_hi, p[i].y);
  }
  return std::max(x_hi - x_lo, y_hi - y_lo);
}

// printf's "%<width>.<precision>f" in the C locale.
std::string FormatFixed(double value, int width, int precision) {
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  std::string text = ec == std::errc() ? std::string(buffer, end) : std::string("0");
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

}  // namespace

bool ParseZMapLine(std::string_view line, ZMapPoint* point) {
  size_t end = 0;
  return ParsePointAt(line, point, &end);
}

ZPointReadEnd ReadZMapPoints(std::FILE* file, std::vector<ZMapPoint>* points, size_t limit) {
  std::vector<char> chunk(size_t{1} << 16);
  std::string line;
  bool truncated = false;
  // False when the reading ends at this line.
  const auto finish_line = [&](ZPointReadEnd* why) {
    ZMapPoint point;
    const LineResult result = ReadLine(line, truncated, &point);
    line.clear();
    truncated = false;
    if (result == LineResult::kBlank) return true;
    *why = ZPointReadEnd::kEndOfData;
    if (result == LineResult::kUnreadable) return false;
    if (points->size() >= limit) {
      *why = ZPointReadEnd::kTooMany;
      return false;
    }
    points->push_back(point);
    return true;
  };
  const auto keep = [&](const char* from, size_t count) {
    const size_t room = kZMapLineKeep - line.size();
    if (count > room) truncated = true;
    line.append(from, std::min(count, room));
  };

  ZPointReadEnd why = ZPointReadEnd::kEndOfData;
  for (;;) {
    const size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
    const char* at = chunk.data();
    const char* const end = at + got;
    while (at < end) {
      const char* nl = static_cast<const char*>(std::memchr(at, '\n', end - at));
      if (!nl) {
        keep(at, end - at);
        break;
      }
      keep(at, nl - at);
      if (!finish_line(&why)) return why;
      at = nl + 1;
    }
    if (got < chunk.size()) {
      if (std::ferror(file)) return ZPointReadEnd::kReadError;
      break;
    }
  }
  if (!line.empty() || truncated) finish_line(&why);
  return why;
}

bool FitZPlane(std::span<const ZMapPoint> points, ZPlane* plane) {
  const size_t n = points.size();
  if (n <= 2) return false;
  double mx = 0.0, my = 0.0, mz = 0.0;
  for (const ZMapPoint& p : points) {
    mx += p.x;
    my += p.y;
    mz += p.z;
  }
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  mz /= static_cast<double>(n);
  double xx = 0.0, xy = 0.0, xz = 0.0, yy = 0.0, yz = 0.0, zz = 0.0;
  for (const ZMapPoint& p : points) {
    const double dx = p.x - mx, dy = p.y - my, dz = p.z - mz;
    xx += dx * dx;
    xy += dx * dy;
    xz += dx * dz;
    yy += dy * dy;
    yz += dy * dz;
    zz += dz * dz;
  }
  const double det_x = yy * zz - yz * yz;
  const double det_y = xx * zz - xz * xz;
  const double det_z = xx * yy - xy * xy;
  const double m = std::max(det_x, std::max(det_y, det_z));
  if (!(m > 0.0) || !std::isfinite(m)) return false;
  ZPlane fit;
  if (m == det_x) {
    fit = {det_x, xz * yz - xy * zz, xy * yz - xz * yy, 0.0};
  } else if (m == det_y) {
    fit = {xz * yz - xy * zz, det_y, xy * xz - yz * xx, 0.0};
  } else {
    fit = {xy * yz - xz * yy, xy * xz - yz * xx, det_z, 0.0};
  }
  // The normal as a double holds it: an x87 unit computes the sums above with a wider
  // exponent range, so a normal that is not zero there can vanish once stored.
  volatile double stored[3] = {fit.nx, fit.ny, fit.nz};
  fit = {stored[0], stored[1], stored[2], 0.0};
  if (fit.nx == 0.0 && fit.ny == 0.0 && fit.nz == 0.0) return false;
  fit.d = fit.nx * mx + fit.ny * my + fit.nz * mz;
  if (!std::isfinite(fit.nx) || !std::isfinite(fit.ny) || !std::isfinite(fit.nz) ||
      !std::isfinite(fit.d)) {
    return false;
  }
  *plane = fit;
  return true;
}

void ZGridAxis::Assign(std::vector<double> lines) {
  lines_ = std::move(lines);
  first_ = lines_.front();
  last_ = lines_.back();
  last_cell_ = static_cast<int>(lines_.size()) - 2;
  const double step = (last_ - first_) / static_cast<double>(last_cell_ + 1);
  cells_per_unit_ = 1.0 / step;
  evenly_spaced_ = step > 0.0 && std::isfinite(cells_per_unit_);
  for (size_t k = 0; evenly_spaced_ && k < lines_.size(); ++k) {
    const double even = first_ + static_cast<double>(k) * step;
    if (std::fabs(lines_[k] - even) > kEvenSpacingTolerance * step) evenly_spaced_ = false;
  }
}

void ZGridAxis::Clear() {
  lines_.clear();
  lines_.shrink_to_fit();
  evenly_spaced_ = false;
}

ZGridAxis::Cell ZGridAxis::Locate(double v) const {
  if (!(v > first_)) return {0, 0.0};
  if (v >= last_) return {last_cell_, 1.0};
  int i;
  if (evenly_spaced_) {
    // v lies strictly between the outer lines, so the guess is in [0, cells]; the stored
    // lines then decide (round-off moves it by one cell at most).
    i = std::min(static_cast<int>((v - first_) * cells_per_unit_), last_cell_);
    while (i > 0 && v < lines_[i]) --i;
    while (i < last_cell_ && v >= lines_[i + 1]) ++i;
  } else {
    const auto above = std::upper_bound(lines_.begin() + 1, lines_.end() - 1, v);
    i = static_cast<int>(above - lines_.begin()) - 1;
  }
  // v - lines[i] <= lines[i+1] - lines[i], so t stays within [0, 1].
  return {i, (v - lines_[i]) / (lines_[i + 1] - lines_[i])};
}

bool ZCorrectionMap::LoadZCorrectionFile(const std::string& path, int z_normal,
                                         UserMessages& messages, const Host& host) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  DiscardZCorrectionMap();
  try {
    std::vector<ZMapPoint> read;
    const ZPointReadEnd end = ReadZMapPoints(file.get(), &read);
    file.reset();
    if (end == ZPointReadEnd::kReadError) return false;
    if (end == ZPointReadEnd::kTooMany) {
      messages.MessageBox(kTooLarge, MessageBoxKind::kOk);
      return false;
    }
    return BuildGrid(std::move(read), z_normal, messages, host);
  } catch (const std::exception&) {
    // Only memory can run out here; nothing half-built stays behind.
    DiscardZCorrectionMap();
    messages.MessageBox(kTooLarge, MessageBoxKind::kOk);
    return false;
  }
}

bool ZCorrectionMap::BuildGrid(std::vector<ZMapPoint> p, int z_normal, UserMessages& messages,
                               const Host& host) {
  std::sort(p.begin(), p.end(), [](const ZMapPoint& a, const ZMapPoint& b) {
    return a.y < b.y || (a.y == b.y && a.x < b.x);
  });
  const size_t n = p.size();
  if (n < 4) {
    messages.MessageBox(kTooFewPoints, MessageBoxKind::kOk);
    return false;
  }
  // A new row begins where X falls back.
  size_t cols = n;
  for (size_t i = 1; i < n; ++i) {
    if (p[i].x < p[i - 1].x) {
      cols = i;
      break;
    }
  }
  const size_t rows = n / cols;
  if (rows < 2 || cols < 2) {
    messages.MessageBox(kTooFewRows, MessageBoxKind::kOk);
    return false;
  }
  const size_t kept = rows * cols;
  if (!IsRegularGrid(p, static_cast<int>(rows), static_cast<int>(cols),
                     kGridTolerance * Extent(p, kept))) {
    messages.MessageBox(kNotAGrid, MessageBoxKind::kOk);
    return false;
  }
  if (kept != n) {
    messages.MessageBox(kCropped, MessageBoxKind::kOk);
    p.resize(kept);
  }

  std::vector<double> x_lines(cols);
  std::vector<double> y_lines(rows);
  for (size_t c = 0; c < cols; ++c) x_lines[c] = p[c].x;
  for (size_t r = 0; r < rows; ++r) y_lines[r] = p[r * cols].y;
  x_axis_.Assign(std::move(x_lines));
  y_axis_.Assign(std::move(y_lines));
  points_ = std::move(p);
  cols_ = static_cast<int>(cols);
  rows_ = static_cast<int>(rows);
  first_ = points_.front();
  last_ = points_.back();
  z_min_ = z_max_ = points_[0].z;
  for (const ZMapPoint& point : points_) {
    z_min_ = std::min(z_min_, point.z);
    z_max_ = std::max(z_max_, point.z);
  }
  Normalise(z_normal);
  max_correction_ = std::fabs(z_max_) >= std::fabs(z_min_) ? z_max_ : z_min_;
  loaded_ = true;
  host.ShowStatus(ZMapLoadedStatusText(max_correction_));
  FitPlaneAndDeviations();
  return true;
}

void ZCorrectionMap::Normalise(int z_normal) {
  switch (z_normal) {
    case kZNormalHighest:
      norm_offset_ = z_max_;
      break;
    case kZNormalLowest:
      norm_offset_ = z_min_;
      break;
    case kZNormalMiddle:
      norm_offset_ = (z_max_ + z_min_) * 0.5;
      break;
    default:
      norm_offset_ = 0.0;
      break;
  }
  for (ZMapPoint& point : points_) point.z -= norm_offset_;
  z_min_ -= norm_offset_;
  z_max_ -= norm_offset_;
}

void ZCorrectionMap::FitPlaneAndDeviations() {
  ZPlane plane;
  if (!FitZPlane(points_, &plane)) {
    // The points fix no plane (only possible when they all lie on one straight line): the
    // deviations are taken from the level of their mean Z, which becomes the reference.
    double sum = 0.0;
    for (const ZMapPoint& point : points_) sum += point.z;
    plane = {0.0, 0.0, 1.0, sum / static_cast<double>(points_.size())};
  }
  plane_ = plane;
  dev_above_ = dev_below_ = 0.0;
  for (const ZMapPoint& point : points_) {
    const double d = point.z - PlaneZAt(point.x, point.y);
    dev_above_ = std::max(dev_above_, d);
    dev_below_ = std::min(dev_below_, d);
  }
}

bool ZCorrectionMap::EnsureZCorrectionLoaded(const std::string& file_name, int z_normal,
                                             UserMessages& messages, const Host& host) {
  if (loaded_) return true;
  if (LoadZCorrectionFile(file_name, z_normal, messages, host)) return true;
  messages.MessageBox(kLoadError, MessageBoxKind::kOk);
  return false;
}

void ZCorrectionMap::DiscardZCorrectionMap() {
  points_.clear();
  points_.shrink_to_fit();
  x_axis_.Clear();
  y_axis_.Clear();
  loaded_ = false;
}

ZCorrectionGrid ZCorrectionMap::GetZCorrectionGrid() const {
  if (!loaded_) return {};
  return {points_, cols_, rows_, z_max_, z_min_};
}

double ZCorrectionMap::ZCorrectionAt(double x, double y) const {
  if (!loaded_) return 0.0;
  return Interpolate(x_axis_.Locate(x), y_axis_.Locate(y));
}

std::vector<ZGridAxis::Cell> ZCorrectionMap::LocateColumns(const std::vector<double>& xs) const {
  std::vector<ZGridAxis::Cell> cells(xs.size());
  if (!loaded_) return cells;
  for (size_t j = 0; j < xs.size(); ++j) cells[j] = x_axis_.Locate(xs[j]);
  return cells;
}

void ZCorrectionMap::ZCorrectionRow(const std::vector<ZGridAxis::Cell>& columns, double y,
                                    double* out) const {
  if (!loaded_) {
    std::fill(out, out + columns.size(), 0.0);
    return;
  }
  const ZGridAxis::Cell cy = y_axis_.Locate(y);
  for (size_t j = 0; j < columns.size(); ++j) out[j] = Interpolate(columns[j], cy);
}

double ZCorrectionMap::PlaneZAt(double x, double y) const {
  if (plane_.nz == 0.0) return 0.0;
  return (plane_.d - plane_.nx * x - plane_.ny * y) / plane_.nz;
}

std::string ZMapStatisticsText(const ZCorrectionMap& map) {
  if (!map.loaded()) return "File not loaded.";
  const auto f73 = [](double v) { return FormatFixed(v, 7, 3); };
  const auto f43 = [](double v) { return FormatFixed(v, 4, 3); };
  return "Xrange: " + f73(map.first().x) + ", " + f73(map.last().x) +
         "\tYrange: " + f73(map.first().y) + ", " + f73(map.last().y) +
         "\tZrange: " + f73(map.z_min()) + ", " + f73(map.z_max()) +
         "\nXpoints: " + std::to_string(map.cols()) + ", Ypoints: " + std::to_string(map.rows()) +
         "\tMax deviation from plane (above, below): " + f43(map.dev_above()) + ", " +
         f43(map.dev_below());
}

std::string ZMapLoadedStatusText(double max_correction) {
  return "Z file loaded. Maximum correction: " + FormatFixed(max_correction, 0, 6);
}

}  // namespace kelvro
