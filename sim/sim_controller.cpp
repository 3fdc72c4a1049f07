#include "sim/sim_controller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kelvro::sim {

namespace {

constexpr int64_t kMicro = 1000000;          // millionths of a step per step
constexpr int64_t kStepCentre = kMicro / 2;  // an axis at rest sits mid-step
constexpr uint32_t kPhasePerMicro = 250;     // start phase unit: 1/250,000,000 step
constexpr uint32_t kPhaseRange = 250000000;
constexpr size_t kMaxSyncEvents = 100000;
constexpr uint16_t kNoTag = 0xFFFF;

uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int32_t GetI32(const uint8_t* p) {
  return static_cast<int32_t>(GetU32(p));
}

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

int64_t FloorMod(int64_t a, int64_t b) {
  return a - FloorDiv(a, b) * b;
}

int32_t SaturateI32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// Payload sizes each command must have. FlashWrite is checked against its own length word.
bool PayloadFits(uint8_t code, const std::vector<uint8_t>& payload) {
  const size_t n = payload.size();
  switch (code) {
    case sim_code::kJogStart:
      return n == 6;
    case sim_code::kJogStop:
      return n == 1;
    case sim_code::kProbeStart:
      return n == 48;
    case sim_code::kHomeAxis:
    case sim_code::kHomeVerifyAxis:
      return n == 2;
    case sim_code::kSetOutputs:
      return n == 8;
    case sim_code::kSpindle:
      return n == 10;
    case sim_code::kLoadMotionConfig:
      return n == kSimMotionConfigLength;
    case sim_code::kLoadIoConfig:
      return n == kSimIoConfigLength;
    case sim_code::kReleaseHold:
    case sim_code::kSetForcedInputs:
      return n == 4;
    case sim_code::kEndProbe:
    case sim_code::kLatchZ:
    case sim_code::kFlashErase:
      return n == 0;
    case sim_code::kStop:
      return n == 0 || n == 1;
    case sim_code::kThreadStart:
      return n == 5;
    case sim_code::kMpgConfig:
      return n == 11;
    case sim_code::kThcConfig:
      return n == 47;
    case sim_code::kFlashWrite:
      return n >= 8 && GetU32(payload.data()) == n - 8;
    default:
      return false;
  }
}

SimSegment ParseSegment(const uint8_t* p) {
  SimSegment s;
  for (int k = 0; k < kSimAxes; ++k) {
    s.phase[k] = GetU32(p + 8 * k);
    s.distance[k] = GetI32(p + 4 + 8 * k);
  }
  s.ring_tag = GetU16(p + 48);
  s.flags = p[50];
  s.laser = p[51];
  return s;
}

}  // namespace

const char* SimCommandName(uint8_t code) {
  switch (code) {
    case sim_code::kJogStart:
      return "JogStart";
    case sim_code::kJogStop:
      return "JogStop";
    case sim_code::kProbeStart:
      return "ProbeStart";
    case sim_code::kHomeAxis:
      return "HomeAxis";
    case sim_code::kSetOutputs:
      return "SetOutputs";
    case sim_code::kSpindle:
      return "Spindle";
    case sim_code::kLoadMotionConfig:
      return "LoadMotionConfig";
    case sim_code::kLoadIoConfig:
      return "LoadIoConfig";
    case sim_code::kReleaseHold:
      return "ReleaseHold";
    case sim_code::kEndProbe:
      return "EndProbe";
    case sim_code::kStop:
      return "Stop";
    case sim_code::kSetForcedInputs:
      return "SetForcedInputs";
    case sim_code::kThreadStart:
      return "ThreadStart";
    case sim_code::kMpgConfig:
      return "MpgConfig";
    case sim_code::kHomeVerifyAxis:
      return "HomeVerifyAxis";
    case sim_code::kThcConfig:
      return "ThcConfig";
    case sim_code::kLatchZ:
      return "LatchZ";
    case sim_code::kFlashErase:
      return "FlashErase";
    case sim_code::kFlashWrite:
      return "FlashWrite";
    default:
      return nullptr;
  }
}

uint8_t SimIoConfig::FunctionPin(int function) const {
  if (function < 0 || function >= 25 || raw.size() < kSimIoConfigLength) return 0;
  return raw[static_cast<size_t>(function)];
}

uint32_t SimIoConfig::InputActiveLowMask() const {
  return raw.size() < kSimIoConfigLength ? 0 : GetU32(raw.data() + 72);
}

SimController::SimController(SimControllerOptions options) : options_(std::move(options)) {
  firmware_version_ = options_.firmware_version;
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

bool SimController::MpgBusy() const {
  if (!last_mpg_ || last_mpg_->enable == 0) return false;
  const int encoder = motion_config_ && motion_config_->mpg_encoder == 1 ? 1 : 0;
  return mpg_moving_ || encoders_[encoder] != mpg_last_count_ ||
         (mpg_active_ && last_mpg_->axis < kSimAxes &&
          pos_micro_[last_mpg_->axis] != mpg_target_micro_);
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

void SimController::Tick() {
  if (flash_leave_at_ && now_ms_ >= *flash_leave_at_) {
    flash_leave_at_.reset();
    present_ = false;
    ++generation_;
    replies_.clear();
    Record(TraceKind::kNote, 0x00, -1, "BusLeft", {}, "restarting with the new firmware");
    if (!flash_never_returns_) flash_return_at_ = now_ms_ + options_.flash_restart_ms;
  }
  if (flash_return_at_ && now_ms_ >= *flash_return_at_) {
    flash_return_at_.reset();
    present_ = true;
    PowerOn();
    firmware_version_ = options_.flashed_version;
    Record(TraceKind::kNote, 0x00, -1, "BusReturned", {}, "firmware " + firmware_version_);
  }
  if (mode_ == SimMode::kRundown) {
    if (rundown_left_ > 0) --rundown_left_;
    if (rundown_left_ == 0) {
      mode_ = SimMode::kIdle;
      Settle();
    }
  }
  if (executing_ && mode_ == SimMode::kSegm) ExecuteSegment();
  StepJogs();
  StepHoming();
  StepMpg();
  StepThc();
}

// ---------------------------------------------------------------- modes and queue

void SimController::Settle() {
  if (mode_ == SimMode::kEstop || mode_ == SimMode::kSafe || mode_ == SimMode::kRundown) return;
  if (std::any_of(jogs_.begin(), jogs_.end(), [](const Jog& j) { return j.active; })) {
    mode_ = SimMode::kJog;
    return;
  }
  if (executing_) {
    mode_ = SimMode::kSegm;
    return;
  }
  if (queue_count_ > 0) {
    if (homing_.empty() && queue_count_ >= options_.start_threshold) {
      StartExecution();
      mode_ = SimMode::kSegm;
    } else {
      mode_ = SimMode::kHold;
    }
    return;
  }
  mode_ = SimMode::kIdle;
}

void SimController::StartExecution() {
  executing_ = true;
  if (probe_ == ProbeState::kArmed || probe_ == ProbeState::kMissed) probe_ = ProbeState::kMoving;
}

void SimController::FlushQueue() {
  segments_dropped_ += queue_count_;
  queue_head_ = 0;
  queue_count_ = 0;
  executing_ = false;
  executing_tag_ = kNoTag;
}

void SimController::SnapToStepCentre(int axis) {
  pos_micro_[axis] = FloorDiv(pos_micro_[axis], kMicro) * kMicro + kStepCentre;
}

void SimController::StopEverything() {
  FlushQueue();
  for (int k = 0; k < kSimAxes; ++k) {
    if (jogs_[k].active) {
      jogs_[k] = {};
      SnapToStepCentre(k);
      resync_pending_ = true;
    }
  }
  homing_.clear();
  home_phase_ = 0;
  home_elapsed_ = 0;
  home4_delivered_ = false;
  probe_ = ProbeState::kNone;
}

void SimController::ExecuteSegment() {
  if (queue_count_ == 0) {
    executing_ = false;
    Settle();
    return;
  }
  const SimSegment segment = queue_[queue_head_];
  queue_head_ = (queue_head_ + 1) % kSimQueueCapacity;
  --queue_count_;
  ApplySegment(segment);
  ++segments_executed_;
  executing_tag_ = segment.ring_tag;

  if (probe_ == ProbeState::kMoving && ProbeTouching()) {
    FlushQueue();
    probe_ = ProbeState::kHit;
    for (int k = 0; k < kSimAxes; ++k) SnapToStepCentre(k);
    const auto p = WholePositions();
    char detail[160];
    std::snprintf(detail, sizeof detail, "contact at %lld %lld %lld %lld %lld %lld",
                  static_cast<long long>(p[0]), static_cast<long long>(p[1]),
                  static_cast<long long>(p[2]), static_cast<long long>(p[3]),
                  static_cast<long long>(p[4]), static_cast<long long>(p[5]));
    Record(TraceKind::kNote, 0x02, -1, "ProbeContact", {}, detail);
    Settle();
    return;
  }
  if (queue_count_ == 0) {
    executing_ = false;
    executing_tag_ = kNoTag;
    if (probe_ == ProbeState::kMoving) probe_ = ProbeState::kMissed;
    Settle();
  }
}

void SimController::ApplySegment(const SimSegment& segment) {
  std::string mismatch;
  for (int k = 0; k < kSimAxes; ++k) {
    const int64_t own_fraction = FloorMod(pos_micro_[k], kMicro);
    const bool valid_phase =
        segment.phase[k] < kPhaseRange && segment.phase[k] % kPhasePerMicro == 0;
    const int64_t segment_fraction = segment.phase[k] / kPhasePerMicro;
    int64_t gap = std::abs(segment_fraction - own_fraction);
    gap = std::min(gap, kMicro - gap);  // the fraction is circular
    if (!valid_phase || gap > options_.phase_tolerance_micro) {
      char text[128];
      std::snprintf(text, sizeof text, "%saxis %d: start phase %u, controller at %lld millionths",
                    mismatch.empty() ? "" : "; ", k, segment.phase[k],
                    static_cast<long long>(own_fraction));
      mismatch += text;
    }
    if (!valid_phase) {
      pos_micro_[k] += segment.distance[k];
      continue;
    }
    // The segment's start phase is taken as the axis's fraction, on the whole step nearest
    // to where the axis stands: the sender's idea of the position is then exactly where the
    // axis ends, and a rounding difference at a step boundary does not cost a step.
    const int64_t base = FloorDiv(pos_micro_[k] - segment_fraction + kStepCentre, kMicro);
    pos_micro_[k] = base * kMicro + segment_fraction + segment.distance[k];
  }
  if (!mismatch.empty()) {
    ++phase_mismatches_;
    Record(TraceKind::kPhaseMismatch, 0x02, -1, "PhaseMismatch", {}, mismatch);
  }

  const uint8_t f = segment.flags;
  if (f == 0) return;
  last_laser_ = segment.laser;
  ++laser_segments_;
  if (f >= 0x10 && f <= 0x30) {
    if (f < 0x20) {
      sync_outputs_ = static_cast<uint16_t>(sync_outputs_ | (1u << (f & 0x0F)));
    } else if (f < 0x30) {
      sync_outputs_ = static_cast<uint16_t>(sync_outputs_ & ~(1u << (f & 0x0F)));
    } else {
      threading_ = false;
    }
    if (sync_events_.size() < kMaxSyncEvents) {
      sync_events_.push_back({now_ms_, segment.ring_tag, f, segment.laser});
    }
  } else if (f != 0x80) {
    char text[48];
    std::snprintf(text, sizeof text, "unknown segment flag 0x%02X", f);
    Record(TraceKind::kNote, 0x02, -1, "SegmentFlag", {}, text);
  }
}

// ---------------------------------------------------------------- self-made motion

void SimController::StepJogs() {
  for (int k = 0; k < kSimAxes; ++k) {
    Jog& jog = jogs_[k];
    if (!jog.active) continue;
    // velocity form = steps/s x 4096, so one millisecond moves velocity x 1000 / 4096
    // millionths of a step; the remainder carries the part below one millionth.
    jog.remainder += jog.velocity * 1000;
    const int64_t delta = FloorDiv(jog.remainder, 4096);
    jog.remainder -= delta * 4096;
    int64_t next = pos_micro_[k] + delta;
    const bool limits = motion_config_ && (motion_config_->axes[k].flags & 0x04) != 0 &&
                        last_outputs_ && (last_outputs_->mode_flags & 0x01) != 0;
    if (limits) {
      const SimAxisConfig& a = motion_config_->axes[k];
      const int64_t whole = FloorDiv(next, kMicro);
      if (whole > a.soft_max && delta > 0) {
        next = std::max<int64_t>(pos_micro_[k], int64_t{a.soft_max} * kMicro + kStepCentre);
      } else if (whole < a.soft_min && delta < 0) {
        next = std::min<int64_t>(pos_micro_[k], int64_t{a.soft_min} * kMicro + kStepCentre);
      }
    }
    pos_micro_[k] = next;
  }
}

void SimController::StepHoming() {
  if (homing_.empty()) return;
  if (home_phase_ < 4) {
    ++home_elapsed_;
    if (home_elapsed_ < std::max<uint32_t>(1, options_.home_phase_ms)) return;
    home_elapsed_ = 0;
    ++home_phase_;
    if (home_phase_ == 4) {
      const HomeRequest& r = homing_.front();
      if (r.verify) {
        // Verify homing reports where the switch was found without taking it as the
        // new origin.
        SnapToStepCentre(r.axis);
      } else {
        const int64_t home = motion_config_ ? motion_config_->axes[r.axis].home_position : 0;
        pos_micro_[r.axis] = home * kMicro + kStepCentre;
      }
      homed_axis_ = static_cast<uint8_t>(r.axis);
      home4_delivered_ = false;
    }
    return;
  }
  // HOME4 stays until a status report carrying it has gone out.
  if (home4_delivered_) {
    homing_.pop_front();
    home_phase_ = 0;
    home_elapsed_ = 0;
    home4_delivered_ = false;
    Settle();
  }
}

void SimController::StepMpg() {
  const bool enabled = last_mpg_ && last_mpg_->enable != 0 && last_mpg_->axis < kSimAxes;
  if (!enabled) {
    mpg_active_ = false;
    mpg_moving_ = false;
    return;
  }
  const int axis = last_mpg_->axis;
  const int encoder = motion_config_ && motion_config_->mpg_encoder == 1 ? 1 : 0;
  const int32_t count = encoders_[encoder];
  int64_t delta = static_cast<int64_t>(count) - mpg_last_count_;
  mpg_last_count_ = count;
  mpg_active_ = mode_ == SimMode::kIdle && homing_.empty() && probe_ == ProbeState::kNone;
  if (!mpg_active_) {
    // Counts turned while the hand wheel is not in charge are not stored up.
    mpg_target_micro_ = pos_micro_[axis];
    mpg_moving_ = false;
    return;
  }
  delta = std::clamp<int64_t>(delta, -(1 << 20), 1 << 20);
  // step = steps per count x 10,000, so one count is step x 100 millionths.
  const int64_t limit = int64_t{1} << 50;
  mpg_target_micro_ =
      std::clamp<int64_t>(mpg_target_micro_ + delta * last_mpg_->step * 100, -limit, limit);
  const int64_t diff = mpg_target_micro_ - pos_micro_[axis];
  if (diff == 0) return;
  const int64_t rate =
      std::max<int64_t>(1, std::abs(static_cast<int64_t>(last_mpg_->speed_limit)) * 1000 / 4096);
  const int64_t move = std::clamp<int64_t>(diff, -rate, rate);
  pos_micro_[axis] += move;
  mpg_moving_ = pos_micro_[axis] != mpg_target_micro_;
  if (!mpg_moving_) resync_pending_ = true;
}

void SimController::StepThc() {
  const bool torch_on = last_spindle_ && last_spindle_->on != 0;
  torch_on_ms_ = torch_on ? torch_on_ms_ + 1 : 0;
  const uint64_t detect = last_thc_ ? last_thc_->detect_time : 0;
  arc_ok_ = torch_on && arc_can_start_ && torch_on_ms_ >= std::max<uint64_t>(1, detect);
  const int64_t torch_z = position(2) + thc_offset();
  if (arc_ok_) {
    arc_voltage_ = arc_model_ ? arc_model_(torch_z)
                              : options_.arc_volts_at_surface +
                                    static_cast<double>(torch_z - options_.surface_z) *
                                        options_.arc_volts_per_step;
    if (!std::isfinite(arc_voltage_) || arc_voltage_ < 0.0) arc_voltage_ = 0.0;
  } else {
    arc_voltage_ = 0.0;
  }
  const bool thc_mode = last_outputs_ && (last_outputs_->mode_flags & 0x08) != 0;
  thc_active_ = thc_mode && arc_ok_ && last_thc_.has_value() && mode_ != SimMode::kEstop &&
                mode_ != SimMode::kSafe;
  bool up = false;
  bool down = false;
  if (thc_active_) {
    const bool manual = last_forced_inputs_ && (*last_forced_inputs_ & 0x80000000u) != 0;
    if (last_thc_->type == 0 || manual) {
      up = InputFunctionActive(23);
      down = !up && InputFunctionActive(24);
    } else {
      const double half_band = last_thc_->hysteresis / 2.0;
      up = arc_voltage_ < last_thc_->target - half_band;
      down = arc_voltage_ > last_thc_->target + half_band;
    }
  }
  torch_up_ = up;
  torch_down_ = down;
  if (!up && !down) return;
  thc_remainder_ += std::abs(static_cast<int64_t>(last_thc_->speed)) * 1000;
  const int64_t delta = thc_remainder_ / 4096;
  thc_remainder_ %= 4096;
  const int64_t old_offset = thc_offset_micro_;
  int64_t offset = old_offset + (up ? delta : -delta);
  // The two Z limits bound the torch's absolute Z; both 0 means no bound.
  const int32_t l1 = last_thc_->z_limit1;
  const int32_t l2 = last_thc_->z_limit2;
  if (l1 != 0 || l2 != 0) {
    const int64_t lo = int64_t{std::min(l1, l2)} * kMicro;
    const int64_t hi = int64_t{std::max(l1, l2)} * kMicro;
    const int64_t z = pos_micro_[2] + offset;
    if (up && z > hi) offset = std::max(old_offset, hi - pos_micro_[2]);
    if (down && z < lo) offset = std::min(old_offset, lo - pos_micro_[2]);
  }
  thc_offset_micro_ = offset;
}

bool SimController::InputFunctionActive(int function) const {
  if (function < 0 || function > 31) return false;
  if (last_forced_inputs_ && (*last_forced_inputs_ >> function) & 1u) return true;
  if (!io_config_) return false;
  const uint8_t pin = io_config_->FunctionPin(function);
  if (pin < 1 || pin > 16) return false;
  const bool level = (input_pins_ >> (pin - 1)) & 1u;
  const bool active_low = (io_config_->InputActiveLowMask() >> function) & 1u;
  return level != active_low;
}

bool SimController::ProbeTouching() const {
  // The probe is the test's surface model, or the host's forced probe input.
  if (probe_touching_ && probe_touching_(WholePositions())) return true;
  return last_forced_inputs_ && ((*last_forced_inputs_ >> 18) & 1u) != 0;
}

std::array<int64_t, kSimAxes> SimController::WholePositions() const {
  std::array<int64_t, kSimAxes> p{};
  for (int k = 0; k < kSimAxes; ++k) p[k] = FloorDiv(pos_micro_[k], kMicro);
  return p;
}

// ---------------------------------------------------------------- wire input

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
  const uint16_t declared = GetU16(data + 2);
  if (size_t{declared} + 4 != length) {
    reject("length field " + std::to_string(declared) + " does not match a write of " +
           std::to_string(length) + " bytes");
    return;
  }
  const char* name = SimCommandName(code);
  if (name == nullptr) {
    reject("unknown command code");
    return;
  }
  std::vector<uint8_t> payload(data + 4, data + length);
  if (!PayloadFits(code, payload)) {
    reject("payload of " + std::to_string(payload.size()) + " bytes does not fit " + name);
    return;
  }
  Record(TraceKind::kCommand, 0x01, code, name, payload);
  last_payloads_[code] = payload;
  HandleCommand(code, payload);
}

void SimController::ReceiveSegmentWrite(const uint8_t* data, size_t length) {
  if (length == 0 || length % kSimSegmentLength != 0) {
    Record(TraceKind::kRejected, 0x02, -1, "SegmentWrite",
           std::vector<uint8_t>(data, data + length),
           "write of " + std::to_string(length) + " bytes is not a whole number of records");
    return;
  }
  const char* drop_reason = nullptr;
  if (mode_ == SimMode::kEstop) drop_reason = "mode ESTOP";
  if (mode_ == SimMode::kSafe) drop_reason = "mode SAFE";
  if (mode_ == SimMode::kRundown) drop_reason = "mode RDOWN";
  if (flash_mode_) drop_reason = "flashing";
  if (probe_ == ProbeState::kHit) drop_reason = "probe contact";
  size_t dropped = 0;
  for (size_t off = 0; off < length; off += kSimSegmentLength) {
    const uint8_t* rec = data + off;
    ++segments_received_;
    if (trace_.WantsSegments()) {
      Record(TraceKind::kSegment, 0x02, -1, "Segment",
             std::vector<uint8_t>(rec, rec + kSimSegmentLength));
    }
    if (drop_reason != nullptr) {
      ++dropped;
      continue;
    }
    if (queue_count_ >= kSimQueueCapacity) {
      ++segments_dropped_;
      Record(TraceKind::kFault, 0x02, -1, "QueueOverflow",
             std::vector<uint8_t>(rec, rec + kSimSegmentLength), "queue full, segment dropped");
      continue;
    }
    queue_[(queue_head_ + queue_count_) % kSimQueueCapacity] = ParseSegment(rec);
    ++queue_count_;
    // Streaming has resumed, so the sender already works from fresh positions.
    resync_pending_ = false;
  }
  if (dropped > 0) {
    segments_dropped_ += dropped;
    Record(TraceKind::kNote, 0x02, -1, "SegmentsDropped", {},
           std::to_string(dropped) + " segment(s) dropped: " + drop_reason);
  }
  Settle();
}

void SimController::HandleCommand(uint8_t code, const std::vector<uint8_t>& payload) {
  const uint8_t* p = payload.data();
  const bool stopped = mode_ == SimMode::kEstop || mode_ == SimMode::kSafe ||
                       mode_ == SimMode::kRundown || flash_mode_;
  switch (code) {
    case sim_code::kJogStart: {
      SimJogStart j{p[0], static_cast<int8_t>(p[1]), GetI32(p + 2)};
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
        Note(code, std::string("ignored: ") + why);
        return;
      }
      Jog& jog = jogs_[j.axis];
      jog.active = true;
      jog.velocity = (j.direction > 0 ? 1 : -1) * static_cast<int64_t>(j.speed);
      Settle();
      return;
    }
    case sim_code::kJogStop: {
      const uint8_t axis = p[0];
      if (axis >= kSimAxes || !jogs_[axis].active) {
        Note(code, "ignored: axis is not jogging");
        return;
      }
      jogs_[axis] = {};
      SnapToStepCentre(axis);
      resync_pending_ = true;
      Settle();
      return;
    }
    case sim_code::kProbeStart: {
      SimProbeStart s;
      for (int k = 0; k < kSimAxes; ++k) {
        s.acceleration[k] = GetI32(p + 4 * k);
        s.velocity[k] = GetI32(p + 24 + 4 * k);
      }
      last_probe_start_ = s;
      if (stopped) {
        Note(code, "ignored: controller stopped");
        return;
      }
      // PROBE1 is reported only once the probe move executes, so that a report taken
      // between arming and the first segment does not read as a finished probe.
      probe_ = executing_ ? ProbeState::kMoving : ProbeState::kArmed;
      return;
    }
    case sim_code::kHomeAxis:
    case sim_code::kHomeVerifyAxis: {
      const int16_t axis = static_cast<int16_t>(GetU16(p));
      const char* why = nullptr;
      if (axis < 0 || axis >= kSimAxes)
        why = "no such axis";
      else if (stopped)
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
      homing_.push_back({axis, code == sim_code::kHomeVerifyAxis});
      Settle();
      return;
    }
    case sim_code::kSetOutputs:
      last_outputs_ = SimOutputs{GetU32(p), GetU16(p + 4), GetU16(p + 6)};
      return;
    case sim_code::kSpindle:
      last_spindle_ = SimSpindle{p[0], GetI32(p + 1), GetI32(p + 5), static_cast<int8_t>(p[9])};
      return;
    case sim_code::kLoadMotionConfig: {
      SimMotionConfig c;
      for (int k = 0; k < kSimAxes; ++k) {
        const uint8_t* b = p + 34 * k;
        SimAxisConfig& a = c.axes[k];
        a.steps_per_unit = GetI32(b);
        a.max_velocity = GetI32(b + 4);
        a.acceleration = GetI32(b + 8);
        a.soft_min = GetI32(b + 12);
        a.soft_max = GetI32(b + 16);
        a.home_position = GetI32(b + 20);
        a.master = b[24];
        a.homing_speed = GetI32(b + 25);
        a.homing_offset = GetI32(b + 29);
        a.flags = b[33];
      }
      c.spindle_mode = p[239];
      c.flags = p[253];
      c.index_count = GetU16(p + 257);
      c.mpg_encoder = p[259];
      c.raw = payload;
      motion_config_ = std::move(c);
      // Configuring is the controller's reset: everything stops, ESTOP and SAFE end.
      StopEverything();
      if (mode_ == SimMode::kEstop || mode_ == SimMode::kSafe || mode_ == SimMode::kRundown) {
        mode_ = SimMode::kIdle;
      }
      Settle();
      return;
    }
    case sim_code::kLoadIoConfig:
      io_config_ = SimIoConfig{payload};
      return;
    case sim_code::kReleaseHold:
      if (mode_ != SimMode::kHold || !homing_.empty()) {
        Note(code, "ignored: not holding");
        return;
      }
      StartExecution();
      Settle();
      return;
    case sim_code::kEndProbe:
      probe_ = ProbeState::kNone;
      return;
    case sim_code::kStop: {
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
      if (p[0] == 1) {
        StopEverything();
        mode_ = SimMode::kEstop;
        stop_reason_ = options_.estop_reason;
        return;
      }
      if (p[0] == 3) {
        StopEverything();
        mode_ = SimMode::kSafe;
        return;
      }
      Note(code, "ignored: unknown stop kind " + std::to_string(p[0]));
      return;
    }
    case sim_code::kSetForcedInputs:
      last_forced_inputs_ = GetU32(p);
      return;
    case sim_code::kThreadStart:
      last_thread_start_ = SimThreadStart{GetI32(p), p[4]};
      threading_ = true;
      return;
    case sim_code::kMpgConfig: {
      const SimMpgConfig m{p[0], GetI32(p + 1), GetI32(p + 5), GetU16(p + 9)};
      const bool was_enabled = last_mpg_ && last_mpg_->enable != 0;
      const bool axis_changed = last_mpg_ && last_mpg_->axis != m.axis;
      last_mpg_ = m;
      if (m.enable != 0 && (!was_enabled || axis_changed)) {
        const int encoder = motion_config_ && motion_config_->mpg_encoder == 1 ? 1 : 0;
        mpg_last_count_ = encoders_[encoder];
        if (m.axis < kSimAxes) mpg_target_micro_ = pos_micro_[m.axis];
      }
      return;
    }
    case sim_code::kThcConfig: {
      SimThcConfig t;
      t.speed = GetI32(p);
      t.z_limit1 = GetI32(p + 4);
      t.z_limit2 = GetI32(p + 8);
      t.pierce_delay = GetU16(p + 12);
      t.type = p[14];
      t.target = GetU16(p + 15);
      t.hysteresis = GetU16(p + 17);
      t.full_scale = GetU16(p + 19);
      t.detect_voltage = GetU16(p + 21);
      t.detect_time = GetU16(p + 23);
      t.flags = GetU16(p + 25);
      t.kerf_voltage = GetU16(p + 27);
      t.kerf_time = GetU16(p + 29);
      t.b0 = GetI32(p + 31);
      t.b1 = GetI32(p + 35);
      t.a1 = GetI32(p + 39);
      t.lock_max = GetU16(p + 43);
      t.lock_min = GetU16(p + 45);
      last_thc_ = t;
      return;
    }
    case sim_code::kLatchZ: {
      latched_z_ = SaturateI32(position(2) + thc_offset());
      // Fold the THC offset into Z so that Z alone is where the torch is, unless the
      // stream is running from the unfolded Z.
      if (mode_ != SimMode::kSegm) {
        pos_micro_[2] += FloorDiv(thc_offset_micro_, kMicro) * kMicro;
        thc_offset_micro_ = FloorMod(thc_offset_micro_, kMicro);
      }
      return;
    }
    case sim_code::kFlashErase:
      HandleFlashErase();
      return;
    case sim_code::kFlashWrite:
      HandleFlashWrite(payload);
      return;
    default:
      return;
  }
}

// ---------------------------------------------------------------- flash

void SimController::HandleFlashErase() {
  StopEverything();
  mode_ = SimMode::kSafe;
  flash_mode_ = true;
  flash_.assign(options_.flash_size, 0xFF);
  flash_written_.assign(options_.flash_size, false);
  flashed_length_ = 0;
  QueueFlashReply(kSimFlashReplyOk);
}

void SimController::HandleFlashWrite(const std::vector<uint8_t>& payload) {
  const uint32_t length = GetU32(payload.data());
  const uint32_t address = GetU32(payload.data() + 4);
  const uint8_t* data = payload.data() + 8;
  auto fail = [&](const std::string& why) {
    Record(TraceKind::kFault, 0x01, sim_code::kFlashWrite, "FlashWrite", {}, why);
    QueueFlashReply(kSimFlashReplyError);
  };
  if (!flash_mode_) {
    fail("flash not erased");
    return;
  }
  if (address == 0 && length == 4) {
    // The closing write: the image length at address 0, accepted only when every byte of
    // the image has been written.
    const uint32_t image = GetU32(data);
    const uint64_t end = uint64_t{4} + image;
    if (image == 0 || end > flash_.size()) {
      fail("image length " + std::to_string(image) + " out of range");
      return;
    }
    for (uint64_t a = 4; a < end; ++a) {
      if (!flash_written_[a]) {
        fail("image byte at address " + std::to_string(a) + " never written");
        return;
      }
    }
    std::copy(data, data + 4, flash_.begin());
    flashed_length_ = image;
    ++completed_flashes_;
    QueueFlashReply(kSimFlashReplyOk);
    flash_leave_at_ = now_ms_ + options_.flash_disconnect_ms;
    return;
  }
  if (length == 0 || length % 4 != 0 || length > 256) {
    fail("block length " + std::to_string(length) + " invalid");
    return;
  }
  if (address < 4 || uint64_t{address} + length > flash_.size()) {
    fail("address " + std::to_string(address) + " out of range");
    return;
  }
  std::copy(data, data + length, flash_.begin() + address);
  std::fill(flash_written_.begin() + address, flash_written_.begin() + address + length, true);
  QueueFlashReply(kSimFlashReplyOk);
}

void SimController::QueueFlashReply(uint8_t reply) {
  if (flash_fault_) {
    if (flash_fault_skip_ > 0) {
      --flash_fault_skip_;
    } else {
      const FlashReplyFault kind = *flash_fault_;
      flash_fault_.reset();
      if (kind == FlashReplyFault::kMissing) {
        Record(TraceKind::kFault, 0x81, -1, "FlashReplyMissing", {}, "injected");
        return;
      }
      reply = kSimFlashReplyError;
      Record(TraceKind::kFault, 0x81, -1, "FlashReplyWrong", {}, "injected");
    }
  }
  replies_.push_back(reply);
}

std::vector<uint8_t> SimController::FlashedImage() const {
  if (flashed_length_ == 0 || uint64_t{4} + flashed_length_ > flash_.size()) return {};
  return std::vector<uint8_t>(flash_.begin() + 4, flash_.begin() + 4 + flashed_length_);
}

// ---------------------------------------------------------------- USB side

bool SimController::Claim(const void* owner) {
  if (!present_) return false;
  if (owner_ != nullptr && owner_ != owner && owner_generation_ == generation_) return false;
  owner_ = owner;
  owner_generation_ = generation_;
  return true;
}

void SimController::Release(const void* owner) {
  if (owner_ == owner) owner_ = nullptr;
}

bool SimController::ClaimedBy(const void* owner) const {
  return present_ && owner_ == owner && owner_generation_ == generation_;
}

bool SimController::TakeWriteFault(uint8_t pipe) {
  if (!fail_write_[pipe]) return false;
  fail_write_[pipe] = false;
  Record(TraceKind::kFault, pipe, -1, "WriteFailed", {}, "injected");
  return true;
}

SimReadStart SimController::BeginStatusRead(uint32_t length) {
  SimReadStart r;
  if (!replies_.empty()) {
    const size_t n = std::min<size_t>(length, replies_.size());
    for (size_t i = 0; i < n; ++i) {
      r.data.push_back(replies_.front());
      replies_.pop_front();
    }
    return r;
  }
  if (flash_mode_) {
    r.kind = SimReadStart::Kind::kAwaitReply;
    return r;
  }
  bool lost = false;
  bool dropped = false;
  std::optional<StatusCorruption> corruption;
  if (lose_reads_ > 0) {
    --lose_reads_;
    lost = true;
  } else if (corrupt_reads_ > 0) {
    --corrupt_reads_;
    corruption = corrupt_kind_;
  } else if (lose_rate_ > 0.0 || corrupt_rate_ > 0.0) {
    auto uniform = [this] { return static_cast<double>(NextRandom() >> 11) * 0x1.0p-53; };
    if (uniform() < lose_rate_) {
      dropped = true;
    } else if (uniform() < corrupt_rate_) {
      corruption =
          (NextRandom() & 1) ? StatusCorruption::kShortTransfer : StatusCorruption::kWrongMarker;
    }
  }
  if (lost) {
    Record(TraceKind::kFault, 0x81, -1, "StatusReadLost", {}, "read never completes");
    r.kind = SimReadStart::Kind::kLost;
    return r;
  }
  if (dropped) {
    Record(TraceKind::kFault, 0x81, -1, "StatusReportDropped", {}, "answered by a later report");
    r.kind = SimReadStart::Kind::kDropped;
    r.retry_after_ms = std::max<uint32_t>(1, options_.dropped_report_retry_ms);
    return r;
  }
  const auto status = StatusBytes();
  ++status_reads_;
  const size_t n = std::min<size_t>(length, kSimStatusLength);
  r.data.assign(status.begin(), status.begin() + static_cast<std::ptrdiff_t>(n));
  if (!corruption) {
    MarkDelivered(status);
    return r;
  }
  if (*corruption == StatusCorruption::kWrongMarker) {
    if (!r.data.empty()) r.data[0] = 0x00;
    Record(TraceKind::kFault, 0x81, -1, "StatusReadCorrupted", {}, "wrong start marker");
  } else {
    r.data.resize(std::min<size_t>(r.data.size(), options_.short_transfer));
    Record(TraceKind::kFault, 0x81, -1, "StatusReadCorrupted", {},
           "short transfer of " + std::to_string(r.data.size()) + " bytes");
  }
  return r;
}

void SimController::MarkDelivered(const std::array<uint8_t, kSimStatusLength>& status) {
  if (status[2] == static_cast<uint8_t>(SimSequence::kHome4)) home4_delivered_ = true;
  if (status[3] & 0x01) resync_pending_ = false;
}

size_t SimController::TakeReplyBytes(uint8_t* buffer, size_t length) {
  size_t n = 0;
  while (n < length && !replies_.empty()) {
    buffer[n++] = replies_.front();
    replies_.pop_front();
  }
  return n;
}

bool SimController::ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) {
  if (fail_control_requests_ > 0) {
    --fail_control_requests_;
    Record(TraceKind::kFault, 0x00, request, "ControlIn", {}, "injected failure");
    return false;
  }
  if (request == 0xE0) {
    // The loader answers "00.00" until a complete image has been committed.
    const std::string text = flash_mode_ ? "00.00" : firmware_version_;
    std::vector<uint8_t> reply(5, 0);
    std::copy_n(text.begin(), std::min<size_t>(5, text.size()), reply.begin());
    const size_t n = std::min<size_t>(length, reply.size());
    std::copy_n(reply.begin(), n, buffer);
    Record(TraceKind::kControl, 0x00, request, "GetFirmwareVersion",
           std::vector<uint8_t>(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n)));
    return true;
  }
  if (request == 0xE2) {
    uint8_t reply[4];
    PutU32(reply, static_cast<uint32_t>(latched_z_));
    const size_t n = std::min<size_t>(length, 4);
    std::copy_n(reply, n, buffer);
    Record(TraceKind::kControl, 0x00, request, "GetZPosition",
           std::vector<uint8_t>(reply, reply + n));
    return true;
  }
  Record(TraceKind::kRejected, 0x00, request, "ControlIn", {}, "unknown request");
  return false;
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
  PutU16(&s[4], input_pins_);
  PutU16(&s[6], line_word_);
  for (int k = 0; k < kSimAxes; ++k) {
    PutU32(&s[8 + 4 * k], static_cast<uint32_t>(SaturateI32(position(k))));
  }
  PutU32(&s[32], static_cast<uint32_t>(thc_offset()));
  PutU32(&s[36], index_period_);
  PutU16(&s[40], static_cast<uint16_t>(queue_count_));
  PutU32(&s[42], static_cast<uint32_t>((now_ms_ - boot_ms_) * kSimTicksPerMs));
  PutU32(&s[46], static_cast<uint32_t>(encoders_[0]));
  PutU32(&s[50], static_cast<uint32_t>(encoders_[1]));
  s[54] = stop_reason_;
  s[55] = homed_axis_;
  PutU16(&s[56], executing_tag_);
  uint16_t analog = analog_raw_;
  if (last_thc_ && last_thc_->full_scale > 0 && last_spindle_ && last_spindle_->on != 0) {
    // The analog input sees the arc voltage through the torch voltage divider.
    const double raw = arc_voltage_ / last_thc_->full_scale * 65536.0;
    analog = static_cast<uint16_t>(std::clamp(raw, 0.0, 65535.0));
  }
  PutU16(&s[58], analog);
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

void SimController::SetArcVoltageModel(std::function<double(int64_t)> model) {
  arc_model_ = std::move(model);
}

void SimController::TriggerEstop(uint8_t reason) {
  StopEverything();
  mode_ = SimMode::kEstop;
  stop_reason_ = reason;
  Record(TraceKind::kNote, 0x00, -1, "Estop", {}, "reason " + std::to_string(reason));
}

// ---------------------------------------------------------------- faults

void SimController::Disconnect() {
  if (!present_) return;
  present_ = false;
  ++generation_;
  replies_.clear();
  Record(TraceKind::kFault, 0x00, -1, "Disconnected", {}, "injected");
}

void SimController::Reconnect(bool restart) {
  const bool was_present = present_;
  present_ = true;
  if (restart) PowerOn();
  if (!was_present || restart) {
    Record(TraceKind::kNote, 0x00, -1, "Reconnected", {}, restart ? "after restart" : "");
  }
}

void SimController::CorruptStatusReads(uint32_t count, StatusCorruption kind) {
  corrupt_reads_ += count;
  corrupt_kind_ = kind;
}

void SimController::SetStatusFaultRates(double lose, double corrupt, uint64_t seed) {
  auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
  lose_rate_ = unit(lose);
  corrupt_rate_ = unit(corrupt);
  rng_state_ = seed;
}

void SimController::FailNextWrite(uint8_t pipe) {
  fail_write_[pipe] = true;
}

void SimController::FailFlashReply(FlashReplyFault kind, uint32_t skip) {
  flash_fault_ = kind;
  flash_fault_skip_ = skip;
}

uint64_t SimController::NextRandom() {
  // splitmix64: small, fully specified, the same on every platform.
  uint64_t z = (rng_state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace kelvro::sim
