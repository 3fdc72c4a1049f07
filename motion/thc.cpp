#include "motion/thc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "device/wire.h"

namespace kelvro {
namespace {

constexpr double kFixedOne = 32768.0;
constexpr double kSampleRateHz = 1000.0;
constexpr int kMinCutoffHz = 1;
constexpr int kMaxCutoffHz = 500;

}  // namespace

int32_t TorchVolts(const PluginSettings& settings, uint16_t raw) {
  if (settings.thc_type == 0) return 0;
  const double millivolts = settings.thc_analog_v * 0.001;
  const double k = millivolts != 0.0 ? settings.thc_torch_v / millivolts : 0.0;
  return TruncToInt32(raw * k * 5.0 / 65536.0);
}

LowPassCoefficients ComputeLowPass(int cutoff_hz) {
  const int f = std::clamp(cutoff_hz, kMinCutoffHz, kMaxCutoffHz);
  const double k = std::tan(std::numbers::pi * f / kSampleRateHz);
  LowPassCoefficients c;
  c.b0 = TruncToInt32(kFixedOne * k / (1.0 + k) + 0.5);
  c.b1 = c.b0;
  c.a1 = TruncToInt32(kFixedOne * (k - 1.0) / (k + 1.0) + 0.5);
  return c;
}

ThcConfigFields BuildThcConfigFields(const PluginSettings& s, const ThcHostValues& host) {
  ThcConfigFields f;
  double speed =
      host.z_max_velocity * host.thc_speed_percent / 100.0 * host.z_steps_per_unit * 4096.0;
  if (host.manual_active) speed *= s.manual_speed / 100.0;
  f.correction_speed = TruncToInt32(speed);
  f.z_limit1 = TruncToInt32(host.z_limit1 * host.z_steps_per_unit);
  f.z_limit2 = TruncToInt32(host.z_limit2 * host.z_steps_per_unit);
  f.dro177_x1000 = TruncToUint16(host.pierce_delay_s * 1000.0);
  f.thc_type = static_cast<uint8_t>(s.thc_type);
  f.target = TruncToUint16(host.target_voltage);
  const double target = f.target;
  f.hysteresis = static_cast<uint16_t>(s.thc_hyst_voltage);
  const double millivolts = s.thc_analog_v * 0.001;
  f.torch_scale = millivolts != 0.0 ? TruncToUint16(s.thc_torch_v * 5.0 / millivolts) : 0;
  f.detect_voltage = s.thc_arc_detect ? static_cast<uint16_t>(s.thc_det_voltage) : 0;
  f.detect_time = static_cast<uint16_t>(s.thc_det_time);
  f.flags = static_cast<uint16_t>(
      (s.kerf_detect ? kThcFlagKerfDetect : 0) | (s.thc_lp ? kThcFlagLowPass : 0) |
      (s.thc_lock ? kThcFlagLock : 0) | (s.thc_lock_cmd ? kThcFlagLockCmd : 0));
  f.kerf_voltage = TruncToUint16(target * s.kerf_voltage * 0.01);
  f.kerf_time = static_cast<uint16_t>(s.kerf_time);
  const LowPassCoefficients lp = ComputeLowPass(s.thc_lp_freq);
  f.b0 = lp.b0;
  f.b1 = lp.b1;
  f.a1 = lp.a1;
  f.lock_max = TruncToUint16(target * s.thc_lock_max * 0.01);
  f.lock_min = TruncToUint16(target * s.thc_lock_min * 0.01);
  return f;
}

bool ThcVoltageLog::Append(uint8_t flags, int arc_ok, int raw, int32_t volts, int64_t z_steps) {
  std::FILE* file = std::fopen(path_.c_str(), first_write_ ? "w" : "a");
  if (file == nullptr) return false;
  if (first_write_) std::fputs("flags\tth\tadc\tvolts\tzs\n", file);
  // The sum of two 32-bit values is shown in the 32-bit column it has always had.
  const auto zs = static_cast<int>(std::clamp<int64_t>(z_steps, INT32_MIN, INT32_MAX));
  std::fprintf(file, "0x%02X\t%d\t%d\t%d\t%d\n", flags, arc_ok, raw, static_cast<int>(volts), zs);
  std::fclose(file);
  first_write_ = false;
  return true;
}

}  // namespace kelvro
