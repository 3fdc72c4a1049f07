// The status window without a window: its "thread" runs inline on the caller's thread and
// shows each update as it arrives in a status-view model, handing the shown lines to an
// observer (kelvro-sim's status log, scenario tests). The plugin feeds it exactly as it feeds
// the real window.
#pragma once

#include <functional>
#include <memory>

#include "ui/status_view.h"
#include "ui/status_window.h"

namespace kelvro::sim {

class InlineStatusWindow final : public StatusWindowThread {
 public:
  // Called after each update is shown, with the view as it is now.
  using Observer = std::function<void(const StatusView& view, bool online)>;
  explicit InlineStatusWindow(Observer observer = {}) : observer_(std::move(observer)) {}

  bool Running() override { return open_; }
  void Open(void* owner, std::shared_ptr<StatusFeed> feed) override;
  void Wake() override;
  bool Stop(uint32_t wait_ms) override;
  // The user closes the window.
  void Close() { open_ = false; }

  // The current window's view (fresh for each opening); null before the first.
  const StatusView* view() const { return view_.get(); }
  int opens() const { return opens_; }
  int activations() const { return activations_; }
  int shown() const { return shown_; }

 private:
  Observer observer_;
  std::shared_ptr<StatusFeed> feed_;
  std::unique_ptr<StatusView> view_;
  bool open_ = false;
  int opens_ = 0;
  int activations_ = 0;
  int shown_ = 0;
};

}  // namespace kelvro::sim
