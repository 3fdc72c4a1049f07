// The image checksum (CRC-16/XMODEM), the packed layout and its check.
#include "firmware/packed_image.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

#include "tests/firmware/update_rig.h"

namespace kelvro::test {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(Crc16Xmodem, StandardCheckValues) {
  struct Case {
    std::string_view text;
    uint16_t crc;
  };
  // The standard check value of CRC-16/XMODEM and a few more, as Python's
  // binascii.crc_hqx(data, 0) computes them.
  for (const Case& c : {Case{"123456789", 0x31C3}, Case{"", 0x0000}, Case{"A", 0x58E5},
                        Case{"12345", 0x546C}, Case{"KELVRO", 0x87BB}}) {
    EXPECT_EQ(Crc16Xmodem(Bytes(c.text)), c.crc) << c.text;
  }
}

TEST(Crc16Xmodem, AgreesWithTheBitwiseDefinitionOnRandomData) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> data(random() % 700);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    const std::vector<uint8_t> packed = PackByHand(data);
    const uint16_t expected =
        static_cast<uint16_t>(packed[packed.size() - 2] | (packed[packed.size() - 1] << 8));
    ASSERT_EQ(Crc16Xmodem(data), expected) << round;
  }
}

TEST(Crc16Xmodem, MessageFollowedByItsCrcBigEndianLeavesZero) {
  std::vector<uint8_t> data = Bytes("KELVRO controller image");
  const uint16_t crc = Crc16Xmodem(data);
  data.push_back(static_cast<uint8_t>(crc >> 8));
  data.push_back(static_cast<uint8_t>(crc & 0xFF));
  EXPECT_EQ(Crc16Xmodem(data), 0);
}

TEST(PackedImage, ChecksumFollowsTheImageLittleEndian) {
  EXPECT_EQ(PackImage(Bytes("123456789")),
            (std::vector<uint8_t>{'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xC3, 0x31}));
}

TEST(PackedImage, CheckAcceptsAPackedImage) {
  const PackedImageCheck check = CheckPackedImage(PackImage(Bytes("123456789")));
  EXPECT_TRUE(check.ok());
  EXPECT_EQ(check.image_length, 9u);
  EXPECT_EQ(check.stored, 0x31C3);
  EXPECT_EQ(check.computed, 0x31C3);
}

TEST(PackedImage, CheckRefusesDamage) {
  std::vector<uint8_t> packed = PackImage(Bytes("123456789"));
  packed[3] ^= 0x04;
  const PackedImageCheck check = CheckPackedImage(packed);
  EXPECT_EQ(check.status, PackedImageStatus::kBadChecksum);
  EXPECT_EQ(check.stored, 0x31C3);
  EXPECT_NE(check.computed, 0x31C3);

  std::vector<uint8_t> swapped = PackImage(Bytes("123456789"));
  std::swap(swapped[9], swapped[10]);  // stored big-endian
  EXPECT_EQ(CheckPackedImage(swapped).status, PackedImageStatus::kBadChecksum);
}

TEST(PackedImage, TooShortForAnImage) {
  for (size_t n = 0; n <= 2; ++n) {
    EXPECT_EQ(CheckPackedImage(std::vector<uint8_t>(n, 0)).status, PackedImageStatus::kNoImage)
        << n;
  }
  // One image byte and its checksum is an image.
  EXPECT_TRUE(CheckPackedImage(PackImage(Bytes("x"))).ok());
}

}  // namespace
}  // namespace kelvro::test
