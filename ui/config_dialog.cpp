#include "ui/config_dialog.h"

#include "device/wire.h"
#include "host/host_fields.h"
#include "resources/resource_ids.h"

namespace kelvro {
namespace {

constexpr const char* kTabTexts[ConfigDialogModel::kTabCount] = {
    "General setup", "Input filter", "Analog input && Enc", "THC options", "Z correction", "About"};

constexpr char kGrayLevelWarning[] =
    "WARNING: gray level laser engraving option is selected but current working offset for A "
    "axis is not zero.";

}  // namespace

ConfigDialogModel::ConfigDialogModel(ConfigDialogContext context)
    : ctx_(std::move(context)),
      probe_log_dialog_(ctx_.probe_log),
      general_(ctx_.settings, probe_log_dialog_, ctx_.messages,
               [this]() -> const HostPlanner* { return ctx_.host.planner; }),
      input_filter_(ctx_.settings,
                    [this]() -> const HostMachineState* { return ctx_.host.machine; }),
      analog_(ctx_.settings, ctx_.host, ctx_.messages),
      thc_(ctx_.settings, ctx_.host, ctx_.thc),
      zcorr_(ZCorrectionPage::Context{ctx_.settings, ctx_.zcorrection, ctx_.host, ctx_.messages,
                                      ctx_.window, [this] { return work_offsets_; }}),
      about_(ctx_.about) {}

const char* ConfigDialogModel::tab_text(int index) const {
  return index >= 0 && index < kTabCount ? kTabTexts[index] : "";
}

PageModel& ConfigDialogModel::page(int index) {
  switch (index) {
    case 1:
      return input_filter_;
    case 2:
      return analog_;
    case 3:
      return thc_;
    case 4:
      return zcorr_;
    case 5:
      return about_;
    default:
      return general_;
  }
}

void ConfigDialogModel::PageOpened(int index, DialogControls& controls) {
  if (index < 0 || index >= kTabCount) index = 0;
  current_tab_ = index;
  PageModel& model = page(index);
  model.Exchange(controls, ExchangeDirection::kLoad);
  model.ApplyEnableRules(controls);
}

bool ConfigDialogModel::LeavePage(DialogControls* visible) {
  return !visible || SavePage(page(current_tab_), *visible, ctx_.messages);
}

void ConfigDialogModel::Command(DialogControls& controls, int control, DialogRunner& runner) {
  PageModel& model = page(current_tab_);
  if (model.OnCommand(controls, control, runner)) model.ApplyEnableRules(controls);
}

void ConfigDialogModel::BeforeShow() {
  const Host& host = ctx_.host;
  thc_.set_pierce_delay_ms(TruncToInt32(host.GetDro(kDroPierceDelay) * 1000.0));
  ctx_.settings.thc_nom_voltage = TruncToInt32(ctx_.thc.target_voltage());
  work_offsets_ = {host.GetDro(kDroWorkOffsetX), host.GetDro(kDroWorkOffsetY),
                   host.GetDro(kDroWorkOffsetZ)};
}

int ConfigDialogModel::AfterOk() {
  const Host& host = ctx_.host;
  // The changed settings reach the controller with the host's next Reset.
  host.ForceEstop();
  host.SetDro(kDroPierceDelay, thc_.pierce_delay_ms() * 0.001);
  ctx_.thc.WriteTargetVoltage(ctx_.settings.thc_nom_voltage);
  if (ctx_.settings.laser_gl != 0 && host.Param(kParamWorkOffsetX + kAxisA) != 0.0) {
    ctx_.messages.MessageBox(kGrayLevelWarning, MessageBoxKind::kOk);
  }
  if (ctx_.z_correction_enabled && ctx_.z_correction_enabled()) {
    return ctx_.reload_z_correction ? ctx_.reload_z_correction() : 0;
  }
  return 0;
}

int ConfigDialogModel::Show(DialogRunner* runner) {
  BeforeShow();
  const DialogResult result = runner ? runner->RunConfigDialog(*this) : DialogResult::kCancel;
  if (result != DialogResult::kOk) return 2;  // the Cancel button's id
  return AfterOk();
}

}  // namespace kelvro
