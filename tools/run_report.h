// What a simulation run prints: the summary for a person and the same as JSON.
#pragma once

#include <string>

#include "tools/sim_run.h"

namespace kelvro::sim {

std::string FormatSummary(const RunResult& result);
std::string FormatJson(const RunResult& result);

// Text as a JSON string literal, quotes included.

// 0 when the program ran to the end and the executed position is the planned one; 1 for bad
// input or an output that could not be written; 3 when the run stopped early or ended
// somewhere else than planned.
int ExitStatus(const RunResult& result);

}  // namespace kelvro::sim
