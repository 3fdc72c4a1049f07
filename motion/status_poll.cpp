#include "motion/status_poll.h"

#include <algorithm>

namespace kelvro {

bool StatusPoll::Poll() {
  // A read started between two ticks (by anyone) cannot hold segments sent before it.
  if (link_.read_pending() && !read_tracked_) BeginTrackedRead();
  const bool was_pending = link_.read_pending();
  const bool delivered = link_.PollStatus(bytes_.data(), bytes_.size());
  if (!was_pending && link_.read_pending()) BeginTrackedRead();
  if (delivered && bytes_[0] == kStatusMarker) {
    report_mark_ = read_start_mark_;
    report_read_ = current_read_;
  }
  if (!link_.read_pending()) read_tracked_ = false;
  return delivered;
}

void StatusPoll::BeginTrackedRead() {
  read_start_mark_ = streamed_total_;
  read_tracked_ = true;
  current_read_ = ++reads_started_;
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
