// A stand-in for the host program (Mach3) for tests and the simulation run.
//
// It owns the four host blocks and answers the callbacks (a FakeHost), performs the host's
// start-up order on any plugin that has the host's entry points, and runs virtual time: the
// plugin's 25 ms timer routine while its timer exists, and Update at the host's own period.
// The plugin talks to a simulated controller through a simulated USB port; the platform
// services are scripted, so every run is the same.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/host_blocks.h"
#include "host/plugin_exports.h"
#include "sim/fake_host.h"
#include "sim/scripted_platform.h"
#include "sim/sim_controller.h"
#include "sim/sim_usb_port.h"

namespace kelvro::sim {

class StandinHost {
 public:
  using PluginFactory = std::function<std::unique_ptr<PluginExports>(Platform&, UsbPort&)>;

  StandinHost(const PluginFactory& make_plugin, SimControllerOptions controller_options = {});
  ~StandinHost();
  StandinHost(const StandinHost&) = delete;
  StandinHost& operator=(const StandinHost&) = delete;

  HostMachineState& machine() { return *fake_.machine; }
  HostParams& params() { return *fake_.params; }
  HostPlanner& planner() { return *fake_.planner; }
  HostApp& app() { return *fake_.app; }
  FakeHost& fake() { return fake_; }
  ScriptedPlatform& platform() { return platform_; }
  SimController& controller() { return controller_; }
  SimUsbPort& port() { return port_; }
  PluginExports& exports() { return *plugin_; }

  // A small three-axis mill on this controller's port: 1000 steps per unit, 50 units/s,
  // 500 units/s^2, soft limits -1000..1000, probe input on pin 5.
  void DescribeMill();

  // The host's start-up order: SetGetMenuRange, InitControl, the other callback setters,
  // SetProName, PostInitControl. Returns the display name SetProName gave.
  std::string StartUp(const std::string& profile_path = "");
  int32_t Reset() { return plugin_->Reset(); }
  void StopPlug() { plugin_->StopPlug(); }

  // Runs virtual time for `ms` milliseconds: Update every update_period_ms and the timer
  // routine every timer period while the plugin's timer exists. `before_update` runs before
  // every Update (the host's planner fills the ring there).
  void Run(uint64_t ms);
  // Runs until `done` holds (checked after every event) or `max_ms` passed; true if done.
  bool RunUntil(const std::function<bool()>& done, uint64_t max_ms);
  uint64_t now() const { return platform_.Now(); }

  // Appends one entry to the trajectory ring; false when the ring is full.
  bool PushRingEntry(const std::array<double, kAxisCount>& steps, int32_t line_id,
                     int32_t sync_output = 0);
  int RingPending() const;

  // Host period between Update calls; the timer period (25 ms, or varied for jitter).
  uint32_t update_period_ms = 50;
  bool calls_update = true;
  std::function<uint32_t()> timer_period = [] { return 25u; };
  std::function<void()> before_update;

  // What the host saw (the fake host's record).
  std::array<double, FakeHost::kFieldCount>& dros = fake_.dros;
  std::array<int32_t, FakeHost::kFieldCount>& leds = fake_.leds;
  std::vector<int>& buttons = fake_.buttons;
  std::vector<std::pair<int, double>>& dro_writes = fake_.dro_writes;
  int& menu_range_requests = fake_.menu_range_requests;
  int timer_ticks = 0;
  int updates = 0;

 private:
  void Step(const std::function<bool()>* done, uint64_t until, bool* reached);

  FakeHost fake_;
  ScriptedPlatform platform_;
  SimController controller_;
  SimUsbPort port_;
  std::unique_ptr<PluginExports> plugin_;
  uint64_t next_timer_ms_ = 0;
  uint64_t next_update_ms_ = 0;
};

// A stand-in host for one plugin class, with typed access to the plugin.
template <class PluginClass>
class HostOf : public StandinHost {
 public:
  explicit HostOf(SimControllerOptions controller_options = {})
      : StandinHost(
            [](Platform& platform, UsbPort& port) -> std::unique_ptr<PluginExports> {
              return std::make_unique<PluginClass>(platform, port);
            },
            std::move(controller_options)) {}
  PluginClass& plugin() { return static_cast<PluginClass&>(exports()); }
};

}  // namespace kelvro::sim
