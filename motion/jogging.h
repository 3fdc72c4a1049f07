// Jogging started and stopped by the host. The controller runs the jog by itself; the plugin
// checks that a jog may start, sends JogStart / JogStop and keeps the host's jog flags in
// step with what it has sent.
#pragma once

#include <array>

#include "motion/motion_context.h"
#include "motion/status_decoder.h"
#include "motion/z_correction_hooks.h"

namespace kelvro {

class Jogging {
 public:
  Jogging(const MotionContext& context, const StatusDecoder& decoder, ZCorrectionHooks& zcorr)
      : ctx_(context), decoder_(decoder), zcorr_(zcorr) {}

  // `direction` 0 jogs positive, anything else negative; `speed` 0 jogs at the axis's
  // maximum velocity scaled by the host's jog rate.
  void JogOn(int axis, int direction, double speed);
  void JogOff(int axis);

  // The plugin has sent JogStart for this axis and no JogStop since.
  bool jogging(int axis) const { return jogging_[static_cast<size_t>(axis)]; }

 private:
  MotionContext ctx_;
  const StatusDecoder& decoder_;
  ZCorrectionHooks& zcorr_;
  std::array<bool, kAxisCount> jogging_{};
  std::array<int, kAxisCount> direction_{};
  bool jog_mode_remembered_ = false;
};

}  // namespace kelvro
