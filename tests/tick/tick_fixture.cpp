#include "tests/tick/tick_fixture.h"

namespace kelvro::test {

TickTest* TickTest::current = nullptr;

namespace {

double GetDroCb(int16_t n) {
  auto it = TickTest::current->dros.find(n);
  return it == TickTest::current->dros.end() ? 0.0 : it->second;
}
void SetDroCb(int16_t n, double v) {
  TickTest::current->dros[n] = v;
  TickTest::current->dro_writes.emplace_back(n, v);
}
int32_t GetLedCb(int16_t n) {
  auto it = TickTest::current->leds.find(n);
  return it == TickTest::current->leds.end() ? 0 : it->second;
}
void SetLedCb(int16_t n, int32_t on) {
  TickTest::current->leds[n] = on;
}
void DoButtonCb(int16_t n) {
  TickTest::current->buttons.push_back(n);
}

}  // namespace

TickTest::TickTest()
    : machine(std::make_unique<HostMachineState>()),
      params(std::make_unique<HostParams>()),
      planner(std::make_unique<HostPlanner>()),
      app(std::make_unique<HostApp>()) {
  current = this;
  host.machine = machine.get();
  host.params = params.get();
  host.planner = planner.get();
  host.app = app.get();
  host.callbacks.get_dro = &GetDroCb;
  host.callbacks.set_dro = &SetDroCb;
  host.callbacks.get_led = &GetLedCb;
  host.callbacks.set_led = &SetLedCb;
  host.callbacks.do_button = &DoButtonCb;
  link = std::make_unique<DeviceLink>(port, platform);
  curve = BuildLaserCurve(settings.laser_curve);
  motion = std::make_unique<Motion>(
      MotionContext{host, platform, settings, *link, zcorr, config, curve});
  for (int k = 0; k < kAxisCount; ++k) ConfigureAxis(k, 1000, -1000000, 1000000);
  dros[1501] = 100.0;
}

TickTest::~TickTest() {
  motion.reset();
  link.reset();
  current = nullptr;
}

void TickTest::Connect() {
  ASSERT_TRUE(link->Open());
  link->set_connected(true);
  motion->AfterReset();
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
  port.Answer(bytes);
  motion->ServiceTick();
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
  const int i = machine->ring_write & 4095;
  HostRingEntry& e = planner->ring[i];
  for (int k = 0; k < 6; ++k) e.target[k] = target[k];
  e.line_id = line_id;
  e.sync_output = sync;
  machine->ring_write = (i + 1) & 4095;
  return i;
}

}  // namespace kelvro::test
