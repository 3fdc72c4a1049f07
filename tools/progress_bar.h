// A progress bar on stderr for runs that take more than a second of wall time.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace kelvro::sim {

// "[##########..........]  50%  30.0 of 60.0 s simulated" in at most `width` characters.
std::string FormatProgress(double sim_seconds, double planned_seconds, int width);

class ProgressBar {
 public:
  // Draws nothing unless `enabled` (stderr is a terminal).
  ProgressBar(std::FILE* out, bool enabled);
  void Update(double sim_seconds, double planned_seconds);
  // Clears the bar's line.
  void Finish();

 private:
  std::FILE* out_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace kelvro::sim
