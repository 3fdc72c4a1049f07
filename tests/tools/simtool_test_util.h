// Helpers for the kelvro-sim tests: a private temporary folder per test, files in it, and a
// run of a program text on the built-in default machine.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/sim_run.h"

namespace kelvro::sim::test {

inline const std::string kExamples = std::string(KELVRO_SOURCE_DIR) + "/examples/";

// The default machine (examples/machine.xml): 1000 steps per mm on X, Y and Z, and the work
// zero of G54 at machine X 150, Y 100, Z -60.
inline constexpr double kStepsPerMm = 1000.0;
inline constexpr double kWorkZero[3] = {150.0, 100.0, -60.0};

// Machine steps of a G54 work coordinate of axis k (0..2) on the default machine.
inline int64_t WorkSteps(int k, double work) {
  return static_cast<int64_t>(std::llround((work + kWorkZero[k]) * kStepsPerMm));
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("kelvro_simtool_") + info->test_suite_name() + "_" +
                       info->name() + "_" + std::to_string(::getpid());
    std::replace(name.begin(), name.end(), '/', '_');
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out << text;
    return File(name);
  }

 private:
  std::filesystem::path path_;
};

// Runs `program` (G-code text) with the given options; the program path is filled in.
inline RunResult RunText(const TempDir& dir, const std::string& program, RunOptions options = {}) {
  options.program_path = dir.Write("program.nc", program);
  return SimRun(options).Execute();
}

// A run with the host's timer jittering or status reports lost, for parameterised tests.
struct FaultCase {
  const char* name;
  bool jitter;
  double lose_rate;

  RunOptions Options(uint64_t seed) const {
    RunOptions options;
    options.faults.jitter = jitter;
    options.faults.lose_rate = lose_rate;
    options.faults.seed = seed;
    return options;
  }
};

inline std::string FaultCaseName(const ::testing::TestParamInfo<FaultCase>& info) {
  return info.param.name;
}

// An example's machine file with the text of one key replaced, written into `dir`.
inline std::string MachineWith(const TempDir& dir, const std::string& machine,
                               const std::string& key, const std::string& value) {
  std::string text = ReadFile(kExamples + machine);
  const std::string open = "<" + key + ">";
  const size_t from = text.find(open);
  EXPECT_NE(from, std::string::npos) << key;
  if (from == std::string::npos) return {};
  const size_t to = text.find("</" + key + ">", from);
  text.replace(from + open.size(), to - from - open.size(), value);
  return dir.Write(machine, text);
}

inline RunResult RunExample(const std::string& file, RunOptions options = {}) {
  options.program_path = kExamples + file;
  return SimRun(options).Execute();
}

}  // namespace kelvro::sim::test
