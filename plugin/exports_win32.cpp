// The 21 entry points the host calls. Each one forwards to the plugin object of this
// loaded library and never lets an exception reach the host.
#include <windows.h>

#include <memory>

#include "device/winusb_port_win32.h"
#include "firmware/firmware_ui_win32.h"
#include "plugin/plugin.h"
#include "plugin/win32_platform_win32.h"
#include "ui/about_view_win32.h"
#include "ui/status_window_win32.h"
#include "ui/win32_dialog_runner_win32.h"

namespace {

// Everything long-lived of the loaded library. It is created by the first entry point the
// host calls (the callback setters and InitControl come first), not inside DllMain, where
// loading WinUsb.dll and the visual-styles library would run under the loader lock.
struct Library {
  kelvro::Win32Platform platform;
  kelvro::WinUsbPort port;
  kelvro::Win32FirmwareUi firmware_ui;
  kelvro::Plugin plugin{platform, port};
  // The visual-styles library, kept for the life of the process (null when missing).
  HMODULE uxtheme = ::LoadLibraryA("UxTheme.dll");
  kelvro::Win32DialogRunner dialogs{kelvro::Win32DialogRunner::ThisModule(), uxtheme, platform,
                                    platform};
  kelvro::Win32StatusWindowThread status_window{kelvro::Win32DialogRunner::ThisModule()};
  Library() {
    platform.SetTimerRoutine([this] { plugin.OnTimer(); });
    plugin.SetDialogRunner(&dialogs);
    plugin.SetStatusWindowThread(&status_window);
    plugin.firmware().Attach(&firmware_ui, &firmware_ui);
  }
  ~Library() {
    plugin.SetDialogRunner(nullptr);
    plugin.SetStatusWindowThread(nullptr);
    kelvro::AboutPicture::Release();
  }
};

Library* g_library = nullptr;

kelvro::Plugin* ThePlugin() {
  if (!g_library) {
    try {
      g_library = new Library();
    } catch (...) {
      return nullptr;
    }
  }
  return &g_library->plugin;
}

// Runs `body` on the plugin, swallowing anything that would otherwise cross into the host.
template <typename Result, typename Body>
Result Forward(Result fallback, Body body) {
  try {
    kelvro::Plugin* plugin = ThePlugin();
    if (!plugin) return fallback;
    return body(*plugin);
  } catch (...) {
    return fallback;
  }
}

template <typename Body>
void ForwardVoid(Body body) {
  try {
    if (kelvro::Plugin* plugin = ThePlugin()) body(*plugin);
  } catch (...) {
  }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // On process exit (reserved non-null) the process is going away: leave the objects.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr && g_library) {
    delete g_library;
    g_library = nullptr;
  }
  return TRUE;
}

__cdecl uint8_t InitControl(void* machine, void* params, void* planner, void* app) {
  return Forward<uint8_t>(1, [&](kelvro::Plugin& p) {
    if (g_library)
      g_library->platform.SetOwnerWindow(app ? static_cast<kelvro::HostApp*>(app)->main_window
                                             : nullptr);
    return p.InitControl(
        static_cast<kelvro::HostMachineState*>(machine), static_cast<kelvro::HostParams*>(params),
        static_cast<kelvro::HostPlanner*>(planner), static_cast<kelvro::HostApp*>(app));
  });
}

__cdecl void SetGetMenuRange(kelvro::GetMenuRangeFn f) {
  ForwardVoid([&](kelvro::Plugin& p) { p.callbacks().get_menu_range = f; });
}
__cdecl void SetDoButton(kelvro::DoButtonFn f) {
  ForwardVoid([&](kelvro::Plugin& p) { p.callbacks().do_button = f; });
}
__cdecl void SetSetDRO(kelvro::SetDroFn f) {
  ForwardVoid([&](kelvro::Plugin& p) { p.callbacks().set_dro = f; });
}
__cdecl void SetGetDRO(kelvro::GetDroFn f) {
  ForwardVoid([&](kelvro::Plugin& p) { p.callbacks().get_dro = f; });
}
__cdecl void SetGetLED(kelvro::GetLedFn f) {
  ForwardVoid([&](kelvro::Plugin& p) { p.callbacks().get_led = f; });
}
__cdecl void SetSetLED(kelvro::SetLedFn f) {
  ForwardVoid([&](kelvro::Plugin& p) { p.callbacks().set_led = f; });
}
__cdecl void SetCode(kelvro::CodeFn f) {
  ForwardVoid([&](kelvro::Plugin& p) { p.callbacks().code = f; });
}

__cdecl const char* SetProName(const char* name) {
  return Forward<const char*>(kelvro::Plugin::kDisplayName,
                              [&](kelvro::Plugin& p) { return p.SetProName(name); });
}

__cdecl void PostInitControl() {
  ForwardVoid([](kelvro::Plugin& p) { p.PostInitControl(); });
}
__cdecl void Config() {
  ForwardVoid([](kelvro::Plugin& p) { p.Config(); });
}
__cdecl void StopPlug() {
  ForwardVoid([](kelvro::Plugin& p) { p.StopPlug(); });
}
__cdecl void Update() {
  ForwardVoid([](kelvro::Plugin& p) { p.Update(); });
}
__cdecl void Notify(int32_t code) {
  ForwardVoid([&](kelvro::Plugin& p) { p.Notify(code); });
}
__cdecl void DoDwell(double time) {
  ForwardVoid([&](kelvro::Plugin& p) { p.DoDwell(time); });
}
__cdecl int32_t Reset() {
  return Forward<int32_t>(0xFFFF, [](kelvro::Plugin& p) { return p.Reset(); });
}
__cdecl void JogOn(int16_t axis, int16_t direction, double speed) {
  ForwardVoid([&](kelvro::Plugin& p) { p.JogOn(axis, direction, speed); });
}
__cdecl void JogOff(int16_t axis) {
  ForwardVoid([&](kelvro::Plugin& p) { p.JogOff(axis); });
}
__cdecl void Purge(int32_t flags) {
  ForwardVoid([&](kelvro::Plugin& p) { p.Purge(flags); });
}
__cdecl void Probe() {
  ForwardVoid([](kelvro::Plugin& p) { p.Probe(); });
}
__cdecl void Home(int16_t axis) {
  ForwardVoid([&](kelvro::Plugin& p) { p.Home(axis); });
}

}  // extern "C"
