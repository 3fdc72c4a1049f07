// A connected stand-in host with the small mill and the simulated controller, for the
// jogging, homing and probing scenarios. The simulator's trace (commands with their payload
// bytes) and its own axis positions are the independent record of what the plugin did.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/plugin.h"
#include "sim/standin_host.h"

namespace kelvro::sim::test {

inline constexpr int kButtonProbeFailed = 1003;

class ScenarioTest : public ::testing::Test {
 public:
  void SetUp() override {
    host.DescribeMill();
    host.StartUp();
    Connect();
  }

  void Connect() {
    ASSERT_EQ(host.Reset(), 0xFFFF);
    ASSERT_TRUE(host.plugin().link().connected());
    host.Run(200);
    ClearRecords();
  }

  void ClearRecords() {
    host.controller().trace().Clear();
    host.platform().status_texts.clear();
    host.platform().message_boxes.clear();
    host.buttons.clear();
  }

  std::vector<const TraceEntry*> Commands(std::string_view name) {
    return host.controller().trace().Find(TraceKind::kCommand, name);
  }
  size_t CommandCount(std::string_view name) {
    return host.controller().trace().Count(TraceKind::kCommand, name);
  }
  bool SawStatus(std::string_view text) {
    const auto& texts = host.platform().status_texts;
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
  int ButtonCount(int button) const {
    return static_cast<int>(std::count(host.buttons.begin(), host.buttons.end(), button));
  }
  const StatusPacket& LastPacket() { return host.plugin().tick().decoder().last(); }

  HostOf<Plugin> host;
};

// A directory of its own under the system temporary directory, removed afterwards.
class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("kelvro_jhp_") + info->test_suite_name() + "_" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t start = 0;
  while (start < all.size()) {
    const size_t end = all.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(all.substr(start) + "<no newline>");
      break;
    }
    lines.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

inline std::string Printf(const char* format, double a, double b = 0, double c = 0, double d = 0,
                          double e = 0, double f = 0) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, a, b, c, d, e, f);
  return buffer;
}

inline int32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<int32_t>(static_cast<uint32_t>(bytes[offset]) |
                              (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
                              (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
                              (static_cast<uint32_t>(bytes[offset + 3]) << 24));
}

}  // namespace kelvro::sim::test
