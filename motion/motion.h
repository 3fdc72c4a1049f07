// Motion control: the 25 ms service tick, trajectory streaming, jogging, homing and
// probing. One instance per plugin; it borrows the plugin's other subsystems.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/commands.h"
#include "motion/laser_curve.h"
#include "motion/sent_copy.h"
#include "motion/straight_move.h"
#include "motion/streaming.h"
#include "motion/thc.h"
#include "plugin/controller_config.h"
#include "plugin/host.h"
#include "settings/plugin_settings.h"

namespace kelvro {

class DeviceLink;
class Platform;
class ZCorrection;

struct MotionContext {
  Host& host;
  Platform& platform;
  PluginSettings& settings;
  DeviceLink& link;
  ZCorrection& zcorr;
  ControllerConfig& config;         // built by the last Reset
  PreparedLaserCurve& laser_curve;  // prepared by the last Reset

  // Writes the host's status text (all progress and refusal messages go through here).
  void ShowStatus(std::string_view text) const;
};

// State shared between the tick and the entry points.
struct TickState {
  int missed_polls = 0;
  std::array<double, 6> position_mirror{};  // steps + 0.5
  std::array<int32_t, 6> last_written{};
  std::array<int32_t, 6> velocity_baseline{};
  uint32_t baseline_timestamp = 0;
  bool first_packet_done = false;
  bool resync_request = false;
  bool reset_complete = true;
  int probe_settle_count = 0;
  bool probe_ended = false;
  int homing_count = 0;

  // Latest decoded status report.
  StatusPacket last_packet{};
  bool have_packet = false;

  // Mapping of the analog input and the encoders, copied from the settings by Reset.
  std::array<InputMapping, 3> mappings{};
  std::array<int32_t, 2> encoder_baselines{};
  std::array<int, 2> encoder_host_map{};  // MapEnc + 1, 0 when switched off
  bool mpg_by_controller = false;         // HwMPG as copied by Reset
  double mpg_scale = 1.0;

  // Probe-hit hold shown to the host by Update.
  bool probe_hit_hold = false;
  bool probe_hold_release = false;

  int dwell_ticks = 0;            // DoDwell countdown in ticks
  bool torch_start_hold = false;  // motion waits for arc OK
  double thc_target_voltage = 100.0;
  bool writing_dro1501 = false;  // the plugin itself is writing DRO 1501
  bool thc_resend = false;
  bool threading_was_active = false;

  // THC page option "Log voltage to file" (not a profile setting; starts off).
  bool thc_voltage_log = false;
  // Arc-OK rising edges and milliseconds with arc OK while THC mode is on; read and reset
  // by the advanced THC dialog.
  int ignition_count = 0;
  int64_t cut_time_ms = 0;
};

// Jogging started by the plugin.
struct JogState {
  std::array<bool, 6> jogging{};
  std::array<int, 6> direction{};
  bool jog_mode_remembered = false;
};

// Probe log options (edited in the probe log options dialog).
struct ProbeLogOptions {
  bool log_enabled = false;
  bool compensation = false;
  double d = 2.0;    // mm
  double c1 = 0.05;  // mm
  double c2 = 0.05;  // mm
  bool machine_coordinates = false;
  std::string separator = ",";
};

class Motion {
 public:
  explicit Motion(const MotionContext& context);

  const MotionContext& context() const { return ctx_; }
  TickState& state() { return state_; }
  const TickState& state() const { return state_; }

  void ServiceTick();

  void JogOn(int axis, int direction, double speed);
  void JogOff(int axis);
  void Home(int axis);
  void Probe();

  void HomingReset();
  void ProbeReset();
  void ResetStreams();
  // After a Reset: request a resync, re-take the encoder baselines and send every state
  // command again on the next tick.
  void AfterReset();

  void ProbeLogStart();
  void ProbeLogFinish();

  JogState& jog() { return jog_; }
  ProbeLogOptions& probe_log_options() { return probe_log_; }
  StraightMove& probe_move() { return probe_move_; }
  StraightMove& zcorr_move() { return zcorr_move_; }

 private:
  // Sequence events reported by the controller, called from the tick's decode.
  void OnHomingFinished(const StatusPacket& packet);  // sequence HOME4
  void OnProbeMissed();                               // PROBE1 with mode IDLE
  void OnProbeHit(const StatusPacket& packet);        // PROBE2
  void WriteProbeLogEntry();

  // ---- Service tick (service_tick.cpp) ----
  void PollStatus();
  // False for a report in mode ESTOP: the rest of the tick's decode and its tail are skipped.
  bool Decode(const StatusPacket& packet);
  void DecodeInputs(const StatusPacket& packet);
  void DecodeThcSignals(const StatusPacket& packet);
  void DecodeAnalogMapping(const StatusPacket& packet);
  void DecodeEncoders(const StatusPacket& packet, bool first_packet);
  void AddToMappingTarget(const InputMapping& mapping, double amount);
  void UpdateArcOk();
  void TickTail();
  void FollowTargetVoltage();
  void LinkWatchdog();
  void LinkLost();
  void Threading();
  void SendStateCommands();
  uint16_t OutputModeFlags() const;
  uint32_t ForcedInputBits() const;
  bool ManualThcActive() const;
  void TimeArc();
  // The status window and the THC options page are fed from here once they exist.
  void PostStatusToWindows(const StatusPacket& packet);

  // ---- Streaming (streaming.cpp) ----
  void StreamTick();
  int EffectiveFill() const;
  bool StreamIdleZMove(int& fill);
  bool StreamStraightMove(StraightMove& move, bool is_probe_move, int& fill);
  void StreamHostRing(int& fill);
  void SegmentAxis(int axis, double target, SegmentRecord& record);
  void FillRecord(const Axes& targets, SegmentRecord& record);
  void AppendRecord(const SegmentRecord& record);
  void SendReleaseHold();

  // ---- Z correction hooks. The correction is not built: no map can be loaded, so it
  // never becomes active and these leave motion unchanged. ----
  void ZCorrectionTick();
  void ZCorrectionResync();
  double ZFollowStep(double x, double y, double z);
  void MoveToCorrectedZ();

  MotionContext ctx_;
  TickState state_;
  JogState jog_;
  ProbeLogOptions probe_log_;
  int64_t probe_log_start_seconds_ = 0;
  StraightMove probe_move_;
  StraightMove zcorr_move_;

  // Service tick state.
  bool link_seen_connected_ = false;  // connected flag as the last tick (or Reset) left it
  uint16_t changed_axes_ = 0;         // host-overwritten axes found by the last decode
  int sync_marker_ = -1;              // ring index that carries the threading end marker
  SentCopy<kSetOutputsSize> sent_outputs_;
  SentCopy<kSetForcedInputsSize> sent_forced_inputs_;
  SentCopy<kMpgConfigSize> sent_mpg_;
  SentCopy<kThcConfigSize> sent_thc_;
  ThcVoltageLog voltage_log_;
  bool arc_was_on_ = false;
  uint32_t arc_t0_ms_ = 0;

  // Streaming state.
  IdleZMove idle_z_;
  double last_host_z_ = 0.0;  // Z target of the last streamed ring entry
  // Segments streamed since load, and that count when the status read that delivered the
  // last report was started: the report's fill cannot contain segments sent after that.
  uint64_t streamed_total_ = 0;
  uint64_t read_start_mark_ = 0;
  uint64_t report_mark_ = 0;
  bool read_tracked_ = false;
  bool have_new_status_ = false;
  std::array<uint8_t, kStatusPacketSize> status_bytes_{};
};

}  // namespace kelvro
