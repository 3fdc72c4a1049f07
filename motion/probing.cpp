#include "motion/probing.h"

#include <cmath>
#include <string>
#include <string_view>
#include <utility>

#include "device/wire.h"
#include "host/host_fields.h"
#include "motion/probe_log.h"

namespace kelvro {
namespace {

// X, Y, Z and A are checked against the soft limits.
constexpr int kSoftLimitAxes = 4;
// The controller's probe terms count 1/250,000,000 step per tick of its 4 us clock
// (velocity) and per tick squared (acceleration, 1.6e-11 = (4e-6)^2).
constexpr double kProbeTick = 4e-6;
constexpr double kProbeAccelScale = kProbeTick * kProbeTick;
constexpr double kProbeWireScale = 250000000.0;

constexpr char kProbeNotOn[] = "Probe called but not turned on.";
constexpr char kProbeOutsideLimits[] = "Probe move outside of soft limits. Operation aborted.";
constexpr char kProbeCannotPlan[] = "Probe move has zero length or zero feed. Operation aborted.";
constexpr char kProbeMissed[] = "Probe move finished with NO hit!";
constexpr char kProbeLogOpenError[] = "Error opening ProbeLog file!";

// Steps to host units; an axis without a usable steps-per-unit value reads 0 rather than
// writing infinities or NaN into the host.
double StepsToUnits(double steps, double steps_per_unit) {
  if (steps_per_unit == 0.0 || !std::isfinite(steps_per_unit)) return 0.0;
  return steps / steps_per_unit;
}

double WorkOffset(const Host& host, int axis) {
  return host.Param(kParamWorkOffsetX + axis);
}

// A point violates the soft limits when one of X, Y, Z, A lies outside the limits the
// controller itself enforces: the configured limits in steps (with slave limits merged
// into their masters) turned back into host units. Axes without limits in the motion
// configuration (never configured, flag off) or without the host's per-axis flag are not
// checked, nor are axes whose steps per unit cannot convert.
bool OutsideSoftLimits(const ControllerConfig& config, const HostPlanner& planner,
                       const Axes& point) {
  for (int k = 0; k < kSoftLimitAxes; ++k) {
    if (!config.SoftLimitsApply(k) || !planner.axes[k].soft_limit_on) continue;
    const double steps = planner.axes[k].steps_per_unit;
    if (steps == 0.0 || !std::isfinite(steps)) continue;
    double low = config.SoftMinSteps(k) / steps;
    double high = config.SoftMaxSteps(k) / steps;
    if (low > high) std::swap(low, high);  // negative steps per unit
    if (point[k] > high || point[k] < low) return true;
  }
  return false;
}

}  // namespace

Probing::Probing(const MotionContext& context, StatusDecoder& decoder, ZCorrectionHooks& zcorr)
    : ctx_(context), decoder_(decoder), zcorr_(zcorr) {
  // No probe move has run yet: there is no end of it to release.
  move_.release_suppressed = true;
}

void Probing::Probe() {
  if (!ctx_.host.Ready()) return;
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  const Host& host = ctx_.host;

  if (!machine.inputs[kInputProbe].enabled) {
    ctx_.host.ShowStatus(kProbeNotOn);
    host.DoButton(kButtonStop);
    return;
  }
  ctx_.host.ShowStatus(FormatText("Probe to (%f,%f,%f,%f)", planner.probe_target[0],
                                  planner.probe_target[1], planner.probe_target[2],
                                  planner.probe_target[3]));

  // Machine coordinates.
  Axes start{};
  Axes end{};
  for (int k = 0; k < kAxisCount; ++k) {
    const double offset = WorkOffset(host, k);
    start[k] = planner.current_position[k] + offset;
    end[k] = planner.probe_target[k] + offset;
  }
  if (machine.soft_limits_on && (OutsideSoftLimits(ctx_.config, planner, start) ||
                                 OutsideSoftLimits(ctx_.config, planner, end))) {
    ctx_.host.ShowStatus(kProbeOutsideLimits);
    host.DoButton(kButtonStop);
    return;
  }

  // Feeds are units per second.
  const double feed = planner.feed_rate * planner.feed_override_percent * 0.01;
  // A probe to where the tool already is, or at no feed, has no motion to plan (the
  // planner would divide by zero): refuse it like any other probe that cannot run.
  if (!PlanStraightMove(move_, planner, start, end, feed)) {
    ctx_.host.ShowStatus(kProbeCannotPlan);
    host.DoButton(kButtonStop);
    return;
  }

  const int32_t distance = TruncToInt32(1000.0 * (end[0] - start[0]));
  for (int k = 0; k < kAxisCount; ++k) {
    machine.motors[k].probe_pending = 1;
    machine.motors[k].probe_distance = distance;
  }
  machine.idle = 0;

  std::array<int32_t, 6> accel{};
  std::array<int32_t, 6> velocity{};
  for (int k = 0; k < kAxisCount; ++k) {
    const double steps = planner.axes[k].steps_per_unit;
    accel[k] =
        TruncToInt32(std::fabs(move_.acceleration[k] * steps * kProbeAccelScale) * kProbeWireScale);
    velocity[k] = TruncToInt32(move_.velocity[k] * steps * kProbeTick * kProbeWireScale);
  }
  // Slaved A, B, C carry their master's terms, as they do in the segment records.
  for (int k = 3; k < kAxisCount; ++k) {
    const int master = ctx_.config.MasterPlusOne(k) - 1;
    if (master >= 0 && master < kAxisCount && master != k) {
      accel[k] = accel[master];
      velocity[k] = velocity[master];
    }
  }
  ctx_.link.SendCommand(CommandCode::ProbeStart, payload::ProbeStart(accel, velocity));
}

void Probing::Reset() {
  move_.active = false;
  move_.release_suppressed = true;
  HostMachineState* machine = ctx_.host.machine;
  if (!machine) return;
  for (int k = 0; k < kAxisCount; ++k) machine->motors[k].probe_pending = 0;
}

void Probing::OnMissed() {
  decoder_.RequestResync();
  Reset();
  ctx_.link.SendCommand(CommandCode::EndProbe);
  if (!ctx_.host.Ready()) return;
  ctx_.host.ShowStatus(kProbeMissed);
  ctx_.host.DoButton(kButtonStop);
}

void Probing::OnHit(const StatusPacket& packet) {
  ended_ = true;
  move_.active = false;
  move_.release_suppressed = true;
  if (!ctx_.host.Ready()) return;
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;

  std::array<double, kAxisCount> hit{};  // work coordinates
  for (int k = 0; k < kAxisCount; ++k) {
    hit[k] = StepsToUnits(packet.positions[k], planner.axes[k].steps_per_unit) -
             WorkOffset(ctx_.host, k);
    if (k < 4) planner.probe_result[k] = hit[k];
    machine.motors[k].probe_pending = 0;
    machine.motors[k].probe_hit_steps = packet.positions[k];
  }
  if (zcorr_.active()) {
    planner.probe_result[2] -=
        zcorr_.CorrectionAt(StepsToUnits(packet.positions[0], planner.axes[0].steps_per_unit),
                            StepsToUnits(packet.positions[1], planner.axes[1].steps_per_unit));
  }
  hit_hold_ = true;
  ctx_.host.ShowStatus(FormatText("Probe hit (%f,%f,%f,%f)", hit[0], hit[1], hit[2], hit[3]));
  settle_count_ = 2;
  if (log_.log_enabled) WriteLogEntry();
}

void Probing::WriteLogEntry() {
  if (!ctx_.host.Ready()) return;
  const HostPlanner& planner = *ctx_.host.planner;
  const std::string base = ProbeLogBase(planner.program_name, sizeof(planner.program_name));
  const Point3 target{planner.probe_target[0], planner.probe_target[1], planner.probe_target[2]};
  const Point3 result{planner.probe_result[0], planner.probe_result[1], planner.probe_result[2]};
  const std::string& sep = log_.separator;

  if (!AppendToFile(base + kProbeLogTextSuffix, FormatProbeLogLine(target, result, sep))) {
    ctx_.messages.MessageBox(kProbeLogOpenError, MessageBoxKind::kOk);
  }
  if (log_.compensation) {
    const Point3 point = CompensateProbePoint(target.x, target.y, result, log_.d, log_.c1, log_.c2);
    const Point3 offset{WorkOffset(ctx_.host, 0), WorkOffset(ctx_.host, 1),
                        WorkOffset(ctx_.host, 2)};
    if (!AppendToFile(base + kProbeLogMeasureSuffix,
                      FormatCompensatedLine(point, sep, log_.machine_coordinates, offset))) {
      ctx_.messages.MessageBox(kProbeLogOpenError, MessageBoxKind::kOk);
    }
  }
}

void Probing::LogStart() {
  if (!log_.log_enabled) return;
  log_start_seconds_ = ctx_.clock.NowSeconds();
}

void Probing::LogFinish() {
  if (!log_.log_enabled || !ctx_.host.planner) return;
  const HostPlanner& planner = *ctx_.host.planner;
  const std::string base = ProbeLogBase(planner.program_name, sizeof(planner.program_name));
  // A file that cannot be opened is skipped without a message.
  AppendToFile(base + kProbeLogTextSuffix,
               FormatProbeFinishLine(ctx_.clock.NowSeconds() - log_start_seconds_));
}

void Probing::OnReport(const StatusPacket& packet) {
  if (!ended_ || !InMode(packet, Mode::IDLE)) return;
  if (settle_count_ == 0) {
    ended_ = false;
    ctx_.link.SendCommand(CommandCode::EndProbe);
    decoder_.RequestResync();
    hold_release_ = true;
  } else {
    --settle_count_;
  }
}

void Probing::UpdateHostProbeInput() {
  HostInputSignal& probe = ctx_.host.machine->inputs[kInputProbe];
  if (hit_hold_) {
    if (!probe.state) probe_input_latch_ = true;
    probe.state = 1;
  } else if (probe_input_latch_) {
    probe.state = 0;
    probe_input_latch_ = false;
  }
  if (hold_release_) {
    hold_release_ = false;
    hit_hold_ = false;
  }
}

void Probing::UpdateLogTiming() {
  const bool led = ctx_.host.GetLed(kLedProbeLogTiming);
  if (led && !led804_previous_) LogStart();
  if (!led && led804_previous_) LogFinish();
  led804_previous_ = led;
}

}  // namespace kelvro
