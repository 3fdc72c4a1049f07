// Homing: the controller runs the whole homing sequence of an axis by itself and reports
// its end as sequence HOME4. The plugin starts it, counts the homing commands still
// outstanding and marks the reported axis as referenced in the host.
#include <string_view>

#include "device/device_link.h"
#include "motion/motion.h"
#include "plugin/platform.h"
#include "zcorr/z_correction.h"

namespace kelvro {
namespace {

constexpr int kAxisZ = 2;

}  // namespace

void Motion::Home(int axis) {
  if (!ctx_.host.Ready() || axis < 0 || axis >= kAxisCount) return;
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  ZCorrection& zcorr = ctx_.zcorr;

  if (axis == kAxisZ && zcorr.active) {
    // Homing Z takes the correction out of the Z position.
    machine.thc_z_offset = 0;
    zcorr.applied_steps = 0.0;
    zcorr.follower.vel = 0.0;
  }
  machine.homing_in_progress = 1;
  ++state_.homing_count;
  const auto axis_word = static_cast<int16_t>(axis);
  if (planner.alternative_homing) {
    ctx_.link.SendCommand(CommandCode::HomeVerifyAxis, payload::HomeVerifyAxis(axis_word));
  } else {
    ctx_.link.SendCommand(CommandCode::HomeAxis, payload::HomeAxis(axis_word));
  }
  machine.motors[axis].homing = 1;
}

void Motion::OnHomingFinished(const StatusPacket& packet) {
  if (!ctx_.host.Ready()) return;
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  // The axis byte comes from the wire; a value outside X..C touches no per-axis field.
  const int axis = packet.homed_axis;
  const bool axis_valid = axis < kAxisCount;

  if (axis_valid) machine.motors[axis].referenced = 1;
  // A report for homing the plugin no longer counts (after a Reset, say) must not drive
  // the count negative: that would keep the host's homing flag set for good.
  if (state_.homing_count > 0) --state_.homing_count;
  machine.homing_in_progress = state_.homing_count != 0 ? 1 : 0;
  state_.resync_request = true;
  if (axis_valid) machine.motors[axis].homing = 0;
  if (!machine.homing_in_progress) HomingReset();
  if (state_.homing_count == 0) {
    if (planner.alternative_homing) {
      for (int k = 0; k < kAxisCount; ++k) planner.verify_positions[k] = packet.positions[k];
      ctx_.ShowStatus("Verify function finished.");
    }
    planner.alternative_homing = 0;
  }
  if (axis_valid) machine.homed_axes |= static_cast<int32_t>(1u << axis);
}

void Motion::HomingReset() {
  state_.homing_count = 0;
  HostMachineState* machine = ctx_.host.machine;
  if (!machine) return;
  machine->homing_in_progress = 0;
  for (int k = 0; k < kAxisCount; ++k) machine->motors[k].homing = 0;
}

}  // namespace kelvro
