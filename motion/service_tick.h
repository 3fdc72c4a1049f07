// The 25 ms service tick: reads the controller's newest status report, mirrors it into the
// host's blocks, reacts to sequence events, watches the link, streams segments and sends the
// small state commands whenever their content changed. It owns one object per feature and
// calls them in the tick's step order; the entry points reach the features through it.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "motion/homing.h"
#include "motion/input_mapping.h"
#include "motion/jogging.h"
#include "motion/link_watchdog.h"
#include "motion/motion_context.h"
#include "motion/probing.h"
#include "motion/state_commands.h"
#include "motion/status_decoder.h"
#include "motion/status_poll.h"
#include "motion/status_snapshot.h"
#include "motion/streaming.h"
#include "motion/thc_runtime.h"
#include "motion/z_correction_hooks.h"

namespace kelvro {

class ServiceTick {
 public:
  // `zcorr` is only stored here, not used, so it may be constructed after the tick.
  ServiceTick(const MotionContext& context, ZCorrectionHooks& zcorr);
  ServiceTick(const ServiceTick&) = delete;
  ServiceTick& operator=(const ServiceTick&) = delete;

  // One tick.
  void Run();
  // After a Reset (whatever its outcome): resynchronise, re-take the encoder baselines and
  // send every state command again.
  void AfterReset();

  // Decode step 16's receiver for the THC options page: gets the raw analog value of every
  // decoded report (it forwards it to the page's window while that exists).
  void set_thc_page_feed(std::function<void(uint16_t raw)> feed) {
    thc_page_feed_ = std::move(feed);
  }

  StatusPoll& poll() { return poll_; }
  StatusDecoder& decoder() { return decoder_; }
  const StatusDecoder& decoder() const { return decoder_; }
  LinkWatchdog& watchdog() { return watchdog_; }
  InputMapper& mapper() { return mapper_; }
  ThcRuntime& thc() { return thc_; }
  Homing& homing() { return homing_; }
  Probing& probing() { return probing_; }
  Jogging& jogging() { return jogging_; }
  Streaming& streaming() { return streaming_; }
  StateCommands& state_commands() { return state_commands_; }
  // The status window's feed, told of every decoded report; null for none.
  void SetStatusListener(StatusListener* listener) { status_listener_ = listener; }
  // The snapshot of `packet` the status window is given.
  StatusSnapshot MakeStatusSnapshot(const StatusPacket& packet) const;

 private:
  // Steps 2 and 3: false for a report in mode ESTOP (the tail is skipped).
  bool Decode(const StatusPacket& packet);
  // Decode step 6: probe missed or hit, homing finished; each taken once per report change.
  void DispatchSequenceEvents(const StatusPacket& packet, const StatusPacket& previous,
                              bool had_previous);
  void TickTail();
  // Decode step 16: the status window is fed from here (and the THC options page, once it
  // exists).
  void PostStatusToWindows(const StatusPacket& packet);

  MotionContext ctx_;
  ZCorrectionHooks& zcorr_;
  StatusPoll poll_;
  StatusDecoder decoder_;
  LinkWatchdog watchdog_;
  InputMapper mapper_;
  ThcRuntime thc_;
  Homing homing_;
  Probing probing_;
  Jogging jogging_;
  Streaming streaming_;
  StateCommands state_commands_;
  std::function<void(uint16_t)> thc_page_feed_;
  StatusListener* status_listener_ = nullptr;
};

}  // namespace kelvro
