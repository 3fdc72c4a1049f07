// What every motion object borrows from the plugin: the host, the platform capabilities it
// uses, the settings, the link and the configuration the last Reset built.
#pragma once

#include "device/controller_config.h"
#include "device/device_link.h"
#include "host/host.h"
#include "host/platform.h"
#include "motion/laser_curve.h"
#include "settings/plugin_settings.h"

namespace kelvro {

struct MotionContext {
  Host& host;
  Clock& clock;
  Keyboard& keyboard;
  UserMessages& messages;
  PluginSettings& settings;
  DeviceLink& link;
  const ControllerConfig& config;         // built by the last Reset
  const PreparedLaserCurve& laser_curve;  // prepared by the last Reset
};

}  // namespace kelvro
