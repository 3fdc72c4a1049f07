// The drilling cycles G73, G81, G82, G83, G85 and G89 of the XY plane, one hole at a time,
// as the host carries them out: turned into rapid moves, feed moves and dwells.
//
// Every hole begins with the same preliminary motion: when Z is below the retract plane R,
// Z rises to R first; then X and Y go to the hole at rapid, and Z goes to R (when it is not
// there yet). The cycles then differ:
//   G81  feed to the bottom, rapid out
//   G82  feed to the bottom, dwell, rapid out
//   G83  peck: feed down by Q, rapid up to R, rapid back down to `clearance` above the
//        depth reached, feed on by Q; until the bottom is reached; then rapid out
//   G73  chip breaking: feed down by Q, rapid up by `clearance`, feed on; until the
//        bottom; then rapid out
//   G85  feed to the bottom, feed back up to R, rapid out
//   G89  feed to the bottom, dwell, feed back up to R, rapid out
// "Out" is the clear height: R with G99, with G98 the Z the hole began at when that lies
// above R (else R).
#pragma once

#include <string>
#include <vector>

#include "sim/machine_profile.h"

namespace kelvro::sim {

struct DrillCycle {
  int code = 81;   // 73, 81, 82, 83, 85 or 89
  double x = 0.0;  // the hole, machine coordinates
  double y = 0.0;
  double retract_z = 0.0;      // R
  double bottom_z = 0.0;       // Z, not above R
  double peck = 0.0;           // Q, above 0 (G73, G83)
  double dwell_seconds = 0.0;  // P (G82, G89)
  bool retract_to_r = false;   // G99; G98 otherwise
  double clearance = 0.0;      // G73's retract, G83's stop above the depth reached
};

struct CycleStep {
  enum class Kind { kRapid, kFeed, kDwell } kind = Kind::kRapid;
  Position target{};     // moves: the end point (X, Y, Z changed, the other axes as before)
  double seconds = 0.0;  // dwells
};

inline constexpr int kMaxPecks = 10000;

// The steps of one hole from `start`. Moves that would go nowhere are left out. False with a
// message (no line prefix) when the pecks would be more than kMaxPecks.
bool ExpandDrillCycle(const DrillCycle& cycle, const Position& start, std::vector<CycleStep>* steps,
                      std::string* error);

}  // namespace kelvro::sim
