// Shared pieces of the Z correction map tests: point files in a temporary folder, a map
// with a fake host and scripted messages around it, and point-file text built from a grid.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "sim/fake_host.h"
#include "sim/scripted_platform.h"
#include "tests/settings/profile_test_support.h"
#include "zcorr/z_map.h"

namespace kelvro::test {

// Writes `content` byte for byte into the file `name` of `dir`; returns its path.
std::string WriteFile(const TempDir& dir, std::string_view name, std::string_view content);

// Message texts as the user sees them.
inline constexpr std::string_view kTooFewPointsText =
    "Z correction data must have at least 4 points.";
inline constexpr std::string_view kTooFewRowsText =
    "Z correction data must have at least 2 rows and 2 columns (define rectangle).";
inline constexpr std::string_view kCroppedText =
    "Warning: z point data is not regular X-Y patern, some data is cropped.";
inline constexpr std::string_view kNotAGridText =
    "Z correction data is not a regular X-Y grid (rows must share their Y and columns their X).";
inline constexpr std::string_view kTooLargeText = "Z correction data is too large to load.";
inline constexpr std::string_view kLoadErrorText = "Error loading Z correction file!";

class ZMapTest : public ::testing::Test {
 protected:
  // Writes the text into a file and loads it with `z_normal`.
  bool LoadText(std::string_view text, int z_normal = kZNormalNone);
  std::vector<std::string> Boxes() const { return platform.message_boxes; }
  std::string HostStatus() const { return fake_host.planner->status_text; }

  TempDir dir;
  sim::FakeHost fake_host;
  sim::ScriptedPlatform platform;
  Host host = fake_host.MakeHost(&platform);
  ZCorrectionMap map;
  int files_written = 0;
};

// One grid point per line, "%.17g,%.17g,%.17g\n" (so the doubles read back exactly), in
// the order given by `order` (indices into the row-major grid; all of them when empty).
std::string GridText(const std::vector<double>& xs, const std::vector<double>& ys,
                     const std::function<double(double, double)>& z,
                     const std::vector<size_t>& order = {});

}  // namespace kelvro::test
