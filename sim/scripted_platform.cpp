#include "sim/scripted_platform.h"

namespace kelvro::sim {

MessageBoxAnswer ScriptedPlatform::MessageBox(std::string_view text, MessageBoxKind kind) {
  message_boxes.emplace_back(text);
  if (during_message_box) during_message_box();
  if (kind == MessageBoxKind::kOk) return MessageBoxAnswer::kOk;
  if (yes_no_answers.empty()) return MessageBoxAnswer::kYes;
  const MessageBoxAnswer answer = yes_no_answers.front();
  yes_no_answers.pop_front();
  return answer;
}

void ScriptedPlatform::StatusTextWritten(std::string_view text) {
  status_texts.emplace_back(text);
}

void ScriptedPlatform::StartTimer() {
  timer_running = true;
  ++timer_starts;
}

void ScriptedPlatform::StopTimer() {
  timer_running = false;
  ++timer_stops;
}

void ScriptedPlatform::Advance(uint64_t ms) {
  now_ms_ += ms;
  if (on_time) on_time(now_ms_);
}

}  // namespace kelvro::sim
