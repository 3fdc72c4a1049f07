// Watches one dialog of the stand-in host's GUI thread by its title, for the tests under
// Wine that look at the real DLL's dialogs.
//
// While the dialog is up (its modal loop, or a long operation inside it that dispatches
// messages, runs the watch's thread timer) it samples the texts of the given controls, the
// position of a progress bar and whether OK is enabled. Each change is printed at once as
// one line "dialog-sample {json}" on stdout, so that a test driver can take screenshots at
// the right moments. OK is pressed once early (a dialog that honours a disabled OK ignores
// it) and again `hold_ms` after it became enabled (and every `hold_ms` after that while the
// dialog stays), which closes the dialog.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvro::sim {

class DialogWatch {
 public:
  struct Options {
    std::string title;
    std::vector<int> text_ids;
    int progress_id = 0;  // 0: none
    uint32_t hold_ms = 0;
    uint32_t period_ms = 20;
  };

  explicit DialogWatch(Options options);
  ~DialogWatch();
  DialogWatch(const DialogWatch&) = delete;
  DialogWatch& operator=(const DialogWatch&) = delete;

  // For the host's message-box hook: true when `window` is the watched dialog, which the
  // hook must then leave alone. Starts watching it.
  bool Claim(HWND window);

  // Everything seen, as one JSON object: {"title":…, "seen":…, "samples":[…],
  // "early_ok_at":…, "pressed_ok":…, "closed":…}.
  std::string Json() const;

 private:
  struct Sample {
    DWORD t_ms = 0;
    std::vector<std::string> texts;
    int progress = 0;
    bool ok_enabled = false;
  };

  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
  void Look();
  Sample Take() const;
  static std::string SampleJson(const Sample& sample, const std::vector<int>& ids);

  Options options_;
  HWND dialog_ = nullptr;
  UINT_PTR timer_ = 0;
  DWORD start_ = 0;
  std::vector<Sample> samples_;
  int early_ok_at_ = -1;  // sample index when OK was pressed early
  bool pressed_ok_ = false;
  bool closed_ = false;
  DWORD enabled_at_ = 0;
  bool enabled_seen_ = false;
};

}  // namespace kelvro::sim
