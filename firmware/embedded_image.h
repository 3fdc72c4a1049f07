// The carried packed image as bytes in the program, for builds without the Windows
// resources (native: the simulation run and the tests). The Windows DLL reads the same file
// from its resource "BIN" 1013 instead and has no such array.
#pragma once

#include <cstdint>
#include <span>

namespace kelvro {

std::span<const uint8_t> EmbeddedPackedImage();

}  // namespace kelvro
