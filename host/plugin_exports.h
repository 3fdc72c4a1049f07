// The plugin's entry points as the host calls them. The DLL exports forward to an object
// with these methods; the stand-in host of the tests and the simulation run calls them
// directly, in the host's order.
#pragma once

#include <cstdint>

#include "host/host_blocks.h"

namespace kelvro {

class PluginExports {
 public:
  virtual ~PluginExports() = default;

  // The seven callback setters fill this record.
  virtual HostCallbacks& callbacks() = 0;
  virtual uint8_t InitControl(HostMachineState* machine, HostParams* params, HostPlanner* planner,
                              HostApp* app) = 0;
  // Returns the plugin's display name.
  virtual const char* SetProName(const char* name) = 0;
  virtual void PostInitControl() = 0;
  virtual void Config() = 0;
  virtual void StopPlug() = 0;
  virtual void Update() = 0;
  virtual void Notify(int32_t code) = 0;
  virtual void DoDwell(double time) = 0;
  virtual int32_t Reset() = 0;
  virtual void JogOn(int axis, int direction, double speed) = 0;
  virtual void JogOff(int axis) = 0;
  virtual void Probe() = 0;
  virtual void Home(int axis) = 0;
  virtual void Purge(int32_t flags) = 0;
  // The routine of the plugin's 25 ms timer.
  virtual void OnTimer() = 0;
};

}  // namespace kelvro
