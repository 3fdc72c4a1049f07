#include "motion/homing.h"

#include "host/host_fields.h"

namespace kelvro {

void Homing::Home(int axis) {
  if (!ctx_.host.Ready() || axis < 0 || axis >= kAxisCount) return;
  HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;

  // Homing Z takes the correction out of the Z position.
  if (axis == kAxisZ) zcorr_.OnHomeZ();
  machine.homing_in_progress = 1;
  ++count_;
  const auto axis_word = static_cast<int16_t>(axis);
  if (planner.alternative_homing) {
    ctx_.link.SendCommand(CommandCode::HomeVerifyAxis, payload::HomeVerifyAxis(axis_word));
  } else {
    ctx_.link.SendCommand(CommandCode::HomeAxis, payload::HomeAxis(axis_word));
  }
  machine.motors[axis].homing = 1;
}

void Homing::OnFinished(const StatusPacket& packet) {
  if (!ctx_.host.Ready()) return;
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  // The axis byte comes from the wire; a value outside X..C touches no per-axis field.
  const int axis = packet.homed_axis;
  const bool axis_valid = axis < kAxisCount;

  if (axis_valid) machine.motors[axis].referenced = 1;
  // A report for homing the plugin no longer counts (after a Reset, say) must not drive
  // the count negative: that would keep the host's homing flag set for good.
  if (count_ > 0) --count_;
  machine.homing_in_progress = count_ != 0 ? 1 : 0;
  decoder_.RequestResync();
  if (axis_valid) machine.motors[axis].homing = 0;
  if (!machine.homing_in_progress) Reset();
  if (count_ == 0) {
    if (planner.alternative_homing) {
      for (int k = 0; k < kAxisCount; ++k) planner.verify_positions[k] = packet.positions[k];
      ctx_.host.ShowStatus("Verify function finished.");
    }
    planner.alternative_homing = 0;
  }
  if (axis_valid) machine.homed_axes |= static_cast<int32_t>(1u << axis);
}

void Homing::Reset() {
  count_ = 0;
  HostMachineState* machine = ctx_.host.machine;
  if (!machine) return;
  machine->homing_in_progress = 0;
  for (int k = 0; k < kAxisCount; ++k) machine->motors[k].homing = 0;
}

}  // namespace kelvro
