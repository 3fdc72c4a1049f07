// The service tick together with the Z correction it calls. The two refer to each other, so
// they are built together: the correction first, holding a reference to the tick that is
// constructed right after it.
#pragma once

#include "motion/motion_context.h"
#include "motion/service_tick.h"
#include "zcorr/z_correction.h"

namespace kelvro {

struct CorrectedTick {
  explicit CorrectedTick(const MotionContext& context)
      : zcorr(context, tick), tick(context, zcorr) {}
  CorrectedTick(const CorrectedTick&) = delete;
  CorrectedTick& operator=(const CorrectedTick&) = delete;

  ZCorrection zcorr;
  ServiceTick tick;
};

}  // namespace kelvro
