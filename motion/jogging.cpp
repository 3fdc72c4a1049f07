#include "motion/jogging.h"

#include <cmath>

#include "device/wire.h"
#include "host/host_fields.h"
#include "host/trajectory_ring.h"

namespace kelvro {
namespace {

constexpr int32_t kJogModeContinuous = 1;
constexpr int32_t kJoggingBit = 0x1;

// Direction argument 0 jogs positive, anything else negative.
int8_t WireDirection(int direction) {
  return direction == 0 ? 1 : -1;
}

}  // namespace

void Jogging::JogOn(int axis, int direction, double speed) {
  if (!ctx_.host.Ready() || axis < 0 || axis >= kAxisCount) return;
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  const StatusPacket& last = decoder_.last();
  const bool controller_idle = InMode(last, Mode::IDLE);

  if (machine.estop) {
    ctx_.host.ShowStatus("No Jogging in Estop!");
    return;
  }
  if (!RingEmpty(machine)) {
    ctx_.host.ShowStatus("No Jogging in g-code mode!");
    return;
  }
  if (machine.motors[axis].slave) {
    ctx_.host.ShowStatus("Cannot jog slave axis!");
    return;
  }
  // A reversal while the axis is still jogging is not honoured: the operator has to let
  // go first. Compared by sense, so two host values that both mean "negative" are no
  // reversal.
  if (!controller_idle && jogging_[axis] &&
      WireDirection(direction_[axis]) != WireDirection(direction)) {
    return;
  }
  if (!InSequence(last, Sequence::NONE) || (!controller_idle && !InMode(last, Mode::JOG))) {
    ctx_.host.ShowStatus("Waiting for sequence to End!");
    return;
  }
  if (!zcorr_.AllowJog(axis, jogging_[kAxisX] || jogging_[kAxisY])) return;

  bool any_jogging = false;
  for (bool jogging : jogging_) any_jogging = any_jogging || jogging;
  if (planner.jog_mode == kJogModeContinuous) {
    jog_mode_remembered_ = true;
    planner.jog_mode = 0;
  } else if (!any_jogging) {
    jog_mode_remembered_ = false;
  }

  double velocity = speed;
  if (speed == 0.0) {
    velocity = planner.axes[axis].max_velocity;
    if (!planner.no_jog_scaling) velocity *= ctx_.host.Param(kParamJogRatePercent) / 100.0;
  }
  // The direction byte carries the sense; the speed is a magnitude (a negative host speed
  // or steps-per-unit value must not turn the jog against the requested direction).
  const int32_t wire_speed =
      TruncToInt32(std::fabs(velocity * planner.axes[axis].steps_per_unit * 4096.0));
  ctx_.link.SendCommand(
      CommandCode::JogStart,
      payload::JogStart(static_cast<uint8_t>(axis), WireDirection(direction), wire_speed));

  jogging_[axis] = true;
  direction_[axis] = direction;
  machine.motors[axis].jog_active = 1;
  machine.motors[axis].jog_direction = direction;
  machine.jog_active = 1;
  machine.idle = 0;
  machine.status_word |= kJoggingBit;
  zcorr_.OnJogStarted(axis);
}

void Jogging::JogOff(int axis) {
  if (!ctx_.host.Ready() || axis < 0 || axis >= kAxisCount) return;
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  // During a sequence the axis stays marked as jogging until a later JogOff.
  if (!InSequence(decoder_.last(), Sequence::NONE)) return;
  if (!machine.jog_active || !jogging_[axis]) return;

  jogging_[axis] = false;
  ctx_.link.SendCommand(CommandCode::JogStop, payload::JogStop(static_cast<uint8_t>(axis)));

  for (bool jogging : jogging_) {
    if (jogging) return;
  }
  machine.jog_active = 0;
  if (jog_mode_remembered_) {
    planner.jog_mode = kJogModeContinuous;
    jog_mode_remembered_ = false;
  }
}

}  // namespace kelvro
