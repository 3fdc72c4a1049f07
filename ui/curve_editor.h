// The laser ramp curve editor ("Edit curve"), apart from its window: the curve area with
// the working copy of the curve, the feed/duty readout, Reset, Load and Save of curve files
// (the file name is remembered for the plugin's life, shared by both), and the nominal
// feedrate with its check against what the host's axes can run. The General setup page
// owns it, opens it on a copy of its curve and takes the copy back only on OK.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/host_blocks.h"
#include "host/platform.h"
#include "settings/plugin_settings.h"
#include "ui/curve_area.h"
#include "ui/page_model.h"

namespace kelvro {

class CurveEditorDialog;

inline constexpr char kCurveFileFilter[] = "*.crv|*.crv|All files(*.*)|*.*||";
inline constexpr char kCurveLoadError[] = "Loadin error - Invalid file.";
inline constexpr char kCurveSaveError[] = "Saving error - The file could not be written.";
// Curve files larger than this are not read (a curve is at most 20 short lines).
inline constexpr size_t kMaxCurveFileBytes = 1 << 20;

class CurveEditorDialog final : public PageModel {
 public:
  // `planner` gives the host's planner block (the axes' maximum velocities) when the editor
  // opens; it may give null.
  CurveEditorDialog(UserMessages& messages, std::function<const HostPlanner*()> planner);

  // A working copy of the curve and its nominal feedrate, before the modal run.
  void Open(const LaserCurve& curve, double nominal_feed);
  // The working copy, to be taken after OK.
  const LaserCurve& curve() const { return area_.curve(); }
  double nominal_feed() const { return nominal_feed_; }

  int template_id() const override;
  std::span<const Binding> bindings() const override { return bindings_; }
  // The save checks the nominal feedrate: a number, 1 to the highest allowed.
  ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) override;
  // Reset, Load... and Save....
  bool OnCommand(DialogControls& controls, int control, DialogRunner& runner) override;
  std::unique_ptr<PageView> MakeView(PageViewMaker& maker) override {
    return maker.CurveEditor(*this);
  }

  CurveArea& area() { return area_; }
  // 60 x the largest maximum velocity of the six axes (units per minute), as of Open.
  double highest_feed() const { return highest_feed_; }
  const std::string& file_name() const { return file_name_; }
  // Called after every change of the points that did not come from the mouse (Reset, Load),
  // so that the window redraws; empty when no window shows the editor.
  void set_redraw(std::function<void()> redraw) { redraw_ = std::move(redraw); }

 private:
  void Load(DialogRunner& runner);
  void Save(DialogRunner& runner);
  void Redraw() const {
    if (redraw_) redraw_();
  }

  UserMessages& messages_;
  std::function<const HostPlanner*()> planner_;
  CurveArea area_;
  double nominal_feed_ = 1000.0;
  double typed_feed_ = 0.0;  // the feed edit as the save read it
  double highest_feed_ = 0.0;
  std::string file_name_;
  std::vector<Binding> bindings_;
  std::function<void()> redraw_;
};

}  // namespace kelvro
