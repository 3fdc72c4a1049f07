#include "ui/input_filter_view_win32.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <string>

#include "resources/resource_ids.h"
#include "ui/gdi_canvas_win32.h"

namespace kelvro {
namespace {

constexpr UINT_PTR kListSubclass = 0x4946;    // any id unique among the list's subclasses
constexpr UINT_PTR kEditorSubclass = 0x4945;  // and the editor's
// Posted to the list when the editor is to go after one of its own messages.
constexpr UINT kSyncMessage = WM_APP + 0x31;
constexpr char kRowItemText[] = "in";

std::string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  const int copied = ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

bool IsEnterOrEscape(const MSG* msg) {
  return msg && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) &&
         (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE);
}

}  // namespace

InputFilterView::~InputFilterView() {
  if (list_ && ::IsWindow(list_)) ::RemoveWindowSubclass(list_, ListProc, kListSubclass);
  if (editor_ && ::IsWindow(editor_)) ::RemoveWindowSubclass(editor_, EditorProc, kEditorSubclass);
  for (auto& [id, icon] : icons_) {
    if (icon) ::DestroyIcon(icon);
  }
}

void InputFilterView::Attach(HWND window) {
  PinList& pins = page_.pins();
  pins.Cancel();  // an editor belongs to the window that showed it
  list_ = ::GetDlgItem(window, IDC_FILTER_PINS);
  if (!list_) return;
  RECT edit = {};
  if (HWND first = ::GetDlgItem(window, IDC_FILTER_LIMIT)) ::GetClientRect(first, &edit);
  pins.SetRowHeight(edit.bottom - edit.top);
  for (int id : {kIconPinEnabled, kIconPinDisabled}) {
    icons_[id] = static_cast<HICON>(
        ::LoadImageA(resources_, MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
  }
  RECT client = {};
  ::GetClientRect(list_, &client);
  pins.LayOut(client.right - client.left, ::GetSystemMetrics(SM_CXVSCROLL));
  for (int c = 0; c < kPinColumnCount; ++c) {
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = pins.column_widths()[static_cast<size_t>(c)];
    column.pszText = const_cast<char*>(kPinColumnTitles[static_cast<size_t>(c)]);
    ::SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(c),
                   reinterpret_cast<LPARAM>(&column));
  }
  for (int row = 0; row < kPinRowCount; ++row) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(kRowItemText);
    ::SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
  ::SetWindowSubclass(list_, ListProc, kListSubclass, reinterpret_cast<DWORD_PTR>(this));
  // The rows were measured while the template was built, before this view existed: a change
  // of the list's size makes it measure them again (it is given its size back at once).
  RECT place = {};
  ::GetWindowRect(list_, &place);
  const int width = place.right - place.left;
  const int height = place.bottom - place.top;
  const UINT flags = SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE;
  ::SetWindowPos(list_, nullptr, 0, 0, width, height + 1, flags);
  ::SetWindowPos(list_, nullptr, 0, 0, width, height, flags);
  ReadViewport();
}

bool InputFilterView::OnMessage(HWND /*window*/, UINT message, WPARAM /*wparam*/, LPARAM lparam,
                                INT_PTR& result) {
  PinList& pins = page_.pins();
  switch (message) {
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
      if (!measure || measure->CtlType != ODT_LISTVIEW || measure->CtlID != IDC_FILTER_PINS) {
        return false;
      }
      measure->itemHeight = static_cast<UINT>(pins.row_height());
      result = TRUE;
      return true;
    }
    case WM_DRAWITEM: {
      const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (!draw || draw->CtlType != ODT_LISTVIEW || draw->CtlID != IDC_FILTER_PINS) return false;
      ReadViewport();
      HGDIOBJ font = reinterpret_cast<HGDIOBJ>(::SendMessageA(list_, WM_GETFONT, 0, 0));
      HGDIOBJ old_font = font ? ::SelectObject(draw->hDC, font) : nullptr;
      GdiCanvas canvas(draw->hDC, icons_);
      const RECT& r = draw->rcItem;
      pins.PaintRow(static_cast<int>(draw->itemID), {r.left, r.top, r.right, r.bottom},
                    (draw->itemState & ODS_SELECTED) != 0, canvas);
      if (old_font) ::SelectObject(draw->hDC, old_font);
      if (editor_ && pins.edited_row() == static_cast<int>(draw->itemID)) {
        if (const auto place = pins.EditorRect()) {
          ::SetWindowPos(editor_, nullptr, place->left, place->top, place->width(), place->height(),
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
      }
      result = TRUE;
      return true;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (!header || header->hwndFrom != list_ || header->code != LVN_ITEMCHANGED) return false;
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
      if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED)) {
        pins.Select(change->iItem);
      }
      return false;
    }
    default:
      return false;
  }
}

void InputFilterView::ReadViewport() {
  if (!list_) return;
  const int top = static_cast<int>(::SendMessageA(list_, LVM_GETTOPINDEX, 0, 0));
  RECT row = {};
  row.left = LVIR_BOUNDS;
  if (!::SendMessageA(list_, LVM_GETITEMRECT, static_cast<WPARAM>(top),
                      reinterpret_cast<LPARAM>(&row))) {
    return;
  }
  page_.pins().SetViewport(row.top, top, -row.left);
}

void InputFilterView::ReadColumnWidths() {
  std::array<int, kPinColumnCount> widths{};
  for (int c = 0; c < kPinColumnCount; ++c) {
    widths[static_cast<size_t>(c)] =
        static_cast<int>(::SendMessageA(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(c), 0));
  }
  page_.pins().SetColumnWidths(widths);
}

void InputFilterView::Sync() {
  if (syncing_ || !list_) return;
  syncing_ = true;
  PinList& pins = page_.pins();
  if (editor_ && (!pins.editing() || editor_session_ != pins.edit_session())) {
    HWND old = editor_;
    editor_ = nullptr;
    if (::GetFocus() == old) ::SetFocus(list_);
    ::DestroyWindow(old);
  }
  if (pins.editing() && !editor_) {
    editor_ = ::CreateWindowExA(
        0, "EDIT", pins.editor_text().c_str(), WS_CHILD | WS_BORDER | ES_CENTER | ES_AUTOHSCROLL, 0,
        0, 0, 0, list_, reinterpret_cast<HMENU>(IDC_FILTER_PIN_EDITOR),
        reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(list_, GWLP_HINSTANCE)), nullptr);
    if (editor_) {
      editor_session_ = pins.edit_session();
      ::SendMessageA(editor_, WM_SETFONT, ::SendMessageA(list_, WM_GETFONT, 0, 0), FALSE);
      ::SetWindowSubclass(editor_, EditorProc, kEditorSubclass, reinterpret_cast<DWORD_PTR>(this));
    }
  }
  if (editor_) {
    ReadViewport();
    if (const auto place = pins.EditorRect()) {
      ::SetWindowPos(editor_, HWND_TOP, place->left, place->top, place->width(), place->height(),
                     SWP_NOACTIVATE | SWP_SHOWWINDOW);
    } else {
      ::ShowWindow(editor_, SW_HIDE);
    }
    if (::GetFocus() != editor_ && ::IsWindowVisible(editor_)) {
      ::SetFocus(editor_);
      const LRESULT end = ::GetWindowTextLengthA(editor_);
      ::SendMessageA(editor_, EM_SETSEL, static_cast<WPARAM>(end), end);
    }
  }
  ::InvalidateRect(list_, nullptr, FALSE);
  syncing_ = false;
}

LRESULT CALLBACK InputFilterView::ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam,
                                           UINT_PTR /*id*/, DWORD_PTR data) {
  try {
    if (message == WM_NCDESTROY) {
      ::RemoveWindowSubclass(list, ListProc, kListSubclass);
      reinterpret_cast<InputFilterView*>(data)->list_ = nullptr;
      return ::DefSubclassProc(list, message, wparam, lparam);
    }
    return reinterpret_cast<InputFilterView*>(data)->OnListMessage(list, message, wparam, lparam);
  } catch (...) {
    return ::DefSubclassProc(list, message, wparam, lparam);
  }
}

LRESULT InputFilterView::OnListMessage(HWND list, UINT message, WPARAM wparam, LPARAM lparam) {
  PinList& pins = page_.pins();
  switch (message) {
    case WM_GETDLGCODE:
      // Every key but Enter and Escape, which go on to the dialog as usual.
      if (IsEnterOrEscape(reinterpret_cast<const MSG*>(lparam))) {
        return ::DefSubclassProc(list, message, wparam, lparam);
      }
      return DLGC_WANTALLKEYS | ::DefSubclassProc(list, message, wparam, lparam);
    case WM_KEYDOWN:
      swallow_char_ = false;
      if (pins.KeyDown(static_cast<int>(wparam))) {
        swallow_char_ = true;
        Sync();
        return 0;
      }
      break;
    case WM_CHAR:
      if (swallow_char_) {
        swallow_char_ = false;
        return 0;
      }
      break;
    case WM_LBUTTONDOWN: {
      // The list selects the row and takes the focus (which ends a running edit) first.
      const LRESULT done = ::DefSubclassProc(list, message, wparam, lparam);
      ReadViewport();
      pins.Click(static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam)));
      Sync();
      return done;
    }
    case WM_VSCROLL:
    case WM_HSCROLL:
    case WM_MOUSEWHEEL: {
      pins.Scrolled();
      Sync();
      const LRESULT done = ::DefSubclassProc(list, message, wparam, lparam);
      ReadViewport();
      return done;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (!header) break;
      switch (header->code) {
        case HDN_BEGINTRACKA:
        case HDN_BEGINTRACKW:
        case HDN_ENDTRACKA:
        case HDN_ENDTRACKW:
          pins.DividerDrag();
          Sync();
          break;
        case HDN_TRACKA:
        case HDN_TRACKW:
        case HDN_ITEMCHANGEDA:
        case HDN_ITEMCHANGEDW: {
          const LRESULT done = ::DefSubclassProc(list, message, wparam, lparam);
          ReadColumnWidths();
          Sync();
          return done;
        }
        default:
          break;
      }
      break;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_FILTER_PIN_EDITOR && HIWORD(wparam) == EN_CHANGE && editor_ &&
          reinterpret_cast<HWND>(lparam) == editor_) {
        pins.SetEditorText(WindowText(editor_));
        return 0;
      }
      break;
    case kSyncMessage:
      Sync();
      return 0;
    default:
      break;
  }
  return ::DefSubclassProc(list, message, wparam, lparam);
}

LRESULT CALLBACK InputFilterView::EditorProc(HWND editor, UINT message, WPARAM wparam,
                                             LPARAM lparam, UINT_PTR /*id*/, DWORD_PTR data) {
  try {
    if (message == WM_NCDESTROY) {
      ::RemoveWindowSubclass(editor, EditorProc, kEditorSubclass);
      return ::DefSubclassProc(editor, message, wparam, lparam);
    }
    return reinterpret_cast<InputFilterView*>(data)->OnEditorMessage(editor, message, wparam,
                                                                     lparam);
  } catch (...) {
    return ::DefSubclassProc(editor, message, wparam, lparam);
  }
}

LRESULT InputFilterView::OnEditorMessage(HWND editor, UINT message, WPARAM wparam, LPARAM lparam) {
  PinList& pins = page_.pins();
  // Only the model's current editor speaks for the edit.
  const bool current = editor == editor_ && editor_session_ == pins.edit_session();
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS | ::DefSubclassProc(editor, message, wparam, lparam);
    case WM_KEYDOWN:
      if (wparam == VK_RETURN || wparam == VK_ESCAPE) {
        if (current) pins.EditorKey(static_cast<int>(wparam));
        // The editor goes once this message is over.
        ::SetFocus(list_);
        ::PostMessageA(list_, kSyncMessage, 0, 0);
        return 0;
      }
      break;
    case WM_CHAR:
      if (wparam == VK_RETURN || wparam == VK_ESCAPE) return 0;
      break;
    case WM_KILLFOCUS:
      if (current) pins.FocusLost();
      if (list_) ::PostMessageA(list_, kSyncMessage, 0, 0);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(editor, message, wparam, lparam);
}

}  // namespace kelvro
