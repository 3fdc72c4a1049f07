// Z height correction: the state the motion code consults while streaming, jogging,
// homing and probing. The correction grid and its moves are not built yet: without a
// loaded map, correction never becomes active and every hook leaves motion unchanged.
#pragma once

namespace kelvro {

struct ZFollower {
  double pos = 0.0;
  double vel = 0.0;
  double target = 0.0;
  double v_max = 0.0;
  double a_max = 0.0;
};

class ZCorrection {
 public:
  bool enabled = false;  // the user's choice; off after every settings load
  bool active = false;   // correction applied to motion
  int activation_step = 0;
  bool start_move_wait = false;
  double applied_steps = 0.0;
  bool xy_jogged = false;
  ZFollower follower;

  bool MapLoaded() const { return false; }
  // Correction in host units at (x, y) in host units.
  double CorrectionAt(double /*x*/, double /*y*/) const { return 0.0; }
};

}  // namespace kelvro
