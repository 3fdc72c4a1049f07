// The configuration dialog, its pages and the probe log options as real Win32 dialogs from
// the resource templates, under Wine: every page's texts, control places and size in dialog
// units at the "MS Sans Serif" font, page switching, OK and Cancel, the About page's links
// and picture, the theming switch and the owner of the message boxes. Each window is
// captured into the gallery (KELVRO_GALLERY).
//
// The plugin object runs on the stand-in host with scripted platform services: its message
// boxes are recorded, not shown, so the scripts go on without answering them.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "plugin/plugin.h"
#include "resources/resource_ids.h"
#include "sim/standin_host.h"
#include "tests/ui/straight_program.h"
#include "ui/about_view_win32.h"
#include "ui/curve_editor_view_win32.h"
#include "ui/maker_links.h"
#include "ui/win32_dialog_runner_win32.h"
#include "win32/tests/dialog_script_win32.h"
#include "win32/tests/window_capture_win32.h"

namespace kelvro {
namespace {

using test::DialogScript;
using test::FindDialog;
using test::TextOf;
using test::VisiblePage;

constexpr char kFrameCaption[] = "KELVRO configuration";
constexpr char kProbeLogCaption[] = "Probe log options";
constexpr int kGeneralTab = 0;
constexpr int kAboutTab = 5;

// ---- Fonts and dialog units ----

struct FontFacts {
  std::string face;
  bool raster = false;
  int height = 0;         // text height
  int average_width = 0;  // of the 52 letters, rounded as the dialog manager does
};

FontFacts FontOf(HWND window) {
  FontFacts facts;
  HFONT font = reinterpret_cast<HFONT>(::SendMessageA(window, WM_GETFONT, 0, 0));
  HDC dc = ::GetDC(window);
  HGDIOBJ old = ::SelectObject(dc, font);
  char face[LF_FACESIZE] = {};
  ::GetTextFaceA(dc, sizeof(face), face);
  facts.face = face;
  TEXTMETRICA metrics = {};
  ::GetTextMetricsA(dc, &metrics);
  facts.raster = (metrics.tmPitchAndFamily & (TMPF_VECTOR | TMPF_TRUETYPE)) == 0;
  facts.height = metrics.tmHeight;
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE extent = {};
  ::GetTextExtentPoint32A(dc, kLetters, 52, &extent);
  facts.average_width = (extent.cx / 26 + 1) / 2;
  ::SelectObject(dc, old);
  ::ReleaseDC(window, dc);
  return facts;
}

// Dialog units to pixels from the font's metrics: x * average / 4 and y * height / 8,
// rounded to the nearest pixel.
SIZE UnitsToPixels(const FontFacts& font, int x, int y) {
  return {(x * font.average_width + 2) / 4, (y * font.height + 4) / 8};
}

// A control's rectangle as the dialog manager places it: its position and its size are
// converted each on its own.
RECT MapUnits(HWND dialog, int x, int y, int w, int h) {
  RECT place = {x, y, w, h};
  ::MapDialogRect(dialog, &place);
  return {place.left, place.top, place.left + place.right, place.top + place.bottom};
}

// The template's own size (DLGTEMPLATEEX: cx at byte 22, cy at byte 24, little-endian).
SIZE TemplateSize(int id) {
  HINSTANCE module = Win32DialogRunner::ThisModule();
  HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
  if (!found || ::SizeofResource(module, found) < 26) return {0, 0};
  const uint8_t* bytes = static_cast<const uint8_t*>(::LockResource(::LoadResource(module, found)));
  const auto word = [&](int at) { return static_cast<int16_t>(bytes[at] | (bytes[at + 1] << 8)); };
  if (word(2) != -1) return {0, 0};  // not an extended template
  return {word(22), word(24)};
}

void ExpectMsSansSerif(HWND window, const char* what) {
  const FontFacts font = FontOf(window);
  EXPECT_EQ(font.face, "MS Sans Serif") << what;
  EXPECT_TRUE(font.raster) << what << ": the bitmap font, not a substitute";
  EXPECT_EQ(font.height, 13) << what;
  EXPECT_EQ(font.average_width, 6) << what;
}

// The window's size (the client area for a dialog with a frame) equals its template's size
// converted at its font, both by the dialog manager and from the font's metrics.
void ExpectTemplateSize(HWND window, int template_id, SIZE units, bool client, const char* what) {
  const SIZE stored = TemplateSize(template_id);
  EXPECT_EQ(stored.cx, units.cx) << what << ": template width";
  EXPECT_EQ(stored.cy, units.cy) << what << ": template height";
  RECT rect;
  if (client) {
    ::GetClientRect(window, &rect);
  } else {
    ::GetWindowRect(window, &rect);
  }
  const RECT mapped = MapUnits(window, 0, 0, units.cx, units.cy);
  const SIZE computed = UnitsToPixels(FontOf(window), units.cx, units.cy);
  EXPECT_EQ(rect.right - rect.left, mapped.right) << what << ": MapDialogRect width";
  EXPECT_EQ(rect.bottom - rect.top, mapped.bottom) << what << ": MapDialogRect height";
  EXPECT_EQ(rect.right - rect.left, computed.cx) << what << ": width from the font";
  EXPECT_EQ(rect.bottom - rect.top, computed.cy) << what << ": height from the font";
}

// ---- Controls as the templates lay them out ----

struct ControlRow {
  int id;  // IDC_STATIC for labels, found by their text
  const char* text;
  int x, y, w, h;
  bool visible = true;
  bool check_height = true;  // a drop-down list's template height is its open list's
};

int ControlId(HWND control) {
  const int id = ::GetDlgCtrlID(control);
  return id == 0xFFFF ? IDC_STATIC : id;
}

HWND FindLabel(HWND dialog, const ControlRow& row, std::set<HWND>& used) {
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (ControlId(child) != IDC_STATIC || used.count(child)) continue;
    if (TextOf(child) != row.text || (::IsWindowVisible(child) != 0) != row.visible) continue;
    used.insert(child);
    return child;
  }
  return nullptr;
}

void ExpectControls(HWND dialog, std::span<const ControlRow> rows, const char* what) {
  std::set<HWND> used;
  HFONT font = reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0));
  for (const ControlRow& row : rows) {
    HWND control =
        row.id == IDC_STATIC ? FindLabel(dialog, row, used) : ::GetDlgItem(dialog, row.id);
    const std::string name =
        std::string(what) + " control " + std::to_string(row.id) + " \"" + row.text + "\"";
    if (!control) {
      ADD_FAILURE() << name << " is missing";
      continue;
    }
    EXPECT_EQ(TextOf(control), row.text) << name;
    EXPECT_EQ(::IsWindowVisible(control) != 0, row.visible) << name;
    if (*row.text) {  // frames keep no font
      EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)), font) << name;
    }
    RECT rect;
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    const RECT expected = MapUnits(dialog, row.x, row.y, row.w, row.h);
    EXPECT_EQ(rect.left, expected.left) << name;
    EXPECT_EQ(rect.top, expected.top) << name;
    EXPECT_EQ(rect.right, expected.right) << name;
    if (row.check_height) {
      EXPECT_EQ(rect.bottom, expected.bottom) << name;
    }
  }
}

// The items of a drop-down list (or of a list box).
std::vector<std::string> ComboItems(HWND dialog, int id, bool list_box = false) {
  std::vector<std::string> items;
  const LRESULT count =
      ::SendDlgItemMessageA(dialog, id, list_box ? LB_GETCOUNT : CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[64] = {};
    ::SendDlgItemMessageA(dialog, id, list_box ? LB_GETTEXT : CB_GETLBTEXT, static_cast<WPARAM>(i),
                          reinterpret_cast<LPARAM>(text));
    items.emplace_back(text);
  }
  return items;
}

int ComboSelection(HWND dialog, int id) {
  return static_cast<int>(::SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

int SelectedTab(HWND frame) {
  return TabCtrl_GetCurSel(::GetDlgItem(frame, IDC_CONFIG_TABS));
}

// The pages' controls after their load, with the settings' defaults.
const ControlRow kGeneralControls[] = {
    {IDC_STATIC, "Spindle/laser PWM frequency", 10, 10, 98, 8},
    {IDC_GENERAL_PWM_FREQ, "10000", 31, 22, 49, 14},
    {IDC_STATIC, "Hz", 84, 25, 9, 8},
    {IDC_STATIC, "Home retract speed", 12, 45, 84, 11},
    {IDC_GENERAL_HOME_RETRACT, "10", 32, 56, 49, 14},
    {IDC_STATIC, "%", 84, 59, 8, 8},
    {IDC_STATIC, "Index pulses per revolution", 12, 75, 91, 11},
    {IDC_GENERAL_INDEX_COUNT, "1", 31, 87, 49, 14},
    {IDC_GENERAL_HW_MPG, "Hardware MPG", 11, 109, 75, 10},
    {IDC_GENERAL_MPG_FEED_LIMIT, "Limit MPG Feedrate", 24, 122, 75, 10},
    {IDC_GENERAL_DEREFERENCE, "Dereference all axes on disconnect", 11, 136, 86, 21},
    {IDC_GENERAL_PROBE_AS_LIMIT, "Probe as Limit", 11, 164, 73, 10},
    {IDC_STATIC, "Laser PWM options", 110, 10, 163, 123},
    {IDC_GENERAL_LASER_COMP, "Ramp power compensation", 121, 24, 96, 17},
    {IDC_GENERAL_CURVE_EDIT, "Edit...", 221, 27, 43, 14},
    {IDC_GENERAL_LASER_SYNC, "Sync output with g-code moves by M10Px/M11Px commands", 121, 45, 127,
     20},
    {IDC_STATIC, "Gate port", 131, 70, 29, 11},
    {IDC_GENERAL_GATE_PORT, "1", 166, 67, 33, 14},
    {IDC_STATIC, "( x=Output# 1-6)", 205, 70, 63, 8},
    {IDC_GENERAL_GRAY_LEVEL, "Gray level raster engraving (axis A controls PWM duty cycle)", 121,
     85, 148, 19},
    {IDC_STATIC, "(Nominal PWM duty is set by spindle Sxxxx command)", 120, 110, 147, 21},
    {IDC_STATIC, "Maximum step frequency:\n(requires restart)", 113, 141, 82, 19},
    {IDC_GENERAL_STEP_FREQ, "250 KHz", 198, 143, 55, 55, true, false},
    {IDC_GENERAL_PROBE_LOG, "Probe log...", 113, 163, 56, 14},
};

const ControlRow kAboutControls[] = {
    {IDC_ABOUT_PICTURE, "", 21, 17, 236, 57, false},
    {IDC_STATIC, "", 46, 78, 186, 35},
    {IDC_ABOUT_PLUGIN, "KELVRO Mach3 plugin: v01.18", 50, 84, 178, 11},
    {IDC_ABOUT_FIRMWARE, "Firmware: unknown (controller is offline)", 50, 98, 178, 11},
    {IDC_ABOUT_MAIL, kMakerMail, 85, 123, 107, 8},
    {IDC_ABOUT_WEB, kMakerWeb, 85, 134, 107, 8},
    {IDC_ABOUT_SPARE_LINK, "", 85, 145, 107, 8, false},
    {IDC_ABOUT_IMAGE, "Update image: TEST IMAGE, not controller firmware", 4, 156, 271, 9},
};

// With no detent values in the host's encoder records.
const ControlRow kAnalogControls[] = {
    {IDC_STATIC, "Special function", 8, 3, 265, 102},
    {IDC_ANALOG_SOURCES, "", 14, 16, 81, 85},
    {IDC_STATIC, "Special function", 110, 22, 61, 8},
    {IDC_ANALOG_FUNCTION, "None", 173, 20, 88, 88, true, false},
    {IDC_STATIC, "User Variable/DRO settings", 108, 37, 153, 41},
    {IDC_STATIC, "ID:", 124, 49, 29, 8},
    {IDC_ANALOG_VAR_ID, "1000", 114, 60, 48, 14},
    {IDC_STATIC, "Output type", 185, 49, 55, 8},
    {IDC_ANALOG_OUTPUT_TYPE, "16bit value (0-65535)", 178, 61, 75, 86, true, false},
    {IDC_STATIC, "Zero threshold voltage:", 109, 85, 83, 8},
    {IDC_ANALOG_ZERO_THRESHOLD, "5", 193, 83, 46, 14},
    {IDC_STATIC, "mV", 244, 86, 11, 8},
    {IDC_STATIC, "Encoder mapping", 8, 108, 265, 59},
    {IDC_STATIC, "Mach3 encoder", 54, 120, 51, 8},
    {IDC_STATIC, "Resolution", 113, 120, 42, 8},
    {IDC_STATIC, "Detent (counts/unit)", 161, 120, 69, 8},
    {IDC_STATIC, "Encoder1:", 17, 132, 32, 8},
    {IDC_STATIC, "Encoder2:", 17, 149, 32, 8},
    {IDC_ANALOG_HOST_ENCODER1, "ENC#1", 54, 131, 52, 101, true, false},
    {IDC_ANALOG_HOST_ENCODER2, "MPG#1", 54, 148, 52, 101, true, false},
    {IDC_ANALOG_RESOLUTION1, "x4", 112, 131, 45, 72, true, false},
    {IDC_ANALOG_RESOLUTION2, "x4", 112, 148, 45, 72, true, false},
    {IDC_ANALOG_DETENT1, "0.000000", 161, 130, 40, 14},
    {IDC_ANALOG_DETENT2, "0.000000", 161, 147, 40, 14},
    {IDC_STATIC, "To set pins and detent for Encoders/MPG, use Ports&&Pins->Encoder/MPG's setup", 8,
     169, 265, 17},
};

const ControlRow kInputFilterControls[] = {
    {IDC_STATIC, "Debounce time by function", 4, 5, 273, 66},
    {IDC_STATIC, "Limit", 21, 20, 19, 12},
    {IDC_FILTER_LIMIT, "30", 51, 18, 52, 14},
    {IDC_STATIC, "x100uS", 109, 21, 26, 8},
    {IDC_STATIC, "Home", 18, 36, 23, 12},
    {IDC_FILTER_HOME, "30", 51, 34, 52, 14},
    {IDC_STATIC, "x100uS", 109, 37, 26, 8},
    {IDC_STATIC, "Probe", 18, 52, 23, 12},
    {IDC_FILTER_PROBE, "30", 51, 50, 52, 14},
    {IDC_STATIC, "x100uS", 109, 53, 26, 8},
    {IDC_STATIC, "Index", 157, 22, 17, 8},
    {IDC_FILTER_INDEX, "0", 180, 19, 52, 14},
    {IDC_STATIC, "x100uS", 238, 22, 26, 8},
    {IDC_STATIC, "Encoders", 146, 39, 30, 8},
    {IDC_FILTER_ENCODER, "0", 180, 35, 52, 14},
    {IDC_STATIC, "x100uS", 238, 38, 26, 8},
    {IDC_STATIC, "Other", 158, 55, 17, 8},
    {IDC_FILTER_OTHER, "30", 180, 51, 52, 14},
    {IDC_STATIC, "x100uS", 238, 54, 26, 8},
    {IDC_FILTER_BY_PIN, "Debounce time by pin (takes precedence)", 4, 80, 150, 10},
    {IDC_FILTER_PINS, "", 4, 93, 273, 86},
};

// With the settings' defaults, the 100 V target and no pierce delay.
const ControlRow kThcControls[] = {
    {IDC_STATIC, "THC type", 5, 2, 272, 32},
    {IDC_THC_EXTERNAL, "External THC", 17, 15, 56, 10},
    {IDC_THC_INTERNAL, "Internal THC using voltage sensor on analog input", 79, 9, 108, 22},
    {IDC_THC_PID, "PID regulation", 186, 15, 58, 10, false},
    {IDC_THC_ADVANCED, "Advanced options...", 224, 10, 48, 21},
    {IDC_STATIC, "Internal THC controller settings", 5, 38, 272, 50},
    {IDC_STATIC, "Nominal torch voltage [V]", 14, 52, 82, 8},
    {IDC_THC_NOMINAL, "100", 101, 50, 40, 14},
    {IDC_STATIC, "Hysteresis voltage [Vpp]", 14, 69, 79, 8},
    {IDC_THC_HYSTERESIS, "5", 101, 67, 40, 14},
    {IDC_THC_ARC_DETECT, "Arc detection [\xB1V]\nrelative to Vnom", 153, 48, 71, 18},
    {IDC_THC_DETECT_VOLTAGE, "50", 225, 50, 40, 14},
    {IDC_STATIC, "Detection time [ms]", 160, 70, 60, 8},
    {IDC_THC_DETECT_TIME, "200", 225, 67, 40, 14},
    {IDC_STATIC, "Input calibration", 5, 93, 164, 46},
    {IDC_STATIC, "Analog input [mV]", 27, 105, 54, 8},
    {IDC_THC_ANALOG_MV, "5000", 19, 117, 43, 14},
    {IDC_THC_GET, "Get", 66, 117, 22, 14},
    {IDC_STATIC, "=>", 94, 121, 17, 8},
    {IDC_STATIC, "Torch voltage [V]", 110, 106, 53, 8},
    {IDC_THC_TORCH_V, "250", 117, 118, 43, 14},
    {IDC_STATIC, "Torch\nvoltage [V]", 172, 95, 48, 18},
    {IDC_THC_VOLTAGE_LOG, "Log voltage to file", 228, 116, 46, 26},
    {IDC_STATIC, "Pierce delay [ms]", 6, 149, 60, 8},
    {IDC_THC_PIERCE_DELAY, "0", 79, 147, 40, 14},
    {IDC_STATIC,
     "( delay for Mach3 to respond to z move commands after ARC_OK signal is detected )", 125, 146,
     156, 20},
    {IDC_THC_DWELL, "Force wait for THC_ON after M3 (fix Mach3 bug)", 5, 167, 181, 10},
    {IDC_THC_HOLD_WARNING, "", 5, 178, 272, 8, false},
};

// The cut statistics are shown (none counted yet).
const ControlRow kThcAdvancedControls[] = {
    {IDC_THCADV_LOW_PASS, "Low pass filter [Hz]", 20, 15, 76, 10},
    {IDC_THCADV_LP_FREQ, "50", 99, 13, 40, 14},
    {IDC_THCADV_KERF, "Kerf detect (tip saver)", 20, 37, 85, 10},
    {IDC_STATIC, "Voltage rise above\nVnom [% ]", 29, 54, 68, 17},
    {IDC_THCADV_KERF_VOLTAGE, "20", 98, 55, 40, 14},
    {IDC_STATIC, "Time period [ms]", 34, 75, 62, 8},
    {IDC_THCADV_KERF_TIME, "10", 98, 72, 40, 14},
    {IDC_THCADV_LOCK, "Lock THC when voltage out of valid range", 162, 15, 140, 10},
    {IDC_STATIC, "Vmax  [% Vnom]", 180, 32, 60, 8},
    {IDC_THCADV_LOCK_MAX, "150", 241, 29, 40, 14},
    {IDC_STATIC, "Vmin  [% Vnom]", 180, 48, 60, 8},
    {IDC_THCADV_LOCK_MIN, "70", 241, 46, 40, 14},
    {IDC_THCADV_LOCK_CMD, "Lock THC from g-code by fast port#6 commands", 21, 102, 165, 10},
    {IDC_THCADV_MANUAL,
     "Enable manual THC mode when NumLock is active (use numpad keys 9,3 for Up/Down control)", 21,
     120, 171, 25},
    {IDC_STATIC, "Speed [%] of THC speed", 32, 152, 83, 8},
    {IDC_THCADV_MANUAL_SPEED, "10", 117, 149, 40, 14},
    {IDC_THCADV_STATS, "Ignition count = 0, Cut time = 0", 201, 128, 115, 8},
    {IDC_THCADV_RESET, "Reset", 254, 146, 34, 14},
    {IDOK, "OK", 104, 176, 50, 14},
    {IDCANCEL, "Cancel", 158, 176, 50, 14},
};

// With the 3 x 3 map of WriteZMap loaded and correction switched on.
const ControlRow kZCorrControls[] = {
    {IDC_ZCORR_ENABLE, "Enable Z correction", 6, 9, 77, 10},
    {IDC_ZCORR_GROUP, "Correction data (zcorr_warped.txt)", 6, 23, 269, 83},
    {IDC_ZCORR_MEASURE, "Measure...", 17, 38, 50, 14},
    {IDC_ZCORR_OPEN, "Open file...", 75, 38, 47, 14},
    {IDC_ZCORR_SHOW_MAP, "Show Z map...", 182, 38, 50, 14},
    {IDC_ZCORR_STATISTICS,
     "Xrange:   0.000, 100.000\tYrange:   0.000,  80.000\tZrange:  -0.300,   0.000\n"
     "Xpoints: 3, Ypoints: 3\tMax deviation from plane (above, below): 0.106, -0.103",
     18, 57, 254, 23},
    {IDC_STATIC, "Normalize Z:", 18, 84, 46, 8},
    {IDC_ZCORR_NORMAL, "Normalize to highest point (ZCorrection <= 0)", 75, 83, 159, 103, true,
     false},
    {IDC_ZCORR_ZEROZ, "ZeroZ! (use current tool position to set Z work offset)", 7, 118, 103, 27},
    {IDC_ZCORR_LIMIT, "Limit correction to SoftLimits (if enabled)", 123, 118, 142, 10},
    {IDC_STATIC, "When correction is turned on:", 124, 133, 87, 8},
    {IDC_ZCORR_START_MODE, "Preserve current Z position", 124, 143, 114, 103, true, false},
    {IDC_ZCORR_AUTO_OFFSET, "Auto set offset", 7, 149, 58, 24, false},
    {IDC_ZCORR_CORRECT_OFFSET, "Correct Z Offset", 70, 149, 37, 24, false},
    {IDC_ZCORR_JOG_CORR, "Move to corrected Z position after Jog", 124, 162, 145, 10},
    {IDC_ZCORR_MZ, "MZ not set", 7, 176, 82, 10, false},
};

const ControlRow kZMapControls[] = {
    {IDOK, "Close", 321, 225, 50, 14},
    {IDC_ZMAP_IMAGE, "", 7, 10, 295, 228},
    {IDC_ZMAP_LEGEND, "", 308, 10, 63, 115},
    {IDC_STATIC, "Color palette:", 308, 141, 45, 8},
    {IDC_ZMAP_PALETTE, "Rainbow", 308, 152, 64, 65, true, false},
};

const ControlRow kProbeLogControls[] = {
    {IDC_PROBE_LOG_ENABLE, "Enable probe log", 16, 13, 81, 10},
    {IDC_STATIC, "", 11, 33, 172, 80},
    {IDC_PROBE_LOG_COMPENSATION, "Probe compensation", 16, 32, 79, 10},
    {IDC_STATIC, "d [mm]:", 21, 51, 28, 8},
    {IDC_PROBE_LOG_TIP_D, "2", 52, 48, 40, 14},
    {IDC_STATIC, "c1 [mm]:", 21, 66, 29, 8},
    {IDC_PROBE_LOG_TIP_C1, "0.05", 52, 63, 40, 14},
    {IDC_STATIC, "c2 [mm]:", 21, 80, 29, 8},
    {IDC_PROBE_LOG_TIP_C2, "0.05", 52, 78, 40, 14},
    {IDC_PROBE_LOG_MACHINE, "Save machine coordinates", 20, 97, 103, 10},
    {IDC_STATIC, "Separator:", 10, 124, 40, 8},
    {IDC_PROBE_LOG_SEPARATOR, "comma", 55, 123, 71, 93, true, false},
    {IDOK, "OK", 48, 147, 50, 14},
    {IDCANCEL, "Cancel", 100, 147, 50, 14},
};

const ControlRow kFrameControls[] = {
    {IDOK, "OK", 96, 209, 50, 14},
    {IDCANCEL, "Cancel", 152, 209, 50, 14},
    {IDC_CONFIG_TABS, "", 3, 3, 290, 202},
};

// ---- The fixture: a plugin on the stand-in host, and the Win32 dialogs over it ----

// Records where the runner points the owner of the message boxes.
class RecordingOwner final : public OwnerWindowSlot {
 public:
  void* owner_window() const override { return window; }
  void SetOwnerWindow(void* w) override {
    window = w;
    history.push_back(w);
  }
  void* window = nullptr;
  std::vector<void*> history;
};

class WineDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.DescribeMill();
    host.StartUp();
    UseRunner(::LoadLibraryA("UxTheme.dll"));
  }
  void UseRunner(HMODULE uxtheme) {
    uxtheme_ = uxtheme;
    runner = std::make_unique<Win32DialogRunner>(Win32DialogRunner::ThisModule(), uxtheme,
                                                 platform(), owner);
    runner->set_shell_open([this](const std::string& target) { opened.push_back(target); });
    host.plugin().SetDialogRunner(runner.get());
  }
  // Opens the configuration dialog through Config's own path and plays `script` in it.
  int ShowConfig(DialogScript& script) {
    platform().message_boxes.clear();
    script.Start();
    const int result = host.plugin().config_dialog().Show(runner.get());
    EXPECT_FALSE(script.timed_out()) << "the script did not finish";
    EXPECT_TRUE(script.finished());
    return result;
  }
  // Steps that wait for the frame (and its first page), or switch to a tab and wait for its
  // page.
  std::function<bool()> WaitForFrame() {
    return [this] {
      frame = FindDialog(kFrameCaption);
      page = frame ? VisiblePage(frame) : nullptr;
      return page != nullptr;
    };
  }
  std::function<bool()> SwitchTo(int tab) {
    return [this, tab] {
      test::SelectTab(frame, tab);
      page = VisiblePage(frame);
      return true;
    };
  }
  // A step that waits for the dialog with `caption` and keeps it in `found`.
  static std::function<bool()> WaitForDialog(const char* caption, HWND& found) {
    return [caption, &found] {
      found = FindDialog(caption);
      return found != nullptr;
    };
  }
  // Steps that open the curve editor from the General page and then the file dialog behind
  // the editor's `button`, keeping both windows.
  void OpenCurveEditorFileDialog(DialogScript& script, int button, const char* caption,
                                 HWND& editor, HWND& file_dialog) {
    script.Then(WaitForFrame()).Then([this] {
      test::PostClick(page, IDC_GENERAL_CURVE_EDIT);
      return true;
    });
    script.Then(WaitForDialog("Edit curve", editor));
    script.Then([&editor, button] {
      test::PostClick(editor, button);
      return true;
    });
    script.Then(WaitForDialog(caption, file_dialog));
  }
  std::function<bool()> Press(int id) {
    return [this, id] {
      test::PostClick(frame, id);
      return true;
    };
  }

  sim::ScriptedPlatform& platform() { return host.platform(); }
  PluginSettings& settings() { return host.plugin().settings(); }
  FARPROC Theme(const char* name) { return uxtheme_ ? ::GetProcAddress(uxtheme_, name) : nullptr; }

  sim::HostOf<Plugin> host;
  RecordingOwner owner;
  std::unique_ptr<Win32DialogRunner> runner;
  std::vector<std::string> opened;
  HWND frame = nullptr;
  HWND page = nullptr;
  HMODULE uxtheme_ = nullptr;
};

// ---- The host's port setup ----

// Pins 3 (LimitX+ and HomeX), 10 (ESTOP), 11 and 12 (an encoder, and the index on 12) and 5
// (the mill's probe) are wired; the others are unused.
void WirePins(HostMachineState& machine) {
  machine.inputs[2] = {1, 3, 1, 0, {}, 0, 0};
  machine.inputs[0] = {1, 3, 1, 0, {}, 0, 0};
  machine.inputs[25] = {1, 10, 1, 0, {}, 0, 0};
  machine.inputs[23] = {1, 12, 1, 0, {}, 0, 0};
  machine.encoders[0] = {1, 11, 1, 12, 1, {}, 0};
}

// A 3 x 3 point file in the working folder, as the Z correction page's tests use it.
constexpr char kZMapFile[] = "zcorr_warped.txt";
void WriteZMap() {
  if (std::FILE* file = std::fopen(kZMapFile, "wb")) {
    std::fputs(
        "0,0,0\n50,0,0.1\n100,0,0\n0,40,0.05\n50,40,0.2\n100,40,0.1\n0,80,0\n50,80,0.1\n"
        "100,80,0.3\n",
        file);
    std::fclose(file);
  }
}

// The host's menu with its probing plugin's command.
std::vector<HostMenuItem> HostMenuWithProbing() {
  HostMenuItem probe;
  probe.text = "Probe plugin";
  probe.command = 4321;
  HostMenuItem menu;
  menu.text = "PlugIn Control";
  menu.has_submenu = true;
  menu.submenu = {probe};
  return {menu};
}

// ---- Every tab: its page from its template ----

struct TabCase {
  int tab;
  int template_id;
  const char* name;
  SIZE units;
  std::span<const ControlRow> controls;
};

class EveryTab : public WineDialogTest, public ::testing::WithParamInterface<TabCase> {};

TEST_P(EveryTab, ShowsItsPageFromItsTemplateInMsSansSerif) {
  const TabCase& c = GetParam();
  WirePins(host.machine());  // the per-pin list shows what the host wired
  if (c.template_id == IDD_PAGE_ZCORR) {
    WriteZMap();
    settings().z_file_name = kZMapFile;
    ASSERT_TRUE(host.plugin().zcorrection().EnsureLoaded());
    host.plugin().zcorrection().set_enabled(true);
    platform().menu_bar = HostMenuWithProbing();
  }
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(c.tab)).Then([&] {
    EXPECT_EQ(SelectedTab(frame), c.tab);
    EXPECT_TRUE(page && ::IsWindowVisible(page));
    if (!page) return true;
    ExpectMsSansSerif(page, c.name);
    ExpectTemplateSize(page, c.template_id, c.units, false, c.name);
    ExpectControls(page, c.controls, c.name);
    if (c.template_id == IDD_PAGE_GENERAL) {
      EXPECT_EQ(ComboItems(page, IDC_GENERAL_STEP_FREQ),
                (std::vector<std::string>{"125 KHz", "250 KHz"}));
      EXPECT_EQ(ComboSelection(page, IDC_GENERAL_STEP_FREQ), 1);
    }
    if (c.controls.empty()) {
      EXPECT_EQ(::GetWindow(page, GW_CHILD), nullptr) << c.name << " is empty";
    }
    // Borderless child dialog taking part in the keyboard navigation.
    const LONG style = ::GetWindowLongA(page, GWL_STYLE);
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_FALSE(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME));
    EXPECT_TRUE(::GetWindowLongA(page, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    const std::string name = c.name;
    const std::optional<test::Pixels> shot = test::CaptureWindow(page);
    EXPECT_TRUE(shot.has_value());
    if (shot) {
      RECT rect;
      ::GetWindowRect(page, &rect);
      EXPECT_EQ(shot->width, rect.right - rect.left);
      EXPECT_EQ(shot->height, rect.bottom - rect.top);
    }
    if (!test::GalleryFolder().empty()) {
      EXPECT_TRUE(test::CaptureToGallery(page, "page_" + name));
      EXPECT_TRUE(test::CaptureToGallery(frame, "config_" + name));
    }
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Tabs, EveryTab,
    ::testing::Values(
        TabCase{0, IDD_PAGE_GENERAL, "general", {278, 182}, kGeneralControls},
        TabCase{1, IDD_PAGE_INPUT_FILTER, "input_filter", {282, 183}, kInputFilterControls},
        TabCase{2, IDD_PAGE_ANALOG, "analog", {278, 186}, kAnalogControls},
        TabCase{3, IDD_PAGE_THC, "thc", {282, 186}, kThcControls},
        TabCase{4, IDD_PAGE_ZCORR, "zcorr", {279, 186}, kZCorrControls},
        TabCase{5, IDD_PAGE_ABOUT, "about", {279, 169}, kAboutControls}),
    [](const ::testing::TestParamInfo<TabCase>& info) { return std::string(info.param.name); });

// ---- The frame ----

TEST_F(WineDialogTest, TheFrameHasItsTabsAndButtonsAndHostsThePageInTheTabControl) {
  DialogScript script;
  script.Then(WaitForFrame()).Then([&] {
    ExpectMsSansSerif(frame, "frame");
    ExpectTemplateSize(frame, IDD_CONFIG, {296, 227}, true, "frame");
    ExpectControls(frame, kFrameControls, "frame");
    EXPECT_EQ(TextOf(frame), kFrameCaption);
    HWND tabs = ::GetDlgItem(frame, IDC_CONFIG_TABS);
    const std::vector<std::string> expected = {"General setup",       "Input filter",
                                               "Analog input && Enc", "THC options",
                                               "Z correction",        "About"};
    EXPECT_EQ(TabCtrl_GetItemCount(tabs), 6);
    for (int i = 0; i < TabCtrl_GetItemCount(tabs) && i < 6; ++i) {
      char text[64] = {};
      TCITEMA item = {};
      item.mask = TCIF_TEXT;
      item.pszText = text;
      item.cchTextMax = sizeof(text);
      TabCtrl_GetItem(tabs, i, &item);
      EXPECT_EQ(std::string(text), expected[static_cast<size_t>(i)]) << "tab " << i;
    }
    EXPECT_TRUE(::GetWindowLongA(tabs, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
    EXPECT_EQ(SelectedTab(frame), kGeneralTab);
    // All six tabs in one row inside the control: none scrolled out of sight.
    RECT tabs_client;
    ::GetClientRect(tabs, &tabs_client);
    RECT last_tab;
    TabCtrl_GetItemRect(tabs, 5, &last_tab);
    EXPECT_LE(last_tab.right, tabs_client.right);
    EXPECT_EQ(TabCtrl_GetRowCount(tabs), 1);
    // The page is the tab control's child, at the top-left corner of its display area,
    // below the row of tabs and inside the control.
    EXPECT_EQ(::GetParent(page), tabs);
    RECT area;
    ::GetWindowRect(tabs, &area);
    ::MapWindowPoints(nullptr, tabs, reinterpret_cast<POINT*>(&area), 2);
    TabCtrl_AdjustRect(tabs, FALSE, &area);
    RECT placed;
    ::GetWindowRect(page, &placed);
    ::MapWindowPoints(nullptr, tabs, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, area.left);
    EXPECT_EQ(placed.top, area.top);
    RECT first_tab;
    TabCtrl_GetItemRect(tabs, 0, &first_tab);
    RECT client;
    ::GetClientRect(tabs, &client);
    EXPECT_GE(placed.top, first_tab.bottom);
    EXPECT_GT(placed.left, 0);
    EXPECT_LE(placed.right, client.right);
    EXPECT_LE(placed.bottom, client.bottom);
    // While the dialog is open its message boxes belong to it.
    EXPECT_EQ(owner.window, frame);
    return true;
  });
  script.Then(Press(IDCANCEL));
  owner.window = reinterpret_cast<void*>(0x1234);  // the host's window, as the runner found it
  EXPECT_EQ(ShowConfig(script), 2);
  EXPECT_EQ(owner.window, reinterpret_cast<void*>(0x1234)) << "the owner is given back";
}

TEST_F(WineDialogTest, TypedValuesReachTheSettingsOnOkAndTheHostIsInEstop) {
  DialogScript script;
  script.Then(WaitForFrame()).Then([&] {
    test::SetText(page, IDC_GENERAL_HOME_RETRACT, "42");
    test::SetText(page, IDC_GENERAL_PWM_FREQ, " 31000 ");
    ::CheckDlgButton(page, IDC_GENERAL_GRAY_LEVEL, BST_CHECKED);
    ::SendDlgItemMessageA(page, IDC_GENERAL_STEP_FREQ, CB_SETCURSEL, 0, 0);
    return true;
  });
  script.Then(Press(IDOK));
  EXPECT_EQ(ShowConfig(script), 0);
  EXPECT_EQ(settings().home_retract, 42);
  EXPECT_EQ(settings().pwm_freq, 31000);
  EXPECT_EQ(settings().laser_gl, 1);
  EXPECT_EQ(settings().step_freq, 0);
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_EQ(host.machine().stop_code, 8);
  EXPECT_TRUE(platform().message_boxes.empty()) << "A work offset 0: no gray-level warning";
}

TEST_F(WineDialogTest, AStepFrequencyTheListDoesNotOfferIsKeptThroughATabSwitchAndOk) {
  settings().step_freq = 2;  // as a profile may hold it
  DialogScript script;
  script.Then(WaitForFrame()).Then([&] {
    EXPECT_EQ(ComboSelection(page, IDC_GENERAL_STEP_FREQ), -1) << "the list shows no item";
    return true;
  });
  script.Then(SwitchTo(kAboutTab)).Then(SwitchTo(kGeneralTab)).Then([&] {
    EXPECT_EQ(ComboSelection(page, IDC_GENERAL_STEP_FREQ), -1);
    return true;
  });
  script.Then(Press(IDOK));
  EXPECT_EQ(ShowConfig(script), 0);
  EXPECT_EQ(settings().step_freq, 2) << "not the 125 kHz rate";
}

TEST_F(WineDialogTest, ABadValueRefusesTheTabSwitchAndKeepsThePageWithTheFocusOnIt) {
  HWND general = nullptr;
  DialogScript script;
  script.Then(WaitForFrame()).Then([&] {
    general = page;
    test::SetText(page, IDC_GENERAL_PWM_FREQ, "-5");
    test::SelectTab(frame, 1);
    EXPECT_EQ(platform().message_boxes,
              std::vector<std::string>{"Please enter a positive integer."});
    EXPECT_EQ(SelectedTab(frame), kGeneralTab);
    EXPECT_EQ(VisiblePage(frame), general) << "the same page window stays";
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(general, IDC_GENERAL_PWM_FREQ));
    // OK is refused the same way, with the range message once the text is a number.
    test::SetText(page, IDC_GENERAL_PWM_FREQ, "200001");
    platform().message_boxes.clear();
    ::SendMessageA(frame, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(platform().message_boxes,
              std::vector<std::string>{"Please enter an integer between 10 and 200000."});
    EXPECT_TRUE(::IsWindowVisible(frame)) << "the dialog stays open";
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(general, IDC_GENERAL_PWM_FREQ));
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
  EXPECT_EQ(settings().pwm_freq, 10000);
  EXPECT_EQ(host.machine().estop, 0) << "Cancel: no E-stop";
}

TEST_F(WineDialogTest, ClickingATabSwitchesPagesAndCancelKeepsWhatTheSwitchSaved) {
  DialogScript script;
  script.Then(WaitForFrame()).Then([&] {
    test::SetText(page, IDC_GENERAL_INDEX_COUNT, "360");
    test::ClickTab(frame, kAboutTab);
    EXPECT_EQ(SelectedTab(frame), kAboutTab);
    page = VisiblePage(frame);
    EXPECT_TRUE(page && ::GetDlgItem(page, IDC_ABOUT_PLUGIN)) << "the About page is shown";
    EXPECT_EQ(settings().index_cnt, 360) << "saved on leaving the page";
    test::ClickTab(frame, kGeneralTab);
    EXPECT_EQ(SelectedTab(frame), kGeneralTab);
    page = VisiblePage(frame);
    EXPECT_TRUE(page && ::GetDlgItem(page, IDC_GENERAL_INDEX_COUNT)) << "the General page is shown";
    EXPECT_EQ(TextOf(::GetDlgItem(page, IDC_GENERAL_INDEX_COUNT)), "360") << "loaded again";
    test::SetText(page, IDC_GENERAL_INDEX_COUNT, "720");  // on the visible page: not kept
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
  EXPECT_EQ(settings().index_cnt, 360);
}

TEST_F(WineDialogTest, TheDialogReopensOnTheTabShownLast) {
  DialogScript first;
  first.Then(WaitForFrame()).Then(SwitchTo(kAboutTab)).Then(Press(IDOK));
  EXPECT_EQ(ShowConfig(first), 0);
  DialogScript second;
  second.Then(WaitForFrame()).Then([&] {
    EXPECT_EQ(SelectedTab(frame), kAboutTab);
    EXPECT_TRUE(::GetDlgItem(page, IDC_ABOUT_PLUGIN)) << "the About page is shown";
    return true;
  });
  second.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(second), 2);
}

TEST_F(WineDialogTest, OneConfigurationDialogAtATime) {
  DialogScript script;
  script.Then(WaitForFrame()).Then([&] {
    EXPECT_EQ(runner->RunConfigDialog(host.plugin().config_dialog()), DialogResult::kCancel);
    EXPECT_EQ(FindDialog(kFrameCaption), frame);
    EXPECT_TRUE(::IsWindowVisible(frame));
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
}

// ---- Theming ----

TEST_F(WineDialogTest, PagesGetTheTabBackgroundExactlyWhenTheButtonsAreThemed) {
  using GetWindowThemeFn = HANDLE(WINAPI*)(HWND);
  using IsTextureFn = BOOL(WINAPI*)(HWND);
  const auto get_theme =
      reinterpret_cast<GetWindowThemeFn>(reinterpret_cast<void*>(Theme("GetWindowTheme")));
  const auto textured =
      reinterpret_cast<IsTextureFn>(reinterpret_cast<void*>(Theme("IsThemeDialogTextureEnabled")));
  ASSERT_TRUE(get_theme && textured) << "Wine's UxTheme.dll";
  DialogScript script;
  script.Then(WaitForFrame()).Then([&] {
    const bool themed = get_theme(::GetDlgItem(frame, IDOK)) != nullptr;
    EXPECT_EQ(textured(page) != 0, themed);
    return true;
  });
  script.Then(Press(IDCANCEL));
  ShowConfig(script);
}

TEST_F(WineDialogTest, WithoutTheVisualStylesLibraryPagesAreNotThemed) {
  HMODULE uxtheme = uxtheme_;
  UseRunner(nullptr);
  using IsTextureFn = BOOL(WINAPI*)(HWND);
  const auto textured = reinterpret_cast<IsTextureFn>(
      reinterpret_cast<void*>(::GetProcAddress(uxtheme, "IsThemeDialogTextureEnabled")));
  ASSERT_TRUE(textured);
  DialogScript script;
  script.Then(WaitForFrame()).Then([&] {
    EXPECT_FALSE(textured(page));
    ExpectControls(page, kGeneralControls, "general without theming");
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
}

// ---- The General page's buttons ----

TEST_F(WineDialogTest, ProbeLogButtonOpensTheOptionsOwnedByTheFrameAndOkChecksTheNumbers) {
  HWND options = nullptr;
  ProbeLogOptions& log = host.plugin().tick().probing().log_options();
  DialogScript script;
  script.Then(WaitForFrame()).Then([&] {
    test::PostClick(page, IDC_GENERAL_PROBE_LOG);
    return true;
  });
  script.Then(WaitForDialog(kProbeLogCaption, options));
  script.Then([&] {
    EXPECT_EQ(::GetWindow(options, GW_OWNER), frame);
    EXPECT_EQ(owner.window, options) << "its message boxes belong to it";
    EXPECT_FALSE(::IsWindowEnabled(frame)) << "modal over the frame";
    ExpectMsSansSerif(options, "probe log options");
    ExpectTemplateSize(options, IDD_PROBE_LOG, {193, 168}, true, "probe log options");
    ExpectControls(options, kProbeLogControls, "probe log options");
    EXPECT_EQ(ComboItems(options, IDC_PROBE_LOG_SEPARATOR),
              (std::vector<std::string>{"comma", "space", "semicolon", "TAB "}));
    EXPECT_EQ(ComboSelection(options, IDC_PROBE_LOG_SEPARATOR), 0);
    if (!test::GalleryFolder().empty()) {
      EXPECT_TRUE(test::CaptureToGallery(options, "probe_log_options"));
    }
    test::SetText(options, IDC_PROBE_LOG_TIP_D, "1000.5");
    ::CheckDlgButton(options, IDC_PROBE_LOG_ENABLE, BST_CHECKED);
    ::SendMessageA(options, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(platform().message_boxes,
              std::vector<std::string>{"Please enter a number between 0 and 1000."});
    EXPECT_TRUE(::IsWindowVisible(options)) << "OK refused";
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(options, IDC_PROBE_LOG_TIP_D));
    EXPECT_FALSE(log.log_enabled) << "a refused OK stores nothing";
    test::SetText(options, IDC_PROBE_LOG_TIP_D, "1000");
    ::SendDlgItemMessageA(options, IDC_PROBE_LOG_SEPARATOR, CB_SETCURSEL, 3, 0);
    test::PostClick(options, IDOK);
    return true;
  });
  script.Then([&] { return FindDialog(kProbeLogCaption) == nullptr; });
  script.Then([&] {
    EXPECT_EQ(owner.window, frame) << "the frame owns the boxes again";
    EXPECT_TRUE(::IsWindowEnabled(frame));
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
  EXPECT_TRUE(log.log_enabled);
  EXPECT_DOUBLE_EQ(log.d, 1000.0);
  EXPECT_EQ(log.separator, "\t");
}

TEST_F(WineDialogTest, ProbeLogOptionsCancelStoresNothing) {
  ProbeLogOptions& log = host.plugin().tick().probing().log_options();
  DialogScript script;
  script.Then([&] {
    HWND options = FindDialog(kProbeLogCaption);
    if (!options) return false;
    ::CheckDlgButton(options, IDC_PROBE_LOG_MACHINE, BST_CHECKED);
    test::SetText(options, IDC_PROBE_LOG_TIP_C1, "3");
    test::PostClick(options, IDCANCEL);
    return true;
  });
  script.Start();
  EXPECT_EQ(runner->RunModal(host.plugin().config_dialog().probe_log_dialog()),
            DialogResult::kCancel);
  EXPECT_TRUE(script.finished());
  EXPECT_FALSE(log.machine_coordinates);
  EXPECT_DOUBLE_EQ(log.c1, 0.05);
}

// The area's rectangle in its dialog's client coordinates.
RECT PlaceIn(HWND dialog, HWND control) {
  RECT r = {};
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// The user in the curve area: a press, one move and a release at the given pixels.
void DragInArea(HWND area, POINT from, POINT to) {
  ::SendMessageA(area, WM_MOUSEMOVE, 0, MAKELPARAM(from.x, from.y));
  ::SendMessageA(area, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
  ::SendMessageA(area, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to.x, to.y));
  ::SendMessageA(area, WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
}

TEST_F(WineDialogTest, CurveEditorGrowsSquareDrawsTheCurveAndTakesADragOnlyOnOk) {
  settings().l_max_feed = 1500.0;
  HWND editor = nullptr;
  HWND area = nullptr;
  int side = 0;
  std::optional<test::Pixels> shot;
  std::string readout;
  HCURSOR cursor_near_curve = nullptr;
  // Opens the editor from the General page, then runs the steps in it (the last one closes
  // it).
  const auto open_editor = [&](DialogScript& script, std::vector<std::function<void()>> acts) {
    script.Then([&] {
      test::PostClick(page, IDC_GENERAL_CURVE_EDIT);
      return true;
    });
    script.Then([&] {
      editor = FindDialog("Edit curve");
      area = editor ? ::FindWindowExA(editor, nullptr, kCurveAreaClass, nullptr) : nullptr;
      return editor != nullptr;
    });
    for (auto& act : acts) {
      script.Then([&, act] {
        if (area) {
          act();
        } else {
          ADD_FAILURE() << "no curve area";
          test::PostClick(editor, IDCANCEL);
        }
        return true;
      });
    }
    script.Then([&] { return FindDialog("Edit curve") == nullptr; });
  };
  DialogScript script;
  script.Then(WaitForFrame());
  // First: a drag, then Cancel.
  open_editor(script, {[&] {
                RECT a = {};
                ::GetClientRect(area, &a);
                DragInArea(area, {a.right / 2, a.bottom / 2}, {a.right / 2, a.bottom * 4 / 5});
                test::PostClick(editor, IDCANCEL);
              }});
  // Then: look at it, drag the new point down, OK.
  open_editor(script,
              {[&] {
                 ExpectMsSansSerif(editor, "curve editor");
                 const RECT frame_place = MapUnits(editor, 4, 5, 177, 157);
                 const RECT place = PlaceIn(editor, area);
                 side = frame_place.right - frame_place.left;
                 const int grow = side - (frame_place.bottom - frame_place.top);
                 EXPECT_EQ(place.left, frame_place.left);
                 EXPECT_EQ(place.top, frame_place.top);
                 EXPECT_EQ(place.right - place.left, side) << "as wide as the frame";
                 EXPECT_EQ(place.bottom - place.top, side) << "square";
                 EXPECT_GT(grow, 0);
                 // Every other control moved down by the growth; the dialog grew by it.
                 for (const auto& [id, x, y] :
                      {std::tuple{IDC_CURVE_RESET, 59, 168}, std::tuple{IDC_CURVE_READOUT, 5, 169},
                       std::tuple{IDC_CURVE_FEED, 66, 201}, std::tuple{IDOK, 130, 191},
                       std::tuple{IDCANCEL, 130, 208}}) {
                   const RECT units = MapUnits(editor, x, y, 1, 1);
                   const RECT now = PlaceIn(editor, ::GetDlgItem(editor, id));
                   EXPECT_EQ(now.left, units.left) << id;
                   EXPECT_EQ(now.top, units.top + grow) << id;
                 }
                 RECT client = {};
                 ::GetClientRect(editor, &client);
                 EXPECT_EQ(client.bottom, MapUnits(editor, 0, 0, 186, 228).bottom + grow);
                 EXPECT_EQ(TextOf(::GetDlgItem(editor, IDC_CURVE_FEED)), "1500");
                 EXPECT_EQ(TextOf(::GetDlgItem(editor, IDC_CURVE_LOAD)), "Load...");
                 EXPECT_EQ(TextOf(::GetDlgItem(editor, IDC_CURVE_SAVE)), "Save...");
                 EXPECT_EQ(TextOf(::GetDlgItem(editor, IDC_CURVE_RESET)), "Reset");
                 shot = test::CaptureWindow(area);
                 if (!test::GalleryFolder().empty()) {
                   EXPECT_TRUE(test::CaptureToGallery(editor, "curve_editor_suite"));
                 }
                 // Near the diagonal: the curve cursor.
                 ::SendMessageA(area, WM_MOUSEMOVE, 0, MAKELPARAM(side / 4, side - side / 4));
                 ::SetCursor(nullptr);
                 ::SendMessageA(area, WM_SETCURSOR, reinterpret_cast<WPARAM>(area),
                                MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
                 cursor_near_curve = ::GetCursor();
                 DragInArea(area, {side / 2, side - side / 2}, {side / 2, side - side / 5});
               },
               [&] {
                 // The readout was posted by the last move of the drag.
                 readout = TextOf(::GetDlgItem(editor, IDC_CURVE_READOUT));
                 test::PostClick(editor, IDOK);
               }});
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);

  // Only the second run's point reached the page, although the configuration dialog was
  // cancelled: inserted at the whole percent under the press, dragged down to 1/5 of the
  // height.
  ASSERT_GT(side, 0);
  const LaserCurve& curve = settings().laser_curve;
  ASSERT_EQ(curve.count, 3);
  EXPECT_EQ(curve.x[1], (side / 2) * 100 / side);
  EXPECT_DOUBLE_EQ(curve.y[1], (side / 5) * 100.0 / side);
  EXPECT_EQ(settings().l_max_feed, 1500.0);
  char expected[64];
  std::snprintf(expected, sizeof expected, " Feed: %d %%\r\n Duty: %d %%",
                static_cast<int>(curve.x[1]), static_cast<int>(curve.y[1]));
  EXPECT_EQ(readout, expected);
  EXPECT_EQ(cursor_near_curve, ::LoadCursorA(Win32DialogRunner::ThisModule(),
                                             MAKEINTRESOURCEA(IDC_CURVE_LINE_CURSOR)));
  EXPECT_TRUE(cursor_near_curve);

  // The start curve as drawn: the diagonal in black at every column, its two point squares,
  // and the two axis texts in dark pixels.
  ASSERT_TRUE(shot.has_value());
  ASSERT_EQ(shot->width, side);
  ASSERT_EQ(shot->height, side);
  for (int i = 0; i < side; ++i) {
    const int y = static_cast<int>(side - (i * 100.0 / side) * side / 100 + 0.5);
    if (y >= side) continue;  // the vertex of 0 % lies just below the area
    EXPECT_EQ(shot->at(i, y), 0x000000u) << "column " << i;
  }
  const auto dark_in = [&](RECT r) {
    int dark = 0;
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) dark += shot->at(x, y) == 0x000000u;
    }
    return dark;
  };
  EXPECT_GT(dark_in({2, 2, side / 3, 14}), 20) << "Duty cycle [%]";
  EXPECT_GT(dark_in({side / 2, side - 16, side - 2, side - 2}), 20) << "[%] of nominal feedrate";
  EXPECT_EQ(shot->at(side * 3 / 20 + 1, side * 3 / 10 - 5), 0xFFFFFFu) << "white between lines";
  EXPECT_EQ(shot->at(side / 10, side / 3), 0xBEBEBEu) << "a grid line";
}

TEST_F(WineDialogTest, CurveEditorLoadsAFileChosenInTheOpenDialogWithTheCurveFilter) {
  char folder[MAX_PATH] = {};
  ASSERT_GT(::GetTempPathA(MAX_PATH, folder), 0u);
  const std::string path = std::string(folder) + "kelvro_ramp_test.crv";
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(file);
  std::fputs("10 20\r\n50 60\r\n90 120\r\n", file);
  std::fclose(file);
  HWND editor = nullptr;
  HWND open = nullptr;
  std::vector<std::string> filters;
  LaserCurve shown;
  DialogScript script;
  OpenCurveEditorFileDialog(script, IDC_CURVE_LOAD, "Open", editor, open);
  script.Then([&] {
    constexpr int kFileTypes = 0x470;  // the common dialog's file type list (cmb1)
    constexpr int kFileName = 0x47C;   // its file name box (cmb13)
    filters = ComboItems(open, kFileTypes);
    ::SetDlgItemTextA(open, kFileName, path.c_str());
    test::PostClick(open, IDOK);
    return true;
  });
  script.Then([&] { return FindDialog("Open") == nullptr; });
  script.Then([&] {
    shown = host.plugin().config_dialog().general().curve_editor().curve();
    test::PostClick(editor, IDCANCEL);
    return true;
  });
  script.Then([&] { return FindDialog("Edit curve") == nullptr; });
  script.Then(Press(IDCANCEL));
  ShowConfig(script);
  std::remove(path.c_str());
  EXPECT_EQ(filters, (std::vector<std::string>{"*.crv", "All files(*.*)"}));
  ASSERT_EQ(shown.count, 3);
  EXPECT_EQ(shown.x[0], 0.0);
  EXPECT_EQ(shown.y[0], 20.0);
  EXPECT_EQ(shown.x[1], 50.0);
  EXPECT_EQ(shown.y[1], 60.0);
  EXPECT_EQ(shown.x[2], 100.0);
  EXPECT_EQ(shown.y[2], 100.0);
  EXPECT_TRUE(platform().message_boxes.empty());
  EXPECT_EQ(host.plugin().config_dialog().general().curve_editor().file_name(), path);
  EXPECT_EQ(settings().laser_curve.count, 2) << "cancelled: the page keeps its curve";
}

TEST_F(WineDialogTest, CurveEditorSavesTheCurveToTheFileChosenInTheSaveDialog) {
  char folder[MAX_PATH] = {};
  ASSERT_GT(::GetTempPathA(MAX_PATH, folder), 0u);
  // Typed without its extension: the dialog adds ".crv".
  const std::string typed = std::string(folder) + "kelvro_saved_ramp";
  const std::string path = typed + ".crv";
  std::remove(path.c_str());
  settings().laser_curve.count = 3;
  settings().laser_curve.x = {0.0, 37.5, 100.0};
  settings().laser_curve.y = {5.0, 12.25, 100.0};
  HWND editor = nullptr;
  HWND save = nullptr;
  DialogScript script;
  OpenCurveEditorFileDialog(script, IDC_CURVE_SAVE, "Save As", editor, save);
  script.Then([&] {
    ::SetDlgItemTextA(save, 0x47C, typed.c_str());  // the file name box (cmb13)
    test::PostClick(save, IDOK);
    return true;
  });
  script.Then([&] { return FindDialog("Save As") == nullptr; });
  script.Then([&] {
    test::PostClick(editor, IDCANCEL);
    return true;
  });
  script.Then([&] { return FindDialog("Edit curve") == nullptr; });
  script.Then(Press(IDCANCEL));
  ShowConfig(script);
  std::string text;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[256] = {};
    text.assign(buffer, std::fread(buffer, 1, sizeof buffer - 1, file));
    std::fclose(file);
  }
  std::remove(path.c_str());
  EXPECT_EQ(text, "0.000000 5.000000\r\n37.500000 12.250000\r\n100.000000 100.000000\r\n");
  EXPECT_EQ(host.plugin().config_dialog().general().curve_editor().file_name(), path);
  EXPECT_TRUE(platform().message_boxes.empty());
}

// ---- The About page ----

TEST_F(WineDialogTest, AboutLinksShowTheLinkCursorAndOpenTheirTargetsThroughTheShell) {
  HCURSOR link_cursor =
      ::LoadCursorA(Win32DialogRunner::ThisModule(), MAKEINTRESOURCEA(IDC_LINK_CURSOR));
  ASSERT_TRUE(link_cursor);
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kAboutTab)).Then([&] {
    for (int id : {IDC_ABOUT_MAIL, IDC_ABOUT_WEB}) {
      HWND link = ::GetDlgItem(page, id);
      EXPECT_EQ(::SendMessageA(link, WM_NCHITTEST, 0, 0), HTCLIENT);
      ::SetCursor(nullptr);
      EXPECT_TRUE(::SendMessageA(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
      EXPECT_EQ(::GetCursor(), link_cursor) << id;
      ::SendMessageA(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
      ::SendMessageA(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    }
    // Each address fits on its link's one line.
    for (int id : {IDC_ABOUT_MAIL, IDC_ABOUT_WEB}) {
      HWND link = ::GetDlgItem(page, id);
      const std::string text = TextOf(link);
      HDC dc = ::GetDC(link);
      HGDIOBJ old =
          ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(link, WM_GETFONT, 0, 0)));
      SIZE extent = {};
      ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
      ::SelectObject(dc, old);
      ::ReleaseDC(link, dc);
      RECT client;
      ::GetClientRect(link, &client);
      EXPECT_LE(extent.cx, client.right) << text;
    }
    // The version lines' labels are no links.
    ::SendDlgItemMessageA(page, IDC_ABOUT_PLUGIN, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    return true;
  });
  script.Then(Press(IDCANCEL));
  ShowConfig(script);
  EXPECT_EQ(opened, (std::vector<std::string>{std::string("mailto:") + kMakerMail, kMakerWeb}));
}

// Pixels of `shot` inside `rect` (page coordinates).
std::vector<uint32_t> PixelsIn(const test::Pixels& shot, const RECT& rect) {
  std::vector<uint32_t> pixels;
  for (int y = rect.top; y < rect.bottom && y < shot.height; ++y) {
    for (int x = rect.left; x < rect.right && x < shot.width; ++x) pixels.push_back(shot.at(x, y));
  }
  return pixels;
}

uint32_t Rgb(COLORREF color) {
  return (static_cast<uint32_t>(GetRValue(color)) << 16) |
         (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}

TEST_F(WineDialogTest, AboutPictureFillsItsFrameAndIsDecodedOncePerProcess) {
  AboutPicture::Release();  // as at library load
  const int decodes = AboutPicture::decode_count();
  std::optional<test::Pixels> shot;
  RECT picture = {};
  RECT mail = {};
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kAboutTab)).Then(SwitchTo(kGeneralTab));
  script.Then(SwitchTo(kAboutTab)).Then([&] {
    shot = test::CaptureWindow(page);
    picture = MapUnits(page, 21, 17, 236, 57);
    mail = MapUnits(page, 85, 123, 107, 8);
    return true;
  });
  script.Then(Press(IDCANCEL));
  ShowConfig(script);
  EXPECT_EQ(AboutPicture::decode_count(), decodes + 1) << "the About tab was opened twice";
  const SIZE size = AboutPicture::size();
  EXPECT_EQ(size.cx, 354) << "the picture's own size at 96 dpi";
  EXPECT_EQ(size.cy, 93);
  ASSERT_TRUE(shot.has_value());
  const uint32_t background = Rgb(::GetSysColor(COLOR_BTNFACE));
  const std::vector<uint32_t> inside = PixelsIn(*shot, picture);
  const std::set<uint32_t> colours(inside.begin(), inside.end());
  size_t plain = 0;
  for (uint32_t pixel : inside) plain += pixel == background;
  EXPECT_GT(colours.size(), 50u) << "a photograph-like picture, not a plain area";
  EXPECT_LT(plain, inside.size() / 20) << "the picture covers its frame";
  // Just outside the frame the page is plain.
  const RECT above = {picture.left, picture.top - 3, picture.right, picture.top - 1};
  for (uint32_t pixel : PixelsIn(*shot, above)) ASSERT_EQ(pixel, background);
  // The mail link's text is pure blue on the page's background.
  size_t blue = 0;
  size_t other = 0;
  for (uint32_t pixel : PixelsIn(*shot, mail)) {
    if (pixel == 0x0000FF) {
      ++blue;
    } else if (pixel != background) {
      ++other;
    }
  }
  EXPECT_GT(blue, 50u);
  EXPECT_EQ(other, 0u);
}

TEST_F(WineDialogTest, AboutShowsTheControllerFirmwareOnceConnected) {
  host.Reset();
  ASSERT_TRUE(host.plugin().link().connected());
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kAboutTab)).Then([&] {
    EXPECT_EQ(TextOf(::GetDlgItem(page, IDC_ABOUT_FIRMWARE)), "Firmware: v01.22");
    return true;
  });
  script.Then(Press(IDCANCEL));
  ShowConfig(script);
}

// ---- The Analog input & encoder page ----

// Selects an item as the user does: the new selection, then the notification to the page.
void UserSelects(HWND page, int id, int index, bool list_box) {
  HWND control = ::GetDlgItem(page, id);
  ::SendMessageA(control, list_box ? LB_SETCURSEL : CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, list_box ? LBN_SELCHANGE : CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(control));
}

TEST_F(WineDialogTest, AnalogPageSwitchesSourcesInItsListAndRefusesTwoEncodersOnOneMpg) {
  constexpr int kAnalogTab = 2;
  host.planner().encoder_counts_per_unit[4] = 2.5;
  host.planner().encoder_counts_per_unit[6] = 40.75;
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kAnalogTab)).Then([&] {
    EXPECT_EQ(ComboItems(page, IDC_ANALOG_SOURCES, true),
              (std::vector<std::string>{"Analog (none)", "Encoder1 (none)", "Encoder2 (none)"}));
    EXPECT_EQ(ComboItems(page, IDC_ANALOG_FUNCTION).size(), 5u);
    EXPECT_EQ(TextOf(::GetDlgItem(page, IDC_ANALOG_DETENT2)), "2.500000");
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(page, IDC_ANALOG_ZERO_THRESHOLD)));
    UserSelects(page, IDC_ANALOG_SOURCES, 1, true);
    const std::vector<std::string> functions = ComboItems(page, IDC_ANALOG_FUNCTION);
    EXPECT_EQ(functions.size(), 6u);
    if (!functions.empty()) {
      EXPECT_EQ(functions.back(), "THC Vnom (50-300V)");
    }
    UserSelects(page, IDC_ANALOG_FUNCTION, 3, false);
    EXPECT_EQ(ComboItems(page, IDC_ANALOG_SOURCES, true),
              (std::vector<std::string>{"Analog (none)", "Encoder1 (VAR)", "Encoder2 (none)"}));
    EXPECT_EQ(::SendDlgItemMessageA(page, IDC_ANALOG_SOURCES, LB_GETCURSEL, 0, 0), 1);
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(page, IDC_ANALOG_VAR_ID)));
    test::SetText(page, IDC_ANALOG_VAR_ID, "1234");
    UserSelects(page, IDC_ANALOG_HOST_ENCODER2, 6, false);
    EXPECT_EQ(TextOf(::GetDlgItem(page, IDC_ANALOG_DETENT2)), "40");
    UserSelects(page, IDC_ANALOG_HOST_ENCODER1, 6, false);
    ::SendMessageA(frame, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(platform().message_boxes,
              std::vector<std::string>{"Cannot map two encoders to same Mach3 encoder!"});
    EXPECT_TRUE(::IsWindowVisible(frame)) << "the dialog stays open";
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(page, IDC_ANALOG_HOST_ENCODER1));
    UserSelects(page, IDC_ANALOG_HOST_ENCODER1, 0, false);
    return true;
  });
  script.Then(Press(IDOK));
  EXPECT_EQ(ShowConfig(script), 0);
  EXPECT_EQ(settings().map_enc1, 0);
  EXPECT_EQ(settings().map_enc2, 6);
  EXPECT_EQ(settings().mappings[1].fun, 3);
  EXPECT_EQ(settings().mappings[1].var_id, 1234);
}

// ---- The THC options page and the advanced dialog ----

TEST_F(WineDialogTest, ThcPageShowsTheLiveVoltageAndItsValuesReachTheControllersThcConfig) {
  constexpr int kThcTab = 3;
  constexpr char kAdvancedCaption[] = "Advanced THC options";
  host.machine().thc_mode = 1;
  settings().thc_type = 1;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  host.Run(200);
  const auto configs_sent = [&] {
    return host.controller().trace().Count(sim::TraceKind::kCommand, "ThcConfig");
  };
  HWND live = nullptr;
  HWND advanced = nullptr;
  size_t sent_before_advanced = 0;
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kThcTab)).Then([&] {
    live = ::GetDlgItem(page, IDC_THC_LIVE_VOLTS);
    EXPECT_TRUE(live != nullptr);
    if (!live) return true;
    // The large display font as made: Arial (the face Wine stands in for it does not
    // matter), 24 pixels high at the screen's 96 dots per inch, normal weight.
    LOGFONTA made = {};
    HFONT font = reinterpret_cast<HFONT>(::SendMessageA(live, WM_GETFONT, 0, 0));
    EXPECT_EQ(::GetObjectA(font, sizeof(made), &made), static_cast<int>(sizeof(made)));
    EXPECT_STREQ(made.lfFaceName, "Arial");
    EXPECT_EQ(made.lfHeight, -24);
    EXPECT_EQ(made.lfWeight, FW_NORMAL);
    EXPECT_EQ(made.lfPitchAndFamily, VARIABLE_PITCH | FF_SWISS);
    EXPECT_FALSE(FontOf(live).raster);
    EXPECT_TRUE(::IsWindowEnabled(live));
    host.controller().SetAnalogRaw(32768);  // 2.5 V
    host.Run(100);
    return true;
  });
  // The tick's readings arrive through the page's own message loop.
  script.Then([&] { return TextOf(live) == "125"; });
  script.Then([&] {
    if (!test::GalleryFolder().empty()) {
      EXPECT_TRUE(test::CaptureToGallery(page, "page_thc_live"));
    }
    host.controller().SetAnalogRaw(16384);  // 1.25 V
    host.Run(100);
    return true;
  });
  script.Then([&] { return TextOf(live) == "62"; });
  script.Then([&] {
    test::PostClick(page, IDC_THC_GET);
    return true;
  });
  script.Then([&] { return TextOf(::GetDlgItem(page, IDC_THC_ANALOG_MV)) == "1250"; });
  script.Then([&] {
    test::SetText(page, IDC_THC_ANALOG_MV, "5000");
    test::SetText(page, IDC_THC_NOMINAL, "120");
    test::SetText(page, IDC_THC_HYSTERESIS, "9");
    sent_before_advanced = configs_sent();
    test::PostClick(page, IDC_THC_ADVANCED);
    return true;
  });
  script.Then(WaitForDialog(kAdvancedCaption, advanced));
  script.Then([&] {
    EXPECT_EQ(::GetWindow(advanced, GW_OWNER), frame);
    ExpectMsSansSerif(advanced, "advanced THC options");
    ExpectTemplateSize(advanced, IDD_THC_ADVANCED, {316, 199}, true, "advanced THC options");
    ExpectControls(advanced, kThcAdvancedControls, "advanced THC options");
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(advanced, IDC_THCADV_LOW_PASS)));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(advanced, IDC_THCADV_LP_FREQ)));
    if (!test::GalleryFolder().empty()) {
      EXPECT_TRUE(test::CaptureToGallery(advanced, "thc_advanced"));
    }
    // With the lock on, Vmax below Vmin is refused with the focus on Vmax.
    ::CheckDlgButton(advanced, IDC_THCADV_LOCK, BST_CHECKED);
    ::SendMessageA(advanced, WM_COMMAND, MAKEWPARAM(IDC_THCADV_LOCK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(advanced, IDC_THCADV_LOCK)));
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(advanced, IDC_THCADV_LOCK_MAX)));
    test::SetText(advanced, IDC_THCADV_LOCK_MAX, "60");
    ::SendMessageA(advanced, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(platform().message_boxes,
              std::vector<std::string>{"Max voltage must be larger then min voltage."});
    EXPECT_TRUE(::IsWindowVisible(advanced));
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(advanced, IDC_THCADV_LOCK_MAX));
    EXPECT_EQ(settings().thc_lock_max, 150) << "a refused OK stores nothing";
    test::SetText(advanced, IDC_THCADV_LOCK_MAX, "180");
    test::PostClick(advanced, IDOK);
    return true;
  });
  script.Then([&] { return FindDialog(kAdvancedCaption) == nullptr; });
  script.Then([&] {
    // The dialog's OK sends ThcConfig again at once: Vmax 180 % of the 100 V target.
    host.Run(100);
    EXPECT_EQ(configs_sent(), sent_before_advanced + 1);
    if (host.controller().last_thc()) {
      EXPECT_EQ(host.controller().last_thc()->lock_max, 180);
    }
    return true;
  });
  script.Then(Press(IDOK));
  EXPECT_EQ(ShowConfig(script), 0);
  EXPECT_EQ(settings().thc_nom_voltage, 120);
  EXPECT_EQ(settings().thc_hyst_voltage, 9);
  EXPECT_EQ(settings().thc_lock_max, 180);
  // The OK's E-stop and the host's next Reset: the page's values reach the controller.
  host.machine().estop = 0;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  host.Run(200);
  ASSERT_TRUE(host.controller().last_thc().has_value());
  EXPECT_EQ(host.controller().last_thc()->target, 120);
  EXPECT_EQ(host.controller().last_thc()->hysteresis, 9);
  EXPECT_EQ(host.controller().last_thc()->lock_max, 216);  // 180 % of 120 V
}

TEST_F(WineDialogTest, ThcPageWarnsWhenTheTorchStartWaitCouldNeverEnd) {
  constexpr int kThcTab = 3;
  settings().thc_dwell = 1;  // no arc detection, emulation or arc OK input
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kThcTab)).Then([&] {
    HWND warning = ::GetDlgItem(page, IDC_THC_HOLD_WARNING);
    EXPECT_TRUE(warning && ::IsWindowVisible(warning));
    EXPECT_EQ(TextOf(warning), kTorchHoldWarning);
    if (!test::GalleryFolder().empty()) {
      EXPECT_TRUE(test::CaptureToGallery(page, "page_thc_warning"));
    }
    // Arc detection with internal THC gives arc OK: the warning goes.
    ::CheckDlgButton(page, IDC_THC_INTERNAL, BST_CHECKED);
    ::CheckDlgButton(page, IDC_THC_EXTERNAL, BST_UNCHECKED);
    ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_THC_INTERNAL, BN_CLICKED), 0);
    ::CheckDlgButton(page, IDC_THC_ARC_DETECT, BST_CHECKED);
    ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_THC_ARC_DETECT, BN_CLICKED), 0);
    EXPECT_FALSE(warning && ::IsWindowVisible(warning));
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
}

// ---- The Input filter page's per-pin list ----

constexpr int kInputFilterTab = 1;

HWND PinListOf(HWND page) {
  return ::GetDlgItem(page, IDC_FILTER_PINS);
}

using test::ClickListCell;
using test::ListCellRect;

void Key(HWND window, WPARAM key, bool with_char = false) {
  ::SendMessageA(window, WM_KEYDOWN, key, 1);
  if (with_char) ::SendMessageA(window, WM_CHAR, key, 1);
  ::SendMessageA(window, WM_KEYUP, key, 0xC0000001);
}

// How many pixels of a cell have `colour` in a capture of the whole list window.
int CountInCell(const test::Pixels& shot, HWND list, int row, int column, uint32_t colour) {
  POINT origin = {0, 0};
  ::ClientToScreen(list, &origin);
  RECT window;
  ::GetWindowRect(list, &window);
  RECT cell = ListCellRect(list, row, column);
  ::OffsetRect(&cell, origin.x - window.left, origin.y - window.top);
  int count = 0;
  for (int y = std::max<int>(cell.top, 0); y < cell.bottom && y < shot.height; ++y) {
    for (int x = std::max<int>(cell.left, 0); x < cell.right && x < shot.width; ++x) {
      count += shot.at(x, y) == colour;
    }
  }
  return count;
}

constexpr uint32_t kBlue = 0x000096;
constexpr uint32_t kGray = 0x969696;
constexpr uint32_t kCheckGreen = 0x009600;  // the enabled icon's mark

TEST_F(WineDialogTest, InputFilterListDrawsTheHostsWiringInTheModelsColumnsAndRows) {
  WirePins(host.machine());
  settings().deb_pin_ena[2] = 1;
  settings().deb_pin_time[2] = 150;
  PinList& pins = host.plugin().config_dialog().input_filter().pins();
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kInputFilterTab)).Then([&] {
    HWND list = PinListOf(page);
    if (!list) return true;
    const LONG style = ::GetWindowLongA(list, GWL_STYLE);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(style & LVS_SINGLESEL);
    EXPECT_TRUE(style & LVS_OWNERDRAWFIXED);
    HWND header = reinterpret_cast<HWND>(::SendMessageA(list, LVM_GETHEADER, 0, 0));
    const std::vector<std::string> titles = {"Input No", "Enable", "Debounce time (x100 us)",
                                             "Pin info"};
    EXPECT_EQ(::SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 4);
    // The columns were laid out on the client width before the rows brought the scroll bar.
    RECT client;
    ::GetClientRect(list, &client);
    const int scroll_bar = ::GetSystemMetrics(SM_CXVSCROLL);
    const bool scrolls = (::GetWindowLongA(list, GWL_STYLE) & WS_VSCROLL) != 0;
    EXPECT_TRUE(scrolls) << "14 rows do not fit";
    const int w = client.right + (scrolls ? scroll_bar : 0) - scroll_bar;
    const int expected[4] = {static_cast<int>(w * 0.15), static_cast<int>(w * 0.15),
                             static_cast<int>(w * 0.4), 0};
    for (int c = 0; c < 4; ++c) {
      char text[64] = {};
      HDITEMA item = {};
      item.mask = HDI_TEXT;
      item.pszText = text;
      item.cchTextMax = sizeof(text);
      ::SendMessageA(header, HDM_GETITEMA, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&item));
      EXPECT_EQ(std::string(text), titles[static_cast<size_t>(c)]);
      const int width = static_cast<int>(::SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0));
      EXPECT_EQ(width, pins.column_widths()[static_cast<size_t>(c)]) << "column " << c;
      if (c < 3) {
        EXPECT_EQ(width, expected[c]) << "column " << c;
      }
    }
    EXPECT_EQ(pins.column_widths()[3], w - 2 * expected[0] - expected[2]);
    EXPECT_EQ(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 14);
    char item_text[16] = {};
    LVITEMA item = {};
    item.pszText = item_text;
    item.cchTextMax = sizeof(item_text);
    ::SendMessageA(list, LVM_GETITEMTEXTA, 13, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(std::string(item_text), "in");
    // Rows as high as the first time edit's client area, at least 20 pixels.
    RECT edit;
    ::GetClientRect(::GetDlgItem(page, IDC_FILTER_LIMIT), &edit);
    const RECT row = ListCellRect(list, 0, 1);
    EXPECT_EQ(row.bottom - row.top, std::max<int>(edit.bottom, 20));
    EXPECT_EQ(pins.row_height(), std::max<int>(edit.bottom, 20));
    // What the host wired, in blue; unused pins in gray; the icons by the switch.
    EXPECT_EQ(pins.description(2).text, "LimitX+, HomeX");
    EXPECT_EQ(pins.description(4).text, "Probe");
    EXPECT_EQ(pins.description(9).text, "ESTOP");
    EXPECT_EQ(pins.description(10).text, "Encoder/MPG");
    EXPECT_EQ(pins.description(11).text, "Index, Encoder/MPG");
    const std::optional<test::Pixels> shot = test::CaptureWindow(list);
    EXPECT_TRUE(shot.has_value());
    if (!shot) return true;
    for (int r : {2, 4}) {
      EXPECT_GT(CountInCell(*shot, list, r, 3, kBlue), 20) << "row " << r;
      EXPECT_EQ(CountInCell(*shot, list, r, 3, kGray), 0) << "row " << r;
    }
    for (int r : {0, 1, 3}) {
      EXPECT_GT(CountInCell(*shot, list, r, 3, kGray), 20) << "row " << r;
      EXPECT_EQ(CountInCell(*shot, list, r, 3, kBlue), 0) << "row " << r;
    }
    EXPECT_GT(CountInCell(*shot, list, 2, 1, kCheckGreen), 5);
    EXPECT_EQ(CountInCell(*shot, list, 1, 1, kCheckGreen), 0);
    EXPECT_GT(CountInCell(*shot, list, 2, 2, 0x000000), 10) << "the time, in black";
    EXPECT_GT(CountInCell(*shot, list, 2, 2, 0xFFFFFF), 100) << "on white";
    EXPECT_GT(CountInCell(*shot, list, 2, 3, 0xB4B4B4), 50) << "the grid lines";
    // Scrolled to the end: the lower rows are drawn where the list now shows them.
    ::SendMessageA(list, LVM_ENSUREVISIBLE, 13, FALSE);
    const std::optional<test::Pixels> lower = test::CaptureWindow(list);
    EXPECT_TRUE(lower.has_value());
    if (!lower) return true;
    for (int r : {9, 10, 11}) {
      EXPECT_GT(CountInCell(*lower, list, r, 3, kBlue), 20) << "row " << r;
      EXPECT_EQ(CountInCell(*lower, list, r, 3, kGray), 0) << "row " << r;
    }
    EXPECT_GT(CountInCell(*lower, list, 13, 3, kGray), 20);
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
}

TEST_F(WineDialogTest, AnEditInTheListReachesTheControllersDebounceTableAtTheNextReset) {
  ASSERT_EQ(host.Reset(), 0xFFFF);
  HWND list = nullptr;
  HWND editor = nullptr;
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kInputFilterTab)).Then([&] {
    list = PinListOf(page);
    if (!list) return true;
    ::CheckDlgButton(page, IDC_FILTER_BY_PIN, BST_CHECKED);
    ::SendMessageA(list, LVM_ENSUREVISIBLE, 6, FALSE);  // scrolled: pin 7 is below the fold
    ClickListCell(list, 6, 1);                          // Enable
    ClickListCell(list, 6, 2);                          // the time: the editor opens over it
    editor = ::GetDlgItem(list, IDC_FILTER_PIN_EDITOR);
    EXPECT_TRUE(editor && ::IsWindowVisible(editor));
    if (!editor) return true;
    EXPECT_EQ(::GetFocus(), editor);
    EXPECT_EQ(TextOf(editor), "0") << "the row's time";
    RECT cell = ListCellRect(list, 6, 2);
    RECT placed;
    ::GetWindowRect(editor, &placed);
    ::MapWindowPoints(nullptr, list, reinterpret_cast<POINT*>(&placed), 2);
    // Where the model puts it: the time cell (its dividers at the model's column edges)
    // shrunk by a pixel, inside the list's own cell.
    const auto model = host.plugin().config_dialog().input_filter().pins().EditorRect();
    EXPECT_TRUE(model.has_value());
    if (model) {
      EXPECT_EQ(placed.left, model->left);
      EXPECT_EQ(placed.top, model->top);
      EXPECT_EQ(placed.right, model->right);
      EXPECT_EQ(placed.bottom, model->bottom);
    }
    EXPECT_GE(placed.left, cell.left);
    EXPECT_LT(placed.right, cell.right);
    EXPECT_GT(placed.top, cell.top);
    EXPECT_LT(placed.bottom, cell.bottom);
    for (char c : std::string("1234")) ::SendMessageA(editor, WM_CHAR, static_cast<WPARAM>(c), 1);
    EXPECT_EQ(TextOf(editor), "01234") << "typed after the caret at the end";
    if (!test::GalleryFolder().empty()) {
      EXPECT_TRUE(test::CaptureToGallery(page, "page_input_filter_editing"));
    }
    // Through the dialog's loop: the editor, not the default button, takes the Enter.
    ::PostMessageA(editor, WM_KEYDOWN, VK_RETURN, 1);
    return true;
  });
  script.Then([&] {
    EXPECT_EQ(::GetDlgItem(list, IDC_FILTER_PIN_EDITOR), nullptr) << "the editor is gone";
    EXPECT_EQ(settings().deb_pin_time[6], 1234);
    EXPECT_EQ(settings().deb_pin_ena[6], 1);
    return true;
  });
  script.Then(Press(IDOK));
  EXPECT_EQ(ShowConfig(script), 0);
  EXPECT_EQ(settings().debounce_by_pin, 1);
  host.machine().estop = 0;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  const auto io = host.controller().trace().Find(sim::TraceKind::kCommand, "LoadIoConfig");
  ASSERT_EQ(io.size(), 2u);
  const std::vector<uint8_t>& sent = io[1]->payload;
  ASSERT_EQ(sent.size(), 112u);
  EXPECT_EQ(sent[80 + 2 * 6], 1234 & 0xFF) << "pin 7's word, low byte";
  EXPECT_EQ(sent[80 + 2 * 6 + 1], 1234 >> 8);
  EXPECT_EQ(io[0]->payload[80 + 2 * 6], 30) << "before: the other inputs' time";
}

TEST_F(WineDialogTest, InTheListDigitsOpenTheEditorEscapeKeepsTheTimeSpaceTogglesEnable) {
  settings().deb_pin_time[4] = 55;
  HWND list = nullptr;
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kInputFilterTab)).Then([&] {
    list = PinListOf(page);
    if (!list) return true;
    EXPECT_EQ(::SendMessageA(list, WM_GETDLGCODE, 0, 0) & DLGC_WANTALLKEYS, DLGC_WANTALLKEYS);
    ClickListCell(list, 4, 1);
    EXPECT_EQ(settings().deb_pin_ena[4], 1) << "the click toggles";
    Key(list, VK_SPACE, true);
    EXPECT_EQ(settings().deb_pin_ena[4], 0) << "Space in the Enable column";
    Key(list, VK_RIGHT);
    Key(list, VK_SPACE, true);
    EXPECT_EQ(settings().deb_pin_ena[4], 0) << "Space in the time column does nothing";
    Key(list, '7', true);
    HWND editor = ::GetDlgItem(list, IDC_FILTER_PIN_EDITOR);
    EXPECT_TRUE(editor);
    if (!editor) return true;
    EXPECT_EQ(TextOf(editor), "7");
    EXPECT_EQ(::GetFocus(), editor);
    ::PostMessageA(editor, WM_KEYDOWN, VK_ESCAPE, 1);
    return true;
  });
  script.Then([&] {
    EXPECT_EQ(::GetDlgItem(list, IDC_FILTER_PIN_EDITOR), nullptr);
    EXPECT_EQ(settings().deb_pin_time[4], 55) << "Escape keeps the old time";
    EXPECT_TRUE(::IsWindowVisible(frame)) << "Escape in the editor does not close the dialog";
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
}

// ---- The Z correction page and its map window ----

constexpr int kZCorrTab = 4;
constexpr char kZMapCaption[] = "Z correction map";

// The window's pixels equal `image`'s (both 0x..RRGGBB; the top byte is not compared).
void ExpectPixels(HWND window, const PixelImage& image, const char* what) {
  const std::optional<test::Pixels> shot = test::CaptureWindow(window);
  ASSERT_TRUE(shot.has_value()) << what;
  ASSERT_EQ(shot->width, image.width) << what;
  ASSERT_EQ(shot->height, image.height) << what;
  int wrong = 0;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if ((shot->at(x, y) & 0xFFFFFF) != (image.at(x, y) & 0xFFFFFF)) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0) << what << ": pixels that differ from the model's picture";
}

TEST_F(WineDialogTest, TheMapWindowBlitsTheModelsPicturesInBothPalettesAndKeepsTheChoice) {
  WriteZMap();
  settings().z_file_name = kZMapFile;
  host.plugin().zcorrection().set_enabled(true);
  ZMapDialog& map_dialog = host.plugin().config_dialog().zcorrection().map_dialog();
  HWND map = nullptr;
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kZCorrTab)).Then([&] {
    EXPECT_EQ(TextOf(::GetDlgItem(page, IDC_ZCORR_STATISTICS)), "File not loaded.");
    test::PostClick(page, IDC_ZCORR_SHOW_MAP);
    return true;
  });
  // Rainbow at first; then Greyscale, chosen as the user does.
  for (const ZMapPalette palette : {ZMapPalette::kRainbow, ZMapPalette::kGreyscale}) {
    script.Then([&] {
      map = FindDialog(kZMapCaption);
      return map != nullptr;
    });
    script.Then([&, palette] {
      EXPECT_EQ(map_dialog.palette(), palette);
      HWND image = ::GetDlgItem(map, 100);
      EXPECT_TRUE(image && ::IsWindowVisible(image));
      if (!image) return true;
      RECT frame_area;
      ::GetClientRect(::GetDlgItem(map, IDC_ZMAP_IMAGE), &frame_area);
      ::MapWindowPoints(::GetDlgItem(map, IDC_ZMAP_IMAGE), nullptr,
                        reinterpret_cast<POINT*>(&frame_area), 2);
      RECT placed;
      ::GetWindowRect(image, &placed);
      EXPECT_EQ(placed.left, frame_area.left);
      EXPECT_EQ(placed.top, frame_area.top);
      EXPECT_EQ(placed.right, frame_area.right);
      EXPECT_EQ(placed.bottom, frame_area.bottom);
      ExpectPixels(image,
                   map_dialog.RenderImage(placed.right - placed.left, placed.bottom - placed.top),
                   "map image");
      const bool rainbow = palette == ZMapPalette::kRainbow;
      if (rainbow) {
        ExpectMsSansSerif(map, "map dialog");
        ExpectTemplateSize(map, IDD_ZMAP, {378, 248}, true, "map dialog");
        ExpectControls(map, kZMapControls, "map dialog");
        EXPECT_EQ(ComboItems(map, IDC_ZMAP_PALETTE),
                  (std::vector<std::string>{"Greyscale", "Rainbow"}));
      }
      if (!test::GalleryFolder().empty()) {
        EXPECT_TRUE(test::CaptureToGallery(map, rainbow ? "zmap_rainbow" : "zmap_greyscale"));
      }
      if (rainbow) {
        UserSelects(map, IDC_ZMAP_PALETTE, 0, false);
      } else {
        test::PostClick(map, IDOK);
      }
      return true;
    });
    if (palette == ZMapPalette::kRainbow) {
      // The render after the choice runs from a posted message; the next step sees it done.
      script.Then([&] { return map_dialog.palette() == ZMapPalette::kGreyscale; });
    }
  }
  script.Then([&] { return FindDialog(kZMapCaption) == nullptr; });
  script.Then([&] {
    EXPECT_NE(TextOf(::GetDlgItem(page, IDC_ZCORR_STATISTICS)).find("Xpoints: 3, Ypoints: 3"),
              std::string::npos);
    return true;
  });
  script.Then(Press(IDCANCEL));
  EXPECT_EQ(ShowConfig(script), 2);
  EXPECT_EQ(map_dialog.palette(), ZMapPalette::kGreyscale) << "kept for the plugin's life";
}

TEST_F(WineDialogTest, APointFileOpenedOnThePageCorrectsTheNextProgramOnTheController) {
  WriteZMap();
  char full[MAX_PATH] = {};
  ASSERT_NE(::GetFullPathNameA(kZMapFile, MAX_PATH, full, nullptr), 0u);
  ASSERT_EQ(host.Reset(), 0xFFFF);
  settings().z_normal = 0;
  DialogScript script;
  script.Then(WaitForFrame()).Then(SwitchTo(kZCorrTab)).Then([&] {
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(page, IDC_ZCORR_OPEN)));
    ::CheckDlgButton(page, IDC_ZCORR_ENABLE, BST_CHECKED);
    ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_ZCORR_ENABLE, BN_CLICKED), 0);
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(page, IDC_ZCORR_OPEN)));
    test::PostClick(page, IDC_ZCORR_OPEN);
    return true;
  });
  // The common file dialog: the name typed into its file name box, then Open.
  script.Then([&] {
    HWND open = nullptr;
    for (const char* caption : {"Open", "Open File"}) {
      if (!open) open = FindDialog(caption);
    }
    if (!open) return false;
    HWND name = ::GetDlgItem(open, 0x47C);  // the file name combo box
    if (!name) name = ::GetDlgItem(open, 0x480);
    EXPECT_NE(name, nullptr);
    ::SetWindowTextA(name, full);
    test::PostClick(open, IDOK);
    return true;
  });
  script.Then([&] {
    return TextOf(::GetDlgItem(page, IDC_ZCORR_STATISTICS)).find("Xpoints: 3") != std::string::npos;
  });
  script.Then(Press(IDOK));
  EXPECT_EQ(ShowConfig(script), 1) << "the reload after OK succeeded";
  EXPECT_EQ(platform().message_boxes, std::vector<std::string>{});
  EXPECT_EQ(settings().z_file_name, full);
  ZCorrection& zcorr = host.plugin().zcorrection();
  EXPECT_TRUE(zcorr.enabled());
  host.machine().estop = 0;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  ASSERT_TRUE(host.RunUntil([&] { return zcorr.active(); }, 5000));
  // A program at Z 0 from the origin to the map's centre point (50, 40), which lies 0.2 above
  // the origin: the machine's Z ends 200 steps up, the program's own Z at 0.
  ASSERT_TRUE(test::RunStraightProgram(host, 50.0, 40.0, 2000));
  EXPECT_EQ(host.controller().position(0), 50000);
  EXPECT_NEAR(static_cast<double>(host.controller().position(2)), 200.0, 1.0);
}

// ---- The screenshot writer ----

TEST(GalleryPng, ChecksumsMatchTheirKnownValues) {
  const std::string iend = "IEND";
  EXPECT_EQ(test::Crc32({reinterpret_cast<const uint8_t*>(iend.data()), iend.size()}), 0xAE426082u);
  const std::string word = "Wikipedia";
  EXPECT_EQ(test::Adler32({reinterpret_cast<const uint8_t*>(word.data()), word.size()}),
            0x11E60398u);
}

TEST(GalleryPng, AnImageBecomesSignatureHeaderStoredDataAndEnd) {
  test::Pixels image;
  image.width = 2;
  image.height = 1;
  image.rgb = {0x112233, 0xAABBCC};
  const std::vector<uint8_t> png = test::EncodePng(image);
  // Signature 8, IHDR 12 + 13, IDAT 12 + zlib (2 + 5 + 7 + 4), IEND 12.
  ASSERT_EQ(png.size(), 8u + 25u + 12u + 18u + 12u);
  const std::vector<uint8_t> head(png.begin(), png.begin() + 16);
  EXPECT_EQ(head, (std::vector<uint8_t>{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H',
                                        'D', 'R'}));
  // Width 2, height 1, 8 bits, colour type 2 (RGB).
  const std::vector<uint8_t> header(png.begin() + 16, png.begin() + 29);
  EXPECT_EQ(header, (std::vector<uint8_t>{0, 0, 0, 2, 0, 0, 0, 1, 8, 2, 0, 0, 0}));
  // The row: filter 0, then R G B of each pixel, in one final stored block.
  const std::vector<uint8_t> data(png.begin() + 41, png.begin() + 41 + 2 + 5 + 7);
  EXPECT_EQ(data, (std::vector<uint8_t>{0x78, 0x01, 1, 7, 0, 0xF8, 0xFF, 0, 0x11, 0x22, 0x33, 0xAA,
                                        0xBB, 0xCC}));
  const std::vector<uint8_t> tail(png.end() - 12, png.end());
  EXPECT_EQ(tail, (std::vector<uint8_t>{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82}));
}

}  // namespace
}  // namespace kelvro
