// The controller's command vocabulary and its 60-byte status report.
//
// Payload builders take field values that their callers have already computed (unit
// conversions, clamping, flag assembly live with the callers) and only place the bytes:
// little-endian, packed, at the offsets the controller expects. Framing (code, inverted
// code, length) is added by DeviceLink.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kelvro {

// Codes on the command pipe. The names are the controller's command names.
enum class CommandCode : uint8_t {
  JogStart = 0x02,
  JogStop = 0x03,
  ProbeStart = 0x04,
  HomeAxis = 0x05,
  SetOutputs = 0x06,
  Spindle = 0x07,
  LoadMotionConfig = 0x09,
  LoadIoConfig = 0x0B,
  ReleaseHold = 0x0C,
  EndProbe = 0x0D,
  Stop = 0x0E,
  SetForcedInputs = 0x0F,
  ThreadStart = 0x10,
  MpgConfig = 0x11,
  HomeVerifyAxis = 0x12,
  ThcConfig = 0x13,
  LatchZ = 0x14,
  FlashErase = 0xF1,
  FlashWrite = 0xF2,
};

// "JogStart", "FlashWrite", ...; "?" for a byte that is not a command code.
std::string_view CommandName(CommandCode code);
// True when `code` is one of the codes above.
bool IsCommandCode(uint8_t code);

// Class control IN requests on the default pipe and the lengths they return.
enum class ControlRequest : uint8_t {
  GetFirmwareVersion = 0xE0,
  GetZPosition = 0xE2,
};
inline constexpr uint16_t kFirmwareVersionLength = 5;
inline constexpr uint16_t kZPositionLength = 4;

// Command framing: code, bitwise NOT of the code, payload length (uint16 LE), payload.
inline constexpr size_t kCommandHeaderSize = 4;
void PutCommandHeader(uint8_t* out, CommandCode code, uint16_t payload_length);

// Fixed payload sizes.
inline constexpr size_t kJogStartSize = 6;
inline constexpr size_t kJogStopSize = 1;
inline constexpr size_t kProbeStartSize = 48;
inline constexpr size_t kHomeAxisSize = 2;
inline constexpr size_t kSetOutputsSize = 8;
inline constexpr size_t kSpindleSize = 10;
inline constexpr size_t kMotionConfigSize = 262;
inline constexpr size_t kIoConfigSize = 112;
inline constexpr size_t kReleaseHoldSize = 4;
inline constexpr size_t kSetForcedInputsSize = 4;
inline constexpr size_t kThreadStartSize = 5;
inline constexpr size_t kMpgConfigSize = 11;
inline constexpr size_t kThcConfigSize = 47;
inline constexpr size_t kFlashWriteHeaderSize = 8;
inline constexpr size_t kFlashWriteMaxData = 256;

// Segment records on the second OUT pipe.
inline constexpr size_t kSegmentRecordSize = 52;

// What the one-byte `Stop` payload asks for.
enum class StopTarget : uint8_t { kEstop = 1, kSafe = 3 };

// Mode byte of ThreadStart: always 3.
inline constexpr uint8_t kThreadStartMode = 3;

// MpgConfig carries axes 0..6; anything else is sent as 6.
inline constexpr uint8_t kMpgAxisMax = 6;

// Bits of the ThcConfig flags word (offset 25).
inline constexpr uint16_t kThcFlagKerfDetect = 1u << 0;
inline constexpr uint16_t kThcFlagLowPass = 1u << 1;
inline constexpr uint16_t kThcFlagLock = 1u << 2;
inline constexpr uint16_t kThcFlagLockCmd = 1u << 3;

// Field values of the ThcConfig payload, already converted to wire units by the caller.
struct ThcConfigFields {
  int32_t correction_speed = 0;  // offset 0, velocity form
  int32_t z_limit1 = 0;          // offset 4, steps
  int32_t z_limit2 = 0;          // offset 8, steps
  uint16_t dro177_x1000 = 0;     // offset 12
  uint8_t thc_type = 0;          // offset 14, THCtype
  uint16_t target = 0;           // offset 15, whole volts
  uint16_t hysteresis = 0;       // offset 17, THChystvoltage
  uint16_t torch_scale = 0;      // offset 19, THCtorchv x 5 / (THCanalogv x 0.001)
  uint16_t detect_voltage = 0;   // offset 21, 0 without arc detection
  uint16_t detect_time = 0;      // offset 23, THCdetTime
  uint16_t flags = 0;            // offset 25, kThcFlag* bits
  uint16_t kerf_voltage = 0;     // offset 27
  uint16_t kerf_time = 0;        // offset 29, KerfTime
  int32_t b0 = 0;                // offset 31, low-pass coefficient
  int32_t b1 = 0;                // offset 35, low-pass coefficient
  int32_t a1 = 0;                // offset 39, low-pass coefficient
  uint16_t lock_max = 0;         // offset 43
  uint16_t lock_min = 0;         // offset 45
};

namespace payload {

std::array<uint8_t, kJogStartSize> JogStart(uint8_t axis, int8_t direction, int32_t speed);
std::array<uint8_t, kJogStopSize> JogStop(uint8_t axis);
// Six acceleration terms (bytes 0-23) then six velocity terms (bytes 24-47), X to C.
std::array<uint8_t, kProbeStartSize> ProbeStart(const std::array<int32_t, 6>& accel,
                                                const std::array<int32_t, 6>& velocity);
std::array<uint8_t, kHomeAxisSize> HomeAxis(int16_t axis);
std::array<uint8_t, kHomeAxisSize> HomeVerifyAxis(int16_t axis);
std::array<uint8_t, kSetOutputsSize> SetOutputs(uint32_t output_bits, uint16_t changed_axes,
                                                uint16_t mode_flags);
std::array<uint8_t, kSpindleSize> Spindle(bool on, int32_t duty, int32_t step_rate,
                                          int8_t direction);
std::array<uint8_t, kReleaseHoldSize> ReleaseHold();
// `Stop` without payload: stop what is running.
std::array<uint8_t, 0> Stop();
// `Stop` with one byte: go to mode ESTOP (1) or SAFE (3).
std::array<uint8_t, 1> Stop(StopTarget target);
std::array<uint8_t, kSetForcedInputsSize> SetForcedInputs(uint32_t mask);
std::array<uint8_t, kThreadStartSize> ThreadStart(int32_t rate);
// An axis outside 0..6 (also a negative one) is sent as 6; a step of 0 is sent as 1.
std::array<uint8_t, kMpgConfigSize> MpgConfig(int axis, int32_t step, int32_t speed_limit,
                                              uint16_t enable);
std::array<uint8_t, kThcConfigSize> ThcConfig(const ThcConfigFields& fields);
// Header (length, address) followed by the data bytes.
std::vector<uint8_t> FlashWrite(uint32_t length, uint32_t address, std::span<const uint8_t> data);

}  // namespace payload

// ---- Status report ----

inline constexpr size_t kStatusPacketSize = 60;
inline constexpr uint8_t kStatusMarker = 0x3C;
inline constexpr uint16_t kRingIndexNone = 0xFFFF;

// Bits of the status flags byte.
inline constexpr uint8_t kStatusFlagResync = 1u << 0;
inline constexpr uint8_t kStatusFlagThcActive = 1u << 1;
inline constexpr uint8_t kStatusFlagArcOk = 1u << 3;
inline constexpr uint8_t kStatusFlagTorchUp = 1u << 4;
inline constexpr uint8_t kStatusFlagTorchDown = 1u << 5;
inline constexpr uint8_t kStatusFlagLed1500 = 1u << 6;

enum class Mode : uint8_t { IDLE = 0, JOG = 1, SEGM = 2, HOLD = 3, ESTOP = 4, SAFE = 5, RDOWN = 6 };

enum class Sequence : uint8_t {
  NONE = 0,
  HOME0 = 1,
  HOME1 = 2,
  HOME2 = 3,
  HOME3 = 4,
  HOME4 = 5,
  PROBE1 = 6,
  PROBE2 = 7,
  MPG = 8,
};

// "IDLE" ... "RDOWN"; "?" for an unknown code.
std::string_view ModeName(uint8_t mode);
inline std::string_view ModeName(Mode mode) {
  return ModeName(static_cast<uint8_t>(mode));
}
// "NONE", "HOME0" ... "HOME4", "PROBE1", "PROBE2", "MPG"; "?" for an unknown code.
std::string_view SequenceName(uint8_t sequence);
inline std::string_view SequenceName(Sequence sequence) {
  return SequenceName(static_cast<uint8_t>(sequence));
}

// The controller's status report, field by field. Mode and sequence are kept as the raw
// bytes because the controller may report codes the plugin does not know.
struct StatusPacket {
  uint8_t marker = kStatusMarker;        // 0: always 0x3C in a valid report
  uint8_t mode = 0;                      // 1: Mode
  uint8_t sequence = 0;                  // 2: Sequence
  uint8_t flags = 0;                     // 3: kStatusFlag* bits
  uint16_t inputs = 0;                   // 4: bit n-1 = input pin n
  uint16_t line_word = 0;                // 6: second line word, shown only
  std::array<int32_t, 6> positions{};    // 8: axis positions in steps, X to C
  int32_t thc_z_offset = 0;              // 32: Z offset applied by the controller's THC
  uint32_t index_period = 0;             // 36: spindle index period, 20 ns ticks; 0 = none
  uint16_t buffer_fill = 0;              // 40: queued 1 ms segments, 1000 = full
  uint32_t timestamp = 0;                // 42: controller clock ticks
  int32_t enc1 = 0;                      // 46: encoder 1 count
  int32_t enc2 = 0;                      // 50: encoder 2 count
  uint8_t stop_reason = 0;               // 54: valid in mode ESTOP
  uint8_t homed_axis = 0;                // 55: valid in sequence HOME4
  uint16_t ring_index = kRingIndexNone;  // 56: ring entry now executing; 0xFFFF = none
  uint16_t analog_raw = 0;               // 58: analog input raw value

  bool operator==(const StatusPacket&) const = default;
};

inline bool InMode(const StatusPacket& packet, Mode mode) {
  return packet.mode == static_cast<uint8_t>(mode);
}
inline bool InSequence(const StatusPacket& packet, Sequence sequence) {
  return packet.sequence == static_cast<uint8_t>(sequence);
}

// Decodes a status report. False (and `out` untouched) for a null pointer, fewer than 60
// bytes, or a first byte other than 0x3C: such a read counts as no packet.
bool DecodeStatusPacket(const uint8_t* bytes, size_t length, StatusPacket* out);

// The inverse, used by the simulated controller: the 60 wire bytes of a report.
std::array<uint8_t, kStatusPacketSize> EncodeStatusPacket(const StatusPacket& packet);

}  // namespace kelvro
