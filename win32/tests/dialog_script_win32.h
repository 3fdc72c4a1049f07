// Plays the user in the dialogs that a test opens modally: a thread timer, dispatched by the
// dialog's own message loop, runs the steps one after another. A step returns false to be
// tried again on the next tick (waiting for a window); a step that opens or closes a
// dialog posts its click, so that the dialog runs in its own loop and the next ticks go on.
// When the steps do not finish in time every dialog of the thread is cancelled and the
// test fails.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kelvro::test {

class DialogScript {
 public:
  using Step = std::function<bool()>;

  DialogScript();
  ~DialogScript();
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  DialogScript& Then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }
  // Starts the timer; the steps run once the dialog's loop dispatches it.
  void Start(DWORD timeout_ms = 20000);
  bool finished() const { return next_ >= steps_.size(); }
  bool timed_out() const { return timed_out_; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  void RunNext();

  std::vector<Step> steps_;
  size_t next_ = 0;
  bool busy_ = false;
  bool timed_out_ = false;
  DWORD deadline_ = 0;
  UINT_PTR timer_ = 0;
};

// ---- What the steps do ----

// The top-level dialog of this thread with this caption, or null.
HWND FindDialog(const char* caption);
// The page window inside the configuration dialog's tab control, or null.
HWND VisiblePage(HWND frame);
// Selects a tab as the tab control does when the user clicks it: the new selection, then the
// selection-changed notification to the dialog.
void SelectTab(HWND frame, int index);
// A left click in the middle of a tab, delivered to the tab control.
void ClickTab(HWND frame, int index);
// Posts a button click (BN_CLICKED) to the button's dialog.
void PostClick(HWND dialog, int id);
void SetText(HWND dialog, int id, const std::string& text);
std::string TextOf(HWND window);
// A report-style list view's cell (row, column) in the list's client area, and a left click
// in its middle delivered to the list.
RECT ListCellRect(HWND list, int row, int column);
void ClickListCell(HWND list, int row, int column);
// Cancels every visible dialog of this thread (the script's way out).
void CancelAllDialogs();

}  // namespace kelvro::test
