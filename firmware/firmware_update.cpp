#include "firmware/firmware_update.h"

#include "device/device_link.h"
#include "host/platform.h"

namespace kelvro {

FirmwareUpdate::FirmwareUpdate(DeviceLink& link, Platform& platform)
    : link_(link), platform_(platform) {}

void FirmwareUpdate::Attach(PackedImageSource* image, FirmwareDialog* dialog) {
  image_ = image;
  dialog_ = dialog;
}

bool FirmwareUpdate::MayUpdateOpenController() const {
  return ImageMayUpdate(*carried_, link_.DevicePath());
}

bool FirmwareUpdate::Run(void* owner_window) {
  started_ = false;
  result_ = false;
  report_ = {};
  if (!MayUpdateOpenController()) return false;
  FirmwareDialog& dialog = dialog_ ? *dialog_ : headless_;
  if (!dialog.RunModal(owner_window, *this)) return false;
  return result_;
}

void FirmwareUpdate::OnCreated(FirmwareProgressView& view) {
  view.SetOkEnabled(false);
}

void FirmwareUpdate::OnStart(FirmwareProgressView& view) {
  // One update per dialog, however often the start message arrives.
  if (started_) return;
  started_ = true;
  view.ShowNow();
  view.SetBusy(true);
  FirmwareUpdateSteps steps(link_, platform_, platform_, platform_, image_);
  result_ = steps.Run(view);
  report_ = steps.report();
  view.SetOkEnabled(true);
  view.SetBusy(false);
}

}  // namespace kelvro
