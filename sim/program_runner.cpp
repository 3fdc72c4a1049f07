#include "sim/program_runner.h"

#include <algorithm>

namespace kelvro::sim {
namespace {

constexpr int kRingAheadMs = 1000;  // the host plans about a second ahead
constexpr int kStableChecks = 2;    // consecutive Updates a wait condition must hold
// The stand-in host's spindle pulley: pulley 0, at most this many revolutions per minute.
constexpr double kPulleyMaxRpm = 24000.0;

}  // namespace

ProgramRunner::ProgramRunner(StandinHost& host, PluginView& plugin, const Machine& machine,
                             std::vector<Block> blocks, RunnerListener& listener)
    : host_(host),
      plugin_(plugin),
      machine_(machine),
      listener_(listener),
      planner_(machine, std::move(blocks)),
      source_(&planner_) {}

void ProgramRunner::StartHost(const std::string& profile_file) {
  ApplyMachine(machine_, host_.machine(), host_.planner());
  HostPlanner& planner = host_.planner();
  planner.sync_outputs = 1;
  planner.feed_override_percent = 100.0;
  planner.current_pulley = 0;
  planner.pulley_max_speed[0] = static_cast<int32_t>(kPulleyMaxRpm);
  host_.dros[kDroPierceDelay] = machine_.thc_pierce_delay;
  // The program starts in the first work offset.
  SetWorkOffsets(machine_.work_offsets[0]);
  host_.StartUp(profile_file);
  host_.Reset();
}

void ProgramRunner::Execute(uint64_t limit_ms) {
  if (!plugin_.LinkConnected()) {
    Stop("the plugin did not connect to the controller", false);
    return;
  }
  // The first status reports reach the host before the program starts.
  host_.before_update = nullptr;
  host_.Run(kStartSettleMs);
  if (before_program) {
    const std::string why = before_program();
    if (!why.empty()) {
      Stop(why, false);
      return;
    }
  }
  host_.before_update = [this] { Drive(); };
  run_start_ms_ = host_.now();
  last_progress_ms_ = host_.now();
  buttons_seen_ = host_.buttons.size();
  const bool done = host_.RunUntil(
      [this] {
        return phase_ == Phase::kFinished ||
               (phase_ == Phase::kStopped && host_.now() >= stop_ms_ + kAfterStopMs);
      },
      limit_ms);
  if (!done && phase_ != Phase::kStopped) {
    Stop("the run did not finish within " + std::to_string(limit_ms / 1000) + " s", true);
    host_.Run(kAfterStopMs);
  }
}

void ProgramRunner::Drive() {
  if (phase_ == Phase::kFinished || phase_ == Phase::kStopped) return;
  if (!plugin_.LinkConnected()) link_lost_ = true;
  HostMachineState& machine = host_.machine();
  if (machine.estop) {
    std::string why = "the host is in E-stop";
    if (machine.stop_code != 0) why += " (stop code " + std::to_string(machine.stop_code) + ")";
    if (link_lost_) why += " after the plugin closed the link";
    const auto& texts = host_.platform().status_texts;
    if (!texts.empty()) why += "; last status: \"" + texts.back() + "\"";
    Stop(why, false);
    return;
  }
  if (host_.buttons.size() > buttons_seen_) {
    const bool pressed_stop = std::find(host_.buttons.begin() + buttons_seen_, host_.buttons.end(),
                                        kButtonStop) != host_.buttons.end();
    buttons_seen_ = host_.buttons.size();
    if (pressed_stop) {
      const auto& texts = host_.platform().status_texts;
      std::string why = "the plugin pressed the host's Stop button (1003)";
      if (phase_ == Phase::kEvent) why += " at line " + std::to_string(event_.line);
      if (!texts.empty()) why += ": " + texts.back();
      Stop(why, true);
      return;
    }
  }

  if (phase_ == Phase::kStreaming) {
    FillRing();
    if (!source_.error().empty()) {
      Stop(source_.error(), true);
      return;
    }
    if (source_.ProgramWritten()) {
      if (Stable(host_.planner().flush != 0 && Settled())) {
        phase_ = Phase::kFinished;
        return;
      }
    } else if (const Block* event = source_.NextEvent()) {
      if (Stable(source_.EventDue(machine) && Settled())) BeginEvent(*event);
    } else {
      stable_count_ = 0;
    }
  } else if (phase_ == Phase::kEvent) {
    if (Stable(EventDone())) EndEvent();
  }
  WatchProgress();
}

void ProgramRunner::FillRing() {
  HostMachineState& machine = host_.machine();
  const int before = machine.ring_write & (kRingSize - 1);
  source_.Fill(machine, host_.planner(), kRingAheadMs);
  const int after = machine.ring_write & (kRingSize - 1);
  for (int i = before; i != after; i = (i + 1) & (kRingSize - 1)) {
    listener_.RingEntryWritten(static_cast<uint16_t>(i), host_.planner().ring[i].line_id);
  }
  more_to_hand_over_ = !source_.ProgramWritten() && source_.NextEvent() == nullptr;
}

bool ProgramRunner::Settled() {
  const SimController& c = host_.controller();
  return TrajectorySource::RingEmpty(host_.machine()) && c.mode() == SimMode::kIdle &&
         c.buffer_fill() == 0 && c.sequence() == SimSequence::kNone && host_.machine().idle != 0;
}

bool ProgramRunner::Stable(bool condition) {
  stable_count_ = condition ? stable_count_ + 1 : 0;
  if (stable_count_ < kStableChecks) return false;
  stable_count_ = 0;
  return true;
}

Position ProgramRunner::HostPositionUnits() {
  Position units = planner_.position();
  for (int k = 0; k < kAxisCount; ++k) {
    const double steps = machine_.axes[k].steps_per_unit;
    if (machine_.axes[k].enabled && steps != 0.0) {
      units[k] = static_cast<double>(host_.machine().motors[k].step_position) / steps;
    }
  }
  return units;
}

void ProgramRunner::BeginEvent(const Block& block) {
  event_ = block;
  phase_ = Phase::kEvent;
  stable_count_ = 0;
  // Everything written before the event has executed; what is left was never executed.
  listener_.EventBegun(block);
  PluginExports& plugin = host_.exports();
  HostMachineState& machine = host_.machine();
  HostPlanner& planner = host_.planner();
  switch (block.kind) {
    case BlockKind::kSpindle:
      ApplySpindle(block);
      // With THC a torch stop waits for the plugin's Z read-back. A torch start goes on at
      // once: holding the motion until the arc is there is the plugin's part.
      if (!machine.thc_mode || block.spindle != SpindleAction::kStop) EndEvent();
      return;
    case BlockKind::kDwell:
      plugin.DoDwell(block.seconds);
      return;
    case BlockKind::kHome: {
      machine.positions_resynced = 0;
      bool any = false;
      for (int k = 0; k < kAxisCount; ++k) {
        if ((block.axis_mask >> k & 1u) && machine_.axes[k].enabled) {
          plugin.Home(k);
          any = true;
        }
      }
      if (!any) EndEvent();
      return;
    }
    case BlockKind::kProbe: {
      // The probe's start and target in program coordinates, and the offsets in effect with
      // which the plugin turns them into machine coordinates.
      const Position start = HostPositionUnits();
      const Position target = ResolveTarget(block, start);
      SetWorkOffsets(block.offset);
      for (int k = 0; k < kAxisCount; ++k) {
        planner.current_position[k] = start[k] - block.offset[k];
        planner.probe_target[k] = target[k] - block.offset[k];
      }
      planner.feed_rate = block.feed / 60.0;
      machine.positions_resynced = 0;
      plugin.Probe();
      return;
    }
    case BlockKind::kToolChange: {
      // Without a tool changer the host stops the spindle and waits for the operator, who
      // changes the tool and starts the program again at once.
      HostOutputSignal& spindle = machine.outputs[kSpindleOutputRecord];
      if (spindle.active) {
        spindle.active = 0;
        plugin.Notify(kNotifySpindleStop);
      }
      EndEvent();
      return;
    }
    case BlockKind::kCoolant:
      ApplyCoolant(block);
      EndEvent();
      return;
    default:
      // Motion blocks are never events; pass anything else.
      EndEvent();
      return;
  }
}

bool ProgramRunner::EventDone() {
  const HostMachineState& machine = host_.machine();
  switch (event_.kind) {
    case BlockKind::kDwell:
      return machine.dwell_active == 0 && Settled();
    case BlockKind::kSpindle:
      return machine.z_readback_request == 0 && Settled();
    case BlockKind::kHome:
      return machine.homing_in_progress == 0 && machine.positions_resynced != 0 && Settled();
    case BlockKind::kProbe: {
      for (int k = 0; k < kAxisCount; ++k) {
        if (machine.motors[k].probe_pending) return false;
      }
      return !plugin_.ProbeEnded() && machine.positions_resynced != 0 && Settled();
    }
    default:
      return true;
  }
}

void ProgramRunner::EndEvent() {
  // After homing, probing and a torch stop (the Z read-back) the machine is where the plugin
  // says it is.
  if (event_.kind == BlockKind::kHome || event_.kind == BlockKind::kProbe ||
      (event_.kind == BlockKind::kSpindle && host_.machine().thc_mode)) {
    source_.SetPosition(HostPositionUnits());
  }
  listener_.EventEnded(event_);
  source_.CompleteEvent();
  phase_ = Phase::kStreaming;
  stable_count_ = 0;
  FillRing();
}

void ProgramRunner::ApplyCoolant(const Block& block) {
  HostMachineState& machine = host_.machine();
  const auto set = [&](int output, bool on) {
    if (output >= 1 && output <= kMachineOutputCount) {
      machine.outputs[OutputRecord(output)].active = on ? 1 : 0;
    }
  };
  switch (block.coolant) {
    case CoolantAction::kMist:
      set(machine_.mist_output, true);
      break;
    case CoolantAction::kFlood:
      set(machine_.flood_output, true);
      break;
    case CoolantAction::kOff:
      set(machine_.mist_output, false);
      set(machine_.flood_output, false);
      break;
  }
}

void ProgramRunner::SetWorkOffsets(const Position& offsets) {
  for (int k = 0; k < kAxisCount; ++k) host_.params().values[kParamWorkOffsetX + k] = offsets[k];
  host_.dros[kDroWorkOffsetX] = offsets[0];
  host_.dros[kDroWorkOffsetY] = offsets[1];
  host_.dros[kDroWorkOffsetZ] = offsets[2];
}

void ProgramRunner::ApplySpindle(const Block& block) {
  PluginExports& plugin = host_.exports();
  HostPlanner& planner = host_.planner();
  HostOutputSignal& output = host_.machine().outputs[kSpindleOutputRecord];
  planner.spindle_speed = block.spindle_speed;
  planner.speed_ratio = std::min(block.spindle_speed / kPulleyMaxRpm, 1.0);
  switch (block.spindle) {
    case SpindleAction::kClockwise:
    case SpindleAction::kCounterClockwise:
      planner.spindle_direction = block.spindle == SpindleAction::kClockwise ? 0 : 1;
      output.active = 1;
      host_.machine().torch_on = host_.machine().thc_mode ? 1 : 0;
      plugin.Notify(kNotifySpindleSpeed);
      plugin.Notify(kNotifySpindleStart);
      break;
    case SpindleAction::kStop:
      output.active = 0;
      host_.machine().torch_on = 0;
      plugin.Notify(kNotifySpindleStop);
      break;
    case SpindleAction::kSpeed:
      plugin.Notify(kNotifySpindleSpeed);
      break;
  }
}

void ProgramRunner::Stop(const std::string& why, bool host_stop) {
  if (phase_ == Phase::kStopped) return;
  if (phase_ == Phase::kEvent) listener_.EventInterrupted(event_);
  phase_ = Phase::kStopped;
  stop_ms_ = host_.now();
  stop_reason_ = why;
  // The host stops its program and tells the plugin, which stops the controller.
  if (host_stop) host_.exports().Notify(kNotifyStop);
}

void ProgramRunner::WatchProgress() {
  const SimController& c = host_.controller();
  const ProgressMarker marker{c.segments_executed(), source_.SamplesWritten(), plugin_.DwellTicks(),
                              static_cast<int>(c.sequence()),
                              phase_ == Phase::kEvent ? event_.line : 0};
  const uint64_t now = host_.now();
  if (marker != progress_marker_) {
    progress_marker_ = marker;
    last_progress_ms_ = now;
  } else if (now - last_progress_ms_ > kNoProgressMs) {
    std::string what = phase_ == Phase::kEvent
                           ? "waiting for line " + std::to_string(event_.line) + " to finish"
                           : "waiting for the motion to be executed";
    Stop("nothing happened for " + std::to_string(kNoProgressMs / 1000) + " s while " + what, true);
    return;
  }
  if (after_drive) after_drive();
}

}  // namespace kelvro::sim
