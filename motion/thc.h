// Torch height control: the plugin's side of the loop the controller runs. Conversions of
// the arc-voltage reading, the ThcConfig field values and the voltage log.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "device/commands.h"
#include "settings/plugin_settings.h"

namespace kelvro {

inline constexpr char kThcVoltageLogName[] = "thc_voltage.log";
inline constexpr int kThcMaxTargetVolts = 300;

// Torch volts from the raw analog value: 0 with external THC, else the calibration
// THCtorchv volts per THCanalogv millivolts applied to raw x 5 V / 65536. A calibration of
// 0 mV reads 0 V.
int32_t TorchVolts(const PluginSettings& settings, uint16_t raw);

// First-order low-pass filter at 1000 Hz in fixed point (1.0 = 32768).
struct LowPassCoefficients {
  int32_t b0 = 0;
  int32_t b1 = 0;
  int32_t a1 = 0;
};
// The cut-off is limited to the 1..500 Hz the THC page accepts: above half the sampling
// rate the formula has no meaning (its tangent changes sign).
LowPassCoefficients ComputeLowPass(int cutoff_hz);

// Host values ThcConfig is built from.
struct ThcHostValues {
  double z_max_velocity = 0.0;  // units per second
  double z_steps_per_unit = 0.0;
  double thc_speed_percent = 0.0;
  double z_limit1 = 0.0;  // units
  double z_limit2 = 0.0;
  double pierce_delay_s = 0.0;  // DRO 177
  double target_voltage = 0.0;  // DRO 1501 as followed by the tick
  bool manual_active = false;   // ManualTHC with Num Lock on
};
ThcConfigFields BuildThcConfigFields(const PluginSettings& settings, const ThcHostValues& host);

// "thc_voltage.log": truncated on the first row written since the plugin was loaded (with
// a header), appended to afterwards; opened and closed for every row.
class ThcVoltageLog {
 public:
  explicit ThcVoltageLog(std::string path = kThcVoltageLogName) : path_(std::move(path)) {}
  // False when the file could not be opened (the row is skipped).
  bool Append(uint8_t flags, int arc_ok, int raw, int32_t volts, int64_t z_steps);
  const std::string& path() const { return path_; }
  void set_path(std::string path) { path_ = std::move(path); }
  bool first_write() const { return first_write_; }

 private:
  std::string path_;
  bool first_write_ = true;
};

}  // namespace kelvro
