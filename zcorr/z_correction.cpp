#include "zcorr/z_correction.h"

#include <algorithm>
#include <cmath>

#include "device/wire.h"
#include "host/host_fields.h"
#include "motion/service_tick.h"

namespace kelvro {
namespace {

constexpr int kStartPreserve = 0;  // ZStartMode: keep the current Z
constexpr int kStartSafeZ = 2;     // ZStartMode: move to SafeZ first

}  // namespace

ZCorrection::ZCorrection(const MotionContext& context, ServiceTick& tick)
    : ctx_(context), tick_(tick) {
  // The move has not run yet: there is no end of it to release.
  move_.release_suppressed = true;
}

double ZCorrection::ZSteps() const {
  return ctx_.host.planner->axes[kAxisZ].steps_per_unit;
}

bool ZCorrection::LimitClamp() const {
  return ctx_.settings.z_limit_corr != 0 && ctx_.host.machine->soft_limits_on != 0;
}

void ZCorrection::SetApplied(double steps) {
  state_.applied_steps = steps;
  ctx_.host.machine->thc_z_offset = TruncToInt32(steps);
}

Axes ZCorrection::MirrorUnits() const {
  const PositionMirror& mirror = tick_.decoder().mirror();
  const HostPlanner& planner = *ctx_.host.planner;
  Axes p{};
  for (int k = 0; k < kAxisCount; ++k) {
    const double steps = planner.axes[k].steps_per_unit;
    p[k] = steps != 0.0 && std::isfinite(steps) ? (mirror[k] - 0.5) / steps : 0.0;
  }
  return p;
}

// ---- Activation ----

void ZCorrection::Tick() {
  if (!ctx_.host.Ready()) return;
  HostMachineState& machine = *ctx_.host.machine;
  StatusDecoder& decoder = tick_.decoder();
  // 1.
  if (state_.enabled && !state_.active && state_.activation_step == 0) {
    state_.activation_step = 1;
  } else if (!state_.enabled && state_.active) {
    state_.active = false;
    SetApplied(0.0);
    decoder.RequestResync();
  }
  // 2.
  switch (state_.activation_step) {
    case 1: {
      if (!ctx_.link.connected() || !tick_.watchdog().reset_complete() ||
          decoder.resync_requested()) {
        return;
      }
      if (!map_.IsZCorrectionLoaded()) {
        state_.activation_step = 4;
        return;
      }
      const HostAxisTuning& z = ctx_.host.planner->axes[kAxisZ];
      follower_.pos = decoder.mirror()[kAxisZ] - 0.5;
      follower_.vel = 0.0;
      follower_.v_max = z.max_velocity * z.steps_per_unit * 0.001;
      follower_.a_max = z.acceleration * z.steps_per_unit * 0.000001;
      if (ctx_.settings.z_start_mode == kStartPreserve) {
        Activate();
        return;
      }
      if (machine.estop || !machine.idle) return;
      if (ctx_.settings.z_start_mode == kStartSafeZ) {
        MoveToSafeZ();
      } else {
        MoveToCorrectedZ();
      }
      if (move_.active) state_.start_move_wait = true;
      state_.activation_step = 2;
      return;
    }
    case 2:
      if (move_.active || !machine.idle || !InMode(decoder.last(), Mode::IDLE) ||
          state_.start_move_wait) {
        return;
      }
      Activate();
      return;
    case 3:
      Activate();
      return;
    default:
      return;
  }
}

void ZCorrection::Activate() {
  state_.active = true;
  SetApplied(state_.applied_steps);
  tick_.decoder().RequestResync();
  state_.activation_step = 4;
}

// ---- Following ----

double ZCorrection::CorrectedTarget(double x, double y, double z) const {
  const HostPlanner& planner = *ctx_.host.planner;
  const double x_steps = planner.axes[kAxisX].steps_per_unit;
  const double y_steps = planner.axes[kAxisY].steps_per_unit;
  const double c =
      map_.ZCorrectionAt(x_steps != 0.0 ? x / x_steps : 0.0, y_steps != 0.0 ? y / y_steps : 0.0) *
      ZSteps();
  if (!LimitClamp()) return z + c;
  // One step inside the limits at most; already outside that band, no correction in that
  // direction (the same rule both ways).
  const double z_max = ctx_.config.SoftMaxSteps(kAxisZ);
  const double z_min = ctx_.config.SoftMinSteps(kAxisZ);
  if (c > 0.0) return z < z_max - 1.0 ? std::min(z + c, z_max - 1.0) : z;
  if (c < 0.0) return z > z_min + 1.0 ? std::max(z + c, z_min + 1.0) : z;
  return z;
}

double ZCorrection::FollowStep(double x, double y, double z) {
  // The follower moves the correction, not the program: its position starts from the
  // program's new Z with the correction applied so far, so that the program's own Z motion
  // passes unchanged and only the added offset is limited in speed and acceleration.
  follower_.target = CorrectedTarget(x, y, z);
  follower_.pos = z + state_.applied_steps;
  FollowerStep();
  if (LimitClamp()) {
    // The correction never takes Z beyond one step inside the soft limits (where the
    // program itself goes further, the correction only follows it back).
    const double high = std::max(ctx_.config.SoftMaxSteps(kAxisZ) - 1.0, z);
    const double low = std::min(ctx_.config.SoftMinSteps(kAxisZ) + 1.0, z);
    const double limited = std::clamp(follower_.pos, low, high);
    if (limited != follower_.pos) {
      follower_.vel = 0.0;
      follower_.pos = limited;
    }
  }
  SetApplied(follower_.pos - z);
  return state_.applied_steps;
}

double ZCorrection::StopSpeed(double distance, double acceleration) {
  if (!(distance > 0.0)) return 0.0;
  if (!(acceleration > 0.0)) return distance;
  // Braking at `acceleration` per millisecond from speed v travels v, v - a, v - 2a, ... (and
  // ends at 0): m steps cover at most a m (m + 1) / 2. The fastest speed that still stops
  // within `distance` uses the fewest steps m that can cover it.
  double m = std::ceil((std::sqrt(8.0 * distance / acceleration + 1.0) - 1.0) / 2.0);
  if (m < 1.0) m = 1.0;
  while (m > 1.0 && acceleration * (m - 1.0) * m / 2.0 >= distance) m -= 1.0;
  while (acceleration * m * (m + 1.0) / 2.0 < distance) m += 1.0;
  return (distance + acceleration * m * (m - 1.0) / 2.0) / m;
}

void ZCorrection::FollowerStep() {
  ZFollower& f = follower_;
  const double a = f.a_max;
  const double before = f.pos;
  const double d = f.target - before;
  // The fastest speed towards the target from which it can still stop exactly on it,
  // reached by changing speed by at most the acceleration.
  const double wanted = std::copysign(std::min(f.v_max, StopSpeed(std::fabs(d), a)), d);
  double v = std::clamp(wanted, f.vel - a, f.vel + a);
  v = std::clamp(v, -f.v_max, f.v_max);
  double next = before + v;
  // A step that would pass the target lands on it when that is within the speed change
  // allowed (braking for a target that stands still lands so, the sum may only round past
  // it). A target that moved towards the follower faster than it can brake is passed; it is
  // then met from the other side.
  const bool passes = (d > 0.0 && next > f.target) || (d < 0.0 && next < f.target);
  const double rounding = 1e-9 * (a + std::fabs(f.vel));
  if (passes && std::fabs(d - f.vel) <= a + rounding && std::fabs(d) <= f.v_max) {
    next = f.target;
  }
  f.vel = next - before;
  f.pos = next;
}

// ---- Moves ----

void ZCorrection::StartMove(const Axes& start, const Axes& end, const char* status) {
  PlanStraightMove(move_, *ctx_.host.planner, start, end, ctx_.host.planner->plugin_move_feed);
  ctx_.host.ShowStatus(status);
}

void ZCorrection::MoveToCorrectedZ() {
  const double z_steps = ZSteps();
  if (z_steps == 0.0 || !std::isfinite(z_steps)) return;
  const Axes p = MirrorUnits();
  Axes end = p;
  const double applied = state_.applied_steps;
  double l = map_.ZCorrectionAt(p[kAxisX], p[kAxisY]);
  const double w = p[kAxisZ] * z_steps;
  double s = w + l * z_steps - applied;
  if (LimitClamp()) {
    const double z_max = ctx_.config.SoftMaxSteps(kAxisZ);
    const double z_min = ctx_.config.SoftMinSteps(kAxisZ);
    if (s > z_max - 1.0) {
      if (w < z_max - 1.0) {
        l = (z_max - 1.0 - w + applied) / z_steps;
        s = z_max - 1.0;
      } else {
        l = 0.0;
      }
    }
    if (s < z_min + 1.0) l = w > z_min + 1.0 ? (z_min + 1.0 - w + applied) / z_steps : 0.0;
  }
  end[kAxisZ] = p[kAxisZ] + l - applied / z_steps;
  if (end[kAxisZ] == p[kAxisZ]) return;
  state_.applied_steps = l * z_steps;
  StartMove(p, end, "Z axis moved to corrected position.");
}

void ZCorrection::MoveToSafeZ() {
  const double z_steps = ZSteps();
  if (z_steps == 0.0 || !std::isfinite(z_steps)) return;
  const HostPlanner& planner = *ctx_.host.planner;
  HostMachineState& machine = *ctx_.host.machine;
  const Axes p = MirrorUnits();
  Axes end = p;
  double l = map_.ZCorrectionAt(p[kAxisX], p[kAxisY]);
  double v = planner.safe_z - l;
  if (planner.safe_z_mode == 1) {
    v += ctx_.host.Param(kParamWorkOffsetX + kAxisZ);
  } else if (planner.safe_z_mode == 2) {
    v += p[kAxisZ];
  }
  if (machine.soft_limits_on) {
    if (v > planner.axes[kAxisZ].soft_max) {
      v = planner.axes[kAxisZ].soft_max;
    } else if (v < planner.axes[kAxisZ].soft_min) {
      v = planner.axes[kAxisZ].soft_min;
    }
  }
  state_.applied_steps = 0.0;
  const double big_v = v * z_steps;
  const double w = p[kAxisZ] * z_steps;
  double s = big_v + l * z_steps;
  if (LimitClamp()) {
    const double z_max = ctx_.config.SoftMaxSteps(kAxisZ);
    const double z_min = ctx_.config.SoftMinSteps(kAxisZ);
    if (s > z_max - 1.0) {
      if (w < z_max - 1.0) {
        l = (z_max - 1.0 - big_v) / z_steps;
        s = z_max - 1.0;
      } else {
        l = 0.0;
      }
    }
    if (s < z_min + 1.0) l = w > z_min + 1.0 ? (z_min + 1.0 - big_v) / z_steps : 0.0;
  }
  end[kAxisZ] = v + l;
  state_.applied_steps = l * z_steps;
  if (end[kAxisZ] == p[kAxisZ]) return;
  PlanStraightMove(move_, planner, p, end, planner.plugin_move_feed);
  machine.idle = 0;
  ctx_.host.ShowStatus("Z axis moved to SafeZ position.");
}

void ZCorrection::Resync() {
  if (!state_.active || ctx_.settings.z_jog_corr != 0) return;
  // The correction at the new X/Y is taken as already contained in the Z position.
  const HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  const double x_steps = planner.axes[kAxisX].steps_per_unit;
  const double y_steps = planner.axes[kAxisY].steps_per_unit;
  const double x = x_steps != 0.0 ? machine.motors[kAxisX].step_position / x_steps : 0.0;
  const double y = y_steps != 0.0 ? machine.motors[kAxisY].step_position / y_steps : 0.0;
  SetApplied(map_.ZCorrectionAt(x, y) * ZSteps());
}

// ---- Hooks ----

bool ZCorrection::TakeXYJogged() {
  const bool jogged = state_.xy_jogged;
  state_.xy_jogged = false;
  return jogged;
}

void ZCorrection::OnStreamsReset() {
  move_.active = false;
  move_.release_suppressed = true;
  state_.activation_step = 0;
  state_.xy_jogged = false;
  state_.start_move_wait = false;
  follower_.vel = 0.0;
}

bool ZCorrection::AllowJog(int axis, bool x_or_y_jogging) {
  if (!state_.active || ctx_.settings.z_jog_corr == 0 || axis != kAxisZ) return true;
  // Z is not jogged while X or Y still move under correction.
  if (x_or_y_jogging) return false;
  if (state_.xy_jogged) {
    // X or Y moved since Z was last corrected: this request brings Z to the corrected
    // height instead of jogging.
    state_.xy_jogged = false;
    state_.start_move_wait = true;
    MoveToCorrectedZ();
    return false;
  }
  return true;
}

void ZCorrection::OnJogStarted(int axis) {
  if (!state_.active) return;
  if (ctx_.settings.z_jog_corr != 0 && (axis == kAxisX || axis == kAxisY)) {
    state_.xy_jogged = true;
  }
  follower_.vel = 0.0;
}

void ZCorrection::OnHomeZ() {
  if (!state_.active) return;
  SetApplied(0.0);
  follower_.vel = 0.0;
}

// ---- The map and the work-offset commands ----

bool ZCorrection::EnsureLoaded() {
  return map_.EnsureZCorrectionLoaded(ctx_.settings.z_file_name, ctx_.settings.z_normal,
                                      ctx_.messages, ctx_.host);
}

bool ZCorrection::Reload() {
  map_.DiscardZCorrectionMap();
  return EnsureLoaded();
}

void ZCorrection::ZeroZ() {
  if (!ctx_.host.Ready() || !EnsureLoaded()) return;
  const HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  double p[3];
  for (int k = 0; k < 3; ++k) {
    const double steps = planner.axes[k].steps_per_unit;
    p[k] = steps != 0.0 ? machine.motors[k].step_position / steps : 0.0;
  }
  const double l = map_.ZCorrectionAt(p[0], p[1]);
  ctx_.host.SetDro(kDroWorkOffsetZ, p[2] - l);
  ctx_.settings.mz_offset = p[2] - (map_.norm_offset() + l);
}

void ZCorrection::CorrectZOffset(const std::array<double, 3>& offsets_at_open) {
  if (!ctx_.host.Ready() || !EnsureLoaded()) return;
  const double l = map_.ZCorrectionAt(offsets_at_open[0], offsets_at_open[1]);
  ctx_.host.SetDro(kDroWorkOffsetZ, offsets_at_open[2] - l);
}

void ZCorrection::AutoSetZOffset() {
  if (!ctx_.host.Ready() || !EnsureLoaded()) return;
  ctx_.host.SetDro(kDroWorkOffsetZ, map_.norm_offset() + ctx_.settings.mz_offset);
}

}  // namespace kelvro
