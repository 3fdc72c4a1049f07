#include "sim/sim_controller.h"

#include <algorithm>

#include "device/wire.h"
#include "sim/sim_steps.h"

// The controller's state, its clock, its status report and what tests read and drive.
// The command table is in sim_commands.cpp, motion in sim_motion.cpp, flash programming in
// sim_flash.cpp and the USB side (claiming, reads, control requests, faults) in
// sim_usb_side.cpp.

namespace kelvro::sim {

namespace {
constexpr uint16_t kNoTag = 0xFFFF;
}  // namespace

SimController::SimController(SimControllerOptions options) : options_(std::move(options)) {
  firmware_version_ = options_.firmware_version;
  flash_never_returns_ = options_.flash_faults.never_returns;
  PowerOn();
}

void SimController::PowerOn() {
  boot_ms_ = now_ms_;
  mode_ = SimMode::kIdle;
  pos_micro_.fill(kStepCentre);
  queue_head_ = 0;
  queue_count_ = 0;
  executing_ = false;
  executing_tag_ = kNoTag;
  rundown_left_ = 0;
  stop_reason_ = 0;
  jogs_ = {};
  resync_pending_ = false;
  homing_.clear();
  home_phase_ = 0;
  home_elapsed_ = 0;
  home4_delivered_ = false;
  homed_axis_ = 0;
  probe_ = ProbeState::kNone;
  mpg_active_ = false;
  mpg_last_count_ = 0;
  mpg_target_micro_ = 0;
  mpg_moving_ = false;
  torch_on_ms_ = 0;
  arc_ok_ = false;
  arc_burning_ = false;
  loop_ = {};
  thc_active_ = false;
  torch_up_ = false;
  torch_down_ = false;
  arc_voltage_ = 0.0;
  thc_offset_micro_ = 0;
  thc_remainder_ = 0;
  latched_z_ = 0;
  sync_outputs_ = 0;
  threading_ = false;
  motion_config_.reset();
  io_config_.reset();
  last_jog_start_.reset();
  last_outputs_.reset();
  last_forced_inputs_.reset();
  last_spindle_.reset();
  last_mpg_.reset();
  last_thc_.reset();
  last_thread_start_.reset();
  last_probe_start_.reset();
  for (auto& p : last_payloads_) p.reset();
  flash_mode_ = false;
  replies_.clear();
  flash_leave_at_.reset();
  flash_return_at_.reset();
}

// ---------------------------------------------------------------- time

void SimController::AdvanceTo(uint64_t now_ms) {
  while (now_ms_ < now_ms) {
    if (Quiet()) {
      // Nothing changes while nothing runs: skip to the end.
      now_ms_ = now_ms;
      return;
    }
    ++now_ms_;
    Tick();
  }
}

bool SimController::Quiet() const {
  // True when a millisecond would change nothing: no motion, no timers, no torch state left
  // to settle.
  return !executing_ && mode_ != SimMode::kRundown &&
         std::none_of(jogs_.begin(), jogs_.end(), [](const Jog& j) { return j.active; }) &&
         homing_.empty() && !MpgBusy() && !(last_spindle_ && last_spindle_->on != 0) &&
         torch_on_ms_ == 0 && !arc_ok_ && !thc_active_ && !torch_up_ && !torch_down_ &&
         !flash_leave_at_ && !flash_return_at_;
}

// ---------------------------------------------------------------- trace

void SimController::Record(TraceKind kind, uint8_t pipe, int code, std::string name,
                           std::vector<uint8_t> payload, std::string detail) {
  TraceEntry e;
  e.t_ms = now_ms_;
  e.kind = kind;
  e.pipe = pipe;
  e.code = code;
  e.name = std::move(name);
  e.payload = std::move(payload);
  e.detail = std::move(detail);
  trace_.Add(std::move(e));
}

void SimController::Note(uint8_t code, const std::string& detail) {
  const char* name = SimCommandName(code);
  Record(TraceKind::kNote, 0x01, code, name ? name : "?", {}, detail);
}

// ---------------------------------------------------------------- status

SimSequence SimController::sequence() const {
  if (!homing_.empty()) return static_cast<SimSequence>(1 + home_phase_);
  if (probe_ == ProbeState::kMoving || probe_ == ProbeState::kMissed) return SimSequence::kProbe1;
  if (probe_ == ProbeState::kHit) return SimSequence::kProbe2;
  if (last_mpg_ && last_mpg_->enable != 0 && last_mpg_->axis < kSimAxes &&
      mode_ == SimMode::kIdle) {
    return SimSequence::kMpg;
  }
  return SimSequence::kNone;
}

std::array<uint8_t, kSimStatusLength> SimController::StatusBytes() const {
  std::array<uint8_t, kSimStatusLength> s{};
  s[0] = kSimStatusMarker;
  s[1] = static_cast<uint8_t>(mode_);
  s[2] = static_cast<uint8_t>(sequence());
  uint8_t flags = extra_flags_;
  if (resync_pending_ && mode_ == SimMode::kIdle && queue_count_ == 0 && !mpg_moving_) {
    flags |= 0x01;
  }
  if (thc_active_) flags |= 0x02;
  if (arc_ok_) flags |= 0x08;
  if (torch_up_) flags |= 0x10;
  if (torch_down_) flags |= 0x20;
  s[3] = flags;
  PutU16(s.data(), 4, input_pins_);
  PutU16(s.data(), 6, line_word_);
  for (int k = 0; k < kSimAxes; ++k) {
    PutU32(s.data(), 8 + 4 * k, static_cast<uint32_t>(SaturateI32(position(k))));
  }
  PutU32(s.data(), 32, static_cast<uint32_t>(thc_offset()));
  PutU32(s.data(), 36, index_period_);
  PutU16(s.data(), 40, static_cast<uint16_t>(queue_count_));
  PutU32(s.data(), 42, static_cast<uint32_t>((now_ms_ - boot_ms_) * kSimTicksPerMs));
  PutU32(s.data(), 46, static_cast<uint32_t>(encoders_[0]));
  PutU32(s.data(), 50, static_cast<uint32_t>(encoders_[1]));
  s[54] = stop_reason_;
  s[55] = homed_axis_;
  PutU16(s.data(), 56, executing_tag_);
  const bool torch_on = last_spindle_ && last_spindle_->on != 0;
  PutU16(s.data(), 58, torch_on ? ArcAnalogRaw() : analog_raw_);
  return s;
}

// ---------------------------------------------------------------- accessors and inputs

int64_t SimController::position(int axis) const {
  if (axis < 0 || axis >= kSimAxes) return 0;
  return FloorDiv(pos_micro_[axis], kMicro);
}

int64_t SimController::position_micro(int axis) const {
  return axis < 0 || axis >= kSimAxes ? 0 : pos_micro_[axis];
}

uint32_t SimController::fraction_micro(int axis) const {
  if (axis < 0 || axis >= kSimAxes) return 0;
  return static_cast<uint32_t>(FloorMod(pos_micro_[axis], kMicro));
}

bool SimController::jogging(int axis) const {
  return axis >= 0 && axis < kSimAxes && jogs_[axis].active;
}

int32_t SimController::thc_offset() const {
  return SaturateI32(FloorDiv(thc_offset_micro_, kMicro));
}

std::optional<std::vector<uint8_t>> SimController::LastPayload(uint8_t code) const {
  return last_payloads_[code];
}

void SimController::SetEncoderCount(int encoder, int32_t count) {
  if (encoder == 1 || encoder == 2) encoders_[encoder - 1] = count;
}

void SimController::AddEncoderCount(int encoder, int32_t delta) {
  if (encoder == 1 || encoder == 2) {
    // Encoder counters wrap like the controller's 32-bit registers.
    const uint32_t next =
        static_cast<uint32_t>(encoders_[encoder - 1]) + static_cast<uint32_t>(delta);
    encoders_[encoder - 1] = static_cast<int32_t>(next);
  }
}

void SimController::SetProbePredicate(
    std::function<bool(const std::array<int64_t, kSimAxes>&)> touching) {
  probe_touching_ = std::move(touching);
}

void SimController::SetArcVoltageModel(
    std::function<double(const std::array<int64_t, kSimAxes>&)> model) {
  arc_model_ = std::move(model);
}

void SimController::TriggerEstop(uint8_t reason) {
  StopEverything();
  mode_ = SimMode::kEstop;
  stop_reason_ = reason;
  Record(TraceKind::kNote, 0x00, -1, "Estop", {}, "reason " + std::to_string(reason));
}

}  // namespace kelvro::sim
