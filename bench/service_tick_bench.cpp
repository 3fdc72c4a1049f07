// The 25 ms service tick in steady state, without and with Z correction: a full decode of a
// status report (inputs, positions, velocities, THC signals, analog and encoder mappings)
// and 75 segment records streamed from the host's ring with laser power by speed and gray
// level on. Reports the time per tick and the heap allocations per tick.
#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <string>

#include "bench/allocation_counter.h"
#include "device/commands.h"
#include "device/controller_config.h"
#include "device/device_link.h"
#include "host/host.h"
#include "host/trajectory_ring.h"
#include "motion/laser_curve.h"
#include "settings/plugin_settings.h"
#include "sim/fake_host.h"
#include "sim/scripted_platform.h"
#include "sim/scripted_usb_port.h"
#include "zcorr/corrected_tick.h"
#include "zcorr/z_correction.h"

namespace kelvro {
namespace {

void BM_ServiceTick(benchmark::State& state) {
  sim::FakeHost fake;
  fake.record_dro_writes = false;
  fake.dros[kDroTargetVolts] = 150.0;
  HostMachineState* machine = fake.machine.get();
  HostPlanner* planner = fake.planner.get();
  sim::ScriptedPlatform platform;
  Host host = fake.MakeHost(&platform);

  // Every status read completes at once with the prepared report; writes are only counted.
  sim::ScriptedUsbPort port;
  port.record_writes = false;
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

  CorrectedTick motion(
      MotionContext{host, platform, platform, platform, settings, link, config, curve});
  ServiceTick& tick = motion.tick;
  tick.mapper().Configure(settings.mappings, config.encoder_host_map, false, config.mpg_scale);
  link.Open();
  link.set_connected(true);
  tick.AfterReset();
  if (state.range(0) != 0) {
    // Z correction on, over the example board (the path below crosses it and runs off its
    // edges): every segment asks the map and steps the follower.
    ZCorrection& zcorr = motion.zcorr;
    settings.z_file_name = std::string(KELVRO_SOURCE_DIR) + "/examples/board_20x15.zmap";
    if (!zcorr.EnsureLoaded()) {
      state.SkipWithError("the board map did not load");
      return;
    }
    zcorr.follower().v_max = 50.0;
    zcorr.follower().a_max = 0.5;
    zcorr.state().active = true;
  }

  StatusPacket report;
  report.mode = static_cast<uint8_t>(Mode::SEGM);
  report.flags = kStatusFlagArcOk | kStatusFlagLed1500;
  report.inputs = 0x5A5A;
  report.positions = {100, 200, 300, 400, 500, 600};
  report.index_period = 1000000;
  report.buffer_fill = 0;
  report.ring_index = 0;
  report.analog_raw = 40000;
  port.standing_report.emplace(kStatusPacketSize);
  uint32_t timestamp = 0;
  int32_t encoder = 0;
  double x = 0.0;

  auto step = [&] {
    // The host keeps 75 entries ready.
    for (int i = 0; i < 75; ++i) {
      x = x > 900000.0 ? 0.0 : x + 2.37;
      // X, Y, Z, the gray value on A, B, C.
      PushRingEntry(*machine, *planner,
                    {x, x * 0.5, -x * 0.25, static_cast<double>(i * 3), 0.0, x * 0.1}, 1 + i);
    }
    timestamp += 1250000;  // 25 ms of controller clock
    encoder += 3;
    report.timestamp = timestamp;
    report.enc1 = encoder;
    report.ring_index = static_cast<uint16_t>(RingIndex(machine->ring_read));
    const auto bytes = EncodeStatusPacket(report);
    port.standing_report->assign(bytes.begin(), bytes.end());
    // Start the read so that this tick collects a report (a real link alternates).
    if (!link.read_pending()) {
      uint8_t scratch[kStatusPacketSize];
      link.PollStatus(scratch, sizeof(scratch));
    }
    tick.Run();
  };

  for (int i = 0; i < 100; ++i) step();  // warm up: first report, state commands sent
  const uint64_t bytes_before = port.bytes_written;
  const uint64_t allocations_before = bench::HeapAllocations();
  for (auto _ : state) step();
  const uint64_t allocations = bench::HeapAllocations() - allocations_before;
  const double ticks = static_cast<double>(state.iterations());
  state.counters["allocs_per_tick"] = static_cast<double>(allocations) / ticks;
  state.counters["segments_per_tick"] =
      static_cast<double>(port.bytes_written - bytes_before) / kSegmentRecordSize / ticks;
  if (machine->estop || !link.connected()) state.SkipWithError("the link went down");
}
// Argument: 0 without Z correction, 1 with it.
BENCHMARK(BM_ServiceTick)->Arg(0)->Arg(1);

}  // namespace
}  // namespace kelvro

BENCHMARK_MAIN();
