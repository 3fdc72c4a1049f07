#include "tools/command_line.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <utility>
#include <vector>

namespace kelvro::sim {
namespace {

// Larger pictures are no use on a screen and would take gigabytes.
constexpr int kMaxRenderSide = 8192;

bool ParseReal(const std::string& text, double* value) {
  if (text.empty()) return false;
  const char* begin = text.data();
  if (*begin == '+') ++begin;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(begin, end, *value);
  return ec == std::errc() && stop == end && std::isfinite(*value);
}

// "X,Y,Z" or "X,Y,Z,A,B,C".
bool ParseOffset(const std::string& text, Position* offset) {
  std::vector<double> values;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    double value = 0.0;
    if (!ParseReal(text.substr(start, comma - start), &value) || std::fabs(value) > 1e9) {
      return false;
    }
    values.push_back(value);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (values.size() != 3 && values.size() != static_cast<size_t>(kAxisCount)) return false;
  *offset = Position{};
  for (size_t k = 0; k < values.size(); ++k) (*offset)[k] = values[k];
  return true;
}

// "N:LENGTH" with a tool number from 1 to kMaxTool.
bool ParseTool(const std::string& text, std::pair<int, double>* tool) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  const std::string number = text.substr(0, colon);
  int value = 0;
  const char* end = number.data() + number.size();
  const auto [stop, ec] = std::from_chars(number.data(), end, value);
  if (number.empty() || ec != std::errc() || stop != end || value < 1 || value > kMaxTool) {
    return false;
  }
  double length = 0.0;
  if (!ParseReal(text.substr(colon + 1), &length) || std::fabs(length) > 1e9) return false;
  *tool = {value, length};
  return true;
}

// "WxH" with both sides from 1 to kMaxRenderSide.
bool ParseSize(const std::string& text, int* width, int* height) {
  const size_t x = text.find('x');
  if (x == std::string::npos) return false;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [w_end, w_ec] = std::from_chars(begin, begin + x, *width);
  const auto [h_end, h_ec] = std::from_chars(begin + x + 1, end, *height);
  return w_ec == std::errc() && w_end == begin + x && h_ec == std::errc() && h_end == end &&
         *width >= 1 && *height >= 1 && *width <= kMaxRenderSide && *height <= kMaxRenderSide;
}

bool ParseSeed(const std::string& text, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && stop == end;
}

}  // namespace

std::string UsageText() {
  return "Usage: kelvro-sim run PROGRAM [options]\n"
         "       kelvro-sim zmap FILE [--znormal N] [--render WxH [--palette P] --out FILE.png]\n"
         "\n"
         "run: runs a part program through the KELVRO plugin against the simulated controller\n"
         "and prints a summary of the run.\n"
         "zmap: loads a Z correction point file as the plugin does and prints what the Z\n"
         "correction page shows (exit status 1 when the plugin would refuse the file); with\n"
         "--render it also draws the map as the plugin's map window does: the map in the\n"
         "top-left W x H pixels of the PNG file, the legend to its right, in the palette P\n"
         "(greyscale or rainbow, default rainbow).\n"
         "\n"
         "Options:\n"
         "  --profile FILE        machine profile (XML, \"Preferences\" section); the plugin\n"
         "                        saves its settings into it at the end. Default: the\n"
         "                        program's own machine file beside it (PROGRAM with .xml),\n"
         "                        else the built-in machine (examples/machine.xml), either\n"
         "                        on a temporary copy\n"
         "  --json FILE           write the summary as JSON\n"
         "  --trace FILE          write the controller's trace as JSON lines\n"
         "  --plot FILE           draw the executed tool path and the queue fill (.png or .svg,\n"
         "                        needs gnuplot)\n"
         "  --burn FILE.png       draw what the laser burned: one pixel per cell of the work\n"
         "                        plane, X to the right, Y up, more energy darker\n"
         "  --burn-pixel MM       the cell size of --burn in machine units (default 0.1)\n"
         "  --jitter              host timer periods of 15 to 40 ms with occasional stalls of\n"
         "                        200 to 600 ms\n"
         "  --lose-rate R         lose each status report with probability R (0..1)\n"
         "  --corrupt-rate R      corrupt each status report with probability R (0..1)\n"
         "  --disconnect-at SECONDS\n"
         "                        unplug the controller at this simulated time\n"
         "  --seed N              seed of the fault generators (default 1)\n"
         "  --work-offset X,Y,Z[,A,B,C]\n"
         "                        the G54 work zero in machine coordinates (replaces the\n"
         "                        profile's)\n"
         "  --tool N:LENGTH       length of tool N (1..255) for G43/G44, machine units; may be\n"
         "                        given for several tools\n"
         "  --zmap FILE           Z correction point file: loaded through the plugin and\n"
         "                        correction enabled before the program starts\n"
         "  --zstart 0|1|2        Z correction start: 0 keep Z (default), 1 move to the\n"
         "                        corrected Z, 2 move to SafeZ\n"
         "  --znormal 0..3        normalisation: 0 none, 1 to the highest point (default),\n"
         "                        2 to the lowest, 3 to the middle\n"
         "  --thc-log DIR         plasma machines: switch the plugin's voltage log on (as the\n"
         "                        THC page does); it writes DIR/thc_voltage.log\n"
         "  --status-log FILE     write the lines the plugin's status window shows, one block\n"
         "                        per status report (about every 25 ms)\n"
         "  --status-log-every N  with --status-log: one block every N reports (default 1)\n"
         "  --arc-fail N          plasma machines: the Nth torch start (from 1) never strikes\n"
         "                        an arc\n"
         "  --arc-loss T          plasma machines: the arc goes out T seconds after the\n"
         "                        program's start (or when it next burns)\n"
         "  --controller-version TEXT\n"
         "                        the firmware version the simulated controller reports (up\n"
         "                        to 5 characters; default 01.22, the plugin's own): another\n"
         "                        one makes the plugin offer the firmware update\n"
         "  --update yes|no       the answer to the plugin's update question (default yes)\n"
         "  --fw-fault erase|chunk:N|no-reply:N|never-returns\n"
         "                        a fault of the simulated controller during the update: a\n"
         "                        wrong reply to the erase or to write N (from 0), no reply\n"
         "                        to write N, or a controller that never comes back after\n"
         "                        the new image; may be given several times\n"
         "  --render WxH          zmap: draw the map W x H pixels large (with --out)\n"
         "  --palette greyscale|rainbow\n"
         "                        zmap: the map's palette (default rainbow)\n"
         "  --out FILE.png        zmap: the PNG file the picture is written to\n"
         "  -h, --help            show this text\n"
         "\n"
         "Exit status: 0 the program ran to the end and the executed position equals the\n"
         "planned one; 1 bad input or an output file could not be written; 2 usage error;\n"
         "3 the run stopped early or ended somewhere else than planned.\n";
}

std::string PlotFormat(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".png") return "png";
  if (ext == ".svg") return "svg";
  return {};
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error) {
  CommandLine line;
  size_t i = 0;
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help" || args[0] == "help")) {
    line.help = true;
    *out = line;
    return true;
  }
  if (args.empty()) {
    *error = "no command given";
    return false;
  }
  if (args[0] == "zmap") {
    line.command = CommandLine::Command::kZmap;
  } else if (args[0] != "run") {
    *error = "unknown command \"" + args[0] + "\"";
    return false;
  }
  const bool zmap_command = line.command == CommandLine::Command::kZmap;
  ++i;
  bool have_program = false;
  bool only_files = false;
  for (; i < args.size(); ++i) {
    std::string arg = args[i];
    if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
      std::string& file = zmap_command ? line.zmap_path : line.run.program_path;
      if (have_program) {
        *error = std::string(zmap_command ? "more than one point file" : "more than one program") +
                 " given (\"" + file + "\" and \"" + arg + "\")";
        return false;
      }
      file = arg;
      have_program = true;
      continue;
    }
    if (arg == "--") {
      only_files = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      line.help = true;
      continue;
    }
    // --option=value or --option value.
    std::string value;
    bool inline_value = false;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      inline_value = true;
    }
    auto take_value = [&](std::string* target) {
      if (inline_value) {
        *target = value;
      } else if (i + 1 < args.size()) {
        *target = args[++i];
      } else {
        *error = "option " + arg + " needs a value";
        return false;
      }
      if (target->empty()) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      return true;
    };
    auto take_rate = [&](double* rate) {
      std::string text;
      if (!take_value(&text)) return false;
      if (!ParseReal(text, rate) || *rate < 0.0 || *rate > 1.0) {
        *error = "option " + arg + " needs a probability from 0 to 1 (got \"" + text + "\")";
        return false;
      }
      return true;
    };

    auto take_int = [&](int* target, int low, int high) {
      std::string text;
      if (!take_value(&text)) return false;
      int value = 0;
      const char* end = text.data() + text.size();
      const auto [stop, ec] = std::from_chars(text.data(), end, value);
      if (ec != std::errc() || stop != end || value < low || value > high) {
        *error = "option " + arg + " needs a whole number from " + std::to_string(low) + " to " +
                 std::to_string(high) + " (got \"" + text + "\")";
        return false;
      }
      *target = value;
      return true;
    };
    if (zmap_command && arg != "--znormal" && arg != "--render" && arg != "--palette" &&
        arg != "--out") {
      *error = "unknown option \"" + args[i] + "\" for zmap";
      return false;
    }

    if (arg == "--znormal") {
      if (!take_int(zmap_command ? &line.zmap_normal : &line.run.znormal, 0, 3)) return false;
    } else if (zmap_command && arg == "--render") {
      std::string text;
      if (!take_value(&text)) return false;
      if (!ParseSize(text, &line.render_width, &line.render_height)) {
        *error = "option --render needs a size WxH from 1x1 to " + std::to_string(kMaxRenderSide) +
                 "x" + std::to_string(kMaxRenderSide) + " (got \"" + text + "\")";
        return false;
      }
    } else if (zmap_command && arg == "--palette") {
      std::string text;
      if (!take_value(&text)) return false;
      if (text != "greyscale" && text != "rainbow") {
        *error = "option --palette needs greyscale or rainbow (got \"" + text + "\")";
        return false;
      }
      line.render_palette = text == "greyscale" ? 0 : 1;
    } else if (zmap_command && arg == "--out") {
      if (!take_value(&line.render_path)) return false;
    } else if (arg == "--zstart") {
      if (!take_int(&line.run.zstart, 0, 2)) return false;
    } else if (arg == "--zmap") {
      if (!take_value(&line.run.zmap_path)) return false;
    } else if (arg == "--jitter") {
      if (inline_value) {
        *error = "option --jitter takes no value";
        return false;
      }
      line.run.faults.jitter = true;
    } else if (arg == "--profile") {
      if (!take_value(&line.run.profile_path)) return false;
    } else if (arg == "--json") {
      if (!take_value(&line.json_path)) return false;
    } else if (arg == "--trace") {
      if (!take_value(&line.run.trace_path)) return false;
    } else if (arg == "--plot") {
      if (!take_value(&line.plot_path)) return false;
      if (PlotFormat(line.plot_path).empty()) {
        *error = "the plot file must end in .png or .svg (got \"" + line.plot_path + "\")";
        return false;
      }
    } else if (arg == "--burn") {
      if (!take_value(&line.burn_path)) return false;
      if (PlotFormat(line.burn_path) != "png") {
        *error = "the burn picture must end in .png (got \"" + line.burn_path + "\")";
        return false;
      }
    } else if (arg == "--burn-pixel") {
      std::string text;
      double pixel = 0.0;
      if (!take_value(&text)) return false;
      if (!ParseReal(text, &pixel) || pixel < 0.001 || pixel > 1000.0) {
        *error = "option --burn-pixel needs a cell size from 0.001 to 1000 machine units (got \"" +
                 text + "\")";
        return false;
      }
      line.run.burn_pixel = pixel;
    } else if (arg == "--lose-rate") {
      if (!take_rate(&line.run.faults.lose_rate)) return false;
    } else if (arg == "--corrupt-rate") {
      if (!take_rate(&line.run.faults.corrupt_rate)) return false;
    } else if (arg == "--disconnect-at") {
      std::string text;
      if (!take_value(&text)) return false;
      double seconds = 0.0;
      if (!ParseReal(text, &seconds) || seconds < 0.0 || seconds > 1e7) {
        *error = "option --disconnect-at needs a time in seconds from 0 to 10000000 (got \"" +
                 text + "\")";
        return false;
      }
      line.run.faults.disconnect_at_seconds = seconds;
    } else if (arg == "--work-offset") {
      std::string text;
      if (!take_value(&text)) return false;
      Position offset{};
      if (!ParseOffset(text, &offset)) {
        *error = "option --work-offset needs X,Y,Z or X,Y,Z,A,B,C in machine units (got \"" + text +
                 "\")";
        return false;
      }
      line.run.g54_offset = offset;
    } else if (arg == "--tool") {
      std::string text;
      if (!take_value(&text)) return false;
      std::pair<int, double> tool;
      if (!ParseTool(text, &tool)) {
        *error = "option --tool needs N:LENGTH, a tool number from 1 to " +
                 std::to_string(kMaxTool) + " and its length in machine units (got \"" + text +
                 "\")";
        return false;
      }
      line.run.tool_lengths.push_back(tool);
    } else if (arg == "--status-log") {
      if (!take_value(&line.run.status_log_path)) return false;
    } else if (arg == "--status-log-every") {
      int every = 1;
      if (!take_int(&every, 1, 1000000)) return false;
      line.run.status_log_every = static_cast<uint32_t>(every);
    } else if (arg == "--thc-log") {
      if (!take_value(&line.run.thc_log_dir)) return false;
    } else if (arg == "--arc-fail") {
      int start = 0;
      if (!take_int(&start, 1, 1000000)) return false;
      line.run.arc_fail = start;
    } else if (arg == "--arc-loss") {
      std::string text;
      double seconds = 0.0;
      if (!take_value(&text)) return false;
      if (!ParseReal(text, &seconds) || seconds < 0.0 || seconds > 1e7) {
        *error = "option --arc-loss needs a time from 0 to 10000000 seconds (got \"" + text + "\")";
        return false;
      }
      line.run.arc_loss_seconds = seconds;
    } else if (arg == "--controller-version") {
      std::string text;
      if (!take_value(&text)) return false;
      const bool printable =
          std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
      if (text.size() > 5 || !printable) {
        *error =
            "option --controller-version needs a version text of 1 to 5 printable "
            "characters, as \"01.20\" (got \"" +
            text + "\")";
        return false;
      }
      line.run.controller_version = text;
    } else if (arg == "--update") {
      std::string text;
      if (!take_value(&text)) return false;
      if (text != "yes" && text != "no") {
        *error = "option --update needs yes or no (got \"" + text + "\")";
        return false;
      }
      line.run.update_answer_yes = text == "yes";
    } else if (arg == "--fw-fault") {
      std::string text;
      if (!take_value(&text)) return false;
      if (!ParseSimFlashFault(text, line.run.flash_faults)) {
        *error = "option --fw-fault needs erase, chunk:N, no-reply:N or never-returns (got \"" +
                 text + "\")";
        return false;
      }
    } else if (arg == "--seed") {
      std::string text;
      if (!take_value(&text)) return false;
      if (!ParseSeed(text, &line.run.faults.seed)) {
        *error = "option --seed needs a whole number from 0 to 18446744073709551615 (got \"" +
                 text + "\")";
        return false;
      }
    } else {
      *error = "unknown option \"" + args[i] + "\"";
      return false;
    }
  }
  if (!line.help && !have_program) {
    *error = zmap_command ? "no point file given" : "no part program given";
    return false;
  }
  if (!line.help && (line.render_width > 0) != !line.render_path.empty()) {
    *error = line.render_path.empty() ? "option --render needs --out FILE.png"
                                      : "option --out needs --render WxH";
    return false;
  }
  line.run.record_plot = !line.plot_path.empty();
  *out = line;
  return true;
}

}  // namespace kelvro::sim
