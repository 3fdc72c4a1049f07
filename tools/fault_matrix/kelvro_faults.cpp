// kelvro-faults: the fault matrix. Runs a part program through the plugin against the
// simulated controller with one fault per run and prints what the user sees and whether
// every expectation held. See "Fault matrix" in README.md.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tools/fault_matrix/fault_matrix.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadInput = 3;
constexpr size_t kMaxFailureLines = 100;

const char kUsage[] =
    "usage: kelvro-faults [PROGRAM] [--stride N] [--seeds N]\n"
    "  PROGRAM     part program to run (default: examples/ten_seconds.nc of the source tree)\n"
    "  --stride N  inject the disconnects at every N-th tick and the segment write failures\n"
    "              at every N-th write (default 1: all of them)\n"
    "  --seeds N   runs per rate of lost or corrupted status reports (default 10)\n"
    "Exit status: 0 when every check passed, 1 when one failed, 2 for a usage error,\n"
    "3 when the program cannot be run at all.\n";

bool ParseCount(const char* text, int low, int high, int* value) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  *value = static_cast<int>(v);
  return true;
}

int Usage(const std::string& why) {
  std::fprintf(stderr, "kelvro-faults: %s\n%s", why.c_str(), kUsage);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  kelvro::sim::faults::MatrixOptions options;
  options.program_path = KELVRO_DEFAULT_PROGRAM;
  bool program_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--stride" || arg == "--seeds") {
      if (i + 1 >= argc) return Usage(arg + " needs a number");
      int* target = arg == "--stride" ? &options.stride : &options.seeds;
      if (!ParseCount(argv[++i], 1, 100000, target)) {
        return Usage(arg + " takes a whole number from 1 to 100000, not \"" + argv[i] + "\"");
      }
      continue;
    }
    if (!arg.empty() && arg[0] == '-') return Usage("unknown option " + arg);
    if (program_given) return Usage("only one program, please");
    options.program_path = arg;
    program_given = true;
  }
  if (!program_given) {
    // Named from the working folder when it lies below it, as a user would type it.
    std::error_code ec;
    const std::filesystem::path relative =
        std::filesystem::relative(options.program_path, std::filesystem::current_path(ec), ec);
    if (!ec && !relative.empty() && *relative.begin() != "..") options.program_path = relative;
  }
  if (isatty(STDERR_FILENO)) {
    options.progress = [](const std::string& what) {
      std::fprintf(stderr, "kelvro-faults: %s\n", what.c_str());
    };
  }

  kelvro::sim::faults::MatrixReport report;
  std::string error;
  if (!kelvro::sim::faults::RunMatrix(options, &report, &error)) {
    std::fprintf(stderr, "kelvro-faults: %s\n", error.c_str());
    return kExitBadInput;
  }
  std::fputs(report.table.c_str(), stdout);
  std::fputs("\n", stdout);
  std::fputs(report.summary.c_str(), stdout);
  if (report.all_passed) {
    std::fputs("Every check passed.\n", stdout);
    return 0;
  }
  std::fputs("\nFailed checks:\n", stdout);
  size_t lines = 0;
  size_t start = 0;
  while (start < report.failures.size()) {
    size_t end = report.failures.find('\n', start);
    if (end == std::string::npos) end = report.failures.size();
    if (lines < kMaxFailureLines) {
      std::fwrite(report.failures.data() + start, 1, end - start, stdout);
      std::fputc('\n', stdout);
    }
    ++lines;
    start = end + 1;
  }
  if (lines > kMaxFailureLines) {
    std::printf("... and %zu more\n", lines - kMaxFailureLines);
  }
  return kExitFailed;
}
