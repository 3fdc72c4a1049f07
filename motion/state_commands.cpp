#include "motion/state_commands.h"

#include <algorithm>
#include <cmath>

#include "device/wire.h"
#include "host/host_fields.h"
#include "motion/host_io.h"

namespace kelvro {
namespace {

// Host input records in the order of the controller's input functions 0..24.
constexpr int kForcedInputRecords[25] = {2, 5, 8, 11, 14, 17, 1,  4,  7,  10, 13, 16, 0,
                                         3, 6, 9, 12, 15, 22, 23, 44, 25, 26, 27, 28};
constexpr uint32_t kForcedArcOkBit = 1u << 22;
constexpr uint32_t kForcedThcUpBit = 1u << 23;
constexpr uint32_t kForcedThcDownBit = 1u << 24;
constexpr uint32_t kForcedManualThcBit = 1u << 31;
constexpr uint32_t kForcedHomeXToHomeB = 0x1F;  // bits 0-4
// ThcConfig is compared over its first 25 bytes.
constexpr size_t kThcCompared = 25;

}  // namespace

uint16_t StateCommands::OutputModeFlags() const {
  const HostMachineState& machine = *ctx_.host.machine;
  uint16_t flags = 0;
  if (machine.soft_limits_on) flags |= 1u << 0;
  if (ctx_.host.GetLed(kLedMpgMode)) flags |= 1u << 1;
  if (machine.passthrough_flag) flags |= 1u << 2;
  if (machine.thc_mode) flags |= 1u << 3;
  if (machine.counter_flag && machine.counter_a < machine.counter_b) flags |= 1u << 5;
  if (ctx_.settings.probe_as_limit) flags |= 1u << 6;
  return flags;
}

uint32_t StateCommands::ForcedInputBits() const {
  const HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  uint32_t bits = 0;
  for (int bit = 0; bit < 25; ++bit) {
    const HostInputSignal& input = machine.inputs[kForcedInputRecords[bit]];
    if (input.enabled && input.emulated && input.state) bits |= 1u << bit;
  }
  if (planner.arc_ok_emulation && !machine.inputs[kInputThcOn].enabled && machine.thc_mode &&
      machine.torch_on) {
    bits |= kForcedArcOkBit;
  }
  if (thc_.ManualActive()) {
    bits &= ~kForcedHomeXToHomeB;
    bits |= kForcedManualThcBit;
    if (machine.thc_mode && !machine.estop) {
      if (ctx_.keyboard.KeyDown(kVkNumpad9)) {
        bits |= kForcedThcUpBit;
      } else if (ctx_.keyboard.KeyDown(kVkNumpad3)) {
        bits |= kForcedThcDownBit;
      }
    }
  }
  return bits;
}

void StateCommands::Send() {
  DeviceLink& link = ctx_.link;
  if (!link.connected()) return;
  const HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  const PluginSettings& settings = ctx_.settings;

  // 1. Outputs, changed axes and mode flags.
  const auto outputs = payload::SetOutputs(OutputBits(machine),
                                           planner.alternative_homing ? 0 : decoder_.changed_axes(),
                                           OutputModeFlags());
  if (sent_outputs_.Differs(outputs) && link.SendCommand(CommandCode::SetOutputs, outputs)) {
    sent_outputs_.Remember(outputs);
  }
  if (!link.connected()) return;

  // 2. Forced inputs.
  const auto forced = payload::SetForcedInputs(ForcedInputBits());
  if (sent_forced_inputs_.Differs(forced) &&
      link.SendCommand(CommandCode::SetForcedInputs, forced)) {
    sent_forced_inputs_.Remember(forced);
  }
  if (!link.connected()) return;

  // 3. Hand wheel.
  const int axis =
      planner.mpg_axis >= 0 && planner.mpg_axis <= kMpgAxisMax ? planner.mpg_axis : kMpgAxisMax;
  const HostAxisTuning& tuning = planner.axes[axis];
  double counts_per_unit = mapper_.mpg_scale();
  if (!(std::fabs(counts_per_unit) >= 0.00001)) counts_per_unit = 1.0;  // also NaN
  const int32_t step =
      TruncToInt32(planner.mpg_step_per_count / counts_per_unit * tuning.steps_per_unit * 10000.0);
  double speed = tuning.max_velocity;
  if (settings.mpg_feed_limit) speed = std::min(speed, planner.mpg_feed / 60.0);
  const int32_t speed_limit = TruncToInt32(speed * tuning.steps_per_unit * 4096.0);
  const uint16_t enable =
      planner.jog_mode == 2 && settings.hw_mpg && !ctx_.host.GetLed(kLedMpgMode) ? 1 : 0;
  const auto mpg = payload::MpgConfig(planner.mpg_axis, step, speed_limit, enable);
  if (sent_mpg_.Differs(mpg) && link.SendCommand(CommandCode::MpgConfig, mpg)) {
    sent_mpg_.Remember(mpg);
  }
  if (!link.connected()) return;

  // 4. Torch height control, compared over its first 25 bytes.
  if (!machine.thc_mode) return;
  const auto thc = thc_.ConfigPayload();
  if ((thc_.config_resend_requested() || sent_thc_.Differs(thc, kThcCompared)) &&
      link.SendCommand(CommandCode::ThcConfig, thc)) {
    sent_thc_.Remember(thc);
    thc_.TakeConfigResend();
  }
}

void StateCommands::Invalidate() {
  sent_outputs_.Invalidate();
  sent_forced_inputs_.Invalidate();
  sent_mpg_.Invalidate();
  sent_thc_.Invalidate();
}

}  // namespace kelvro
