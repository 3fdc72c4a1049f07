// Loads arbitrary bytes as the host's profile and saves the settings back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "settings/plugin_settings.h"
#include "sim/scripted_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/kelvro_fuzz_profile_" + std::to_string(getpid()) + ".xml";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  kelvro::sim::ScriptedPlatform platform;
  kelvro::PluginSettings settings;
  kelvro::LoadSettingsFromProfile(settings, path, platform);
  settings.thc_lp_freq += 1;
  kelvro::SaveSettingsToProfile(settings, path, platform);
  std::remove(path.c_str());
  return 0;
}
