// Homing: the controller runs the whole homing sequence of an axis by itself and reports its
// end as sequence HOME4. The plugin starts it, counts the homing commands still outstanding
// and marks the reported axis as referenced in the host.
#pragma once

#include "device/commands.h"
#include "motion/motion_context.h"
#include "motion/status_decoder.h"
#include "motion/z_correction_hooks.h"

namespace kelvro {

class Homing {
 public:
  Homing(const MotionContext& context, StatusDecoder& decoder, ZCorrectionHooks& zcorr)
      : ctx_(context), decoder_(decoder), zcorr_(zcorr) {}

  void Home(int axis);
  // Sequence HOME4 reported by the controller (taken once per report change).
  void OnFinished(const StatusPacket& packet);
  // Clears the count and the host's homing flags.
  void Reset();
  // Homing commands still outstanding.
  int count() const { return count_; }

 private:
  MotionContext ctx_;
  StatusDecoder& decoder_;
  ZCorrectionHooks& zcorr_;
  int count_ = 0;
};

}  // namespace kelvro
