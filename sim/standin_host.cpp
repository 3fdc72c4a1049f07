#include "sim/standin_host.h"

#include "host/trajectory_ring.h"

namespace kelvro::sim {

StandinHost::StandinHost(const PluginFactory& make_plugin, SimControllerOptions controller_options)
    : controller_(std::move(controller_options)), port_(controller_, platform_) {
  platform_.on_time = [this](uint64_t now) { controller_.AdvanceTo(now); };
  plugin_ = make_plugin(platform_, port_);
  fake_.Activate();
}

StandinHost::~StandinHost() {
  plugin_.reset();
}

void StandinHost::DescribeMill() {
  HostMachineState& machine = *fake_.machine;
  HostPlanner& planner = *fake_.planner;
  for (int axis = 0; axis < 3; ++axis) {
    HostMotor& motor = machine.motors[axis];
    motor.enabled = 1;
    motor.step_port = 1;
    motor.dir_port = 1;
    motor.step_pin = static_cast<uint8_t>(2 + 2 * axis);
    motor.dir_pin = static_cast<uint8_t>(3 + 2 * axis);
    HostAxisTuning& tuning = planner.axes[axis];
    tuning.steps_per_unit = 1000.0;
    tuning.max_velocity = 50.0;
    tuning.acceleration = 500.0;
    tuning.soft_min = -1000.0;
    tuning.soft_max = 1000.0;
    tuning.soft_limit_on = 1;
  }
  HostInputSignal& probe = machine.inputs[kInputProbe];
  probe.enabled = 1;
  probe.port = 1;
  probe.pin = 5;
  machine.pulse_timing = 1000;
}

std::string StandinHost::StartUp(const std::string& profile_path) {
  fake_.Activate();
  HostCallbacks& cb = plugin_->callbacks();
  HostCallbacks all;
  fake_.InstallCallbacks(all);
  cb.get_menu_range = all.get_menu_range;
  plugin_->InitControl(fake_.machine.get(), fake_.params.get(), fake_.planner.get(),
                       fake_.app.get());
  cb.do_button = all.do_button;
  cb.set_dro = all.set_dro;
  cb.get_dro = all.get_dro;
  cb.get_led = all.get_led;
  cb.set_led = all.set_led;
  cb.code = all.code;
  const std::string name = plugin_->SetProName(profile_path.c_str());
  plugin_->PostInitControl();
  next_timer_ms_ = platform_.Now() + timer_period();
  next_update_ms_ = platform_.Now();
  return name;
}

void StandinHost::Run(uint64_t ms) {
  Step(nullptr, platform_.Now() + ms, nullptr);
}

bool StandinHost::RunUntil(const std::function<bool()>& done, uint64_t max_ms) {
  bool reached = false;
  Step(&done, platform_.Now() + max_ms, &reached);
  return reached;
}

void StandinHost::Step(const std::function<bool()>* done, uint64_t until, bool* reached) {
  fake_.Activate();
  while (true) {
    if (done && (*done)()) {
      *reached = true;
      return;
    }
    // The next event: the plugin's timer (only while it exists) or the host's Update.
    uint64_t next = until;
    if (platform_.timer_running && next_timer_ms_ < next) next = next_timer_ms_;
    if (calls_update && next_update_ms_ < next) next = next_update_ms_;
    if (next > platform_.Now()) platform_.Advance(next - platform_.Now());
    if (platform_.Now() >= until && next == until) {
      if (done && (*done)()) *reached = true;
      return;
    }
    const bool timer_existed = platform_.timer_running;
    if (calls_update && platform_.Now() >= next_update_ms_) {
      if (before_update) before_update();
      plugin_->Update();
      ++updates;
      next_update_ms_ = platform_.Now() + update_period_ms;
    }
    if (!timer_existed && platform_.timer_running) {
      // A timer created now runs its routine one period later.
      next_timer_ms_ = platform_.Now() + timer_period();
    } else if (platform_.timer_running && platform_.Now() >= next_timer_ms_) {
      plugin_->OnTimer();
      ++timer_ticks;
      next_timer_ms_ = platform_.Now() + timer_period();
    }
  }
}

bool StandinHost::PushRingEntry(const std::array<double, kAxisCount>& steps, int32_t line_id,
                                int32_t sync_output) {
  return kelvro::PushRingEntry(*fake_.machine, *fake_.planner, steps, line_id, sync_output);
}

int StandinHost::RingPending() const {
  return kelvro::RingPending(*fake_.machine);
}

}  // namespace kelvro::sim
