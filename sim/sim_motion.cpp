#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/sim_controller.h"
#include "sim/sim_steps.h"

// Motion of the simulated controller: the millisecond tick, the segment queue and its
// execution, and the motion it makes by itself (jogs, homing, hand wheel, THC, probe).

namespace kelvro::sim {

namespace {

constexpr uint32_t kPhasePerMicro = 250;  // start phase unit: 1/250,000,000 step
constexpr uint32_t kPhaseRange = 250000000;
constexpr size_t kMaxSyncEvents = 100000;
constexpr uint16_t kNoTag = 0xFFFF;
// ThcConfig flag word (offset 25).
constexpr uint16_t kThcFlagKerf = 0x01;
constexpr uint16_t kThcFlagLowPass = 0x02;
constexpr uint16_t kThcFlagLock = 0x04;
// LoadMotionConfig: the laser synchronisation output and the laser mode flags.
constexpr size_t kLaserSyncOffset = 252;
constexpr uint8_t kLaserModeFlags = 0x10 | 0x20;

}  // namespace

// ---------------------------------------------------------------- time

void SimController::Tick() {
  StepFlashRestart();
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

bool SimController::MpgBusy() const {
  if (!last_mpg_ || last_mpg_->enable == 0) return false;
  const int encoder = motion_config_ && motion_config_->mpg_encoder == 1 ? 1 : 0;
  return mpg_moving_ || encoders_[encoder] != mpg_last_count_ ||
         (mpg_active_ && last_mpg_->axis < kSimAxes &&
          pos_micro_[last_mpg_->axis] != mpg_target_micro_);
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
  if (on_laser_ms && LaserGateOpen()) on_laser_ms(pos_micro_[0], pos_micro_[1], LaserPower());

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

bool SimController::LaserGateOpen() const {
  if (!last_spindle_ || last_spindle_->on == 0) return false;
  const std::vector<uint8_t>* raw = motion_config_ ? &motion_config_->raw : nullptr;
  const uint8_t gate = raw && raw->size() > kLaserSyncOffset ? (*raw)[kLaserSyncOffset] : 0;
  return gate == 0 || (gate <= 15 && ((sync_outputs_ >> gate) & 1u) != 0);
}

double SimController::LaserPower() const {
  if (!LaserGateOpen()) return 0.0;
  const bool laser_mode = motion_config_ && (motion_config_->flags & kLaserModeFlags) != 0;
  if (laser_mode) return static_cast<double>(last_laser_) / 255.0;
  return std::clamp(static_cast<double>(last_spindle_->duty) / 65536.0, 0.0, 1.0);
}

// ---------------------------------------------------------------- segment pipe

void SimController::ReceiveSegmentWrite(const uint8_t* data, size_t length) {
  ++segment_writes_;
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

uint16_t SimController::ArcAnalogRaw() const {
  // The analog input sees the arc voltage through the table's torch voltage divider.
  const double full_scale = options_.divider_full_scale > 0.0 ? options_.divider_full_scale
                            : last_thc_                       ? last_thc_->full_scale
                                                              : 0.0;
  if (full_scale <= 0.0) return analog_raw_;
  const double raw = arc_voltage_ / full_scale * 65536.0;
  return static_cast<uint16_t>(std::clamp(raw, 0.0, 65535.0));
}

double SimController::ReadArcVoltage(uint16_t raw) {
  // The calibration ThcConfig carries: torch volts at full scale of the input.
  const double volts = static_cast<double>(raw) * last_thc_->full_scale / 65536.0;
  const bool filter = (last_thc_->flags & kThcFlagLowPass) != 0;
  double reading = volts;
  if (filter) {
    // First-order filter at 1000 Hz, coefficients in fixed point (1.0 = 32768).
    reading = (last_thc_->b0 * volts + last_thc_->b1 * loop_.filter_input -
               last_thc_->a1 * loop_.measured_voltage) /
              32768.0;
  }
  loop_.filter_input = volts;
  return reading;
}

bool SimController::KerfCrossed(double volts) {
  if ((last_thc_->flags & kThcFlagKerf) == 0) {
    loop_.kerf_ms = 0;
    return false;
  }
  const double threshold = static_cast<double>(last_thc_->target) + last_thc_->kerf_voltage;
  loop_.kerf_ms = volts > threshold ? loop_.kerf_ms + 1 : 0;
  return loop_.kerf_ms >= std::max<uint32_t>(1, last_thc_->kerf_time);
}

void SimController::StepThc() {
  const bool torch_on = last_spindle_ && last_spindle_->on != 0;
  torch_on_ms_ = torch_on ? torch_on_ms_ + 1 : 0;
  if (!torch_on) loop_.arc_out = false;
  const uint64_t strike = options_.arc_strike_ms;
  const bool was_burning = arc_burning_;
  arc_burning_ = torch_on && !loop_.arc_out &&
                 (was_burning || (arc_can_start_ && torch_on_ms_ >= std::max<uint64_t>(1, strike)));
  std::array<int64_t, kSimAxes> torch = WholePositions();
  torch[2] += thc_offset();
  if (arc_burning_) {
    arc_voltage_ = arc_model_ ? arc_model_(torch)
                              : options_.arc_volts_at_surface +
                                    static_cast<double>(torch[2] - options_.surface_z) *
                                        options_.arc_volts_per_step;
    if (!std::isfinite(arc_voltage_) || arc_voltage_ < 0.0) arc_voltage_ = 0.0;
  } else {
    arc_voltage_ = 0.0;
  }
  if (!last_thc_ || !torch_on) {
    loop_.measured_voltage = loop_.filter_input = 0.0;
    loop_.in_window_ms = loop_.kerf_ms = 0;
  } else {
    loop_.measured_voltage = ReadArcVoltage(ArcAnalogRaw());
  }
  // Arc OK: the arc has burned with its reading inside the detection window for the
  // detection time; a window of 0 takes any reading.
  const uint32_t detect = last_thc_ ? last_thc_->detect_time : 0;
  const double window = last_thc_ ? last_thc_->detect_voltage : 0.0;
  const bool in_window =
      arc_burning_ &&
      (window == 0.0 || std::fabs(loop_.measured_voltage - last_thc_->target) <= window);
  loop_.in_window_ms = in_window ? loop_.in_window_ms + 1 : 0;
  // Counted from the strike time: the arc's first millisecond counts as the detection's.
  const uint64_t needed =
      std::max<uint64_t>(1, strike + detect) - std::max<uint64_t>(1, strike) + 1;
  arc_ok_ = in_window && loop_.in_window_ms >= needed;
  loop_.arc_ok_ms = arc_ok_ ? loop_.arc_ok_ms + 1 : 0;

  const bool thc_mode = last_outputs_ && (last_outputs_->mode_flags & 0x08) != 0;
  // The loop waits out the pierce delay after the arc is reported OK.
  const uint64_t pierce = last_thc_ ? last_thc_->pierce_delay : 0;
  thc_active_ = thc_mode && arc_ok_ && last_thc_.has_value() && mode_ != SimMode::kEstop &&
                mode_ != SimMode::kSafe && loop_.arc_ok_ms > pierce;
  bool up = false;
  bool down = false;
  loop_.locked = false;
  const bool kerf = thc_active_ && KerfCrossed(loop_.measured_voltage);
  loop_.kerf_hold = kerf;
  if (thc_active_) {
    const bool manual = last_forced_inputs_ && (*last_forced_inputs_ & 0x80000000u) != 0;
    if (last_thc_->type == 0 || manual) {
      up = InputFunctionActive(23);
      down = !up && InputFunctionActive(24);
    } else {
      const double v = loop_.measured_voltage;
      loop_.locked = (last_thc_->flags & kThcFlagLock) != 0 &&
                     (v > last_thc_->lock_max || v < last_thc_->lock_min);
      const double half_band = last_thc_->hysteresis / 2.0;
      if (!loop_.locked && !loop_.kerf_hold) {
        up = v < last_thc_->target - half_band;
        down = v > last_thc_->target + half_band;
      }
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

}  // namespace kelvro::sim
