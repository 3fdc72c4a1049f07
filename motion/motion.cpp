#include "motion/motion.h"

#include "device/device_link.h"
#include "plugin/platform.h"

namespace kelvro {

void MotionContext::ShowStatus(std::string_view text) const {
  host.SetStatusText(text);
  platform.StatusTextWritten(text);
}

Motion::Motion(const MotionContext& context) : ctx_(context) {
  // Neither internal move has run yet: there is no end of theirs to release.
  probe_move_.release_suppressed = true;
  zcorr_move_.release_suppressed = true;
}

void Motion::AfterReset() {
  state_.resync_request = true;
  // The next report re-takes the encoder baselines.
  state_.first_packet_done = false;
  sent_outputs_.Invalidate();
  sent_forced_inputs_.Invalidate();
  sent_mpg_.Invalidate();
  sent_thc_.Invalidate();
  // Whatever the link did before belongs to the old connection; the controller's queue
  // was emptied by the new configuration.
  link_seen_connected_ = ctx_.link.connected();
  read_tracked_ = false;
  report_mark_ = streamed_total_;
  sync_marker_ = -1;
}

}  // namespace kelvro
