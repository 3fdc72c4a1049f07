// Replacing the controller's firmware with the image the plugin carries.
//
// Run shows the modal progress dialog. When the dialog is created its OK button is
// disabled; on its start message (the dialog is on screen by then) the dialog is shown and
// repainted, the wait cursor is set, the update steps run, their verdict is kept, OK is
// enabled and the wait cursor cleared. The dialog stays until the user presses OK; Run then
// returns the verdict.
#pragma once

#include <string_view>

#include "firmware/carried_image.h"
#include "firmware/firmware_seams.h"
#include "firmware/headless_ui.h"
#include "firmware/update_steps.h"

namespace kelvro {

class DeviceLink;
class Platform;

class FirmwareUpdate final : private FirmwareDialogClient {
 public:
  // Shown in place of the update question when the carried image may not be written into
  // the controller that asks for an update.
  static constexpr std::string_view kNoFirmwareCarried =
      "KELVRO firmware must be updated to work properly with this plugin version, but this "
      "build of the plugin carries no controller firmware (its update image is a test image), "
      "so it does not update a real controller.\n\nPlease use a plugin release that carries "
      "the controller firmware.";

  FirmwareUpdate(DeviceLink& link, Platform& platform);

  // What the carried image is: the build's own (CarriedImage()) unless another is given.
  void SetCarriedImage(const CarriedImageInfo& image) { carried_ = &image; }
  // Whether the carried image may be written into the controller the link has open (see
  // ImageMayUpdate). Run refuses, sending nothing and showing no dialog, when it may not.
  bool MayUpdateOpenController() const;

  // The platform side. Without an image source the update ends with "Error loading packed
  // firmware file."; without a dialog it runs in the headless one (see headless()).
  void Attach(PackedImageSource* image, FirmwareDialog* dialog);

  // Runs the update dialog modally over `owner_window`; true when the controller runs the
  // new firmware and the link is open again. False as well when the dialog could not be
  // shown (nothing was sent then).
  bool Run(void* owner_window = nullptr);

  // What the last run did.
  const FirmwareUpdateReport& report() const { return report_; }
  // The dialog used while none is attached, with the record of its last run.
  HeadlessFirmwareDialog& headless() { return headless_; }

 private:
  void OnCreated(FirmwareProgressView& view) override;
  void OnStart(FirmwareProgressView& view) override;

  DeviceLink& link_;
  Platform& platform_;
  PackedImageSource* image_ = nullptr;
  FirmwareDialog* dialog_ = nullptr;
  const CarriedImageInfo* carried_ = &CarriedImage();
  HeadlessFirmwareDialog headless_;
  FirmwareUpdateReport report_;
  bool started_ = false;
  bool result_ = false;
};

}  // namespace kelvro
