#include "motion/host_io.h"

namespace kelvro {

uint32_t OutputBits(const HostMachineState& machine) {
  uint32_t bits = 0;
  for (const HostOutputSignal& output : machine.outputs) {
    if (!output.enabled || output.port != kControllerPort) continue;
    if (output.pin < 2 || output.pin > 32) continue;
    const bool level = (output.active != 0) != (output.active_low != 0);
    if (level) bits |= 1u << (output.pin - 1);
  }
  return bits;
}

}  // namespace kelvro
