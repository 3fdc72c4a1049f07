// Z height correction: the state the motion objects consult while streaming, jogging,
// homing and probing, behind the hooks they call. The correction grid and its moves are not
// built yet: without a loaded map, correction never becomes active and every hook leaves
// motion unchanged.
#pragma once

#include "motion/motion_context.h"
#include "motion/straight_move.h"
#include "motion/z_correction_hooks.h"

namespace kelvro {

class ServiceTick;

// The correction's state as the page and the tests see it.
struct ZCorrectionState {
  bool enabled = false;  // the user's choice; off after every settings load
  bool active = false;   // correction applied to motion
  int activation_step = 0;
  bool start_move_wait = false;  // a started Z-correction move's end is still to be handled
  double applied_steps = 0.0;    // the correction contained in the Z position, Z steps
  bool xy_jogged = false;        // X or Y jogged since Z was last corrected
};

struct ZFollower {
  double pos = 0.0;
  double vel = 0.0;
  double target = 0.0;
  double v_max = 0.0;
  double a_max = 0.0;
};

class ZCorrection final : public ZCorrectionHooks {
 public:
  // `tick` is only stored here, so the tick may be constructed after this object.
  ZCorrection(const MotionContext& context, ServiceTick& tick);

  ZCorrectionState& state() { return state_; }
  const ZCorrectionState& state() const { return state_; }
  ZFollower& follower() { return follower_; }

  bool enabled() const { return state_.enabled; }
  void set_enabled(bool enabled) { state_.enabled = enabled; }
  // Correction stops being applied (THC mode took over).
  void Deactivate() { state_.active = false; }
  bool MapLoaded() const { return false; }

  bool active() const override { return state_.active; }
  void Tick() override {}
  void Resync() override {}
  double FollowStep(double, double, double) override { return 0.0; }
  void MoveToCorrectedZ() override {}
  StraightMove& move() override { return move_; }
  double applied_steps() const override { return state_.applied_steps; }
  double follower_pos() const override { return follower_.pos; }
  double follower_target() const override { return follower_.target; }
  bool start_move_waiting() const override { return state_.start_move_wait; }
  void EndStartMoveWait() override { state_.start_move_wait = false; }
  bool TakeXYJogged() override;
  void OnStreamsReset() override;
  bool AllowJog(int axis, bool x_or_y_jogging) override;
  void OnJogStarted(int axis) override;
  void OnHomeZ() override;
  double CorrectionAt(double, double) const override { return 0.0; }

 private:
  MotionContext ctx_;
  [[maybe_unused]] ServiceTick& tick_;
  ZCorrectionState state_;
  ZFollower follower_;
  StraightMove move_;
};

}  // namespace kelvro
