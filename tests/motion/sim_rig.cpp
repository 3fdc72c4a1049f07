#include "tests/motion/sim_rig.h"

#include "host/trajectory_ring.h"

namespace kelvro::test {

SimRig::SimRig()
    : host(fake.MakeHost(&platform)), port(controller, platform), link(port, platform) {
  platform.on_time = [this](uint64_t now) { controller.AdvanceTo(now); };
  controller.trace().options().keep_segments = false;
  controller.options().phase_tolerance_micro = 0;
  curve = BuildLaserCurve(settings.laser_curve);
  motion = std::make_unique<CorrectedTick>(
      MotionContext{host, platform, platform, platform, settings, link, config, curve});
  tick = &motion->tick;
}

SimRig::~SimRig() {
  motion.reset();
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
  tick->mapper().Configure(settings.mappings, config.encoder_host_map, settings.hw_mpg != 0,
                           config.mpg_scale);
  link.Close();
  link.set_connected(false);
  if (link.Open()) {
    link.SendCommand(CommandCode::LoadMotionConfig, config.motion);
    link.SendCommand(CommandCode::LoadIoConfig, config.io);
    tick->watchdog().Connected();
    link.set_connected(true);
  }
  tick->AfterReset();
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
    if (RingPending(*machine) >= ahead_) break;
    if (!PushRingEntry(*machine, *planner, program_[written_].target, program_[written_].line_id)) {
      break;
    }
    ++written_;
  }
  planner->flush = written_ == program_.size() ? 1 : 0;
}

void SimRig::Step() {
  fake.Activate();
  platform.Advance(1);
  if (each_ms) each_ms();
  if (platform.Now() >= next_tick_ms_) {
    next_tick_ms_ += 25;
    FillRing();
    tick->Run();
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
