// Replacing the controller's firmware with the image the plugin carries.
#pragma once

namespace kelvro {

class DeviceLink;
class Platform;

class FirmwareUpdate {
 public:
  FirmwareUpdate(DeviceLink& link, Platform& platform) : link_(link), platform_(platform) {}

  // Runs the update dialog modally; true when the controller runs the new firmware and
  // the link is open again. The updater is not built yet, so the update always reports
  // failure and the caller leaves the controller disconnected.
  bool Run();

 private:
  [[maybe_unused]] DeviceLink& link_;
  [[maybe_unused]] Platform& platform_;
};

}  // namespace kelvro
