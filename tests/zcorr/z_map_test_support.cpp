#include "tests/zcorr/z_map_test_support.h"

#include <cstdio>
#include <numeric>

namespace kelvro::test {

std::string WriteFile(const TempDir& dir, std::string_view name, std::string_view content) {
  const std::string path = dir.File(std::string(name));
  EXPECT_TRUE(WriteBytes(path, std::string(content))) << path;
  return path;
}

bool ZMapTest::LoadText(std::string_view text, int z_normal) {
  const std::string path =
      WriteFile(dir, "points" + std::to_string(files_written++) + ".txt", text);
  return map.LoadZCorrectionFile(path, z_normal, platform, host);
}

std::string GridText(const std::vector<double>& xs, const std::vector<double>& ys,
                     const std::function<double(double, double)>& z,
                     const std::vector<size_t>& order) {
  std::vector<size_t> indices = order;
  if (indices.empty()) {
    indices.resize(xs.size() * ys.size());
    std::iota(indices.begin(), indices.end(), size_t{0});
  }
  std::string text;
  char line[128];
  for (size_t i : indices) {
    const double x = xs[i % xs.size()];
    const double y = ys[i / xs.size()];
    std::snprintf(line, sizeof line, "%.17g,%.17g,%.17g\n", x, y, z(x, y));
    text += line;
  }
  return text;
}

}  // namespace kelvro::test
