// The laser ramp curve editor's window: on opening, the dialog is grown so that the curve
// area over the placeholder frame is square (the controls below move down), and the area is
// a child window that shows the model's drawing (pixels blitted, texts in the system's
// variable-width font), forwards the mouse to the model, takes and releases the mouse as the
// model says, shows the point and curve cursors, and tells the dialog the feed and duty
// under the mouse (message 0x465, shown in the readout) and every change (0x464).
#pragma once

#include <windows.h>

#include "ui/curve_editor.h"
#include "ui/page_view_win32.h"

namespace kelvro {

// The area's messages to the dialog.
inline constexpr UINT kCurveChangedMessage = WM_USER + 100;  // 0x464
inline constexpr UINT kCurveReadoutMessage = WM_USER + 101;  // 0x465: feed, duty
// The area's window class.
inline constexpr char kCurveAreaClass[] = "KelvroCurveArea";

class CurveEditorView final : public Win32PageView {
 public:
  CurveEditorView(HINSTANCE resources, CurveEditorDialog& editor)
      : resources_(resources), editor_(editor) {}
  ~CurveEditorView() override;
  CurveEditorView(const CurveEditorView&) = delete;
  CurveEditorView& operator=(const CurveEditorView&) = delete;

  // Grows the dialog, creates the area and loads the cursors.
  void Attach(HWND dialog) override;
  // The area's readout message.
  bool OnMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

 private:
  static LRESULT CALLBACK AreaProc(HWND area, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT OnAreaMessage(HWND area, UINT message, WPARAM wparam, LPARAM lparam);
  void Paint(HWND area);
  // Does what a mouse event asked for.
  void Follow(const CurveMouseResult& result);
  void ShowCursor() const;

  HINSTANCE resources_;
  CurveEditorDialog& editor_;
  HWND dialog_ = nullptr;
  HWND area_ = nullptr;
  bool registered_ = false;
  HCURSOR point_cursor_ = nullptr;
  HCURSOR curve_cursor_ = nullptr;
  CurveCursor cursor_ = CurveCursor::kArrow;
};

}  // namespace kelvro
