#include "sim/dialog_watch_win32.h"

#include <commctrl.h>

#include <cstdio>

#include "sim/json_text.h"

namespace kelvro::sim {
namespace {

// Thread timers carry no context; one watch runs at a time.
DialogWatch* g_watch = nullptr;

std::string ControlText(HWND dialog, int id) {
  char text[512] = {};
  ::GetDlgItemTextA(dialog, id, text, sizeof(text));
  return text;
}

}  // namespace

DialogWatch::DialogWatch(Options options) : options_(std::move(options)) {
  g_watch = this;
}

DialogWatch::~DialogWatch() {
  if (timer_ != 0) ::KillTimer(nullptr, timer_);
  if (g_watch == this) g_watch = nullptr;
}

bool DialogWatch::Claim(HWND window) {
  char title[256] = {};
  ::GetWindowTextA(window, title, sizeof(title));
  if (options_.title != title) return false;
  if (dialog_ != window) {
    dialog_ = window;
    start_ = ::GetTickCount();
    if (timer_ == 0) timer_ = ::SetTimer(nullptr, 0, options_.period_ms, &DialogWatch::OnTimer);
  }
  return true;
}

void CALLBACK DialogWatch::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (g_watch) g_watch->Look();
}

DialogWatch::Sample DialogWatch::Take() const {
  Sample s;
  s.t_ms = ::GetTickCount() - start_;
  for (const int id : options_.text_ids) s.texts.push_back(ControlText(dialog_, id));
  if (options_.progress_id != 0) {
    s.progress =
        static_cast<int>(::SendDlgItemMessageA(dialog_, options_.progress_id, PBM_GETPOS, 0, 0));
  }
  s.ok_enabled = ::IsWindowEnabled(::GetDlgItem(dialog_, IDOK)) != FALSE;
  return s;
}

void DialogWatch::Look() {
  if (dialog_ == nullptr) return;
  if (!::IsWindow(dialog_)) {
    closed_ = true;
    ::KillTimer(nullptr, timer_);
    timer_ = 0;
    dialog_ = nullptr;
    std::printf("dialog-closed\n");
    std::fflush(stdout);
    return;
  }
  const Sample now = Take();
  const bool changed = samples_.empty() || samples_.back().texts != now.texts ||
                       samples_.back().progress != now.progress ||
                       samples_.back().ok_enabled != now.ok_enabled;
  if (changed) {
    samples_.push_back(now);
    std::printf("dialog-sample %s\n", SampleJson(now, options_.text_ids).c_str());
    std::fflush(stdout);
  }
  const HWND ok = ::GetDlgItem(dialog_, IDOK);
  if (early_ok_at_ < 0 && !now.ok_enabled) {
    // An early OK, as an impatient user would press it.
    early_ok_at_ = static_cast<int>(samples_.size()) - 1;
    ::PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  }
  if (now.ok_enabled && !enabled_seen_) {
    enabled_seen_ = true;
    enabled_at_ = ::GetTickCount();
  }
  // OK once the hold time has passed, and again every hold time while the dialog stays
  // (a dialog that ignores an enabled OK does not hang the run).
  if (enabled_seen_ && ::GetTickCount() - enabled_at_ >= options_.hold_ms) {
    pressed_ok_ = true;
    enabled_at_ = ::GetTickCount();
    ::PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  }
}

std::string DialogWatch::SampleJson(const Sample& sample, const std::vector<int>& ids) {
  std::string out = "{\"t_ms\": " + std::to_string(sample.t_ms) + ", \"texts\": {";
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i) out += ", ";
    out += "\"" + std::to_string(ids[i]) + "\": " + JsonString(sample.texts[i]);
  }
  out += "}, \"progress\": " + std::to_string(sample.progress) +
         ", \"ok_enabled\": " + (sample.ok_enabled ? "true" : "false") + "}";
  return out;
}

std::string DialogWatch::Json() const {
  std::string out = "{\"title\": " + JsonString(options_.title) +
                    ", \"seen\": " + (start_ != 0 || !samples_.empty() ? "true" : "false") +
                    ", \"samples\": [";
  for (size_t i = 0; i < samples_.size(); ++i) {
    if (i) out += ", ";
    out += SampleJson(samples_[i], options_.text_ids);
  }
  out += "], \"early_ok_at\": " + std::to_string(early_ok_at_) +
         ", \"pressed_ok\": " + (pressed_ok_ ? "true" : "false") +
         ", \"closed\": " + (closed_ ? "true" : "false") + "}";
  return out;
}

}  // namespace kelvro::sim
