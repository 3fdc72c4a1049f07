#include "ui/win32_dialog_runner_win32.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// clang-format on

#include <commdlg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/owner_window_win32.h"
#include "resources/resource_ids.h"
#include "ui/config_dialog.h"
#include "ui/hwnd_dialog_controls_win32.h"
#include "ui/page_model.h"
#include "ui/page_view_win32.h"

namespace kelvro {
namespace {

// The visual-styles flag that gives a page the tab control's background.
constexpr DWORD kThemeTabTexture = 6;  // ETDT_ENABLE | ETDT_USETABTEXTURE
// Space around a tab's text, pixels (the tab control's default is 6 and 3).
constexpr int kTabPaddingX = 4;
constexpr int kTabPaddingY = 3;

using GetWindowThemeFn = HANDLE(WINAPI*)(HWND);
using EnableThemeDialogTextureFn = HRESULT(WINAPI*)(HWND, DWORD);

template <typename Fn>
Fn Function(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

// The view a page model asks for, made by the runner, while the page's window exists.
class ViewSlot {
 public:
  // After the window's load.
  void Make(PageModel& model, PageViewMaker& maker, HWND window) {
    made_ = model.MakeView(maker);
    // The runner makes Win32 views only.
    view_ = dynamic_cast<Win32PageView*>(made_.get());
    if (view_) view_->Attach(window);
  }
  // True when the view handled the message, with the procedure's answer in `result`.
  bool Forward(HWND window, UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) {
    return view_ && view_->OnMessage(window, message, wparam, lparam, result);
  }
  void Reset() {
    view_ = nullptr;
    made_.reset();
  }

 private:
  std::unique_ptr<PageView> made_;
  Win32PageView* view_ = nullptr;
};

// State of one open configuration dialog, shared by its frame and page procedures.
struct FrameState {
  FrameState(ConfigDialogModel& m, Win32DialogRunner& r) : model(m), runner(r) {}
  ConfigDialogModel& model;
  Win32DialogRunner& runner;
  HWND tabs = nullptr;
  HWND page = nullptr;
  std::optional<HwndDialogControls> page_controls;
  ViewSlot view;    // the visible page's own view, if it has one
  int opening = 0;  // the tab whose page is being created
  bool themed = false;
};

// State of one open modal dialog over a page model.
struct ModalState {
  ModalState(PageModel& m, Win32DialogRunner& r) : model(m), runner(r) {}
  PageModel& model;
  Win32DialogRunner& runner;
  std::optional<HwndDialogControls> controls;
  ViewSlot view;
};

template <typename State>
State* StateOf(HWND dialog) {
  return reinterpret_cast<State*>(::GetWindowLongPtrA(dialog, DWLP_USER));
}

template <typename State>
State* Adopt(HWND dialog, LPARAM lparam) {
  ::SetWindowLongPtrA(dialog, DWLP_USER, lparam);
  return reinterpret_cast<State*>(lparam);
}

// Clicks and selection changes are the commands a page model handles.
bool IsModelCommand(WPARAM wparam) {
  const WORD code = HIWORD(wparam);
  return code == BN_CLICKED || code == CBN_SELCHANGE;
}

// ---- Pages ----

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    if (message == WM_INITDIALOG) {
      FrameState* frame = Adopt<FrameState>(page, lparam);
      frame->page = page;
      frame->page_controls.emplace(page);
      if (frame->themed) {
        if (auto enable = Function<EnableThemeDialogTextureFn>(
                frame->runner.ThemeFunction("EnableThemeDialogTexture"))) {
          enable(page, kThemeTabTexture);
        }
      }
      frame->model.PageOpened(frame->opening, *frame->page_controls);
      frame->view.Make(frame->model.page(frame->opening), frame->runner, page);
      return FALSE;  // the focus stays where the user put it (on the tabs)
    }
    FrameState* frame = StateOf<FrameState>(page);
    if (!frame) return FALSE;
    if (message == WM_DESTROY) {
      if (frame->page == page) {
        frame->page = nullptr;
        frame->page_controls.reset();
        frame->view.Reset();
      }
      return FALSE;
    }
    INT_PTR result = FALSE;
    if (frame->view.Forward(page, message, wparam, lparam, result)) return result;
    if (message != WM_COMMAND || !IsModelCommand(wparam) || !frame->page_controls) return FALSE;
    frame->model.Command(*frame->page_controls, LOWORD(wparam), frame->runner);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

// Page switching, steps 3 to 6: the old page window goes, the new one is created from its
// template inside the tab control, placed at its display area and shown.
void ShowPage(FrameState& frame, int index) {
  if (frame.page) ::DestroyWindow(frame.page);
  frame.opening = index;
  const int id = frame.model.page(index).template_id();
  HWND page = ::CreateDialogParamA(frame.runner.resources(), MAKEINTRESOURCEA(id), frame.tabs,
                                   PageProc, reinterpret_cast<LPARAM>(&frame));
  if (!page) return;
  RECT area;
  ::GetWindowRect(frame.tabs, &area);
  ::MapWindowPoints(nullptr, frame.tabs, reinterpret_cast<POINT*>(&area), 2);
  TabCtrl_AdjustRect(frame.tabs, FALSE, &area);
  ::SetWindowPos(page, nullptr, area.left, area.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::ShowWindow(page, SW_SHOW);
}

void SelectionChanged(FrameState& frame) {
  if (frame.page_controls && !frame.model.LeavePage(&*frame.page_controls)) {
    TabCtrl_SetCurSel(frame.tabs, frame.model.current_tab());
    return;
  }
  const int index = TabCtrl_GetCurSel(frame.tabs);
  if (index < 0) return;
  ShowPage(frame, index);
}

// ---- The frame ----

void InitFrame(HWND dialog, FrameState& frame) {
  frame.runner.DialogOpened(dialog);
  frame.tabs = ::GetDlgItem(dialog, IDC_CONFIG_TABS);
  if (auto theme = Function<GetWindowThemeFn>(frame.runner.ThemeFunction("GetWindowTheme"))) {
    frame.themed = theme(::GetDlgItem(dialog, IDOK)) != nullptr;
  }
  if (!frame.tabs) return;
  // Six tabs fit in one row of the 290-unit tab control only with a little less space
  // around their texts than the default 6 pixels.
  TabCtrl_SetPadding(frame.tabs, kTabPaddingX, kTabPaddingY);
  for (int i = 0; i < frame.model.tab_count(); ++i) {
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(frame.model.tab_text(i));
    ::SendMessageA(frame.tabs, TCM_INSERTITEMA, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&item));
  }
  // Keyboard navigation enters the page inside the tab control.
  const LONG_PTR ex_style = ::GetWindowLongPtrA(frame.tabs, GWL_EXSTYLE);
  ::SetWindowLongPtrA(frame.tabs, GWL_EXSTYLE, ex_style | WS_EX_CONTROLPARENT);
  const int tab = frame.model.current_tab();
  TabCtrl_SetCurSel(frame.tabs, tab);
  ShowPage(frame, tab);
}

INT_PTR CALLBACK FrameProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    if (message == WM_INITDIALOG) {
      InitFrame(dialog, *Adopt<FrameState>(dialog, lparam));
      return TRUE;
    }
    FrameState* frame = StateOf<FrameState>(dialog);
    if (!frame) return FALSE;
    switch (message) {
      case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
        if (!header || header->idFrom != IDC_CONFIG_TABS || header->code != TCN_SELCHANGE) {
          return FALSE;
        }
        SelectionChanged(*frame);
        return TRUE;
      }
      case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
          if (frame->model.LeavePage(frame->page_controls ? &*frame->page_controls : nullptr)) {
            ::EndDialog(dialog, IDOK);
          }
          return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
        }
        return FALSE;
      default:
        return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

// ---- Modal dialogs over one page model ----

INT_PTR CALLBACK ModalProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    if (message == WM_INITDIALOG) {
      ModalState* state = Adopt<ModalState>(dialog, lparam);
      state->runner.DialogOpened(dialog);
      state->controls.emplace(dialog);
      state->model.Exchange(*state->controls, ExchangeDirection::kLoad);
      state->model.ApplyEnableRules(*state->controls);
      state->view.Make(state->model, state->runner, dialog);
      return TRUE;
    }
    ModalState* state = StateOf<ModalState>(dialog);
    if (!state || !state->controls) return FALSE;
    if (message == WM_DESTROY) {
      state->view.Reset();
      return FALSE;
    }
    INT_PTR result = FALSE;
    if (state->view.Forward(dialog, message, wparam, lparam, result)) return result;
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wparam)) {
      case IDOK:
        if (SavePage(state->model, *state->controls, state->runner.messages())) {
          ::EndDialog(dialog, IDOK);
        }
        return TRUE;
      case IDCANCEL:
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      default:
        if (!IsModelCommand(wparam)) return FALSE;
        if (state->model.OnCommand(*state->controls, LOWORD(wparam), state->runner)) {
          state->model.ApplyEnableRules(*state->controls);
        }
        return TRUE;
    }
  } catch (...) {
    return FALSE;
  }
}

}  // namespace

Win32DialogRunner::Win32DialogRunner(HINSTANCE resources, HMODULE uxtheme, UserMessages& messages,
                                     OwnerWindowSlot& owner)
    : resources_(resources), uxtheme_(uxtheme), messages_(messages), owner_(owner) {
  INITCOMMONCONTROLSEX classes = {sizeof(classes),
                                  ICC_TAB_CLASSES | ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&classes);
}

Win32DialogRunner::~Win32DialogRunner() {
  if (thc_display_font_) ::DeleteObject(thc_display_font_);
}

HINSTANCE Win32DialogRunner::ThisModule() {
  HMODULE self = nullptr;
  static const char kAnchor = 0;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          &kAnchor, &self)) {
    return nullptr;
  }
  return self;
}

FARPROC Win32DialogRunner::ThemeFunction(const char* name) const {
  return uxtheme_ ? ::GetProcAddress(uxtheme_, name) : nullptr;
}

INT_PTR Win32DialogRunner::RunDialog(int id, DLGPROC procedure, void* state) {
  HWND previous = static_cast<HWND>(owner_.owner_window());
  HWND owner = static_cast<HWND>(UsableOwnerWindow(previous));
  const INT_PTR result = ::DialogBoxParamA(resources_, MAKEINTRESOURCEA(id), owner, procedure,
                                           reinterpret_cast<LPARAM>(state));
  owner_.SetOwnerWindow(previous);
  return result;
}

DialogResult Win32DialogRunner::RunConfigDialog(ConfigDialogModel& dialog) {
  // One configuration dialog at a time: its pages share the model's visible page.
  if (config_open_) return DialogResult::kCancel;
  config_open_ = true;
  FrameState state(dialog, *this);
  const INT_PTR result = RunDialog(IDD_CONFIG, FrameProc, &state);
  config_open_ = false;
  return result == IDOK ? DialogResult::kOk : DialogResult::kCancel;
}

DialogResult Win32DialogRunner::RunModal(PageModel& model) {
  ModalState state(model, *this);
  return RunDialog(model.template_id(), ModalProc, &state) == IDOK ? DialogResult::kOk
                                                                   : DialogResult::kCancel;
}

std::unique_ptr<PageView> Win32DialogRunner::About(AboutPage& /*page*/) {
  return std::make_unique<AboutView>(resources_, shell_open_);
}

std::unique_ptr<PageView> Win32DialogRunner::InputFilter(InputFilterPage& page) {
  return std::make_unique<InputFilterView>(resources_, page);
}

std::unique_ptr<PageView> Win32DialogRunner::Thc(ThcPage& page) {
  if (!thc_display_font_) thc_display_font_ = ThcView::CreateDisplayFont();
  return std::make_unique<ThcView>(page, thc_display_font_);
}

std::unique_ptr<PageView> Win32DialogRunner::ZCorrection(ZCorrectionPage& page) {
  return std::make_unique<ZCorrectionView>(page);
}

std::unique_ptr<PageView> Win32DialogRunner::ZMap(ZMapDialog& dialog) {
  return std::make_unique<ZMapView>(dialog);
}

std::unique_ptr<PageView> Win32DialogRunner::CurveEditor(CurveEditorDialog& editor) {
  return std::make_unique<CurveEditorView>(resources_, editor);
}

std::optional<std::string> Win32DialogRunner::ChooseFile(const FileDialogRequest& request) {
  // The filter's '|' separators become the dialog's NULs (it ends in two).
  std::string filter = request.filter;
  std::replace(filter.begin(), filter.end(), '|', '\0');
  filter.push_back('\0');
  std::string extension = request.default_extension;
  if (!extension.empty() && extension.front() == '.') extension.erase(0, 1);
  std::vector<char> name(MAX_PATH * 4, '\0');
  request.file_name.copy(name.data(), std::min(request.file_name.size(), name.size() - 1));
  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = static_cast<HWND>(UsableOwnerWindow(owner_.owner_window()));
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = static_cast<DWORD>(name.size());
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // The host's current folder is left where it was.
  dialog.Flags =
      OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | (request.save ? OFN_OVERWRITEPROMPT : 0);
  const BOOL chosen = request.save ? ::GetSaveFileNameA(&dialog) : ::GetOpenFileNameA(&dialog);
  if (!chosen) return std::nullopt;
  return std::string(name.data());
}

}  // namespace kelvro
