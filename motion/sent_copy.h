// The copy of a state command's payload as last sent, so that the command goes out only
// when its content changes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kelvro {

template <size_t N>
class SentCopy {
 public:
  SentCopy() { Invalidate(); }

  // True when nothing valid was sent yet or `payload` differs from the copy in its first
  // `compare` bytes.
  bool Differs(const std::array<uint8_t, N>& payload, size_t compare = N) const {
    if (!valid_) return true;
    const size_t n = compare < N ? compare : N;
    for (size_t i = 0; i < n; ++i) {
      if (payload[i] != bytes_[i]) return true;
    }
    return false;
  }
  void Remember(const std::array<uint8_t, N>& payload) {
    bytes_ = payload;
    valid_ = true;
  }
  // Forgets the copy (all ones, and marked invalid so that even an all-ones payload is
  // sent again).
  void Invalidate() {
    bytes_.fill(0xFF);
    valid_ = false;
  }
  bool valid() const { return valid_; }
  const std::array<uint8_t, N>& bytes() const { return bytes_; }

 private:
  std::array<uint8_t, N> bytes_{};
  bool valid_ = false;
};

}  // namespace kelvro
