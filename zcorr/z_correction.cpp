#include "zcorr/z_correction.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
      StopFollower();
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
  // The follower moves the executed Z: it starts from where the last segment left Z (the
  // mirror) and heads for the program's new Z plus the correction, so that the program's own
  // Z motion and the correction together stay within the axis's speed and acceleration.
  const double target = CorrectedTarget(x, y, z);
  const double target_speed = follower_.has_last_target ? target - follower_.last_target : 0.0;
  follower_.last_target = target;
  follower_.has_last_target = true;
  follower_.target = target;
  follower_.pos = tick_.decoder().mirror()[kAxisZ] - 0.5;
  ZBrakeBounds bounds;
  if (LimitClamp()) {
    // Braking into the band one step inside the soft limits; where the program itself goes
    // beyond it, only as far as the program.
    bounds.high = std::max(ctx_.config.SoftMaxSteps(kAxisZ) - 1.0, z);
    bounds.low = std::min(ctx_.config.SoftMinSteps(kAxisZ) + 1.0, z);
  }
  FollowerStep(target_speed, bounds);
  SetApplied(follower_.pos - z);
  return state_.applied_steps;
}

double ZCorrection::StopSpeed(double distance, double acceleration) {
  if (!(distance > 0.0)) return 0.0;
  if (!(acceleration > 0.0)) return distance;
  // Braking at `acceleration` per millisecond from speed v travels v, v - a, v - 2a, ... (and
  // ends at 0): m steps cover at most a m (m + 1) / 2. The fastest speed that still stops
  // within `distance` uses the fewest steps m that can cover it.
  const double ratio = distance / acceleration;
  // Beyond 2^40 milliseconds of braking (decades) the whole-millisecond count makes no
  // difference any more, and stepping it by one would not change a double: the continuous
  // braking speed is the answer. Also where the ratio overflows.
  if (!(ratio < 1e24)) return std::sqrt(2.0) * std::sqrt(distance) * std::sqrt(acceleration);
  double m = std::ceil((std::sqrt(8.0 * ratio + 1.0) - 1.0) / 2.0);
  if (m < 1.0) m = 1.0;
  // The closed form is off by at most one either way through rounding.
  for (int i = 0; i < 2 && m > 1.0 && acceleration * (m - 1.0) * m / 2.0 >= distance; ++i) {
    m -= 1.0;
  }
  for (int i = 0; i < 2 && acceleration * m * (m + 1.0) / 2.0 < distance; ++i) m += 1.0;
  return (distance + acceleration * m * (m - 1.0) / 2.0) / m;
}

double ZCorrection::BrakingDistance(double speed, double acceleration) {
  if (!(speed > 0.0)) return 0.0;
  if (!(acceleration > 0.0)) return std::numeric_limits<double>::infinity();
  // v, v - a, v - 2a, ... while positive: m = ceil(v / a) milliseconds.
  const double m = std::ceil(speed / acceleration);
  if (!(m < 1e12)) return speed * speed / (2.0 * acceleration);
  return m * speed - acceleration * m * (m - 1.0) / 2.0;
}

void ZCorrection::FollowerStep(double target_speed, const ZBrakeBounds& bounds) {
  ZFollower& f = follower_;
  const double a = f.a_max;
  const double v_max = f.v_max;
  const double before = f.pos;
  const double d = f.target - before;
  // Along with the target, plus the fastest speed towards it from which the follower can
  // still stop exactly on it: the distance to close is what separated the two before the
  // target's own move of this millisecond.
  const double along = std::clamp(target_speed, -v_max, v_max);
  const double behind = d - along;
  double v = along + std::copysign(StopSpeed(std::fabs(behind), a), behind);
  // Never beyond where the target would come to rest if it braked as hard as the axis can
  // from now on: a target that slows down is not overrun (the program's Z plunging into
  // the work would otherwise be followed deeper than it goes).
  // (It has made this millisecond's move already: braking goes on from one step slower.)
  const double rest = f.target + std::copysign(BrakingDistance(std::fabs(along) - a, a), along);
  if (before < rest) v = std::min(v, StopSpeed(rest - before, a));
  if (before > rest) v = std::max(v, -StopSpeed(before - rest, a));
  // Never past the bounds: at most the speed from which it can still stop at them.
  const double up = bounds.high > before ? StopSpeed(bounds.high - before, a) : 0.0;
  const double down = before > bounds.low ? StopSpeed(before - bounds.low, a) : 0.0;
  v = std::clamp(v, -down, up);
  // The axis's own limits come last and always hold.
  v = std::clamp(v, f.vel - a, f.vel + a);
  v = std::clamp(v, -v_max, v_max);
  double next = before + v;
  // A step that ends within rounding of the target lands on it.
  if (std::fabs(f.target - next) <= 1e-14 * (1.0 + std::fabs(f.target))) next = f.target;
  f.vel = next - before;
  f.pos = next;
}

bool ZCorrection::FollowerSettled() const {
  return std::fabs(follower_.target - follower_.pos) <= kZSettledSteps &&
         std::fabs(follower_.vel) <= follower_.a_max + kZSettledSteps;
}

void ZCorrection::StopFollower() {
  follower_.vel = 0.0;
  follower_.has_last_target = false;
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
  StopFollower();
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
  StopFollower();
}

void ZCorrection::OnHomeZ() {
  if (!state_.active) return;
  SetApplied(0.0);
  StopFollower();
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
