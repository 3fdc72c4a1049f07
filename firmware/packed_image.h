// The packed firmware image the plugin carries: the controller's image bytes followed by
// their checksum, a 16-bit CRC stored little-endian (polynomial 0x1021, initial value 0, no
// reflection, no final XOR: the CRC-16/XMODEM parameters). The plugin never looks inside
// the image; it checks the checksum and sends the bytes unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelvro {

// Where the Windows build keeps the packed image: resource type "BIN", id 1013.
inline constexpr const char* kPackedImageResourceType = "BIN";
inline constexpr int kPackedImageResourceId = 1013;
inline constexpr size_t kPackedChecksumSize = 2;

uint16_t Crc16Xmodem(std::span<const uint8_t> bytes);

// The image with its checksum appended (little-endian).
std::vector<uint8_t> PackImage(std::span<const uint8_t> image);

enum class PackedImageStatus {
  kOk,
  kNoImage,      // fewer than three bytes: no room for an image and its checksum
  kBadChecksum,  // the stored checksum is not the checksum of the image bytes
};

struct PackedImageCheck {
  PackedImageStatus status = PackedImageStatus::kNoImage;
  size_t image_length = 0;  // bytes before the checksum
  uint16_t stored = 0;
  uint16_t computed = 0;
  bool ok() const { return status == PackedImageStatus::kOk; }
};

PackedImageCheck CheckPackedImage(std::span<const uint8_t> packed);

}  // namespace kelvro
