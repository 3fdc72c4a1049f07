#include "tests/sim/sim_test_util.h"

namespace kelvro::sim::test {

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

int32_t Le32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) |
                              (static_cast<uint32_t>(p[3]) << 24));
}

std::vector<uint8_t> Frame(uint8_t code, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out{code, static_cast<uint8_t>(0xFF - code)};
  PutLe16(out, static_cast<uint16_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::vector<uint8_t> SegmentRecord(const std::array<AxisPair, 6>& axes, uint16_t tag, uint8_t flags,
                                   uint8_t laser) {
  std::vector<uint8_t> out;
  for (const AxisPair& a : axes) {
    PutLe32(out, a.phase);
    PutLe32(out, static_cast<uint32_t>(a.distance));
  }
  PutLe16(out, tag);
  out.push_back(flags);
  out.push_back(laser);
  return out;
}

std::vector<uint8_t> StepRecords(size_t count, int axis, int32_t distance_per_segment,
                                 uint16_t first_tag) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < count; ++i) {
    std::array<AxisPair, 6> axes{};
    axes[axis].distance = distance_per_segment;
    const auto rec = SegmentRecord(axes, static_cast<uint16_t>(first_tag + i));
    out.insert(out.end(), rec.begin(), rec.end());
  }
  return out;
}

std::vector<uint8_t> MotionConfig(const std::array<AxisSetup, 6>& axes, uint8_t mpg_encoder) {
  std::vector<uint8_t> out(262, 0);
  auto put32 = [&](size_t off, int32_t v) {
    for (int i = 0; i < 4; ++i) {
      out[off + i] = static_cast<uint8_t>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    }
  };
  for (size_t k = 0; k < 6; ++k) {
    put32(34 * k + 0, 1000);  // steps per unit
    put32(34 * k + 12, axes[k].soft_min);
    put32(34 * k + 16, axes[k].soft_max);
    put32(34 * k + 20, axes[k].home);
    out[34 * k + 33] = axes[k].flags;
  }
  out[259] = mpg_encoder;
  return out;
}

Rig::Rig(SimControllerOptions options) : controller(std::move(options)) {
  // The simulator's own tests stream short runs: start executing at 50 queued segments.
  controller.options().start_threshold = 50;
  port.set_read_latency_ms(0);
  port.Open();
}

void Rig::Advance(uint64_t ms) {
  platform.Advance(ms);
  controller.AdvanceTo(platform.Now());
}

bool Rig::Command(uint8_t code, const std::vector<uint8_t>& payload) {
  return Write(0x01, Frame(code, payload));
}

bool Rig::Write(uint8_t pipe, const std::vector<uint8_t>& bytes) {
  uint32_t written = 0;
  const bool ok = port.WritePipe(pipe, bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
  return ok && written == bytes.size();
}

std::vector<uint8_t> Rig::Read(uint32_t length) {
  std::vector<uint8_t> buffer(length, 0xEE);
  if (!port.StartRead(0x81, buffer.data(), length)) return {};
  if (!port.WaitRead(1000)) return {};
  uint32_t transferred = 0;
  if (!port.ReadResult(&transferred)) return {};
  buffer.resize(transferred);
  return buffer;
}

}  // namespace kelvro::sim::test
