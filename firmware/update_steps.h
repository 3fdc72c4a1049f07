// The steps of a firmware update: check the carried image, erase the controller's flash,
// upload the image in chunks, commit its length, then wait for the controller to restart
// with the new firmware and open the link to it again.
//
// Each command is acknowledged by one byte on the status pipe; 0x6F ("o") is success. Every
// failure ends the steps at once with its text in the dialog and the failure verdict;
// nothing is retried. The checksum is verified before anything is sent, so a damaged image
// never reaches the controller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "device/device_link.h"
#include "firmware/firmware_seams.h"
#include "host/platform.h"

namespace kelvro {

inline constexpr uint8_t kFlashReplyOk = 0x6F;  // "o"
inline constexpr uint32_t kFlashReplyWaitMs = 1000;
inline constexpr size_t kFlashChunkMax = 256;
inline constexpr uint32_t kFlashRestartWaitMs = 2000;
inline constexpr int kFlashReconnectAttempts = 60;
inline constexpr uint32_t kFlashReconnectIntervalMs = 1000;

// What one run of the steps did.
struct FirmwareUpdateReport {
  bool result = false;
  size_t image_length = 0;  // bytes of the image before its checksum
  int chunks = 0;           // image chunks sent (the closing length word not counted)
  uint64_t bytes = 0;       // data bytes in those chunks, padding included
  bool committed = false;   // the length word was acknowledged
  int reconnect_attempts = 0;
  uint32_t elapsed_ms = 0;  // from the first step to the verdict
};

class FirmwareUpdateSteps {
 public:
  // `image` may be null: the image then counts as not found.
  FirmwareUpdateSteps(DeviceLink& link, Clock& clock, HostWindow& window, UserMessages& messages,
                      PackedImageSource* image);

  // Runs every step against the view; true when the controller runs the new firmware and
  // the link to it is open again.
  bool Run(FirmwareProgressView& view);
  const FirmwareUpdateReport& report() const { return report_; }

 private:
  enum class Reply { kOk, kWrong, kMissing };

  bool RunSteps(FirmwareProgressView& view);
  bool Fail(FirmwareProgressView& view, std::string_view text);
  void DiscardStaleRead();
  Reply ReadReply();
  // Reads the reply to the command just sent; on anything but "o" the update fails with
  // "ERROR reading status!" (no reply) or `refused` (another byte).
  bool Acknowledged(FirmwareProgressView& view, std::string_view refused);
  bool Upload(FirmwareProgressView& view, std::span<const uint8_t> image);
  bool Commit(FirmwareProgressView& view, uint32_t image_length);
  bool Reconnect();

  DeviceLink& link_;
  Clock& clock_;
  HostWindow& window_;
  UserMessages& messages_;
  PackedImageSource* image_;
  FirmwareUpdateReport report_;
};

}  // namespace kelvro
