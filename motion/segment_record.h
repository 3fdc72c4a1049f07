// Segment records and the arithmetic that turns positions into them.
//
// The controller executes motion as 1 ms segments. A record gives, for each axis, the
// fractional step position the segment starts from (start phase) and the distance to
// travel, both derived from the plugin's position mirror (position in steps + 0.5).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/commands.h"
#include "host/host_blocks.h"
#include "motion/laser_curve.h"

namespace kelvro {

// Flow control: the controller's queue holds 1000 segments (one second).
inline constexpr int kQueueCapacity = 1000;
inline constexpr int kStreamMaxFill = 850;        // stream only at or below this fill
inline constexpr int kRecordsPerTick = 75;        // at most per source and tick
inline constexpr int kRingRecordsPerWrite = 150;  // host-ring source: records per write

// Byte 50 of a record.
inline constexpr uint8_t kSegmentOutputOn = 0x10;
inline constexpr uint8_t kSegmentOutputOff = 0x20;
inline constexpr uint8_t kSegmentThreadEnd = 0x30;
inline constexpr uint8_t kSegmentLaserOnly = 0x80;
inline constexpr uint16_t kSegmentUntagged = 0xFFFF;

// Start phase unit: 1/250,000,000 of a step; distance unit: 1/1,000,000 of a step.
inline constexpr uint32_t kPhasePerStep = 250000000;
inline constexpr uint32_t kPhasePerMicro = 250;
inline constexpr double kMicroPerStep = 1000000.0;

struct AxisSegment {
  uint32_t phase = 0;    // start phase
  int32_t distance = 0;  // millionths of a step
};

struct SegmentRecord {
  std::array<AxisSegment, kAxisCount> axes{};
  uint16_t tag = kSegmentUntagged;
  uint8_t flags = 0;
  uint8_t laser = 0;
};

// Writes the 52 wire bytes of a record.
void EncodeSegment(const SegmentRecord& record, uint8_t* out);

// Sets round-toward-minus-infinity for its lifetime and restores the previous mode.
// Nested use costs one mode read.
class DownwardRounding {
 public:
  DownwardRounding();
  ~DownwardRounding();
  DownwardRounding(const DownwardRounding&) = delete;
  DownwardRounding& operator=(const DownwardRounding&) = delete;

 private:
  int previous_;
};

// One axis of a record: from the mirror `mirror` (steps + 0.5) to `target` (steps). The
// target must already be limited to the 32-bit step range (the caller does that). The
// mirror ends at target + 0.5. A distance beyond the 32-bit range of the wire field is
// limited, and the mirror then ends where that limited distance takes the axis, so the
// controller and the mirror never disagree.
AxisSegment ConvertAxis(double& mirror, double target);

// Copies the pair of every slaved axis (A, B, C with a master) from its master. `master_plus_one`
// holds the master index + 1 per axis (0 = no master).
void CopySlaveAxes(SegmentRecord& record, const std::array<int, kAxisCount>& master_plus_one);

// Byte 50 for a ring entry's synchronous-output word; 0 when the word asks for nothing.
uint8_t SyncOutputFlag(int32_t word);

// Laser power (byte 51) following the speed of the record's X, Y and Z distances through
// the laser power curve. `x_steps_per_unit` is the integer steps per unit of X (used for all
// three axes), `max_feed` the laser reference feed (units per minute). Without a usable
// steps-per-unit or reference feed the speed cannot be known: the power is then the curve's
// value at 0 % feed.
uint8_t LaserPowerBySpeed(const SegmentRecord& record, int32_t x_steps_per_unit, double max_feed,
                          const PreparedLaserCurve& curve);

// Gray level engraving: `gray` (the A axis target less the A work offset, in steps) limited
// to 0..255 becomes the power, or scales the speed power when that is on. NaN counts as 0.
uint8_t GrayLevelPower(double gray, bool scale_speed_power, uint8_t speed_power);

}  // namespace kelvro
