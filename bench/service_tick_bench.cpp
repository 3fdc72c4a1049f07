// The 25 ms service tick in steady state: a full decode of a status report (inputs,
// positions, velocities, THC signals, analog and encoder mappings) and 75 segment records
// streamed from the host's ring with laser power by speed and gray level on. Reports the
// time per tick and the heap allocations per tick (global operator new is counted here).
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

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

namespace {
std::atomic<uint64_t> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace kelvro {
namespace {

// Every status read completes at once with the prepared report; writes vanish.
class BenchPort : public UsbPort {
 public:
  UsbOpenResult Open() override { return UsbOpenResult::kOk; }
  void Close() override {}
  bool WritePipe(uint8_t, const uint8_t*, uint32_t length, uint32_t* written) override {
    *written = length;
    bytes_written += length;
    return true;
  }
  bool StartRead(uint8_t, uint8_t* buffer, uint32_t length) override {
    for (uint32_t i = 0; i < length && i < report.size(); ++i) buffer[i] = report[i];
    return true;
  }
  bool ReadCompleted() override { return true; }
  bool WaitRead(uint32_t) override { return true; }
  bool ReadResult(uint32_t* transferred) override {
    *transferred = static_cast<uint32_t>(report.size());
    return true;
  }
  bool ControlIn(uint8_t, uint8_t* buffer, uint16_t length) override {
    for (uint16_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>("01.22"[i % 5]);
    return true;
  }
  std::array<uint8_t, kStatusPacketSize> report{};
  uint64_t bytes_written = 0;
};

std::array<double, 2048> g_dros{};
double GetDro(int16_t n) {
  return n >= 0 && n < 2048 ? g_dros[n] : 0.0;
}
void SetDro(int16_t n, double v) {
  if (n >= 0 && n < 2048) g_dros[n] = v;
}
int32_t GetLed(int16_t) {
  return 0;
}
void SetLed(int16_t, int32_t) {}

void BM_ServiceTick(benchmark::State& state) {
  auto machine = std::make_unique<HostMachineState>();
  auto params = std::make_unique<HostParams>();
  auto planner = std::make_unique<HostPlanner>();
  auto app = std::make_unique<HostApp>();
  Host host;
  host.machine = machine.get();
  host.params = params.get();
  host.planner = planner.get();
  host.app = app.get();
  host.callbacks.get_dro = &GetDro;
  host.callbacks.set_dro = &SetDro;
  host.callbacks.get_led = &GetLed;
  host.callbacks.set_led = &SetLed;
  g_dros[1501] = 150.0;

  sim::ScriptedPlatform platform;
  BenchPort port;
  DeviceLink link(port, platform);
  PluginSettings settings;
  settings.laser_comp = 1;
  settings.laser_gl = 1;
  settings.l_max_feed = 3000.0;
  settings.thc_type = 1;
  settings.laser_curve.count = 6;
  settings.laser_curve.x = {0, 10, 30, 60, 80, 100};
  settings.laser_curve.y = {0, 25, 45, 70, 85, 100};
  PreparedLaserCurve curve = BuildLaserCurve(settings.laser_curve);
  ZCorrection zcorr;

  // Six enabled axes on the controller's port, every input record decoded from a pin.
  for (int k = 0; k < kAxisCount; ++k) {
    machine->motors[k].enabled = 1;
    machine->motors[k].step_port = 1;
    machine->motors[k].dir_port = 1;
    planner->axes[k].steps_per_unit = 1000.0;
    planner->axes[k].max_velocity = 50.0;
    planner->axes[k].acceleration = 500.0;
    planner->axes[k].max_step_rate = 250000.0;
    planner->axes[k].soft_min = -1000.0;
    planner->axes[k].soft_max = 1000.0;
    planner->axes[k].soft_limit_on = 1;
    planner->axes[k].slave_master = -1;
  }
  machine->pulse_timing = 1000;
  machine->soft_limits_on = 1;
  for (int i = 0; i < kInputSignalCount; ++i) {
    machine->inputs[i].enabled = 1;
    machine->inputs[i].port = 1;
    machine->inputs[i].pin = static_cast<uint8_t>(1 + i % 16);
  }
  settings.mappings[0].fun = 3;  // analog -> user variable
  settings.mappings[1].fun = 4;  // encoder 1 -> user DRO
  settings.mappings[1].var_id = 1000;
  settings.map_enc1 = 0;
  machine->encoders[0].enabled = 1;
  machine->encoders[0].a_port = 1;
  machine->encoders[0].b_port = 1;
  planner->encoder_counts_per_unit[0] = 4.0;
  ControllerConfig config = BuildControllerConfig(*machine, *planner, settings);

  Motion motion(MotionContext{host, platform, settings, link, zcorr, config, curve});
  motion.state().mappings = settings.mappings;
  motion.state().encoder_host_map = config.encoder_host_map;
  link.Open();
  link.set_connected(true);
  motion.AfterReset();

  StatusPacket report;
  report.mode = static_cast<uint8_t>(Mode::SEGM);
  report.flags = kStatusFlagArcOk | kStatusFlagLed1500;
  report.inputs = 0x5A5A;
  report.positions = {100, 200, 300, 400, 500, 600};
  report.index_period = 1000000;
  report.buffer_fill = 0;
  report.ring_index = 0;
  report.analog_raw = 40000;
  uint32_t timestamp = 0;
  int32_t encoder = 0;
  double x = 0.0;

  auto tick = [&] {
    // The host keeps 75 entries ready.
    for (int i = 0; i < 75; ++i) {
      const int w = machine->ring_write & (kRingSize - 1);
      HostRingEntry& e = planner->ring[w];
      x = x > 900000.0 ? 0.0 : x + 2.37;
      e.target[0] = x;
      e.target[1] = x * 0.5;
      e.target[2] = -x * 0.25;
      e.target[3] = static_cast<double>(i * 3);  // gray value
      e.target[4] = 0.0;
      e.target[5] = x * 0.1;
      e.line_id = 1 + i;
      e.sync_output = 0;
      machine->ring_write = (w + 1) & (kRingSize - 1);
    }
    timestamp += 1250000;  // 25 ms of controller clock
    encoder += 3;
    report.timestamp = timestamp;
    report.enc1 = encoder;
    report.ring_index = static_cast<uint16_t>(machine->ring_read & (kRingSize - 1));
    port.report = EncodeStatusPacket(report);
    // Start the read so that this tick collects a report (a real link alternates).
    if (!link.read_pending()) {
      uint8_t scratch[kStatusPacketSize];
      link.PollStatus(scratch, sizeof(scratch));
    }
    motion.ServiceTick();
  };

  for (int i = 0; i < 100; ++i) tick();  // warm up: first report, state commands sent
  const uint64_t bytes_before = port.bytes_written;
  const uint64_t allocations_before = g_allocations.load();
  for (auto _ : state) tick();
  const uint64_t allocations = g_allocations.load() - allocations_before;
  const double ticks = static_cast<double>(state.iterations());
  state.counters["allocs_per_tick"] = static_cast<double>(allocations) / ticks;
  state.counters["segments_per_tick"] =
      static_cast<double>(port.bytes_written - bytes_before) / kSegmentRecordSize / ticks;
  if (machine->estop || !link.connected()) state.SkipWithError("the link went down");
}
BENCHMARK(BM_ServiceTick);

}  // namespace
}  // namespace kelvro

BENCHMARK_MAIN();
