// The tick and the streaming against the simulated controller on virtual time: host
// blocks, a scripted platform, the simulated USB port and controller, one DeviceLink and
// one ServiceTick with its Z correction, configured the way Reset configures the controller. The
// host's part (the ring filler and the 25 ms timer) is played by the rig.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "device/controller_config.h"
#include "device/device_link.h"
#include "host/host.h"
#include "motion/laser_curve.h"
#include "settings/plugin_settings.h"
#include "sim/fake_host.h"
#include "sim/scripted_platform.h"
#include "sim/sim_controller.h"
#include "sim/sim_usb_port.h"
#include "zcorr/corrected_tick.h"

namespace kelvro::test {

struct RingSample {
  std::array<double, kAxisCount> target{};  // steps
  int32_t line_id = 0;
};

class SimRig {
 public:
  SimRig();
  ~SimRig();

  // Six enabled axes on the controller's port with the given steps per unit.
  void DescribeMachine(const std::array<double, kAxisCount>& steps_per_unit);
  // What Reset does towards the controller: configuration built and sent, link connected.
  void Connect();

  // Samples the host writes into its ring, ahead of the plugin by at most `ahead` entries;
  // the flush flag is set once all are written.
  void LoadProgram(std::vector<RingSample> samples, int ahead = 1500);
  bool ProgramStreamed() const;

  // Runs `ms` milliseconds: the host's ring filler and the 25 ms tick; `each_ms` is called
  // after every millisecond, `each_tick` after every tick.
  void Run(uint64_t ms);
  bool RunUntil(const std::function<bool()>& done, uint64_t max_ms);
  std::function<void()> each_ms;
  std::function<void()> each_tick;

  sim::FakeHost fake;
  std::unique_ptr<HostMachineState>& machine = fake.machine;
  std::unique_ptr<HostParams>& params = fake.params;
  std::unique_ptr<HostPlanner>& planner = fake.planner;
  std::unique_ptr<HostApp>& app = fake.app;
  sim::ScriptedPlatform platform;
  Host host;
  sim::SimController controller;
  sim::SimUsbPort port;
  PluginSettings settings;
  DeviceLink link;
  ControllerConfig config;
  PreparedLaserCurve curve;
  std::unique_ptr<CorrectedTick> motion;
  ServiceTick* tick = nullptr;

  std::array<double, sim::FakeHost::kFieldCount>& dros = fake.dros;
  std::array<int32_t, sim::FakeHost::kFieldCount>& leds = fake.leds;
  int ticks = 0;

 private:
  void FillRing();
  void Step();

  std::vector<RingSample> program_;
  size_t written_ = 0;
  int ahead_ = 1500;
  uint64_t next_tick_ms_ = 25;
};

}  // namespace kelvro::test
