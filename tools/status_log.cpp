#include "tools/status_log.h"

#include <array>

namespace kelvro::sim {
namespace {

constexpr std::array<const char*, StatusView::kCounters> kCounterNames = {"X", "Y", "Z",
                                                                          "A", "B", "C"};

std::string Row(uint16_t word, int filled_boxes) {
  std::string row;
  for (int i = 0; i < StatusIndicator::kBoxes; ++i) {
    if (i >= filled_boxes) {
      row += ' ';
    } else {
      row += ((word >> i) & 1u) ? '#' : '.';
    }
  }
  return row;
}

}  // namespace

std::string FormatStatusBlock(const StatusView& view, uint64_t time_ms, uint64_t report) {
  std::string block =
      "report " + std::to_string(report) + " at " + std::to_string(time_ms) + " ms\n";
  for (int id : StatusView::kLines) block += "  " + view.Text(id) + "\n";
  block += " ";
  for (int k = 0; k < StatusView::kCounters; ++k) {
    block += std::string(" ") + kCounterNames[static_cast<size_t>(k)] + ": " +
             view.Text(StatusView::kFirstCounter + k);
  }
  block += "\n";
  const StatusIndicator& indicator = view.indicator();
  block += "  In:  " + Row(indicator.in_word(), StatusIndicator::kInputBoxes) + "\n";
  block += "  Out: " + Row(indicator.out_word(), StatusIndicator::kBoxes) + "\n";
  return block;
}

StatusLog::StatusLog(std::ostream& out, uint32_t every, std::function<uint64_t()> now)
    : out_(out),
      every_(every > 0 ? every : 1),
      now_(std::move(now)),
      window_([this](const StatusView& view, bool online) { Shown(view, online); }) {}

void StatusLog::Shown(const StatusView& view, bool online) {
  if (online) {
    ++reports_;
    if ((reports_ - 1) % every_ != 0) return;
  }
  out_ << FormatStatusBlock(view, now_ ? now_() : 0, reports_) << '\n';
  ++blocks_;
}

}  // namespace kelvro::sim
