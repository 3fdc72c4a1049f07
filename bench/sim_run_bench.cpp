// The simulation run of a ten-minute program (examples/long_engraving.nc): the whole chain
// (stand-in host, plugin, simulated controller) on virtual time. The counter real_time_ratio
// is simulated seconds per wall-clock second; the goal is at least 60.
#include <benchmark/benchmark.h>

#include <string>

#include "tools/sim_run.h"

namespace {

using kelvro::sim::RunOptions;
using kelvro::sim::RunResult;
using kelvro::sim::RunStatus;
using kelvro::sim::SimRun;

void RunLongEngraving(benchmark::State& state, bool jitter, bool plot) {
  RunOptions options;
  options.program_path = std::string(KELVRO_SOURCE_DIR) + "/examples/long_engraving.nc";
  options.faults.jitter = jitter;
  options.record_plot = plot;
  double sim_seconds = 0.0;
  double wall_seconds = 0.0;
  for (auto _ : state) {
    const RunResult result = SimRun(options).Execute();
    if (result.status != RunStatus::kCompleted || !result.PositionsMatch()) {
      state.SkipWithError(("the run did not complete: " + result.error).c_str());
      return;
    }
    sim_seconds += result.sim_seconds;
    wall_seconds += result.wall_seconds;
    benchmark::DoNotOptimize(result.segments_executed);
  }
  state.counters["sim_seconds"] = sim_seconds / static_cast<double>(state.iterations());
  state.counters["real_time_ratio"] = wall_seconds > 0.0 ? sim_seconds / wall_seconds : 0.0;
}

void BM_LongEngraving(benchmark::State& state) {
  RunLongEngraving(state, false, false);
}
void BM_LongEngravingJitterAndPlotData(benchmark::State& state) {
  RunLongEngraving(state, true, true);
}

BENCHMARK(BM_LongEngraving)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LongEngravingJitterAndPlotData)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
