// Jogging started and stopped by the host. The controller runs the jog by itself; the
// plugin checks that a jog may start, sends JogStart / JogStop and keeps the host's jog
// flags in step with what it has sent.
#include <cmath>
#include <string_view>

#include "device/device_link.h"
#include "device/wire.h"
#include "motion/motion.h"
#include "plugin/platform.h"
#include "zcorr/z_correction.h"

namespace kelvro {
namespace {

constexpr int kAxisX = 0;
constexpr int kAxisY = 1;
constexpr int kAxisZ = 2;
constexpr int32_t kJogModeContinuous = 1;
constexpr int32_t kJoggingBit = 0x1;

bool RingEmpty(const HostMachineState& machine) {
  // Unsigned arithmetic: the indices are the host's and may hold anything.
  const uint32_t pending =
      (static_cast<uint32_t>(machine.ring_write) - static_cast<uint32_t>(machine.ring_read)) &
      (kRingSize - 1);
  return pending == 0;
}

// Direction argument 0 jogs positive, anything else negative.
int8_t WireDirection(int direction) {
  return direction == 0 ? 1 : -1;
}

}  // namespace

void Motion::JogOn(int axis, int direction, double speed) {
  if (!ctx_.host.Ready() || axis < 0 || axis >= kAxisCount) return;
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  ZCorrection& zcorr = ctx_.zcorr;
  const uint8_t mode = state_.last_packet.mode;
  const uint8_t sequence = state_.last_packet.sequence;

  if (machine.estop) {
    ctx_.ShowStatus("No Jogging in Estop!");
    return;
  }
  if (!RingEmpty(machine)) {
    ctx_.ShowStatus("No Jogging in g-code mode!");
    return;
  }
  if (machine.motors[axis].slave) {
    ctx_.ShowStatus("Cannot jog slave axis!");
    return;
  }
  // A reversal while the axis is still jogging is not honoured: the operator has to let
  // go first. Compared by sense, so two host values that both mean "negative" are no
  // reversal.
  if (mode != static_cast<uint8_t>(Mode::IDLE) && jog_.jogging[axis] &&
      WireDirection(jog_.direction[axis]) != WireDirection(direction)) {
    return;
  }
  if (sequence != static_cast<uint8_t>(Sequence::NONE) ||
      (mode != static_cast<uint8_t>(Mode::IDLE) && mode != static_cast<uint8_t>(Mode::JOG))) {
    ctx_.ShowStatus("Waiting for sequence to End!");
    return;
  }
  const bool z_follows_jogs = zcorr.active && ctx_.settings.z_jog_corr != 0;
  if (z_follows_jogs && axis == kAxisZ) {
    // Z is not jogged while X or Y still move under correction.
    if (jog_.jogging[kAxisX] || jog_.jogging[kAxisY]) return;
    if (zcorr.xy_jogged) {
      // X or Y moved since Z was last corrected: this request brings Z to the corrected
      // height instead of jogging.
      zcorr.xy_jogged = false;
      zcorr.start_move_wait = true;
      MoveToCorrectedZ();
      return;
    }
  }

  bool any_jogging = false;
  for (bool jogging : jog_.jogging) any_jogging = any_jogging || jogging;
  if (planner.jog_mode == kJogModeContinuous) {
    jog_.jog_mode_remembered = true;
    planner.jog_mode = 0;
  } else if (!any_jogging) {
    jog_.jog_mode_remembered = false;
  }

  double velocity = speed;
  if (speed == 0.0) {
    velocity = planner.axes[axis].max_velocity;
    if (!planner.no_jog_scaling) {
      velocity *= ctx_.host.Param(kParamJogRatePercent) / 100.0;
    }
  }
  // The direction byte carries the sense; the speed is a magnitude (a negative host speed
  // or steps-per-unit value must not turn the jog against the requested direction).
  const int32_t wire_speed =
      TruncToInt32(std::fabs(velocity * planner.axes[axis].steps_per_unit * 4096.0));
  ctx_.link.SendCommand(
      CommandCode::JogStart,
      payload::JogStart(static_cast<uint8_t>(axis), WireDirection(direction), wire_speed));

  jog_.jogging[axis] = true;
  jog_.direction[axis] = direction;
  machine.motors[axis].jog_active = 1;
  machine.motors[axis].jog_direction = direction;
  machine.jog_active = 1;
  machine.idle = 0;
  machine.status_word |= kJoggingBit;

  if (zcorr.active) {
    if (ctx_.settings.z_jog_corr != 0 && (axis == kAxisX || axis == kAxisY)) {
      zcorr.xy_jogged = true;
    }
    zcorr.follower.vel = 0.0;
  }
}

void Motion::JogOff(int axis) {
  if (!ctx_.host.Ready() || axis < 0 || axis >= kAxisCount) return;
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  // During a sequence the axis stays marked as jogging until a later JogOff.
  if (state_.last_packet.sequence != static_cast<uint8_t>(Sequence::NONE)) return;
  if (!machine.jog_active || !jog_.jogging[axis]) return;

  jog_.jogging[axis] = false;
  ctx_.link.SendCommand(CommandCode::JogStop, payload::JogStop(static_cast<uint8_t>(axis)));

  for (bool jogging : jog_.jogging) {
    if (jogging) return;
  }
  machine.jog_active = 0;
  if (jog_.jog_mode_remembered) {
    planner.jog_mode = kJogModeContinuous;
    jog_.jog_mode_remembered = false;
  }
}

}  // namespace kelvro
