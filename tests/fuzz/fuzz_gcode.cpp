// Parses arbitrary text as a part program on the default machine.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/gcode.h"
#include "sim/machine_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const kelvro::sim::Machine machine = [] {
    kelvro::sim::Machine m;
    return m;
  }();
  kelvro::sim::GcodeProgram program;
  std::string error;
  program.Parse(std::string_view(reinterpret_cast<const char*>(data), size), machine, &error);
  return 0;
}
