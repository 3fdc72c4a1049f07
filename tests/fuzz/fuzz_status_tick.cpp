// Feeds arbitrary status reports (and arbitrary read lengths) to the plugin's service tick
// through a USB port that delivers the fuzzer's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device/usb_port.h"
#include "plugin/plugin.h"
#include "sim/standin_host.h"

namespace {

class ReplayPort : public kelvro::UsbPort {
 public:
  ReplayPort(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  kelvro::UsbOpenResult Open() override { return kelvro::UsbOpenResult::kOk; }
  void Close() override {}
  bool WritePipe(uint8_t, const uint8_t*, uint32_t length, uint32_t* written) override {
    *written = length;
    return true;
  }
  bool StartRead(uint8_t, uint8_t* buffer, uint32_t length) override {
    buffer_ = buffer;
    length_ = length;
    return true;
  }
  bool ReadCompleted() override { return true; }
  bool WaitRead(uint32_t) override { return true; }
  bool ReadResult(uint32_t* transferred) override {
    // One byte of the input chooses the transfer length, the next bytes are the report.
    if (offset_ >= size_) {
      *transferred = 0;
      return false;
    }
    const uint32_t wanted = std::min<uint32_t>(length_, data_[offset_++] % 64 + 1);
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(wanted, size_ - offset_));
    std::memcpy(buffer_, data_ + offset_, n);
    offset_ += n;
    *transferred = n;
    return true;
  }
  bool ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) override {
    if (request == kelvro::kRequestFirmwareVersion && length >= 5) {
      std::memcpy(buffer, "01.22", 5);
      return true;
    }
    std::memset(buffer, 0x5A, length);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
  uint8_t* buffer_ = nullptr;
  uint32_t length_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelvro;
  sim::ScriptedPlatform platform;
  ReplayPort port(data, size);
  auto machine = std::make_unique<HostMachineState>();
  auto params = std::make_unique<HostParams>();
  auto planner = std::make_unique<HostPlanner>();
  HostApp app{};
  *machine = {};
  *planner = {};
  for (int k = 0; k < 3; ++k) {
    machine->motors[k].enabled = 1;
    planner->axes[k].steps_per_unit = 1000.0;
    planner->axes[k].max_velocity = 50.0;
    planner->axes[k].acceleration = 500.0;
  }
  // Strange host values: a ring full of huge and fractional targets.
  for (int i = 0; i < 64; ++i) {
    for (int k = 0; k < kAxisCount; ++k) planner->ring[i].target[k] = (i * 7919.0 - 1e11) / (k + 1);
    planner->ring[i].line_id = i;
  }
  machine->ring_write = 64;
  Plugin plugin(platform, port);
  plugin.InitControl(machine.get(), params.get(), planner.get(), &app);
  plugin.SetProName("");
  plugin.PostInitControl();
  plugin.Reset();
  plugin.Update();
  for (int tick = 0; tick < 64; ++tick) {
    platform.Advance(25);
    plugin.OnTimer();
    if (tick % 2 == 0) plugin.Update();
  }
  plugin.StopPlug();
  return 0;
}
