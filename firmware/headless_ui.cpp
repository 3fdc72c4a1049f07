#include "firmware/headless_ui.h"

#include <utility>

namespace kelvro {

bool MemoryImageSource::Load(std::vector<uint8_t>& packed) {
  ++loads_;
  if (missing_) return false;
  packed = packed_;
  return true;
}

void RecordingProgressView::Add(ProgressEvent event) {
  events_.push_back(std::move(event));
  if (on_event) on_event(events_.back());
}

void RecordingProgressView::SetHeading(std::string_view text) {
  heading_ = text;
  texts_.emplace_back(text);
  Add({ProgressEvent::Kind::kHeading, std::string(text), 0, 0});
}

void RecordingProgressView::SetStep(std::string_view text) {
  step_ = text;
  texts_.emplace_back(text);
  Add({ProgressEvent::Kind::kStep, std::string(text), 0, 0});
}

void RecordingProgressView::SetProgressRange(int low, int high) {
  Add({ProgressEvent::Kind::kRange, {}, low, high});
}

void RecordingProgressView::SetProgress(int position) {
  progress_ = position;
  Add({ProgressEvent::Kind::kProgress, {}, position, 0});
}

void RecordingProgressView::SetOkEnabled(bool enabled) {
  ok_enabled_ = enabled;
  Add({ProgressEvent::Kind::kOkEnabled, {}, enabled ? 1 : 0, 0});
}

void RecordingProgressView::SetBusy(bool busy) {
  busy_ = busy;
  Add({ProgressEvent::Kind::kBusy, {}, busy ? 1 : 0, 0});
}

void RecordingProgressView::ShowNow() {
  Add({ProgressEvent::Kind::kShown, {}, 0, 0});
}

bool HeadlessFirmwareDialog::RunModal(void* /*owner_window*/, FirmwareDialogClient& client) {
  ++runs_;
  view_ = RecordingProgressView{};
  if (on_open) on_open(view_);
  client.OnCreated(view_);
  client.OnStart(view_);
  closed_with_ok_ = view_.ok_enabled() && !view_.busy();
  return true;
}

}  // namespace kelvro
