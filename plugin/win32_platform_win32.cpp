#include "plugin/win32_platform_win32.h"

#include <windows.h>
// The platform seam names its method MessageBox; the Win32 macro of that name would rename it.
#undef MessageBox

#include <ctime>
#include <string>

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
  const int answer =
      ::MessageBoxA(static_cast<HWND>(owner_window_), message.c_str(), "KELVRO", style);
  if (kind == MessageBoxKind::kOk) return MessageBoxAnswer::kOk;
  return answer == IDYES ? MessageBoxAnswer::kYes : MessageBoxAnswer::kNo;
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

}  // namespace kelvro
