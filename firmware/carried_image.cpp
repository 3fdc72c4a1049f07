#include "firmware/carried_image.h"

#include <cstdio>

#include "device/usb_port.h"

namespace kelvro {
namespace {

// 93434 -> "93,434".
std::string GroupThousands(size_t value) {
  std::string digits = std::to_string(value);
  for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return digits;
}

}  // namespace

std::string DescribeCarriedImage(const CarriedImageInfo& info) {
  char checksum[8];
  std::snprintf(checksum, sizeof(checksum), "0x%04X", static_cast<unsigned>(info.checksum));
  return "Firmware image: " + std::string(info.label) + " (" + std::string(info.file_name) + ", " +
         GroupThousands(info.image_length) + " bytes, checksum " + checksum + ")";
}

std::string DescribeCarriedImageBriefly(const CarriedImageInfo& info) {
  if (info.test_image) return "Update image: TEST IMAGE, not controller firmware";
  char checksum[8];
  std::snprintf(checksum, sizeof(checksum), "0x%04X", static_cast<unsigned>(info.checksum));
  return "Update image: " + std::string(info.label) + ", " + GroupThousands(info.image_length) +
         " bytes, checksum " + checksum;
}

bool ImageMayUpdate(const CarriedImageInfo& image, std::string_view device_path) {
  return !image.test_image || IsSimulatedControllerPath(device_path);
}

std::string CarriedImageDescription() {
  return DescribeCarriedImage(CarriedImage());
}

}  // namespace kelvro
