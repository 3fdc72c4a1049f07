#include "plugin/plugin.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "device/wire.h"
#include "firmware/carried_image.h"
#include "host/host_fields.h"
#include "motion/host_io.h"
#include "settings/plugin_settings.h"

namespace kelvro {
namespace {

constexpr int kIdleTicksBeforeStop = 20;

// Marks a call as running for as long as the guard lives.
class ReentryGuard {
 public:
  explicit ReentryGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~ReentryGuard() { flag_ = false; }
  ReentryGuard(const ReentryGuard&) = delete;
  ReentryGuard& operator=(const ReentryGuard&) = delete;

 private:
  bool& flag_;
};

}  // namespace

std::string FormatPluginVersion(const std::array<int, 4>& version) {
  char text[64];
  std::snprintf(text, sizeof(text), "%d%d.%d%d", version[0], version[1], version[2], version[3]);
  return text;
}

Plugin::Plugin(Platform& platform, UsbPort& port)
    : platform_(platform),
      link_(port, platform),
      firmware_(link_, platform),
      motion_(MotionContext{host_, platform_, platform_, platform_, settings_, link_, config_,
                            laser_curve_}),
      config_dialog_(ConfigDialogContext{
          host_, platform_, settings_, tick_.thc(), tick_.probing().log_options(),
          AboutPage::Sources{[this] { return version_text_; },
                             [this] { return std::string(link_.FirmwareVersion()); },
                             [this] { return link_.connected(); },
                             [] { return DescribeCarriedImageBriefly(CarriedImage()); }},
          [this] { return zcorr_.enabled(); }, [this] { return zcorr_.Reload() ? 1 : 0; }, zcorr_,
          platform_}) {
  host_.messages = &platform_;
  tick_.set_thc_page_feed([this](uint16_t raw) { config_dialog_.thc().FeedAnalogReading(raw); });
  tick_.SetStatusListener(&status_window_);
  laser_curve_ = BuildLaserCurve(settings_.laser_curve);
}

Plugin::~Plugin() {
  platform_.StopTimer();
  link_.Close();
}

void Plugin::StatusText(std::string_view text) {
  host_.ShowStatus(text);
}

void Plugin::ShowMessage(std::string_view text) {
  platform_.MessageBox(text, MessageBoxKind::kOk);
}

uint8_t Plugin::InitControl(HostMachineState* machine, HostParams* params, HostPlanner* planner,
                            HostApp* app) {
  host_.machine = machine;
  host_.params = params;
  host_.planner = planner;
  host_.app = app;
  menu_base_ = host_.GetMenuRange(kMenuRangeCount);
  if (app) app->flag = 0;
  update_seen_ = false;
  timer_running_ = false;
  return 1;
}

const char* Plugin::SetProName(const char* name) {
  profile_name_ = name ? name : "";
  LoadSettingsFromProfile(settings_, profile_name_, platform_);
  if (host_.planner) host_.planner->rotary_soft_limits = settings_.rot_soft ? 1 : 0;
  return kDisplayName;
}

void Plugin::PostInitControl() {
  post_init_ = true;
  if (HostPlanner* planner = host_.planner) {
    planner->option_word = 1;
    planner->option_double = 0.001;
    const double rate = settings_.step_rate_125khz ? 125000.0 : 250000.0;
    for (HostAxisTuning& axis : planner->axes) axis.max_step_rate = rate;
    planner->option_value = 350;
    planner->option_bytes[0] = 0;
    planner->option_bytes[1] = 0;
    planner->option_bytes[2] = 1;
    planner->spindle_pwm_base = 100.0;
  }
  if (host_.app && host_.app->main_window && menu_base_ > 0) {
    platform_.InstallMenus(host_.app->main_window, menu_base_);
  }
  if (const auto version = platform_.ProductVersion()) {
    version_text_ = FormatPluginVersion(*version);
  }
  if (HostMachineState* machine = host_.machine) {
    for (int32_t& word : machine->cleared_words) word = 0;
  }
  StatusText("USB controller plugin initialized.");
}

void Plugin::Config() {
  if (host_.Ready()) config_dialog_.Show(dialog_runner_);
}

void Plugin::StopPlug() {
  // Reports read from here on are not shown.
  status_window_.BeginStop();
  SaveSettingsToProfile(settings_, profile_name_, platform_);
  SendOutputsAndSafeState();
  platform_.SleepMs(100);
  uint8_t drain[60];
  for (int i = 0; i < 5; ++i) {
    link_.PollStatus(drain, sizeof(drain));
    platform_.SleepMs(100);
  }
  link_.Close();
  link_.set_connected(false);
  platform_.StopTimer();
  timer_running_ = false;
  // A window that does not answer must not hang the host's stop.
  if (!status_window_.Stop()) {
    StatusText("The status window did not close; the plugin stopped without it.");
  }
}

void Plugin::SendOutputsAndSafeState() {
  if (link_.connected() && host_.machine) {
    link_.SendCommand(CommandCode::SetOutputs,
                      payload::SetOutputs(OutputBits(*host_.machine), 0, 0));
  }
  link_.SendCommand(CommandCode::Stop, payload::Stop(StopTarget::kSafe));
}

void Plugin::OnTimer() {
  ++idle_ticks_;
  if (idle_ticks_ > kIdleTicksBeforeStop && !update_seen_) {
    platform_.StopTimer();
    timer_running_ = false;
    return;
  }
  if (update_seen_) {
    update_seen_ = false;
    idle_ticks_ = 0;
    timer_running_ = true;
  }
  // A tick that shows a message box ("Error writing to device!") lets the timer fire inside
  // it; the nested tick is skipped.
  if (in_tick_) return;
  const ReentryGuard guard(in_tick_);
  tick_.Run();
}

void Plugin::Update() {
  if (!host_.Ready()) return;
  HostMachineState& machine = *host_.machine;
  HostPlanner& planner = *host_.planner;

  // 1. Keep the 25 ms timer alive.
  update_seen_ = true;
  if (!timer_running_) {
    timer_running_ = true;
    platform_.StartTimer();
  }
  // A message box shown below runs its own message loop, in which the host may call
  // Update again; the nested call only keeps the timer alive (otherwise a failing Z
  // read-back would stack one "Comm Error!" box on another).
  if (in_update_) return;
  const ReentryGuard guard(in_update_);
  // 2, 3. Encoders and MPG mode.
  tick_.mapper().UpdateHostEncoders(tick_.decoder().last());
  // 4. Probe-hit hold of the host's probe input.
  tick_.probing().UpdateHostProbeInput();
  // 5. The status window shows reports from the tick while connected, and goes offline.
  status_window_.FollowLink(link_.connected());
  // 6. Soft limits around the alternative homing.
  UpdateSoftLimitLatch();
  // 7. Z position read-back.
  UpdateZReadback();
  // 8. Z correction does not work together with THC.
  if (machine.thc_mode && zcorr_.active()) {
    zcorr_.Deactivate();
    ShowMessage("WARNING: Z correction is not supported in THC mode and will be turned off.");
  }
  // 9. Tell the host that Z correction went off.
  if (zcorr_off_notice_ && !zcorr_.active()) {
    zcorr_off_notice_ = false;
    host_.SetParam(kParamZCorrectionOffNotice, 1.0);
  }
  // 10. Probe-log timing on LED 804 edges.
  if (planner.probe_log_enabled[0] && planner.probe_log_enabled[1]) {
    tick_.probing().UpdateLogTiming();
  }
  // 11. Manual THC indicator.
  host_.SetLed(kLedManualThc, tick_.thc().ManualActive());
}

void Plugin::UpdateSoftLimitLatch() {
  HostMachineState& machine = *host_.machine;
  HostPlanner& planner = *host_.planner;
  const bool f = planner.alternative_homing != 0;
  if (!f && soft_limit_latch_ && !machine.soft_limits_on && soft_limit_counter_ > 5 &&
      !homing_button_latch_) {
    soft_limit_latch_ = 0;
  }
  if (machine.soft_limits_on) {
    soft_limit_latch_ = 1;
    soft_limit_counter_ = 0;
  }
  if (!f && !homing_button_latch_ && soft_limit_counter_ <= 5) ++soft_limit_counter_;
  if (!f && homing_button_latch_) machine.soft_limits_on = soft_limit_latch_;
  if (!f) {
    homing_button_latch_ = 0;
  } else if (!homing_button_latch_) {
    homing_button_latch_ = 1;
    host_.DoButton(kButtonAlternativeHoming);
  }
}

void Plugin::UpdateZReadback() {
  HostMachineState& machine = *host_.machine;
  StatusDecoder& decoder = tick_.decoder();
  if (!machine.z_readback_request) return;
  if (zcorr_.active()) {
    machine.z_readback_request = 0;
    decoder.RequestResync();
    return;
  }
  if (!link_.connected()) return;
  // A latch that never reached the controller leaves nothing to read: GetZPosition would
  // answer an older latch, or fail on the link the failed write has closed and show a
  // second message for the same fault. The transport has told the user; the request
  // waits for the link to come back.
  if (!link_.SendCommand(CommandCode::LatchZ)) return;
  uint8_t value[4] = {0, 0, 0, 0};
  platform_.SleepMs(20);
  if (!link_.ControlIn(kRequestZPosition, value, sizeof(value))) {
    ShowMessage("Comm Error!");
    return;
  }
  // While the controller streams, its Z moves on: the positions are re-taken once it rests.
  if (decoder.have_report() && InMode(decoder.last(), Mode::SEGM)) {
    decoder.RequestResync();
    machine.z_readback_request = 0;
    return;
  }
  decoder.ApplyZReadback(GetI32(value, 0));
  // The report in flight was read before the latch: its Z and THC offset are the old ones.
  tick_.poll().MarkReportsStale();
  machine.z_readback_request = 0;
}

void Plugin::DoDwell(double time) {
  if (!host_.Ready()) return;
  double ms = host_.planner->dwell_in_ms ? time : time * 1000.0;
  int ticks = TruncToInt32(ms * 0.04);
  if (ticks <= 0) ticks = 1;
  tick_.streaming().StartDwell(ticks);
  host_.machine->dwell_active = 1;
}

void Plugin::JogOn(int axis, int direction, double speed) {
  if (host_.Ready() && axis >= 0 && axis < kAxisCount) {
    tick_.jogging().JogOn(axis, direction, speed);
  }
}

void Plugin::JogOff(int axis) {
  if (host_.Ready() && axis >= 0 && axis < kAxisCount) tick_.jogging().JogOff(axis);
}

void Plugin::Probe() {
  if (host_.Ready()) tick_.probing().Probe();
}

void Plugin::Home(int axis) {
  if (host_.Ready() && axis >= 0 && axis < kAxisCount) tick_.homing().Home(axis);
}

void Plugin::Notify(int32_t code) {
  if (!host_.Ready()) return;
  HostMachineState& machine = *host_.machine;
  HostPlanner& planner = *host_.planner;
  switch (code) {
    case kNotifyStop:
      link_.SendCommand(CommandCode::Stop);
      tick_.homing().Reset();
      tick_.probing().Reset();
      tick_.streaming().ResetStreams();
      machine.threading_active = 0;
      planner.alternative_homing = 0;
      tick_.thc().ClearTorchStartHold();
      machine.dwell_active = 0;
      tick_.decoder().RequestResync();
      break;
    case kNotifySpindleStart:
      SpindleStart();
      break;
    case kNotifySpindleStop:
      SpindleStop();
      break;
    case kNotifySpindleSpeed:
      spindle_speed_copy_ = planner.spindle_speed;
      speed_ratio_copy_ = planner.speed_ratio > 1.0 ? 1.0 : planner.speed_ratio;
      if (planner.spindle_running && spindle_on_) {
        SpindleStart();
      } else if (config_.motion[motion_config::kLaserSyncOutput] != 0 &&
                 config_.motion[motion_config::kSpindleMode] == kSpindleModePwm) {
        SpindleStart();
      }
      break;
    case kNotifySpindleTuning:
      if (post_init_ && machine.motors[kSpindleMotor].enabled && planner.spindle_motor_control &&
          !planner.spindle_pwm) {
        ShowMessage(
            "Warning: if spindle axis motor tunings are changed, mach3 needs to be restarted.");
      }
      break;
    case kNotifyForcedEstop:
      host_.ForceEstop();
      break;
    case kNotifyZCorrectionOff:
      zcorr_off_notice_ = true;
      if (zcorr_.enabled()) {
        zcorr_.set_enabled(false);
        StatusText("Z correction turned OFF");
      }
      break;
    default:
      break;
  }
  // Without a menu range from the host (no callback, or a range that is not a real command
  // id) the plugin has no menu commands: codes 0 or -1 must not open dialogs.
  if (menu_base_ <= 0) return;
  if (code == menu_base_) Config();
  if (code == menu_base_ + 1) status_window_.Open(host_.app ? host_.app->main_window : nullptr);
  if (code == menu_base_ + 2) {
    if (host_.app && host_.app->main_window) {
      platform_.SendMenuCommand(host_.app->main_window, kHostGeneralConfigCommand);
    }
    host_.ForceEstop();
  }
}

uint8_t Plugin::SpindleMode() const {
  return config_.motion[motion_config::kSpindleMode];
}

void Plugin::SpindleStart() {
  HostMachineState& machine = *host_.machine;
  HostPlanner& planner = *host_.planner;
  if (machine.estop) {
    StatusText("Cannot start Spindle in Estop!");
    return;
  }
  planner.spindle_running = 1;
  spindle_on_ = true;
  if (machine.thc_mode && settings_.thc_dwell) tick_.thc().HoldForTorchStart();
  if (SpindleMode() == kSpindleModeNone) {
    link_.SendCommand(CommandCode::Spindle, payload::Spindle(true, 0, 0, 1));
    return;
  }
  const int pulley = std::clamp(planner.current_pulley, 0, kPulleyCount - 1);
  const double pulley_max = planner.pulley_max_speed[pulley];
  // A pulley without a maximum speed cannot be scaled against: run at speed 0.
  const double rate = pulley_max != 0.0 ? settings_.steps6 * settings_.vel6 / pulley_max *
                                              spindle_speed_copy_ * 4096.0
                                        : 0.0;
  int8_t direction = planner.spindle_direction == 0 ? 1 : -1;
  if (planner.pulley_reversed[pulley]) direction = static_cast<int8_t>(-direction);
  link_.SendCommand(CommandCode::Spindle,
                    payload::Spindle(true, TruncToInt32(speed_ratio_copy_ * 65536.0),
                                     TruncToInt32(rate), direction));
}

void Plugin::SpindleStop() {
  HostMachineState& machine = *host_.machine;
  HostPlanner& planner = *host_.planner;
  if (machine.thc_mode) machine.z_readback_request = 1;
  tick_.thc().ReleaseTorchStartHold(tick_.streaming().dwell_counting());
  if (SpindleMode() != kSpindleModeNone) {
    planner.spindle_running = 0;
    spindle_on_ = false;
    link_.SendCommand(CommandCode::Spindle,
                      payload::Spindle(false, TruncToInt32(planner.speed_ratio * 65536.0),
                                       TruncToInt32(planner.spindle_speed), 1));
  } else {
    link_.SendCommand(CommandCode::Spindle, payload::Spindle(false, 0, 0, 1));
    planner.spindle_running = 0;
    spindle_on_ = false;
  }
}

int32_t Plugin::Reset() {
  // Reset's message boxes run a message loop in which the host could reset again.
  if (!host_.Ready() || in_reset_) return 0xFFFF;
  const ReentryGuard guard(in_reset_);
  HostMachineState& machine = *host_.machine;
  HostPlanner& planner = *host_.planner;

  // 1. Stop every sequence.
  tick_.watchdog().BeginReset();
  planner.motion_in_progress[0] = 0;
  planner.motion_in_progress[1] = 0;
  machine.homing_in_progress = 0;
  tick_.homing().Reset();
  tick_.probing().Reset();
  tick_.streaming().ResetStreams();
  machine.threading_active = 0;
  tick_.streaming().ClearThreading();
  planner.alternative_homing = 0;
  // The torch-start hold ends with the host's dwell word it set (unless a dwell of the
  // program's own still counts down): a word left set would hold all motion after Reset.
  tick_.thc().ReleaseTorchStartHold(tick_.streaming().dwell_counting());
  machine.positions_resynced = 0;
  machine.stop_code = 0;

  // 2. Build the configuration from the host's tuning and the settings.
  laser_curve_ = BuildLaserCurve(settings_.laser_curve);
  config_ = BuildControllerConfig(machine, planner, settings_);
  for (const std::string& warning : config_.warnings) ShowMessage(warning);
  tick_.mapper().Configure(settings_.mappings, config_.encoder_host_map, settings_.hw_mpg != 0,
                           config_.mpg_scale);
  // An enabled correction works from the file as it is now: read it again (a file changed
  // on disk takes effect; one that cannot be read is told and leaves correction off).
  if (zcorr_.enabled()) zcorr_.Reload();

  // 3, 4. Close the link; carry the latched limit-override flag.
  link_.set_connected(false);
  link_.Close();
  if (machine.limit_override_latch) config_.SetLatchedTickFlag(true);

  // 5, 6. Open, check the firmware, configure.
  if (ConnectController()) {
    // A failed write has told the user and closed the link; the first tick then declares
    // the loss (E-stop, "ERROR! Connection closed!"). Until then the status must not claim
    // a connection to a controller that has no configuration.
    const bool configured = link_.SendCommand(CommandCode::LoadMotionConfig, config_.motion) &&
                            link_.SendCommand(CommandCode::LoadIoConfig, config_.io);
    tick_.watchdog().Connected();
    link_.set_connected(true);
    if (configured) StatusText("USB controller connected.");
  }

  // 7. Whatever happened: resynchronise and send every state command again.
  tick_.AfterReset();
  return 0xFFFF;
}

bool Plugin::ConnectController() {
  HostMachineState& machine = *host_.machine;
  if (!link_.Open()) {
    ShowMessage("Motion controller not found!\nPlease make sure that device is connected.");
    StatusText("Error opening hardware!");
    machine.estop = 1;
    return false;
  }
  if (link_.FirmwareVersion() == std::string_view(kRequiredFirmware)) return true;

  // A build that carries no controller firmware does not offer it to a real controller;
  // Reset then goes on as after "No".
  MessageBoxAnswer answer = MessageBoxAnswer::kNo;
  if (firmware_.MayUpdateOpenController()) {
    answer = platform_.MessageBox(
        "KELVRO firmware must be updated to work properly with this plugin version.\n\n"
        "Do you want to update firmware now?",
        MessageBoxKind::kYesNoQuestion);
  } else {
    ShowMessage(FirmwareUpdate::kNoFirmwareCarried);
  }
  if (answer != MessageBoxAnswer::kYes) {
    link_.Close();
    machine.estop = 1;
    StatusText("USB controller NOT connected.");
    return false;
  }
  link_.SendCommand(CommandCode::Stop, payload::Stop(StopTarget::kSafe));
  platform_.SleepMs(100);
  uint8_t drain[60];
  for (int i = 0; i < 5; ++i) {
    link_.PollStatus(drain, sizeof(drain));
    platform_.SleepMs(100);
  }
  if (firmware_.Run(host_.app ? host_.app->main_window : nullptr)) return true;
  link_.Close();
  machine.estop = 1;
  StatusText("Firmware NOT updated.");
  return false;
}

}  // namespace kelvro
