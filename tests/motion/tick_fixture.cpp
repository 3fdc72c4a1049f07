#include "tests/motion/tick_fixture.h"

#include "host/trajectory_ring.h"

namespace kelvro::test {

TickTest::TickTest() : host(fake.MakeHost(&platform)) {
  link = std::make_unique<DeviceLink>(port, platform);
  curve = BuildLaserCurve(settings.laser_curve);
  const MotionContext context{host, platform, platform, platform, settings, *link, config, curve};
  motion = std::make_unique<CorrectedTick>(context);
  tick = &motion->tick;
  zcorr = &motion->zcorr;
  for (int k = 0; k < kAxisCount; ++k) ConfigureAxis(k, 1000, -1000000, 1000000);
  // Zeroed host blocks, as these tests have always had them.
  for (HostAxisTuning& axis : planner->axes) axis.slave_master = 0;
}

TickTest::~TickTest() {
  motion.reset();
  link.reset();
}

void TickTest::Connect() {
  ASSERT_TRUE(link->Open());
  link->set_connected(true);
  tick->AfterReset();
}

StatusPacket TickTest::Idle() {
  StatusPacket p;
  p.mode = static_cast<uint8_t>(Mode::IDLE);
  p.sequence = static_cast<uint8_t>(Sequence::NONE);
  p.ring_index = kRingIndexNone;
  return p;
}

void TickTest::TickWithPacket(const StatusPacket& packet) {
  const auto bytes = EncodeStatusPacket(packet);
  TickWithBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void TickTest::TickWithBytes(const std::vector<uint8_t>& bytes) {
  if (!link->read_pending()) {
    uint8_t scratch[kStatusPacketSize];
    link->PollStatus(scratch, sizeof(scratch));  // starts the read
  }
  port.CompleteRead(bytes);
  tick->Run();
}

std::vector<SentCommand> TickTest::TakeCommands() {
  std::vector<SentCommand> out;
  for (; commands_taken_ < port.writes.size(); ++commands_taken_) {
    const auto& w = port.writes[commands_taken_];
    if (w.pipe != kPipeCommand) continue;
    EXPECT_GE(w.bytes.size(), 4u);
    EXPECT_EQ(uint8_t(~w.bytes[0]), w.bytes[1]);
    EXPECT_EQ(Le16(&w.bytes[2]), w.bytes.size() - 4);
    out.push_back({w.bytes[0], std::vector<uint8_t>(w.bytes.begin() + 4, w.bytes.end())});
  }
  return out;
}

std::vector<WireSegment> TickTest::TakeSegments() {
  std::vector<WireSegment> out;
  for (; segments_taken_ < port.writes.size(); ++segments_taken_) {
    const auto& w = port.writes[segments_taken_];
    if (w.pipe != kPipeSegments) continue;
    EXPECT_EQ(w.bytes.size() % 52, 0u);
    for (size_t at = 0; at + 52 <= w.bytes.size(); at += 52) {
      const uint8_t* r = &w.bytes[at];
      WireSegment s;
      for (int k = 0; k < 6; ++k) {
        s.phase[k] = Le32(r + 8 * k);
        s.distance[k] = static_cast<int32_t>(Le32(r + 8 * k + 4));
      }
      s.tag = Le16(r + 48);
      s.flags = r[50];
      s.laser = r[51];
      out.push_back(s);
    }
  }
  return out;
}

std::vector<size_t> TickTest::TakeSegmentWriteSizes() {
  std::vector<size_t> sizes;
  for (const auto& w : port.writes) {
    if (w.pipe == kPipeSegments) sizes.push_back(w.bytes.size() / 52);
  }
  return sizes;
}

int TickTest::Count(const std::vector<SentCommand>& commands, CommandCode code) {
  int n = 0;
  for (const auto& c : commands) n += c.code == static_cast<uint8_t>(code);
  return n;
}

void TickTest::ConfigureAxis(int axis, int32_t steps, int32_t soft_min, int32_t soft_max,
                             uint8_t master_plus_one, bool soft_limits) {
  uint8_t* block = config.motion.data() + 34 * axis;
  auto put32 = [](uint8_t* p, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    p[0] = uint8_t(u);
    p[1] = uint8_t(u >> 8);
    p[2] = uint8_t(u >> 16);
    p[3] = uint8_t(u >> 24);
  };
  put32(block + 0, steps);
  put32(block + 12, soft_min);
  put32(block + 16, soft_max);
  block[24] = master_plus_one;
  block[33] = soft_limits ? 0x04 : 0x00;
  planner->axes[axis].steps_per_unit = steps;
}

int TickTest::PushEntry(const std::array<double, 6>& target, int32_t line_id, int32_t sync) {
  const int i = RingIndex(machine->ring_write);
  EXPECT_TRUE(PushRingEntry(*machine, *planner, target, line_id, sync));
  return i;
}

}  // namespace kelvro::test
