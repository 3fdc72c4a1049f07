#include "tests/tick/sim_rig.h"

namespace kelvro::test {

SimRig* SimRig::current = nullptr;

namespace {

double GetDroCb(int16_t n) {
  auto it = SimRig::current->dros.find(n);
  return it == SimRig::current->dros.end() ? 0.0 : it->second;
}
void SetDroCb(int16_t n, double v) {
  SimRig::current->dros[n] = v;
}
int32_t GetLedCb(int16_t n) {
  auto it = SimRig::current->leds.find(n);
  return it == SimRig::current->leds.end() ? 0 : it->second;
}
void SetLedCb(int16_t n, int32_t on) {
  SimRig::current->leds[n] = on;
}
void DoButtonCb(int16_t) {}

}  // namespace

SimRig::SimRig()
    : machine(std::make_unique<HostMachineState>()),
      params(std::make_unique<HostParams>()),
      planner(std::make_unique<HostPlanner>()),
      app(std::make_unique<HostApp>()),
      port(controller, platform),
      link(port, platform) {
  current = this;
  host.machine = machine.get();
  host.params = params.get();
  host.planner = planner.get();
  host.app = app.get();
  host.callbacks.get_dro = &GetDroCb;
  host.callbacks.set_dro = &SetDroCb;
  host.callbacks.get_led = &GetLedCb;
  host.callbacks.set_led = &SetLedCb;
  host.callbacks.do_button = &DoButtonCb;
  for (HostAxisTuning& axis : planner->axes) axis.slave_master = -1;
  platform.on_time = [this](uint64_t now) { controller.AdvanceTo(now); };
  controller.trace().options().keep_segments = false;
  controller.options().phase_tolerance_micro = 0;
  curve = BuildLaserCurve(settings.laser_curve);
  motion =
      std::make_unique<Motion>(MotionContext{host, platform, settings, link, zcorr, config, curve});
  dros[1501] = 100.0;
}

SimRig::~SimRig() {
  motion.reset();
  current = nullptr;
}

void SimRig::DescribeMachine(const std::array<double, kAxisCount>& steps_per_unit) {
  machine->pulse_timing = 1000;
  for (int k = 0; k < kAxisCount; ++k) {
    HostMotor& motor = machine->motors[k];
    motor.enabled = 1;
    motor.step_port = 1;
    motor.dir_port = 1;
    motor.step_pin = static_cast<uint8_t>(2 + k);
    motor.dir_pin = static_cast<uint8_t>(8 + k);
    HostAxisTuning& tuning = planner->axes[k];
    tuning.steps_per_unit = steps_per_unit[k];
    tuning.max_velocity = 50.0;
    tuning.acceleration = 500.0;
    tuning.max_step_rate = 250000.0;
    tuning.soft_min = -100000.0;
    tuning.soft_max = 100000.0;
    tuning.soft_limit_on = 1;
  }
}

void SimRig::Connect() {
  config = BuildControllerConfig(*machine, *planner, settings);
  motion->state().mappings = settings.mappings;
  motion->state().encoder_host_map = config.encoder_host_map;
  link.Close();
  link.set_connected(false);
  if (link.Open()) {
    link.SendCommand(CommandCode::LoadMotionConfig, config.motion);
    link.SendCommand(CommandCode::LoadIoConfig, config.io);
    motion->state().missed_polls = 0;
    link.set_connected(true);
  }
  motion->AfterReset();
}

void SimRig::LoadProgram(std::vector<RingSample> samples, int ahead) {
  program_ = std::move(samples);
  written_ = 0;
  ahead_ = ahead;
  planner->flush = 0;
  FillRing();
}

bool SimRig::ProgramStreamed() const {
  return written_ == program_.size() && machine->ring_read == machine->ring_write;
}

void SimRig::FillRing() {
  while (written_ < program_.size()) {
    const int pending = (machine->ring_write - machine->ring_read) & (kRingSize - 1);
    if (pending >= ahead_) break;
    const int i = machine->ring_write & (kRingSize - 1);
    HostRingEntry& entry = planner->ring[i];
    for (int k = 0; k < kAxisCount; ++k) entry.target[k] = program_[written_].target[k];
    entry.line_id = program_[written_].line_id;
    entry.sync_output = 0;
    machine->ring_write = (i + 1) & (kRingSize - 1);
    ++written_;
  }
  planner->flush = written_ == program_.size() ? 1 : 0;
}

void SimRig::Step() {
  current = this;
  platform.Advance(1);
  if (each_ms) each_ms();
  if (platform.Now() >= next_tick_ms_) {
    next_tick_ms_ += 25;
    FillRing();
    motion->ServiceTick();
    ++ticks;
    if (each_tick) each_tick();
  }
}

void SimRig::Run(uint64_t ms) {
  for (uint64_t i = 0; i < ms; ++i) Step();
}

bool SimRig::RunUntil(const std::function<bool()>& done, uint64_t max_ms) {
  for (uint64_t i = 0; i < max_ms; ++i) {
    if (done()) return true;
    Step();
  }
  return done();
}

}  // namespace kelvro::test
