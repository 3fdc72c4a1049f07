// Z height correction at run time: while active, every Z position the plugin streams is
// raised or lowered by the map's value at the segment's X/Y, through a follower that limits
// the speed and acceleration of the added offset. Starting correction can first bring Z to
// the corrected height or to the host's SafeZ; the host's idea of Z is kept consistent with
// the offset through resynchronisation, jogging, homing and probing; and three commands set
// the host's Z work offset with the map in mind. The map itself is zcorr/z_map.h.
#pragma once

#include <array>
#include <string>

#include "motion/motion_context.h"
#include "motion/straight_move.h"
#include "motion/z_correction_hooks.h"
#include "zcorr/z_map.h"

namespace kelvro {

class ServiceTick;

// The correction's state as the page and the tests see it.
struct ZCorrectionState {
  bool enabled = false;  // the user's choice; off after every settings load
  bool active = false;   // correction applied to motion
  // 0 idle, 1 start requested, 2 waiting for the start move, 3 activate now, 4 finished.
  int activation_step = 0;
  bool start_move_wait = false;  // a started Z-correction move's end is still to be handled
  double applied_steps = 0.0;    // the correction contained in the Z position, Z steps
  bool xy_jogged = false;        // X or Y jogged since Z was last corrected
};

// The corrected Z, one millisecond at a time, in Z steps and milliseconds. It moves the
// executed Z (the program's Z plus the correction) as one motion, so that together they
// never exceed the Z axis's speed and acceleration: the correction gets only what the
// program's own Z motion leaves, and catches up once the program lets it.
struct ZFollower {
  double pos = 0.0;     // current corrected Z
  double vel = 0.0;     // steps per ms, signed
  double target = 0.0;  // corrected Z wanted
  double v_max = 0.0;   // steps per ms
  double a_max = 0.0;   // steps per ms^2
  // The target of the previous millisecond, whose change is the speed the target moves at;
  // none right after the follower was (re)started at rest.
  double last_target = 0.0;
  bool has_last_target = false;
};

// Bounds the follower brakes for (steps): it never runs past them under its own power.
struct ZBrakeBounds {
  double low = -1e30;
  double high = 1e30;
};

class ZCorrection final : public ZCorrectionHooks {
 public:
  // `tick` is only stored here, so the tick may be constructed after this object.
  ZCorrection(const MotionContext& context, ServiceTick& tick);

  ZCorrectionState& state() { return state_; }
  const ZCorrectionState& state() const { return state_; }
  ZFollower& follower() { return follower_; }
  const ZFollower& follower() const { return follower_; }
  ZCorrectionMap& map() { return map_; }
  const ZCorrectionMap& map() const { return map_; }

  bool enabled() const { return state_.enabled; }
  void set_enabled(bool enabled) { state_.enabled = enabled; }
  // Correction stops being applied (THC mode took over); it stays off until the next Reset.
  void Deactivate() { state_.active = false; }

  // The map from the settings' file, loaded when there is none yet (told to the user when
  // that fails); and a fresh load of it, dropping the old map (the configuration dialog's
  // reload and a change of the normalisation mode).
  bool EnsureLoaded();
  bool Reload();

  // The work-offset commands of the Z correction page. Each first makes sure a map is
  // loaded and does nothing without one. `offsets_at_open` are DROs 47, 48, 49 as the
  // configuration dialog found them when it opened.
  void ZeroZ();
  void CorrectZOffset(const std::array<double, 3>& offsets_at_open);
  void AutoSetZOffset();

  // The follower's one-millisecond step towards its target: as fast as its speed and
  // acceleration allow, moving along with a target that moves at `target_speed` (steps per
  // ms), braking so that it stops exactly on a target that stands still and never runs past
  // `bounds`. Speed and acceleration are never exceeded, whatever the target does.
  void FollowerStep(double target_speed = 0.0, const ZBrakeBounds& bounds = {});
  // The fastest speed (steps per ms) from which braking at `acceleration` (steps per ms
  // per ms) stops within `distance` steps, in whole milliseconds.
  static double StopSpeed(double distance, double acceleration);
  // How far a speed brakes down to rest at `acceleration`, in whole milliseconds: the
  // distance StopSpeed gives that speed for.
  static double BrakingDistance(double speed, double acceleration);
  // The follower stands on its target and can stop there within one millisecond.
  bool FollowerSettled() const;
  // Starts the Z-correction move to SafeZ.
  void MoveToSafeZ();

  // ---- ZCorrectionHooks ----
  bool active() const override { return state_.active; }
  void Tick() override;
  void Resync() override;
  double FollowStep(double x, double y, double z) override;
  double CorrectedTarget(double x, double y, double z) const override;
  void MoveToCorrectedZ() override;
  StraightMove& move() override { return move_; }
  double applied_steps() const override { return state_.applied_steps; }
  bool follower_settled() const override { return FollowerSettled(); }
  bool start_move_waiting() const override { return state_.start_move_wait; }
  void EndStartMoveWait() override { state_.start_move_wait = false; }
  bool xy_jogged() const override { return state_.xy_jogged; }
  bool TakeXYJogged() override;
  void OnStreamsReset() override;
  bool AllowJog(int axis, bool x_or_y_jogging) override;
  void OnJogStarted(int axis) override;
  void OnHomeZ() override;
  double CorrectionAt(double x, double y) const override { return map_.ZCorrectionAt(x, y); }

 private:
  // The limit clamp applies with ZLimitCorr and the host's soft limits on.
  bool LimitClamp() const;
  double ZSteps() const;
  // The follower starts again from rest: speed 0, no target speed known.
  void StopFollower();
  // Sets AppliedSteps and the host's Z offset (truncated) together.
  void SetApplied(double steps);
  // The mirror's position in units, per axis.
  Axes MirrorUnits() const;
  void StartMove(const Axes& start, const Axes& end, const char* status);
  void Activate();

  MotionContext ctx_;
  ServiceTick& tick_;
  ZCorrectionState state_;
  ZFollower follower_;
  StraightMove move_;
  ZCorrectionMap map_;
};

}  // namespace kelvro
