// The probe log: one line per probe hit (target and result) in "<program>_probelog.txt",
// optionally the hit corrected for the probe tip in "<program>_probelog.mes", and the
// elapsed time of a probing run. Plain text formatting and appending; the caller decides
// what to log and reports files that cannot be opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvro {

inline constexpr char kProbeLogTextSuffix[] = "_probelog.txt";
inline constexpr char kProbeLogMeasureSuffix[] = "_probelog.mes";
inline constexpr char kProbeLogNoFile[] = "nofile";

struct Point3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// printf into a string of whatever length the values need ("%lf" of a huge value is long).
std::string FormatText(const char* format, ...);

// The file name base: the host's program name (a fixed text field that may lack its
// terminator), or "nofile" when it is empty.
std::string ProbeLogBase(const char* program_name, size_t field_size);

// "(tx<sep>ty<sep>tz)-(rx<sep>ry<sep>rz)\n".
std::string FormatProbeLogLine(const Point3& target, const Point3& result, std::string_view sep);

// The point the probe tip touched. `measured` is the probe's hit point, `target_x/y`
// where the probe was sent; d is the tip diameter, c1 and c2 the half-axes of the tip's
// deflection ellipse along X and Y. The hit is moved half of d towards the target, and
// from there back by the ellipse's radius in the direction of the target. Z is kept.
// Degenerate geometry (target on the hit point, a zero ellipse) gives finite values.
Point3 CompensateProbePoint(double target_x, double target_y, const Point3& measured, double d,
                            double c1, double c2);

// "x<sep>y<sep>z", with "\tX<sep>Y<sep>Z" (the point plus the work offsets, machine
// coordinates) when `machine_columns`, then "\n".
std::string FormatCompensatedLine(const Point3& point, std::string_view sep, bool machine_columns,
                                  const Point3& work_offset);

// "Probing finished after (h:m:s) hh:mm:ss\n" for an elapsed time in whole seconds
// (negative times count as 0; hours wrap at a day).
std::string FormatProbeFinishLine(int64_t elapsed_seconds);

// Appends `text` to the file at `path`; false when the file cannot be opened or written.
bool AppendToFile(const std::string& path, std::string_view text);

}  // namespace kelvro
