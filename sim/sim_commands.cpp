#include <cstdio>
#include <string>

#include "device/wire.h"
#include "sim/sim_controller.h"
#include "sim/sim_steps.h"

// The command pipe: frame checks, the table of commands the controller knows (code, name,
// payload size, handler) and the handlers themselves. Flash commands are handled in
// sim_flash.cpp.

namespace kelvro::sim {

// How long a command's payload must be.
enum class PayloadRule {
  kExactly,    // `size` bytes
  kNoneOrOne,  // empty or one byte
  kFlashBlock  // the 8-byte header and as many data bytes as its length word says
};

struct SimController::CommandEntry {
  uint8_t code;
  const char* name;
  PayloadRule rule;
  size_t size;
  void (SimController::*handle)(const Payload& payload);

  bool Fits(const Payload& payload) const {
    const size_t n = payload.size();
    switch (rule) {
      case PayloadRule::kExactly:
        return n == size;
      case PayloadRule::kNoneOrOne:
        return n <= 1;
      case PayloadRule::kFlashBlock:
        return n >= kSimFlashHeaderLength && GetU32(payload.data(), 0) == n - kSimFlashHeaderLength;
    }
    return false;
  }
};

namespace {

constexpr PayloadRule kExactly = PayloadRule::kExactly;

}  // namespace

const SimController::CommandEntry* SimController::FindCommand(uint8_t code) {
  static constexpr CommandEntry kCommands[] = {
      {sim_code::kJogStart, "JogStart", kExactly, 6, &SimController::OnJogStart},
      {sim_code::kJogStop, "JogStop", kExactly, 1, &SimController::OnJogStop},
      {sim_code::kProbeStart, "ProbeStart", kExactly, 48, &SimController::OnProbeStart},
      {sim_code::kHomeAxis, "HomeAxis", kExactly, 2, &SimController::OnHomeAxis},
      {sim_code::kSetOutputs, "SetOutputs", kExactly, 8, &SimController::OnSetOutputs},
      {sim_code::kSpindle, "Spindle", kExactly, 10, &SimController::OnSpindle},
      {sim_code::kLoadMotionConfig, "LoadMotionConfig", kExactly, kSimMotionConfigLength,
       &SimController::OnLoadMotionConfig},
      {sim_code::kLoadIoConfig, "LoadIoConfig", kExactly, kSimIoConfigLength,
       &SimController::OnLoadIoConfig},
      {sim_code::kReleaseHold, "ReleaseHold", kExactly, 4, &SimController::OnReleaseHold},
      {sim_code::kEndProbe, "EndProbe", kExactly, 0, &SimController::OnEndProbe},
      {sim_code::kStop, "Stop", PayloadRule::kNoneOrOne, 0, &SimController::OnStop},
      {sim_code::kSetForcedInputs, "SetForcedInputs", kExactly, 4,
       &SimController::OnSetForcedInputs},
      {sim_code::kThreadStart, "ThreadStart", kExactly, 5, &SimController::OnThreadStart},
      {sim_code::kMpgConfig, "MpgConfig", kExactly, 11, &SimController::OnMpgConfig},
      {sim_code::kHomeVerifyAxis, "HomeVerifyAxis", kExactly, 2, &SimController::OnHomeVerifyAxis},
      {sim_code::kThcConfig, "ThcConfig", kExactly, 47, &SimController::OnThcConfig},
      {sim_code::kLatchZ, "LatchZ", kExactly, 0, &SimController::OnLatchZ},
      {sim_code::kFlashErase, "FlashErase", kExactly, 0, &SimController::OnFlashErase},
      {sim_code::kFlashWrite, "FlashWrite", PayloadRule::kFlashBlock, 0,
       &SimController::OnFlashWrite},
  };
  for (const CommandEntry& entry : kCommands) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

const char* SimController::CommandName(uint8_t code) {
  const CommandEntry* entry = FindCommand(code);
  return entry ? entry->name : nullptr;
}

const char* SimCommandName(uint8_t code) {
  return SimController::CommandName(code);
}

// ---------------------------------------------------------------- frames

void SimController::ReceiveCommandWrite(const uint8_t* data, size_t length) {
  const std::vector<uint8_t> bytes(data, data + length);
  auto reject = [&](const std::string& why) {
    const char* name = length > 0 ? SimCommandName(data[0]) : nullptr;
    Record(TraceKind::kRejected, 0x01, length > 0 ? data[0] : -1, name ? name : "frame", bytes,
           why);
  };
  if (length < 4) {
    reject("frame of " + std::to_string(length) + " bytes is shorter than its header");
    return;
  }
  const uint8_t code = data[0];
  if (data[1] != static_cast<uint8_t>(~code)) {
    char why[64];
    std::snprintf(why, sizeof why, "inverted code 0x%02X does not match code 0x%02X", data[1],
                  code);
    reject(why);
    return;
  }
  const uint16_t declared = GetU16(data, 2);
  if (size_t{declared} + 4 != length) {
    reject("length field " + std::to_string(declared) + " does not match a write of " +
           std::to_string(length) + " bytes");
    return;
  }
  const CommandEntry* entry = FindCommand(code);
  if (entry == nullptr) {
    reject("unknown command code");
    return;
  }
  std::vector<uint8_t> payload(data + 4, data + length);
  if (!entry->Fits(payload)) {
    reject("payload of " + std::to_string(payload.size()) + " bytes does not fit " + entry->name);
    return;
  }
  Record(TraceKind::kCommand, 0x01, code, entry->name, payload);
  last_payloads_[code] = payload;
  (this->*entry->handle)(payload);
}

bool SimController::Stopped() const {
  return mode_ == SimMode::kEstop || mode_ == SimMode::kSafe || mode_ == SimMode::kRundown ||
         flash_mode_;
}

// ---------------------------------------------------------------- motion commands

void SimController::OnJogStart(const Payload& payload) {
  const SimJogStart j = ParseJogStart(payload.data());
  last_jog_start_ = j;
  const char* why = nullptr;
  if (j.axis >= kSimAxes)
    why = "no such axis";
  else if (j.direction == 0)
    why = "direction 0";
  else if (mode_ != SimMode::kIdle && mode_ != SimMode::kJog)
    why = "mode does not allow jogging";
  else if (!homing_.empty())
    why = "homing";
  else if (probe_ != ProbeState::kNone)
    why = "probing";
  else if (queue_count_ > 0)
    why = "segments queued";
  if (why) {
    Note(sim_code::kJogStart, std::string("ignored: ") + why);
    return;
  }
  Jog& jog = jogs_[j.axis];
  jog.active = true;
  jog.velocity = (j.direction > 0 ? 1 : -1) * static_cast<int64_t>(j.speed);
  Settle();
}

void SimController::OnJogStop(const Payload& payload) {
  const uint8_t axis = GetU8(payload.data(), 0);
  if (axis >= kSimAxes || !jogs_[axis].active) {
    Note(sim_code::kJogStop, "ignored: axis is not jogging");
    return;
  }
  jogs_[axis] = {};
  SnapToStepCentre(axis);
  resync_pending_ = true;
  Settle();
}

void SimController::OnProbeStart(const Payload& payload) {
  last_probe_start_ = ParseProbeStart(payload.data());
  if (Stopped()) {
    Note(sim_code::kProbeStart, "ignored: controller stopped");
    return;
  }
  // PROBE1 is reported only once the probe move executes, so that a report taken
  // between arming and the first segment does not read as a finished probe.
  probe_ = executing_ ? ProbeState::kMoving : ProbeState::kArmed;
}

void SimController::OnHomeAxis(const Payload& payload) {
  StartHoming(sim_code::kHomeAxis, payload, false);
}

void SimController::OnHomeVerifyAxis(const Payload& payload) {
  StartHoming(sim_code::kHomeVerifyAxis, payload, true);
}

void SimController::StartHoming(uint8_t code, const Payload& payload, bool verify) {
  const int16_t axis = GetI16(payload.data(), 0);
  const char* why = nullptr;
  if (axis < 0 || axis >= kSimAxes)
    why = "no such axis";
  else if (Stopped())
    why = "controller stopped";
  else if (mode_ != SimMode::kIdle)
    why = "machine not idle";
  else if (probe_ != ProbeState::kNone)
    why = "probing";
  if (why) {
    Note(code, std::string("ignored: ") + why);
    return;
  }
  if (homing_.empty()) {
    home_phase_ = 0;
    home_elapsed_ = 0;
    home4_delivered_ = false;
  }
  homing_.push_back({axis, verify});
  Settle();
}

void SimController::OnReleaseHold(const Payload& /*payload*/) {
  if (mode_ != SimMode::kHold || !homing_.empty()) {
    Note(sim_code::kReleaseHold, "ignored: not holding");
    return;
  }
  StartExecution();
  Settle();
}

void SimController::OnEndProbe(const Payload& /*payload*/) {
  probe_ = ProbeState::kNone;
}

void SimController::OnStop(const Payload& payload) {
  if (payload.empty()) {
    const bool was_running = mode_ == SimMode::kSegm;
    StopEverything();
    if (mode_ == SimMode::kEstop || mode_ == SimMode::kSafe) return;
    if (was_running && options_.rundown_ms > 0) {
      mode_ = SimMode::kRundown;
      rundown_left_ = options_.rundown_ms;
    } else {
      mode_ = SimMode::kIdle;
      Settle();
    }
    return;
  }
  const uint8_t kind = GetU8(payload.data(), 0);
  if (kind == 1) {
    StopEverything();
    mode_ = SimMode::kEstop;
    stop_reason_ = options_.estop_reason;
    return;
  }
  if (kind == 3) {
    StopEverything();
    mode_ = SimMode::kSafe;
    return;
  }
  Note(sim_code::kStop, "ignored: unknown stop kind " + std::to_string(kind));
}

void SimController::OnThreadStart(const Payload& payload) {
  last_thread_start_ = ParseThreadStart(payload.data());
  threading_ = true;
}

void SimController::OnMpgConfig(const Payload& payload) {
  const SimMpgConfig m = ParseMpgConfig(payload.data());
  const bool was_enabled = last_mpg_ && last_mpg_->enable != 0;
  const bool axis_changed = last_mpg_ && last_mpg_->axis != m.axis;
  last_mpg_ = m;
  if (m.enable != 0 && (!was_enabled || axis_changed)) {
    const int encoder = motion_config_ && motion_config_->mpg_encoder == 1 ? 1 : 0;
    mpg_last_count_ = encoders_[encoder];
    if (m.axis < kSimAxes) mpg_target_micro_ = pos_micro_[m.axis];
  }
}

void SimController::OnLatchZ(const Payload& /*payload*/) {
  latched_z_ = SaturateI32(position(2) + thc_offset());
  // Fold the THC offset into Z so that Z alone is where the torch is, unless the
  // stream is running from the unfolded Z.
  if (mode_ != SimMode::kSegm) {
    pos_micro_[2] += FloorDiv(thc_offset_micro_, kMicro) * kMicro;
    thc_offset_micro_ = FloorMod(thc_offset_micro_, kMicro);
  }
}

// ---------------------------------------------------------------- configuration and state

void SimController::OnSetOutputs(const Payload& payload) {
  last_outputs_ = ParseOutputs(payload.data());
}

void SimController::OnSpindle(const Payload& payload) {
  last_spindle_ = ParseSpindle(payload.data());
}

void SimController::OnLoadMotionConfig(const Payload& payload) {
  motion_config_ = ParseMotionConfig(payload);
  // Configuring is the controller's reset: everything stops, ESTOP and SAFE end.
  StopEverything();
  if (mode_ == SimMode::kEstop || mode_ == SimMode::kSafe || mode_ == SimMode::kRundown) {
    mode_ = SimMode::kIdle;
  }
  Settle();
}

void SimController::OnLoadIoConfig(const Payload& payload) {
  io_config_ = SimIoConfig{payload};
}

void SimController::OnSetForcedInputs(const Payload& payload) {
  last_forced_inputs_ = GetU32(payload.data(), 0);
}

void SimController::OnThcConfig(const Payload& payload) {
  last_thc_ = ParseThcConfig(payload.data());
}

}  // namespace kelvro::sim
