// Test bench for the service tick: real host blocks, a scripted platform, a DeviceLink over
// a scripted USB port, and one Motion. The test decides what each status read returns and
// reads back every command and segment record the tick wrote, decoded byte by byte here.
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
#include "device/device_link.h"
#include "device/usb_port.h"
#include "motion/laser_curve.h"
#include "motion/motion.h"
#include "plugin/controller_config.h"
#include "plugin/host.h"
#include "settings/plugin_settings.h"
#include "sim/scripted_platform.h"
#include "zcorr/z_correction.h"

namespace kelvro::test {

// A USB port whose status reads complete with whatever the test queued.
class ScriptPort : public UsbPort {
 public:
  struct Write {
    uint8_t pipe;
    std::vector<uint8_t> bytes;
  };
  std::vector<Write> writes;
  int fail_writes_on_pipe = -1;  // the next write on this pipe fails
  bool is_open = false;

  UsbOpenResult Open() override {
    is_open = true;
    return UsbOpenResult::kOk;
  }
  void Close() override {
    is_open = false;
    in_flight_ = false;
  }
  bool WritePipe(uint8_t pipe, const uint8_t* data, uint32_t length, uint32_t* written) override {
    *written = 0;
    if (!is_open) return false;
    if (fail_writes_on_pipe == pipe) {
      fail_writes_on_pipe = -1;
      return false;
    }
    writes.push_back({pipe, std::vector<uint8_t>(data, data + length)});
    *written = length;
    return true;
  }
  bool StartRead(uint8_t, uint8_t* buffer, uint32_t length) override {
    if (!is_open) return false;
    buffer_ = buffer;
    length_ = length;
    in_flight_ = true;
    return true;
  }
  bool ReadCompleted() override { return in_flight_ && answer_.has_value(); }
  bool WaitRead(uint32_t) override { return ReadCompleted(); }
  bool ReadResult(uint32_t* transferred) override {
    *transferred = 0;
    if (!ReadCompleted()) return false;
    const size_t n = std::min<size_t>(answer_->size(), length_);
    std::memcpy(buffer_, answer_->data(), n);
    *transferred = static_cast<uint32_t>(answer_->size());
    answer_.reset();
    in_flight_ = false;
    return true;
  }
  bool ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) override {
    if (!is_open) return false;
    if (request == kRequestFirmwareVersion && length == 5) {
      std::memcpy(buffer, "01.22", 5);
      return true;
    }
    return false;
  }

  // The read in flight completes with these bytes.
  void Answer(std::vector<uint8_t> bytes) { answer_ = std::move(bytes); }
  bool in_flight() const { return in_flight_; }

 private:
  bool in_flight_ = false;
  std::optional<std::vector<uint8_t>> answer_;
  uint8_t* buffer_ = nullptr;
  uint32_t length_ = 0;
};

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
  void TickWithoutPacket() { motion->ServiceTick(); }

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

  std::unique_ptr<HostMachineState> machine;
  std::unique_ptr<HostParams> params;
  std::unique_ptr<HostPlanner> planner;
  std::unique_ptr<HostApp> app;
  Host host;
  sim::ScriptedPlatform platform;
  ScriptPort port;
  PluginSettings settings;
  std::unique_ptr<DeviceLink> link;
  ZCorrection zcorr;
  ControllerConfig config;
  PreparedLaserCurve curve;
  std::unique_ptr<Motion> motion;

  // What the host callbacks saw.
  std::map<int, double> dros;
  std::map<int, int> leds;
  std::vector<int> buttons;
  std::vector<std::pair<int, double>> dro_writes;

  static TickTest* current;

 private:
  size_t commands_taken_ = 0;
  size_t segments_taken_ = 0;
};

}  // namespace kelvro::test
