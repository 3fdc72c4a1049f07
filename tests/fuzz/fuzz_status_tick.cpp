// Feeds arbitrary status reports (and arbitrary read lengths) to the plugin's service tick
// through a USB port that delivers the fuzzer's bytes, with the host's ring full of huge and
// fractional targets.
//
// One plugin serves all inputs: building a plugin and connecting it costs far more than the
// ticks themselves. Each input runs 16 ticks on the state the previous inputs left, which is
// what a real link sees; the plugin reconnects (Reset) whenever the input has closed the link.
// With KELVRO_FUZZ_CHECK_FRESH set, every input gets a new plugin instead, to replay a finding
// without the history of the inputs before it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/usb_port.h"
#include "plugin/plugin.h"
#include "sim/scripted_platform.h"

namespace {

class ReplayPort : public kelvro::UsbPort {
 public:
  void Feed(const uint8_t* data, size_t size) {
    data_ = data;
    size_ = size;
    offset_ = 0;
  }
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
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t offset_ = 0;
  uint8_t* buffer_ = nullptr;
  uint32_t length_ = 0;
};

// A plugin in a host whose planner keeps its ring filled with strange targets.
struct Rig {
  kelvro::sim::ScriptedPlatform platform;
  ReplayPort port;
  std::unique_ptr<kelvro::HostMachineState> machine = std::make_unique<kelvro::HostMachineState>();
  std::unique_ptr<kelvro::HostParams> params = std::make_unique<kelvro::HostParams>();
  std::unique_ptr<kelvro::HostPlanner> planner = std::make_unique<kelvro::HostPlanner>();
  kelvro::HostApp app{};
  kelvro::Plugin plugin{platform, port};
  int next_line = 0;

  Rig() {
    using namespace kelvro;
    *machine = {};
    *params = {};
    *planner = {};
    for (int k = 0; k < 3; ++k) {
      machine->motors[k].enabled = 1;
      planner->axes[k].steps_per_unit = 1000.0;
      planner->axes[k].max_velocity = 50.0;
      planner->axes[k].acceleration = 500.0;
    }
    plugin.InitControl(machine.get(), params.get(), planner.get(), &app);
    plugin.SetProName("");
    plugin.PostInitControl();
    plugin.Reset();
    plugin.Update();
  }

  // Appends ring entries while the plugin has fewer than 64 to take.
  void FillRing() {
    using namespace kelvro;
    const int queued = (machine->ring_write - machine->ring_read + kRingSize) % kRingSize;
    for (int n = queued; n < 64; ++n) {
      const int i = machine->ring_write;
      const double base = next_line * 7919.0 - 1e11;
      for (int k = 0; k < kAxisCount; ++k) planner->ring[i].target[k] = base / (k + 1);
      planner->ring[i].line_id = next_line++;
      machine->ring_write = (i + 1) % kRingSize;
    }
  }

  void Run(const uint8_t* data, size_t size) {
    port.Feed(data, size);
    if (!plugin.link().connected()) plugin.Reset();
    FillRing();
    for (int tick = 0; tick < 16; ++tick) {
      platform.Advance(25);
      plugin.OnTimer();
      if (tick % 2 == 0) plugin.Update();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool fresh = std::getenv("KELVRO_FUZZ_CHECK_FRESH") != nullptr;
  static Rig* kept = nullptr;
  if (fresh) {
    Rig rig;
    rig.Run(data, size);
    rig.plugin.StopPlug();
    return 0;
  }
  if (kept == nullptr) kept = new Rig;  // lives for the whole run: no teardown at exit
  kept->Run(data, size);
  return 0;
}
