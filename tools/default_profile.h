// The built-in default machine of kelvro-sim: the text of examples/machine.xml as it was
// when the program was built.
#pragma once

namespace kelvro::sim {

inline constexpr const char* kDefaultProfileName = "built-in default (examples/machine.xml)";

const char* DefaultProfileText();

}  // namespace kelvro::sim
