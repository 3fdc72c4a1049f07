// Trajectory streaming: keeps the controller's segment queue filled from the host's
// trajectory ring or from the plugin's own moves (idle Z move, Z-correction move, probe
// move), without ever overfilling it; counts down dwells and marks the end of threading.
#pragma once

#include <cstdint>

#include "motion/motion_context.h"
#include "motion/probing.h"
#include "motion/segment_record.h"
#include "motion/status_decoder.h"
#include "motion/status_poll.h"
#include "motion/straight_move.h"
#include "motion/thc_runtime.h"
#include "motion/z_correction_hooks.h"

namespace kelvro {

class Streaming {
 public:
  Streaming(const MotionContext& context, StatusDecoder& decoder, StatusPoll& poll,
            const ThcRuntime& thc, Probing& probing, ZCorrectionHooks& zcorr)
      : ctx_(context),
        decoder_(decoder),
        poll_(poll),
        thc_(thc),
        probing_(probing),
        zcorr_(zcorr) {}

  // Tail step 3: one tick of streaming.
  void StreamTick();
  // Tick step 5: threading start (ThreadStart) and the end marker of the first segment
  // streamed after threading ended.
  void Threading();
  // The streams are reset (Reset, host stop): the plugin's own moves end.
  void ResetStreams();
  // Reset: threading is over and no marker is due.
  void ClearThreading();

  // DoDwell: motion waits `ticks` ticks once the host is idle.
  void StartDwell(int ticks) { dwell_ticks_ = ticks; }
  int dwell_ticks() const { return dwell_ticks_; }
  bool dwell_counting() const { return dwell_ticks_ != 0; }
  // After a Reset: a marker of the old connection is void.
  void AfterReset() { sync_marker_ = -1; }

 private:
  // The plugin's own idle Z move (Z follows the correction while the program waits).
  struct IdleZMove {
    bool active = false;
    bool more_to_send = false;
  };

  int QueueFill() const { return poll_.QueueFill(decoder_.last().buffer_fill); }
  bool StreamIdleZMove(int& fill);
  bool StreamStraightMove(StraightMove& move, bool is_probe_move, int& fill);
  void StreamHostRing(int& fill);
  void SegmentAxis(int axis, double target, SegmentRecord& record);
  void FillRecord(const Axes& targets, SegmentRecord& record);
  void AppendRecord(const SegmentRecord& record);
  void SendReleaseHold();
  // After the mirror was re-taken from the host, the last ring target is no longer where the
  // program's Z stands (a jog, homing, a probe or the plugin's own moves came between): it is
  // taken from the mirror, less the correction Z holds.
  void TakeProgramZFromMirror();

  MotionContext ctx_;
  StatusDecoder& decoder_;
  StatusPoll& poll_;
  const ThcRuntime& thc_;
  Probing& probing_;
  ZCorrectionHooks& zcorr_;
  IdleZMove idle_z_;
  // The program's Z where the machine rests: the Z target of the last streamed ring entry,
  // or where Z stands less the correction once the mirror was re-taken.
  double last_host_z_ = 0.0;
  uint64_t mirror_reloads_seen_ = 0;
  int dwell_ticks_ = 0;   // DoDwell countdown in ticks
  int sync_marker_ = -1;  // ring index that carries the threading end marker
  bool threading_was_active_ = false;
};

}  // namespace kelvro
