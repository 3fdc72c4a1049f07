// Parses arbitrary text as a part program on a machine that has everything the interpreter
// can use: a probe, a rotary A axis, work offsets, tool lengths and coolant outputs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/gcode.h"
#include "sim/machine_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const kelvro::sim::Machine machine = [] {
    kelvro::sim::Machine m;
    m.probe.pin = 5;
    m.axes[3].enabled = true;
    m.work_offsets[0] = {150.0, 100.0, -60.0, 0.0, 0.0, 0.0};
    m.work_offsets[1] = {-20.0, 5.5, 3.0, 90.0, 0.0, 0.0};
    m.g28_position = {1.0, 2.0, 3.0, 0.0, 0.0, 0.0};
    m.tool_lengths[1] = 12.5;
    m.tool_lengths[255] = -3.0;
    m.flood_output = 1;
    return m;
  }();
  kelvro::sim::GcodeProgram program;
  std::string error;
  program.Parse(std::string_view(reinterpret_cast<const char*>(data), size), machine, &error);
  return 0;
}
