#include "motion/input_mapping.h"

#include <algorithm>
#include <cmath>

#include "device/wire.h"
#include "host/host_fields.h"
#include "motion/thc.h"

namespace kelvro {
namespace {

// Mapping functions of the analog input and the encoders.
enum MappingFunction : int {
  kMapNone = 0,
  kMapFeedOverride = 1,
  kMapSpindleOverride = 2,
  kMapUserVariable = 3,
  kMapUserDro = 4,
  kMapThcTarget = 5,
};

constexpr int kJogModeMpg = 2;
constexpr int kFirstMpgRecord = 4;  // host encoder records 0..3, then MPG 1..3

// Values read from the host are used only when they are numbers.
double Finite(double value, double fallback) {
  return std::isfinite(value) ? value : fallback;
}

}  // namespace

void InputMapper::Configure(const std::array<InputMapping, 3>& mappings,
                            const std::array<int, 2>& encoder_host_map, bool mpg_by_controller,
                            double mpg_scale) {
  mappings_ = mappings;
  encoder_host_map_ = encoder_host_map;
  mpg_by_controller_ = mpg_by_controller;
  mpg_scale_ = mpg_scale;
}

void InputMapper::DecodeAnalog(const StatusPacket& packet) {
  const InputMapping& mapping = mappings_[0];
  if (mapping.fun == kMapNone) return;
  const double threshold = mapping.z_thresh;
  double v = packet.analog_raw - threshold;
  // Raw values at or below the zero threshold read 0 (also when the threshold is the whole
  // range, which would otherwise divide by zero).
  v = v <= 0.0 ? 0.0 : v * 65535.0 / (65535.0 - threshold);
  const int32_t rounded250 = TruncToInt32(v * 250.0 / 65535.0 + 0.5);
  const int32_t user_value =
      mapping.type == 1 ? TruncToInt32(v * 100.0 / 65535.0 + 0.5) : TruncToInt32(v);
  switch (mapping.fun) {
    case kMapFeedOverride:
      ctx_.host.SetDro(kDroFeedOverride, rounded250);
      break;
    case kMapSpindleOverride:
      ctx_.host.SetDro(kDroSpindleOverride, rounded250);
      break;
    case kMapUserVariable:
      ctx_.host.SetParam(mapping.var_id, user_value);
      break;
    case kMapUserDro:
      ctx_.host.SetDro(mapping.var_id, user_value);
      break;
    default:
      break;
  }
}

void InputMapper::DecodeEncoders(const StatusPacket& packet, bool first_packet) {
  const int32_t counts[2] = {packet.enc1, packet.enc2};
  if (first_packet) encoder_baselines_ = {counts[0], counts[1]};
  const HostPlanner& planner = *ctx_.host.planner;
  for (int e = 0; e < 2; ++e) {
    const int host_encoder = encoder_host_map_[e];
    const InputMapping& mapping = mappings_[e + 1];
    if (host_encoder < 1 || host_encoder > kHostEncoderCount || mapping.fun == kMapNone) continue;
    const int64_t delta = static_cast<int64_t>(counts[e]) - encoder_baselines_[e];
    if (delta == 0) continue;
    double per_unit = planner.encoder_counts_per_unit[host_encoder - 1];
    if (!(std::fabs(per_unit) >= 0.00001)) per_unit = 1.0;  // also NaN
    // The whole delta is turned into units, so all of it is consumed: taking back only
    // trunc(u * c) could leave a count behind (1 / 49 * 49 < 1) that would then be added
    // again on every tick.
    encoder_baselines_[e] = counts[e];
    AddToTarget(mapping, static_cast<double>(delta) / per_unit);
  }
}

void InputMapper::AddToTarget(const InputMapping& mapping, double amount) {
  const Host& host = ctx_.host;
  auto add = [amount](double current, double low, double high) {
    return std::clamp(Finite(current, low) + amount, low, high);
  };
  const double user_high = mapping.type == 1 ? 100.0 : 65535.0;
  switch (mapping.fun) {
    case kMapFeedOverride:
      host.SetDro(kDroFeedOverride, add(host.GetDro(kDroFeedOverride), 0.0, 250.0));
      break;
    case kMapSpindleOverride:
      host.SetDro(kDroSpindleOverride, add(host.GetDro(kDroSpindleOverride), 0.0, 250.0));
      break;
    case kMapUserVariable:
      host.SetParam(mapping.var_id, add(host.Param(mapping.var_id), 0.0, user_high));
      break;
    case kMapUserDro:
      host.SetDro(mapping.var_id, add(host.GetDro(mapping.var_id), 0.0, user_high));
      break;
    case kMapThcTarget:
      host.SetDro(kDroTargetVolts, add(host.GetDro(kDroTargetVolts), 50.0, kThcMaxTargetVolts));
      break;
    default:
      break;
  }
}

void InputMapper::UpdateHostEncoders(const StatusPacket& last) {
  HostMachineState& machine = *ctx_.host.machine;
  HostPlanner& planner = *ctx_.host.planner;
  const int32_t counts[2] = {last.enc1, last.enc2};
  // The host encoder index each controller encoder feeds (0..3 encoders, 4..6 MPGs), or
  // -1 when the mapping is switched off.
  const int index[2] = {encoder_host_map_[0] - 1, encoder_host_map_[1] - 1};

  if (ctx_.host.GetLed(kLedMpgMode)) {
    planner.jog_mode = kJogModeMpg;
  } else {
    for (int e = 0; e < 2; ++e) {
      if (index[e] >= 0 && index[e] < kFirstMpgRecord) machine.encoders[index[e]].count = counts[e];
    }
    if (planner.jog_mode == kJogModeMpg && !mpg_by_controller_) {
      if (index[0] >= kFirstMpgRecord && index[0] < kHostEncoderCount) {
        machine.encoders[index[0]].count = counts[0];
      } else if (index[1] >= kFirstMpgRecord && index[1] < kHostEncoderCount) {
        machine.encoders[index[1]].count = counts[1];
      }
    }
  }
  if (planner.jog_mode == kJogModeMpg && index[0] < kFirstMpgRecord && index[1] < kFirstMpgRecord) {
    planner.jog_mode = 0;
  }
}

}  // namespace kelvro
