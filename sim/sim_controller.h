// A software KELVRO controller on virtual time.
//
// It speaks the controller's USB protocol byte for byte: framed commands on pipe 0x01,
// 52-byte segment records on pipe 0x02, 60-byte status reports (or one-byte flash replies)
// on pipe 0x81 and the two control IN requests. It parses the wire bytes itself, so it is an
// independent check of what the plugin sends. Nothing happens between calls: AdvanceTo()
// runs the machine one simulated millisecond at a time, so every run is the same.
//
// Behaviour chosen here where the protocol leaves it open:
// - Queue start: segments that arrive while nothing executes are held (mode HOLD) until the
//   queue holds `start_threshold` segments (600 by default: a reserve that outlasts a stall of
//   the host's GUI thread at the start of a move) or ReleaseHold arrives; from then
//   on one segment executes per millisecond until the queue is empty, when the mode returns
//   to IDLE in the same millisecond. N segments therefore take N ms.
// - Positions: each axis keeps its position in millionths of a step. A segment moves the axis
//   from its current whole step plus the segment's own start phase (on the whole step
//   nearest to the axis), so the stream of a plugin that keeps position + 0.5 reproduces its
//   planned positions exactly. A start phase further than `phase_tolerance_micro` from the
//   controller's own fraction is recorded as a phase mismatch.
// - Motion the controller makes by itself (jog, hand wheel, homing, probe stop) leaves the
//   axis resting in the middle of its step. After a jog or a hand-wheel move, status flag
//   bit 0 (resync request) is reported once, in IDLE, so that the plugin re-takes the
//   positions; homing and probing are reported by their sequences instead.
// - Homing walks HOME0..HOME3 for `home_phase_ms` each, then sets the axis to its home
//   position and reports HOME4 (byte 55 = axis) until a good status report has carried it.
//   Verify homing reports without changing the position. Several axes home in turn.
// - Probing: ProbeStart arms; PROBE1 is reported only once the probe move executes, so a
//   report taken between arming and the first segment never reads as a finished probe. The
//   probe touches when the test's predicate (or the forced probe input) says so.
// - THC: the torch is the spindle output. The arc strikes `arc_strike_ms` after the torch
//   goes on (never, when a test says the ignition fails) and burns until the torch goes off
//   (or a test puts it out). Its voltage is a function of the torch's position (Z with the
//   THC offset). The analog input sees it through the table's voltage divider
//   (`divider_full_scale` torch volts at 5 V; 0: the divider ThcConfig describes); the loop
//   reads it back with ThcConfig's calibration, through the low-pass filter when its flag is
//   set. Arc OK: the reading has stayed within target +/- the detection voltage (any
//   reading while that is 0) for the detection time. `pierce_delay` ms after arc OK, with
//   THC mode on (SetOutputs flag bit 3) the loop moves the offset at the configured speed
//   outside target +/- hysteresis / 2, within the two Z limits taken as absolute Z bounds.
//   It holds the offset while the voltage lock is on and the reading is outside the lock
//   band, and, with kerf detection on, from the moment the reading has been above target +
//   kerf voltage for the kerf time until it falls below that again. LatchZ latches Z +
//   offset and, unless segments run, folds the offset into Z.
// - ESTOP and SAFE are left only by LoadMotionConfig (the plugin's reset), which also
//   flushes the queue and ends every sequence. Stop without payload while segments execute
//   runs down (mode RDOWN) for `rundown_ms`, then IDLE.
// - Segments that arrive in ESTOP, SAFE or RDOWN, while flashing, or after a probe contact
//   (until EndProbe) are dropped with a note: they belong to motion that was stopped.
// - Flashing: FlashErase enters the loader (mode SAFE, version text "00.00" until a complete
//   image is committed). In the loader the status pipe carries only flash replies; a read
//   with no reply waiting stays pending until one arrives. Every flash command is answered
//   by one byte ("o" or "e"), `flash_reply_ms` after it arrived. Blocks must be 4 to 256
//   bytes, a multiple of 4, at an address that is a multiple of 4 from 4 on; the length word
//   at address 0 is accepted only when every image byte has been written. Then the
//   controller leaves the bus and returns with the flashed version text.
// - Laser: the laser is enabled by the spindle output. When the motion configuration names a
//   laser synchronisation output (byte 252), that synchronous output (switched by the
//   segments' M10/M11 flags) gates the beam as well. With a laser mode in the configuration
//   flags (ramp compensation 0x10, gray level 0x20) the power is the duty byte of the last
//   flagged segment (0..255 = 0..100 %); without one it is the spindle's PWM duty. Every
//   executed segment with the spindle on and the gate open is reported to `on_laser_ms` with
//   the position it ends at and the power (which may be 0).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_trace.h"
#include "sim/sim_wire.h"

namespace kelvro::sim {

enum class SimMode : uint8_t { kIdle = 0, kJog, kSegm, kHold, kEstop, kSafe, kRundown };

enum class SimSequence : uint8_t {
  kNone = 0,
  kHome0,
  kHome1,
  kHome2,
  kHome3,
  kHome4,
  kProbe1,
  kProbe2,
  kMpg,
};

inline constexpr size_t kSimQueueCapacity = 1000;
inline constexpr uint32_t kSimTicksPerMs = 50000;  // 20 ns controller clock

// Name of a command code ("JogStart"), or nullptr for a code the controller does not know.
const char* SimCommandName(uint8_t code);

// A synchronous-output switch or threading marker as it executed.
struct SimSyncEvent {
  uint64_t t_ms = 0;
  uint16_t ring_tag = 0;
  uint8_t flag = 0;
  uint8_t laser = 0;
};

enum class StatusCorruption { kWrongMarker, kShortTransfer };
enum class FlashReplyFault { kWrongByte, kMissing };

// Flash faults the controller injects on request. A write's index counts the FlashWrite
// commands since the last FlashErase from 0; the closing length word is the write after
// the last image chunk.
struct SimFlashFaults {
  bool wrong_erase_reply = false;
  std::optional<uint32_t> wrong_reply_to_write;
  std::optional<uint32_t> no_reply_to_write;
  bool never_returns = false;  // leaves the bus after the length word and never comes back
};

// Reads a fault as the command lines name it: "erase" (wrong reply to the erase), "chunk:N"
// (wrong reply to write N), "no-reply:N" (no reply to write N), "never-returns". Adds it to
// `faults`; false for any other text.
bool ParseSimFlashFault(std::string_view text, SimFlashFaults& faults);

struct SimControllerOptions {
  std::string firmware_version = "01.22";
  // Flash programming. After the length word the controller leaves the bus
  // `flash_disconnect_ms` later and comes back `flash_restart_ms` after that, reporting
  // `flashed_version`. Each flash command is carried out in `flash_reply_ms` before its
  // one-byte reply is ready.
  std::string flashed_version = "01.22";
  uint32_t flash_reply_ms = 0;
  uint32_t start_threshold = 600;  // queued segments that start execution
  uint32_t rundown_ms = 10;
  uint32_t home_phase_ms = 100;  // each of HOME0..HOME3
  uint32_t flash_disconnect_ms = 20;
  uint32_t flash_restart_ms = 2500;
  uint32_t flash_size = 256 * 1024;
  SimFlashFaults flash_faults;
  uint8_t estop_reason = 0;      // byte 54 after Stop 1
  uint32_t short_transfer = 20;  // bytes of a short status transfer
  // Start phases within this many millionths of the controller's own fraction are not
  // reported: the sender's floating-point arithmetic differs by a millionth now and then.
  int64_t phase_tolerance_micro = 2;
  uint32_t dropped_report_retry_ms = 10;  // a dropped report is replaced this much later
  uint32_t arc_strike_ms = 0;             // torch on to the arc
  double divider_full_scale = 0.0;        // torch volts that give 5 V at the analog input
  double arc_volts_at_surface = 100.0;
  double arc_volts_per_step = 0.01;
  int64_t surface_z = 0;
};

// What a status read started now delivers.
struct SimReadStart {
  // kDropped: this report was lost on the bus; the read stays pending and is answered by a
  // later report (the bus retries), `retry_after_ms` later.
  enum class Kind { kData, kLost, kDropped, kAwaitReply };
  Kind kind = Kind::kData;
  uint32_t retry_after_ms = 0;
  std::vector<uint8_t> data;
};

class SimController {
 public:
  explicit SimController(SimControllerOptions options = {});

  // Name of a command code the controller knows ("JogStart"), else nullptr.
  static const char* CommandName(uint8_t code);

  // Runs every millisecond up to now_ms; earlier times are ignored.
  void AdvanceTo(uint64_t now_ms);
  uint64_t now() const { return now_ms_; }
  SimControllerOptions& options() { return options_; }
  SimTrace& trace() { return trace_; }
  const SimTrace& trace() const { return trace_; }

  // ---- The USB side (used by SimUsbPort; callers advance time first) ----
  bool present() const { return present_; }
  // Changes whenever the device leaves the bus; handles opened before are dead.
  uint64_t generation() const { return generation_; }
  bool Claim(const void* owner);
  void Release(const void* owner);
  bool ClaimedBy(const void* owner) const;
  // Consumes an injected write failure for this pipe, or for the command framed in `data`
  // (its first byte is the command code) on the command pipe. A write that does not fail
  // counts towards the faults armed to skip some writes.
  bool TakeWriteFault(uint8_t pipe, const uint8_t* data = nullptr, size_t length = 0);
  void ReceiveCommandWrite(const uint8_t* data, size_t length);
  void ReceiveSegmentWrite(const uint8_t* data, size_t length);
  SimReadStart BeginStatusRead(uint32_t length);
  // Hands flash reply bytes that are ready to a read that is waiting for them.
  size_t TakeReplyBytes(uint8_t* buffer, size_t length);
  // When the next flash reply waiting to go out is ready; nothing when none waits.
  std::optional<uint64_t> NextReplyReadyAt() const;
  bool ControlIn(uint8_t request, uint8_t* buffer, uint16_t length);

  // The status report as it stands now.
  std::array<uint8_t, kSimStatusLength> StatusBytes() const;

  // ---- State for tests ----
  SimMode mode() const { return mode_; }
  SimSequence sequence() const;
  int64_t position(int axis) const;         // whole steps
  int64_t position_micro(int axis) const;   // millionths of a step
  uint32_t fraction_micro(int axis) const;  // millionths within the step
  size_t buffer_fill() const { return queue_count_; }
  uint16_t executing_tag() const { return executing_tag_; }
  uint8_t stop_reason() const { return stop_reason_; }
  bool jogging(int axis) const;
  uint64_t segments_received() const { return segments_received_; }
  // Writes that arrived on the segment pipe (each carries one or more records).
  uint64_t segment_writes() const { return segment_writes_; }
  uint64_t segments_executed() const { return segments_executed_; }
  uint64_t segments_dropped() const { return segments_dropped_; }
  uint64_t phase_mismatches() const { return phase_mismatches_; }
  uint64_t status_reads() const { return status_reads_; }
  const std::string& firmware_version() const { return firmware_version_; }
  void set_firmware_version(std::string version) { firmware_version_ = std::move(version); }

  const std::optional<SimMotionConfig>& motion_config() const { return motion_config_; }
  const std::optional<SimIoConfig>& io_config() const { return io_config_; }
  const std::optional<SimJogStart>& last_jog_start() const { return last_jog_start_; }
  const std::optional<SimOutputs>& last_outputs() const { return last_outputs_; }
  const std::optional<uint32_t>& last_forced_inputs() const { return last_forced_inputs_; }
  const std::optional<SimSpindle>& last_spindle() const { return last_spindle_; }
  const std::optional<SimMpgConfig>& last_mpg() const { return last_mpg_; }
  const std::optional<SimThcConfig>& last_thc() const { return last_thc_; }
  const std::optional<SimThreadStart>& last_thread_start() const { return last_thread_start_; }
  const std::optional<SimProbeStart>& last_probe_start() const { return last_probe_start_; }
  // The last accepted payload of a command code.
  std::optional<std::vector<uint8_t>> LastPayload(uint8_t code) const;

  uint16_t sync_outputs() const { return sync_outputs_; }
  const std::vector<SimSyncEvent>& sync_events() const { return sync_events_; }
  uint8_t last_laser() const { return last_laser_; }
  uint64_t laser_segments() const { return laser_segments_; }
  bool threading() const { return threading_; }

  int32_t thc_offset() const;
  double arc_voltage() const { return arc_voltage_; }
  bool arc_ok() const { return arc_ok_; }
  bool thc_active() const { return thc_active_; }
  // The loop's reading of the arc voltage (calibrated, filtered when the filter is on).
  double measured_voltage() const { return loop_.measured_voltage; }
  // The loop holds its offset: the reading is outside the lock band / a kerf is crossed.
  bool thc_locked() const { return loop_.locked; }
  bool kerf_hold() const { return loop_.kerf_hold; }
  int32_t latched_z() const { return latched_z_; }

  bool flashing() const { return flash_mode_; }
  uint32_t flashed_length() const { return flashed_length_; }
  int completed_flashes() const { return completed_flashes_; }
  // The image bytes of the last committed flash (addresses 4 .. 4 + length).
  std::vector<uint8_t> FlashedImage() const;
  // The length word at flash address 0 (0 until a flash has been committed).
  uint32_t FlashLengthWord() const;
  // FlashWrite commands since the last erase.
  uint32_t flash_writes() const { return flash_writes_; }

  // ---- Inputs driven by tests ----
  void SetInputPins(uint16_t pins) { input_pins_ = pins; }
  void SetLineWord(uint16_t word) { line_word_ = word; }
  void SetIndexPeriod(uint32_t ticks) { index_period_ = ticks; }
  void SetEncoderCount(int encoder, int32_t count);  // encoder 1 or 2
  void AddEncoderCount(int encoder, int32_t delta);
  void SetAnalogRaw(uint16_t raw) { analog_raw_ = raw; }
  // The THC loop's Z offset as if it had corrected the torch height by `steps`.
  void SetThcOffset(int32_t steps) { thc_offset_micro_ = int64_t{steps} * 1000000; }
  // Extra status flag bits reported as they are (e.g. bit 6, mirrored to a host LED).
  void SetExtraFlags(uint8_t bits) { extra_flags_ = bits; }
  // Probe contact as a function of the six positions in whole steps.
  void SetProbePredicate(std::function<bool(const std::array<int64_t, kSimAxes>&)> touching);
  // Arc voltage as a function of where the torch is: the six positions in whole steps with
  // the THC offset added to Z.
  void SetArcVoltageModel(std::function<double(const std::array<int64_t, kSimAxes>&)> model);
  // Called with every status report delivered whole to the plugin.
  std::function<void(const std::array<uint8_t, kSimStatusLength>&)> on_report_delivered;
  // Called for every executed segment (one millisecond) with the laser's gate open, with
  // the X and Y the segment ends at (millionths of a step) and the power (0..1 of full duty).
  std::function<void(int64_t x_micro, int64_t y_micro, double power)> on_laser_ms;
  // The spindle output is on and the laser synchronisation output (if any) is on.
  bool LaserGateOpen() const;
  // The laser's power now, 0..1 of full duty; 0 while the gate is closed.
  double LaserPower() const;
  void SetArcCanStart(bool can_start) { arc_can_start_ = can_start; }
  // The burning arc goes out; it strikes again only after the torch has been off.
  void ExtinguishArc() {
    if (arc_burning_) loop_.arc_out = true;
  }
  bool arc_burning() const { return arc_burning_; }
  // The controller stops by itself (limit, e-stop input): mode ESTOP with this reason.
  void TriggerEstop(uint8_t reason);

  // ---- Fault injection ----
  void Disconnect();
  // Back on the bus; with `restart` the controller powers up afresh.
  void Reconnect(bool restart = false);
  void LoseStatusReads(uint32_t count) { lose_reads_ += count; }
  // The next `count` control requests fail (a stalled default pipe).
  void FailControlRequests(uint32_t count) { fail_control_requests_ += count; }
  void CorruptStatusReads(uint32_t count, StatusCorruption kind);
  // Per-read probabilities, drawn from a seeded generator (deterministic per seed). A report
  // lost at this rate is dropped on the bus and the read is answered by a later report;
  // LoseStatusReads above makes reads that never complete (a controller that stopped
  // answering).
  void SetStatusFaultRates(double lose, double corrupt, uint64_t seed);
  // The write on `pipe` that comes `skip` writes from now fails: nothing arrives and the
  // port reports the write as failed.
  void FailNextWrite(uint8_t pipe, uint32_t skip = 0);
  // The write of command `code` that comes `skip` writes of that command from now fails;
  // writes of other commands go through. Nothing of it arrives.
  void FailNextCommand(uint8_t code, uint32_t skip = 0);
  // The reply to the flash command `skip` flash commands from now is wrong or missing.
  void FailFlashReply(FlashReplyFault kind, uint32_t skip = 0);
  void SetFlashNeverReturns(bool never) { flash_never_returns_ = never; }

 private:
  enum class ProbeState { kNone, kArmed, kMoving, kMissed, kHit };
  struct Jog {
    bool active = false;
    int64_t velocity = 0;  // signed, velocity form
    int64_t remainder = 0;
  };
  struct HomeRequest {
    int axis = 0;
    bool verify = false;
  };

  void PowerOn();
  bool Quiet() const;
  bool MpgBusy() const;
  void Tick();
  void Settle();
  void StartExecution();
  void ExecuteSegment();
  void ApplySegment(const SimSegment& segment);
  void FlushQueue();
  void StopEverything();
  void StepJogs();
  void StepHoming();
  void StepMpg();
  void StepThc();
  // The analog input's raw value for the arc voltage now.
  uint16_t ArcAnalogRaw() const;
  // The loop's reading of `raw`: calibrated and, with the filter on, low-passed.
  double ReadArcVoltage(uint16_t raw);
  bool KerfCrossed(double volts);
  bool ProbeTouching() const;
  bool InputFunctionActive(int function) const;
  void SnapToStepCentre(int axis);
  std::array<int64_t, kSimAxes> WholePositions() const;

  // Command handlers, one per command code (the table in sim_commands.cpp names them).
  struct CommandEntry;
  static const CommandEntry* FindCommand(uint8_t code);
  using Payload = std::vector<uint8_t>;
  void OnJogStart(const Payload& payload);
  void OnJogStop(const Payload& payload);
  void OnProbeStart(const Payload& payload);
  void OnHomeAxis(const Payload& payload);
  void OnHomeVerifyAxis(const Payload& payload);
  void StartHoming(uint8_t code, const Payload& payload, bool verify);
  void OnSetOutputs(const Payload& payload);
  void OnSpindle(const Payload& payload);
  void OnLoadMotionConfig(const Payload& payload);
  void OnLoadIoConfig(const Payload& payload);
  void OnReleaseHold(const Payload& payload);
  void OnEndProbe(const Payload& payload);
  void OnStop(const Payload& payload);
  void OnSetForcedInputs(const Payload& payload);
  void OnThreadStart(const Payload& payload);
  void OnMpgConfig(const Payload& payload);
  void OnThcConfig(const Payload& payload);
  void OnLatchZ(const Payload& payload);
  void OnFlashErase(const Payload& payload);
  void OnFlashWrite(const Payload& payload);
  // True while the controller takes no new motion (stopped, running down or flashing).
  bool Stopped() const;

  void StepFlashRestart();
  // Queues the reply to a flash command (`write_index` -1 for the erase), unless a fault
  // changes or swallows it.
  void QueueFlashReply(uint8_t reply, int64_t write_index);
  bool ReplyReady() const;
  void MarkDelivered(const std::array<uint8_t, kSimStatusLength>& status);

  void Record(TraceKind kind, uint8_t pipe, int code, std::string name,
              std::vector<uint8_t> payload, std::string detail = {});
  void Note(uint8_t code, const std::string& detail);
  uint64_t NextRandom();

  SimControllerOptions options_;
  SimTrace trace_;
  uint64_t now_ms_ = 0;
  uint64_t boot_ms_ = 0;

  // Bus
  bool present_ = true;
  uint64_t generation_ = 1;
  const void* owner_ = nullptr;
  uint64_t owner_generation_ = 0;

  // Motion
  SimMode mode_ = SimMode::kIdle;
  std::array<int64_t, kSimAxes> pos_micro_{};
  std::array<SimSegment, kSimQueueCapacity> queue_{};
  size_t queue_head_ = 0;
  size_t queue_count_ = 0;
  bool executing_ = false;
  uint16_t executing_tag_ = 0xFFFF;
  uint32_t rundown_left_ = 0;
  uint8_t stop_reason_ = 0;
  std::array<Jog, kSimAxes> jogs_{};
  bool resync_pending_ = false;

  std::deque<HomeRequest> homing_;
  int home_phase_ = 0;  // 0..4 = HOME0..HOME4
  uint32_t home_elapsed_ = 0;
  bool home4_delivered_ = false;
  uint8_t homed_axis_ = 0;

  ProbeState probe_ = ProbeState::kNone;
  std::function<bool(const std::array<int64_t, kSimAxes>&)> probe_touching_;

  bool mpg_active_ = false;
  int32_t mpg_last_count_ = 0;
  int64_t mpg_target_micro_ = 0;
  bool mpg_moving_ = false;

  // Inputs
  uint16_t input_pins_ = 0;
  uint16_t line_word_ = 0;
  uint32_t index_period_ = 0;
  std::array<int32_t, 2> encoders_{};
  uint16_t analog_raw_ = 0;
  uint8_t extra_flags_ = 0;

  // THC
  std::function<double(const std::array<int64_t, kSimAxes>&)> arc_model_;
  bool arc_burning_ = false;
  bool arc_can_start_ = true;
  // The loop's reading and its timers, cleared at power-on.
  struct ThcLoop {
    bool arc_out = false;
    double measured_voltage = 0.0;
    double filter_input = 0.0;  // the previous unfiltered reading
    uint32_t in_window_ms = 0;  // reading within the detection window since
    uint64_t arc_ok_ms = 0;     // arc OK since
    uint32_t kerf_ms = 0;       // reading above the kerf threshold since
    bool locked = false;
    bool kerf_hold = false;
  };
  ThcLoop loop_;
  uint64_t torch_on_ms_ = 0;
  bool arc_ok_ = false;
  bool thc_active_ = false;
  bool torch_up_ = false;
  bool torch_down_ = false;
  double arc_voltage_ = 0.0;
  int64_t thc_offset_micro_ = 0;
  int64_t thc_remainder_ = 0;
  int32_t latched_z_ = 0;

  // Outputs
  uint16_t sync_outputs_ = 0;
  std::vector<SimSyncEvent> sync_events_;
  uint8_t last_laser_ = 0;
  uint64_t laser_segments_ = 0;
  bool threading_ = false;

  // Records
  std::optional<SimMotionConfig> motion_config_;
  std::optional<SimIoConfig> io_config_;
  std::optional<SimJogStart> last_jog_start_;
  std::optional<SimOutputs> last_outputs_;
  std::optional<uint32_t> last_forced_inputs_;
  std::optional<SimSpindle> last_spindle_;
  std::optional<SimMpgConfig> last_mpg_;
  std::optional<SimThcConfig> last_thc_;
  std::optional<SimThreadStart> last_thread_start_;
  std::optional<SimProbeStart> last_probe_start_;
  std::array<std::optional<std::vector<uint8_t>>, 256> last_payloads_{};

  // Flash
  std::string firmware_version_;
  bool flash_mode_ = false;
  std::vector<uint8_t> flash_;
  std::vector<bool> flash_written_;
  uint32_t flashed_length_ = 0;
  int completed_flashes_ = 0;
  struct FlashReply {
    uint8_t byte = 0;
    uint64_t ready_at = 0;
  };
  std::deque<FlashReply> replies_;
  uint32_t flash_writes_ = 0;
  std::optional<uint64_t> flash_leave_at_;
  std::optional<uint64_t> flash_return_at_;
  bool flash_never_returns_ = false;
  std::optional<FlashReplyFault> flash_fault_;
  uint32_t flash_fault_skip_ = 0;

  // Counters
  uint64_t segments_received_ = 0;
  uint64_t segment_writes_ = 0;
  uint64_t segments_executed_ = 0;
  uint64_t segments_dropped_ = 0;
  uint64_t phase_mismatches_ = 0;
  uint64_t status_reads_ = 0;

  // Injected faults
  uint32_t lose_reads_ = 0;
  uint32_t fail_control_requests_ = 0;
  uint32_t corrupt_reads_ = 0;
  StatusCorruption corrupt_kind_ = StatusCorruption::kWrongMarker;
  double lose_rate_ = 0.0;
  double corrupt_rate_ = 0.0;
  uint64_t rng_state_ = 0;
  // Armed write faults: how many more writes (of the pipe, of the command) go through first.
  std::array<std::optional<uint32_t>, 256> fail_write_{};
  std::array<std::optional<uint32_t>, 256> fail_command_{};
};

}  // namespace kelvro::sim
