// A firmware update against the simulated controller on virtual time: the scripted
// platform, the controller, the simulated USB port, the link, an image held in memory and a
// recording view. The controller's trace is the independent record of what was sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "firmware/headless_ui.h"
#include "firmware/packed_image.h"
#include "firmware/update_steps.h"
#include "sim/scripted_platform.h"
#include "sim/sim_controller.h"
#include "sim/sim_usb_port.h"

namespace kelvro::test {

// `n` bytes that differ from chunk to chunk, made here rather than by the packer.
inline std::vector<uint8_t> PatternImage(size_t n) {
  std::vector<uint8_t> image(n);
  for (size_t i = 0; i < n; ++i) image[i] = static_cast<uint8_t>((i * 31 + 7) ^ (i >> 8));
  return image;
}

// The image with its checksum appended, worked out without the plugin's routine: the
// CRC-16/XMODEM of the standard's bit-by-bit definition over a 17-bit register.
inline std::vector<uint8_t> PackByHand(const std::vector<uint8_t>& image) {
  uint32_t reg = 0;
  for (const uint8_t byte : image) {
    for (int bit = 7; bit >= 0; --bit) {
      reg = (reg << 1) | ((byte >> bit) & 1u);
      if (reg & 0x10000u) reg ^= 0x11021u;
    }
  }
  for (int bit = 0; bit < 16; ++bit) {  // 16 zero bits flush the register
    reg <<= 1;
    if (reg & 0x10000u) reg ^= 0x11021u;
  }
  std::vector<uint8_t> packed = image;
  packed.push_back(static_cast<uint8_t>(reg & 0xFF));
  packed.push_back(static_cast<uint8_t>((reg >> 8) & 0xFF));
  return packed;
}

inline sim::SimControllerOptions OlderController() {
  sim::SimControllerOptions options;
  options.firmware_version = "01.20";
  options.flashed_version = "01.22";
  return options;
}

struct UpdateRig {
  explicit UpdateRig(sim::SimControllerOptions options = OlderController(),
                     std::vector<uint8_t> packed = PackByHand(PatternImage(93434)))
      : controller(std::move(options)), image(packed) {
    platform.on_time = [this](uint64_t now) { controller.AdvanceTo(now); };
    link.Open();
  }

  bool Run() { return steps.Run(view); }
  const FirmwareUpdateReport& report() const { return steps.report(); }

  std::vector<const sim::TraceEntry*> Writes() const {
    return controller.trace().Find(sim::TraceKind::kCommand, "FlashWrite");
  }
  size_t Commands() const { return controller.trace().Count(sim::TraceKind::kCommand); }

  sim::ScriptedPlatform platform;
  sim::SimController controller;
  sim::SimUsbPort port{controller, platform};
  DeviceLink link{port, platform};
  MemoryImageSource image;
  RecordingProgressView view;
  FirmwareUpdateSteps steps{link, platform, platform, platform, &image};
};

inline uint32_t PayloadU32(const std::vector<uint8_t>& p, size_t offset) {
  return static_cast<uint32_t>(p[offset]) | (static_cast<uint32_t>(p[offset + 1]) << 8) |
         (static_cast<uint32_t>(p[offset + 2]) << 16) |
         (static_cast<uint32_t>(p[offset + 3]) << 24);
}

}  // namespace kelvro::test
