// Little-endian wire helpers and saturating conversions.
//
// Every wire format of the controller is written and read byte by byte at explicit
// offsets, never by overlaying structs, so the code is independent of the compiler's
// layout and of the host's byte order. Callers size their buffers; the helpers only place
// or pick bytes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace kelvro {

inline void PutU8(uint8_t* buf, size_t offset, uint8_t value) {
  buf[offset] = value;
}

inline void PutI8(uint8_t* buf, size_t offset, int8_t value) {
  buf[offset] = static_cast<uint8_t>(value);
}

inline void PutU16(uint8_t* buf, size_t offset, uint16_t value) {
  buf[offset] = static_cast<uint8_t>(value & 0xFF);
  buf[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline void PutI16(uint8_t* buf, size_t offset, int16_t value) {
  PutU16(buf, offset, static_cast<uint16_t>(value));
}

inline void PutU32(uint8_t* buf, size_t offset, uint32_t value) {
  buf[offset] = static_cast<uint8_t>(value & 0xFF);
  buf[offset + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
  buf[offset + 2] = static_cast<uint8_t>((value >> 16) & 0xFF);
  buf[offset + 3] = static_cast<uint8_t>(value >> 24);
}

inline void PutI32(uint8_t* buf, size_t offset, int32_t value) {
  PutU32(buf, offset, static_cast<uint32_t>(value));
}

inline uint8_t GetU8(const uint8_t* buf, size_t offset) {
  return buf[offset];
}

inline int8_t GetI8(const uint8_t* buf, size_t offset) {
  return static_cast<int8_t>(buf[offset]);
}

inline uint16_t GetU16(const uint8_t* buf, size_t offset) {
  return static_cast<uint16_t>(buf[offset] | (buf[offset + 1] << 8));
}

inline int16_t GetI16(const uint8_t* buf, size_t offset) {
  return static_cast<int16_t>(GetU16(buf, offset));
}

inline uint32_t GetU32(const uint8_t* buf, size_t offset) {
  return static_cast<uint32_t>(buf[offset]) | (static_cast<uint32_t>(buf[offset + 1]) << 8) |
         (static_cast<uint32_t>(buf[offset + 2]) << 16) |
         (static_cast<uint32_t>(buf[offset + 3]) << 24);
}

// Two's-complement reinterpretation; well defined since C++20.
inline int32_t GetI32(const uint8_t* buf, size_t offset) {
  return static_cast<int32_t>(GetU32(buf, offset));
}

// Truncates toward zero into an integer type, limiting instead of wrapping: values beyond
// the type's range give its minimum or maximum, NaN gives 0. A plain cast would be
// undefined behaviour for such inputs, and these values come from host fields and user
// settings that may hold anything.
template <typename Int>
Int TruncTo(double value) {
  static_assert(std::numeric_limits<Int>::is_integer && sizeof(Int) <= 4,
                "32-bit or smaller integer types only");
  if (std::isnan(value)) return 0;
  constexpr double kMin = static_cast<double>(std::numeric_limits<Int>::min());
  constexpr double kMax = static_cast<double>(std::numeric_limits<Int>::max());
  // Every 32-bit bound is exact in a double, so these comparisons are exact too.
  if (value <= kMin) return std::numeric_limits<Int>::min();
  if (value >= kMax) return std::numeric_limits<Int>::max();
  return static_cast<Int>(std::trunc(value));
}

inline int32_t TruncToInt32(double value) {
  return TruncTo<int32_t>(value);
}
inline uint32_t TruncToUint32(double value) {
  return TruncTo<uint32_t>(value);
}
inline int16_t TruncToInt16(double value) {
  return TruncTo<int16_t>(value);
}
inline uint16_t TruncToUint16(double value) {
  return TruncTo<uint16_t>(value);
}
inline uint8_t TruncToUint8(double value) {
  return TruncTo<uint8_t>(value);
}

}  // namespace kelvro
