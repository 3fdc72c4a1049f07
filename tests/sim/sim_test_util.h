// Helpers for the simulated-controller tests: wire bytes built by hand (little-endian, at
// explicit offsets) and a rig of platform clock, controller and port.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/scripted_platform.h"
#include "sim/sim_controller.h"
#include "sim/sim_usb_port.h"

namespace kelvro::sim::test {

void PutLe16(std::vector<uint8_t>& out, uint16_t v);
void PutLe32(std::vector<uint8_t>& out, uint32_t v);
uint16_t Le16(const uint8_t* p);
int32_t Le32(const uint8_t* p);

// code, ~code, payload length (LE), payload
std::vector<uint8_t> Frame(uint8_t code, const std::vector<uint8_t>& payload);

struct AxisPair {
  uint32_t phase = 125000000;  // mid-step
  int32_t distance = 0;
};
// One 52-byte record.
std::vector<uint8_t> SegmentRecord(const std::array<AxisPair, 6>& axes, uint16_t tag = 0xFFFF,
                                   uint8_t flags = 0, uint8_t laser = 0);
// `count` records that each move one axis by `distance` millionths from mid-step (valid
// while that axis stays on whole steps plus one half).
std::vector<uint8_t> StepRecords(size_t count, int axis, int32_t distance_per_segment,
                                 uint16_t first_tag = 0);

// A 262-byte motion configuration with the given per-axis home positions and soft limits.
struct AxisSetup {
  int32_t home = 0;
  int32_t soft_min = 0;
  int32_t soft_max = 0;
  uint8_t flags = 0;
};
std::vector<uint8_t> MotionConfig(const std::array<AxisSetup, 6>& axes, uint8_t mpg_encoder = 0);

struct Rig {
  ScriptedPlatform platform;
  SimController controller;
  SimUsbPort port{controller, platform};

  explicit Rig(SimControllerOptions options = {});
  void Advance(uint64_t ms);  // platform and controller
  bool Command(uint8_t code, const std::vector<uint8_t>& payload = {});
  bool Write(uint8_t pipe, const std::vector<uint8_t>& bytes);
  // Starts a status read, waits for it and returns the bytes received (empty on failure).
  std::vector<uint8_t> Read(uint32_t length = 60);
};

}  // namespace kelvro::sim::test
