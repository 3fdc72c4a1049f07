// The Z correction page and its map window, apart from their windows. The page switches
// correction on, chooses and loads the point file, sets the normalisation (which reloads a
// loaded map at once) and the start behaviour, shows the map's statistics, runs ZeroZ, and
// starts the host's probing plugin ("Measure..."). The map dialog shows the map in one of two
// palettes, remembered for the life of the plugin.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "host/platform.h"
#include "settings/plugin_settings.h"
#include "ui/page_model.h"
#include "ui/zmap_image.h"
#include "zcorr/z_correction.h"

namespace kelvro {

class ZMapDialog;

inline constexpr std::array<const char*, 4> kZNormalItems{
    "Don't normalize", "Normalize to highest point (ZCorrection <= 0)",
    "Normalize to lowest point (ZCorrection >= 0)", "Normalize to middle point"};
inline constexpr std::array<const char*, 3> kZStartModeItems{
    "Preserve current Z position", "Move to corrected Z position", "Move to SafeZ position"};

inline constexpr char kZFileFilter[] = "*.txt|*.txt|All files(*.*)|*.*||";
inline constexpr char kMessageErrorLoadingFile[] = "Error loading file!";
inline constexpr char kMessageZFileNotLoaded[] = "Z correction file not loaded.";
inline constexpr char kZGroupTitle[] = "Correction data ";
// MZOffset values from here up mean that no offset is stored.
inline constexpr double kMZOffsetUnset = 1e20;

// The host's command that starts its probing plugin: the first plain item "Probe plugin" of
// the top-level menu "PlugIn Control" (which must open a submenu).
std::optional<int> FindProbePluginCommand(const std::vector<HostMenuItem>& menu_bar);

// The text of the hidden offset label.
std::string MZOffsetText(double mz_offset);

// Measures texts in the page window's font and shortens paths with an ellipsis as the
// platform does; the page's view provides it while the window exists.
class PathFitter {
 public:
  virtual ~PathFitter() = default;
  // Client width of a control, in pixels.
  virtual int ClientWidth(int control) = 0;
  virtual int TextWidth(std::string_view text) = 0;
  // `path` shortened to fit `width` pixels.
  virtual std::string CompactPath(std::string_view path, int width) = 0;
};

// The group box title: "Correction data ", then the file name in parentheses, shortened to
// the box's client width less the title's own width and 20 pixels. Without a fitter the
// name is shown whole.
std::string ZGroupTitle(const std::string& file_name, PathFitter* fitter);

class ZMapDialog final : public PageModel {
 public:
  explicit ZMapDialog(const ZCorrectionMap& map);

  int template_id() const override;
  std::span<const Binding> bindings() const override { return bindings_; }
  // A palette choice is taken at once (the view renders again).
  bool OnCommand(DialogControls& controls, int control, DialogRunner& runner) override;
  // The view draws the map and the legend.
  std::unique_ptr<PageView> MakeView(PageViewMaker& maker) override { return maker.ZMap(*this); }

  ZMapPalette palette() const { return static_cast<ZMapPalette>(palette_ == 0 ? 0 : 1); }
  const ZCorrectionMap& map() const { return map_; }
  // The pictures for an image area and a legend area of these sizes; `label_width` is the
  // width of the widest label in the legend's font.
  PixelImage RenderImage(int width, int height) const;
  ZMapLegendLayout LegendLayout(int width, int height, int label_width) const;
  PixelImage RenderLegend(const ZMapLegendLayout& layout, int width, int height) const;

 private:
  const ZCorrectionMap& map_;
  int palette_ = static_cast<int>(ZMapPalette::kRainbow);
  std::vector<Binding> bindings_;
};

class ZCorrectionPage final : public PageModel {
 public:
  struct Context {
    PluginSettings& settings;
    ZCorrection& zcorr;
    const Host& host;
    UserMessages& messages;
    HostWindow& window;
    // DROs 47, 48 and 49 as the configuration dialog found them when it opened.
    std::function<std::array<double, 3>()> offsets_at_open;
  };

  explicit ZCorrectionPage(Context context);

  int template_id() const override;
  std::span<const Binding> bindings() const override { return bindings_; }
  // Load also finds the host's probing command, hides the offset controls and refreshes the
  // statistics; save also takes the enable check.
  ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) override;
  void ApplyEnableRules(DialogControls& controls) override;
  bool OnCommand(DialogControls& controls, int control, DialogRunner& runner) override;
  // The view measures the group box title.
  std::unique_ptr<PageView> MakeView(PageViewMaker& maker) override {
    return maker.ZCorrection(*this);
  }

  // The statistics, the offset label and the group box title from the current state.
  void Refresh(DialogControls& controls);

  void set_fitter(PathFitter* fitter) { fitter_ = fitter; }
  ZMapDialog& map_dialog() { return map_dialog_; }
  std::optional<int> measure_command() const { return measure_command_; }

 private:
  void OpenFile(DialogRunner& runner);
  void ShowMap(DialogControls& controls, DialogRunner& runner);
  void NormalisationChosen(DialogControls& controls);

  Context ctx_;
  std::vector<Binding> bindings_;
  ZMapDialog map_dialog_;
  PathFitter* fitter_ = nullptr;
  std::optional<int> measure_command_;
};

}  // namespace kelvro
