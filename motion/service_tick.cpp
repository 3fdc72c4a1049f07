#include "motion/service_tick.h"

#include "host/host_fields.h"

namespace kelvro {
namespace {

bool AnyProbePending(const HostMachineState& machine) {
  for (int k = 0; k < kAxisCount; ++k) {
    if (machine.motors[k].probe_pending) return true;
  }
  return false;
}

}  // namespace

ServiceTick::ServiceTick(const MotionContext& context, ZCorrectionHooks& zcorr)
    : ctx_(context),
      zcorr_(zcorr),
      poll_(context.link),
      decoder_(context, zcorr),
      watchdog_(context),
      mapper_(context),
      thc_(context),
      homing_(context, decoder_, zcorr),
      probing_(context, decoder_, zcorr),
      jogging_(context, decoder_, zcorr),
      streaming_(context, decoder_, poll_, thc_, probing_, zcorr),
      state_commands_(context, decoder_, mapper_, thc_) {}

void ServiceTick::Run() {
  if (!ctx_.host.Ready()) return;
  // 1. Z correction activation.
  zcorr_.Tick();
  // 2, 3. Poll and decode. A report in mode ESTOP ends the decode and skips the tail.
  bool run_tail = true;
  if (ctx_.link.connected()) {
    StatusPacket packet;
    if (poll_.Poll() && DecodeStatusPacket(poll_.bytes().data(), poll_.bytes().size(), &packet)) {
      run_tail = Decode(packet);
    }
  }
  // 4. Tail.
  if (run_tail) TickTail();
  // 5. Threading start and end.
  streaming_.Threading();
  // 6. THC offset.
  thc_.ApplyZOffset(decoder_.last(), poll_.ReportPredatesMark());
  // 7. State commands.
  state_commands_.Send();
  // 8. Arc OK and torch-on timing.
  thc_.UpdateArcOk(decoder_.last());
  thc_.TimeArc();
}

bool ServiceTick::Decode(const StatusPacket& packet) {
  const bool first_packet = !decoder_.first_report_done();
  const StatusPacket previous = decoder_.last();
  const bool had_previous = decoder_.have_report();

  // 1 to 4.
  watchdog_.ReportReceived();
  if (!decoder_.TakeReport(packet)) return false;
  // 5. Probe end.
  probing_.OnReport(packet);
  // 6. Sequence events.
  DispatchSequenceEvents(packet, previous, had_previous);
  // 7. Spindle speed.
  decoder_.DecodeSpindleSpeed(packet);
  // 8 to 11. Positions, velocities, resynchronisation.
  decoder_.DecodePositions(packet, first_packet, poll_.ReportPredatesMark());
  // 12 to 15. Hand wheel, idle, jogging, E-stop.
  decoder_.DecodeMachineFlags(packet, probing_.settling());
  // 16. Windows.
  PostStatusToWindows(packet);
  // 17. Torch signals, voltage and voltage log.
  thc_.DecodeSignals(packet);
  // 18, 19. Analog input and encoders onto host values.
  mapper_.DecodeAnalog(packet);
  mapper_.DecodeEncoders(packet, first_packet);
  return true;
}

void ServiceTick::DispatchSequenceEvents(const StatusPacket& packet, const StatusPacket& previous,
                                         bool had_previous) {
  // The controller goes on reporting an event until the command that ends it has arrived
  // (PROBE2 until EndProbe, which goes out in step 5 of the very report that still shows
  // PROBE2). Taking a hit twice would restart the settle count, a miss twice would report it
  // twice, a homing end twice would miscount.
  const bool missed = InSequence(packet, Sequence::PROBE1) && InMode(packet, Mode::IDLE);
  const bool hit = InSequence(packet, Sequence::PROBE2);
  const bool homed = InSequence(packet, Sequence::HOME4);
  const bool was_missed =
      had_previous && InSequence(previous, Sequence::PROBE1) && InMode(previous, Mode::IDLE);
  const bool was_hit = had_previous && InSequence(previous, Sequence::PROBE2);
  const bool was_homed = had_previous && InSequence(previous, Sequence::HOME4) &&
                         previous.homed_axis == packet.homed_axis;
  // A probe started since the previous report makes a repeated report a new event: the
  // new probe may touch at once, or the reports in between may have been lost.
  const bool probe_armed = AnyProbePending(*ctx_.host.machine);
  if (missed && (!was_missed || probe_armed)) {
    probing_.OnMissed();
  } else if (hit && (!was_hit || probe_armed) && !probing_.ended()) {
    probing_.OnHit(packet);
  } else if (homed && !was_homed) {
    homing_.OnFinished(packet);
  }
}

void ServiceTick::PostStatusToWindows(const StatusPacket& packet) {
  if (thc_page_feed_) thc_page_feed_(packet.analog_raw);
  if (status_listener_) status_listener_->OnStatus(MakeStatusSnapshot(packet));
}

StatusSnapshot ServiceTick::MakeStatusSnapshot(const StatusPacket& packet) const {
  const Host& host = ctx_.host;
  StatusSnapshot snapshot;
  snapshot.packet = packet;
  snapshot.threading = host.machine->threading_active != 0;
  snapshot.zcorr_active = zcorr_.active();
  if (snapshot.zcorr_active) {
    // The Z the program asked for: the reported Z without the correction, in work units.
    const double z_steps = packet.positions[kAxisZ] - zcorr_.applied_steps();
    snapshot.z_original = z_steps / host.planner->axes[kAxisZ].steps_per_unit -
                          host.Param(kParamWorkOffsetX + kAxisZ);
  }
  snapshot.spindle_axis = host.machine->motors[kSpindleMotor].enabled != 0 &&
                          ctx_.config.motion[motion_config::kSpindleMode] == kSpindleModeStepDir;
  return snapshot;
}

void ServiceTick::TickTail() {
  // 1. Target voltage from DRO 1501.
  thc_.FollowTargetVoltage();
  // 2. Link watchdog.
  watchdog_.Check();
  // 3. Torch-start hold and streaming.
  if (!ctx_.host.machine->estop) {
    thc_.ReleaseHoldOnArc(streaming_.dwell_counting());
    if (!probing_.settling()) streaming_.StreamTick();
  }
}

void ServiceTick::AfterReset() {
  decoder_.AfterReset();
  state_commands_.Invalidate();
  watchdog_.EndReset();
  poll_.AfterReset();
  streaming_.AfterReset();
}

}  // namespace kelvro
