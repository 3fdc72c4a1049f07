// A scripted stand-in for the platform services, on virtual time.
//
// Message boxes are recorded and answered from a queue (OK, or Yes unless told
// otherwise); status texts are recorded; the clock only moves when someone sleeps or
// advances it, so every run is the same and nothing waits on wall time.
#pragma once

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/platform.h"

namespace kelvro::sim {

class ScriptedPlatform : public Platform {
 public:
  MessageBoxAnswer MessageBox(std::string_view text, MessageBoxKind kind) override;
  void StatusTextWritten(std::string_view text) override;
  void Beep(Sound sound) override { sounds.push_back(sound); }
  uint32_t NowMs() override { return static_cast<uint32_t>(now_ms_); }
  void SleepMs(uint32_t ms) override { Advance(ms); }
  int64_t NowSeconds() override { return wall_epoch_seconds_ + now_ms_ / 1000; }
  bool KeyToggled(int virtual_key) override { return toggled_keys.count(virtual_key) != 0; }
  bool KeyDown(int virtual_key) override { return down_keys.count(virtual_key) != 0; }
  void StartTimer() override;
  void StopTimer() override;
  void InstallMenus(void* main_window, int menu_base) override {
    menu_windows.push_back(main_window);
    installed_menu_base = menu_base;
  }
  void SendMenuCommand(void*, int command) override { menu_commands.push_back(command); }
  std::vector<HostMenuItem> MenuBar(void*) override { return menu_bar; }
  void DispatchPendingMessages() override {
    ++dispatches;
    if (on_dispatch) on_dispatch();
  }
  std::optional<std::array<int, 4>> ProductVersion() override { return product_version; }

  // Moves virtual time forward; observers (the simulated controller) follow it.
  void Advance(uint64_t ms);
  uint64_t Now() const { return now_ms_; }
  void SetNow(uint64_t ms) { now_ms_ = ms; }

  // Called after every time step with the new time.
  std::function<void(uint64_t now_ms)> on_time;

  // Runs while a message box is shown, as the box's own message loop would run timers.
  std::function<void()> during_message_box;

  // Answers for Yes/No boxes, consumed in order; Yes when the queue is empty.
  std::deque<MessageBoxAnswer> yes_no_answers;

  // Runs whenever pending window messages are dispatched.
  std::function<void()> on_dispatch;

  std::vector<std::string> message_boxes;
  std::vector<Sound> sounds;
  int dispatches = 0;
  std::vector<std::string> status_texts;
  bool timer_running = false;
  int timer_starts = 0;
  int timer_stops = 0;

  std::vector<void*> menu_windows;
  int installed_menu_base = -1;
  std::vector<int> menu_commands;
  // The host's menu as MenuBar reports it.
  std::vector<HostMenuItem> menu_bar;
  std::optional<std::array<int, 4>> product_version = std::array<int, 4>{0, 1, 1, 8};

  std::set<int> toggled_keys;
  std::set<int> down_keys;
  int64_t wall_epoch_seconds_ = 1'700'000'000;

 private:
  uint64_t now_ms_ = 0;
};

}  // namespace kelvro::sim
