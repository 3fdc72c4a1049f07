// What the motion objects ask of the Z height correction. The correction itself (its map,
// follower and moves) lives in zcorr/ and implements this; the motion code only calls it at
// the points where Z correction takes part in streaming, jogging, homing and probing.
#pragma once

#include "motion/straight_move.h"

namespace kelvro {

// How close (steps) the executed Z must be to the corrected target to count as there. Far
// above the rounding of a position kept as steps + 0.5 in a double (below 1e-6 steps over the
// whole 32-bit step range), far below anything a machine shows.
constexpr double kZSettledSteps = 1e-3;

class ZCorrectionHooks {
 public:
  virtual ~ZCorrectionHooks() = default;

  // Correction is being applied to motion.
  virtual bool active() const = 0;

  // Step 1 of every service tick: the activation steps.
  virtual void Tick() = 0;
  // After the position mirror was reloaded from the host.
  virtual void Resync() = 0;
  // The correction in Z steps to add to one 1 ms segment whose uncorrected target is
  // (x, y, z) in steps.
  virtual double FollowStep(double x, double y, double z) = 0;
  // The corrected Z (steps) that following a segment with uncorrected target (x, y, z) in
  // steps heads for, within the limits the correction keeps.
  virtual double CorrectedTarget(double x, double y, double z) const = 0;
  // Starts the Z-correction straight move to the corrected height.
  virtual void MoveToCorrectedZ() = 0;
  // The Z-correction straight move, streamed by the segment streaming.
  virtual StraightMove& move() = 0;

  // Streaming: the correction contained in the Z position, in steps; whether the follower
  // has reached its target and can stop there.
  virtual double applied_steps() const = 0;
  virtual bool follower_settled() const = 0;
  // Streaming: a started Z-correction move whose end is still to be handled.
  virtual bool start_move_waiting() const = 0;
  virtual void EndStartMoveWait() = 0;
  // X or Y was jogged since Z was last corrected; taking it clears it.
  virtual bool xy_jogged() const = 0;
  virtual bool TakeXYJogged() = 0;
  // The streams were reset (Reset, host stop): correction starts again afterwards.
  virtual void OnStreamsReset() = 0;

  // Jogging: a jog request for `axis`. False when the request is taken by the correction
  // (Z is moved to the corrected height, or ignored while X or Y still move) and must not
  // start a jog.
  virtual bool AllowJog(int axis, bool x_or_y_jogging) = 0;
  // A jog of `axis` has started.
  virtual void OnJogStarted(int axis) = 0;
  // Homing of Z starts.
  virtual void OnHomeZ() = 0;
  // The correction in units at machine position (x, y) in units (0 when not active).
  virtual double CorrectionAt(double x, double y) const = 0;
};

}  // namespace kelvro
