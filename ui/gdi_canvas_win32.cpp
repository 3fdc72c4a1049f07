#include "ui/gdi_canvas_win32.h"

namespace kelvro {

Colour GdiCanvas::ButtonFace() const {
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  return MakeColour(GetRValue(face), GetGValue(face), GetBValue(face));
}

void GdiCanvas::Fill(const PixelRect& rect, Colour colour) {
  if (rect.width() <= 0 || rect.height() <= 0) return;
  HBRUSH brush = ::CreateSolidBrush(ToColorRef(colour));
  if (!brush) return;
  const RECT r = {rect.left, rect.top, rect.right, rect.bottom};
  ::FillRect(dc_, &r, brush);
  ::DeleteObject(brush);
}

void GdiCanvas::Line(int x0, int y0, int x1, int y1, Colour colour) {
  HPEN pen = ::CreatePen(PS_SOLID, 1, ToColorRef(colour));
  if (!pen) return;
  HGDIOBJ old = ::SelectObject(dc_, pen);
  ::MoveToEx(dc_, x0, y0, nullptr);
  ::LineTo(dc_, x1, y1);
  ::SelectObject(dc_, old);
  ::DeleteObject(pen);
}

void GdiCanvas::Frame(const PixelRect& rect, Colour colour) {
  HBRUSH brush = ::CreateSolidBrush(ToColorRef(colour));
  if (!brush) return;
  const RECT r = {rect.left, rect.top, rect.right, rect.bottom};
  ::FrameRect(dc_, &r, brush);
  ::DeleteObject(brush);
}

void GdiCanvas::Text(const PixelRect& box, std::string_view text, Colour colour, TextAlign align) {
  RECT r = {box.left, box.top, box.right, box.bottom};
  const int old_mode = ::SetBkMode(dc_, TRANSPARENT);
  const COLORREF old_colour = ::SetTextColor(dc_, ToColorRef(colour));
  const UINT format = (align == TextAlign::kCentre ? DT_CENTER : DT_LEFT) | DT_VCENTER |
                      DT_SINGLELINE | DT_NOPREFIX;
  ::DrawTextA(dc_, text.data(), static_cast<int>(text.size()), &r, format);
  ::SetTextColor(dc_, old_colour);
  ::SetBkMode(dc_, old_mode);
}

void GdiCanvas::Icon(int icon_id, int x, int y) {
  const auto found = icons_.find(icon_id);
  if (found == icons_.end() || !found->second) return;
  ::DrawIconEx(dc_, x, y, found->second, 16, 16, 0, nullptr, DI_NORMAL);
}

}  // namespace kelvro
