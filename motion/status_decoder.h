// Status decoding: the controller's report mirrored into the host's blocks (inputs, current
// line, E-stop, spindle speed, positions, velocities, idle and jog flags) and the plugin's
// position mirror, from which all segment arithmetic starts.
#pragma once

#include <array>
#include <cstdint>

#include "device/commands.h"
#include "motion/motion_context.h"
#include "motion/z_correction_hooks.h"

namespace kelvro {

// One double per axis: the axis position in steps plus 0.5 (the middle of the step), as the
// plugin has streamed it; re-taken from the host when the controller rests after motion the
// plugin did not stream itself.
class PositionMirror {
 public:
  double& operator[](int axis) { return steps_[static_cast<size_t>(axis)]; }
  double operator[](int axis) const { return steps_[static_cast<size_t>(axis)]; }
  const std::array<double, kAxisCount>& values() const { return steps_; }

 private:
  std::array<double, kAxisCount> steps_{};
};

class StatusDecoder {
 public:
  StatusDecoder(const MotionContext& context, ZCorrectionHooks& zcorr)
      : ctx_(context), zcorr_(zcorr) {}

  // Steps 1 to 4 of the decode: keeps the report, mirrors the inputs and the current line,
  // and takes the controller's E-stop into the host. False for a report in mode ESTOP: the
  // rest of the decode and the tick's tail are skipped. Of a report in mode ESTOP only the
  // mode, inputs, ring index and stop reason are kept.
  bool TakeReport(const StatusPacket& packet);
  // Step 7: the spindle speed from the index period.
  void DecodeSpindleSpeed(const StatusPacket& packet);
  // Steps 8 to 11: axes the host overwrote, positions (Z with the THC offset), velocities,
  // and the mirror re-taken once the controller rests. `predates_readback`: the report was
  // read before the last Z read-back, whose Z stands; its own Z is older.
  void DecodePositions(const StatusPacket& packet, bool first_packet, bool predates_readback);
  // Steps 12 to 15: hand wheel, idle, jogging flags, and the host's E-stop brought to the
  // controller. `probe_settling`: a probe hit is still settling (the host is not idle).
  void DecodeMachineFlags(const StatusPacket& packet, bool probe_settling);

  // The latest report (a default report before the first).
  const StatusPacket& last() const { return last_; }
  bool have_report() const { return have_report_; }
  bool first_report_done() const { return first_report_done_; }

  PositionMirror& mirror() { return mirror_; }
  const PositionMirror& mirror() const { return mirror_; }
  // The next report in mode IDLE re-takes the mirror from the host.
  void RequestResync() { resync_request_ = true; }
  bool resync_requested() const { return resync_request_; }
  // Counts the times the mirror was re-taken from outside the stream (the host's positions,
  // a Z read-back): what the plugin streamed before is no longer where the axes are.
  uint64_t mirror_reloads() const { return mirror_reloads_; }
  // Axes whose position the host overwrote since the report before (bit per axis).
  uint16_t changed_axes() const { return changed_axes_; }
  // The controller's Z read back by the host's request: host position, mirror and the
  // copy of what was last written, without the THC offset.
  void ApplyZReadback(int32_t z_steps);

  // After a Reset: resynchronise, and re-take the encoder baselines with the next report.
  void AfterReset();

 private:
  MotionContext ctx_;
  ZCorrectionHooks& zcorr_;
  StatusPacket last_{};
  bool have_report_ = false;
  bool first_report_done_ = false;
  bool resync_request_ = false;
  PositionMirror mirror_;
  std::array<int32_t, kAxisCount> last_written_{};
  std::array<int32_t, kAxisCount> velocity_baseline_{};
  uint32_t baseline_timestamp_ = 0;
  uint16_t changed_axes_ = 0;
  uint64_t mirror_reloads_ = 0;
};

}  // namespace kelvro
