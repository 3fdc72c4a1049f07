// The 25 ms service tick: reads the controller's newest status report, mirrors it into
// the host's blocks, reacts to sequence events, watches the link, streams segments and
// sends the small state commands whenever their content changed.
#include <algorithm>
#include <cmath>
#include <string_view>

#include "device/device_link.h"
#include "device/wire.h"
#include "motion/host_io.h"
#include "motion/motion.h"
#include "plugin/platform.h"
#include "zcorr/z_correction.h"

namespace kelvro {
namespace {

constexpr int kAxisZ = 2;
constexpr int kMissedPollsLimit = 20;
constexpr char kConnectionClosed[] = "ERROR! Connection closed!";

constexpr int kLedMpgMode = 106;
constexpr int kLedThcOffsetOff = 805;
constexpr int kLedTorchSignal = 1500;
constexpr int kDroPierceDelay = 177;
constexpr int kDroFeedOverride = 821;
constexpr int kDroSpindleOverride = 74;
constexpr int kDroTorchVolts = 1500;
constexpr int kDroTargetVolts = 1501;

constexpr int32_t kJoggingBit = 0x1;
constexpr double kVelocityWindowTicks = 10000000.0;  // controller ticks (0.2 s)
constexpr double kIndexClockHz = 50000000.0;
constexpr double kThreadRateScale = 245760.0;

// Mapping functions of the analog input and the encoders.
enum MappingFunction : int {
  kMapNone = 0,
  kMapFeedOverride = 1,
  kMapSpindleOverride = 2,
  kMapUserVariable = 3,
  kMapUserDro = 4,
  kMapThcTarget = 5,
};

// Host input records in the order of the controller's input functions 0..24.
constexpr int kForcedInputRecords[25] = {2, 5, 8, 11, 14, 17, 1,  4,  7,  10, 13, 16, 0,
                                         3, 6, 9, 12, 15, 22, 23, 44, 25, 26, 27, 28};
constexpr uint32_t kForcedArcOkBit = 1u << 22;
constexpr uint32_t kForcedThcUpBit = 1u << 23;
constexpr uint32_t kForcedThcDownBit = 1u << 24;
constexpr uint32_t kForcedManualThcBit = 1u << 31;
constexpr uint32_t kForcedHomeXToHomeB = 0x1F;  // bits 0-4

bool InMode(const StatusPacket& packet, Mode mode) {
  return packet.mode == static_cast<uint8_t>(mode);
}

bool InSequence(const StatusPacket& packet, Sequence sequence) {
  return packet.sequence == static_cast<uint8_t>(sequence);
}

// Values read from the host are used only when they are numbers.
double Finite(double value, double fallback) {
  return std::isfinite(value) ? value : fallback;
}

int32_t SaturatingAdd(int32_t a, int32_t b) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  return static_cast<int32_t>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

}  // namespace

void Motion::ServiceTick() {
  if (!ctx_.host.Ready()) return;
  // 1. Z correction activation.
  ZCorrectionTick();
  // 2, 3. Poll and decode. A report in mode ESTOP ends the decode and skips the tail.
  bool run_tail = true;
  if (ctx_.link.connected()) {
    PollStatus();
    StatusPacket packet;
    if (have_new_status_ &&
        DecodeStatusPacket(status_bytes_.data(), status_bytes_.size(), &packet)) {
      run_tail = Decode(packet);
    }
    have_new_status_ = false;
  }
  // 4. Tail.
  if (run_tail) TickTail();
  // 5. Threading start and end.
  Threading();
  // 6. THC offset.
  HostMachineState& machine = *ctx_.host.machine;
  if (machine.thc_mode) {
    machine.thc_z_offset = ctx_.host.GetLed(kLedThcOffsetOff) ? 0 : state_.last_packet.thc_z_offset;
  }
  // 7. State commands.
  SendStateCommands();
  // 8. Arc OK and torch-on timing.
  UpdateArcOk();
  TimeArc();
}

void Motion::PollStatus() {
  DeviceLink& link = ctx_.link;
  // A read started between two ticks (by anyone) cannot hold segments sent before it.
  if (link.read_pending() && !read_tracked_) {
    read_start_mark_ = streamed_total_;
    read_tracked_ = true;
  }
  const bool was_pending = link.read_pending();
  have_new_status_ = link.PollStatus(status_bytes_.data(), status_bytes_.size());
  if (!was_pending && link.read_pending()) {
    read_start_mark_ = streamed_total_;
    read_tracked_ = true;
  }
  if (have_new_status_ && status_bytes_[0] == kStatusMarker) report_mark_ = read_start_mark_;
  if (!link.read_pending()) read_tracked_ = false;
}

namespace {

bool AnyProbePending(const HostMachineState& machine) {
  for (int k = 0; k < kAxisCount; ++k) {
    if (machine.motors[k].probe_pending) return true;
  }
  return false;
}

}  // namespace

bool Motion::Decode(const StatusPacket& packet) {
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  const Host& host = ctx_.host;
  const bool first_packet = !state_.first_packet_done;
  const StatusPacket previous = state_.last_packet;
  const bool had_previous = state_.have_packet;

  // 1.
  state_.missed_polls = 0;
  if (InMode(packet, Mode::ESTOP) && had_previous) {
    // Of a report in mode ESTOP only the mode, inputs, ring index and stop reason count;
    // positions, THC offset, flags and fill stay those of the last full report.
    state_.last_packet.mode = packet.mode;
    state_.last_packet.sequence = packet.sequence;
    state_.last_packet.inputs = packet.inputs;
    state_.last_packet.ring_index = packet.ring_index;
    state_.last_packet.stop_reason = packet.stop_reason;
  } else {
    state_.last_packet = packet;
  }
  state_.have_packet = true;
  // 2. Inputs.
  DecodeInputs(packet);
  // 3. Current line.
  if (packet.ring_index != kRingIndexNone && packet.ring_index < kRingSize) {
    planner.current_line = planner.ring[packet.ring_index].line_id;
  }
  // 4. E-stop reported by the controller.
  if (InMode(packet, Mode::ESTOP)) {
    switch (packet.stop_reason) {
      case 3:
        machine.stop_code = 4;
        break;
      case 4:
        machine.stop_code = 7;
        machine.second_stop_flag = 1;
        break;
      default:
        machine.stop_code = 6;
        break;
    }
    machine.estop = 1;
    return false;
  }
  if (machine.inputs[kInputLimitOverride].state) machine.limit_override_latch = 1;

  // 5. Probe end: EndProbe once the controller has settled after a hit.
  if (state_.probe_ended && InMode(packet, Mode::IDLE)) {
    if (state_.probe_settle_count == 0) {
      state_.probe_ended = false;
      ctx_.link.SendCommand(CommandCode::EndProbe);
      state_.resync_request = true;
      state_.probe_hold_release = true;
    } else {
      --state_.probe_settle_count;
    }
  }
  // 6. Sequence events, each taken once: the controller goes on reporting an event until
  // the command that ends it has arrived (PROBE2 until EndProbe, which goes out in step 5
  // of the very report that still shows PROBE2). Taking a hit twice would restart the
  // settle count, a miss twice would report it twice, a homing end twice would miscount.
  const bool missed = InSequence(packet, Sequence::PROBE1) && InMode(packet, Mode::IDLE);
  const bool hit = InSequence(packet, Sequence::PROBE2);
  const bool homed = InSequence(packet, Sequence::HOME4);
  const bool was_missed =
      had_previous && InSequence(previous, Sequence::PROBE1) && InMode(previous, Mode::IDLE);
  const bool was_hit = had_previous && InSequence(previous, Sequence::PROBE2);
  const bool was_homed = had_previous && InSequence(previous, Sequence::HOME4) &&
                         previous.homed_axis == packet.homed_axis;
  // A probe started since the previous report makes a repeated report a new event: the
  // new probe may touch at once, or the reports in between may have been lost.
  const bool probe_armed = AnyProbePending(machine);
  if (missed && (!was_missed || probe_armed)) {
    OnProbeMissed();
  } else if (hit && (!was_hit || probe_armed) && !state_.probe_ended) {
    OnProbeHit(packet);
  } else if (homed && !was_homed) {
    OnHomingFinished(packet);
  }
  // 7. Spindle speed from the index period.
  if (packet.index_period == 0) {
    planner.measured_spindle_speed = 0.0;
  } else {
    const int index_count = std::max(ctx_.settings.index_cnt, 1);
    const int pulley = std::clamp(planner.current_pulley, 0, kPulleyRatioCount - 1);
    planner.measured_spindle_speed = Finite(
        kIndexClockHz / packet.index_period * 60.0 / index_count * ctx_.settings.spin_ratio[pulley],
        0.0);
  }
  // 8. Axes whose position the host has overwritten since the last report.
  changed_axes_ = 0;
  if (!first_packet) {
    for (int k = 0; k < kAxisCount; ++k) {
      if (machine.motors[k].step_position != state_.last_written[k]) changed_axes_ |= 1u << k;
    }
  }
  // 9. Positions, Z with the THC offset while the controller's THC is active.
  for (int k = 0; k < kAxisCount; ++k) {
    machine.motors[k].step_position = packet.positions[k];
    state_.last_written[k] = packet.positions[k];
  }
  if ((packet.flags & kStatusFlagThcActive) && !host.GetLed(kLedThcOffsetOff)) {
    const int32_t z = SaturatingAdd(packet.positions[kAxisZ], packet.thc_z_offset);
    machine.motors[kAxisZ].step_position = z;
    state_.last_written[kAxisZ] = z;
  }
  // 10. Velocities over at least 0.2 s of controller time.
  const uint32_t elapsed = packet.timestamp - state_.baseline_timestamp;
  if (elapsed >= kVelocityWindowTicks) {
    const double span = static_cast<double>(elapsed) - 100.0;
    for (int k = 0; k < kAxisCount; ++k) {
      const double moved = static_cast<double>(packet.positions[k]) - state_.velocity_baseline[k];
      machine.motors[k].velocity = TruncToInt32(moved / span * kVelocityWindowTicks + 0.5);
      state_.velocity_baseline[k] = packet.positions[k];
    }
    state_.baseline_timestamp = packet.timestamp;
  }
  state_.first_packet_done = true;
  // 11. Resynchronise the mirror from the host once the controller rests.
  if ((state_.resync_request || (packet.flags & kStatusFlagResync)) && InMode(packet, Mode::IDLE) &&
      !planner.alternative_homing) {
    for (int k = 0; k < kAxisCount; ++k) {
      state_.position_mirror[k] = machine.motors[k].step_position + 0.5;
    }
    ZCorrectionResync();
    state_.resync_request = false;
    machine.positions_resynced = 1;
  }
  // 12. Hand wheel.
  const bool mpg = InSequence(packet, Sequence::MPG);
  if (mpg && planner.mpg_axis >= 0 && planner.mpg_axis < kAxisCount) {
    machine.motors[planner.mpg_axis].jog_active = 1;
  }
  // 13. Idle.
  machine.idle = state_.probe_settle_count == 0 && !machine.jog_active &&
                         InMode(packet, Mode::IDLE) && InSequence(packet, Sequence::NONE)
                     ? 1
                     : 0;
  // 14. Jogging.
  if (machine.jog_active || InMode(packet, Mode::JOG) || mpg) {
    machine.status_word |= kJoggingBit;
  } else {
    machine.status_word &= ~kJoggingBit;
    for (int k = 0; k < kAxisCount; ++k) machine.motors[k].jog_active = 0;
  }
  // 15. The host is in e-stop: bring the controller there too.
  if (machine.estop && !InMode(packet, Mode::ESTOP) && !InMode(packet, Mode::SAFE)) {
    ctx_.link.SendCommand(CommandCode::Stop, payload::Stop(StopTarget::kEstop));
  }
  // 16. Windows.
  PostStatusToWindows(packet);
  // 17. Torch signals, voltage and voltage log.
  DecodeThcSignals(packet);
  // 18, 19. Analog input and encoders onto host values.
  DecodeAnalogMapping(packet);
  DecodeEncoders(packet, first_packet);
  return true;
}

void Motion::DecodeInputs(const StatusPacket& packet) {
  HostMachineState& machine = *ctx_.host.machine;
  for (HostInputSignal& input : machine.inputs) {
    if (!input.enabled || input.emulated || input.port != kControllerPort || input.pin >= 32) {
      continue;
    }
    if (input.pin == 0) {
      input.state = 0;
      continue;
    }
    // Only pins 1-16 are reported; higher pins read as their active-low flag.
    const uint32_t level = (static_cast<uint32_t>(packet.inputs) >> (input.pin - 1)) & 1u;
    input.state = static_cast<uint8_t>(level ^ (input.active_low ? 1u : 0u));
  }
}

void Motion::PostStatusToWindows(const StatusPacket& /*packet*/) {
  // The status window and the THC options page are not built yet; once they exist they
  // receive a copy of the report (status window) and the raw analog value (THC page).
}

void Motion::DecodeThcSignals(const StatusPacket& packet) {
  HostMachineState& machine = *ctx_.host.machine;
  const PluginSettings& settings = ctx_.settings;
  const int32_t volts = TorchVolts(settings, packet.analog_raw);
  ctx_.host.SetDro(kDroTorchVolts, volts);

  HostInputSignal& up = machine.inputs[kInputThcUp];
  HostInputSignal& down = machine.inputs[kInputThcDown];
  if (!up.enabled) up.state = (packet.flags & kStatusFlagTorchUp) ? 1 : 0;
  if (!down.enabled) down.state = (packet.flags & kStatusFlagTorchDown) ? 1 : 0;
  ctx_.host.SetLed(kLedTorchSignal, (packet.flags & kStatusFlagLed1500) != 0);
  UpdateArcOk();

  if (settings.thc_type != 0 && state_.thc_voltage_log && (packet.flags & kStatusFlagThcActive)) {
    const int64_t z = static_cast<int64_t>(machine.thc_z_offset) + packet.positions[kAxisZ];
    voltage_log_.Append(packet.flags, machine.inputs[kInputThcOn].state ? 1 : 0, packet.analog_raw,
                        volts, z);
  }
}

void Motion::UpdateArcOk() {
  HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  const PluginSettings& settings = ctx_.settings;
  HostInputSignal& arc = machine.inputs[kInputThcOn];
  if (arc.enabled) return;  // driven by its pin
  bool on;
  if (!planner.arc_ok_emulation) {
    on = (state_.last_packet.flags & kStatusFlagArcOk) && settings.thc_arc_detect &&
         settings.thc_type != 0;
  } else {
    on = machine.thc_mode && machine.torch_on;
  }
  arc.state = on ? 1 : 0;
}

void Motion::DecodeAnalogMapping(const StatusPacket& packet) {
  const InputMapping& mapping = state_.mappings[0];
  if (mapping.fun == kMapNone) return;
  const double threshold = mapping.z_thresh;
  double v = packet.analog_raw - threshold;
  // Raw values at or below the zero threshold read 0 (also when the threshold is the whole
  // range, which would otherwise divide by zero).
  v = v <= 0.0 ? 0.0 : v * 65535.0 / (65535.0 - threshold);
  const int32_t rounded250 = TruncToInt32(v * 250.0 / 65535.0 + 0.5);
  const int32_t user_value =
      mapping.type == 1 ? TruncToInt32(v * 100.0 / 65535.0 + 0.5) : TruncToInt32(v);
  switch (mapping.fun) {
    case kMapFeedOverride:
      ctx_.host.SetDro(kDroFeedOverride, rounded250);
      break;
    case kMapSpindleOverride:
      ctx_.host.SetDro(kDroSpindleOverride, rounded250);
      break;
    case kMapUserVariable:
      ctx_.host.SetParam(mapping.var_id, user_value);
      break;
    case kMapUserDro:
      ctx_.host.SetDro(mapping.var_id, user_value);
      break;
    default:
      break;
  }
}

void Motion::DecodeEncoders(const StatusPacket& packet, bool first_packet) {
  const int32_t counts[2] = {packet.enc1, packet.enc2};
  if (first_packet) {
    state_.encoder_baselines = {counts[0], counts[1]};
  }
  const HostPlanner& planner = *ctx_.host.planner;
  for (int e = 0; e < 2; ++e) {
    const int host_encoder = state_.encoder_host_map[e];
    const InputMapping& mapping = state_.mappings[e + 1];
    if (host_encoder < 1 || host_encoder > kHostEncoderCount || mapping.fun == kMapNone) continue;
    const int64_t delta = static_cast<int64_t>(counts[e]) - state_.encoder_baselines[e];
    if (delta == 0) continue;
    double per_unit = planner.encoder_counts_per_unit[host_encoder - 1];
    if (!(std::fabs(per_unit) >= 0.00001)) per_unit = 1.0;  // also NaN
    // The whole delta is turned into units, so all of it is consumed: taking back only
    // trunc(u * c) could leave a count behind (1 / 49 * 49 < 1) that would then be added
    // again on every tick.
    state_.encoder_baselines[e] = counts[e];
    AddToMappingTarget(mapping, static_cast<double>(delta) / per_unit);
  }
}

void Motion::AddToMappingTarget(const InputMapping& mapping, double amount) {
  const Host& host = ctx_.host;
  auto add = [amount](double current, double low, double high) {
    return std::clamp(Finite(current, low) + amount, low, high);
  };
  const double user_high = mapping.type == 1 ? 100.0 : 65535.0;
  switch (mapping.fun) {
    case kMapFeedOverride:
      host.SetDro(kDroFeedOverride, add(host.GetDro(kDroFeedOverride), 0.0, 250.0));
      break;
    case kMapSpindleOverride:
      host.SetDro(kDroSpindleOverride, add(host.GetDro(kDroSpindleOverride), 0.0, 250.0));
      break;
    case kMapUserVariable:
      host.SetParam(mapping.var_id, add(host.Param(mapping.var_id), 0.0, user_high));
      break;
    case kMapUserDro:
      host.SetDro(mapping.var_id, add(host.GetDro(mapping.var_id), 0.0, user_high));
      break;
    case kMapThcTarget:
      host.SetDro(kDroTargetVolts, add(host.GetDro(kDroTargetVolts), 50.0, kThcMaxTargetVolts));
      break;
    default:
      break;
  }
}

void Motion::TickTail() {
  HostMachineState& machine = *ctx_.host.machine;
  // 1. Target voltage from DRO 1501.
  FollowTargetVoltage();
  // 2. Link watchdog.
  LinkWatchdog();
  // 3. Torch-start hold and streaming.
  if (!machine.estop) {
    if (state_.torch_start_hold && machine.inputs[kInputThcOn].state) {
      state_.torch_start_hold = false;
      if (state_.dwell_ticks == 0) machine.dwell_active = 0;
    }
    if (state_.probe_settle_count == 0) StreamTick();
  }
}

void Motion::FollowTargetVoltage() {
  double volts = ctx_.host.GetDro(kDroTargetVolts);
  if (!std::isfinite(volts) || volts == 0.0) return;
  if (volts > kThcMaxTargetVolts) {
    ctx_.host.SetDro(kDroTargetVolts, kThcMaxTargetVolts);
    volts = kThcMaxTargetVolts;
  }
  if (!state_.writing_dro1501 && volts != state_.thc_target_voltage) {
    state_.thc_target_voltage = volts;
  }
}

void Motion::LinkWatchdog() {
  DeviceLink& link = ctx_.link;
  if (link.connected()) {
    ++state_.missed_polls;
    // A link closed under the connected flag (a failed segment write, a failed write
    // during Reset) can never deliver a report again: it is lost now, not 20 ticks later.
    if (state_.missed_polls > kMissedPollsLimit || !link.IsOpen()) LinkLost();
  } else {
    state_.missed_polls = 0;
    // A failed command write clears the connected flag inside the transport; without this
    // the watchdog, which counts only while connected, would never stop the host. A Reset
    // clears the flag on purpose (and its message boxes and the firmware update let ticks
    // run meanwhile): that is no loss.
    if (link_seen_connected_ && state_.reset_complete) LinkLost();
  }
  link_seen_connected_ = link.connected() && state_.reset_complete;
}

void Motion::LinkLost() {
  HostMachineState& machine = *ctx_.host.machine;
  ctx_.link.Close();
  ctx_.link.set_connected(false);
  link_seen_connected_ = false;
  ctx_.ShowStatus(kConnectionClosed);
  machine.estop = 1;
  if (ctx_.settings.deref_on_disc) {
    for (int k = 0; k < kAxisCount; ++k) machine.motors[k].referenced = 0;
  }
}

void Motion::Threading() {
  HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  const double feed = planner.feed_rate;
  if (machine.threading_start_request) {
    machine.threading_start_request = 0;
    sync_marker_ = -1;
    machine.threading_active = 1;
    const int index_count = std::max(ctx_.settings.index_cnt, 1);
    const int pulley = std::clamp(planner.current_pulley, 0, kPulleyRatioCount - 1);
    const double rate = feed * kThreadRateScale / index_count * ctx_.settings.spin_ratio[pulley];
    ctx_.link.SendCommand(CommandCode::ThreadStart, payload::ThreadStart(TruncToInt32(rate)));
  }
  const bool active = machine.threading_active != 0;
  // The first segment streamed after threading has ended carries the end marker.
  if (state_.threading_was_active && !active) sync_marker_ = machine.ring_write & (kRingSize - 1);
  state_.threading_was_active = active;
}

uint16_t Motion::OutputModeFlags() const {
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

bool Motion::ManualThcActive() const {
  return ctx_.settings.manual_thc != 0 && ctx_.platform.KeyToggled(kVkNumLock);
}

uint32_t Motion::ForcedInputBits() const {
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
  if (ManualThcActive()) {
    bits &= ~kForcedHomeXToHomeB;
    bits |= kForcedManualThcBit;
    if (machine.thc_mode && !machine.estop) {
      if (ctx_.platform.KeyDown(kVkNumpad9)) {
        bits |= kForcedThcUpBit;
      } else if (ctx_.platform.KeyDown(kVkNumpad3)) {
        bits |= kForcedThcDownBit;
      }
    }
  }
  return bits;
}

void Motion::SendStateCommands() {
  if (!ctx_.link.connected()) return;
  const HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  const PluginSettings& settings = ctx_.settings;
  DeviceLink& link = ctx_.link;

  // 1. Outputs, changed axes and mode flags.
  const auto outputs = payload::SetOutputs(
      OutputBits(machine), planner.alternative_homing ? 0 : changed_axes_, OutputModeFlags());
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
  double counts_per_unit = state_.mpg_scale;
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
  ThcHostValues values;
  values.z_max_velocity = planner.axes[kAxisZ].max_velocity;
  values.z_steps_per_unit = planner.axes[kAxisZ].steps_per_unit;
  values.thc_speed_percent = planner.thc_speed_percent;
  values.z_limit1 = planner.thc_z_limit1;
  values.z_limit2 = planner.thc_z_limit2;
  values.pierce_delay_s = ctx_.host.GetDro(kDroPierceDelay);
  values.target_voltage = state_.thc_target_voltage;
  values.manual_active = ManualThcActive();
  const auto thc = payload::ThcConfig(BuildThcConfigFields(settings, values));
  constexpr size_t kThcCompared = 25;
  if ((state_.thc_resend || sent_thc_.Differs(thc, kThcCompared)) &&
      link.SendCommand(CommandCode::ThcConfig, thc)) {
    sent_thc_.Remember(thc);
    state_.thc_resend = false;
  }
}

void Motion::TimeArc() {
  const HostMachineState& machine = *ctx_.host.machine;
  const bool arc = machine.inputs[kInputThcOn].state != 0;
  if (!machine.thc_mode || machine.estop) {
    arc_was_on_ = false;
    return;
  }
  const uint32_t now = ctx_.platform.NowMs();
  if (arc && !arc_was_on_) {
    ++state_.ignition_count;
    arc_t0_ms_ = now;
  }
  if (arc_was_on_) {
    state_.cut_time_ms += static_cast<uint32_t>(now - arc_t0_ms_);
    arc_t0_ms_ = now;
  }
  arc_was_on_ = arc;
}

}  // namespace kelvro
