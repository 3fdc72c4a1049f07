// Step arithmetic of the simulated controller: positions are kept in millionths of a step,
// and the floor division and saturation the position code needs.
#pragma once

#include <cstdint>
#include <limits>

namespace kelvro::sim {

inline constexpr int64_t kMicro = 1000000;          // millionths of a step per step
inline constexpr int64_t kStepCentre = kMicro / 2;  // an axis at rest sits mid-step

inline int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

inline int64_t FloorMod(int64_t a, int64_t b) {
  return a - FloorDiv(a, b) * b;
}

inline int32_t SaturateI32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

}  // namespace kelvro::sim
