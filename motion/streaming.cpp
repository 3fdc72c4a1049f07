// Trajectory streaming: keeps the controller's segment queue filled from the host's
// trajectory ring or from the plugin's own moves (idle Z move, Z-correction move, probe
// move), without ever overfilling it.
//
// This file is built with -frounding-math: the axis conversion runs with rounding toward
// minus infinity, and the compiler must not move or fold floating-point operations across
// the rounding-mode changes.
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>

#include "device/device_link.h"
#include "device/wire.h"
#include "motion/motion.h"
#include "zcorr/z_correction.h"

namespace kelvro {
namespace {

constexpr int kAxisZ = 2;
constexpr int kAxisA = 3;
// Gray level engraving: the A axis carries the power.
constexpr double kGrayMax = 255.0;
constexpr double kLaserPowerScale = 2.55;  // percent duty to byte
constexpr double kInt32Min = std::numeric_limits<int32_t>::min();
constexpr double kInt32Max = std::numeric_limits<int32_t>::max();

bool InMode(const StatusPacket& packet, Mode mode) {
  return packet.mode == static_cast<uint8_t>(mode);
}

}  // namespace

// ---- Records ----

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

// ---- Sources ----

int Motion::EffectiveFill() const {
  // The reported fill plus everything sent after the read that reported it was started:
  // on the ticks between two reports the last fill alone would let the queue overflow.
  const uint64_t unreported = streamed_total_ - report_mark_;
  const uint64_t fill = state_.last_packet.buffer_fill + std::min<uint64_t>(unreported, 100000);
  return static_cast<int>(std::min<uint64_t>(fill, 100000));
}

void Motion::StreamTick() {
  HostMachineState& machine = *ctx_.host.machine;
  // Motion waits for the arc after a torch start.
  if (state_.torch_start_hold) return;
  if (state_.dwell_ticks > 0 && machine.idle) {
    if (--state_.dwell_ticks == 0) machine.dwell_active = 0;
  }
  if (machine.estop) return;
  // Without a configured controller segments would be lost (closed link) or reach a
  // controller in the middle of a Reset, while the host's ring read index moved on.
  if (!ctx_.link.connected()) return;

  int fill = EffectiveFill();
  if (StreamIdleZMove(fill)) return;
  if (StreamStraightMove(zcorr_move_, false, fill)) return;
  if (StreamStraightMove(probe_move_, true, fill)) return;
  StreamHostRing(fill);
}

void Motion::SendReleaseHold() {
  ctx_.link.SendCommand(CommandCode::ReleaseHold, payload::ReleaseHold());
}

bool Motion::StreamIdleZMove(int& fill) {
  if (!idle_z_.active) return false;
  const HostMachineState& machine = *ctx_.host.machine;
  if (idle_z_.more_to_send) {
    if (!machine.dwell_active && fill <= kStreamMaxFill) {
      const int n = std::min(kQueueCapacity - fill, kRecordsPerTick);
      ctx_.link.BatchBegin();
      const ZFollower& follower = ctx_.zcorr.follower;
      for (int i = 0; i < n && idle_z_.more_to_send; ++i) {
        Axes targets{};
        for (int k = 0; k < kAxisCount; ++k) targets[k] = state_.position_mirror[k] - 0.5;
        targets[kAxisZ] = last_host_z_ + ZFollowStep(targets[0], targets[1], last_host_z_);
        SegmentRecord record;
        FillRecord(targets, record);
        AppendRecord(record);
        if (follower.pos == follower.target) idle_z_.more_to_send = false;
      }
      ctx_.link.BatchFlush();
      fill = kQueueCapacity;
    }
    return true;
  }
  if (fill > 0 && InMode(state_.last_packet, Mode::HOLD)) {
    SendReleaseHold();
    fill = 0;
    idle_z_.active = false;
    return true;
  }
  // Nothing is queued any more: nothing is left to release either.
  if (fill == 0) idle_z_.active = false;
  return false;
}

bool Motion::StreamStraightMove(StraightMove& move, bool is_probe_move, int& fill) {
  const HostMachineState& machine = *ctx_.host.machine;
  ZCorrection& zcorr = ctx_.zcorr;
  if (move.active) {
    if (!machine.dwell_active && fill <= kStreamMaxFill) {
      const int n = std::min(kQueueCapacity - fill, kRecordsPerTick);
      ctx_.link.BatchBegin();
      int sent = 0;
      Axes targets{};
      while (sent < n && NextStraightSample(move, targets)) {
        if (is_probe_move && zcorr.active) {
          targets[kAxisZ] += ZFollowStep(targets[0], targets[1], targets[kAxisZ]);
        }
        SegmentRecord record;
        FillRecord(targets, record);
        AppendRecord(record);
        ++sent;
      }
      ctx_.link.BatchFlush();
      fill = kQueueCapacity;
    }
    return true;
  }
  if (move.release_suppressed) return false;
  if (!is_probe_move && !zcorr.start_move_wait) return false;
  if (fill > 0 && InMode(state_.last_packet, Mode::HOLD)) {
    SendReleaseHold();
    fill = 0;
    if (!is_probe_move) zcorr.start_move_wait = false;
    return true;
  }
  // The Z-correction move has been executed completely without being held: its end is
  // handled as well, or the correction start would wait for it for ever.
  if (!is_probe_move && fill == 0 && InMode(state_.last_packet, Mode::IDLE)) {
    zcorr.start_move_wait = false;
  }
  return false;
}

void Motion::StreamHostRing(int& fill) {
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  ZCorrection& zcorr = ctx_.zcorr;
  const int read = machine.ring_read & (kRingSize - 1);
  const int pending = RingPending(machine.ring_read, machine.ring_write);

  if (pending == 0) {
    if (planner.flush && zcorr.applied_steps != 0.0 && !idle_z_.active) {
      if (ctx_.settings.z_limit_corr && machine.soft_limits_on) {
        const double low = ctx_.config.SoftMinSteps(kAxisZ) + 1.0;
        const double high = ctx_.config.SoftMaxSteps(kAxisZ) - 1.0;
        last_host_z_ = std::max(low, std::min(last_host_z_, high));
      }
      if (zcorr.follower.pos != last_host_z_) {
        idle_z_.active = true;
        idle_z_.more_to_send = true;
      }
    } else if (fill > 0 && planner.flush && InMode(state_.last_packet, Mode::HOLD)) {
      SendReleaseHold();
      fill = 0;
    }
    return;
  }

  machine.idle = 0;
  if (machine.dwell_active || fill > kStreamMaxFill) return;
  if (zcorr.xy_jogged) {
    zcorr.xy_jogged = false;
    MoveToCorrectedZ();
    return;
  }
  const int n = std::min({pending, kQueueCapacity - fill, kRecordsPerTick});
  const bool sync_outputs = planner.sync_outputs != 0;
  const bool laser_comp = ctx_.settings.laser_comp != 0;
  const bool laser_gray = ctx_.settings.laser_gl != 0;
  const int32_t x_steps = ctx_.config.StepsPerUnit(0);
  const double gray_offset =
      planner.axes[kAxisA].steps_per_unit * ctx_.host.Param(kParamWorkOffsetX + kAxisA);

  ctx_.link.BatchBegin();
  int in_batch = 0;
  int i = read;
  for (int done = 0; done < n; ++done) {
    HostRingEntry& entry = planner.ring[i];
    SegmentRecord record;
    record.tag = entry.line_id != 0 ? static_cast<uint16_t>(i) : kSegmentUntagged;
    if (sync_outputs && entry.sync_output != 0) record.flags = SyncOutputFlag(entry.sync_output);
    entry.sync_output = 0;
    if (i == sync_marker_) {
      record.flags = kSegmentThreadEnd;
      sync_marker_ = -1;
    }

    Axes targets{};
    for (int k = 0; k < kAxisCount; ++k) targets[k] = entry.target[k];
    last_host_z_ = targets[kAxisZ];
    if (zcorr.active) {
      targets[kAxisZ] += ZFollowStep(targets[0], targets[1], targets[kAxisZ]);
    }
    FillRecord(targets, record);

    if (laser_comp) {
      record.laser = LaserPowerBySpeed(record, x_steps, ctx_.settings.l_max_feed, ctx_.laser_curve);
      if (record.flags == 0) record.flags = kSegmentLaserOnly;
    }
    if (laser_gray) {
      record.laser = GrayLevelPower(entry.target[kAxisA] - gray_offset, laser_comp, record.laser);
      if (record.flags == 0) record.flags = kSegmentLaserOnly;
    }

    AppendRecord(record);
    i = (i + 1) & (kRingSize - 1);
    machine.ring_read = i;
    if (++in_batch == kRingRecordsPerWrite) {
      ctx_.link.BatchFlush();
      ctx_.link.BatchBegin();
      in_batch = 0;
    }
  }
  if (in_batch != 0) ctx_.link.BatchFlush();
  fill = kQueueCapacity;
}

void Motion::FillRecord(const Axes& targets, SegmentRecord& record) {
  DownwardRounding rounding;
  for (int k = 0; k < kAxisCount; ++k) SegmentAxis(k, targets[k], record);
  std::array<int, kAxisCount> masters{};
  for (int k = kAxisA; k < kAxisCount; ++k) masters[k] = ctx_.config.MasterPlusOne(k);
  CopySlaveAxes(record, masters);
}

void Motion::SegmentAxis(int axis, double target, SegmentRecord& record) {
  double& mirror = state_.position_mirror[axis];
  // The mirror comes from whole host steps; should it ever be broken, restart it at 0.
  if (!std::isfinite(mirror)) mirror = 0.5;
  // A host target that is not a number keeps the axis where it is; one beyond the 32-bit
  // step range (the range of every position on the wire) is limited to it.
  if (std::isnan(target)) target = mirror - 0.5;
  target = std::clamp(target, kInt32Min, kInt32Max);

  const HostMachineState& machine = *ctx_.host.machine;
  const bool z_exempt = axis == kAxisZ && (machine.thc_mode || ctx_.zcorr.active);
  if (machine.soft_limits_on && ctx_.config.SoftLimitsApply(axis) && !z_exempt) {
    // One step beyond the limit, so that the controller's own limit check trips.
    const double low = ctx_.config.SoftMinSteps(axis);
    const double high = ctx_.config.SoftMaxSteps(axis);
    if (target < low) {
      target = low - 1.0;
    } else if (target > high) {
      target = high + 1.0;
    }
  }
  record.axes[axis] = ConvertAxis(mirror, target);
}

void Motion::AppendRecord(const SegmentRecord& record) {
  uint8_t bytes[kSegmentRecordSize];
  EncodeSegment(record, bytes);
  if (ctx_.link.BatchAppend(bytes, sizeof(bytes))) ++streamed_total_;
}

void Motion::ResetStreams() {
  idle_z_ = IdleZMove{};
  zcorr_move_.active = false;
  zcorr_move_.release_suppressed = true;
  ZCorrection& zcorr = ctx_.zcorr;
  zcorr.activation_step = 0;
  zcorr.xy_jogged = false;
  zcorr.start_move_wait = false;
  zcorr.follower.vel = 0.0;
}

// ---- Z correction hooks ----

void Motion::ZCorrectionTick() {}

void Motion::ZCorrectionResync() {}

double Motion::ZFollowStep(double /*x*/, double /*y*/, double /*z*/) {
  return 0.0;
}

void Motion::MoveToCorrectedZ() {}

}  // namespace kelvro
