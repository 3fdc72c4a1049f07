#include "ui/status_feed.h"

namespace kelvro {

bool StatusFeed::Leave(const StatusUpdate& update) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (closed_) return false;
  const bool wake = !waiting_.has_value();
  waiting_ = update;
  online_ = update.online;
  return wake;
}

std::optional<StatusUpdate> StatusFeed::Take() {
  const std::lock_guard<std::mutex> hold(lock_);
  std::optional<StatusUpdate> taken;
  taken.swap(waiting_);
  return taken;
}

void StatusFeed::Close() {
  const std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  waiting_.reset();
}

bool StatusFeed::closed() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return closed_;
}

bool StatusFeed::online() const {
  const std::lock_guard<std::mutex> hold(lock_);
  return online_;
}

}  // namespace kelvro
