#include "motion/thc_runtime.h"

#include <cmath>

#include "host/host_fields.h"

namespace kelvro {

void ThcRuntime::DecodeSignals(const StatusPacket& packet) {
  HostMachineState& machine = *ctx_.host.machine;
  const PluginSettings& settings = ctx_.settings;
  const int32_t volts = TorchVolts(settings, packet.analog_raw);
  ctx_.host.SetDro(kDroTorchVolts, volts);

  HostInputSignal& up = machine.inputs[kInputThcUp];
  HostInputSignal& down = machine.inputs[kInputThcDown];
  if (!up.enabled) up.state = (packet.flags & kStatusFlagTorchUp) ? 1 : 0;
  if (!down.enabled) down.state = (packet.flags & kStatusFlagTorchDown) ? 1 : 0;
  ctx_.host.SetLed(kLedTorchSignal, (packet.flags & kStatusFlagLed1500) != 0);
  UpdateArcOk(packet);

  if (settings.thc_type != 0 && voltage_log_on_ && (packet.flags & kStatusFlagThcActive)) {
    const int64_t z = static_cast<int64_t>(machine.thc_z_offset) + packet.positions[kAxisZ];
    voltage_log_.Append(packet.flags, machine.inputs[kInputThcOn].state ? 1 : 0, packet.analog_raw,
                        volts, z);
  }
}

void ThcRuntime::UpdateArcOk(const StatusPacket& last) {
  HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  const PluginSettings& settings = ctx_.settings;
  HostInputSignal& arc = machine.inputs[kInputThcOn];
  if (arc.enabled) return;  // driven by its pin
  bool on;
  if (!planner.arc_ok_emulation) {
    on = (last.flags & kStatusFlagArcOk) && settings.thc_arc_detect && settings.thc_type != 0;
  } else {
    on = machine.thc_mode && machine.torch_on;
  }
  arc.state = on ? 1 : 0;
}

void ThcRuntime::FollowTargetVoltage() {
  double volts = ctx_.host.GetDro(kDroTargetVolts);
  if (!std::isfinite(volts) || volts == 0.0) return;
  if (volts > kThcMaxTargetVolts) {
    ctx_.host.SetDro(kDroTargetVolts, kThcMaxTargetVolts);
    volts = kThcMaxTargetVolts;
  }
  if (!writing_dro1501_ && volts != target_voltage_) target_voltage_ = volts;
}

void ThcRuntime::WriteTargetVoltage(double volts) {
  set_own_target_write(true);
  ctx_.host.SetDro(kDroTargetVolts, volts);
  set_own_target_write(false);
  target_voltage_ = volts;
}

void ThcRuntime::ReleaseHoldOnArc(bool dwell_counting) {
  HostMachineState& machine = *ctx_.host.machine;
  if (torch_start_hold_ && machine.inputs[kInputThcOn].state) {
    torch_start_hold_ = false;
    if (!dwell_counting) machine.dwell_active = 0;
  }
}

void ThcRuntime::ApplyZOffset(const StatusPacket& last, bool predates_readback) {
  HostMachineState& machine = *ctx_.host.machine;
  if (machine.thc_mode) {
    const bool offset_off = ctx_.host.GetLed(kLedThcOffsetOff) || predates_readback;
    machine.thc_z_offset = offset_off ? 0 : last.thc_z_offset;
  }
}

void ThcRuntime::TimeArc() {
  const HostMachineState& machine = *ctx_.host.machine;
  const bool arc = machine.inputs[kInputThcOn].state != 0;
  if (!machine.thc_mode || machine.estop) {
    arc_was_on_ = false;
    return;
  }
  const uint32_t now = ctx_.clock.NowMs();
  if (arc && !arc_was_on_) {
    ++ignition_count_;
    arc_t0_ms_ = now;
  }
  if (arc_was_on_) {
    cut_time_ms_ += static_cast<uint32_t>(now - arc_t0_ms_);
    arc_t0_ms_ = now;
  }
  arc_was_on_ = arc;
}

bool ArcOkHasSource(bool internal_thc, bool arc_detect, const Host& host) {
  if (internal_thc && arc_detect) return true;
  if (host.planner && host.planner->arc_ok_emulation) return true;
  return host.machine && host.machine->inputs[kInputThcOn].enabled;
}

std::optional<std::string> TorchHoldWarning(const PluginSettings& settings, const Host& host) {
  if (settings.thc_dwell == 0) return std::nullopt;
  if (ArcOkHasSource(settings.thc_type != 0, settings.thc_arc_detect != 0, host)) {
    return std::nullopt;
  }
  return std::string(kTorchHoldWarning);
}

bool ThcRuntime::HoldForTorchStart() {
  if (const auto warning = TorchHoldWarning(ctx_.settings, ctx_.host)) {
    ctx_.host.ShowStatus(*warning);
    return false;
  }
  ctx_.host.machine->dwell_active = 1;
  torch_start_hold_ = true;
  return true;
}

void ThcRuntime::ReleaseTorchStartHold(bool dwell_counting) {
  if (!torch_start_hold_) return;
  torch_start_hold_ = false;
  if (!dwell_counting) ctx_.host.machine->dwell_active = 0;
}

bool ThcRuntime::ManualActive() const {
  return ctx_.settings.manual_thc != 0 && ctx_.keyboard.KeyToggled(kVkNumLock);
}

std::array<uint8_t, kThcConfigSize> ThcRuntime::ConfigPayload() const {
  const HostPlanner& planner = *ctx_.host.planner;
  ThcHostValues values;
  values.z_max_velocity = planner.axes[kAxisZ].max_velocity;
  values.z_steps_per_unit = planner.axes[kAxisZ].steps_per_unit;
  values.thc_speed_percent = planner.thc_speed_percent;
  values.z_limit1 = planner.thc_z_limit1;
  values.z_limit2 = planner.thc_z_limit2;
  values.pierce_delay_s = ctx_.host.GetDro(kDroPierceDelay);
  values.target_voltage = target_voltage_;
  values.manual_active = ManualActive();
  return payload::ThcConfig(BuildThcConfigFields(ctx_.settings, values));
}

}  // namespace kelvro
