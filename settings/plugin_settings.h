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
  std::string name;  // "Analog", "Encoder1", "Encoder2": prefix of the profile keys
  int fun = 0;       // 0 none, 1 FRO, 2 SRO, 3 user variable, 4 user DRO, 5 THC Vnom
  int type = 0;      // 0 16-bit value, 1 percentage
  int var_id = 1000;
  int z_thresh = 5;
};

struct PluginSettings {
  int laser_sync = 0;                                 // LaserSync
  int laser_comp = 0;                                 // LaserComp
  int laser_gl = 0;                                   // LaserGL
  int pwm_freq = 10000;                               // PWMFreq
  int index_cnt = 1;                                  // IndexCnt
  int laser_sync_port = 1;                            // LaserSyncPort
  int home_retract = 10;                              // HomeRetract
  int limit_debounce = 30;                            // LimitDebounce
  int home_debounce = 30;                             // HomeDebounce
  int probe_debounce = 30;                            // ProbeDebounce
  int index_debounce = 0;                             // IndexDebounce
  int enc_debounce = 0;                               // EncDebounce
  int other_debounce = 30;                            // OtherDebounce
  int debounce_by_pin = 0;                            // DebounceByPin
  std::array<int, kDebouncePinCount> deb_pin_ena{};   // DebPin%d_ena
  std::array<int, kDebouncePinCount> deb_pin_time{};  // DebPin%d_time
  LaserCurve laser_curve;                             // LCurveCnt, LCurveX%d, LCurveY%d
  double l_max_feed = 1000.0;                         // LMaxFeed
  std::array<InputMapping, 3> mappings{InputMapping{"Analog"}, InputMapping{"Encoder1"},
                                       InputMapping{"Encoder2"}};
  int enc1_mult = 1;                      // Enc1Mult
  int enc2_mult = 1;                      // Enc2Mult
  int map_enc1 = 0;                       // MapEnc1
  int map_enc2 = 4;                       // MapEnc2
  int hw_mpg = 0;                         // HwMPG
  int mpg_feed_limit = 0;                 // MPGfeedlimit
  int thc_type = 0;                       // THCtype
  int thc_nom_voltage = 150;              // THCnomvoltage
  int thc_hyst_voltage = 5;               // THChystvoltage
  int thc_torch_v = 250;                  // THCtorchv
  int thc_analog_v = 5000;                // THCanalogv
  int thc_arc_detect = 0;                 // THCarcDetect
  int thc_det_voltage = 50;               // THCdetVoltage
  int thc_det_time = 200;                 // THCdetTime
  int thc_dwell = 0;                      // THCDwell
  int kerf_detect = 0;                    // KerfDetect
  int kerf_time = 10;                     // KerfTime
  int kerf_voltage = 20;                  // KerfVoltage
  int thc_lp = 0;                         // THCLP
  int thc_lp_freq = 50;                   // THCLPFreq
  int thc_lock = 0;                       // THCLock
  int thc_lock_max = 150;                 // THCLockMax
  int thc_lock_min = 70;                  // THCLockMin
  int thc_lock_cmd = 0;                   // THCLockCmd
  int manual_thc = 0;                     // ManualTHC
  int manual_speed = 10;                  // ManualSpeed
  int deref_on_disc = 0;                  // DerefOnDisc
  int step_freq = 1;                      // StepFreq
  std::string z_file_name = "zfile.txt";  // ZFileName
  int z_normal = 1;                       // ZNormal
  int z_limit_corr = 1;                   // ZLimitCorr
  int z_start_mode = 0;                   // ZStartMode
  int z_jog_corr = 1;                     // ZJogCorr
  double mz_offset = 1e30;                // MZOffset
  int probe_as_limit = 0;                 // ProbeAsLimit

  // "Preferences" section, read only.
  double steps6 = 1000.0;  // Steps6
  double vel6 = 1.0;       // Vel6 (Reset may lower it in memory)
  double acc6 = 1.0;       // Acc6
  int rot_soft = 0;        // ROTSOFT, as 0 or 1
  std::array<double, kPulleyRatioCount> spin_ratio{
      1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0,
      1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};  // SPINRATIO%d
  int slave_home = 0;                                               // SlaveHome

  // Derived at load: 1 when StepFreq is 0.
  int step_rate_125khz = 0;
};

// Reads every key in load order; missing keys take their defaults. A stored laser curve
// replaces the one in memory only when it is a usable curve (see LaserCurveIsUsable).
void LoadSettings(PluginSettings& settings, ProfileXml& profile);
// Writes the plugin's keys in save order.
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
