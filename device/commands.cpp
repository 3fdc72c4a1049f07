#include "device/commands.h"

#include "device/wire.h"

namespace kelvro {

namespace {

struct CommandEntry {
  CommandCode code;
  std::string_view name;
};

constexpr CommandEntry kCommands[] = {
    {CommandCode::JogStart, "JogStart"},
    {CommandCode::JogStop, "JogStop"},
    {CommandCode::ProbeStart, "ProbeStart"},
    {CommandCode::HomeAxis, "HomeAxis"},
    {CommandCode::SetOutputs, "SetOutputs"},
    {CommandCode::Spindle, "Spindle"},
    {CommandCode::LoadMotionConfig, "LoadMotionConfig"},
    {CommandCode::LoadIoConfig, "LoadIoConfig"},
    {CommandCode::ReleaseHold, "ReleaseHold"},
    {CommandCode::EndProbe, "EndProbe"},
    {CommandCode::Stop, "Stop"},
    {CommandCode::SetForcedInputs, "SetForcedInputs"},
    {CommandCode::ThreadStart, "ThreadStart"},
    {CommandCode::MpgConfig, "MpgConfig"},
    {CommandCode::HomeVerifyAxis, "HomeVerifyAxis"},
    {CommandCode::ThcConfig, "ThcConfig"},
    {CommandCode::LatchZ, "LatchZ"},
    {CommandCode::FlashErase, "FlashErase"},
    {CommandCode::FlashWrite, "FlashWrite"},
};

constexpr std::string_view kUnknownName = "?";

constexpr std::string_view kModeNames[] = {"IDLE", "JOG", "SEGM", "HOLD", "ESTOP", "SAFE", "RDOWN"};

constexpr std::string_view kSequenceNames[] = {"NONE",  "HOME0",  "HOME1",  "HOME2", "HOME3",
                                               "HOME4", "PROBE1", "PROBE2", "MPG"};

std::array<uint8_t, kHomeAxisSize> AxisWord(int16_t axis) {
  std::array<uint8_t, kHomeAxisSize> out{};
  PutI16(out.data(), 0, axis);
  return out;
}

}  // namespace

std::string_view CommandName(CommandCode code) {
  for (const CommandEntry& entry : kCommands) {
    if (entry.code == code) return entry.name;
  }
  return kUnknownName;
}

bool IsCommandCode(uint8_t code) {
  for (const CommandEntry& entry : kCommands) {
    if (static_cast<uint8_t>(entry.code) == code) return true;
  }
  return false;
}

void PutCommandHeader(uint8_t* out, CommandCode code, uint16_t payload_length) {
  const auto raw = static_cast<uint8_t>(code);
  PutU8(out, 0, raw);
  PutU8(out, 1, static_cast<uint8_t>(~raw));
  PutU16(out, 2, payload_length);
}

namespace payload {

std::array<uint8_t, kJogStartSize> JogStart(uint8_t axis, int8_t direction, int32_t speed) {
  std::array<uint8_t, kJogStartSize> out{};
  PutU8(out.data(), 0, axis);
  PutI8(out.data(), 1, direction);
  PutI32(out.data(), 2, speed);
  return out;
}

std::array<uint8_t, kJogStopSize> JogStop(uint8_t axis) {
  return {axis};
}

std::array<uint8_t, kProbeStartSize> ProbeStart(const std::array<int32_t, 6>& accel,
                                                const std::array<int32_t, 6>& velocity) {
  std::array<uint8_t, kProbeStartSize> out{};
  for (size_t k = 0; k < 6; ++k) {
    PutI32(out.data(), 4 * k, accel[k]);
    PutI32(out.data(), 24 + 4 * k, velocity[k]);
  }
  return out;
}

std::array<uint8_t, kHomeAxisSize> HomeAxis(int16_t axis) {
  return AxisWord(axis);
}

std::array<uint8_t, kHomeAxisSize> HomeVerifyAxis(int16_t axis) {
  return AxisWord(axis);
}

std::array<uint8_t, kSetOutputsSize> SetOutputs(uint32_t output_bits, uint16_t changed_axes,
                                                uint16_t mode_flags) {
  std::array<uint8_t, kSetOutputsSize> out{};
  PutU32(out.data(), 0, output_bits);
  PutU16(out.data(), 4, changed_axes);
  PutU16(out.data(), 6, mode_flags);
  return out;
}

std::array<uint8_t, kSpindleSize> Spindle(bool on, int32_t duty, int32_t step_rate,
                                          int8_t direction) {
  std::array<uint8_t, kSpindleSize> out{};
  PutU8(out.data(), 0, on ? 1 : 0);
  PutI32(out.data(), 1, duty);
  PutI32(out.data(), 5, step_rate);
  PutI8(out.data(), 9, direction);
  return out;
}

std::array<uint8_t, kReleaseHoldSize> ReleaseHold() {
  return {0, 0, 0, 0};
}

std::array<uint8_t, 0> Stop() {
  return {};
}

std::array<uint8_t, 1> Stop(StopTarget target) {
  return {static_cast<uint8_t>(target)};
}

std::array<uint8_t, kSetForcedInputsSize> SetForcedInputs(uint32_t mask) {
  std::array<uint8_t, kSetForcedInputsSize> out{};
  PutU32(out.data(), 0, mask);
  return out;
}

std::array<uint8_t, kThreadStartSize> ThreadStart(int32_t rate) {
  std::array<uint8_t, kThreadStartSize> out{};
  PutI32(out.data(), 0, rate);
  PutU8(out.data(), 4, kThreadStartMode);
  return out;
}

std::array<uint8_t, kMpgConfigSize> MpgConfig(int axis, int32_t step, int32_t speed_limit,
                                              uint16_t enable) {
  // Out-of-range axes become 6 rather than being wrapped into a real axis number: a
  // negative host value must not turn into a hand-wheel jog of X.
  const uint8_t wire_axis =
      (axis >= 0 && axis <= kMpgAxisMax) ? static_cast<uint8_t>(axis) : kMpgAxisMax;
  // The controller is never sent a step of 0; it gets 1 instead.
  const int32_t wire_step = step == 0 ? 1 : step;
  std::array<uint8_t, kMpgConfigSize> out{};
  PutU8(out.data(), 0, wire_axis);
  PutI32(out.data(), 1, wire_step);
  PutI32(out.data(), 5, speed_limit);
  PutU16(out.data(), 9, enable);
  return out;
}

std::array<uint8_t, kThcConfigSize> ThcConfig(const ThcConfigFields& f) {
  std::array<uint8_t, kThcConfigSize> out{};
  uint8_t* p = out.data();
  PutI32(p, 0, f.correction_speed);
  PutI32(p, 4, f.z_limit1);
  PutI32(p, 8, f.z_limit2);
  PutU16(p, 12, f.dro177_x1000);
  PutU8(p, 14, f.thc_type);
  PutU16(p, 15, f.target);
  PutU16(p, 17, f.hysteresis);
  PutU16(p, 19, f.torch_scale);
  PutU16(p, 21, f.detect_voltage);
  PutU16(p, 23, f.detect_time);
  PutU16(p, 25, f.flags);
  PutU16(p, 27, f.kerf_voltage);
  PutU16(p, 29, f.kerf_time);
  PutI32(p, 31, f.b0);
  PutI32(p, 35, f.b1);
  PutI32(p, 39, f.a1);
  PutU16(p, 43, f.lock_max);
  PutU16(p, 45, f.lock_min);
  return out;
}

std::vector<uint8_t> FlashWrite(uint32_t length, uint32_t address, std::span<const uint8_t> data) {
  std::vector<uint8_t> out(kFlashWriteHeaderSize + data.size());
  PutU32(out.data(), 0, length);
  PutU32(out.data(), 4, address);
  for (size_t i = 0; i < data.size(); ++i) out[kFlashWriteHeaderSize + i] = data[i];
  return out;
}

}  // namespace payload

std::string_view ModeName(uint8_t mode) {
  return mode < std::size(kModeNames) ? kModeNames[mode] : kUnknownName;
}

std::string_view SequenceName(uint8_t sequence) {
  return sequence < std::size(kSequenceNames) ? kSequenceNames[sequence] : kUnknownName;
}

bool DecodeStatusPacket(const uint8_t* bytes, size_t length, StatusPacket* out) {
  if (bytes == nullptr || out == nullptr) return false;
  if (length < kStatusPacketSize || bytes[0] != kStatusMarker) return false;
  StatusPacket p;
  p.marker = GetU8(bytes, 0);
  p.mode = GetU8(bytes, 1);
  p.sequence = GetU8(bytes, 2);
  p.flags = GetU8(bytes, 3);
  p.inputs = GetU16(bytes, 4);
  p.line_word = GetU16(bytes, 6);
  for (size_t k = 0; k < 6; ++k) p.positions[k] = GetI32(bytes, 8 + 4 * k);
  p.thc_z_offset = GetI32(bytes, 32);
  p.index_period = GetU32(bytes, 36);
  p.buffer_fill = GetU16(bytes, 40);
  p.timestamp = GetU32(bytes, 42);
  p.enc1 = GetI32(bytes, 46);
  p.enc2 = GetI32(bytes, 50);
  p.stop_reason = GetU8(bytes, 54);
  p.homed_axis = GetU8(bytes, 55);
  p.ring_index = GetU16(bytes, 56);
  p.analog_raw = GetU16(bytes, 58);
  *out = p;
  return true;
}

std::array<uint8_t, kStatusPacketSize> EncodeStatusPacket(const StatusPacket& p) {
  std::array<uint8_t, kStatusPacketSize> out{};
  uint8_t* b = out.data();
  PutU8(b, 0, p.marker);
  PutU8(b, 1, p.mode);
  PutU8(b, 2, p.sequence);
  PutU8(b, 3, p.flags);
  PutU16(b, 4, p.inputs);
  PutU16(b, 6, p.line_word);
  for (size_t k = 0; k < 6; ++k) PutI32(b, 8 + 4 * k, p.positions[k]);
  PutI32(b, 32, p.thc_z_offset);
  PutU32(b, 36, p.index_period);
  PutU16(b, 40, p.buffer_fill);
  PutU32(b, 42, p.timestamp);
  PutI32(b, 46, p.enc1);
  PutI32(b, 50, p.enc2);
  PutU8(b, 54, p.stop_reason);
  PutU8(b, 55, p.homed_axis);
  PutU16(b, 56, p.ring_index);
  PutU16(b, 58, p.analog_raw);
  return out;
}

}  // namespace kelvro
