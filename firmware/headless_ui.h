// The firmware update without windows: an image held in memory, a progress view that
// records everything it is told, and a modal dialog that runs the update at once and is
// closed with OK as soon as OK can be pressed. The simulation run and the tests use them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_seams.h"

namespace kelvro {

class MemoryImageSource final : public PackedImageSource {
 public:
  MemoryImageSource() = default;
  explicit MemoryImageSource(std::span<const uint8_t> packed)
      : packed_(packed.begin(), packed.end()) {}
  bool Load(std::vector<uint8_t>& packed) override;

  // A source that cannot be loaded (as a missing resource).
  void set_missing(bool missing) { missing_ = missing; }
  std::vector<uint8_t>& bytes() { return packed_; }
  int loads() const { return loads_; }

 private:
  std::vector<uint8_t> packed_;
  bool missing_ = false;
  int loads_ = 0;
};

// One thing the view was told, in order.
struct ProgressEvent {
  enum class Kind { kHeading, kStep, kRange, kProgress, kOkEnabled, kBusy, kShown };
  Kind kind = Kind::kStep;
  std::string text;  // kHeading, kStep
  int value = 0;     // kRange (low), kProgress, kOkEnabled and kBusy (0 or 1)
  int high = 0;      // kRange
};

class RecordingProgressView final : public FirmwareProgressView {
 public:
  // The dialog's texts as its template sets them.
  static constexpr std::string_view kInitialHeading = "Firmware update in progress, please wait...";
  static constexpr std::string_view kInitialStep = "Updating 0%";

  void SetHeading(std::string_view text) override;
  void SetStep(std::string_view text) override;
  void SetProgressRange(int low, int high) override;
  void SetProgress(int position) override;
  void SetOkEnabled(bool enabled) override;
  void SetBusy(bool busy) override;
  void ShowNow() override;

  // Called after every event (tests look at the dialog while the update runs).
  std::function<void(const ProgressEvent&)> on_event;

  const std::vector<ProgressEvent>& events() const { return events_; }
  // The heading and step texts in the order they were set.
  const std::vector<std::string>& texts() const { return texts_; }
  const std::string& heading() const { return heading_; }
  const std::string& step() const { return step_; }
  int progress() const { return progress_; }
  bool ok_enabled() const { return ok_enabled_; }
  bool busy() const { return busy_; }

 private:
  void Add(ProgressEvent event);

  std::vector<ProgressEvent> events_;
  std::vector<std::string> texts_;
  std::string heading_{kInitialHeading};
  std::string step_{kInitialStep};
  int progress_ = 0;
  bool ok_enabled_ = true;  // the template's OK button starts enabled
  bool busy_ = false;
};

class HeadlessFirmwareDialog final : public FirmwareDialog {
 public:
  bool RunModal(void* owner_window, FirmwareDialogClient& client) override;

  // The view of the last run.
  RecordingProgressView& view() { return view_; }
  int runs() const { return runs_; }
  // Whether OK could be pressed when the update had ended (else the dialog would hang).
  bool closed_with_ok() const { return closed_with_ok_; }
  // Runs before each dialog is shown (e.g. to hook the new view).
  std::function<void(RecordingProgressView&)> on_open;

 private:
  RecordingProgressView view_;
  int runs_ = 0;
  bool closed_with_ok_ = false;
};

}  // namespace kelvro
