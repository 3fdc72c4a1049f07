// Loads arbitrary bytes as the host's profile and saves the settings back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "settings/plugin_settings.h"
#include "sim/scripted_platform.h"
#include "tests/fuzz/scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = kelvro::fuzz::ScratchPath("profile");
  if (!kelvro::fuzz::WriteScratch(path, data, size)) return 0;
  static kelvro::sim::ScriptedPlatform platform;
  platform.message_boxes.clear();
  platform.status_texts.clear();
  kelvro::PluginSettings settings;
  kelvro::LoadSettingsFromProfile(settings, path, platform);
  settings.thc_lp_freq += 1;
  kelvro::SaveSettingsToProfile(settings, path, platform);
  std::remove(path.c_str());
  return 0;
}
