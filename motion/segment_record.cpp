// Segment records: the 52 wire bytes, the axis conversion from the position mirror, slave
// copies, synchronous-output flags and laser power.
//
// This file is built with -frounding-math: the axis conversion runs with rounding toward
// minus infinity, and the compiler must not move or fold floating-point operations across
// the rounding-mode changes.
#include "motion/segment_record.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>

#include "device/wire.h"
#include "host/host_fields.h"

namespace kelvro {
namespace {

// Gray level engraving: the A axis carries the power.
constexpr double kGrayMax = 255.0;
constexpr double kLaserPowerScale = 2.55;  // percent duty to byte

}  // namespace

void EncodeSegment(const SegmentRecord& record, uint8_t* out) {
  for (int k = 0; k < kAxisCount; ++k) {
    PutU32(out, 8 * k, record.axes[k].phase);
    PutI32(out, 8 * k + 4, record.axes[k].distance);
  }
  PutU16(out, 48, record.tag);
  PutU8(out, 50, record.flags);
  PutU8(out, 51, record.laser);
}

DownwardRounding::DownwardRounding() : previous_(std::fegetround()) {
  if (previous_ != FE_DOWNWARD) std::fesetround(FE_DOWNWARD);
}

DownwardRounding::~DownwardRounding() {
  if (previous_ != FE_DOWNWARD) std::fesetround(previous_);
}

namespace {

// Millionths of a step from the whole step below `position` (0..999,999).
int64_t MicroFraction(double position) {
  return static_cast<int64_t>(std::floor((position - std::floor(position)) * kMicroPerStep));
}

}  // namespace

AxisSegment ConvertAxis(double& mirror, double target) {
  DownwardRounding rounding;
  // The new mirror, rounded to a double here: on an x87 FPU it could otherwise keep extra
  // bits in a register that the stored mirror will not have next time.
  volatile double rounded_next = target + 0.5;
  const double next = rounded_next;
  const double base = std::floor(mirror);
  const int64_t frac = MicroFraction(mirror);
  // floor((next - base) x 1e6), taken as whole steps plus the fraction of `next`: the next
  // record's start phase is computed from the same value in the same way, so each record
  // starts exactly where the previous one ended.
  const auto whole_steps = static_cast<int64_t>(std::floor(next) - base);
  const int64_t end = whole_steps * static_cast<int64_t>(kMicroPerStep) + MicroFraction(next);
  int64_t distance = end - frac;
  if (distance >= std::numeric_limits<int32_t>::min() &&
      distance <= std::numeric_limits<int32_t>::max()) {
    mirror = next;
  } else {
    // More than ~2147 steps in one millisecond does not fit the wire field. Send what fits
    // and leave the mirror where that takes the axis (half a millionth inside the reached
    // millionth, so that the next start phase is exactly the reached one); later segments
    // catch up.
    distance = std::clamp<int64_t>(distance, std::numeric_limits<int32_t>::min(),
                                   std::numeric_limits<int32_t>::max());
    mirror = base + (static_cast<double>(frac + distance) + 0.5) / kMicroPerStep;
  }
  int64_t phase = frac * kPhasePerMicro;
  if (phase < 0) phase += kPhasePerStep;
  return AxisSegment{static_cast<uint32_t>(phase), static_cast<int32_t>(distance)};
}

void CopySlaveAxes(SegmentRecord& record, const std::array<int, kAxisCount>& master_plus_one) {
  for (int k = kAxisA; k < kAxisCount; ++k) {
    const int master = master_plus_one[k] - 1;
    if (master >= 0 && master < kAxisCount && master != k) record.axes[k] = record.axes[master];
  }
}

uint8_t SyncOutputFlag(int32_t word) {
  const auto bits = static_cast<uint32_t>(word);
  const uint32_t kind = bits & 0xFF;
  const uint32_t output = (((bits >> 8) & 0xFF) - 7) & 15;
  if (kind == 47) return static_cast<uint8_t>(kSegmentOutputOn + output);
  if (kind == 48) return static_cast<uint8_t>(kSegmentOutputOff + output);
  return 0;
}

uint8_t LaserPowerBySpeed(const SegmentRecord& record, int32_t x_steps_per_unit, double max_feed,
                          const PreparedLaserCurve& curve) {
  double percent_feed = 0.0;
  if (x_steps_per_unit != 0 && std::isfinite(max_feed) && max_feed > 0.0) {
    const double steps = std::fabs(static_cast<double>(x_steps_per_unit));
    double sum = 0.0;
    for (int k = 0; k <= kAxisZ; ++k) {
      // Millionths of a step per millisecond to units per second.
      const double speed = record.axes[k].distance * 0.000001 / steps * 1000.0;
      sum += speed * speed;
    }
    percent_feed = std::sqrt(sum) / max_feed * 60.0 * 100.0;
  }
  const double power = std::min(LaserCurveAt(curve, percent_feed) * kLaserPowerScale, 255.0);
  return TruncToUint8(power);
}

uint8_t GrayLevelPower(double gray, bool scale_speed_power, uint8_t speed_power) {
  const double g = std::isnan(gray) ? 0.0 : std::clamp(gray, 0.0, kGrayMax);
  if (scale_speed_power) return TruncToUint8(speed_power * g * (1.0 / 256.0));
  return TruncToUint8(g);
}

}  // namespace kelvro
