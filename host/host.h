// Null-safe access to the host's blocks and callbacks.
//
// The host may call an entry point before it has handed over every pointer (or a broken
// host may never hand one over); every access here tolerates that instead of crashing
// the host process.
#pragma once

#include <string_view>

#include "host/host_blocks.h"
#include "host/platform.h"

namespace kelvro {

class Host {
 public:
  HostMachineState* machine = nullptr;
  HostParams* params = nullptr;
  HostPlanner* planner = nullptr;
  HostApp* app = nullptr;
  HostCallbacks callbacks;
  // Told about every status text written (may be null).
  UserMessages* messages = nullptr;

  bool Ready() const { return machine && params && planner; }

  void DoButton(int button) const;
  void SetDro(int dro, double value) const;
  double GetDro(int dro) const;
  bool GetLed(int led) const;
  void SetLed(int led, bool on) const;
  int GetMenuRange(int count) const;

  // The one route for status texts: writes the host's status-message text (truncated to
  // the field, always terminated) and tells the user-message service.
  void ShowStatus(std::string_view text) const;

  // Host parameter by index; out-of-range indices read 0 and writes are dropped.
  double Param(int index) const;
  void SetParam(int index, double value) const;

  // Forces the host into E-stop so that it calls Reset again.
  void ForceEstop() const;
};

}  // namespace kelvro
