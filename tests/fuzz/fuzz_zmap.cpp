// Loads arbitrary bytes as a Z correction point file in one of the normalisation modes and
// queries the map inside, outside and at non-finite positions: a loaded map must be a
// proper grid and answer finite values everywhere.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "sim/fake_host.h"
#include "sim/scripted_platform.h"
#include "tests/fuzz/scratch_file.h"
#include "zcorr/z_map.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Probe(const kelvro::ZCorrectionMap& map) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double x0 = map.first().x, x1 = map.last().x, y0 = map.first().y, y1 = map.last().y;
  const double xs[] = {x0,  x1,    (x0 + x1) / 2, x0 + (x1 - x0) / 3, x0 - 1, x1 + 1e6, inf, -inf,
                       nan, 1e308, -1e308};
  const double ys[] = {y0,  y1,    (y0 + y1) / 2, y1 - (y1 - y0) / 7, y0 - 1e6, y1 + 1, inf, -inf,
                       nan, 1e308, -1e308};
  for (double x : xs) {
    for (double y : ys) {
      const double z = map.ZCorrectionAt(x, y);
      Check(std::isfinite(z));
      // Weighted means of grid values: within the map's Z range but for round-off.
      const double slack = 1e-9 * (1.0 + std::fabs(map.z_min()) + std::fabs(map.z_max()));
      Check(z >= map.z_min() - slack && z <= map.z_max() + slack);
    }
  }
  Check(std::isfinite(map.PlaneZAt((x0 + x1) / 2, (y0 + y1) / 2)));
  Check(std::isfinite(map.dev_above()) && std::isfinite(map.dev_below()));
  Check(map.cols() >= 2 && map.rows() >= 2);
  Check(map.points().size() == static_cast<size_t>(map.cols()) * map.rows());
  Check(!kelvro::ZMapStatisticsText(map).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = kelvro::fuzz::ScratchPath("zmap");
  if (!kelvro::fuzz::WriteScratch(path, data, size)) return 0;
  // The host's blocks are large; building them per input would set the rate.
  static kelvro::sim::FakeHost fake;
  static kelvro::sim::ScriptedPlatform platform;
  static const kelvro::Host host = fake.MakeHost(&platform);
  platform.message_boxes.clear();
  platform.status_texts.clear();
  // One map for all inputs, so that each load also replaces the map an earlier input left;
  // the input's length picks the normalisation mode (-1 to 4), so that every mode meets
  // every kind of file without one load per mode.
  static kelvro::ZCorrectionMap map;
  const int z_normal = static_cast<int>(size % 6) - 1;
  const bool loaded = map.LoadZCorrectionFile(path, z_normal, platform, host);
  Check(loaded == map.IsZCorrectionLoaded());
  if (loaded) Probe(map);
  if (!loaded) Check(map.ZCorrectionAt(1.0, 2.0) == 0.0);
  std::remove(path.c_str());
  return 0;
}
