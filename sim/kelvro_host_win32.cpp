// kelvro-host.exe: a stand-in for the host program on Windows.
//
// It loads kelvro_drv.dll from its own folder as the host would, hands it four blocks and
// the callbacks in the host's order, names the profile, finishes start-up, resets, calls
// Update about every 50 ms for a while, stops the plugin and prints what it saw as one
// JSON object. Message boxes are answered automatically so that nothing waits for a
// person.
//
// With --config-run it also plays the user in the plugin's configuration dialog after the
// first Reset (a bad value refused on a tab switch, then home retract 42 and PWM 31000; on
// the Input filter tab the per-pin switch and, in the list, pin 7 enabled and its time typed
// into the in-place editor and entered; a click on the About tab, OK), leaves the E-stop the dialog
// forced and resets again, as an operator would; the dialog is captured into the gallery
// (KELVRO_GALLERY) on the way. On the General tab it also switches ramp power compensation on
// and opens the laser ramp curve editor ("Edit..."): a press on the diagonal's middle inserts
// a point, which is dragged down to a fifth of the height, and OK. After the second Reset it
// moves X at a steady 480 units per minute through the trajectory ring, so that the
// segments carry the laser power of the edited curve.
//
// With --status-run it opens the plugin's status window from the plugin's menu (twice: the
// second time only brings it to the front), lights inputs 1, 3 and 5 and lines 2 and 16 of
// the simulated controller, jogs X, captures the window into the gallery
// ("status_online"), unplugs the controller, captures it again once the plugin has shown it
// offline ("status_offline"), and sees whether StopPlug closes it.
//
// With --stale-main-window the host hands over the handle of a main window that no longer
// exists (made and destroyed before InitControl), as a host with a broken window value would.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host_blocks.h"
#include "host/host_fields.h"
#include "host/trajectory_ring.h"
#include "resources/resource_ids.h"
#include "sim/dialog_watch_win32.h"
#include "sim/json_text.h"
#include "win32/tests/dialog_script_win32.h"
#include "win32/tests/window_capture_win32.h"

using namespace kelvro;
using kelvro::sim::JsonString;
using kelvro::sim::JsonStrings;

namespace {

struct Exports {
  uint8_t(__cdecl* InitControl)(void*, void*, void*, void*);
  void(__cdecl* SetGetMenuRange)(GetMenuRangeFn);
  void(__cdecl* SetDoButton)(DoButtonFn);
  void(__cdecl* SetSetDRO)(SetDroFn);
  void(__cdecl* SetGetDRO)(GetDroFn);
  void(__cdecl* SetGetLED)(GetLedFn);
  void(__cdecl* SetSetLED)(SetLedFn);
  void(__cdecl* SetCode)(CodeFn);
  const char*(__cdecl* SetProName)(const char*);
  void(__cdecl* PostInitControl)();
  void(__cdecl* Config)();
  void(__cdecl* StopPlug)();
  void(__cdecl* Update)();
  void(__cdecl* Notify)(int32_t);
  void(__cdecl* DoDwell)(double);
  int32_t(__cdecl* Reset)();
  void(__cdecl* JogOn)(int16_t, int16_t, double);
  void(__cdecl* JogOff)(int16_t);
  void(__cdecl* Purge)(int32_t);
  void(__cdecl* Probe)();
  void(__cdecl* Home)(int16_t);
};

struct Observed {
  std::vector<std::string> status_texts;
  std::vector<std::string> message_boxes;
  std::vector<std::string> message_box_owners;  // the caption of each box's owner window
  std::vector<int> buttons;
  std::string last_status;
  int timer_ticks = 0;
  int updates = 0;
};

Observed g_seen;
bool g_answer_yes = true;
// The plugin's firmware update dialog is watched, not answered like a message box.
kelvro::sim::DialogWatch* g_firmware_dialog = nullptr;
double g_dros[4096];
uint8_t g_leds[4096];
HostPlanner* g_planner = nullptr;

int16_t __cdecl GetMenuRange(int16_t) {
  return 5000;
}
void __cdecl DoButton(int16_t n) {
  g_seen.buttons.push_back(n);
}
void __cdecl SetDro(int16_t n, double v) {
  if (n >= 0 && n < 4096) g_dros[n] = v;
}
double __cdecl GetDro(int16_t n) {
  return n >= 0 && n < 4096 ? g_dros[n] : 0.0;
}
int32_t __cdecl GetLed(int16_t n) {
  return n >= 0 && n < 4096 ? g_leds[n] : 0;
}
void __cdecl SetLed(int16_t n, int32_t on) {
  if (n >= 0 && n < 4096) g_leds[n] = on ? 1 : 0;
}
void __cdecl Code(const char*) {}

// Records the host's status text whenever it changed since the last look.
void LookAtStatus() {
  if (!g_planner) return;
  std::string text(g_planner->status_text,
                   strnlen(g_planner->status_text, sizeof(g_planner->status_text)));
  if (!text.empty() && text != g_seen.last_status) g_seen.status_texts.push_back(text);
  g_seen.last_status = text;
}

// Answers every message box of this thread as soon as it is shown (a dialog whose text is
// in the message box's static 0xFFFF; the plugin's own dialogs are left to their script).
LRESULT CALLBACK AnswerMessageBoxes(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wparam);
    char class_name[32] = {};
    GetClassNameA(box, class_name, sizeof(class_name));
    // The firmware update dialog is watched by its own script.
    const bool firmware = g_firmware_dialog && g_firmware_dialog->Claim(box);
    if (std::strcmp(class_name, "#32770") == 0 && !firmware && GetDlgItem(box, 0xFFFF)) {
      char text[1024] = {};
      GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
      g_seen.message_boxes.emplace_back(text);
      char owner[128] = {};
      if (HWND window = GetWindow(box, GW_OWNER)) GetWindowTextA(window, owner, sizeof(owner));
      g_seen.message_box_owners.emplace_back(owner);
      int answer = IDOK;
      if (GetDlgItem(box, IDYES)) answer = g_answer_yes ? IDYES : IDNO;
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// A small three-axis mill on this controller's port, as a host would describe it.
void DescribeMachine(HostMachineState& machine, HostPlanner& planner) {
  for (int axis = 0; axis < 3; ++axis) {
    HostMotor& motor = machine.motors[axis];
    motor.enabled = 1;
    motor.step_port = 1;
    motor.dir_port = 1;
    motor.step_pin = static_cast<uint8_t>(2 + 2 * axis);
    motor.dir_pin = static_cast<uint8_t>(3 + 2 * axis);
    HostAxisTuning& tuning = planner.axes[axis];
    tuning.steps_per_unit = 1000.0;
    tuning.max_velocity = 50.0;
    tuning.acceleration = 500.0;
    tuning.soft_min = -1000.0;
    tuning.soft_max = 1000.0;
    tuning.slave_master = -1;
  }
  for (int axis = 3; axis < kMotorCount; ++axis) planner.axes[axis].slave_master = -1;
  machine.pulse_timing = 1000;
  planner.dwell_in_ms = 0;
}

HWND MakeMainWindow() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "KelvroStandInHost";
  RegisterClassA(&wc);
  HMENU bar = CreateMenu();
  HMENU plugins = CreatePopupMenu();
  HMENU config = CreatePopupMenu();
  AppendMenuA(config, MF_STRING, 27837, "General Config...");
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(config), "Config");
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(plugins), "PlugIn Control");
  return CreateWindowA("KelvroStandInHost", "Mach3 stand-in", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                       nullptr, bar, wc.hInstance, nullptr);
}

// What the run through the configuration dialog saw.
struct ConfigRun {
  bool finished = false;
  int tab_after_refusal = -1;
  bool focus_on_refused_field = false;
  std::string about_plugin;
  std::string about_firmware;
  std::string pin_editor_text;  // the in-place editor's text before Enter
  std::string curve_feed_text;  // the curve editor's nominal feedrate as it opened
  std::string curve_readout;    // its readout after the drag
  int curve_side = 0;           // its curve area's side in pixels
  bool pin_editor_closed = false;
  int captures = 0;
  int estop = -1;
  int stop_code = -1;
  long reset_result = 0;
};

// Opens the configuration dialog through Config and plays the user in it.
ConfigRun DriveConfigDialog(void(__cdecl* config)(), HostMachineState& machine) {
  using namespace kelvro::test;
  ConfigRun run;
  HWND frame = nullptr;
  HWND page = nullptr;
  const bool gallery = !GalleryFolder().empty();
  DialogScript script;
  script.Then([&] {
    frame = FindDialog("KELVRO configuration");
    page = frame ? VisiblePage(frame) : nullptr;
    return page && GetDlgItem(page, IDC_GENERAL_PWM_FREQ);
  });
  script.Then([&] {
    // Refused: the message box (answered by the hook) and the tab stays.
    SetText(page, IDC_GENERAL_PWM_FREQ, "-5");
    SelectTab(frame, 1);
    run.tab_after_refusal =
        static_cast<int>(SendDlgItemMessageA(frame, IDC_CONFIG_TABS, TCM_GETCURSEL, 0, 0));
    run.focus_on_refused_field = GetFocus() == GetDlgItem(page, IDC_GENERAL_PWM_FREQ);
    SetText(page, IDC_GENERAL_PWM_FREQ, "31000");
    SetText(page, IDC_GENERAL_HOME_RETRACT, "42");
    CheckDlgButton(page, IDC_GENERAL_LASER_COMP, BST_CHECKED);
    if (gallery) run.captures += CaptureToGallery(frame, "config_run_general") ? 1 : 0;
    PostClick(page, IDC_GENERAL_CURVE_EDIT);
    return true;
  });
  HWND curve_editor = nullptr;
  HWND curve_area = nullptr;
  script.Then([&] {
    curve_editor = FindDialog("Edit curve");
    // The curve area is a child window of the plugin's class "KelvroCurveArea".
    curve_area =
        curve_editor ? FindWindowExA(curve_editor, nullptr, "KelvroCurveArea", nullptr) : nullptr;
    return curve_editor != nullptr;
  });
  script.Then([&] {
    if (!curve_area) {
      PostClick(curve_editor, IDCANCEL);
      return true;
    }
    run.curve_feed_text = TextOf(GetDlgItem(curve_editor, IDC_CURVE_FEED));
    if (gallery) run.captures += CaptureToGallery(curve_editor, "curve_editor") ? 1 : 0;
    RECT area = {};
    GetClientRect(curve_area, &area);
    const int side = area.right;
    run.curve_side = side;
    const LPARAM press = MAKELPARAM(side / 2, side - side / 2);
    const LPARAM drop = MAKELPARAM(side / 2, side - side / 5);
    SendMessageA(curve_area, WM_MOUSEMOVE, 0, press);
    SendMessageA(curve_area, WM_LBUTTONDOWN, MK_LBUTTON, press);
    SendMessageA(curve_area, WM_MOUSEMOVE, MK_LBUTTON, drop);
    SendMessageA(curve_area, WM_LBUTTONUP, 0, drop);
    return true;
  });
  script.Then([&] {
    run.curve_readout = TextOf(GetDlgItem(curve_editor, IDC_CURVE_READOUT));
    if (gallery) run.captures += CaptureToGallery(curve_editor, "curve_editor_dragged") ? 1 : 0;
    PostClick(curve_editor, IDOK);
    return true;
  });
  script.Then([&] { return FindDialog("Edit curve") == nullptr; });
  HWND pins = nullptr;
  script.Then([&] {
    ClickTab(frame, 1);
    page = VisiblePage(frame);
    pins = page ? GetDlgItem(page, IDC_FILTER_PINS) : nullptr;
    if (!pins) return true;
    CheckDlgButton(page, IDC_FILTER_BY_PIN, BST_CHECKED);
    SendMessageA(pins, LVM_ENSUREVISIBLE, 6, FALSE);
    ClickListCell(pins, 6, 1);  // pin 7's Enable
    ClickListCell(pins, 6, 2);  // its time: the editor opens
    HWND editor = GetDlgItem(pins, IDC_FILTER_PIN_EDITOR);
    if (!editor) return true;
    SendMessageA(editor, EM_SETSEL, 0, -1);
    for (char c : std::string("1234")) SendMessageA(editor, WM_CHAR, static_cast<WPARAM>(c), 1);
    run.pin_editor_text = TextOf(editor);
    if (gallery) run.captures += CaptureToGallery(frame, "config_run_input_filter") ? 1 : 0;
    PostMessageA(editor, WM_KEYDOWN, VK_RETURN, 1);
    return true;
  });
  script.Then([&] {
    run.pin_editor_closed = pins && !GetDlgItem(pins, IDC_FILTER_PIN_EDITOR);
    return true;
  });
  script.Then([&] {
    ClickTab(frame, 5);
    page = VisiblePage(frame);
    if (!page || !GetDlgItem(page, IDC_ABOUT_PLUGIN)) return true;
    run.about_plugin = TextOf(GetDlgItem(page, IDC_ABOUT_PLUGIN));
    run.about_firmware = TextOf(GetDlgItem(page, IDC_ABOUT_FIRMWARE));
    if (gallery) run.captures += CaptureToGallery(frame, "config_run_about") ? 1 : 0;
    PostClick(frame, IDOK);
    return true;
  });
  script.Start(30000);
  config();
  run.finished = script.finished() && !script.timed_out();
  run.estop = machine.estop;
  run.stop_code = machine.stop_code;
  return run;
}

// What the run with the status window saw.
struct StatusRun {
  int windows_after_second_open = -1;
  std::string online_link;
  std::string online_buffer;
  std::string offline_link;
  std::string offline_buffer;
  std::string counter_x_online;
  std::string counter_x_offline;
  bool gone_after_stop = false;
  int captures = 0;
};

// Collects the plugin's status windows (by their title) into the vector `list` points to.
BOOL CALLBACK CollectStatusWindow(HWND window, LPARAM list) {
  char title[64] = {};
  GetWindowTextA(window, title, sizeof(title));
  if (std::strcmp(title, "KELVRO status") == 0) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  }
  return TRUE;
}

// The plugin's status windows on screen.
std::vector<HWND> StatusWindows() {
  std::vector<HWND> found;
  EnumWindows(CollectStatusWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Dispatches this thread's messages for `ms`, calling Update every 50 ms as the host does.
void RunHost(void(__cdecl* update)(), DWORD ms) {
  const UINT_PTR update_timer = SetTimer(nullptr, 0, 50, nullptr);
  const DWORD end = GetTickCount() + ms;
  MSG msg;
  while (static_cast<LONG>(GetTickCount() - end) < 0) {
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      continue;
    }
    if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == update_timer) {
      update();
      ++g_seen.updates;
      continue;
    }
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) ++g_seen.timer_ticks;
    DispatchMessageA(&msg);
  }
  KillTimer(nullptr, update_timer);
  LookAtStatus();
}

StatusRun DriveStatusWindow(const Exports& x, HostParams& params) {
  using namespace kelvro::test;
  StatusRun run;
  using ControlFn = BOOL(WINAPI*)(const char*);
  HMODULE winusb = GetModuleHandleA("winusb.dll");
  const auto control = winusb ? reinterpret_cast<ControlFn>(reinterpret_cast<void*>(
                                    GetProcAddress(winusb, "KelvroSim_Control")))
                              : nullptr;
  if (control) {
    control("inputs 21");        // inputs 1, 3 and 5
    control("line_word 32770");  // lines 2 and 16
  }
  x.Notify(5001);
  RunHost(x.Update, 200);
  x.Notify(5001);
  run.windows_after_second_open = static_cast<int>(StatusWindows().size());
  params.values[kParamJogRatePercent] = 100.0;
  x.JogOn(0, 1, 5.0);
  RunHost(x.Update, 700);
  const std::vector<HWND> windows = StatusWindows();
  HWND window = windows.empty() ? nullptr : windows.front();
  if (window) {
    run.online_link = TextOf(GetDlgItem(window, IDC_STATUS_LINK));
    run.online_buffer = TextOf(GetDlgItem(window, IDC_STATUS_BUFFER));
    run.counter_x_online = TextOf(GetDlgItem(window, IDC_STATUS_COUNTER_X));
    run.captures += CaptureToGallery(window, "status_online") ? 1 : 0;
  }
  x.JogOff(0);
  RunHost(x.Update, 200);
  if (control) control("disconnect");
  // Twenty ticks without a report close the link; the next Update shows the window offline.
  RunHost(x.Update, 1500);
  if (window && IsWindow(window)) {
    run.offline_link = TextOf(GetDlgItem(window, IDC_STATUS_LINK));
    run.offline_buffer = TextOf(GetDlgItem(window, IDC_STATUS_BUFFER));
    run.counter_x_offline = TextOf(GetDlgItem(window, IDC_STATUS_COUNTER_X));
    run.captures += CaptureToGallery(window, "status_offline") ? 1 : 0;
  }
  return run;
}

template <typename F>
bool Bind(HMODULE dll, const char* name, F* slot) {
  *slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  if (!*slot) std::fprintf(stderr, "kelvro-host: export %s is missing\n", name);
  return *slot != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::string profile;
  double seconds = 2.0;
  bool config_run = false;
  bool stale_main_window = false;
  bool status_run = false;
  unsigned long firmware_hold_ms = 300;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--profile" && i + 1 < argc) {
      profile = argv[++i];
    } else if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (arg == "--answer" && i + 1 < argc) {
      g_answer_yes = std::string(argv[++i]) != "no";
    } else if (arg == "--config-run") {
      config_run = true;
    } else if (arg == "--firmware-hold-ms" && i + 1 < argc) {
      firmware_hold_ms = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--status-run") {
      status_run = true;
    } else if (arg == "--stale-main-window") {
      stale_main_window = true;
    } else {
      std::fprintf(stderr,
                   "usage: kelvro-host [--profile FILE] [--seconds N] [--answer yes|no] "
                   "[--config-run] [--status-run] [--firmware-hold-ms N] [--stale-main-window]\n");
      return 2;
    }
  }

  char folder[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, folder, MAX_PATH);
  if (char* slash = std::strrchr(folder, '\\')) slash[1] = '\0';
  const std::string dll_path = std::string(folder) + "kelvro_drv.dll";
  HMODULE dll = LoadLibraryA(dll_path.c_str());
  if (!dll) {
    std::fprintf(stderr, "kelvro-host: cannot load %s (error %lu)\n", dll_path.c_str(),
                 GetLastError());
    return 1;
  }
  Exports x = {};
  bool ok = Bind(dll, "InitControl", &x.InitControl) &&
            Bind(dll, "SetGetMenuRange", &x.SetGetMenuRange) &&
            Bind(dll, "SetDoButton", &x.SetDoButton) && Bind(dll, "SetSetDRO", &x.SetSetDRO) &&
            Bind(dll, "SetGetDRO", &x.SetGetDRO) && Bind(dll, "SetGetLED", &x.SetGetLED) &&
            Bind(dll, "SetSetLED", &x.SetSetLED) && Bind(dll, "SetCode", &x.SetCode) &&
            Bind(dll, "SetProName", &x.SetProName) &&
            Bind(dll, "PostInitControl", &x.PostInitControl) && Bind(dll, "Config", &x.Config) &&
            Bind(dll, "StopPlug", &x.StopPlug) && Bind(dll, "Update", &x.Update) &&
            Bind(dll, "Notify", &x.Notify) && Bind(dll, "DoDwell", &x.DoDwell) &&
            Bind(dll, "Reset", &x.Reset) && Bind(dll, "JogOn", &x.JogOn) &&
            Bind(dll, "JogOff", &x.JogOff) && Bind(dll, "Purge", &x.Purge) &&
            Bind(dll, "Probe", &x.Probe) && Bind(dll, "Home", &x.Home);
  if (!ok) return 1;

  auto machine = std::make_unique<HostMachineState>();
  auto params = std::make_unique<HostParams>();
  auto planner = std::make_unique<HostPlanner>();
  auto app = std::make_unique<HostApp>();
  std::memset(machine.get(), 0, sizeof(HostMachineState));
  std::memset(params.get(), 0, sizeof(HostParams));
  std::memset(planner.get(), 0, sizeof(HostPlanner));
  std::memset(app.get(), 0, sizeof(HostApp));
  g_planner = planner.get();
  DescribeMachine(*machine, *planner);
  app->main_window = MakeMainWindow();
  if (stale_main_window) DestroyWindow(static_cast<HWND>(app->main_window));
  app->flag = 1;
  g_dros[1501] = 100.0;

  // The firmware update dialog: heading, step, progress bar; OK pressed once the update has
  // ended and the dialog has been on screen for the hold time.
  kelvro::sim::DialogWatch firmware_dialog(
      {"Firmware update", {1034, 1033}, 1032, static_cast<uint32_t>(firmware_hold_ms), 20});
  g_firmware_dialog = &firmware_dialog;
  HHOOK hook = SetWindowsHookExA(WH_CBT, AnswerMessageBoxes, nullptr, GetCurrentThreadId());

  // The host's start-up order.
  x.SetGetMenuRange(GetMenuRange);
  const uint8_t init = x.InitControl(machine.get(), params.get(), planner.get(), app.get());
  x.SetDoButton(DoButton);
  x.SetSetDRO(SetDro);
  x.SetGetDRO(GetDro);
  x.SetGetLED(GetLed);
  x.SetSetLED(SetLed);
  x.SetCode(Code);
  const char* name = x.SetProName(profile.c_str());
  const std::string display_name = name ? name : "";
  LookAtStatus();
  x.PostInitControl();
  LookAtStatus();
  const int32_t reset_result = x.Reset();
  LookAtStatus();
  ConfigRun dialog_run;
  if (config_run) {
    // Limit and home switches of X on pin 3 and an encoder on pins 11 and 12, for the Input
    // filter page's list (wired after the first Reset: that one configures the plain mill).
    machine->inputs[0] = {1, 3, 1, 0, {}, 0, 0};
    machine->inputs[2] = {1, 3, 1, 0, {}, 0, 0};
    machine->encoders[0] = {1, 11, 1, 12, 1, {}, 0};
    dialog_run = DriveConfigDialog(x.Config, *machine);
    LookAtStatus();
    // The operator leaves the E-stop; the host resets the plugin.
    machine->estop = 0;
    dialog_run.reset_result = static_cast<long>(x.Reset());
    LookAtStatus();
    // X at 8 steps (8/1000 unit) a millisecond: 480 units per minute.
    for (int ms = 1; ms <= 400; ++ms) {
      const std::array<double, kAxisCount> target{8.0 * ms, 0.0, 0.0, 0.0, 0.0, 0.0};
      if (!PushRingEntry(*machine, *planner, target, ms)) break;
    }
  }

  StatusRun status;
  if (status_run) status = DriveStatusWindow(x, *params);

  // Message loop: Update about every 50 ms; the plugin's own 25 ms thread timer arrives
  // here as WM_TIMER messages without a window.
  const UINT_PTR update_timer = SetTimer(nullptr, 0, 50, nullptr);
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000.0);
  MSG msg;
  while (static_cast<LONG>(GetTickCount() - end) < 0) {
    if (!GetMessageA(&msg, nullptr, 0, 0)) break;
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
      if (msg.wParam == update_timer) {
        x.Update();
        ++g_seen.updates;
        LookAtStatus();
        continue;
      }
      ++g_seen.timer_ticks;
    }
    DispatchMessageA(&msg);
    LookAtStatus();
  }
  KillTimer(nullptr, update_timer);

  // What the plugin made of the host's menu.
  std::vector<std::string> plugin_items;
  HMENU bar = GetMenu(static_cast<HWND>(app->main_window));
  HMENU plugins = GetSubMenu(bar, 1);
  for (int i = 0; plugins && i < GetMenuItemCount(plugins); ++i) {
    char text[128] = {};
    GetMenuStringA(plugins, i, text, sizeof(text), MF_BYPOSITION);
    plugin_items.emplace_back(text + std::string(" #") + std::to_string(GetMenuItemID(plugins, i)));
  }
  HMENU config = GetSubMenu(bar, 0);
  const int general_config_id = config ? static_cast<int>(GetMenuItemID(config, 0)) : -1;
  x.StopPlug();
  LookAtStatus();
  if (status_run) status.gone_after_stop = StatusWindows().empty();
  UnhookWindowsHookEx(hook);
  g_firmware_dialog = nullptr;

  std::printf("{\"display_name\": %s, \"init_result\": %d, \"reset_result\": %ld, ",
              JsonString(display_name).c_str(), init, static_cast<long>(reset_result));
  std::printf("\"status_texts\": %s, \"message_boxes\": %s, ",
              JsonStrings(g_seen.status_texts).c_str(), JsonStrings(g_seen.message_boxes).c_str());
  std::printf("\"plugin_menu\": %s, \"general_config_id\": %d, ", JsonStrings(plugin_items).c_str(),
              general_config_id);
  std::printf("\"message_box_owners\": %s, ", JsonStrings(g_seen.message_box_owners).c_str());
  if (config_run) {
    std::printf(
        "\"config\": {\"finished\": %s, \"tab_after_refusal\": %d, "
        "\"focus_on_refused_field\": %s, \"about_plugin\": %s, \"about_firmware\": %s, "
        "\"pin_editor_text\": %s, \"pin_editor_closed\": %s, \"curve_feed_text\": %s, "
        "\"curve_readout\": %s, \"curve_side\": %d, "
        "\"captures\": %d, \"estop\": %d, \"stop_code\": %d, \"reset_result\": %ld}, ",
        dialog_run.finished ? "true" : "false", dialog_run.tab_after_refusal,
        dialog_run.focus_on_refused_field ? "true" : "false",
        JsonString(dialog_run.about_plugin).c_str(), JsonString(dialog_run.about_firmware).c_str(),
        JsonString(dialog_run.pin_editor_text).c_str(),
        dialog_run.pin_editor_closed ? "true" : "false",
        JsonString(dialog_run.curve_feed_text).c_str(),
        JsonString(dialog_run.curve_readout).c_str(), dialog_run.curve_side, dialog_run.captures,
        dialog_run.estop, dialog_run.stop_code, dialog_run.reset_result);
  }
  if (status_run) {
    std::printf(
        "\"status\": {\"windows_after_second_open\": %d, \"online_link\": %s, "
        "\"online_buffer\": %s, \"counter_x_online\": %s, \"offline_link\": %s, "
        "\"offline_buffer\": %s, \"counter_x_offline\": %s, \"gone_after_stop\": %s, "
        "\"captures\": %d}, ",
        status.windows_after_second_open, JsonString(status.online_link).c_str(),
        JsonString(status.online_buffer).c_str(), JsonString(status.counter_x_online).c_str(),
        JsonString(status.offline_link).c_str(), JsonString(status.offline_buffer).c_str(),
        JsonString(status.counter_x_offline).c_str(), status.gone_after_stop ? "true" : "false",
        status.captures);
  }
  std::printf("\"firmware_dialog\": %s, ", firmware_dialog.Json().c_str());
  std::printf("\"timer_ticks\": %d, \"updates\": %d, \"estop\": %d, \"stop_code\": %d}\n",
              g_seen.timer_ticks, g_seen.updates, machine->estop, machine->stop_code);
  std::fflush(stdout);
  // Leave the DLL loaded: the host unloads it only at exit.
  return 0;
}
