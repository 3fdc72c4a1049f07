// The plugin's settings record: every key of the "kelvro_mach_drv" profile section, the
// values read from the host's "Preferences" section, and the values derived at load.
#pragma once

#include <array>
#include <string>

namespace kelvro {

class UserMessages;
class ProfileXml;

inline constexpr int kDebouncePinCount = 14;
inline constexpr int kLaserCurveMaxPoints = 20;
inline constexpr int kPulleyRatioCount = 25;

// Laser ramp curve: feed percent (X) against duty percent (Y).
struct LaserCurve {
  int count = 2;
  std::array<double, kLaserCurveMaxPoints> x{0.0, 100.0};
  std::array<double, kLaserCurveMaxPoints> y{0.0, 100.0};
};

// One input mapping (analog input or a controller encoder onto a host value).
struct InputMapping {
  int fun = 0;   // 0 none, 1 FRO, 2 SRO, 3 user variable, 4 user DRO, 5 THC Vnom
  int type = 0;  // 0 16-bit value, 1 percentage
  int var_id = 0;
  int z_thresh = 0;
};

// The fields bound to the profile keys; their keys, defaults, ranges and load and save order
// are those of the settings table (settings/settings_table.h), which the constructor applies.
struct PluginSettings {
  PluginSettings();

  int laser_sync;
  int laser_comp;
  int laser_gl;
  int pwm_freq;
  int index_cnt;
  int laser_sync_port;
  int home_retract;
  int limit_debounce;
  int home_debounce;
  int probe_debounce;
  int index_debounce;
  int enc_debounce;
  int other_debounce;
  int debounce_by_pin;
  std::array<int, kDebouncePinCount> deb_pin_ena;
  std::array<int, kDebouncePinCount> deb_pin_time;
  LaserCurve laser_curve;
  double l_max_feed;
  std::array<InputMapping, 3> mappings;  // analog input, encoder 1, encoder 2
  int enc1_mult;
  int enc2_mult;
  int map_enc1;
  int map_enc2;
  int hw_mpg;
  int mpg_feed_limit;
  int thc_type;
  int thc_nom_voltage;
  int thc_hyst_voltage;
  int thc_torch_v;
  int thc_analog_v;
  int thc_arc_detect;
  int thc_det_voltage;
  int thc_det_time;
  int thc_dwell;
  int kerf_detect;
  int kerf_time;
  int kerf_voltage;
  int thc_lp;
  int thc_lp_freq;
  int thc_lock;
  int thc_lock_max;
  int thc_lock_min;
  int thc_lock_cmd;
  int manual_thc;
  int manual_speed;
  int deref_on_disc;
  int step_freq;
  std::string z_file_name;
  int z_normal;
  int z_limit_corr;
  int z_start_mode;
  int z_jog_corr;
  double mz_offset;  // 1e30: no offset stored
  int probe_as_limit;

  // Read from the host's "Preferences" section, never written.
  double steps6;
  double vel6;  // Reset may lower it in memory
  double acc6;
  int rot_soft;  // 0 or 1
  std::array<double, kPulleyRatioCount> spin_ratio;
  int slave_home;

  // Derived at load: 1 when StepFreq is 0.
  int step_rate_125khz;
};

// Reads every key of the settings table in its order; missing keys take their defaults, and
// each key's correction is applied right after it. A stored laser curve replaces the one in
// memory only when it is a usable curve (see LaserCurveIsUsable).
void LoadSettings(PluginSettings& settings, ProfileXml& profile);
// Writes the saved keys of the settings table in its order.
void SaveSettings(const PluginSettings& settings, ProfileXml& profile);

// True for 2 to 20 points, first X 0, last X 100, every X and Y within 0 to 100 (the
// editor's invariants for a loaded curve; the middle points need not be in X order).
bool LaserCurveIsUsable(const LaserCurve& curve);

// One whole load or save of the host's profile file with this build's document backend.
// Nothing throws. Load returns false when the profile could not be opened or read (the
// settings then hold the defaults of every key); save returns false when the settings
// could not be written (an unreadable, read-only or unwritable profile is left as it was).
bool LoadSettingsFromProfile(PluginSettings& settings, const std::string& path,
                             UserMessages& messages);
bool SaveSettingsToProfile(const PluginSettings& settings, const std::string& path,
                           UserMessages& messages);

}  // namespace kelvro
