// The command line of kelvro-sim.
#pragma once

#include <string>
#include <vector>

#include "tools/sim_run.h"

namespace kelvro::sim {

struct CommandLine {
  enum class Command { kRun, kZmap };
  Command command = Command::kRun;
  bool help = false;
  RunOptions run;
  std::string json_path;
  std::string plot_path;
  std::string burn_path;  // the laser's burn picture (.png); empty: none
  // kZmap: the point file and its normalisation.
  std::string zmap_path;
  int zmap_normal = 1;
  // kZmap --render WxH --palette P --out FILE: the map window's picture of the map (the map
  // in the top-left W x H pixels, the legend to its right) written as a PNG file.
  int render_width = 0;
  int render_height = 0;
  int render_palette = 1;  // 0 greyscale, 1 rainbow
  std::string render_path;
};

// Reads the arguments after the program name. False with a message for a usage error
// (unknown command or option, missing or malformed value).
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error);

std::string UsageText();

// "png" or "svg" from the file name's extension (any case); empty for anything else.
std::string PlotFormat(const std::string& path);

}  // namespace kelvro::sim
