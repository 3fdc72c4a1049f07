// The configuration dialog, apart from its window: the pages and their tabs, the remembered
// tab, page switching (the visible page is saved when the user leaves it, and a failed save
// keeps it), OK and Cancel, and the steps before and after the modal run. One object per
// plugin; its pages hold their settings for the plugin's life, only the windows come and go.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "host/host.h"
#include "host/platform.h"
#include "motion/probing.h"
#include "motion/thc_runtime.h"
#include "settings/plugin_settings.h"
#include "ui/about_page.h"
#include "ui/analog_page.h"
#include "ui/dialog_runner.h"
#include "ui/general_page.h"
#include "ui/input_filter_page.h"
#include "ui/page_model.h"
#include "ui/probe_log_dialog.h"
#include "ui/thc_page.h"
#include "ui/zcorr_page.h"

namespace kelvro {

// What the dialog reaches outside its pages.
struct ConfigDialogContext {
  Host& host;
  UserMessages& messages;
  PluginSettings& settings;
  ThcRuntime& thc;
  ProbeLogOptions& probe_log;
  AboutPage::Sources about;
  // Z correction is enabled; reloading its data gives the dialog's result after OK.
  std::function<bool()> z_correction_enabled;
  std::function<int()> reload_z_correction;
  // The Z correction page's map and commands, and the host window it sends "Measure..." to.
  ZCorrection& zcorrection;
  HostWindow& window;
};

class ConfigDialogModel {
 public:
  static constexpr int kTabCount = 6;

  explicit ConfigDialogModel(ConfigDialogContext context);

  // The whole Show operation: the values taken before the dialog, the modal run, and after
  // OK the forced E-stop, the values handed back and the Z correction reload. Returns the
  // modal result's code when it is not OK (DialogResult::kCancel as 2); after OK the reload's
  // result when Z correction is enabled, otherwise 0. Without a runner (a host without
  // windows) the dialog counts as cancelled.
  int Show(DialogRunner* runner);

  // ---- For the window ----
  int tab_count() const { return kTabCount; }
  const char* tab_text(int index) const;
  PageModel& page(int index);
  // The tab shown last (0 at first); the dialog reopens on it.
  int current_tab() const { return current_tab_; }
  // A page window for tab `index` was created: its controls are loaded and enabled.
  void PageOpened(int index, DialogControls& controls);
  // The user leaves the visible page (another tab, or OK): it is saved. On failure the
  // message is shown, the focus goes to the bad field and false is returned: the tab switch
  // or OK is refused. Without a visible page (null) there is nothing to save.
  bool LeavePage(DialogControls* visible);
  // A command on the visible page.
  void Command(DialogControls& controls, int control, DialogRunner& runner);

  // The THC page's pierce delay in ms, kept across the dialog (DRO 177 in seconds).
  int pierce_delay_ms() const { return thc_.pierce_delay_ms(); }
  void set_pierce_delay_ms(int ms) { thc_.set_pierce_delay_ms(ms); }
  // DROs 47, 48 and 49 as they were when the dialog opened.
  const std::array<double, 3>& work_offsets_at_open() const { return work_offsets_; }

  GeneralPage& general() { return general_; }
  InputFilterPage& input_filter() { return input_filter_; }
  ProbeLogDialog& probe_log_dialog() { return probe_log_dialog_; }
  AboutPage& about() { return about_; }
  AnalogPage& analog() { return analog_; }
  ThcPage& thc() { return thc_; }
  ZCorrectionPage& zcorrection() { return zcorr_; }

 private:
  void BeforeShow();
  int AfterOk();

  ConfigDialogContext ctx_;
  ProbeLogDialog probe_log_dialog_;
  GeneralPage general_;
  InputFilterPage input_filter_;
  AnalogPage analog_;
  ThcPage thc_;
  ZCorrectionPage zcorr_;
  AboutPage about_;
  int current_tab_ = 0;
  std::array<double, 3> work_offsets_{};
};

}  // namespace kelvro
