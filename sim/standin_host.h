// A stand-in for the host program (Mach3) for tests and the simulation run.
//
// It owns the four host blocks, answers the callbacks (DROs, LEDs and buttons are
// recorded), performs the host's start-up order and runs virtual time: the plugin's 25 ms
// timer routine while its timer exists, and Update at the host's own period. The plugin
// talks to a simulated controller through a simulated USB port; the platform services are
// scripted, so every run is the same.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plugin/host_blocks.h"
#include "plugin/plugin.h"
#include "sim/scripted_platform.h"
#include "sim/sim_controller.h"
#include "sim/sim_usb_port.h"

namespace kelvro::sim {

class StandinHost {
 public:
  explicit StandinHost(SimControllerOptions controller_options = {});
  ~StandinHost();
  StandinHost(const StandinHost&) = delete;
  StandinHost& operator=(const StandinHost&) = delete;

  HostMachineState& machine() { return *machine_; }
  HostParams& params() { return *params_; }
  HostPlanner& planner() { return *planner_; }
  HostApp& app() { return *app_; }
  ScriptedPlatform& platform() { return platform_; }
  SimController& controller() { return controller_; }
  SimUsbPort& port() { return port_; }
  Plugin& plugin() { return *plugin_; }

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
  // Runs timer ticks only (the host has stopped calling Update).
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

  // What the host saw.
  std::array<double, 4096> dros{};
  std::array<uint8_t, 4096> leds{};
  std::vector<int> buttons;
  std::vector<std::pair<int, double>> dro_writes;
  int timer_ticks = 0;
  int updates = 0;
  int menu_range_requests = 0;

 private:
  static StandinHost* current_;
  static int16_t KELVRO_CDECL GetMenuRange(int16_t count);
  static void KELVRO_CDECL DoButton(int16_t n);
  static void KELVRO_CDECL SetDro(int16_t n, double value);
  static double KELVRO_CDECL GetDro(int16_t n);
  static int32_t KELVRO_CDECL GetLed(int16_t n);
  static void KELVRO_CDECL SetLed(int16_t n, int32_t on);
  static void KELVRO_CDECL Code(const char* line);

  void Step(const std::function<bool()>* done, uint64_t until, bool* reached);

  std::unique_ptr<HostMachineState> machine_;
  std::unique_ptr<HostParams> params_;
  std::unique_ptr<HostPlanner> planner_;
  std::unique_ptr<HostApp> app_;
  ScriptedPlatform platform_;
  SimController controller_;
  SimUsbPort port_;
  std::unique_ptr<Plugin> plugin_;
  uint64_t next_timer_ms_ = 0;
  uint64_t next_update_ms_ = 0;
};

}  // namespace kelvro::sim
