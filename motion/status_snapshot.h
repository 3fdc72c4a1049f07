// What the status window is given for each status report: the report itself and the few
// host and plugin values it shows alongside, all taken on the host's GUI thread by the tick.
// It is a plain value: the window's thread reads only its own copy, never the host's blocks
// or memory the tick writes.
#pragma once

#include "device/commands.h"

namespace kelvro {

struct StatusSnapshot {
  StatusPacket packet;
  // The host's threading flag.
  bool threading = false;
  // Z correction is applied; `z_original` is then the uncorrected Z in work units.
  bool zcorr_active = false;
  double z_original = 0.0;
  // The spindle runs as a step/dir axis: its counter shows the word after the six positions.
  bool spindle_axis = false;

  bool operator==(const StatusSnapshot&) const = default;
};

// Told of every status report the tick decodes (the status window's feed).
class StatusListener {
 public:
  virtual ~StatusListener() = default;
  virtual void OnStatus(const StatusSnapshot& snapshot) = 0;
};

}  // namespace kelvro
