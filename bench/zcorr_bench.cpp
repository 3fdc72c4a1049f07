// ZCorrectionAt per query on the 20 x 15 board map of the examples (evenly spaced, 5 mm
// pitch), at random points of which a quarter lie outside the grid rectangle, and on the
// same grid with one column moved so that the cells are found by binary search. Reports
// the time per query and the heap allocations per query.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench/allocation_counter.h"
#include "host/host.h"
#include "sim/fake_host.h"
#include "sim/scripted_platform.h"
#include "zcorr/z_map.h"

namespace kelvro {
namespace {

constexpr int kQueries = 4096;  // a power of two: the loop wraps with a mask

struct Query {
  double x;
  double y;
};

// Points within the rectangle widened by a third on each side, so that about a quarter
// fall outside.
std::vector<Query> RandomQueries(const ZCorrectionMap& map) {
  std::mt19937_64 rng(42);
  const double w = map.last().x - map.first().x, h = map.last().y - map.first().y;
  std::uniform_real_distribution<double> qx(map.first().x - w / 6, map.last().x + w / 6);
  std::uniform_real_distribution<double> qy(map.first().y - h / 6, map.last().y + h / 6);
  std::vector<Query> queries(kQueries);
  for (Query& q : queries) q = {qx(rng), qy(rng)};
  return queries;
}

void RunQueries(benchmark::State& state, const ZCorrectionMap& map) {
  if (!map.IsZCorrectionLoaded()) {
    state.SkipWithError("map not loaded");
    return;
  }
  const std::vector<Query> queries = RandomQueries(map);
  size_t i = 0;
  double sum = 0.0;
  const uint64_t allocations_before = bench::HeapAllocations();
  for (auto _ : state) {
    const Query& q = queries[i++ & (kQueries - 1)];
    sum += map.ZCorrectionAt(q.x, q.y);
  }
  benchmark::DoNotOptimize(sum);
  state.counters["allocs_per_query"] =
      static_cast<double>(bench::HeapAllocations() - allocations_before) /
      static_cast<double>(state.iterations());
}

void BM_ZCorrectionAtBoard(benchmark::State& state) {
  sim::FakeHost fake;
  sim::ScriptedPlatform platform;
  const Host host = fake.MakeHost(&platform);
  ZCorrectionMap map;
  map.LoadZCorrectionFile(std::string(KELVRO_SOURCE_DIR) + "/examples/board_20x15.zmap",
                          kZNormalHighest, platform, host);
  RunQueries(state, map);
}
BENCHMARK(BM_ZCorrectionAtBoard);

void BM_ZCorrectionAtUnevenGrid(benchmark::State& state) {
  sim::FakeHost fake;
  sim::ScriptedPlatform platform;
  const Host host = fake.MakeHost(&platform);
  // The board's pitch, with the column at X 150 moved to X 151.
  std::string text;
  for (int r = 0; r < 15; ++r) {
    for (int c = 0; c < 20; ++c) {
      const double x = c == 10 ? 151.0 : 100.0 + 5.0 * c;
      text += std::to_string(x) + "," + std::to_string(60.0 + 5.0 * r) + "," +
              std::to_string(0.001 * ((r * 7 + c * 3) % 11)) + "\n";
    }
  }
  const std::string path = "/tmp/kelvro_zcorr_bench_uneven.zmap";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  ZCorrectionMap map;
  map.LoadZCorrectionFile(path, kZNormalNone, platform, host);
  std::remove(path.c_str());
  RunQueries(state, map);
}
BENCHMARK(BM_ZCorrectionAtUnevenGrid);

}  // namespace
}  // namespace kelvro

BENCHMARK_MAIN();
