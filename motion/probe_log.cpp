#include "motion/probe_log.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kelvro {
std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (length > 0) {
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    out.assign(buffer.data(), static_cast<size_t>(length));
  }
  va_end(args);
  return out;
}

std::string ProbeLogBase(const char* program_name, size_t field_size) {
  if (!program_name) return kProbeLogNoFile;
  size_t length = 0;
  while (length < field_size && program_name[length] != '\0') ++length;
  if (length == 0) return kProbeLogNoFile;
  return std::string(program_name, length);
}

std::string FormatProbeLogLine(const Point3& target, const Point3& result, std::string_view sep) {
  const std::string s(sep);
  return FormatText("(%lf%s%lf%s%lf)-(%lf%s%lf%s%lf)\n", target.x, s.c_str(), target.y, s.c_str(),
                    target.z, result.x, s.c_str(), result.y, s.c_str(), result.z);
}

Point3 CompensateProbePoint(double target_x, double target_y, const Point3& measured, double d,
                            double c1, double c2) {
  const double tx = target_x;
  const double ty = target_y;
  const double mx = measured.x;
  const double my = measured.y;

  // P: the hit moved half of d towards the target. A target on the hit point gives no
  // direction to move in, so P stays on the hit (0/0 would make every value NaN).
  double ex = 0.0;
  double ey = 0.0;
  if (tx != mx || ty != my) {
    const double theta = std::atan(std::fabs(ty - my) / std::fabs(tx - mx));
    ex = std::cos(theta) * d * 0.5;
    ey = std::sin(theta) * d * 0.5;
    if (tx < mx) ex = -ex;
    if (ty < my) ey = -ey;
  }
  const double px = mx + ex;
  const double py = my + ey;

  // Q: the point of the ellipse (half-axes c1 along X, c2 along Y) in the direction from
  // P to the target.
  double qx = 0.0;
  double qy = c2;
  if (tx != px) {
    const double s = (ty - py) / (tx - px);
    const double r = std::sqrt(s * s * c1 * c1 + c2 * c2);
    qx = c1 * c2 / r;
    qy = std::fabs(s) * c1 * c2 / r;
    if (!std::isfinite(qx) || !std::isfinite(qy)) {
      // Degenerate ellipse (r = 0: c2 = 0 and the direction along X or c1 = 0) or a slope
      // too steep for doubles: the same point, computed from the direction itself.
      const double dx = std::fabs(tx - px);
      const double dy = std::fabs(ty - py);
      const double n = std::hypot(dy * c1, dx * c2);
      if (n > 0.0 && std::isfinite(n)) {
        qx = c1 * c2 * dx / n;
        qy = c1 * c2 * dy / n;
      } else {
        // c2 = 0 with the direction along X: the ellipse is the segment +-c1 on X.
        qx = c1;
        qy = 0.0;
      }
      if (!std::isfinite(qx) || !std::isfinite(qy)) {
        qx = 0.0;
        qy = 0.0;
      }
    }
  }
  if (tx < px) qx = -qx;
  if (ty < py) qy = -qy;
  return Point3{px - qx, py - qy, measured.z};
}

std::string FormatCompensatedLine(const Point3& point, std::string_view sep, bool machine_columns,
                                  const Point3& work_offset) {
  const std::string s(sep);
  std::string line = FormatText("%lf%s%lf%s%lf", point.x, s.c_str(), point.y, s.c_str(), point.z);
  if (machine_columns) {
    line += FormatText("\t%lf%s%lf%s%lf", point.x + work_offset.x, s.c_str(),
                       point.y + work_offset.y, s.c_str(), point.z + work_offset.z);
  }
  line += "\n";
  return line;
}

std::string FormatProbeFinishLine(int64_t elapsed_seconds) {
  const int64_t e = elapsed_seconds > 0 ? elapsed_seconds : 0;
  const auto hours = static_cast<int>(e / 3600 - (e / 86400) * 24);
  const auto minutes = static_cast<int>(e / 60 - (e / 3600) * 60);
  const auto seconds = static_cast<int>(e % 60);
  return FormatText("Probing finished after (h:m:s) %02d:%02d:%02d\n", hours, minutes, seconds);
}

bool AppendToFile(const std::string& path, std::string_view text) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (!file) return false;
  const size_t written = std::fwrite(text.data(), 1, text.size(), file);
  const bool closed = std::fclose(file) == 0;
  return written == text.size() && closed;
}

}  // namespace kelvro
