// The picture of a run, drawn by gnuplot: the executed tool path in the XY plane (coloured
// by Z, so cuts and travel moves stand apart) above the controller's queue fill over time.
#pragma once

#include <string>

#include "tools/sim_run.h"

namespace kelvro::sim {

// The gnuplot program on the PATH, or empty when there is none.
std::string FindGnuplot();

// The gnuplot script that draws `data_path` (columns: t x y z fill) into `output_path`.
std::string PlotScript(const RunResult& result, const std::string& data_path,
                       const std::string& output_path, const std::string& format);

// Writes the picture (PNG or SVG by the extension of `path`). False with a message when
// there is nothing to draw, gnuplot is missing or fails.
bool WritePlot(const RunResult& result, const std::string& path, std::string* error);

}  // namespace kelvro::sim
