#include "ui/zcorr_page.h"

#include <algorithm>
#include <cstdio>

#include "resources/resource_ids.h"

namespace kelvro {
namespace {

constexpr char kPluginMenuText[] = "PlugIn Control";
constexpr char kProbePluginText[] = "Probe plugin";

// Controls that exist in the page's layout but are never shown.
constexpr int kHiddenControls[] = {IDC_ZCORR_AUTO_OFFSET, IDC_ZCORR_CORRECT_OFFSET, IDC_ZCORR_MZ};
// Controls the enable check switches.
constexpr int kEnabledByCheck[] = {IDC_ZCORR_OPEN, IDC_ZCORR_ZEROZ, IDC_ZCORR_CORRECT_OFFSET,
                                   IDC_ZCORR_SHOW_MAP, IDC_ZCORR_NORMAL};

}  // namespace

std::optional<int> FindProbePluginCommand(const std::vector<HostMenuItem>& menu_bar) {
  const auto menu = std::find_if(menu_bar.begin(), menu_bar.end(), [](const HostMenuItem& item) {
    return item.text == kPluginMenuText && item.has_submenu;
  });
  if (menu == menu_bar.end()) return std::nullopt;
  for (const HostMenuItem& item : menu->submenu) {
    if (item.plain && item.text == kProbePluginText) return item.command;
  }
  return std::nullopt;
}

std::string MZOffsetText(double mz_offset) {
  if (!(mz_offset < kMZOffsetUnset)) return "MZ not set";
  char text[512];
  std::snprintf(text, sizeof(text), "MZ=%10.5lf", mz_offset);
  return text;
}

std::string ZGroupTitle(const std::string& file_name, PathFitter* fitter) {
  std::string title = kZGroupTitle;
  if (file_name.empty()) return title;
  if (!fitter) return title + "(" + file_name + ")";
  const int room = fitter->ClientWidth(IDC_ZCORR_GROUP) -
                   fitter->TextWidth(std::string(kZGroupTitle) + "()") - 20;
  return title + "(" + fitter->CompactPath(file_name, std::max(room, 0)) + ")";
}

// ---- The map dialog ----

ZMapDialog::ZMapDialog(const ZCorrectionMap& map) : map_(map) {
  bindings_ = {Binding::Choice(IDC_ZMAP_PALETTE, palette_, kZMapPaletteItems)};
}

int ZMapDialog::template_id() const {
  return IDD_ZMAP;
}

bool ZMapDialog::OnCommand(DialogControls& controls, int control, DialogRunner& /*runner*/) {
  if (control != IDC_ZMAP_PALETTE) return false;
  const int chosen = controls.Selection(IDC_ZMAP_PALETTE);
  if (chosen >= 0) palette_ = chosen;
  return true;
}

PixelImage ZMapDialog::RenderImage(int width, int height) const {
  return RenderZMapImage(map_, palette(), width, height);
}

ZMapLegendLayout ZMapDialog::LegendLayout(int width, int height, int label_width) const {
  const ZCorrectionGrid grid = map_.GetZCorrectionGrid();
  return LayoutZMapLegend(grid.z_min, grid.z_max, width, height, label_width);
}

PixelImage ZMapDialog::RenderLegend(const ZMapLegendLayout& layout, int width, int height) const {
  return RenderZMapLegend(palette(), layout, width, height);
}

// ---- The page ----

ZCorrectionPage::ZCorrectionPage(Context context)
    : ctx_(std::move(context)), map_dialog_(ctx_.zcorr.map()) {
  PluginSettings& s = ctx_.settings;
  bindings_ = {
      Binding::Check(IDC_ZCORR_LIMIT, s, "ZLimitCorr"),
      Binding::Choice(IDC_ZCORR_START_MODE, s, "ZStartMode", kZStartModeItems),
      Binding::Check(IDC_ZCORR_JOG_CORR, s, "ZJogCorr"),
      Binding::Choice(IDC_ZCORR_NORMAL, s, "ZNormal", kZNormalItems),
  };
}

int ZCorrectionPage::template_id() const {
  return IDD_PAGE_ZCORR;
}

ExchangeResult ZCorrectionPage::Exchange(DialogControls& controls, ExchangeDirection direction) {
  if (direction == ExchangeDirection::kSave) {
    ctx_.zcorr.set_enabled(controls.Checked(IDC_ZCORR_ENABLE));
    return kelvro::Exchange(bindings_, controls, direction);
  }
  controls.SetChecked(IDC_ZCORR_ENABLE, ctx_.zcorr.enabled());
  const ExchangeResult result = kelvro::Exchange(bindings_, controls, direction);
  for (int id : kHiddenControls) controls.Show(id, false);
  measure_command_ = ctx_.host.app
                         ? FindProbePluginCommand(ctx_.window.MenuBar(ctx_.host.app->main_window))
                         : std::nullopt;
  controls.Enable(IDC_ZCORR_MEASURE, measure_command_.has_value());
  Refresh(controls);
  return result;
}

void ZCorrectionPage::ApplyEnableRules(DialogControls& controls) {
  const bool on = controls.Checked(IDC_ZCORR_ENABLE);
  for (int id : kEnabledByCheck) controls.Enable(id, on);
  controls.Enable(IDC_ZCORR_AUTO_OFFSET, on && ctx_.settings.mz_offset < kMZOffsetUnset);
}

void ZCorrectionPage::Refresh(DialogControls& controls) {
  controls.SetText(IDC_ZCORR_STATISTICS, ZMapStatisticsText(ctx_.zcorr.map()));
  controls.SetText(IDC_ZCORR_MZ, MZOffsetText(ctx_.settings.mz_offset));
  controls.SetText(IDC_ZCORR_GROUP, ZGroupTitle(ctx_.settings.z_file_name, fitter_));
}

bool ZCorrectionPage::OnCommand(DialogControls& controls, int control, DialogRunner& runner) {
  switch (control) {
    case IDC_ZCORR_ENABLE:
      break;  // the enable rule runs after every command
    case IDC_ZCORR_OPEN:
      OpenFile(runner);
      break;
    case IDC_ZCORR_SHOW_MAP:
      ShowMap(controls, runner);
      break;
    case IDC_ZCORR_NORMAL:
      NormalisationChosen(controls);
      break;
    case IDC_ZCORR_ZEROZ:
      ctx_.zcorr.ZeroZ();
      break;
    case IDC_ZCORR_CORRECT_OFFSET:
      ctx_.zcorr.CorrectZOffset(ctx_.offsets_at_open ? ctx_.offsets_at_open()
                                                     : std::array<double, 3>{});
      break;
    case IDC_ZCORR_AUTO_OFFSET:
      ctx_.zcorr.AutoSetZOffset();
      break;
    case IDC_ZCORR_MEASURE:
      if (measure_command_ && ctx_.host.app) {
        ctx_.window.SendMenuCommand(ctx_.host.app->main_window, *measure_command_ & 0xFFFF);
      }
      break;
    default:
      return false;
  }
  Refresh(controls);
  return true;
}

void ZCorrectionPage::OpenFile(DialogRunner& runner) {
  std::optional<std::string> chosen =
      runner.ChooseFile(FileDialogRequest{false, "txt", ctx_.settings.z_file_name, kZFileFilter});
  if (!chosen) return;
  ctx_.settings.z_file_name = std::move(*chosen);
  if (!ctx_.zcorr.map().LoadZCorrectionFile(ctx_.settings.z_file_name, ctx_.settings.z_normal,
                                            ctx_.messages, ctx_.host)) {
    ctx_.messages.MessageBox(kMessageErrorLoadingFile, MessageBoxKind::kOk);
  }
}

void ZCorrectionPage::ShowMap(DialogControls& controls, DialogRunner& runner) {
  ctx_.zcorr.EnsureLoaded();
  Refresh(controls);
  if (ctx_.zcorr.map().IsZCorrectionLoaded()) {
    runner.RunModal(map_dialog_);
  } else {
    ctx_.messages.MessageBox(kMessageZFileNotLoaded, MessageBoxKind::kOk);
  }
}

void ZCorrectionPage::NormalisationChosen(DialogControls& controls) {
  const int chosen = controls.Selection(IDC_ZCORR_NORMAL);
  if (chosen < 0) return;
  ctx_.settings.z_normal = chosen;
  if (ctx_.zcorr.map().IsZCorrectionLoaded()) ctx_.zcorr.Reload();
}

}  // namespace kelvro
