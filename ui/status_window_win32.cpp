#include "ui/status_window_win32.h"

#include <atomic>

#include "host/owner_window_win32.h"
#include "host/platform.h"
#include "resources/resource_ids.h"
#include "ui/status_view.h"

namespace kelvro {

// What the window's thread works with; the thread co-owns it, so it outlives a stop that
// gave up waiting.
struct Win32StatusWindowThread::Shared {
  HINSTANCE resources = nullptr;
  HWND owner = nullptr;
  std::shared_ptr<StatusFeed> feed;
  HANDLE ready = nullptr;  // set once the window exists (or could not be made)
  std::atomic<HWND> window{nullptr};
  // Window thread only.
  StatusView view;
  HWND indicator = nullptr;

  ~Shared() {
    if (ready) ::CloseHandle(ready);
  }
};

namespace {

using Shared = Win32StatusWindowThread::Shared;

constexpr char kIndicatorClass[] = "KelvroStatusIndicator";
// Any object of this module: its address names the module.
const char kModuleAnchor = 0;
// How long Open waits for the new thread to make its window.
constexpr DWORD kOpenWaitMs = 5000;

Colour FromColorRef(COLORREF colour) {
  return MakeColour(GetRValue(colour), GetGValue(colour), GetBValue(colour));
}

// Waits for `handle` at most `wait_ms`, answering the messages other threads send to this
// one meanwhile (the window's thread talks to its owner, which lives on this thread).
bool WaitAnsweringSentMessages(HANDLE handle, DWORD wait_ms) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD spent = ::GetTickCount() - start;
    const DWORD left = spent >= wait_ms ? 0 : wait_ms - spent;
    const DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0) return true;
    if (result != WAIT_OBJECT_0 + 1) return false;
    MSG message;
    ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

Shared* SharedOf(HWND dialog) {
  return reinterpret_cast<Shared*>(::GetWindowLongPtrA(dialog, DWLP_USER));
}

void PaintIndicator(HWND indicator) {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(indicator, &paint);
  const Shared* shared = SharedOf(::GetParent(indicator));
  RECT client = {};
  ::GetClientRect(indicator, &client);
  if (dc && shared && client.right > 0 && client.bottom > 0) {
    const PixelImage image = shared->view.indicator().Render(
        client.right, client.bottom, FromColorRef(::GetSysColor(COLOR_BTNFACE)));
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(image.width), static_cast<DWORD>(image.height),
                        0, 0, 0, static_cast<UINT>(image.height), image.pixels.data(), &info,
                        DIB_RGB_COLORS);
  }
  ::EndPaint(indicator, &paint);
}

LRESULT CALLBACK IndicatorProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      PaintIndicator(window);
      return 0;
    default:
      return ::DefWindowProcA(window, message, wparam, lparam);
  }
}

void RegisterIndicatorClass(HINSTANCE instance) {
  WNDCLASSA existing = {};
  if (::GetClassInfoA(instance, kIndicatorClass, &existing)) return;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = IndicatorProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = nullptr;
  wc.lpszClassName = kIndicatorClass;
  ::RegisterClassA(&wc);
}

void Show(HWND dialog, Shared& shared, const StatusUpdate& update) {
  const std::vector<int> written =
      update.online ? shared.view.ShowOnline(update.snapshot) : shared.view.ShowOffline();
  for (int id : written) ::SetDlgItemTextA(dialog, id, shared.view.Text(id).c_str());
  if (shared.indicator) ::InvalidateRect(shared.indicator, nullptr, FALSE);
}

void InitWindow(HWND dialog, Shared& shared) {
  // Centred on the owner's client area, size and z-order kept.
  if (HWND owner = ::GetWindow(dialog, GW_OWNER)) {
    RECT area = {};
    RECT self = {};
    ::GetClientRect(owner, &area);
    ::GetWindowRect(dialog, &self);
    const int x = ((area.right - area.left) - (self.right - self.left)) / 2;
    const int y = ((area.bottom - area.top) - (self.bottom - self.top)) / 2;
    ::SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::ShowWindow(dialog, SW_SHOW);
  const auto system_font = reinterpret_cast<WPARAM>(::GetStockObject(SYSTEM_FONT));
  for (int k = 0; k < StatusView::kCounters; ++k) {
    ::SendDlgItemMessageA(dialog, StatusView::kFirstCounter + k, WM_SETFONT, system_font, TRUE);
  }
  // The indicator over the hidden frame's place.
  RECT place = {};
  if (HWND frame = ::GetDlgItem(dialog, IDC_STATUS_INDICATOR_FRAME)) {
    ::GetWindowRect(frame, &place);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
  }
  RegisterIndicatorClass(shared.resources);
  shared.indicator =
      ::CreateWindowExA(WS_EX_TRANSPARENT, kIndicatorClass, "", WS_CHILD | WS_VISIBLE, place.left,
                        place.top, place.right - place.left, place.bottom - place.top, dialog,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_INDICATOR)),
                        shared.resources, nullptr);
}

INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  try {
    if (message == WM_INITDIALOG) {
      ::SetWindowLongPtrA(dialog, DWLP_USER, lparam);
      Shared* shared = reinterpret_cast<Shared*>(lparam);
      InitWindow(dialog, *shared);
      if (const auto update = shared->feed->Take()) Show(dialog, *shared, *update);
      return TRUE;
    }
    Shared* shared = SharedOf(dialog);
    if (!shared) return FALSE;
    switch (message) {
      case kMsgRedraw:
        if (const auto update = shared->feed->Take()) Show(dialog, *shared, *update);
        return TRUE;
      case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) ::DestroyWindow(dialog);
        return TRUE;
      case WM_CLOSE:
        ::DestroyWindow(dialog);
        return TRUE;
      case WM_DESTROY:
        shared->indicator = nullptr;
        ::PostQuitMessage(0);
        return FALSE;
      default:
        return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

DWORD WINAPI WindowThreadMain(void* parameter) {
  // The module reference taken for this thread is given back as the thread ends.
  HMODULE self = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, &kModuleAnchor, &self);
  {
    const std::unique_ptr<std::shared_ptr<Shared>> handed(
        static_cast<std::shared_ptr<Shared>*>(parameter));
    const std::shared_ptr<Shared> shared = *handed;
    HWND dialog =
        ::CreateDialogParamA(shared->resources, MAKEINTRESOURCEA(IDD_STATUS), shared->owner,
                             StatusDialogProc, reinterpret_cast<LPARAM>(shared.get()));
    shared->window = dialog;
    ::SetEvent(shared->ready);
    if (dialog) {
      // No dialog keyboard handling: Enter and Escape do not close the window.
      MSG message;
      while (::IsWindow(dialog) && ::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
      }
      if (::IsWindow(dialog)) ::DestroyWindow(dialog);
    }
    shared->window = nullptr;
  }
  if (self) ::FreeLibraryAndExitThread(self, 0);
  return 0;
}

}  // namespace

Win32StatusWindowThread::~Win32StatusWindowThread() {
  if (Running()) Stop(StatusWindow::kStopWaitMs);
  if (thread_) ::CloseHandle(thread_);
}

bool Win32StatusWindowThread::Running() {
  return thread_ && ::WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT;
}

HWND Win32StatusWindowThread::window() const {
  return shared_ ? shared_->window.load() : nullptr;
}

void Win32StatusWindowThread::Open(void* owner, std::shared_ptr<StatusFeed> feed) {
  if (Running()) {
    if (HWND open = window()) {
      ::ShowWindow(open, SW_SHOWNORMAL);
      ::SetForegroundWindow(open);
      ::BringWindowToTop(open);
    }
    return;
  }
  if (thread_) {
    ::CloseHandle(thread_);
    thread_ = nullptr;
  }
  auto shared = std::make_shared<Shared>();
  shared->resources = resources_;
  shared->owner = static_cast<HWND>(UsableOwnerWindow(owner));
  shared->feed = std::move(feed);
  shared->ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!shared->ready) return;
  auto* handed = new std::shared_ptr<Shared>(shared);
  thread_ = ::CreateThread(nullptr, 0, WindowThreadMain, handed, 0, &thread_id_);
  if (!thread_) {
    delete handed;
    return;
  }
  ++threads_started_;
  shared_ = shared;
  // Wakes go to the window: it has to exist before Open returns.
  WaitAnsweringSentMessages(shared->ready, kOpenWaitMs);
}

void Win32StatusWindowThread::Wake() {
  if (HWND open = window()) ::PostMessageA(open, kMsgRedraw, 0, 0);
}

bool Win32StatusWindowThread::Stop(uint32_t wait_ms) {
  if (!Running()) return true;
  ::PostThreadMessageA(thread_id_, WM_QUIT, 0, 0);
  return WaitAnsweringSentMessages(thread_, wait_ms);
}

}  // namespace kelvro
