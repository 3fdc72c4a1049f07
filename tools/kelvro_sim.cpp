// kelvro-sim: runs a part program through the plugin against the simulated controller and
// tells a person how it went. See "The simulation run" in README.md.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/fake_host.h"
#include "sim/scripted_platform.h"
#include "tools/command_line.h"
#include "tools/plot.h"
#include "tools/png_file.h"
#include "tools/progress_bar.h"
#include "tools/run_report.h"
#include "tools/sim_run.h"
#include "tools/zmap_picture.h"
#include "zcorr/z_map.h"

namespace {

using namespace kelvro::sim;

constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;

// An output file can be written: its folder exists and is writable, and it is no folder.
bool CheckOutputPath(const std::string& path, const char* what, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    *error = std::string("cannot write the ") + what + " \"" + path + "\": it is a folder";
    return false;
  }
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, ec)) {
    *error = std::string("cannot write the ") + what + " \"" + path + "\": folder \"" +
             folder.string() + "\" does not exist";
    return false;
  }
  if (access(folder.c_str(), W_OK) != 0) {
    *error = std::string("cannot write the ") + what + " \"" + path + "\": folder \"" +
             folder.string() + "\" is not writable";
    return false;
  }
  return true;
}

// Loads a point file as the plugin does and prints what the Z correction page shows; with
// --render also writes the map window's picture of it.
int ShowZMap(const CommandLine& line) {
  const std::string& path = line.zmap_path;
  const int z_normal = line.zmap_normal;
  std::string error;
  if (!line.render_path.empty() && !CheckOutputPath(line.render_path, "picture", &error)) {
    std::fprintf(stderr, "kelvro-sim: %s\n", error.c_str());
    return kExitBadInput;
  }
  kelvro::sim::FakeHost fake;
  kelvro::sim::ScriptedPlatform platform;
  const kelvro::Host host = fake.MakeHost(&platform);
  kelvro::ZCorrectionMap map;
  const bool loaded = map.LoadZCorrectionFile(path, z_normal, platform, host);
  for (const std::string& box : platform.message_boxes) {
    std::fprintf(loaded ? stdout : stderr, "kelvro-sim: %s\n", box.c_str());
  }
  if (!loaded) {
    if (platform.message_boxes.empty()) {
      std::fprintf(stderr, "kelvro-sim: cannot read the point file \"%s\"\n", path.c_str());
    }
    return kExitBadInput;
  }
  std::printf("%s\n", fake.planner->status_text);
  std::fputs(kelvro::ZMapStatisticsText(map).c_str(), stdout);
  std::printf("\n");
  if (line.render_path.empty()) return 0;
  const kelvro::PixelImage picture =
      kelvro::RenderZMapPicture(map, static_cast<kelvro::ZMapPalette>(line.render_palette),
                                line.render_width, line.render_height);
  if (!kelvro::WritePngFile(line.render_path, picture, error)) {
    std::fprintf(stderr, "kelvro-sim: cannot write the picture %s\n", error.c_str());
    return kExitBadInput;
  }
  std::printf("picture: %s (%d x %d)\n", line.render_path.c_str(), picture.width, picture.height);
  return 0;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "kelvro-sim: %s\n", message.c_str());
  return kExitBadInput;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  CommandLine line;
  std::string error;
  if (!ParseCommandLine(args, &line, &error)) {
    std::fprintf(stderr, "kelvro-sim: %s\n\n%s", error.c_str(), UsageText().c_str());
    return kExitUsage;
  }
  if (line.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (line.command == CommandLine::Command::kZmap) return ShowZMap(line);

  // Everything that can be checked before a long run is checked first.
  if (!line.json_path.empty() && !CheckOutputPath(line.json_path, "JSON summary", &error)) {
    return Fail(error);
  }
  if (!line.run.trace_path.empty() && !CheckOutputPath(line.run.trace_path, "trace", &error)) {
    return Fail(error);
  }
  if (!line.plot_path.empty()) {
    if (!CheckOutputPath(line.plot_path, "plot", &error)) return Fail(error);
    if (FindGnuplot().empty()) {
      return Fail("--plot needs gnuplot, which is not installed (Debian package gnuplot-nox)");
    }
  }

  if (!line.burn_path.empty() && !CheckOutputPath(line.burn_path, "burn picture", &error)) {
    return Fail(error);
  }

  ProgressBar bar(stderr, isatty(fileno(stderr)) != 0);
  line.run.progress = [&bar](double sim, double planned) { bar.Update(sim, planned); };
  SimRun run(line.run);
  RunResult result = run.Execute();
  bar.Finish();
  if (result.status == RunStatus::kBadInput) return Fail(result.error);

  if (!line.json_path.empty()) {
    std::ofstream json(line.json_path, std::ios::binary | std::ios::trunc);
    json << FormatJson(result);
    json.flush();
    if (!json && result.output_error.empty()) {
      result.output_error = "writing the JSON summary \"" + line.json_path + "\" failed";
    }
  }
  if (!line.plot_path.empty()) {
    std::string plot_error;
    if (!WritePlot(result, line.plot_path, &plot_error) && result.output_error.empty()) {
      result.output_error = plot_error;
    }
  }
  if (!line.burn_path.empty()) {
    std::string burn_error;
    if (!result.laser) {
      burn_error = "no burn picture: the laser's beam was never on";
    } else if (!WritePngFile(line.burn_path, result.laser->burn.Render(), burn_error)) {
      burn_error = "writing the burn picture: " + burn_error;
    }
    if (!burn_error.empty() && result.output_error.empty()) result.output_error = burn_error;
  }
  std::fputs(FormatSummary(result).c_str(), stdout);
  if (!line.burn_path.empty() && result.output_error.empty()) {
    std::printf("  %-16s%s\n", "burn", line.burn_path.c_str());
  }
  if (!line.plot_path.empty() && result.output_error.empty()) {
    std::printf("  %-16s%s\n", "plot", line.plot_path.c_str());
  }
  std::fflush(stdout);
  if (!result.output_error.empty()) {
    std::fprintf(stderr, "kelvro-sim: %s\n", result.output_error.c_str());
  }
  if (result.status != RunStatus::kCompleted) {
    std::fprintf(stderr, "kelvro-sim: the run stopped: %s\n", result.error.c_str());
  } else if (!result.PositionsMatch()) {
    std::fprintf(stderr, "kelvro-sim: the executed position differs from the planned one\n");
  }
  return ExitStatus(result);
}
