#include "plugin/win32_platform_win32.h"

#include <windows.h>
// The platform seam names its method MessageBox; the Win32 macro of that name would rename it.
#undef MessageBox

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "host/host_fields.h"
#include "host/owner_window_win32.h"

namespace kelvro {
namespace {

// Thread timers created without a window carry no context; there is one platform per
// loaded library, so the routine finds it here.
Win32Platform* g_timer_owner = nullptr;

void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD) {
  if (g_timer_owner) g_timer_owner->RunTimerRoutine();
}

}  // namespace

Win32Platform::Win32Platform() {
  g_timer_owner = this;
}

Win32Platform::~Win32Platform() {
  StopTimer();
  if (g_timer_owner == this) g_timer_owner = nullptr;
}

void Win32Platform::RunTimerRoutine() {
  if (timer_routine_) timer_routine_();
}

MessageBoxAnswer Win32Platform::MessageBox(std::string_view text, MessageBoxKind kind) {
  const std::string message(text);
  const UINT style = kind == MessageBoxKind::kYesNoQuestion ? (MB_YESNO | MB_ICONQUESTION) : MB_OK;
  const int answer = ::MessageBoxA(static_cast<HWND>(UsableOwnerWindow(owner_window_)),
                                   message.c_str(), "KELVRO", style);
  if (kind == MessageBoxKind::kOk) return MessageBoxAnswer::kOk;
  return answer == IDYES ? MessageBoxAnswer::kYes : MessageBoxAnswer::kNo;
}

void Win32Platform::Beep(Sound sound) {
  // The information sound for success, the error sound for failure.
  ::MessageBeep(sound == Sound::kSuccess ? MB_ICONASTERISK : MB_ICONHAND);
}

uint32_t Win32Platform::NowMs() {
  return ::GetTickCount();
}

void Win32Platform::SleepMs(uint32_t ms) {
  ::Sleep(ms);
}

int64_t Win32Platform::NowSeconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

bool Win32Platform::KeyToggled(int virtual_key) {
  return (::GetKeyState(virtual_key) & 1) != 0;
}

bool Win32Platform::KeyDown(int virtual_key) {
  return (::GetKeyState(virtual_key) & 0x8000) != 0;
}

void Win32Platform::StartTimer() {
  if (timer_id_ == 0) timer_id_ = ::SetTimer(nullptr, 1, 25, TimerProc);
}

void Win32Platform::StopTimer() {
  if (timer_id_ != 0) {
    ::KillTimer(nullptr, timer_id_);
    timer_id_ = 0;
  }
}

void Win32Platform::InstallMenus(void* main_window, int menu_base) {
  HMENU bar = ::GetMenu(static_cast<HWND>(main_window));
  if (!bar) return;
  // Find the host's "PlugIn Control" menu by the first 15 bytes of each item's text.
  static constexpr char kPluginMenu[] = "PlugIn Control";
  HMENU plugin_menu = nullptr;
  const int count = ::GetMenuItemCount(bar);
  for (int i = 0; i < count && !plugin_menu; ++i) {
    const int length = ::GetMenuStringA(bar, i, nullptr, 0, MF_BYPOSITION);
    if (length < 0) continue;
    std::string text(static_cast<size_t>(length) + 1, '\0');
    ::GetMenuStringA(bar, i, text.data(), length + 1, MF_BYPOSITION);
    if (std::memcmp(text.data(), kPluginMenu, std::min<size_t>(text.size(), sizeof(kPluginMenu))) ==
            0 &&
        text.size() >= sizeof(kPluginMenu)) {
      plugin_menu = ::GetSubMenu(bar, i);
    }
  }
  if (plugin_menu) {
    ::AppendMenuA(plugin_menu, MF_STRING, static_cast<UINT_PTR>(menu_base), "KELVRO config...");
    ::AppendMenuA(plugin_menu, MF_STRING, static_cast<UINT_PTR>(menu_base + 1), "KELVRO status...");
  }
  // Take over the host's own general configuration item, keeping its text.
  constexpr UINT kGeneralConfig = kHostGeneralConfigCommand;
  MENUITEMINFOA info = {};
  char text[64] = {};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_FTYPE | MIIM_STRING;
  info.dwTypeData = text;
  info.cch = sizeof(text);
  if (::GetMenuItemInfoA(bar, kGeneralConfig, FALSE, &info) && info.fType == MFT_STRING &&
      std::strcmp(text, "General Config...") == 0) {
    MENUITEMINFOA change = {};
    change.cbSize = sizeof(change);
    change.fMask = MIIM_ID;
    change.wID = static_cast<UINT>(menu_base + 2);
    ::SetMenuItemInfoA(bar, kGeneralConfig, FALSE, &change);
  }
}

void Win32Platform::SendMenuCommand(void* main_window, int command) {
  ::SendMessageA(static_cast<HWND>(main_window), WM_COMMAND, static_cast<WPARAM>(command), 0);
}

namespace {

// The items of `menu`, with their submenus down to `depth` more levels.
std::vector<HostMenuItem> ReadMenu(HMENU menu, int depth) {
  std::vector<HostMenuItem> items;
  const int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    info.dwTypeData = nullptr;
    if (!::GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    HostMenuItem item;
    if ((info.fType & (MFT_BITMAP | MFT_OWNERDRAW | MFT_SEPARATOR)) == 0 && info.cch > 0) {
      std::string text(info.cch + 1, '\0');
      info.dwTypeData = text.data();
      info.cch = static_cast<UINT>(text.size());
      if (::GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info)) {
        text.resize(std::strlen(text.c_str()));
        item.text = std::move(text);
      }
    }
    item.plain = (info.fType & (MFT_BITMAP | MFT_OWNERDRAW | MFT_SEPARATOR)) == 0;
    item.command = static_cast<int>(info.wID);
    item.has_submenu = info.hSubMenu != nullptr;
    if (item.has_submenu && depth > 0) item.submenu = ReadMenu(info.hSubMenu, depth - 1);
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace

std::vector<HostMenuItem> Win32Platform::MenuBar(void* main_window) {
  HMENU bar = main_window ? ::GetMenu(static_cast<HWND>(main_window)) : nullptr;
  return bar ? ReadMenu(bar, 1) : std::vector<HostMenuItem>{};
}

void Win32Platform::DispatchPendingMessages() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

std::optional<std::array<int, 4>> Win32Platform::ProductVersion() {
  HMODULE self = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&g_timer_owner), &self)) {
    return std::nullopt;
  }
  HRSRC resource = ::FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  if (!resource) return std::nullopt;
  HGLOBAL loaded = ::LoadResource(self, resource);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  const DWORD size = ::SizeofResource(self, resource);
  if (!data || size == 0) return std::nullopt;
  // VerQueryValue needs a writable copy of the block.
  std::string copy(static_cast<const char*>(data), size);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(copy.data(), "\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  return std::array<int, 4>{static_cast<int>(HIWORD(info->dwProductVersionMS)),
                            static_cast<int>(LOWORD(info->dwProductVersionMS)),
                            static_cast<int>(HIWORD(info->dwProductVersionLS)),
                            static_cast<int>(LOWORD(info->dwProductVersionLS))};
}

}  // namespace kelvro
