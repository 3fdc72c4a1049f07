// The torch height control at run time: torch signals and voltage from the reports into the
// host, the target voltage following DRO 1501, the hold of motion until the arc is
// established after a torch start, the ThcConfig payload, manual THC by keyboard, the
// ignition count and cut time, and the voltage log.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/commands.h"
#include "motion/motion_context.h"
#include "motion/thc.h"

namespace kelvro {

// Shown while the torch-start wait is switched on but nothing can ever give arc OK.
inline constexpr char kTorchHoldWarning[] =
    "Warning: no arc OK source; waiting for THC_ON is skipped.";

// Whether anything gives the host arc OK: the host's arc-OK input wired to a pin, the host's
// arc-OK emulation, or the controller's arc detection (internal THC with detection on).
bool ArcOkHasSource(bool internal_thc, bool arc_detect, const Host& host);
// The warning for THCDwell on without any arc-OK source: the torch-start hold could only end
// at the torch stop, so the plugin does not arm it. Empty when the wait can end.
std::optional<std::string> TorchHoldWarning(const PluginSettings& settings, const Host& host);

class ThcRuntime {
 public:
  explicit ThcRuntime(const MotionContext& context) : ctx_(context) {}

  // Step 17 of the decode: voltage DRO, torch up/down inputs, LED 1500, arc OK and the
  // voltage log.
  void DecodeSignals(const StatusPacket& packet);
  // Arc OK into the host's input record (unless a pin drives it): the controller's flag with
  // arc detection on, or the torch itself when the host emulates arc OK.
  void UpdateArcOk(const StatusPacket& last);
  // Tail step 1: the target voltage follows DRO 1501 (limited to 300 V), except while the
  // plugin writes that DRO itself.
  void FollowTargetVoltage();
  // Tail step 3: the arc is there, motion may go on. `dwell_counting`: a dwell still counts
  // down and keeps the host's dwell word.
  void ReleaseHoldOnArc(bool dwell_counting);
  // Tick step 6: the controller's THC Z offset into the host while THC mode is on.
  // `predates_readback`: the report was read before the last Z read-back, which took the
  // offset into Z; its offset is gone and is not written.
  void ApplyZOffset(const StatusPacket& last, bool predates_readback);
  // Tick step 8: ignitions and cut time, while THC mode is on and no E-stop.
  void TimeArc();

  // Spindle start in THC mode with THCDwell: motion waits for arc OK. Without any source of
  // arc OK the wait could only end at the torch stop: nothing is held, and the host's status
  // line says why. True when the hold is armed.
  bool HoldForTorchStart();
  // Spindle stop: the hold ends.
  void ReleaseTorchStartHold(bool dwell_counting);
  // Reset and host stop: the hold ends without touching the dwell word.
  void ClearTorchStartHold() { torch_start_hold_ = false; }
  bool torch_start_hold() const { return torch_start_hold_; }

  // ManualTHC with Num Lock on.
  bool ManualActive() const;
  // The ThcConfig payload for the current settings and host values.
  std::array<uint8_t, kThcConfigSize> ConfigPayload() const;
  // ThcConfig goes out again even when unchanged (the THC page asks for that).
  void RequestConfigResend() { resend_ = true; }
  bool TakeConfigResend() {
    const bool resend = resend_;
    resend_ = false;
    return resend;
  }
  bool config_resend_requested() const { return resend_; }

  double target_voltage() const { return target_voltage_; }
  // Writes DRO 1501 on the plugin's own behalf: the target voltage becomes `volts`.
  void WriteTargetVoltage(double volts);
  // Set while the plugin writes DRO 1501 itself: the tick does not take that write as a
  // new target.
  void set_own_target_write(bool writing) { writing_dro1501_ = writing; }

  // THC page option "Log voltage to file" (not a profile setting; starts off).
  void set_voltage_log(bool on) { voltage_log_on_ = on; }
  bool voltage_log() const { return voltage_log_on_; }
  ThcVoltageLog& voltage_log_file() { return voltage_log_; }

  // Arc-OK rising edges and milliseconds with arc OK while THC mode is on; read and reset
  // by the advanced THC dialog.
  int ignition_count() const { return ignition_count_; }
  int64_t cut_time_ms() const { return cut_time_ms_; }
  void ResetCounters() {
    ignition_count_ = 0;
    cut_time_ms_ = 0;
  }

 private:
  MotionContext ctx_;
  bool torch_start_hold_ = false;
  double target_voltage_ = 100.0;
  bool writing_dro1501_ = false;
  bool resend_ = false;
  bool voltage_log_on_ = false;
  ThcVoltageLog voltage_log_;
  int ignition_count_ = 0;
  int64_t cut_time_ms_ = 0;
  bool arc_was_on_ = false;
  uint32_t arc_t0_ms_ = 0;
};

}  // namespace kelvro
