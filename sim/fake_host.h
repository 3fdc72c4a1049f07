// The host's side of the plugin for the tests, the stand-in host and the benchmarks: the four
// data blocks (zeroed), the seven callbacks, and a record of what the plugin did through the
// callbacks (DROs, LEDs, buttons). The callbacks are plain functions, as the host's are, so
// they reach the fake host that was activated last.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/host_blocks.h"

namespace kelvro::sim {

class FakeHost {
 public:
  static constexpr int kFieldCount = 4096;  // DROs and LEDs numbered 0..4095

  FakeHost();
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // The callbacks reach this host from now on.
  void Activate();
  // Fills `callbacks` with this host's callbacks (and activates it). With `menu_range`
  // false the menu-range callback is left out.
  void InstallCallbacks(HostCallbacks& callbacks, bool menu_range = true);
  // A Host over these blocks and callbacks, telling `messages` about status texts.
  Host MakeHost(UserMessages* messages);

  std::unique_ptr<HostMachineState> machine;
  std::unique_ptr<HostParams> params;
  std::unique_ptr<HostPlanner> planner;
  std::unique_ptr<HostApp> app;

  // What the callbacks answer and what they saw.
  std::array<double, kFieldCount> dros{};
  std::array<int32_t, kFieldCount> leds{};
  std::vector<int> buttons;
  std::vector<std::pair<int, double>> dro_writes;
  bool record_dro_writes = true;  // the benchmark turns recording off (no allocation)
  int16_t menu_range = 5000;      // the first id GetMenuRange hands out
  int menu_range_requests = 0;

 private:
  static FakeHost* current_;
};

}  // namespace kelvro::sim
