#include "sim/sim_wire.h"

#include "device/wire.h"

namespace kelvro::sim {

uint8_t SimIoConfig::FunctionPin(int function) const {
  if (function < 0 || function >= 25 || raw.size() < kSimIoConfigLength) return 0;
  return raw[static_cast<size_t>(function)];
}

uint32_t SimIoConfig::InputActiveLowMask() const {
  return raw.size() < kSimIoConfigLength ? 0 : GetU32(raw.data(), 72);
}

SimJogStart ParseJogStart(const uint8_t* p) {
  return SimJogStart{GetU8(p, 0), GetI8(p, 1), GetI32(p, 2)};
}

SimProbeStart ParseProbeStart(const uint8_t* p) {
  SimProbeStart s;
  for (int k = 0; k < kSimAxes; ++k) {
    s.acceleration[k] = GetI32(p, 4 * k);
    s.velocity[k] = GetI32(p, 24 + 4 * k);
  }
  return s;
}

SimOutputs ParseOutputs(const uint8_t* p) {
  return SimOutputs{GetU32(p, 0), GetU16(p, 4), GetU16(p, 6)};
}

SimSpindle ParseSpindle(const uint8_t* p) {
  return SimSpindle{GetU8(p, 0), GetI32(p, 1), GetI32(p, 5), GetI8(p, 9)};
}

SimMotionConfig ParseMotionConfig(const std::vector<uint8_t>& payload) {
  const uint8_t* p = payload.data();
  SimMotionConfig c;
  for (int k = 0; k < kSimAxes; ++k) {
    const size_t b = 34 * static_cast<size_t>(k);
    SimAxisConfig& a = c.axes[k];
    a.steps_per_unit = GetI32(p, b);
    a.max_velocity = GetI32(p, b + 4);
    a.acceleration = GetI32(p, b + 8);
    a.soft_min = GetI32(p, b + 12);
    a.soft_max = GetI32(p, b + 16);
    a.home_position = GetI32(p, b + 20);
    a.master = GetU8(p, b + 24);
    a.homing_speed = GetI32(p, b + 25);
    a.homing_offset = GetI32(p, b + 29);
    a.flags = GetU8(p, b + 33);
  }
  c.spindle_mode = GetU8(p, 239);
  c.flags = GetU8(p, 253);
  c.index_count = GetU16(p, 257);
  c.mpg_encoder = GetU8(p, 259);
  c.raw = payload;
  return c;
}

SimThreadStart ParseThreadStart(const uint8_t* p) {
  return SimThreadStart{GetI32(p, 0), GetU8(p, 4)};
}

SimMpgConfig ParseMpgConfig(const uint8_t* p) {
  return SimMpgConfig{GetU8(p, 0), GetI32(p, 1), GetI32(p, 5), GetU16(p, 9)};
}

SimThcConfig ParseThcConfig(const uint8_t* p) {
  SimThcConfig t;
  t.speed = GetI32(p, 0);
  t.z_limit1 = GetI32(p, 4);
  t.z_limit2 = GetI32(p, 8);
  t.pierce_delay = GetU16(p, 12);
  t.type = GetU8(p, 14);
  t.target = GetU16(p, 15);
  t.hysteresis = GetU16(p, 17);
  t.full_scale = GetU16(p, 19);
  t.detect_voltage = GetU16(p, 21);
  t.detect_time = GetU16(p, 23);
  t.flags = GetU16(p, 25);
  t.kerf_voltage = GetU16(p, 27);
  t.kerf_time = GetU16(p, 29);
  t.b0 = GetI32(p, 31);
  t.b1 = GetI32(p, 35);
  t.a1 = GetI32(p, 39);
  t.lock_max = GetU16(p, 43);
  t.lock_min = GetU16(p, 45);
  return t;
}

SimSegment ParseSegment(const uint8_t* p) {
  SimSegment s;
  for (int k = 0; k < kSimAxes; ++k) {
    s.phase[k] = GetU32(p, 8 * static_cast<size_t>(k));
    s.distance[k] = GetI32(p, 4 + 8 * static_cast<size_t>(k));
  }
  s.ring_tag = GetU16(p, 48);
  s.flags = GetU8(p, 50);
  s.laser = GetU8(p, 51);
  return s;
}

SimFlashBlock ParseFlashBlock(const std::vector<uint8_t>& payload) {
  return SimFlashBlock{GetU32(payload.data(), 0), GetU32(payload.data(), 4),
                       payload.data() + kSimFlashHeaderLength};
}

}  // namespace kelvro::sim
