#include "ui/status_window.h"

namespace kelvro {

bool StatusWindow::open() {
  return thread_ && feed_ && thread_->Running();
}

void StatusWindow::Open(void* owner) {
  if (!thread_ || stopping_) return;
  // A window closed by the user left its feed behind: a new window starts from a fresh one.
  if (!thread_->Running()) feed_ = std::make_shared<StatusFeed>();
  thread_->Open(owner, feed_);
}

void StatusWindow::OnStatus(const StatusSnapshot& snapshot) {
  if (open() && feed_->Post(snapshot)) thread_->Wake();
}

void StatusWindow::FollowLink(bool connected) {
  if (!connected && open() && feed_->online() && feed_->PostOffline()) thread_->Wake();
}

void StatusWindow::BeginStop() {
  stopping_ = true;
  if (feed_) feed_->Close();
}

bool StatusWindow::Stop() {
  BeginStop();
  if (!thread_ || !thread_->Running()) return true;
  return thread_->Stop(stop_wait_ms_);
}

}  // namespace kelvro
