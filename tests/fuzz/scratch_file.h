// A scratch file per fuzzing process for targets whose parser reads from a path: in memory
// (/dev/shm) where the machine has it, so that the file system does not set the rate.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kelvro::fuzz {

inline std::string ScratchPath(const char* tag) {
  static const bool in_memory = access("/dev/shm", W_OK) == 0;
  return std::string(in_memory ? "/dev/shm" : "/tmp") + "/kelvro_fuzz_" + tag + "_" +
         std::to_string(getpid());
}

// Writes the input to the scratch file; false when it could not be written whole.
inline bool WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool whole = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && whole;
}

}  // namespace kelvro::fuzz
