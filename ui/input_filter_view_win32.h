// The Input filter page's per-pin list window: a report-style list view whose rows the page
// draws (the model's PinList paints them through a GDI canvas), with the model's column
// widths and row height, its Enable icons, and the in-place editor (edit 1000, a child of the
// list) shown where the model says. Clicks, keys, scrolling, divider drags and the editor's
// text and focus go to the model; the window only follows it.
#pragma once

#include <windows.h>

#include <map>

#include "ui/input_filter_page.h"
#include "ui/page_view_win32.h"

namespace kelvro {

class InputFilterView final : public Win32PageView {
 public:
  InputFilterView(HINSTANCE resources, InputFilterPage& page)
      : resources_(resources), page_(page) {}
  ~InputFilterView() override;
  InputFilterView(const InputFilterView&) = delete;
  InputFilterView& operator=(const InputFilterView&) = delete;

  // Sets the list up: row height, icons, columns, the 14 rows; takes its input.
  void Attach(HWND window) override;
  // Measures and draws the rows, follows the list's selection.
  bool OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

 private:
  static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                   UINT_PTR id, DWORD_PTR data);
  static LRESULT CALLBACK EditorProc(HWND editor, UINT message, WPARAM wparam, LPARAM lparam,
                                     UINT_PTR id, DWORD_PTR data);
  LRESULT OnListMessage(HWND list, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT OnEditorMessage(HWND editor, UINT message, WPARAM wparam, LPARAM lparam);
  // The list's scroll position and header into the model.
  void ReadViewport();
  void ReadColumnWidths();
  // The editor window and the rows follow the model.
  void Sync();

  HINSTANCE resources_;
  InputFilterPage& page_;
  HWND list_ = nullptr;
  HWND editor_ = nullptr;
  int editor_session_ = 0;
  std::map<int, HICON> icons_;
  bool syncing_ = false;
  bool swallow_char_ = false;
};

}  // namespace kelvro
