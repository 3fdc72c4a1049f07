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
};

// Reads the arguments after the program name. False with a message for a usage error
// (unknown command or option, missing or malformed value).
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error);

std::string UsageText();

// "png" or "svg" from the file name's extension (any case); empty for anything else.
std::string PlotFormat(const std::string& path);

}  // namespace kelvro::sim
