#include "firmware/packed_image.h"

#include "device/wire.h"

namespace kelvro {

uint16_t Crc16Xmodem(std::span<const uint8_t> bytes) {
  uint16_t crc = 0;
  for (const uint8_t byte : bytes) {
    crc = static_cast<uint16_t>(crc ^ (static_cast<uint16_t>(byte) << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::vector<uint8_t> PackImage(std::span<const uint8_t> image) {
  std::vector<uint8_t> packed(image.begin(), image.end());
  packed.resize(image.size() + kPackedChecksumSize);
  PutU16(packed.data(), image.size(), Crc16Xmodem(image));
  return packed;
}

PackedImageCheck CheckPackedImage(std::span<const uint8_t> packed) {
  PackedImageCheck check;
  // An empty image would leave the controller with nothing to run: it counts as no image.
  if (packed.size() <= kPackedChecksumSize) return check;
  check.image_length = packed.size() - kPackedChecksumSize;
  check.stored = GetU16(packed.data(), check.image_length);
  check.computed = Crc16Xmodem(packed.first(check.image_length));
  check.status =
      check.stored == check.computed ? PackedImageStatus::kOk : PackedImageStatus::kBadChecksum;
  return check;
}

}  // namespace kelvro
