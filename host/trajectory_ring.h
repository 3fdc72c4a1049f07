// Arithmetic on the host's trajectory ring. The host writes entries at its write index and
// the plugin reads them at its read index; both are kept in the host's block and may hold
// any value, so every use takes them modulo the ring size (a power of two). The ring is empty
// when both meet, so at most kRingSize - 1 entries are pending.
#pragma once

#include <array>
#include <cstdint>

#include "host/host_blocks.h"

namespace kelvro {

static_assert((kRingSize & (kRingSize - 1)) == 0, "the ring size must be a power of two");

// A ring index as the host holds it, taken modulo the ring size.
inline int RingIndex(int32_t index) {
  return static_cast<int>(static_cast<uint32_t>(index) & (kRingSize - 1));
}

// The index after `index`.
inline int RingNext(int32_t index) {
  return RingIndex(static_cast<int32_t>(static_cast<uint32_t>(index) + 1u));
}

// Entries written and not yet read.
inline int RingPending(int32_t read, int32_t write) {
  return RingIndex(
      static_cast<int32_t>(static_cast<uint32_t>(write) - static_cast<uint32_t>(read)));
}

inline int RingPending(const HostMachineState& machine) {
  return RingPending(machine.ring_read, machine.ring_write);
}

inline bool RingEmpty(const HostMachineState& machine) {
  return RingPending(machine) == 0;
}

// The host's side: writes one entry at the write index and advances it; false when the ring
// is full (the entry is not written).
inline bool PushRingEntry(HostMachineState& machine, HostPlanner& planner,
                          const std::array<double, kAxisCount>& target, int32_t line_id,
                          int32_t sync_output = 0) {
  if (RingPending(machine) >= kRingSize - 1) return false;
  const int write = RingIndex(machine.ring_write);
  HostRingEntry& entry = planner.ring[write];
  for (int k = 0; k < kAxisCount; ++k) entry.target[k] = target[k];
  entry.line_id = line_id;
  entry.sync_output = sync_output;
  machine.ring_write = RingNext(write);
  return true;
}

}  // namespace kelvro
