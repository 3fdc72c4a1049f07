#include "sim/fake_host.h"

#include <cstring>

namespace kelvro::sim {
namespace {

bool Valid(int16_t n) {
  return n >= 0 && n < FakeHost::kFieldCount;
}

}  // namespace

FakeHost* FakeHost::current_ = nullptr;

FakeHost::FakeHost()
    : machine(std::make_unique<HostMachineState>()),
      params(std::make_unique<HostParams>()),
      planner(std::make_unique<HostPlanner>()),
      app(std::make_unique<HostApp>()) {
  std::memset(machine.get(), 0, sizeof(HostMachineState));
  std::memset(params.get(), 0, sizeof(HostParams));
  std::memset(planner.get(), 0, sizeof(HostPlanner));
  std::memset(app.get(), 0, sizeof(HostApp));
  for (HostAxisTuning& axis : planner->axes) axis.slave_master = -1;
  // The host's THC nominal voltage DRO starts at 100 V.
  dros[kDroTargetVolts] = 100.0;
  current_ = this;
}

FakeHost::~FakeHost() {
  if (current_ == this) current_ = nullptr;
}

void FakeHost::Activate() {
  current_ = this;
}

void FakeHost::InstallCallbacks(HostCallbacks& callbacks, bool menu_range) {
  Activate();
  if (menu_range) {
    callbacks.get_menu_range = [](int16_t) -> int16_t {
      if (!current_) return 0;
      ++current_->menu_range_requests;
      return current_->menu_range;
    };
  }
  callbacks.do_button = [](int16_t n) {
    if (current_) current_->buttons.push_back(n);
  };
  callbacks.set_dro = [](int16_t n, double value) {
    if (!current_ || !Valid(n)) return;
    current_->dros[n] = value;
    if (current_->record_dro_writes) current_->dro_writes.emplace_back(n, value);
  };
  callbacks.get_dro = [](int16_t n) { return current_ && Valid(n) ? current_->dros[n] : 0.0; };
  callbacks.get_led = [](int16_t n) { return current_ && Valid(n) ? current_->leds[n] : 0; };
  callbacks.set_led = [](int16_t n, int32_t on) {
    if (current_ && Valid(n)) current_->leds[n] = on ? 1 : 0;
  };
  callbacks.code = [](const char*) {};
}

Host FakeHost::MakeHost(UserMessages* messages) {
  Host host;
  host.machine = machine.get();
  host.params = params.get();
  host.planner = planner.get();
  host.app = app.get();
  host.messages = messages;
  InstallCallbacks(host.callbacks);
  return host;
}

}  // namespace kelvro::sim
