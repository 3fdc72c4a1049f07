// Decodes arbitrary bytes as a status report. A report is taken exactly when it has at least
// 60 bytes and starts with the marker; a taken report encodes back to its first 60 bytes
// (every byte belongs to one field), and a refused one leaves the output untouched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvro;
  StatusPacket packet;
  packet.mode = 0xA5;  // a value the decoder must not touch when it refuses
  const StatusPacket before = packet;
  const bool taken = DecodeStatusPacket(data, size, &packet);
  const bool valid = size >= kStatusPacketSize && data[0] == kStatusMarker;
  if (taken != valid) std::abort();
  if (!taken) {
    if (!(packet == before)) std::abort();
    return 0;
  }
  const auto bytes = EncodeStatusPacket(packet);
  if (std::memcmp(bytes.data(), data, kStatusPacketSize) != 0) std::abort();
  return 0;
}
