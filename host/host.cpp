#include "host/host.h"

#include <algorithm>
#include <cstring>

namespace kelvro {

void Host::DoButton(int button) const {
  if (callbacks.do_button) callbacks.do_button(static_cast<int16_t>(button));
}

void Host::SetDro(int dro, double value) const {
  if (callbacks.set_dro) callbacks.set_dro(static_cast<int16_t>(dro), value);
}

double Host::GetDro(int dro) const {
  return callbacks.get_dro ? callbacks.get_dro(static_cast<int16_t>(dro)) : 0.0;
}

bool Host::GetLed(int led) const {
  return callbacks.get_led && (callbacks.get_led(static_cast<int16_t>(led)) & 0xFF) != 0;
}

void Host::SetLed(int led, bool on) const {
  if (callbacks.set_led) callbacks.set_led(static_cast<int16_t>(led), on ? 1 : 0);
}

int Host::GetMenuRange(int count) const {
  return callbacks.get_menu_range ? callbacks.get_menu_range(static_cast<int16_t>(count)) : 0;
}

void Host::ShowStatus(std::string_view text) const {
  if (planner) {
    const size_t n = std::min(text.size(), sizeof(planner->status_text) - 1);
    std::memcpy(planner->status_text, text.data(), n);
    planner->status_text[n] = '\0';
  }
  if (messages) messages->StatusTextWritten(text);
}

double Host::Param(int index) const {
  if (!params || index < 0 || index >= kHostParamCount) return 0.0;
  return params->values[index];
}

void Host::SetParam(int index, double value) const {
  if (!params || index < 0 || index >= kHostParamCount) return;
  params->values[index] = value;
}

void Host::ForceEstop() const {
  if (!machine) return;
  machine->stop_code = kStopCodeForced;
  machine->estop = 1;
}

}  // namespace kelvro
