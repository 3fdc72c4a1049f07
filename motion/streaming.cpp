// This file is built with -frounding-math, like segment_record.cpp: the records are filled
// under rounding toward minus infinity.
#include "motion/streaming.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "device/wire.h"
#include "host/host_fields.h"
#include "host/trajectory_ring.h"

namespace kelvro {
namespace {

constexpr double kInt32Min = std::numeric_limits<int32_t>::min();
constexpr double kInt32Max = std::numeric_limits<int32_t>::max();
constexpr double kThreadRateScale = 245760.0;

}  // namespace

void Streaming::StreamTick() {
  HostMachineState& machine = *ctx_.host.machine;
  // Motion waits for the arc after a torch start.
  if (thc_.torch_start_hold()) return;
  if (dwell_ticks_ > 0 && machine.idle) {
    if (--dwell_ticks_ == 0) machine.dwell_active = 0;
  }
  if (machine.estop) return;
  // Without a configured controller segments would be lost (closed link) or reach a
  // controller in the middle of a Reset, while the host's ring read index moved on.
  if (!ctx_.link.connected()) return;

  if (decoder_.mirror_reloads() != mirror_reloads_seen_) {
    mirror_reloads_seen_ = decoder_.mirror_reloads();
    TakeProgramZFromMirror();
  }
  int fill = QueueFill();
  if (StreamIdleZMove(fill)) return;
  if (StreamStraightMove(zcorr_.move(), false, fill)) return;
  if (StreamStraightMove(probing_.move(), true, fill)) return;
  StreamHostRing(fill);
}

void Streaming::TakeProgramZFromMirror() {
  last_host_z_ = decoder_.mirror()[kAxisZ] - 0.5 - zcorr_.applied_steps();
}

void Streaming::SendReleaseHold() {
  ctx_.link.SendCommand(CommandCode::ReleaseHold, payload::ReleaseHold());
}

bool Streaming::StreamIdleZMove(int& fill) {
  if (!idle_z_.active) return false;
  const HostMachineState& machine = *ctx_.host.machine;
  if (idle_z_.more_to_send) {
    if (!machine.dwell_active && fill <= kStreamMaxFill) {
      const int n = std::min(kQueueCapacity - fill, kRecordsPerTick);
      ctx_.link.BatchBegin();
      const PositionMirror& mirror = decoder_.mirror();
      for (int i = 0; i < n && idle_z_.more_to_send; ++i) {
        Axes targets{};
        for (int k = 0; k < kAxisCount; ++k) targets[k] = mirror[k] - 0.5;
        targets[kAxisZ] = last_host_z_ + zcorr_.FollowStep(targets[0], targets[1], last_host_z_);
        SegmentRecord record;
        FillRecord(targets, record);
        AppendRecord(record);
        if (zcorr_.follower_settled()) idle_z_.more_to_send = false;
      }
      ctx_.link.BatchFlush();
      fill = kQueueCapacity;
    }
    return true;
  }
  if (fill > 0 && InMode(decoder_.last(), Mode::HOLD)) {
    SendReleaseHold();
    fill = 0;
    idle_z_.active = false;
    return true;
  }
  // Nothing is queued any more: nothing is left to release either.
  if (fill == 0) idle_z_.active = false;
  return false;
}

bool Streaming::StreamStraightMove(StraightMove& move, bool is_probe_move, int& fill) {
  const HostMachineState& machine = *ctx_.host.machine;
  if (move.active) {
    if (!machine.dwell_active && fill <= kStreamMaxFill) {
      const int n = std::min(kQueueCapacity - fill, kRecordsPerTick);
      ctx_.link.BatchBegin();
      int sent = 0;
      Axes targets{};
      while (sent < n && NextStraightSample(move, targets)) {
        if (is_probe_move && zcorr_.active()) {
          targets[kAxisZ] += zcorr_.FollowStep(targets[0], targets[1], targets[kAxisZ]);
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
  if (!is_probe_move && !zcorr_.start_move_waiting()) return false;
  if (fill > 0 && InMode(decoder_.last(), Mode::HOLD)) {
    SendReleaseHold();
    fill = 0;
    if (!is_probe_move) zcorr_.EndStartMoveWait();
    return true;
  }
  // The Z-correction move has been executed completely without being held: its end is
  // handled as well, or the correction start would wait for it for ever.
  if (!is_probe_move && fill == 0 && InMode(decoder_.last(), Mode::IDLE)) {
    zcorr_.EndStartMoveWait();
  }
  return false;
}

void Streaming::StreamHostRing(int& fill) {
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  const int read = RingIndex(machine.ring_read);
  const int pending = RingPending(machine);

  if (pending == 0) {
    // Only while correction is applied: a start move that has ended holds its correction
    // before correction is active, and nothing is to follow then. After an X or Y jog with
    // jog correction, Z waits for the next Z jog or program move to be corrected.
    if (planner.flush && zcorr_.active() && zcorr_.applied_steps() != 0.0 && !idle_z_.active &&
        !zcorr_.xy_jogged()) {
      // Z follows the correction at the resting X/Y until it has reached it; once it has,
      // nothing is left to follow and the held segments are released below. The mirror holds
      // Z as steps + 0.5, rounded: "reached" allows for that rounding, or a Z resting where the
      // sum does not come back exactly would start a new idle move every tick.
      const PositionMirror& mirror = decoder_.mirror();
      const double x = mirror[kAxisX] - 0.5;
      const double y = mirror[kAxisY] - 0.5;
      double wanted = zcorr_.CorrectedTarget(x, y, last_host_z_);
      if (wanted != last_host_z_ && ctx_.settings.z_limit_corr && machine.soft_limits_on) {
        // With a correction to add at rest, the program's Z is taken one step inside the
        // soft limits first (a Z resting where the program left it, the correction only
        // catching up with it, is not moved).
        const double low = ctx_.config.SoftMinSteps(kAxisZ) + 1.0;
        const double high = ctx_.config.SoftMaxSteps(kAxisZ) - 1.0;
        last_host_z_ = std::max(low, std::min(last_host_z_, high));
        wanted = zcorr_.CorrectedTarget(x, y, last_host_z_);
      }
      if (std::fabs(wanted - (mirror[kAxisZ] - 0.5)) > kZSettledSteps) {
        idle_z_.active = true;
        idle_z_.more_to_send = true;
        return;
      }
    }
    if (fill > 0 && planner.flush && InMode(decoder_.last(), Mode::HOLD)) {
      SendReleaseHold();
      fill = 0;
    }
    return;
  }

  machine.idle = 0;
  if (machine.dwell_active || fill > kStreamMaxFill) return;
  if (zcorr_.TakeXYJogged()) {
    zcorr_.MoveToCorrectedZ();
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
    if (zcorr_.active()) {
      targets[kAxisZ] += zcorr_.FollowStep(targets[0], targets[1], targets[kAxisZ]);
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
    i = RingNext(i);
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

void Streaming::FillRecord(const Axes& targets, SegmentRecord& record) {
  DownwardRounding rounding;
  for (int k = 0; k < kAxisCount; ++k) SegmentAxis(k, targets[k], record);
  std::array<int, kAxisCount> masters{};
  for (int k = kAxisA; k < kAxisCount; ++k) masters[k] = ctx_.config.MasterPlusOne(k);
  CopySlaveAxes(record, masters);
}

void Streaming::SegmentAxis(int axis, double target, SegmentRecord& record) {
  double& mirror = decoder_.mirror()[axis];
  // The mirror comes from whole host steps; should it ever be broken, restart it at 0.
  if (!std::isfinite(mirror)) mirror = 0.5;
  // A host target that is not a number keeps the axis where it is; one beyond the 32-bit
  // step range (the range of every position on the wire) is limited to it.
  if (std::isnan(target)) target = mirror - 0.5;
  target = std::clamp(target, kInt32Min, kInt32Max);

  const HostMachineState& machine = *ctx_.host.machine;
  const bool z_exempt = axis == kAxisZ && (machine.thc_mode || zcorr_.active());
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

void Streaming::AppendRecord(const SegmentRecord& record) {
  uint8_t bytes[kSegmentRecordSize];
  EncodeSegment(record, bytes);
  if (ctx_.link.BatchAppend(bytes, sizeof(bytes))) poll_.CountStreamedSegment();
}

void Streaming::ResetStreams() {
  idle_z_ = IdleZMove{};
  zcorr_.OnStreamsReset();
}

void Streaming::ClearThreading() {
  threading_was_active_ = false;
}

void Streaming::Threading() {
  HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  const double feed = planner.feed_rate;
  if (machine.threading_start_request) {
    machine.threading_start_request = 0;
    sync_marker_ = -1;
    machine.threading_active = 1;
    const int index_count = std::max(ctx_.settings.index_cnt, 1);
    const int pulley = std::clamp(planner.current_pulley, 0, kPulleyRatioCount - 1);
    const double rate = feed * kThreadRateScale / index_count * ctx_.settings.spin_ratio[pulley];
    ctx_.link.SendCommand(CommandCode::ThreadStart, payload::ThreadStart(TruncToInt32(rate)));
  }
  const bool active = machine.threading_active != 0;
  // The first segment streamed after threading has ended carries the end marker.
  if (threading_was_active_ && !active) sync_marker_ = RingIndex(machine.ring_write);
  threading_was_active_ = active;
}

}  // namespace kelvro
