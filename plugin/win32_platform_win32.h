// Platform services on Windows: message boxes over the host window (or over the plugin's
// dialog while one is open), GetTickCount, Sleep, GetKeyState and a thread timer on the
// host's GUI thread.
#pragma once

#include <functional>

#include "host/platform.h"
#include "ui/owner_window_slot.h"

namespace kelvro {

class Win32Platform final : public Platform, public OwnerWindowSlot {
 public:
  Win32Platform();
  ~Win32Platform() override;

  MessageBoxAnswer MessageBox(std::string_view text, MessageBoxKind kind) override;
  void StatusTextWritten(std::string_view) override {}
  void Beep(Sound sound) override;
  uint32_t NowMs() override;
  void SleepMs(uint32_t ms) override;
  int64_t NowSeconds() override;
  bool KeyToggled(int virtual_key) override;
  bool KeyDown(int virtual_key) override;
  void StartTimer() override;
  void StopTimer() override;
  void InstallMenus(void* main_window, int menu_base) override;
  void SendMenuCommand(void* main_window, int command) override;
  std::vector<HostMenuItem> MenuBar(void* main_window) override;
  void DispatchPendingMessages() override;
  std::optional<std::array<int, 4>> ProductVersion() override;

  // Window that owns the message boxes (the host's main window, or the open dialog), may be
  // null.
  void* owner_window() const override { return owner_window_; }
  void SetOwnerWindow(void* window) override { owner_window_ = window; }
  // Routine run by the 25 ms timer.
  void SetTimerRoutine(std::function<void()> routine) { timer_routine_ = std::move(routine); }

 private:
 public:
  void RunTimerRoutine();

 private:
  void* owner_window_ = nullptr;
  uintptr_t timer_id_ = 0;
  std::function<void()> timer_routine_;
};

}  // namespace kelvro
