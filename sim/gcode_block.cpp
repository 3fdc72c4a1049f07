#include "sim/gcode_block.h"

#include <cstdio>

namespace kelvro::sim {

Position ResolveTarget(const Block& block, const Position& current) {
  Position target = current;
  for (int k = 0; k < kAxisCount; ++k) {
    if (!(block.axis_mask & (1u << k))) continue;
    target[k] = block.incremental ? current[k] + block.words[k] : block.words[k];
  }
  return target;
}

std::string NumberText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.6g", value);
  return buffer;
}

int32_t SyncOutputWord(int output, bool on) {
  return (on ? 47 : 48) | ((output + 7) << 8);
}

}  // namespace kelvro::sim
