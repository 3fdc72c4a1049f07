// The plugin object: all long-lived state of one loaded library. The exported entry
// points forward to it; tests create as many fresh instances as they like.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/controller_config.h"
#include "device/device_link.h"
#include "firmware/firmware_update.h"
#include "host/host.h"
#include "host/platform.h"
#include "host/plugin_exports.h"
#include "motion/laser_curve.h"
#include "settings/plugin_settings.h"
#include "ui/config_dialog.h"
#include "ui/dialog_runner.h"
#include "ui/status_window.h"
#include "zcorr/corrected_tick.h"

namespace kelvro {

class UsbPort;

// The plugin version text from the version resource's product version: "%d%d.%d%d"
// (0.1.1.8 gives "01.18").
std::string FormatPluginVersion(const std::array<int, 4>& version);

class Plugin final : public PluginExports {
 public:
  static constexpr const char* kDisplayName = "KELVRO plugin";
  static constexpr const char* kRequiredFirmware = "01.22";

  Plugin(Platform& platform, UsbPort& port);
  ~Plugin() override;
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Entry points, in the host's order.
  HostCallbacks& callbacks() override { return host_.callbacks; }
  uint8_t InitControl(HostMachineState* machine, HostParams* params, HostPlanner* planner,
                      HostApp* app) override;
  const char* SetProName(const char* name) override;
  void PostInitControl() override;
  void Config() override;
  void StopPlug() override;
  void Update() override;
  void Notify(int32_t code) override;
  void DoDwell(double time) override;
  int32_t Reset() override;
  void JogOn(int axis, int direction, double speed) override;
  void JogOff(int axis) override;
  void Probe() override;
  void Home(int axis) override;
  void Purge(int32_t /*flags*/) override {}

  // The 25 ms timer routine.
  void OnTimer() override;

  // The windows of the user interface. Without them (no runner) the configuration dialog
  // cannot open and Config behaves as a cancelled dialog.
  void SetDialogRunner(DialogRunner* runner) { dialog_runner_ = runner; }
  ConfigDialogModel& config_dialog() { return config_dialog_; }
  // The status window's thread; without one the status menu command does nothing.
  void SetStatusWindowThread(StatusWindowThread* thread) { status_window_.Attach(thread); }
  StatusWindow& status_window() { return status_window_; }

  // Observation for tests and tools.
  const Host& host() const { return host_; }
  PluginSettings& settings() { return settings_; }
  DeviceLink& link() { return link_; }
  // The firmware update offered by Reset; its image and dialog are attached by the build.
  FirmwareUpdate& firmware() { return firmware_; }
  ServiceTick& tick() { return tick_; }
  ZCorrection& zcorrection() { return zcorr_; }
  const ControllerConfig& controller_config() const { return config_; }
  int menu_base() const { return menu_base_; }
  bool timer_running() const { return timer_running_; }
  int idle_ticks() const { return idle_ticks_; }
  bool post_init_done() const { return post_init_; }
  const std::string& profile_name() const { return profile_name_; }
  const std::string& version_text() const { return version_text_; }

 private:
  void StatusText(std::string_view text);
  void ShowMessage(std::string_view text);
  void UpdateSoftLimitLatch();
  void UpdateZReadback();
  void SendOutputsAndSafeState();
  bool ConnectController();
  void SpindleStart();
  void SpindleStop();
  uint8_t SpindleMode() const;

  Platform& platform_;
  Host host_;
  PluginSettings settings_;
  DeviceLink link_;
  FirmwareUpdate firmware_;
  ControllerConfig config_;
  PreparedLaserCurve laser_curve_;
  CorrectedTick motion_;
  ZCorrection& zcorr_ = motion_.zcorr;
  ServiceTick& tick_ = motion_.tick;
  ConfigDialogModel config_dialog_;
  DialogRunner* dialog_runner_ = nullptr;
  StatusWindow status_window_;

  std::string profile_name_;
  std::string version_text_;
  int menu_base_ = 0;
  bool update_seen_ = false;
  bool timer_running_ = false;
  int idle_ticks_ = 0;
  bool post_init_ = false;
  bool in_update_ = false;
  bool in_tick_ = false;
  bool in_reset_ = false;

  // Update step state.
  int soft_limit_latch_ = 0;
  int soft_limit_counter_ = 0;
  int homing_button_latch_ = 0;
  bool zcorr_off_notice_ = false;

  // Spindle state of the host notifications.
  bool spindle_on_ = false;
  double spindle_speed_copy_ = 0.0;
  double speed_ratio_copy_ = 0.0;
};

}  // namespace kelvro
