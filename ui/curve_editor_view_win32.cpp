#include "ui/curve_editor_view_win32.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "resources/resource_ids.h"
#include "ui/dib_win32.h"
#include "ui/gdi_canvas_win32.h"
#include "ui/pixel_image.h"

namespace kelvro {

CurveEditorView::~CurveEditorView() {
  editor_.set_redraw(nullptr);
  // The area goes before its class, which goes with the view: a class left registered
  // would outlive the plugin's code if the host unloads the plugin.
  if (area_ && ::IsWindow(area_)) ::DestroyWindow(area_);
  if (registered_) ::UnregisterClassA(kCurveAreaClass, resources_);
}

void CurveEditorView::Attach(HWND dialog) {
  dialog_ = dialog;
  HWND frame = ::GetDlgItem(dialog, IDC_CURVE_AREA);
  if (!frame) return;
  RECT place = {};
  ::GetWindowRect(frame, &place);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  const int side = place.right - place.left;
  const int grow = side - (place.bottom - place.top);

  // Every control but the frame moves down by the growth, in size and order unchanged.
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (child == frame) continue;
    RECT r = {};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    ::SetWindowPos(child, nullptr, r.left, r.top + grow, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  WNDCLASSA area_class = {};
  area_class.lpfnWndProc = AreaProc;
  area_class.hInstance = resources_;
  area_class.hCursor = nullptr;  // the area sets its cursor itself
  area_class.lpszClassName = kCurveAreaClass;
  registered_ = ::RegisterClassA(&area_class) != 0;
  point_cursor_ = ::LoadCursorA(resources_, MAKEINTRESOURCEA(IDC_CURVE_POINT_CURSOR));
  curve_cursor_ = ::LoadCursorA(resources_, MAKEINTRESOURCEA(IDC_CURVE_LINE_CURSOR));

  CurveArea& area = editor_.area();
  area.SetSize(side, side);
  area_ = ::CreateWindowExA(0, kCurveAreaClass, "", WS_CHILD | WS_VISIBLE, place.left, place.top,
                            side, side, dialog, nullptr, resources_, this);
  if (!area_) return;
  ::SetWindowPos(area_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // The feed label is placed by its size in the area's font, measured once.
  if (HDC dc = ::GetDC(area_)) {
    HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(ANSI_VAR_FONT));
    SIZE label = {};
    if (::GetTextExtentPoint32A(dc, kCurveFeedLabel, static_cast<int>(std::strlen(kCurveFeedLabel)),
                                &label)) {
      area.SetFeedLabelSize(label.cx, label.cy);
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(area_, dc);
  }
  editor_.set_redraw([this] { ::InvalidateRect(area_, nullptr, FALSE); });

  RECT outer = {};
  ::GetWindowRect(dialog, &outer);
  ::SetWindowPos(dialog, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top + grow,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CurveEditorView::OnMessage(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam,
                                INT_PTR& result) {
  if (message == kCurveReadoutMessage) {
    const CurveReadout readout{static_cast<int>(wparam), static_cast<int>(lparam)};
    ::SetDlgItemTextA(dialog, IDC_CURVE_READOUT, CurveReadoutText(readout).c_str());
    result = TRUE;
    return true;
  }
  if (message == kCurveChangedMessage) {
    result = TRUE;  // nothing to do: the area has redrawn itself
    return true;
  }
  return false;
}

LRESULT CALLBACK CurveEditorView::AreaProc(HWND area, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
      ::SetWindowLongPtrA(area, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create ? create->lpCreateParams : nullptr));
    }
    auto* view = reinterpret_cast<CurveEditorView*>(::GetWindowLongPtrA(area, GWLP_USERDATA));
    if (view && view->area_ == area) return view->OnAreaMessage(area, message, wparam, lparam);
  } catch (...) {
  }
  return ::DefWindowProcA(area, message, wparam, lparam);
}

LRESULT CurveEditorView::OnAreaMessage(HWND area, UINT message, WPARAM wparam, LPARAM lparam) {
  CurveArea& model = editor_.area();
  const int x = GET_X_LPARAM(lparam);
  const int y = GET_Y_LPARAM(lparam);
  switch (message) {
    case WM_PAINT:
      Paint(area);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the drawing covers the whole area
    case WM_SETCURSOR:
      if (LOWORD(lparam) != HTCLIENT) break;
      ShowCursor();
      return TRUE;
    case WM_MOUSEMOVE:
      Follow(model.Move(x, y));
      return 0;
    case WM_LBUTTONDOWN:
      Follow(model.LeftDown(x, y));
      return 0;
    case WM_LBUTTONUP:
      Follow(model.LeftUp());
      return 0;
    case WM_RBUTTONDOWN:
      Follow(model.RightDown(x, y));
      return 0;
    case WM_CAPTURECHANGED:
      if (reinterpret_cast<HWND>(lparam) != area) model.CaptureLost();
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(area, message, wparam, lparam);
}

void CurveEditorView::Follow(const CurveMouseResult& result) {
  if (result.capture) ::SetCapture(area_);
  if (result.changed) {
    ::InvalidateRect(area_, nullptr, FALSE);
    ::PostMessageA(dialog_, kCurveChangedMessage, 0, 0);
  }
  if (result.readout) {
    ::PostMessageA(dialog_, kCurveReadoutMessage, static_cast<WPARAM>(result.readout->feed),
                   static_cast<LPARAM>(result.readout->duty));
  }
  if (editor_.area().dragged() < 0 && !result.changed) {
    cursor_ = result.cursor;
    ShowCursor();
  }
  // Last: releasing sends WM_CAPTURECHANGED, which ends any drag.
  if (result.release && ::GetCapture() == area_) ::ReleaseCapture();
}

void CurveEditorView::ShowCursor() const {
  HCURSOR shape = cursor_ == CurveCursor::kPoint   ? point_cursor_
                  : cursor_ == CurveCursor::kCurve ? curve_cursor_
                                                   : nullptr;
  ::SetCursor(shape ? shape : ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));  // IDC_ARROW
}

void CurveEditorView::Paint(HWND area) {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(area, &paint);
  if (!dc) return;
  const CurveArea& model = editor_.area();
  PixelImage image(model.width(), model.height());
  PixelCanvas pixels(image);
  model.Draw(pixels);
  // Pixels into a memory bitmap, the texts over them in the area's font, then onto the
  // screen in one copy.
  HDC memory = ::CreateCompatibleDC(dc);
  void* bits = nullptr;
  HBITMAP bitmap = memory ? CreateTopDownDib32(dc, image.width, image.height, &bits) : nullptr;
  if (bitmap && bits) {
    std::memcpy(bits, image.pixels.data(), image.pixels.size() * sizeof(Colour));
    HGDIOBJ old_bitmap = ::SelectObject(memory, bitmap);
    HGDIOBJ old_font = ::SelectObject(memory, ::GetStockObject(ANSI_VAR_FONT));
    const std::map<int, HICON> no_icons;
    GdiCanvas texts(memory, no_icons);
    for (const PixelCanvas::DrawnText& t : pixels.texts) {
      texts.Text(t.box, t.text, t.colour, t.align);
    }
    ::BitBlt(dc, 0, 0, image.width, image.height, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, old_font);
    ::SelectObject(memory, old_bitmap);
  }
  if (bitmap) ::DeleteObject(bitmap);
  if (memory) ::DeleteDC(memory);
  ::EndPaint(area, &paint);
}

}  // namespace kelvro
