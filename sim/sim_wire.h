// The simulated controller's view of the wire: command codes, record lengths and the
// records it reads out of command payloads and segment writes.
//
// Every record is read byte by byte at its offsets (little-endian), independently of the
// plugin's own builders, so that the simulator checks what the plugin really sends. The
// callers have checked the payload's size before a record is read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvro::sim {

inline constexpr int kSimAxes = 6;
inline constexpr size_t kSimStatusLength = 60;
inline constexpr size_t kSimSegmentLength = 52;
inline constexpr size_t kSimMotionConfigLength = 262;
inline constexpr size_t kSimIoConfigLength = 112;
inline constexpr size_t kSimFlashHeaderLength = 8;
inline constexpr uint8_t kSimStatusMarker = 0x3C;
inline constexpr uint8_t kSimFlashReplyOk = 0x6F;     // "o"
inline constexpr uint8_t kSimFlashReplyError = 0x65;  // "e"

// Command codes as they appear on the wire.
namespace sim_code {
inline constexpr uint8_t kJogStart = 0x02;
inline constexpr uint8_t kJogStop = 0x03;
inline constexpr uint8_t kProbeStart = 0x04;
inline constexpr uint8_t kHomeAxis = 0x05;
inline constexpr uint8_t kSetOutputs = 0x06;
inline constexpr uint8_t kSpindle = 0x07;
inline constexpr uint8_t kLoadMotionConfig = 0x09;
inline constexpr uint8_t kLoadIoConfig = 0x0B;
inline constexpr uint8_t kReleaseHold = 0x0C;
inline constexpr uint8_t kEndProbe = 0x0D;
inline constexpr uint8_t kStop = 0x0E;
inline constexpr uint8_t kSetForcedInputs = 0x0F;
inline constexpr uint8_t kThreadStart = 0x10;
inline constexpr uint8_t kMpgConfig = 0x11;
inline constexpr uint8_t kHomeVerifyAxis = 0x12;
inline constexpr uint8_t kThcConfig = 0x13;
inline constexpr uint8_t kLatchZ = 0x14;
inline constexpr uint8_t kFlashErase = 0xF1;
inline constexpr uint8_t kFlashWrite = 0xF2;
}  // namespace sim_code

struct SimAxisConfig {
  int32_t steps_per_unit = 0;
  int32_t max_velocity = 0;  // velocity form
  int32_t acceleration = 0;
  int32_t soft_min = 0;  // steps
  int32_t soft_max = 0;
  int32_t home_position = 0;
  uint8_t master = 0;  // master axis + 1, 0 = none
  int32_t homing_speed = 0;
  int32_t homing_offset = 0;
  uint8_t flags = 0;  // bit 2: soft limits apply
};

struct SimMotionConfig {
  std::array<SimAxisConfig, kSimAxes> axes{};
  uint8_t spindle_mode = 0;
  uint8_t flags = 0;
  uint8_t mpg_encoder = 0;  // 0: encoder 1, 1: encoder 2
  uint16_t index_count = 0;
  std::vector<uint8_t> raw;
};

struct SimIoConfig {
  std::vector<uint8_t> raw;  // the 112 bytes as received
  uint8_t FunctionPin(int function) const;
  uint32_t InputActiveLowMask() const;
};

struct SimJogStart {
  uint8_t axis = 0;
  int8_t direction = 0;
  int32_t speed = 0;
};

struct SimOutputs {
  uint32_t bits = 0;
  uint16_t changed_axes = 0;
  uint16_t mode_flags = 0;
};

struct SimSpindle {
  uint8_t on = 0;
  int32_t duty = 0;
  int32_t step_rate = 0;
  int8_t direction = 0;
};

struct SimMpgConfig {
  uint8_t axis = 0;
  int32_t step = 0;  // steps per count x 10,000
  int32_t speed_limit = 0;
  uint16_t enable = 0;
};

struct SimThcConfig {
  int32_t speed = 0;
  int32_t z_limit1 = 0;
  int32_t z_limit2 = 0;
  uint16_t pierce_delay = 0;
  uint8_t type = 0;
  uint16_t target = 0;
  uint16_t hysteresis = 0;
  uint16_t full_scale = 0;  // torch volts at full analog scale
  uint16_t detect_voltage = 0;
  uint16_t detect_time = 0;
  uint16_t flags = 0;
  uint16_t kerf_voltage = 0;
  uint16_t kerf_time = 0;
  int32_t b0 = 0;
  int32_t b1 = 0;
  int32_t a1 = 0;
  uint16_t lock_max = 0;
  uint16_t lock_min = 0;
};

struct SimThreadStart {
  int32_t rate = 0;
  uint8_t mode = 0;
};

struct SimProbeStart {
  std::array<int32_t, kSimAxes> acceleration{};
  std::array<int32_t, kSimAxes> velocity{};
};

struct SimSegment {
  std::array<uint32_t, kSimAxes> phase{};
  std::array<int32_t, kSimAxes> distance{};
  uint16_t ring_tag = 0xFFFF;
  uint8_t flags = 0;
  uint8_t laser = 0;
};

// One FlashWrite block: its header and where its data starts in the payload.
struct SimFlashBlock {
  uint32_t length = 0;
  uint32_t address = 0;
  const uint8_t* data = nullptr;
};

// Each reader takes a payload of the command's own size (or one segment record).
SimJogStart ParseJogStart(const uint8_t* p);
SimProbeStart ParseProbeStart(const uint8_t* p);
SimOutputs ParseOutputs(const uint8_t* p);
SimSpindle ParseSpindle(const uint8_t* p);
SimMotionConfig ParseMotionConfig(const std::vector<uint8_t>& payload);
SimThreadStart ParseThreadStart(const uint8_t* p);
SimMpgConfig ParseMpgConfig(const uint8_t* p);
SimThcConfig ParseThcConfig(const uint8_t* p);
SimSegment ParseSegment(const uint8_t* p);
// At least the 8-byte header; `data` points into the payload.
SimFlashBlock ParseFlashBlock(const std::vector<uint8_t>& payload);

}  // namespace kelvro::sim
