// The status window on Windows: dialog template 1001 made and run by a thread of its own
// with its own message loop, owned by the host's main window. The thread takes each update
// from the feed as its own copy, shows it through the status-view model (texts set, the
// indicator's pixels blitted) and ends when asked to quit or when its window is closed.
// The thread holds a reference to this module for as long as it runs, so the library cannot
// be unloaded under it.
#pragma once

#include <windows.h>

#include <memory>

#include "ui/status_window.h"

namespace kelvro {

class Win32StatusWindowThread final : public StatusWindowThread {
 public:
  // `resources`: the module whose resources carry template 1001.
  explicit Win32StatusWindowThread(HINSTANCE resources) : resources_(resources) {}
  ~Win32StatusWindowThread() override;
  Win32StatusWindowThread(const Win32StatusWindowThread&) = delete;
  Win32StatusWindowThread& operator=(const Win32StatusWindowThread&) = delete;

  bool Running() override;
  void Open(void* owner, std::shared_ptr<StatusFeed> feed) override;
  void Wake() override;
  bool Stop(uint32_t wait_ms) override;

  // The open window, or null.
  HWND window() const;
  // How many threads were started (tests: a second Open starts none).
  int threads_started() const { return threads_started_; }

  struct Shared;

 private:
  HINSTANCE resources_;
  std::shared_ptr<Shared> shared_;
  HANDLE thread_ = nullptr;
  DWORD thread_id_ = 0;
  int threads_started_ = 0;
};

}  // namespace kelvro
