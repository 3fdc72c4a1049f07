// The small state commands SetOutputs, SetForcedInputs, MpgConfig and ThcConfig: built every
// tick and sent only when their payload differs from the one last sent. Reset forgets the
// copies, so that everything goes out again to the freshly configured controller.
#pragma once

#include <cstdint>

#include "device/commands.h"
#include "motion/input_mapping.h"
#include "motion/motion_context.h"
#include "motion/sent_copy.h"
#include "motion/status_decoder.h"
#include "motion/thc_runtime.h"

namespace kelvro {

class StateCommands {
 public:
  StateCommands(const MotionContext& context, const StatusDecoder& decoder,
                const InputMapper& mapper, ThcRuntime& thc)
      : ctx_(context), decoder_(decoder), mapper_(mapper), thc_(thc) {}

  // Tick step 7. Stops at the first failed write (the link is then closed).
  void Send();
  void Invalidate();

  // SetOutputs bit values and mode flags as the tick builds them.
  uint16_t OutputModeFlags() const;
  uint32_t ForcedInputBits() const;

 private:
  MotionContext ctx_;
  const StatusDecoder& decoder_;
  const InputMapper& mapper_;
  ThcRuntime& thc_;
  SentCopy<kSetOutputsSize> sent_outputs_;
  SentCopy<kSetForcedInputsSize> sent_forced_inputs_;
  SentCopy<kMpgConfigSize> sent_mpg_;
  SentCopy<kThcConfigSize> sent_thc_;
};

}  // namespace kelvro
