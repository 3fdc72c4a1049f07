#include "ui/zcorr_view_win32.h"

#include <shlwapi.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "resources/resource_ids.h"
#include "ui/dib_win32.h"
#include "ui/hwnd_dialog_controls_win32.h"

namespace kelvro {
namespace {

constexpr char kImageClass[] = "KelvroZMapImage";
constexpr int kImageWindowId = 100;
// Posted to the map dialog after a palette choice, so that the model has taken it when the
// view renders.
constexpr UINT kMsgRender = WM_APP + 16;

// A control's client area in its dialog's client coordinates.
RECT ClientRectIn(HWND dialog, int id) {
  RECT rect = {};
  HWND control = ::GetDlgItem(dialog, id);
  if (!control) return rect;
  ::GetClientRect(control, &rect);
  ::MapWindowPoints(control, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// A DIB holding `image`'s pixels; null for an empty image or when it cannot be made.
HBITMAP MakeBitmap(HDC dc, const PixelImage& image) {
  if (image.width <= 0 || image.height <= 0) return nullptr;
  void* bits = nullptr;
  HBITMAP bitmap = CreateTopDownDib32(dc, image.width, image.height, &bits);
  if (bitmap && bits) {
    std::memcpy(bits, image.pixels.data(), image.pixels.size() * sizeof(Colour));
  }
  return bitmap;
}

void Blit(HDC dc, HBITMAP bitmap, int x, int y) {
  if (!bitmap) return;
  BITMAP info = {};
  ::GetObjectA(bitmap, sizeof(info), &info);
  HDC memory = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
}

bool RegisterImageClass(HINSTANCE instance) {
  WNDCLASSA existing = {};
  if (::GetClassInfoA(instance, kImageClass, &existing)) return true;
  WNDCLASSA cls = {};
  cls.lpfnWndProc = ZMapView::ImageProc;
  cls.hInstance = instance;
  cls.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  cls.hbrBackground = nullptr;
  cls.lpszClassName = kImageClass;
  return ::RegisterClassA(&cls) != 0;
}

}  // namespace

// ---- The page ----

ZCorrectionView::~ZCorrectionView() {
  page_.set_fitter(nullptr);
}

void ZCorrectionView::Attach(HWND window) {
  window_ = window;
  const LRESULT font = ::SendMessageA(window, WM_GETFONT, 0, 0);
  ::SendDlgItemMessageA(window, IDC_ZCORR_GROUP, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
  page_.set_fitter(this);
  HwndDialogControls controls(window);
  page_.Refresh(controls);
}

bool ZCorrectionView::OnMessage(HWND /*window*/, UINT /*message*/, WPARAM /*wparam*/,
                                LPARAM /*lparam*/, INT_PTR& /*result*/) {
  return false;
}

int ZCorrectionView::ClientWidth(int control) {
  const RECT rect = ClientRectIn(window_, control);
  return rect.right - rect.left;
}

int ZCorrectionView::TextWidth(std::string_view text) {
  HDC dc = ::GetDC(window_);
  if (!dc) return 0;
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageA(window_, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? ::SelectObject(dc, font) : nullptr;
  SIZE extent = {};
  ::GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()), &extent);
  if (old) ::SelectObject(dc, old);
  ::ReleaseDC(window_, dc);
  return extent.cx;
}

std::string ZCorrectionView::CompactPath(std::string_view path, int width) {
  // The platform's routine works in a buffer of MAX_PATH characters; a longer name keeps its
  // end, which holds the file's own name.
  std::string buffer(MAX_PATH, '\0');
  const std::string_view kept =
      path.size() < MAX_PATH ? path : path.substr(path.size() - (MAX_PATH - 1));
  std::memcpy(buffer.data(), kept.data(), kept.size());
  HDC dc = ::GetDC(window_);
  if (!dc) return std::string(path);
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageA(window_, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? ::SelectObject(dc, font) : nullptr;
  ::PathCompactPathA(dc, buffer.data(), static_cast<UINT>(width));
  if (old) ::SelectObject(dc, old);
  ::ReleaseDC(window_, dc);
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

// ---- The map dialog ----

ZMapView::~ZMapView() {
  if (image_window_) {
    ::SetWindowLongPtrA(image_window_, GWLP_USERDATA, 0);
    ::DestroyWindow(image_window_);
  }
  FreeBitmaps();
}

void ZMapView::FreeBitmaps() {
  if (image_) ::DeleteObject(image_);
  if (legend_) ::DeleteObject(legend_);
  image_ = nullptr;
  legend_ = nullptr;
}

void ZMapView::Attach(HWND window) {
  window_ = window;
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(window, GWLP_HINSTANCE));
  const RECT area = ClientRectIn(window, IDC_ZMAP_IMAGE);
  legend_rect_ = ClientRectIn(window, IDC_ZMAP_LEGEND);
  if (RegisterImageClass(instance)) {
    image_window_ = ::CreateWindowExA(
        0, kImageClass, "", WS_CHILD | WS_VISIBLE, area.left, area.top, area.right - area.left,
        area.bottom - area.top, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kImageWindowId)), instance, nullptr);
  }
  if (image_window_) {
    ::SetWindowLongPtrA(image_window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowPos(image_window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  Render();
}

void ZMapView::Render() {
  HCURSOR previous = ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
  FreeBitmaps();
  HDC dc = ::GetDC(window_);
  if (dc) {
    RECT client = {};
    if (image_window_) ::GetClientRect(image_window_, &client);
    image_ = MakeBitmap(dc, dialog_.RenderImage(client.right, client.bottom));

    const int width = legend_rect_.right - legend_rect_.left;
    const int height = legend_rect_.bottom - legend_rect_.top;
    HDC memory = ::CreateCompatibleDC(dc);
    HGDIOBJ old_font = ::SelectObject(memory, ::GetStockObject(ANSI_VAR_FONT));
    SIZE label = {};
    ::GetTextExtentPoint32A(memory, kZMapWidestLabel,
                            static_cast<int>(std::strlen(kZMapWidestLabel)), &label);
    const ZMapLegendLayout layout = dialog_.LegendLayout(width, height, label.cx);
    legend_ = MakeBitmap(dc, dialog_.RenderLegend(layout, width, height));
    if (legend_) {
      HGDIOBJ old_bitmap = ::SelectObject(memory, legend_);
      ::SetBkMode(memory, OPAQUE);
      ::SetBkColor(memory, RGB(255, 255, 255));
      ::SetTextColor(memory, RGB(0, 0, 0));
      for (const ZMapLegendLayout::Label& text : layout.labels) {
        ::TextOutA(memory, text.x, text.y, text.text.c_str(), static_cast<int>(text.text.size()));
      }
      ::GdiFlush();
      ::SelectObject(memory, old_bitmap);
    }
    ::SelectObject(memory, old_font);
    ::DeleteDC(memory);
    ::ReleaseDC(window_, dc);
  }
  ::SetCursor(previous);
}

void ZMapView::PaintLegend(HDC dc) {
  Blit(dc, legend_, legend_rect_.left, legend_rect_.top);
}

bool ZMapView::OnMessage(HWND window, UINT message, WPARAM wparam, LPARAM /*lparam*/,
                         INT_PTR& result) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_ZMAP_PALETTE && HIWORD(wparam) == CBN_SELCHANGE) {
        ::PostMessageA(window, kMsgRender, 0, 0);
      }
      return false;  // the model takes the palette
    case kMsgRender:
      Render();
      if (image_window_) ::InvalidateRect(image_window_, nullptr, TRUE);
      ::InvalidateRect(window, &legend_rect_, FALSE);
      result = TRUE;
      return true;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(window, &ps);
      if (dc) PaintLegend(dc);
      ::EndPaint(window, &ps);
      result = TRUE;
      return true;
    }
    default:
      return false;
  }
}

LRESULT CALLBACK ZMapView::ImageProc(HWND image, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(image, &ps);
    auto* view = reinterpret_cast<ZMapView*>(::GetWindowLongPtrA(image, GWLP_USERDATA));
    if (dc && view) Blit(dc, view->image_, 0, 0);
    ::EndPaint(image, &ps);
    return 0;
  }
  return ::DefWindowProcA(image, message, wparam, lparam);
}

}  // namespace kelvro
