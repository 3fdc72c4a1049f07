// The map window's render at its size at normal font size, 440 x 370 pixels, on the board
// map of the examples, in both palettes: 2 ms or less on the development machine.
#include <benchmark/benchmark.h>

#include <string>

#include "host/host.h"
#include "sim/fake_host.h"
#include "sim/scripted_platform.h"
#include "ui/zmap_image.h"
#include "zcorr/z_map.h"

namespace kelvro {
namespace {

void BM_RenderZMap(benchmark::State& state) {
  sim::FakeHost fake;
  sim::ScriptedPlatform platform;
  const Host host = fake.MakeHost(&platform);
  ZCorrectionMap map;
  if (!map.LoadZCorrectionFile(std::string(KELVRO_SOURCE_DIR) + "/examples/board_20x15.zmap",
                               kZNormalHighest, platform, host)) {
    state.SkipWithError("map not loaded");
    return;
  }
  const auto palette = static_cast<ZMapPalette>(state.range(0));
  for (auto _ : state) {
    PixelImage image = RenderZMapImage(map, palette, 440, 370);
    benchmark::DoNotOptimize(image.pixels.data());
  }
}
BENCHMARK(BM_RenderZMap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvro

BENCHMARK_MAIN();
