// The status window as the plugin drives it: opened by the plugin's second menu command, fed
// by the service tick with a copy of every report, told by Update when the controller is
// gone, and ended by the plugin's stop within a bounded wait. The window itself runs on a
// thread of its own behind the `StatusWindowThread` seam (Win32: a dialog with its own
// message loop; tests and kelvro-sim: stand-ins).
#pragma once

#include <cstdint>
#include <memory>

#include "motion/status_snapshot.h"
#include "ui/status_feed.h"

namespace kelvro {

class StatusWindowThread {
 public:
  virtual ~StatusWindowThread() = default;
  // The window's thread is running.
  virtual bool Running() = 0;
  // Starts the thread, which makes the window (owned by `owner`, may be null) and shows
  // the updates it takes from `feed`; when it runs already, brings its window to the front.
  virtual void Open(void* owner, std::shared_ptr<StatusFeed> feed) = 0;
  // An update waits in the feed.
  virtual void Wake() = 0;
  // Asks the window's loop to end and waits at most `wait_ms` for the thread to end; true
  // when it ended.
  virtual bool Stop(uint32_t wait_ms) = 0;
};

class StatusWindow final : public StatusListener {
 public:
  // How long the plugin's stop waits for the window's thread.
  static constexpr uint32_t kStopWaitMs = 2000;

  // The window's thread; null: there is no window to open.
  void Attach(StatusWindowThread* thread) { thread_ = thread; }
  void set_stop_wait_ms(uint32_t ms) { stop_wait_ms_ = ms; }

  // The menu command: opens the window, or brings the open one to the front.
  void Open(void* owner);
  // The tick: a copy of the report for the window, when it is open.
  void OnStatus(const StatusSnapshot& snapshot) override;
  // Update: the offline view once, when the window shows reports and the link is gone.
  void FollowLink(bool connected);
  // The plugin's stop began: later reports are dropped.
  void BeginStop();
  // Ends the window; false when its thread did not end within the wait (the plugin goes on
  // without it).
  bool Stop();

  bool open();

 private:
  StatusWindowThread* thread_ = nullptr;
  std::shared_ptr<StatusFeed> feed_;
  uint32_t stop_wait_ms_ = kStopWaitMs;
  bool stopping_ = false;
};

}  // namespace kelvro
