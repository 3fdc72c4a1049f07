// The THC options page and its advanced THC dialog: external or internal torch height
// control, the internal controller's voltages and times, the calibration of the analog input
// against the torch voltage with the live torch voltage beside it, the pierce delay, the
// torch-start wait, and (in the dialog) the filter, kerf, lock and manual options with the
// cut statistics. The page's window is fed the raw analog value of every status report.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/host.h"
#include "motion/thc_runtime.h"
#include "settings/plugin_settings.h"
#include "ui/page_model.h"

namespace kelvro {

inline constexpr char kMessageLockOrder[] = "Max voltage must be larger then min voltage.";

// The advanced dialog's cut statistics line for `ignitions` and `cut_time_ms`.
std::string CutStatisticsText(int ignitions, int64_t cut_time_ms);

class ThcAdvancedDialog final : public PageModel {
 public:
  ThcAdvancedDialog(PluginSettings& settings, ThcRuntime& thc);

  int template_id() const override;
  std::span<const Binding> bindings() const override { return bindings_; }
  // Load shows the options and the cut statistics; save checks every field and the lock
  // band's order, and stores nothing unless all of them pass.
  ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) override;
  void ApplyEnableRules(DialogControls& controls) override;
  // The check boxes rerun the enable rule; Reset zeroes the cut statistics.
  bool OnCommand(DialogControls& controls, int control, DialogRunner& runner) override;

  // The THC type the page shows, copied in before the dialog opens.
  void set_thc_type(int type) { thc_type_ = type; }

 private:
  PluginSettings& settings_;
  ThcRuntime& thc_;
  std::vector<Binding> bindings_;
  int thc_type_ = 0;
};

class ThcPage final : public PageModel {
 public:
  ThcPage(PluginSettings& settings, const Host& host, ThcRuntime& thc);

  int template_id() const override;
  std::span<const Binding> bindings() const override { return bindings_; }
  // Load also checks the radio button of THCtype and the voltage log option; a save passes
  // the voltage log option on to the THC runtime.
  ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) override;
  // Controller settings only for internal THC, the detection window only with arc
  // detection; the torch-start warning while the wait is on but nothing gives arc OK.
  void ApplyEnableRules(DialogControls& controls) override;
  // The radio buttons set THCtype, "Get" takes the last input voltage, "Advanced
  // options..." runs the advanced dialog (OK asks the tick to send ThcConfig again).
  bool OnCommand(DialogControls& controls, int control, DialogRunner& runner) override;
  std::unique_ptr<PageView> MakeView(PageViewMaker& maker) override { return maker.Thc(*this); }

  // ---- The live torch voltage ----
  // From the service tick, every decoded report: handed to the page's window while it
  // exists (the window posts it to itself and shows it with ShowAnalogReading).
  void FeedAnalogReading(uint16_t raw) {
    if (window_feed_) window_feed_(raw);
  }
  // Set by the page's window while it exists; cleared with an empty function.
  void set_window_feed(std::function<void(uint16_t)> feed) { window_feed_ = std::move(feed); }
  // The window received `raw`: ignored with external THC, otherwise kept as the last input
  // voltage and shown as torch volts by the calibration in the page's edits.
  void ShowAnalogReading(DialogControls& controls, uint16_t raw);
  double last_input_volts() const { return last_input_volts_; }

  // The pierce delay in ms (the host's DRO 177 in seconds), kept across the dialog.
  int pierce_delay_ms() const { return pierce_delay_ms_; }
  void set_pierce_delay_ms(int ms) { pierce_delay_ms_ = ms; }

  ThcAdvancedDialog& advanced() { return advanced_; }

 private:
  PluginSettings& settings_;
  const Host& host_;
  ThcRuntime& thc_;
  ThcAdvancedDialog advanced_;
  std::vector<Binding> bindings_;
  int pierce_delay_ms_ = 0;
  int voltage_log_ = 0;
  double last_input_volts_ = 0.0;
  std::function<void(uint16_t)> window_feed_;
};

}  // namespace kelvro
