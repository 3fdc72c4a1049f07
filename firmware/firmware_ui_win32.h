// The firmware update's Windows side: the packed image from this module's resource "BIN"
// 1013, and the modal progress dialog from template 1012. The dialog only shows what the
// update reports; its one rule of its own is that OK closes it only once OK is enabled.
#pragma once

#include <cstdint>
#include <vector>

#include "firmware/firmware_seams.h"

namespace kelvro {

class Win32FirmwareUi final : public PackedImageSource, public FirmwareDialog {
 public:
  bool Load(std::vector<uint8_t>& packed) override;
  bool RunModal(void* owner_window, FirmwareDialogClient& client) override;
};

}  // namespace kelvro
