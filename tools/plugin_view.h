// The plugin as the stand-in host's planner sees it, for the tools that run a program.
#pragma once

#include "plugin/plugin.h"
#include "sim/program_runner.h"

namespace kelvro::sim {

class PluginViewOf final : public PluginView {
 public:
  explicit PluginViewOf(Plugin& plugin) : plugin_(plugin) {}
  bool LinkConnected() override { return plugin_.link().connected(); }
  bool ProbeEnded() override { return plugin_.tick().probing().ended(); }
  int DwellTicks() override { return plugin_.tick().streaming().dwell_ticks(); }

 private:
  Plugin& plugin_;
};

}  // namespace kelvro::sim
