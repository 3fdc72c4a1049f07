// Runs the firmware update steps on an arbitrary packed image against a controller whose
// replies (and whether it comes back after the restart) are the fuzzer's bytes. Checks what
// must hold whatever the input: a damaged image sends nothing, every chunk is 4 to 256 bytes
// in multiples of 4 at the address that follows the previous chunk, and the length word, if
// sent, comes last and carries the image length.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/device_link.h"
#include "device/wire.h"
#include "firmware/headless_ui.h"
#include "firmware/packed_image.h"
#include "firmware/update_steps.h"
#include "sim/scripted_platform.h"

namespace {

class ReplyPort : public kelvro::UsbPort {
 public:
  ReplyPort(const uint8_t* replies, size_t count) : replies_(replies), count_(count) {}
  kelvro::UsbOpenResult Open() override {
    // After the restart, each reply byte's low bit says whether the controller is back.
    if (opens_++ == 0) return kelvro::UsbOpenResult::kOk;
    return Next() & 1 ? kelvro::UsbOpenResult::kOk : kelvro::UsbOpenResult::kNoDevice;
  }
  void Close() override { pending_ = false; }
  bool WritePipe(uint8_t pipe, const uint8_t* data, uint32_t length, uint32_t* written) override {
    writes.emplace_back(data, data + length);
    if (pipe != kelvro::kPipeCommand) __builtin_trap();
    *written = length;
    return true;
  }
  bool StartRead(uint8_t, uint8_t* buffer, uint32_t length) override {
    if (length == 0) __builtin_trap();
    buffer_ = buffer;
    pending_ = true;
    return true;
  }
  bool ReadCompleted() override { return pending_ && index_ < count_; }
  bool WaitRead(uint32_t) override { return ReadCompleted(); }
  bool ReadResult(uint32_t* transferred) override {
    if (!ReadCompleted()) return false;
    buffer_[0] = Next();
    pending_ = false;
    *transferred = 1;
    return true;
  }
  bool ControlIn(uint8_t, uint8_t* buffer, uint16_t length) override {
    std::memset(buffer, '0', length);
    return true;
  }

  std::vector<std::vector<uint8_t>> writes;

 private:
  uint8_t Next() { return index_ < count_ ? replies_[index_++] : 0; }

  const uint8_t* replies_;
  size_t count_;
  size_t index_ = 0;
  int opens_ = 0;
  bool pending_ = false;
  uint8_t* buffer_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvro;
  if (size == 0) return 0;
  const size_t reply_count = std::min<size_t>(data[0], size - 1);
  const uint8_t* replies = data + 1;
  std::vector<uint8_t> packed(data + 1 + reply_count, data + size);
  // Every few inputs, a sound image of the same bytes, so that uploads are reached often.
  if (!packed.empty() && (data[0] & 0x80) != 0) {
    packed.resize(packed.size() - std::min<size_t>(2, packed.size()));
    if (!packed.empty()) packed = PackImage(packed);
  }
  const PackedImageCheck check = CheckPackedImage(packed);

  sim::ScriptedPlatform platform;
  ReplyPort port(replies, reply_count);
  DeviceLink link(port, platform);
  link.Open();
  MemoryImageSource image(packed);
  RecordingProgressView view;
  FirmwareUpdateSteps steps(link, platform, platform, platform, &image);
  const bool result = steps.Run(view);

  if (!check.ok() && (!port.writes.empty() || result)) __builtin_trap();
  uint64_t next_address = 4;
  bool length_word_sent = false;
  for (size_t i = 0; i < port.writes.size(); ++i) {
    const std::vector<uint8_t>& w = port.writes[i];
    if (length_word_sent) __builtin_trap();  // nothing after the length word
    if (i == 0) {
      if (w.size() != 4 || w[0] != 0xF1) __builtin_trap();
      continue;
    }
    if (w.size() < 12 || w[0] != 0xF2) __builtin_trap();
    const uint32_t length = GetU32(w.data(), 4);
    const uint32_t address = GetU32(w.data(), 8);
    if (w.size() != 12 + length) __builtin_trap();
    if (address == 0) {
      if (length != 4 || GetU32(w.data(), 12) != check.image_length) __builtin_trap();
      if (next_address < 4 + check.image_length) __builtin_trap();  // image not all sent
      length_word_sent = true;
      continue;
    }
    if (length == 0 || length > 256 || length % 4 != 0 || address != next_address) __builtin_trap();
    next_address += length;
  }
  if (result && !length_word_sent) __builtin_trap();
  return 0;
}
