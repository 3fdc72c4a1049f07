#include "ui/about_view_win32.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <olectl.h>
#include <shellapi.h>
// clang-format on

#include <cstring>
#include <new>
#include <string>

#include "resources/resource_ids.h"
#include "ui/about_page.h"
#include "ui/dib_win32.h"

namespace kelvro {
namespace {

// ---- Links ----

struct Link {
  std::string target;
  HCURSOR cursor = nullptr;
  ShellOpen open;
};

constexpr UINT_PTR kLinkSubclass = 0x4B4C;  // any id unique among this control's subclasses

// Draws the parent's background behind the control, then the text in blue on top of it.
void PaintLink(HWND link) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(link, &ps);
  if (!dc) return;
  RECT client;
  ::GetClientRect(link, &client);
  HWND parent = ::GetParent(link);
  HBRUSH background = reinterpret_cast<HBRUSH>(::SendMessageA(
      parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(link)));
  if (background) {
    // A patterned (themed) background lines up with the parent's.
    POINT origin = {0, 0};
    ::MapWindowPoints(link, parent, &origin, 1);
    ::SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
    ::FillRect(dc, &client, background);
  }
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(0, 0, 255));
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageA(link, WM_GETFONT, 0, 0));
  HGDIOBJ old_font = font ? ::SelectObject(dc, font) : nullptr;
  const int length = ::GetWindowTextLengthA(link);
  std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  const int copied = ::GetWindowTextA(link, text.data(), static_cast<int>(text.size()));
  const LONG style = ::GetWindowLongA(link, GWL_STYLE);
  const bool centred = (style & SS_TYPEMASK) == SS_CENTER;
  UINT format = (centred ? DT_CENTER : DT_LEFT) | DT_WORDBREAK;
  if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
  ::DrawTextA(dc, text.c_str(), copied, &client, format);
  if (old_font) ::SelectObject(dc, old_font);
  ::EndPaint(link, &ps);
}

LRESULT CALLBACK LinkProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                          DWORD_PTR data) {
  Link* link = reinterpret_cast<Link*>(data);
  try {
    switch (message) {
      case WM_NCHITTEST:
        return HTCLIENT;
      case WM_SETCURSOR:
        if (link->cursor) {
          ::SetCursor(link->cursor);
          return TRUE;
        }
        break;
      case WM_LBUTTONDOWN:
        if (link->open && !link->target.empty()) link->open(link->target);
        break;  // and then as usual
      case WM_ERASEBKGND:
        return TRUE;  // the paint draws the background
      case WM_PAINT:
        PaintLink(window);
        return 0;
      case WM_NCDESTROY:
        ::RemoveWindowSubclass(window, LinkProc, kLinkSubclass);
        delete link;
        return ::DefSubclassProc(window, message, wparam, lparam);
      default:
        break;
    }
  } catch (...) {
  }
  return ::DefSubclassProc(window, message, wparam, lparam);
}

void MakeLink(HWND page, int id, HINSTANCE resources, const ShellOpen& open) {
  HWND control = ::GetDlgItem(page, id);
  if (!control) return;
  Link* link = new (std::nothrow) Link;
  if (!link) return;
  try {
    link->target = AboutPage::LinkTarget(id);
    link->open = open;
  } catch (...) {
    delete link;
    return;
  }
  link->cursor = ::LoadCursorA(resources, MAKEINTRESOURCEA(IDC_LINK_CURSOR));
  if (!::SetWindowSubclass(control, LinkProc, kLinkSubclass, reinterpret_cast<DWORD_PTR>(link))) {
    delete link;
  }
}

// ---- Picture ----

struct PictureStore {
  HBITMAP bitmap = nullptr;
  SIZE size = {0, 0};
  int decodes = 0;
};

PictureStore& Store() {
  static PictureStore store;
  return store;
}

// The resource's bytes in a movable memory block, as a stream that owns the block.
IStream* ResourceStream(HINSTANCE resources, int id, const char* type, DWORD& size) {
  HRSRC found = ::FindResourceA(resources, MAKEINTRESOURCEA(id), type);
  if (!found) return nullptr;
  HGLOBAL loaded = ::LoadResource(resources, found);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  size = ::SizeofResource(resources, found);
  if (!data || size == 0) return nullptr;
  HGLOBAL copy = ::GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) return nullptr;
  void* target = ::GlobalLock(copy);
  if (!target) {
    ::GlobalFree(copy);
    return nullptr;
  }
  std::memcpy(target, data, size);
  ::GlobalUnlock(copy);
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(copy, TRUE, &stream)) || !stream) {
    ::GlobalFree(copy);
    return nullptr;
  }
  return stream;
}

// Renders the picture into a 32-bit DIB of its pixel size and copies that into a bitmap
// compatible with the screen.
HBITMAP RenderPicture(IPicture* picture, SIZE& size) {
  OLE_XSIZE_HIMETRIC width_hm = 0;
  OLE_YSIZE_HIMETRIC height_hm = 0;
  if (FAILED(picture->get_Width(&width_hm)) || FAILED(picture->get_Height(&height_hm))) {
    return nullptr;
  }
  HDC screen = ::GetDC(nullptr);
  if (!screen) return nullptr;
  constexpr int kHimetricPerInch = 2540;
  const int width = ::MulDiv(width_hm, ::GetDeviceCaps(screen, LOGPIXELSX), kHimetricPerInch);
  const int height = ::MulDiv(height_hm, ::GetDeviceCaps(screen, LOGPIXELSY), kHimetricPerInch);
  HBITMAP result = nullptr;
  if (width > 0 && height > 0) {
    void* bits = nullptr;
    HBITMAP dib = CreateTopDownDib32(screen, width, height, &bits);
    HDC dib_dc = ::CreateCompatibleDC(screen);
    HDC copy_dc = ::CreateCompatibleDC(screen);
    HBITMAP copy = ::CreateCompatibleBitmap(screen, width, height);
    if (dib && dib_dc && copy_dc && copy) {
      HGDIOBJ old_dib = ::SelectObject(dib_dc, dib);
      HGDIOBJ old_copy = ::SelectObject(copy_dc, copy);
      const bool rendered = SUCCEEDED(picture->Render(dib_dc, 0, 0, width, height, 0, height_hm,
                                                      width_hm, -height_hm, nullptr));
      if (rendered && ::BitBlt(copy_dc, 0, 0, width, height, dib_dc, 0, 0, SRCCOPY)) {
        result = copy;
        copy = nullptr;
        size = {width, height};
      }
      ::SelectObject(copy_dc, old_copy);
      ::SelectObject(dib_dc, old_dib);
    }
    if (copy) ::DeleteObject(copy);
    if (copy_dc) ::DeleteDC(copy_dc);
    if (dib_dc) ::DeleteDC(dib_dc);
    if (dib) ::DeleteObject(dib);
  }
  ::ReleaseDC(nullptr, screen);
  return result;
}

}  // namespace

void ShellOpenTarget(const std::string& target) {
  ::ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOW);
}

void AboutView::Attach(HWND page) {
  MakeLink(page, IDC_ABOUT_MAIL, resources_, open_);
  MakeLink(page, IDC_ABOUT_WEB, resources_, open_);
  MakeLink(page, IDC_ABOUT_SPARE_LINK, resources_, open_);
  AboutPicture::Get(resources_);
}

bool AboutView::OnMessage(HWND page, UINT message, WPARAM /*wparam*/, LPARAM /*lparam*/,
                          INT_PTR& result) {
  if (message != WM_PAINT) return false;
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(page, &ps);
  if (dc) Paint(page, dc);
  ::EndPaint(page, &ps);
  result = TRUE;
  return true;
}

void AboutView::Paint(HWND page, HDC dc) const {
  HBITMAP picture = AboutPicture::Get(resources_);
  HWND frame = ::GetDlgItem(page, IDC_ABOUT_PICTURE);
  if (!picture || !frame) return;
  RECT area;
  ::GetWindowRect(frame, &area);
  ::MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&area), 2);
  HDC source = ::CreateCompatibleDC(dc);
  if (!source) return;
  HGDIOBJ old = ::SelectObject(source, picture);
  const SIZE size = AboutPicture::size();
  ::SetStretchBltMode(dc, HALFTONE);
  ::SetBrushOrgEx(dc, 0, 0, nullptr);
  ::StretchBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, source, 0,
               0, size.cx, size.cy, SRCCOPY);
  ::SelectObject(source, old);
  ::DeleteDC(source);
}

HBITMAP AboutPicture::Get(HINSTANCE resources) {
  PictureStore& store = Store();
  if (store.bitmap) return store.bitmap;
  ++store.decodes;
  DWORD length = 0;
  // FindResource matches a type name regardless of case.
  IStream* stream = ResourceStream(resources, IDB_ABOUT_PICTURE, "JBITMAP", length);
  if (!stream) return nullptr;
  IPicture* picture = nullptr;
  const HRESULT loaded = ::OleLoadPicture(stream, static_cast<LONG>(length), FALSE, IID_IPicture,
                                          reinterpret_cast<void**>(&picture));
  stream->Release();
  if (FAILED(loaded) || !picture) return nullptr;
  store.bitmap = RenderPicture(picture, store.size);
  picture->Release();
  return store.bitmap;
}

SIZE AboutPicture::size() {
  return Store().size;
}

int AboutPicture::decode_count() {
  return Store().decodes;
}

void AboutPicture::Release() {
  PictureStore& store = Store();
  if (store.bitmap) ::DeleteObject(store.bitmap);
  store.bitmap = nullptr;
  store.size = {0, 0};
}

}  // namespace kelvro
