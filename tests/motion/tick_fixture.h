// Test bench for the service tick: a fake host, a scripted platform, a DeviceLink over a
// scripted USB port, one ServiceTick and its Z correction. The test decides what each status
// read returns and reads back every command and segment record the tick wrote, decoded byte
// by byte here.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "device/commands.h"
#include "device/controller_config.h"
#include "device/device_link.h"
#include "device/usb_port.h"
#include "host/host.h"
#include "motion/laser_curve.h"
#include "motion/service_tick.h"
#include "settings/plugin_settings.h"
#include "sim/fake_host.h"
#include "sim/scripted_platform.h"
#include "sim/scripted_usb_port.h"
#include "zcorr/corrected_tick.h"

namespace kelvro::test {

using ScriptPort = sim::ScriptedUsbPort;

struct SentCommand {
  uint8_t code;
  std::vector<uint8_t> payload;
};

// One segment record as read from the wire here.
struct WireSegment {
  std::array<uint32_t, 6> phase{};
  std::array<int32_t, 6> distance{};
  uint16_t tag = 0;
  uint8_t flags = 0;
  uint8_t laser = 0;
};

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t Le16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}

class TickTest : public ::testing::Test {
 public:
  TickTest();
  ~TickTest() override;

  // Opens the link, marks it connected and runs the end of a Reset.
  void Connect();
  // A status packet in a resting state (IDLE, NONE, buffer fill 0).
  static StatusPacket Idle();
  // The next tick collects `packet` (a read is started first if none is in flight).
  void TickWithPacket(const StatusPacket& packet);
  void TickWithBytes(const std::vector<uint8_t>& bytes);
  // A tick whose status read yields nothing.
  void TickWithoutPacket() { tick->Run(); }

  // Writes since the last call (or since the start).
  std::vector<SentCommand> TakeCommands();
  std::vector<WireSegment> TakeSegments();
  std::vector<size_t> TakeSegmentWriteSizes();  // records per segment write
  void ClearWrites() { port.writes.clear(); }
  static int Count(const std::vector<SentCommand>& commands, CommandCode code);

  // Axis configuration in the motion record: steps per unit, soft limits in steps, master
  // index + 1, soft-limits-apply flag.
  void ConfigureAxis(int axis, int32_t steps, int32_t soft_min, int32_t soft_max,
                     uint8_t master_plus_one = 0, bool soft_limits = false);
  // Appends a ring entry; returns its index.
  int PushEntry(const std::array<double, 6>& target, int32_t line_id = 1, int32_t sync = 0);

  sim::FakeHost fake;
  std::unique_ptr<HostMachineState>& machine = fake.machine;
  std::unique_ptr<HostParams>& params = fake.params;
  std::unique_ptr<HostPlanner>& planner = fake.planner;
  std::unique_ptr<HostApp>& app = fake.app;
  sim::ScriptedPlatform platform;
  Host host;
  ScriptPort port;
  PluginSettings settings;
  std::unique_ptr<DeviceLink> link;
  ControllerConfig config;
  PreparedLaserCurve curve;
  std::unique_ptr<CorrectedTick> motion;
  ServiceTick* tick = nullptr;
  ZCorrection* zcorr = nullptr;

  // What the host callbacks saw.
  std::array<double, sim::FakeHost::kFieldCount>& dros = fake.dros;
  std::array<int32_t, sim::FakeHost::kFieldCount>& leds = fake.leds;
  std::vector<int>& buttons = fake.buttons;
  std::vector<std::pair<int, double>>& dro_writes = fake.dro_writes;

 private:
  size_t commands_taken_ = 0;
  size_t segments_taken_ = 0;
};

}  // namespace kelvro::test
