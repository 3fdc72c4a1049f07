// The platform services the core needs, one small interface per capability: user messages,
// clock, keyboard and the host's window. The Win32 build implements them with the real APIs;
// tests and the simulation use a scripted double on virtual time. The core never reads the
// wall clock, sleeps, or touches a window itself, and each part of it takes only the
// capabilities it uses.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvro {

enum class MessageBoxKind { kOk, kYesNoQuestion };
enum class MessageBoxAnswer { kOk, kYes, kNo };

// Sounds for the end of a long operation.
enum class Sound { kSuccess, kFailure };

// Virtual-key codes the plugin reads (same values as Win32).
inline constexpr int kVkNumLock = 0x90;
inline constexpr int kVkNumpad3 = 0x63;
inline constexpr int kVkNumpad9 = 0x69;

// Window messages the plugin windows exchange.
inline constexpr uint32_t kMsgRedraw = 0x0400 + 100;  // 1124
inline constexpr uint32_t kMsgOther = 0x0400 + 101;   // 1125

// What the user is told: modal message boxes over the host's window, the host's status
// line, sounds.
class UserMessages {
 public:
  virtual ~UserMessages() = default;
  // Modal message box; returns the user's answer.
  virtual MessageBoxAnswer MessageBox(std::string_view text, MessageBoxKind kind) = 0;
  // Called whenever the plugin writes the host's status text (after the write; the text
  // itself lives in the host's block, see Host::ShowStatus).
  virtual void StatusTextWritten(std::string_view text) = 0;
  virtual void Beep(Sound sound) = 0;
};

// Time: a millisecond counter, a blocking wait and wall-clock seconds.
class Clock {
 public:
  virtual ~Clock() = default;
  // Millisecond counter (wraps like GetTickCount).
  virtual uint32_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
  // Seconds of wall time, for log time stamps and elapsed-time lines.
  virtual int64_t NowSeconds() = 0;
};

// Key state: toggled (low bit) and down (high bit) as GetKeyState reports them.
class Keyboard {
 public:
  virtual ~Keyboard() = default;
  virtual bool KeyToggled(int virtual_key) = 0;
  virtual bool KeyDown(int virtual_key) = 0;
};

// One item of a window's menu as the plugin reads it: its text, whether it is a plain item
// (a command, not a separator, bitmap or owner-drawn item), its command id, and its submenu's
// items when it opens one.
struct HostMenuItem {
  std::string text;
  bool plain = true;
  int command = 0;
  bool has_submenu = false;
  std::vector<HostMenuItem> submenu;
};

// The host's GUI thread and window: the 25 ms thread timer, menus, menu commands, pending
// window messages and the plugin's own version resource.
class HostWindow {
 public:
  virtual ~HostWindow() = default;
  // The 25 ms timer on the calling thread; its routine is the plugin's OnTimer.
  virtual void StartTimer() = 0;
  virtual void StopTimer() = 0;
  // Host main-window menu: appends the plugin's two items to the host's "PlugIn Control"
  // menu (ids base and base + 1) and moves the host's "General Config..." item (id 27837)
  // to base + 2.
  virtual void InstallMenus(void* main_window, int menu_base) = 0;
  // Sends the window a menu command and returns when the window has handled it.
  virtual void SendMenuCommand(void* main_window, int command) = 0;
  // The top-level items of the window's menu with their submenus (one level deep); empty
  // without a menu.
  virtual std::vector<HostMenuItem> MenuBar(void* main_window) = 0;
  // Handles the window messages waiting on this thread (long operations call it between
  // their steps so that the host's windows stay alive).
  virtual void DispatchPendingMessages() = 0;
  // Product version of the plugin's own version resource (major, minor, build, revision),
  // when it has one.
  virtual std::optional<std::array<int, 4>> ProductVersion() = 0;
};

// All capabilities together: what one build provides.
class Platform : public UserMessages, public Clock, public Keyboard, public HostWindow {};

}  // namespace kelvro
