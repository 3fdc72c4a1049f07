#include "motion/status_decoder.h"

#include <algorithm>
#include <cmath>

#include "device/wire.h"
#include "host/host_fields.h"
#include "motion/host_io.h"

namespace kelvro {
namespace {

constexpr int32_t kJoggingBit = 0x1;
constexpr double kVelocityWindowTicks = 10000000.0;  // controller ticks (0.2 s)
constexpr double kIndexClockHz = 50000000.0;

int32_t SaturatingAdd(int32_t a, int32_t b) {
  const int64_t sum = static_cast<int64_t>(a) + b;
  return static_cast<int32_t>(std::clamp<int64_t>(sum, INT32_MIN, INT32_MAX));
}

void DecodeInputs(HostMachineState& machine, const StatusPacket& packet) {
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

}  // namespace

bool StatusDecoder::TakeReport(const StatusPacket& packet) {
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  // 1.
  if (InMode(packet, Mode::ESTOP) && have_report_) {
    // Positions, THC offset, flags and fill stay those of the last full report.
    last_.mode = packet.mode;
    last_.sequence = packet.sequence;
    last_.inputs = packet.inputs;
    last_.ring_index = packet.ring_index;
    last_.stop_reason = packet.stop_reason;
  } else {
    last_ = packet;
  }
  have_report_ = true;
  // 2. Inputs.
  DecodeInputs(machine, packet);
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
  return true;
}

void StatusDecoder::DecodeSpindleSpeed(const StatusPacket& packet) {
  HostPlanner& planner = *ctx_.host.planner;
  if (packet.index_period == 0) {
    planner.measured_spindle_speed = 0.0;
    return;
  }
  const int index_count = std::max(ctx_.settings.index_cnt, 1);
  const int pulley = std::clamp(planner.current_pulley, 0, kPulleyRatioCount - 1);
  const double rpm =
      kIndexClockHz / packet.index_period * 60.0 / index_count * ctx_.settings.spin_ratio[pulley];
  planner.measured_spindle_speed = std::isfinite(rpm) ? rpm : 0.0;
}

void StatusDecoder::DecodePositions(const StatusPacket& packet, bool first_packet,
                                    bool predates_readback) {
  HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  // 8. Axes whose position the host has overwritten since the last report.
  changed_axes_ = 0;
  if (!first_packet) {
    for (int k = 0; k < kAxisCount; ++k) {
      if (machine.motors[k].step_position != last_written_[k]) changed_axes_ |= 1u << k;
    }
  }
  // 9. Positions, Z with the THC offset while the controller's THC is active. The Z of a
  // report read before the last Z read-back is older than the Z read back: it stays.
  for (int k = 0; k < kAxisCount; ++k) {
    if (k == kAxisZ && predates_readback) continue;
    machine.motors[k].step_position = packet.positions[k];
    last_written_[k] = packet.positions[k];
  }
  if (!predates_readback && (packet.flags & kStatusFlagThcActive) &&
      !ctx_.host.GetLed(kLedThcOffsetOff)) {
    const int32_t z = SaturatingAdd(packet.positions[kAxisZ], packet.thc_z_offset);
    machine.motors[kAxisZ].step_position = z;
    last_written_[kAxisZ] = z;
  }
  // 10. Velocities over at least 0.2 s of controller time.
  const uint32_t elapsed = packet.timestamp - baseline_timestamp_;
  if (elapsed >= kVelocityWindowTicks) {
    const double span = static_cast<double>(elapsed) - 100.0;
    for (int k = 0; k < kAxisCount; ++k) {
      const double moved = static_cast<double>(packet.positions[k]) - velocity_baseline_[k];
      machine.motors[k].velocity = TruncToInt32(moved / span * kVelocityWindowTicks + 0.5);
      velocity_baseline_[k] = packet.positions[k];
    }
    baseline_timestamp_ = packet.timestamp;
  }
  first_report_done_ = true;
  // 11. Resynchronise the mirror from the host once the controller rests.
  if ((resync_request_ || (packet.flags & kStatusFlagResync)) && InMode(packet, Mode::IDLE) &&
      !planner.alternative_homing) {
    for (int k = 0; k < kAxisCount; ++k) mirror_[k] = machine.motors[k].step_position + 0.5;
    zcorr_.Resync();
    resync_request_ = false;
    ++mirror_reloads_;
    machine.positions_resynced = 1;
  }
}

void StatusDecoder::DecodeMachineFlags(const StatusPacket& packet, bool probe_settling) {
  HostMachineState& machine = *ctx_.host.machine;
  const HostPlanner& planner = *ctx_.host.planner;
  // 12. Hand wheel.
  const bool mpg = InSequence(packet, Sequence::MPG);
  if (mpg && planner.mpg_axis >= 0 && planner.mpg_axis < kAxisCount) {
    machine.motors[planner.mpg_axis].jog_active = 1;
  }
  // 13. Idle.
  machine.idle = !probe_settling && !machine.jog_active && InMode(packet, Mode::IDLE) &&
                         InSequence(packet, Sequence::NONE)
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
}

void StatusDecoder::ApplyZReadback(int32_t z_steps) {
  HostMachineState& machine = *ctx_.host.machine;
  machine.motors[kAxisZ].step_position = z_steps;
  last_written_[kAxisZ] = z_steps;
  machine.thc_z_offset = 0;
  mirror_[kAxisZ] = static_cast<double>(z_steps) + 0.5;
  ++mirror_reloads_;
  machine.positions_resynced = 1;
}

void StatusDecoder::AfterReset() {
  resync_request_ = true;
  first_report_done_ = false;
}

}  // namespace kelvro
