#include "motion/link_watchdog.h"

namespace kelvro {

void LinkWatchdog::Check() {
  DeviceLink& link = ctx_.link;
  if (link.connected()) {
    ++missed_polls_;
    // A link closed under the connected flag (a failed segment write, a failed write
    // during Reset) can never deliver a report again: it is lost now, not 20 ticks later.
    if (missed_polls_ > kMissedPollsLimit || !link.IsOpen()) LinkLost();
  } else {
    missed_polls_ = 0;
    // A failed command write clears the connected flag inside the transport; without this
    // the watchdog, which counts only while connected, would never stop the host. A Reset
    // clears the flag on purpose (and its message boxes and the firmware update let ticks
    // run meanwhile): that is no loss.
    if (link_seen_connected_ && reset_complete_) LinkLost();
  }
  link_seen_connected_ = link.connected() && reset_complete_;
}

void LinkWatchdog::EndReset() {
  reset_complete_ = true;
  // Whatever the link did before belongs to the old connection.
  link_seen_connected_ = ctx_.link.connected();
}

void LinkWatchdog::LinkLost() {
  HostMachineState& machine = *ctx_.host.machine;
  ctx_.link.Close();
  ctx_.link.set_connected(false);
  link_seen_connected_ = false;
  ctx_.host.ShowStatus(kConnectionClosed);
  machine.estop = 1;
  if (ctx_.settings.deref_on_disc) {
    for (int k = 0; k < kAxisCount; ++k) machine.motors[k].referenced = 0;
  }
}

}  // namespace kelvro
