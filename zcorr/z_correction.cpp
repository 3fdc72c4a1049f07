#include "zcorr/z_correction.h"

#include "host/host_fields.h"

namespace kelvro {

ZCorrection::ZCorrection(const MotionContext& context, ServiceTick& tick)
    : ctx_(context), tick_(tick) {
  // The move has not run yet: there is no end of it to release.
  move_.release_suppressed = true;
}

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
  if (ctx_.settings.z_jog_corr != 0 && (axis == kAxisX || axis == kAxisY)) state_.xy_jogged = true;
  follower_.vel = 0.0;
}

void ZCorrection::OnHomeZ() {
  if (!state_.active) return;
  ctx_.host.machine->thc_z_offset = 0;
  state_.applied_steps = 0.0;
  follower_.vel = 0.0;
}

}  // namespace kelvro
