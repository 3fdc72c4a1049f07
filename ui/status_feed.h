// The hand-off between the host's GUI thread, where the service tick and Update run, and the
// status window's own thread. The GUI thread leaves a copy of the newest update here under a
// lock; the window's thread takes it out as its own value. Neither thread ever reads memory
// the other writes without the lock, and an update that arrives while one is waiting
// replaces it (the window shows the newest report). Once the plugin's stop began, updates
// are dropped.
#pragma once

#include <mutex>
#include <optional>

#include "motion/status_snapshot.h"

namespace kelvro {

// One update of the window: a report to show, or the offline view.
struct StatusUpdate {
  bool online = false;
  StatusSnapshot snapshot;
};

class StatusFeed {
 public:
  // GUI thread. Leaves a copy of the update; true when the window is to be woken (nothing
  // was waiting already), false also when the feed is closed and the update dropped.
  bool Post(const StatusSnapshot& snapshot) { return Leave({true, snapshot}); }
  bool PostOffline() { return Leave({false, StatusSnapshot{}}); }
  // Window thread: the waiting update, taken out.
  std::optional<StatusUpdate> Take();
  // The plugin stops: every later update is dropped.
  void Close();
  bool closed() const;
  // The last update left here was a report (the window is, or is about to be, online).
  bool online() const;

 private:
  bool Leave(const StatusUpdate& update);

  mutable std::mutex lock_;
  std::optional<StatusUpdate> waiting_;
  bool closed_ = false;
  bool online_ = false;
};

}  // namespace kelvro
