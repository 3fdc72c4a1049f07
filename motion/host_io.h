// Host input/output records as the controller sees them.
#pragma once

#include <cstdint>

#include "host/host_blocks.h"

namespace kelvro {

// The controller's port number in the host's port and pin configuration.
inline constexpr uint8_t kControllerPort = 1;

// Output pin mask: bit n-1 for every enabled host output on this controller's port with
// pin n in 2..32 whose active state, after active-low inversion, is on. Pin 1 is never
// driven this way.
uint32_t OutputBits(const HostMachineState& machine);

}  // namespace kelvro
