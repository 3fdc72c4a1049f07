// What the firmware update needs from its platform beyond the common services: the packed
// image it carries, and a modal progress dialog that shows what the update steps report.
//
// The Windows build implements both over its resources (type "BIN" 1013, dialog template
// 1012); tests and the simulation use an image held in memory and a headless dialog that
// records what it was told (firmware/headless_ui.h).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kelvro {

// Dialog template and control ids of the progress dialog.
inline constexpr int kFirmwareDialogId = 1012;
inline constexpr int kFirmwareHeadingId = 1034;  // heading, then the final verdict
inline constexpr int kFirmwareStepId = 1033;     // the current step
inline constexpr int kFirmwareProgressId = 1032;
inline constexpr int kFirmwareOkId = 1;

// The packed image (image bytes followed by their checksum).
class PackedImageSource {
 public:
  virtual ~PackedImageSource() = default;
  // False when the image cannot be found or loaded.
  virtual bool Load(std::vector<uint8_t>& packed) = 0;
};

// The controls of the progress dialog, as the update drives them.
class FirmwareProgressView {
 public:
  virtual ~FirmwareProgressView() = default;
  virtual void SetHeading(std::string_view text) = 0;
  virtual void SetStep(std::string_view text) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void SetOkEnabled(bool enabled) = 0;
  // While busy, the mouse cursor over the dialog is the wait cursor.
  virtual void SetBusy(bool busy) = 0;
  // Shows the dialog and repaints it at once.
  virtual void ShowNow() = 0;
};

// What runs inside the dialog: once when it is created, once on its start message (posted
// at creation, so that the dialog is on screen before the work begins).
class FirmwareDialogClient {
 public:
  virtual ~FirmwareDialogClient() = default;
  virtual void OnCreated(FirmwareProgressView& view) = 0;
  virtual void OnStart(FirmwareProgressView& view) = 0;
};

class FirmwareDialog {
 public:
  virtual ~FirmwareDialog() = default;
  // Shows the dialog modally over `owner_window` (may be null) and returns when the user
  // has closed it with OK. False when the dialog could not be shown at all (the client
  // then never ran).
  virtual bool RunModal(void* owner_window, FirmwareDialogClient& client) = 0;
};

}  // namespace kelvro
