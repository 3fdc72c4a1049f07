// The analog input and the controller's two encoders mapped onto host values (feed and
// spindle override, a user variable or DRO, the THC target voltage), and the encoder counts
// handed to the host's encoder and MPG records.
#pragma once

#include <array>
#include <cstdint>

#include "device/commands.h"
#include "motion/motion_context.h"

namespace kelvro {

class InputMapper {
 public:
  explicit InputMapper(const MotionContext& context) : ctx_(context) {}

  // Taken from the settings and the configuration by every Reset.
  void Configure(const std::array<InputMapping, 3>& mappings,
                 const std::array<int, 2>& encoder_host_map, bool mpg_by_controller,
                 double mpg_scale);

  // Steps 18 and 19 of the decode: the analog input and the encoder deltas onto their
  // targets. The first report after a Reset only takes the encoder baselines.
  void DecodeAnalog(const StatusPacket& packet);
  void DecodeEncoders(const StatusPacket& packet, bool first_packet);
  // Update steps 2 and 3: the encoder counts of `last` into the host's encoder records (or
  // the MPG record in MPG jog mode), and the host's jog mode in step with the MPG LED.
  void UpdateHostEncoders(const StatusPacket& last);

  const std::array<InputMapping, 3>& mappings() const { return mappings_; }
  // Host encoder number fed by controller encoder 1 and 2 (MapEnc + 1), 0 when off.
  const std::array<int, 2>& encoder_host_map() const { return encoder_host_map_; }
  // Counts per unit of the host encoder the MPG encoder feeds.
  double mpg_scale() const { return mpg_scale_; }

 private:
  void AddToTarget(const InputMapping& mapping, double amount);

  MotionContext ctx_;
  std::array<InputMapping, 3> mappings_{};
  std::array<int32_t, 2> encoder_baselines_{};
  std::array<int, 2> encoder_host_map_{};
  bool mpg_by_controller_ = false;  // HwMPG as copied by Reset
  double mpg_scale_ = 1.0;
};

}  // namespace kelvro
