#include "ui/curve_editor.h"

#include <algorithm>
#include <cmath>

#include "resources/resource_ids.h"
#include "settings/file_replace.h"
#include "ui/curve_file.h"

namespace kelvro {

CurveEditorDialog::CurveEditorDialog(UserMessages& messages,
                                     std::function<const HostPlanner*()> planner)
    : messages_(messages), planner_(std::move(planner)) {
  bindings_ = {Binding::Number(IDC_CURVE_FEED, typed_feed_)};
}

void CurveEditorDialog::Open(const LaserCurve& curve, double nominal_feed) {
  area_.SetCurve(curve);
  nominal_feed_ = nominal_feed;
  highest_feed_ = 0.0;
  const HostPlanner* planner = planner_ ? planner_() : nullptr;
  if (planner) {
    for (int axis = 0; axis < kAxisCount; ++axis) {
      const double velocity = planner->axes[axis].max_velocity;
      if (std::isfinite(velocity)) highest_feed_ = std::max(highest_feed_, 60.0 * velocity);
    }
  }
}

int CurveEditorDialog::template_id() const {
  return IDD_CURVE_EDITOR;
}

ExchangeResult CurveEditorDialog::Exchange(DialogControls& controls, ExchangeDirection direction) {
  typed_feed_ = nominal_feed_;
  const ExchangeResult read = kelvro::Exchange(bindings_, controls, direction);
  if (direction == ExchangeDirection::kLoad || !read.ok) return read;
  if (typed_feed_ < 1.0 || typed_feed_ > highest_feed_) {
    return ExchangeResult::Failure(
        IDC_CURVE_FEED,
        FormatBounds(kMessageNumberBetween, FormatNumber(1.0), FormatNumber(highest_feed_)));
  }
  nominal_feed_ = typed_feed_;
  return read;
}

bool CurveEditorDialog::OnCommand(DialogControls& /*controls*/, int control, DialogRunner& runner) {
  switch (control) {
    case IDC_CURVE_RESET:
      area_.Reset();
      Redraw();
      return true;
    case IDC_CURVE_LOAD:
      Load(runner);
      return true;
    case IDC_CURVE_SAVE:
      Save(runner);
      return true;
    default:
      return false;
  }
}

void CurveEditorDialog::Load(DialogRunner& runner) {
  const std::optional<std::string> chosen =
      runner.ChooseFile({false, ".dat", file_name_, kCurveFileFilter});
  if (!chosen) return;
  file_name_ = *chosen;
  std::string text;
  std::optional<LaserCurve> loaded;
  if (ReadWholeFile(file_name_, kMaxCurveFileBytes, text) == FileReadOutcome::kRead) {
    loaded = ParseCurveFile(text);
  }
  if (loaded) {
    area_.SetCurve(*loaded);
  } else {
    messages_.MessageBox(kCurveLoadError, MessageBoxKind::kOk);
    area_.Reset();
  }
  Redraw();
}

void CurveEditorDialog::Save(DialogRunner& runner) {
  const std::optional<std::string> chosen =
      runner.ChooseFile({true, ".crv", file_name_, kCurveFileFilter});
  if (!chosen) return;
  file_name_ = *chosen;
  // Written beside the target and moved over it, so that a failed save leaves any old file
  // whole.
  const std::string written = file_name_ + ".new";
  if (!WriteWholeFile(written, FormatCurveFile(area_.curve())) ||
      !ReplaceFileAtomically(written, file_name_)) {
    RemoveFileQuietly(written);
    messages_.MessageBox(kCurveSaveError, MessageBoxKind::kOk);
  }
}

}  // namespace kelvro
