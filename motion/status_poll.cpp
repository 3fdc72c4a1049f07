#include "motion/status_poll.h"

#include <algorithm>

namespace kelvro {

bool StatusPoll::Poll() {
  // A read started between two ticks (by anyone) cannot hold segments sent before it.
  if (link_.read_pending() && !read_tracked_) {
    read_start_mark_ = streamed_total_;
    read_tracked_ = true;
  }
  const bool was_pending = link_.read_pending();
  const bool delivered = link_.PollStatus(bytes_.data(), bytes_.size());
  if (!was_pending && link_.read_pending()) {
    read_start_mark_ = streamed_total_;
    read_tracked_ = true;
  }
  if (delivered && bytes_[0] == kStatusMarker) report_mark_ = read_start_mark_;
  if (!link_.read_pending()) read_tracked_ = false;
  return delivered;
}

int StatusPoll::QueueFill(uint16_t reported_fill) const {
  // On the ticks between two reports the last fill alone would let the queue overflow.
  const uint64_t unreported = streamed_total_ - report_mark_;
  const uint64_t fill = reported_fill + std::min<uint64_t>(unreported, 100000);
  return static_cast<int>(std::min<uint64_t>(fill, 100000));
}

void StatusPoll::AfterReset() {
  read_tracked_ = false;
  report_mark_ = streamed_total_;
}

}  // namespace kelvro
