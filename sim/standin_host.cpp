#include "sim/standin_host.h"

#include <cstring>

namespace kelvro::sim {

StandinHost* StandinHost::current_ = nullptr;

StandinHost::StandinHost(SimControllerOptions controller_options)
    : machine_(std::make_unique<HostMachineState>()),
      params_(std::make_unique<HostParams>()),
      planner_(std::make_unique<HostPlanner>()),
      app_(std::make_unique<HostApp>()),
      controller_(std::move(controller_options)),
      port_(controller_, platform_) {
  std::memset(machine_.get(), 0, sizeof(HostMachineState));
  std::memset(params_.get(), 0, sizeof(HostParams));
  std::memset(planner_.get(), 0, sizeof(HostPlanner));
  std::memset(app_.get(), 0, sizeof(HostApp));
  for (HostAxisTuning& axis : planner_->axes) axis.slave_master = -1;
  platform_.on_time = [this](uint64_t now) { controller_.AdvanceTo(now); };
  plugin_ = std::make_unique<Plugin>(platform_, port_);
  dros[1501] = 100.0;
  current_ = this;
}

StandinHost::~StandinHost() {
  plugin_.reset();
  if (current_ == this) current_ = nullptr;
}

void StandinHost::DescribeMill() {
  for (int axis = 0; axis < 3; ++axis) {
    HostMotor& motor = machine_->motors[axis];
    motor.enabled = 1;
    motor.step_port = 1;
    motor.dir_port = 1;
    motor.step_pin = static_cast<uint8_t>(2 + 2 * axis);
    motor.dir_pin = static_cast<uint8_t>(3 + 2 * axis);
    HostAxisTuning& tuning = planner_->axes[axis];
    tuning.steps_per_unit = 1000.0;
    tuning.max_velocity = 50.0;
    tuning.acceleration = 500.0;
    tuning.soft_min = -1000.0;
    tuning.soft_max = 1000.0;
    tuning.soft_limit_on = 1;
  }
  HostInputSignal& probe = machine_->inputs[kInputProbe];
  probe.enabled = 1;
  probe.port = 1;
  probe.pin = 5;
  machine_->pulse_timing = 1000;
}

std::string StandinHost::StartUp(const std::string& profile_path) {
  current_ = this;
  HostCallbacks& cb = plugin_->callbacks();
  cb.get_menu_range = &GetMenuRange;
  plugin_->InitControl(machine_.get(), params_.get(), planner_.get(), app_.get());
  cb.do_button = &DoButton;
  cb.set_dro = &SetDro;
  cb.get_dro = &GetDro;
  cb.get_led = &GetLed;
  cb.set_led = &SetLed;
  cb.code = &Code;
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
  current_ = this;
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
  const int write = machine_->ring_write & (kRingSize - 1);
  const int next = (write + 1) & (kRingSize - 1);
  if (next == (machine_->ring_read & (kRingSize - 1))) return false;
  HostRingEntry& entry = planner_->ring[write];
  for (int k = 0; k < kAxisCount; ++k) entry.target[k] = steps[k];
  entry.line_id = line_id;
  entry.sync_output = sync_output;
  machine_->ring_write = next;
  return true;
}

int StandinHost::RingPending() const {
  return (machine_->ring_write - machine_->ring_read) & (kRingSize - 1);
}

int16_t StandinHost::GetMenuRange(int16_t) {
  if (current_) ++current_->menu_range_requests;
  return 5000;
}

void StandinHost::DoButton(int16_t n) {
  if (current_) current_->buttons.push_back(n);
}

void StandinHost::SetDro(int16_t n, double value) {
  if (!current_ || n < 0 || n >= 4096) return;
  current_->dros[n] = value;
  current_->dro_writes.emplace_back(n, value);
}

double StandinHost::GetDro(int16_t n) {
  return current_ && n >= 0 && n < 4096 ? current_->dros[n] : 0.0;
}

int32_t StandinHost::GetLed(int16_t n) {
  return current_ && n >= 0 && n < 4096 ? current_->leds[n] : 0;
}

void StandinHost::SetLed(int16_t n, int32_t on) {
  if (current_ && n >= 0 && n < 4096) current_->leds[n] = on ? 1 : 0;
}

void StandinHost::Code(const char*) {}

}  // namespace kelvro::sim
