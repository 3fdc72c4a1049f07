// Probing: the plugin plans the probe move as an internal straight move, which the
// streaming sends like any other motion, and arms the controller with ProbeStart. The
// controller stops on the probe input; the decode then reports the hit (or the miss) here.
// Hits can be appended to a probe log.
#pragma once

#include <cstdint>
#include <string>

#include "device/commands.h"
#include "motion/motion_context.h"
#include "motion/status_decoder.h"
#include "motion/straight_move.h"
#include "motion/z_correction_hooks.h"

namespace kelvro {

// Probe log options (edited in the probe log options dialog).
struct ProbeLogOptions {
  bool log_enabled = false;
  bool compensation = false;
  double d = 2.0;    // mm
  double c1 = 0.05;  // mm
  double c2 = 0.05;  // mm
  bool machine_coordinates = false;
  int separator_index = 0;  // the choice in the options dialog
  std::string separator = ",";
};

class Probing {
 public:
  Probing(const MotionContext& context, StatusDecoder& decoder, ZCorrectionHooks& zcorr);

  // The host's Probe entry point.
  void Probe();
  // Decode step 5: once the controller rests after a hit, EndProbe goes out (after two
  // settling reports).
  void OnReport(const StatusPacket& packet);
  // Sequence events of the decode, each taken once.
  void OnMissed();                         // PROBE1 with mode IDLE
  void OnHit(const StatusPacket& packet);  // PROBE2
  // Probe reset: the move ends and no axis waits for a probe any more.
  void Reset();

  // Update step 4: the host's probe input stays on from a hit until EndProbe went out.
  void UpdateHostProbeInput();
  // Update step 10: probe-log timing on the edges of LED 804.
  void UpdateLogTiming();

  // A hit is settling: no streaming, and the host is not idle.
  bool settling() const { return settle_count_ != 0; }
  // A hit was taken and EndProbe has not gone out yet.
  bool ended() const { return ended_; }
  bool hit_hold() const { return hit_hold_; }
  bool hold_release() const { return hold_release_; }
  int settle_count() const { return settle_count_; }
  StraightMove& move() { return move_; }
  ProbeLogOptions& log_options() { return log_; }

 private:
  void WriteLogEntry();
  void LogStart();
  void LogFinish();

  MotionContext ctx_;
  StatusDecoder& decoder_;
  ZCorrectionHooks& zcorr_;
  StraightMove move_;
  int settle_count_ = 0;
  bool ended_ = false;
  bool hit_hold_ = false;
  bool hold_release_ = false;
  bool probe_input_latch_ = false;
  ProbeLogOptions log_;
  int64_t log_start_seconds_ = 0;
  bool led804_previous_ = false;
};

}  // namespace kelvro
