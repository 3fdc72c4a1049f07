#include "device/wire.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace kelvro {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kI32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kI32Min = std::numeric_limits<int32_t>::min();

TEST(Wire, PutsAtOddOffsetsLittleEndian) {
  std::vector<uint8_t> buf(16, 0xAA);
  PutU8(buf.data(), 0, 0x11);
  PutI8(buf.data(), 1, -2);
  PutU16(buf.data(), 3, 0xBEEF);
  PutI32(buf.data(), 5, -123456);  // 0xFFFE1DC0
  PutU32(buf.data(), 9, 0x01020304);
  PutI16(buf.data(), 13, -3);  // 0xFFFD
  const std::vector<uint8_t> expected = {0x11, 0xFE, 0xAA, 0xEF, 0xBE, 0xC0, 0x1D, 0xFE,
                                         0xFF, 0x04, 0x03, 0x02, 0x01, 0xFD, 0xFF, 0xAA};
  EXPECT_EQ(buf, expected);
}

TEST(Wire, GetsAtOddOffsets) {
  const std::vector<uint8_t> buf = {0x00, 0x80, 0x7F, 0x04, 0x03, 0x02, 0x81, 0xFF};
  EXPECT_EQ(GetU8(buf.data(), 1), 0x80);
  EXPECT_EQ(GetI8(buf.data(), 1), -128);
  EXPECT_EQ(GetU16(buf.data(), 1), 0x7F80);
  EXPECT_EQ(GetI16(buf.data(), 6), static_cast<int16_t>(-127));  // 0xFF81
  EXPECT_EQ(GetU32(buf.data(), 3), 0x81020304u);
  EXPECT_EQ(GetI32(buf.data(), 3), -2130574588);  // 0x81020304 as signed
  EXPECT_EQ(GetI32(buf.data(), 4), static_cast<int32_t>(0xFF810203u));
}

TEST(Wire, TruncToInt32TowardZeroAndLimited) {
  struct Case {
    double in;
    int32_t out;
  };
  const Case cases[] = {
      {0.0, 0},
      {1.9, 1},
      {-1.9, -1},
      {-0.5, 0},
      {2147483646.7, 2147483646},
      {2147483647.0, kI32Max},
      {2147483648.0, kI32Max},
      {1e12, kI32Max},
      {kInf, kI32Max},
      {-2147483647.9, -2147483647},
      {-2147483648.0, kI32Min},
      {-2147483649.5, kI32Min},
      {-1e300, kI32Min},
      {-kInf, kI32Min},
      {kNaN, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TruncToInt32(c.in), c.out) << c.in;
}

TEST(Wire, TruncToOtherWidths) {
  EXPECT_EQ(TruncToUint16(-3.0), 0);
  EXPECT_EQ(TruncToUint16(70000.0), 65535);
  EXPECT_EQ(TruncToUint16(65534.99), 65534);
  EXPECT_EQ(TruncToUint16(kNaN), 0);
  EXPECT_EQ(TruncToInt16(-40000.0), -32768);
  EXPECT_EQ(TruncToInt16(12.7), 12);
  EXPECT_EQ(TruncToUint32(-1.0), 0u);
  EXPECT_EQ(TruncToUint32(4294967295.9), 4294967295u);
  EXPECT_EQ(TruncToUint32(3000000000.5), 3000000000u);
  EXPECT_EQ(TruncToUint8(255.5), 255);
  EXPECT_EQ(TruncToUint8(-kInf), 0);
}

}  // namespace
}  // namespace kelvro
