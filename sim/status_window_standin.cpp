#include "sim/status_window_standin.h"

namespace kelvro::sim {

void InlineStatusWindow::Open(void* /*owner*/, std::shared_ptr<StatusFeed> feed) {
  if (open_) {
    ++activations_;
    return;
  }
  ++opens_;
  open_ = true;
  feed_ = std::move(feed);
  view_ = std::make_unique<StatusView>();
}

void InlineStatusWindow::Wake() {
  if (!open_ || !feed_) return;
  const std::optional<StatusUpdate> update = feed_->Take();
  if (!update) return;
  if (update->online) {
    view_->ShowOnline(update->snapshot);
  } else {
    view_->ShowOffline();
  }
  ++shown_;
  if (observer_) observer_(*view_, update->online);
}

bool InlineStatusWindow::Stop(uint32_t /*wait_ms*/) {
  open_ = false;
  return true;
}

}  // namespace kelvro::sim
