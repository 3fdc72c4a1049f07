#include "tools/progress_bar.h"

#include <algorithm>
#include <cmath>

namespace kelvro::sim {
namespace {

constexpr auto kShowAfter = std::chrono::seconds(1);
constexpr int kLineWidth = 72;

}  // namespace

std::string FormatProgress(double sim_seconds, double planned_seconds, int width) {
  double fraction = planned_seconds > 0.0 ? sim_seconds / planned_seconds : 0.0;
  if (!std::isfinite(fraction)) fraction = 0.0;
  fraction = std::clamp(fraction, 0.0, 1.0);
  char tail[96];
  std::snprintf(tail, sizeof tail, " %3d%%  %.1f of %.1f s simulated",
                static_cast<int>(fraction * 100.0), std::max(sim_seconds, 0.0),
                std::max(planned_seconds, 0.0));
  const int bar = std::max(10, width - 2 - static_cast<int>(std::string(tail).size()));
  const int filled = static_cast<int>(fraction * bar);
  std::string out = "[" + std::string(filled, '#') + std::string(bar - filled, '.') + "]" + tail;
  if (static_cast<int>(out.size()) > width) out.resize(std::max(width, 0));
  return out;
}

ProgressBar::ProgressBar(std::FILE* out, bool enabled)
    : out_(out), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::Update(double sim_seconds, double planned_seconds) {
  if (!enabled_ || std::chrono::steady_clock::now() - start_ < kShowAfter) return;
  std::fprintf(out_, "\r%s", FormatProgress(sim_seconds, planned_seconds, kLineWidth).c_str());
  std::fflush(out_);
  drawn_ = true;
}

void ProgressBar::Finish() {
  if (!drawn_) return;
  std::fprintf(out_, "\r%s\r", std::string(kLineWidth, ' ').c_str());
  std::fflush(out_);
  drawn_ = false;
}

}  // namespace kelvro::sim
