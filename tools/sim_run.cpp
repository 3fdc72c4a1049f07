#include "tools/sim_run.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <random>
#include <system_error>

#include "firmware/embedded_image.h"
#include "firmware/headless_ui.h"
#include "motion/thc_runtime.h"
#include "plugin/plugin.h"
#include "sim/motion_planner.h"
#include "sim/program_runner.h"
#include "sim/standin_host.h"
#include "sim/trajectory_source.h"
#include "tools/default_profile.h"
#include "tools/jitter.h"
#include "tools/plasma_sheet.h"
#include "tools/plugin_view.h"
#include "tools/status_log.h"
#include "tools/temp_file.h"

namespace kelvro::sim {
namespace {

constexpr int kWorkingFill = 850;  // the queue level the plugin streams up to
constexpr uint16_t kUntagged = 0xFFFF;
// Positions on the wire are 32-bit steps; a segment's distance is a 32-bit count of
// millionths of a step.
constexpr double kMaxPositionSteps = 2147483647.0;
constexpr double kMaxStepsPerSegment = 2147483647.0 / 1e6;
constexpr int kMaxProgramHours = 24;
constexpr double kMaxProgramSeconds = kMaxProgramHours * 3600.0;
constexpr char kAxisLetters[] = "XYZABC";

// Plasma runs. The table's torch voltage divider gives 5 V at the analog input for 250 V
// of arc voltage. An operator who sees the machine stand still with the torch on and no
// arc for this long stops the program.
constexpr uint32_t kArcStrikeMs = 150;
constexpr double kTorchDividerFullScale = 250.0;
constexpr uint64_t kOperatorArcWaitMs = 5000;
constexpr double kHeightToleranceMm = 0.25;

double Seconds(uint64_t ms) {
  return static_cast<double>(ms) / 1000.0;
}

bool CheckInputFile(const std::string& path, const char* what, std::string* error) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    *error = std::string(what) + " \"" + path + "\" does not exist";
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    *error = std::string(what) + " \"" + path + "\" is not a regular file";
    return false;
  }
  return true;
}

// The simulated controller of a run: its firmware version and the faults of an update.
SimControllerOptions ControllerOptionsFor(const RunOptions& options, const Machine& machine) {
  SimControllerOptions controller;
  // A plasma torch: the arc transfers a moment after the torch is switched on.
  if (machine.thc_on) {
    controller.arc_strike_ms = kArcStrikeMs;
    controller.divider_full_scale = kTorchDividerFullScale;
  }
  if (!options.controller_version.empty()) controller.firmware_version = options.controller_version;
  controller.flashed_version = Plugin::kRequiredFirmware;
  controller.flash_faults = options.flash_faults;
  return controller;
}

// One program on a stand-in host, watched: the host's planner (ProgramRunner) carries it
// out at every Update, and every simulated millisecond passes through Observe for the
// statistics of the run.
class Driver final : public RunnerListener {
 public:
  Driver(const RunOptions& options, const Machine& machine, std::vector<Block> blocks,
         RunResult& result)
      : options_(options),
        machine_(machine),
        result_(result),
        host_(ControllerOptionsFor(options, machine)),
        image_(EmbeddedPackedImage()),
        view_(host_.plugin()),
        runner_(host_, view_, machine, std::move(blocks), *this) {}

  bool Prepare(const std::string& profile_file, std::string* error);
  void Run(const ProgramPlan& plan);

  // ---- RunnerListener ----
  void RingEntryWritten(uint16_t ring_index, int32_t line) override;
  void EventBegun(const Block& block) override;
  void EventEnded(const Block& block) override;
  void EventInterrupted(const Block& block) override;

 private:
  struct Written {
    uint16_t ring_index = 0;
    int32_t line = 0;
  };

  void ReportProgress();
  // Loads the point file through the plugin and switches correction on; a text on failure.
  std::string StartZCorrection();
  void WatchZCorrection();
  void WatchZSpeed();
  void CollectFirmwareUpdate();
  // Plasma runs: the arc model, the voltage log, and each cut watched.
  void PrepareThc();
  void WatchThc(uint64_t executed_delta);
  void CollectThc();
  // The operator sets the THC page's nominal voltage as the target (DRO 1501); the run
  // warns about settings with which the torch-start hold cannot end before M5.
  void StartThc();
  void WatchTorchHeight();
  void WatchArcFaults(uint64_t now);

  // ---- Every simulated millisecond ----
  void Observe(uint64_t now);

  // Counts the milliseconds of a continuous move in which nothing executed although more of
  // the move was to come.
  void TrackMove(uint64_t now, uint64_t executed, bool more_to_come);
  void MarkLine(std::vector<uint8_t>& lines, int32_t line);
  void Collect(const ProgramPlan& plan);

  const RunOptions& options_;
  const Machine& machine_;
  RunResult& result_;
  HostOf<Plugin> host_;
  // The image the plugin carries, for an update offered at Reset (the update dialog is the
  // headless one: it records its texts and closes with OK at the end).
  MemoryImageSource image_;
  PluginViewOf view_;
  ProgramRunner runner_;
  std::unique_ptr<TimerJitter> jitter_;
  std::ofstream trace_file_;
  std::ofstream status_file_;
  std::unique_ptr<StatusLog> status_log_;

  bool probe_touched_ = false;  // the controller has reported the contact (PROBE2)
  uint64_t dropped_before_probe_ = 0;
  uint64_t observed_ms_ = 0;

  // Ring entries written and not yet executed, oldest first.
  std::deque<Written> in_flight_;
  std::vector<uint8_t> lines_executed_;
  uint64_t last_executed_ = 0;
  bool move_started_ = false;  // the current move run has begun executing
  bool move_working_ = false;  // ... and its queue has reached the working level
  bool was_executing_ = false;
  uint64_t move_start_ms_ = 0;
  int32_t last_line_ = 0;
  uint64_t tag_mismatches_ = 0;
  double fill_sum_ = 0.0;

  int last_timer_ticks_ = -1;
  bool link_was_up_ = false;
  // Z correction: the follow error is measured once the follower has first settled; after
  // the program moved Z itself, the error counts as lag until Z has settled again.
  bool zcorr_settled_ = false;
  bool zcorr_catching_up_ = false;
  std::optional<double> zcorr_last_planned_z_;
  // The executed Z of the millisecond before and its speed (millionths of a step).
  std::optional<int64_t> z_last_micro_;
  int64_t z_last_speed_micro_ = 0;
  // THC: the cut in progress (torch on), the report that carried arc OK, the Z read-back.
  std::optional<ThcCutReport> cut_;
  bool cut_offset_seen_ = false;
  bool readback_was_pending_ = false;
  std::unique_ptr<PlasmaSheet> sheet_;
  bool arc_loss_done_ = false;
  std::optional<uint64_t> arc_lost_ms_;
  std::optional<std::array<int64_t, 2>> uncut_last_xy_;
  std::optional<std::array<int64_t, 2>> pierce_xy_;  // where the torch started
  bool left_pierce_ = false;
  std::optional<uint64_t> disconnect_ms_;
  std::chrono::steady_clock::time_point last_report_;
};

bool Driver::Prepare(const std::string& profile_file, std::string* error) {
  if (!options_.trace_path.empty()) {
    trace_file_.open(options_.trace_path, std::ios::binary | std::ios::trunc);
    if (!trace_file_) {
      *error = "cannot write the trace file \"" + options_.trace_path + "\"";
      return false;
    }
  }
  if (!options_.status_log_path.empty()) {
    status_file_.open(options_.status_log_path, std::ios::binary | std::ios::trunc);
    if (!status_file_) {
      *error = "cannot write the status log \"" + options_.status_log_path + "\"";
      return false;
    }
    status_log_ = std::make_unique<StatusLog>(status_file_, options_.status_log_every,
                                              [this] { return host_.now(); });
    host_.plugin().SetStatusWindowThread(&status_log_->window());
  }
  SimTrace& trace = host_.controller().trace();
  // Segments are only wanted in the file: a long run streams hundreds of thousands.
  trace.options().keep_segments = false;
  if (trace_file_.is_open()) {
    trace.sink = [this](const TraceEntry& entry) { trace_file_ << FormatTraceJson(entry) << '\n'; };
  }

  const FaultOptions& faults = options_.faults;
  if (faults.jitter) {
    jitter_ = std::make_unique<TimerJitter>(faults.seed);
    host_.timer_period = [this] { return jitter_->NextPeriod(); };
  }
  if (faults.lose_rate > 0.0 || faults.corrupt_rate > 0.0) {
    host_.controller().SetStatusFaultRates(faults.lose_rate, faults.corrupt_rate, faults.seed);
  }
  if (faults.disconnect_at_seconds) {
    disconnect_ms_ = static_cast<uint64_t>(std::llround(*faults.disconnect_at_seconds * 1000.0));
  }

  // The workpiece surface the probe touches, given in G54 coordinates.
  const double steps_x = machine_.axes[0].steps_per_unit;
  const double steps_y = machine_.axes[1].steps_per_unit;
  const double steps_z = machine_.axes[2].steps_per_unit;
  const Position zero = machine_.work_offsets[0];
  const double z0 = options_.surface_z;
  const double sx = options_.surface_slope_x;
  const double sy = options_.surface_slope_y;
  host_.controller().SetProbePredicate([=](const std::array<int64_t, kSimAxes>& steps) {
    const double x = static_cast<double>(steps[0]) / steps_x - zero[0];
    const double y = static_cast<double>(steps[1]) / steps_y - zero[1];
    const double z = static_cast<double>(steps[2]) / steps_z - zero[2];
    return z <= z0 + sx * x + sy * y;
  });

  // Every millisecond the laser's gate is open burns its power at the tool's X and Y.
  host_.controller().on_laser_ms = [this, steps_x, steps_y](int64_t x_micro, int64_t y_micro,
                                                            double power) {
    // Only a machine the plugin drives as a laser (synchronised gate, ramp compensation or
    // gray levels) burns: a mill's PWM spindle is not a beam.
    const PluginSettings& settings = host_.plugin().settings();
    if (settings.laser_sync == 0 && settings.laser_comp == 0 && settings.laser_gl == 0) return;
    if (!result_.laser) {
      const double pixel = options_.burn_pixel;
      result_.laser = LaserReport{};
      result_.laser->burn = result_.laser->gray = result_.laser->dwell = LaserBurn(pixel);
    }
    LaserReport& laser = *result_.laser;
    const double x = (static_cast<double>(x_micro) / 1e6 - 0.5) / steps_x;
    const double y = (static_cast<double>(y_micro) / 1e6 - 0.5) / steps_y;
    const double level = static_cast<double>(host_.controller().position(3));
    laser.gray.Deposit(x, y, std::clamp(level, 0.0, 255.0), kSamplePeriod);
    laser.dwell.Deposit(x, y, 1.0, kSamplePeriod);
    if (!(power > 0.0)) return;
    laser.on_time_s += kSamplePeriod;
    laser.power_min = std::min(laser.power_min, power * 100.0);
    laser.power_max = std::max(laser.power_max, power * 100.0);
    laser.burn.Deposit(x, y, power, kSamplePeriod);
    laser.energy = laser.burn.total_energy();
  };

  // Every simulated millisecond passes through Observe.
  host_.platform().on_time = [this](uint64_t now) {
    for (uint64_t t = observed_ms_ + 1; t <= now; ++t) {
      host_.controller().AdvanceTo(t);
      Observe(t);
    }
    observed_ms_ = std::max(observed_ms_, now);
  };
  host_.before_update = [this] { runner_.Drive(); };
  runner_.after_drive = [this] { ReportProgress(); };
  if (!options_.zmap_path.empty()) {
    runner_.before_program = [this] { return StartZCorrection(); };
  }

  if (machine_.thc_on) PrepareThc();
  host_.plugin().firmware().Attach(&image_, nullptr);
  if (!options_.controller_version.empty()) {
    host_.platform().yes_no_answers.push_back(options_.update_answer_yes ? MessageBoxAnswer::kYes
                                                                         : MessageBoxAnswer::kNo);
  }

  for (int k = 0; k < kAxisCount; ++k) result_.axis_enabled[k] = machine_.axes[k].enabled;
  result_.units = machine_.units == Units::kInch ? "inch" : "mm";
  runner_.StartHost(profile_file);
  // The operator opens the status window from the plugin's menu.
  if (status_log_) host_.plugin().Notify(host_.plugin().menu_base() + 1);
  if (machine_.thc_on) StartThc();
  CollectFirmwareUpdate();
  return true;
}

void Driver::CollectFirmwareUpdate() {
  const std::string reported = host_.controller().options().firmware_version;
  if (reported == Plugin::kRequiredFirmware) return;
  FirmwareUpdateRunReport report;
  report.controller_version = reported;
  report.required_version = Plugin::kRequiredFirmware;
  report.answered_yes = options_.update_answer_yes;
  FirmwareUpdate& update = host_.plugin().firmware();
  report.ran = update.headless().runs() > 0;
  if (report.ran) {
    const FirmwareUpdateReport& steps = update.report();
    report.updated = steps.result;
    report.chunks = steps.chunks;
    report.bytes = steps.bytes;
    report.elapsed_ms = steps.elapsed_ms;
    report.reconnect_attempts = steps.reconnect_attempts;
    // The dialog opens with its template's heading; the steps set every text after it.
    report.texts.emplace_back(RecordingProgressView::kInitialHeading);
    for (const std::string& text : update.headless().view().texts()) report.texts.push_back(text);
  }
  report.version_after = host_.controller().firmware_version();
  const SimFlashFaults& faults = options_.flash_faults;
  if (faults.wrong_erase_reply) report.faults.push_back("a wrong reply to the erase");
  if (faults.wrong_reply_to_write) {
    report.faults.push_back("a wrong reply to write " +
                            std::to_string(*faults.wrong_reply_to_write));
  }
  if (faults.no_reply_to_write) {
    report.faults.push_back("no reply to write " + std::to_string(*faults.no_reply_to_write));
  }
  if (faults.never_returns) report.faults.push_back("not coming back after the new image");
  result_.firmware = std::move(report);
}

void Driver::Run(const ProgramPlan& plan) {
  last_report_ = std::chrono::steady_clock::now();
  link_was_up_ = host_.plugin().link().connected();
  // A backstop only: a run that hangs is caught by the progress watch long before.
  const double budget = 3.0 * (plan.seconds + plan.probing_seconds) + 3600.0;
  runner_.Execute(static_cast<uint64_t>(std::min(budget, 1e9) * 1000.0));
  Collect(plan);
  host_.before_update = nullptr;
  host_.StopPlug();
  result_.sim_seconds = Seconds(host_.now());
  result_.status_texts = host_.platform().status_texts;
  result_.message_boxes = host_.platform().message_boxes;
  if (trace_file_.is_open()) {
    trace_file_.flush();
    if (!trace_file_) {
      result_.output_error = "writing the trace file \"" + options_.trace_path + "\" failed";
    }
  }
}

void Driver::ReportProgress() {
  if (!options_.progress) return;
  const auto wall = std::chrono::steady_clock::now();
  if (wall - last_report_ >= std::chrono::milliseconds(100)) {
    last_report_ = wall;
    options_.progress(Seconds(host_.now() - runner_.run_start_ms()), result_.planned_seconds);
  }
}

// ---- What the host's planner does ----

void Driver::RingEntryWritten(uint16_t ring_index, int32_t line) {
  in_flight_.push_back(Written{ring_index, line});
}

void Driver::EventBegun(const Block& block) {
  move_started_ = false;
  move_working_ = false;
  was_executing_ = false;
  in_flight_.clear();
  switch (block.kind) {
    case BlockKind::kSpindle:
      ++result_.spindle_actions;
      if (result_.thc && block.spindle == SpindleAction::kStop && cut_) {
        // The torch goes off: the cut ends; the Z read-back follows.
        if (cut_->arc_ok) {
          cut_->cut_seconds =
              Seconds(host_.now()) - cut_->start_seconds - Seconds(cut_->arc_ok_wait_ms);
        }
        result_.thc->cuts.push_back(*cut_);
        cut_.reset();
        host_.controller().SetArcCanStart(true);
      } else if (result_.thc && (block.spindle == SpindleAction::kClockwise ||
                                 block.spindle == SpindleAction::kCounterClockwise)) {
        ++result_.thc->torch_starts;
        cut_ = ThcCutReport{};
        cut_->line = block.line;
        cut_->start_seconds = Seconds(host_.now());
        cut_offset_seen_ = false;
        arc_lost_ms_.reset();
        uncut_last_xy_.reset();
        pierce_xy_ =
            std::array<int64_t, 2>{host_.controller().position(0), host_.controller().position(1)};
        left_pierce_ = false;
        if (options_.arc_fail && *options_.arc_fail == result_.thc->torch_starts) {
          cut_->ignition_failed = true;
          host_.controller().SetArcCanStart(false);
        }
      }
      break;
    case BlockKind::kDwell:
      ++result_.dwells;
      break;
    case BlockKind::kHome:
      ++result_.homings;
      break;
    case BlockKind::kCoolant:
      ++result_.coolant_actions;
      break;
    case BlockKind::kPause:
      ++result_.pauses;
      break;
    case BlockKind::kToolChange:
      result_.tool_changes.push_back(block.tool);
      break;
    case BlockKind::kProbe:
      probe_touched_ = false;
      dropped_before_probe_ = host_.controller().segments_dropped();
      break;
    default:
      break;
  }
}

void Driver::EventInterrupted(const Block& block) {
  // A probe that touched nothing ends the run, but the machine did carry the line out: the
  // probe went all the way to its target.
  if (block.kind == BlockKind::kProbe) EventEnded(block);
}

void Driver::EventEnded(const Block& block) {
  if (result_.thc && block.kind == BlockKind::kSpindle && block.spindle == SpindleAction::kStop &&
      !result_.thc->cuts.empty()) {
    // The torch stop is over (Z read back): the host's Z against where the torch really is.
    ThcCutReport& last = result_.thc->cuts.back();
    const SimController& c = host_.controller();
    last.host_z_steps = host_.machine().motors[2].step_position;
    last.controller_z_steps = c.position(2) + c.thc_offset();
  }
  if (block.kind == BlockKind::kProbe) {
    ProbeReport report;
    report.line = block.line;
    const HostPlanner& planner = host_.planner();
    for (int k = 0; k < 4; ++k) {
      report.result[k] = planner.probe_result[k];
      report.offset[k] = block.offset[k];
    }
    report.hit = probe_touched_;
    result_.segments_dropped_probing +=
        host_.controller().segments_dropped() - dropped_before_probe_;
    result_.probes.push_back(report);
  }
  MarkLine(lines_executed_, block.line);
  move_started_ = false;
  move_working_ = false;
  was_executing_ = false;
}

// ---- Every simulated millisecond ----

void Driver::Observe(uint64_t now) {
  SimController& c = host_.controller();
  HostMachineState& machine = host_.machine();
  FaultReport& faults = result_.faults;
  if (disconnect_ms_ && !faults.disconnected_at_seconds && now >= *disconnect_ms_) {
    c.Disconnect();
    faults.disconnected_at_seconds = Seconds(now);
  }

  const uint64_t executed = c.segments_executed();
  const uint64_t delta = executed - last_executed_;
  last_executed_ = executed;
  if (!options_.zmap_path.empty()) WatchZSpeed();
  if (machine.estop) {
    // An E-stop ends motion on purpose: nothing after it is an underrun.
    move_started_ = false;
  } else if (runner_.phase() == ProgramRunner::Phase::kStreaming) {
    for (uint64_t i = 0; i < delta && !in_flight_.empty(); ++i) {
      const Written w = in_flight_.front();
      in_flight_.pop_front();
      MarkLine(lines_executed_, w.line);
      last_line_ = w.line;
      // The segment executing now must be the ring entry the host wrote at that place.
      if (i + 1 == delta && c.executing_tag() != kUntagged && c.executing_tag() != w.ring_index) {
        ++tag_mismatches_;
      }
    }
    TrackMove(now, delta, !in_flight_.empty());
    if (delta > 0 && !options_.zmap_path.empty()) WatchZCorrection();
    const int fill = static_cast<int>(c.buffer_fill());
    const bool handing_over = runner_.more_to_hand_over() || !TrajectorySource::RingEmpty(machine);
    if (move_working_ && handing_over) {
      if (result_.fill_samples == 0) {
        result_.fill_min = fill;
        result_.fill_max = fill;
      }
      result_.fill_min = std::min(result_.fill_min, fill);
      result_.fill_max = std::max(result_.fill_max, fill);
      fill_sum_ += fill;
      ++result_.fill_samples;
    }
  } else if (runner_.phase() == ProgramRunner::Phase::kEvent &&
             runner_.event().kind == BlockKind::kProbe) {
    // The probe move is continuous until the probe touches or the plugin has sent it all.
    last_line_ = runner_.event().line;
    if (c.sequence() == SimSequence::kProbe2) probe_touched_ = true;
    TrackMove(now, delta, !probe_touched_ && host_.plugin().tick().probing().move().active);
  }

  if (result_.thc) WatchThc(delta);

  if (machine.estop && !faults.estop_at_seconds) {
    faults.estop_at_seconds = Seconds(now);
    faults.stop_code = machine.stop_code;
  }
  const bool link_up = host_.plugin().link().connected();
  if (link_was_up_ && !link_up && !faults.link_closed_at_seconds) {
    faults.link_closed_at_seconds = Seconds(now);
  }
  link_was_up_ = link_up;
  faults.max_missed_polls =
      std::max(faults.max_missed_polls, host_.plugin().tick().watchdog().missed_polls());

  if (options_.record_plot && host_.timer_ticks != last_timer_ticks_) {
    last_timer_ticks_ = host_.timer_ticks;
    PlotSample s;
    s.t_seconds = Seconds(now);
    s.x = static_cast<double>(c.position(0)) / machine_.axes[0].steps_per_unit;
    s.y = static_cast<double>(c.position(1)) / machine_.axes[1].steps_per_unit;
    s.z = static_cast<double>(c.position(2)) / machine_.axes[2].steps_per_unit;
    s.fill = static_cast<int>(c.buffer_fill());
    s.arc_volts = c.arc_voltage();
    s.thc_offset = static_cast<double>(c.thc_offset()) / machine_.axes[2].steps_per_unit;
    if (result_.thc && c.arc_burning()) {
      const Position zero = machine_.work_offsets[0];
      s.torch_height =
          s.z + s.thc_offset - zero[2] - PlasmaSheet::Top(s.x - zero[0], s.y - zero[1]);
    }
    result_.plot.push_back(s);
  }
}

void Driver::PrepareThc() {
  result_.thc = ThcReport{};
  SimController& c = host_.controller();
  sheet_ = std::make_unique<PlasmaSheet>(options_.faults.seed);
  const Position zero = machine_.work_offsets[0];
  const double steps_x = machine_.axes[0].steps_per_unit;
  const double steps_y = machine_.axes[1].steps_per_unit;
  const double steps_z = machine_.axes[2].steps_per_unit;
  c.SetArcVoltageModel(
      [this, zero, steps_x, steps_y, steps_z, &c](const std::array<int64_t, kSimAxes>& torch) {
        const double x = static_cast<double>(torch[0]) / steps_x - zero[0];
        const double y = static_cast<double>(torch[1]) / steps_y - zero[1];
        const double z = static_cast<double>(torch[2]) / steps_z - zero[2];
        return sheet_->ArcVolts(x, y, z, c.now());
      });
  c.on_report_delivered = [this](const std::array<uint8_t, kSimStatusLength>& status) {
    const uint8_t flags = status[3];
    if (flags & kStatusFlagThcActive) ++result_.thc->thc_active_reports;
    if (cut_ && !cut_->arc_ok && (flags & kStatusFlagArcOk)) {
      cut_->arc_ok = true;
      cut_->arc_ok_wait_ms =
          host_.now() - static_cast<uint64_t>(std::llround(cut_->start_seconds * 1000.0));
    }
    if (cut_ && arc_lost_ms_ && !cut_->arc_ok_off_report_ms && !(flags & kStatusFlagArcOk)) {
      cut_->arc_ok_off_report_ms = host_.now() - *arc_lost_ms_;
    }
  };
  if (!options_.thc_log_dir.empty()) {
    ThcRuntime& thc = host_.plugin().tick().thc();
    const std::string path =
        (std::filesystem::path(options_.thc_log_dir) / kThcVoltageLogName).string();
    thc.voltage_log_file().set_path(path);
    thc.set_voltage_log(true);
    result_.thc->voltage_log_path = path;
  }
}

void Driver::StartThc() {
  Plugin& plugin = host_.plugin();
  const PluginSettings& settings = plugin.settings();
  // The operator puts the THC page's nominal voltage into the target DRO, as closing the
  // configuration dialog does.
  host_.dros[kDroTargetVolts] = settings.thc_nom_voltage;
  // THCDwell with nothing that can give arc OK: the plugin does not hold the torch start
  // (the hold could only end at M5) and says so; the summary repeats it.
  if (host_.machine().thc_mode) {
    if (const auto warning = TorchHoldWarning(settings, plugin.host())) {
      result_.thc->warnings.push_back(*warning);
    }
  }
}

void Driver::WatchArcFaults(uint64_t now) {
  SimController& c = host_.controller();
  if (options_.arc_loss_seconds && !arc_loss_done_ && cut_ && c.arc_burning() &&
      now >= runner_.run_start_ms() +
                 static_cast<uint64_t>(std::llround(*options_.arc_loss_seconds * 1000.0))) {
    arc_loss_done_ = true;
    c.ExtinguishArc();
    sheet_->ArcOut();
    arc_lost_ms_ = now;
    cut_->arc_lost_seconds = Seconds(now);
  }
  // After the arc went out the torch is still on: the path it travels is not cut.
  if (cut_ && arc_lost_ms_ && !c.arc_burning()) {
    const std::array<int64_t, 2> xy{c.position(0), c.position(1)};
    if (uncut_last_xy_) {
      const double dx =
          static_cast<double>(xy[0] - (*uncut_last_xy_)[0]) / machine_.axes[0].steps_per_unit;
      const double dy =
          static_cast<double>(xy[1] - (*uncut_last_xy_)[1]) / machine_.axes[1].steps_per_unit;
      cut_->uncut_units += std::hypot(dx, dy);
    }
    uncut_last_xy_ = xy;
  }
  // A torch start the plugin holds and no arc OK ends: the operator stops the program.
  if (cut_ && !cut_->arc_ok && host_.plugin().tick().thc().torch_start_hold() &&
      runner_.phase() != ProgramRunner::Phase::kStopped &&
      now >=
          static_cast<uint64_t>(std::llround(cut_->start_seconds * 1000.0)) + kOperatorArcWaitMs) {
    HostMachineState& machine = host_.machine();
    machine.outputs[kSpindleOutputRecord].active = 0;
    machine.torch_on = 0;
    host_.exports().Notify(kNotifySpindleStop);
    runner_.Stop("the torch started at line " + std::to_string(cut_->line) +
                     " and no arc OK reached the host within " +
                     std::to_string(kOperatorArcWaitMs / 1000) +
                     " s: the plugin held the motion, the operator switched the torch off "
                     "and stopped the program",
                 true);
  }
}

void Driver::WatchTorchHeight() {
  const SimController& c = host_.controller();
  const Position zero = machine_.work_offsets[0];
  const double x = static_cast<double>(c.position(0)) / machine_.axes[0].steps_per_unit - zero[0];
  const double y = static_cast<double>(c.position(1)) / machine_.axes[1].steps_per_unit - zero[1];
  const double steps_z = machine_.axes[2].steps_per_unit;
  // The program's Z is the cutting height it asks for; the torch is there plus the offset.
  const double program_z = static_cast<double>(c.position(2)) / steps_z - zero[2];
  const double torch_z = static_cast<double>(c.position(2) + c.thc_offset()) / steps_z - zero[2];
  const double height = torch_z - PlasmaSheet::Top(x, y);
  const double tolerance =
      machine_.units == Units::kInch ? kHeightToleranceMm / 25.4 : kHeightToleranceMm;
  cut_->torch_height.Add(height, std::fabs(height - program_z) <= tolerance);
  // Until X or Y has moved the torch is still over its pierce.
  const std::array<int64_t, 2> xy{c.position(0), c.position(1)};
  if (!pierce_xy_) pierce_xy_ = xy;
  if (*pierce_xy_ == xy && !left_pierce_) {
    ++cut_->regulated_piercing_ms;
  } else {
    left_pierce_ = true;
  }
  if (c.thc_locked()) ++cut_->locked_ms;
  if (c.kerf_hold()) ++cut_->kerf_hold_ms;
}

void Driver::WatchThc(uint64_t executed_delta) {
  const SimController& c = host_.controller();
  ThcReport& thc = *result_.thc;
  WatchArcFaults(c.now());
  if (cut_ && c.thc_active()) WatchTorchHeight();
  if (cut_) {
    if (!cut_->arc_ok) cut_->segments_before_arc_ok += executed_delta;
    if (c.arc_ok()) {
      const double offset = static_cast<double>(c.thc_offset()) / machine_.axes[2].steps_per_unit;
      if (!cut_offset_seen_) cut_->z_offset_min = cut_->z_offset_max = offset;
      cut_offset_seen_ = true;
      cut_->z_offset_min = std::min(cut_->z_offset_min, offset);
      cut_->z_offset_max = std::max(cut_->z_offset_max, offset);
    }
  }
  if (c.thc_active()) {
    const double volts = c.arc_voltage();
    const bool first = thc.arc_volts_min == 0.0 && thc.arc_volts_max == 0.0;
    thc.arc_volts_min = first ? volts : std::min(thc.arc_volts_min, volts);
    thc.arc_volts_max = first ? volts : std::max(thc.arc_volts_max, volts);
  }
  // The plugin's Z read-back after a torch stop.
  const bool pending = host_.machine().z_readback_request != 0;
  if (readback_was_pending_ && !pending && !thc.cuts.empty()) {
    thc.cuts.back().z_read_back = true;
    thc.cuts.back().latched_z_steps = c.latched_z();
  }
  readback_was_pending_ = pending;
}

void Driver::CollectThc() {
  ThcReport& thc = *result_.thc;
  if (cut_) {
    thc.cuts.push_back(*cut_);
    cut_.reset();
  }
  const ThcRuntime& runtime = host_.plugin().tick().thc();
  thc.ignitions = runtime.ignition_count();
  thc.cut_seconds = static_cast<double>(runtime.cut_time_ms()) / 1000.0;
  thc.kerf_crossing_ms = sheet_ ? sheet_->kerf_crossing_ms() : 0;
  for (const ThcCutReport& cut : thc.cuts) {
    thc.torch_height.Merge(cut.torch_height);
    thc.locked_ms += cut.locked_ms;
    thc.kerf_hold_ms += cut.kerf_hold_ms;
  }
  bool first = true;
  for (const ThcCutReport& cut : thc.cuts) {
    if (!cut.arc_ok) continue;
    thc.z_offset_min = first ? cut.z_offset_min : std::min(thc.z_offset_min, cut.z_offset_min);
    thc.z_offset_max = first ? cut.z_offset_max : std::max(thc.z_offset_max, cut.z_offset_max);
    first = false;
  }
  if (!thc.voltage_log_path.empty()) {
    std::ifstream log(thc.voltage_log_path, std::ios::binary);
    std::string line;
    if (std::getline(log, line)) thc.voltage_log_header_ok = line == "flags\tth\tadc\tvolts\tzs";
    while (std::getline(log, line)) ++thc.voltage_log_rows;
  }
}

std::string Driver::StartZCorrection() {
  Plugin& plugin = host_.plugin();
  PluginSettings& settings = plugin.settings();
  settings.z_file_name = options_.zmap_path;
  settings.z_normal = options_.znormal;
  settings.z_start_mode = options_.zstart;
  ZCorrection& zcorr = plugin.zcorrection();
  const size_t boxes = host_.platform().message_boxes.size();
  if (!zcorr.Reload()) {
    std::string why = "the Z correction point file \"" + options_.zmap_path + "\" was refused";
    const auto& texts = host_.platform().message_boxes;
    if (texts.size() > boxes) why += ": \"" + texts.back() + "\"";
    return why;
  }
  zcorr.set_enabled(true);
  if (!host_.RunUntil([&] { return zcorr.active() || zcorr.state().activation_step == 4; },
                      60000) ||
      !zcorr.active()) {
    return "Z correction did not start";
  }
  return {};
}

void Driver::WatchZSpeed() {
  // The executed Z of every millisecond (a segment's Z distance, or none while nothing
  // executes): its speed and its change against the axis's limits.
  const int64_t z = host_.controller().position_micro(2);
  if (!result_.zcorr) result_.zcorr.emplace();
  ZCorrectionReport& r = *result_.zcorr;
  if (z_last_micro_) {
    const int64_t speed = z - *z_last_micro_;
    const double change = std::fabs(static_cast<double>(speed - z_last_speed_micro_)) / 1e6;
    r.max_z_speed = std::max(r.max_z_speed, std::fabs(static_cast<double>(speed)) / 1e6);
    r.max_z_speed_change = std::max(r.max_z_speed_change, change);
    z_last_speed_micro_ = speed;
  }
  z_last_micro_ = z;
}

void Driver::WatchZCorrection() {
  const ZCorrection& zcorr = host_.plugin().zcorrection();
  const SimController& c = host_.controller();
  const uint16_t tag = c.executing_tag();
  if (!zcorr.active() || tag == kUntagged || tag >= kRingSize) return;
  // The segment executing now ends where the host planned its ring entry, plus the
  // correction at that place (as the plugin limits it near the soft limits).
  const HostRingEntry& entry = host_.planner().ring[tag];
  const double wanted = zcorr.CorrectedTarget(entry.target[0], entry.target[1], entry.target[2]);
  const double executed = (static_cast<double>(c.position_micro(2)) - 500000.0) / 1e6;
  const double error = std::fabs(executed - wanted);
  const bool program_moves_z = zcorr_last_planned_z_ && entry.target[2] != *zcorr_last_planned_z_;
  zcorr_last_planned_z_ = entry.target[2];
  if (!zcorr_settled_) {
    zcorr_settled_ = error <= 1.0;
    if (!zcorr_settled_) return;
  }
  ZCorrectionReport& r = *result_.zcorr;
  // While the program moves Z, and afterwards until Z is back within a step of the corrected
  // target, the difference is the follower's lag; otherwise it is the error at a depth the
  // program holds.
  if (program_moves_z) {
    zcorr_catching_up_ = true;
  } else if (zcorr_catching_up_ && error <= 1.0) {
    zcorr_catching_up_ = false;
  }
  if (zcorr_catching_up_) {
    r.max_z_move_lag_steps = std::max(r.max_z_move_lag_steps, error);
    ++r.z_move_segments;
  } else {
    r.max_hold_error_steps = std::max(r.max_hold_error_steps, error);
    ++r.hold_segments;
  }
}

void Driver::TrackMove(uint64_t now, uint64_t executed, bool more_to_come) {
  if (executed > 0) {
    if (!move_started_) move_start_ms_ = now;
    move_started_ = true;
  } else if (move_started_ && more_to_come) {
    ++result_.starved_ms;
    if (was_executing_) {
      ++result_.underruns;
      if (result_.underrun_list.size() < kMaxUnderrunReports) {
        UnderrunReport report;
        report.at_seconds = Seconds(now);
        report.line = last_line_;
        report.ms_since_move_start = static_cast<double>(now - move_start_ms_);
        report.queue_was_full = move_working_;
        result_.underrun_list.push_back(report);
      }
    }
    if (static_cast<size_t>(result_.underruns) <= kMaxUnderrunReports &&
        !result_.underrun_list.empty()) {
      ++result_.underrun_list.back().ms;
    }
  }
  was_executing_ = executed > 0;
  if (move_started_ && host_.controller().buffer_fill() >= kWorkingFill) move_working_ = true;
}

void Driver::MarkLine(std::vector<uint8_t>& lines, int32_t line) {
  if (line <= 0) return;
  const auto index = static_cast<size_t>(line);
  if (index >= lines.size()) lines.resize(index + 1, 0);
  lines[index] = 1;
}

void Driver::Collect(const ProgramPlan& plan) {
  if (result_.thc) CollectThc();
  const SimController& c = host_.controller();
  // A spindle that ran with no power (a relay, S0) burned nothing: no laser to report.
  if (result_.laser && !(result_.laser->energy > 0.0)) result_.laser.reset();
  constexpr uint8_t kConfigFlagGrayLevel = 0x20;
  if (result_.laser && c.motion_config() &&
      (c.motion_config()->flags & kConfigFlagGrayLevel) != 0) {
    LaserReport& laser = *result_.laser;
    laser.gray_correlation = GrayCorrelation(laser.gray, laser.dwell, laser.burn);
  }
  const SimTrace& trace = c.trace();
  const ProgramRunner::Phase phase = runner_.phase();
  result_.status =
      phase == ProgramRunner::Phase::kFinished ? RunStatus::kCompleted : RunStatus::kIncomplete;
  result_.error = runner_.stop_reason();
  if (phase != ProgramRunner::Phase::kFinished && phase != ProgramRunner::Phase::kStopped) {
    result_.error = "the run ended before the program did";
  }
  if (result_.firmware && !result_.firmware->updated && result_.status != RunStatus::kCompleted) {
    result_.error += result_.firmware->ran ? " (the firmware update failed)"
                                           : " (the firmware update was declined)";
  }
  result_.samples_written = runner_.source().SamplesWritten();
  result_.segments_streamed = c.segments_received();
  result_.segments_executed = c.segments_executed();
  result_.segments_dropped = c.segments_dropped();
  result_.phase_mismatches = c.phase_mismatches();
  result_.fill_average =
      result_.fill_samples ? fill_sum_ / static_cast<double>(result_.fill_samples) : 0.0;
  // Synchronous outputs execute with the segment that carries them, in program order.
  const size_t outputs_done = std::min(c.sync_events().size(), plan.output_lines.size());
  for (size_t i = 0; i < outputs_done; ++i) MarkLine(lines_executed_, plan.output_lines[i]);
  result_.lines_executed = 0;
  for (const int line : plan.line_numbers) {
    const auto index = static_cast<size_t>(line);
    if (index < lines_executed_.size() && lines_executed_[index]) {
      ++result_.lines_executed;
    } else if (result_.lines_missed.size() < 20) {
      result_.lines_missed.push_back(line);
    }
  }
  const Position& final_target =
      phase == ProgramRunner::Phase::kFinished ? runner_.source().FinalTarget() : plan.final_steps;
  for (int k = 0; k < kAxisCount; ++k) {
    // The controller rests on the whole step in which target + 0.5 lies.
    const double planned = std::floor(final_target[k] + 0.5);
    result_.planned_final_steps[k] =
        std::isfinite(planned) ? static_cast<int64_t>(std::clamp(planned, -9e15, 9e15)) : 0;
    result_.executed_final_steps[k] = c.position(k);
    result_.host_final_steps[k] = host_.machine().motors[k].step_position;
  }
  if (!options_.zmap_path.empty()) {
    const ZCorrection& zcorr = host_.plugin().zcorrection();
    const ZCorrectionMap& map = zcorr.map();
    if (!result_.zcorr) result_.zcorr.emplace();
    ZCorrectionReport& z = *result_.zcorr;
    z.cols = map.cols();
    z.rows = map.rows();
    z.z_min = map.z_min();
    z.z_max = map.z_max();
    z.norm_offset = map.norm_offset();
    z.max_correction = map.max_correction();
    z.plane = {map.plane().nx, map.plane().ny, map.plane().nz, map.plane().d};
    z.dev_above = map.dev_above();
    z.dev_below = map.dev_below();
    const HostAxisTuning& tuning = host_.planner().axes[kAxisZ];
    z.z_speed_limit = tuning.max_velocity * tuning.steps_per_unit * 0.001;
    z.z_acceleration_limit = tuning.acceleration * tuning.steps_per_unit * 0.000001;
    if (zcorr.active()) {
      // The program ends where it was planned, with the correction there added to Z. When
      // there is a correction to add at rest, the plugin first takes the host's Z into one
      // step inside the soft limits (with ZLimitCorr and the soft limits on).
      Plugin& plugin = host_.plugin();
      double z = std::floor(final_target[2] + 0.5);
      double corrected = zcorr.CorrectedTarget(final_target[0], final_target[1], z);
      if (corrected != z && plugin.settings().z_limit_corr && host_.machine().soft_limits_on) {
        const ControllerConfig& config = plugin.controller_config();
        z = std::clamp(z, config.SoftMinSteps(2) + 1.0, config.SoftMaxSteps(2) - 1.0);
        corrected = zcorr.CorrectedTarget(final_target[0], final_target[1], z);
      }
      result_.planned_final_steps[2] =
          static_cast<int64_t>(std::clamp(std::floor(corrected + 0.5), -9e15, 9e15));
    }
  }
  FaultReport& faults = result_.faults;
  faults.status_reads_lost = trace.Count(TraceKind::kFault, "StatusReadLost") +
                             trace.Count(TraceKind::kFault, "StatusReportDropped");
  faults.status_reads_corrupted = trace.Count(TraceKind::kFault, "StatusReadCorrupted");
  if (jitter_) {
    faults.timer_periods = jitter_->periods();
    faults.stalls = jitter_->stalls();
    faults.shortest_period_ms = jitter_->shortest();
    faults.longest_period_ms = jitter_->longest();
  }
  if (tag_mismatches_ != 0 && result_.status == RunStatus::kCompleted) {
    result_.status = RunStatus::kIncomplete;
    result_.error =
        std::to_string(tag_mismatches_) + " segments executed out of the order the host wrote them";
  }
}

}  // namespace

void TorchHeightReport::Add(double height, bool within) {
  min = ms == 0 ? height : std::min(min, height);
  max = ms == 0 ? height : std::max(max, height);
  sum += height;
  ++ms;
  if (within) ++within_ms;
}

void TorchHeightReport::Merge(const TorchHeightReport& other) {
  if (other.ms == 0) return;
  min = ms == 0 ? other.min : std::min(min, other.min);
  max = ms == 0 ? other.max : std::max(max, other.max);
  sum += other.sum;
  ms += other.ms;
  within_ms += other.within_ms;
}

bool PlanProgram(std::vector<Block> blocks, const Machine& machine, ProgramPlan* plan,
                 std::string* error) {
  // Lines count when they move the machine or act: a move to where the machine already is
  // has nothing to execute.
  std::vector<int> lines;
  plan->output_lines.clear();
  plan->probing_seconds = 0.0;
  for (const Block& block : blocks) {
    if (block.kind == BlockKind::kSyncOutput) {
      plan->output_lines.push_back(block.line);
      lines.push_back(block.line);
    }
  }
  MotionPlanner planner(machine, std::move(blocks));
  int64_t samples = 0;
  double dwell = 0.0;
  Sample sample;
  Position previous = planner.PositionSteps();
  auto too_long = [&](int line) {
    if (static_cast<double>(samples) * kSamplePeriod + dwell <= kMaxProgramSeconds) return false;
    if (error) {
      *error = "line " + std::to_string(line) + ": the program takes more than " +
               std::to_string(kMaxProgramHours) + " hours by here, longer than kelvro-sim runs";
    }
    return true;
  };
  for (;;) {
    const MotionPlanner::Item item = planner.Next(&sample);
    if (item == MotionPlanner::Item::kSample) {
      ++samples;
      if (lines.empty() || lines.back() != sample.line_id) lines.push_back(sample.line_id);
      // What the controller cannot carry is refused here rather than run to a wrong end.
      for (int k = 0; k < kAxisCount; ++k) {
        const double target = sample.target[k];
        char text[200];
        if (!(std::fabs(target) <= kMaxPositionSteps)) {
          std::snprintf(text, sizeof text,
                        "line %d: axis %c would reach %.0f steps, beyond the controller's "
                        "position range (%.0f steps either way)",
                        sample.line_id, kAxisLetters[k], target, kMaxPositionSteps);
          if (error) *error = text;
          return false;
        }
        if (std::fabs(target - previous[k]) > kMaxStepsPerSegment) {
          std::snprintf(text, sizeof text,
                        "line %d: axis %c would move %.0f steps in one millisecond; a segment "
                        "carries at most %.0f (steps per unit times velocity is too high)",
                        sample.line_id, kAxisLetters[k], std::fabs(target - previous[k]),
                        std::floor(kMaxStepsPerSegment));
          if (error) *error = text;
          return false;
        }
        previous[k] = target;
      }
      if (too_long(sample.line_id)) return false;
    } else if (item == MotionPlanner::Item::kEvent) {
      const Block* event = planner.PendingEvent();
      if (event && event->kind == BlockKind::kDwell) {
        dwell += event->seconds;
        if (too_long(event->line)) return false;
      }
      if (event && event->kind == BlockKind::kProbe && event->feed > 0.0) {
        // At most the whole way to the target at the probing feed.
        const Position target = ResolveTarget(*event, planner.position());
        double squares = 0.0;
        for (int k = 0; k < kAxisCount; ++k) {
          const double d = target[k] - planner.position()[k];
          squares += d * d;
        }
        plan->probing_seconds += std::sqrt(squares) / (event->feed / 60.0);
      }
      if (event) lines.push_back(event->line);
      planner.ConsumeEvent();
      previous = planner.PositionSteps();
    } else {
      break;
    }
  }
  if (!planner.error().empty()) {
    if (error) *error = planner.error();
    return false;
  }
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  plan->lines = static_cast<int>(lines.size());
  plan->line_numbers = lines;
  plan->seconds = static_cast<double>(samples) * kSamplePeriod + dwell;
  plan->final_steps = planner.PositionSteps();
  return true;
}

SimRun::SimRun(RunOptions options) : options_(std::move(options)) {}

RunResult SimRun::Execute() {
  const auto wall_start = std::chrono::steady_clock::now();
  RunResult result;
  result.program_path = options_.program_path;
  auto bad = [&](const std::string& error) {
    result.status = RunStatus::kBadInput;
    result.error = error;
    return result;
  };

  const FaultOptions& faults = options_.faults;
  if (!(faults.lose_rate >= 0.0 && faults.lose_rate <= 1.0) ||
      !(faults.corrupt_rate >= 0.0 && faults.corrupt_rate <= 1.0)) {
    return bad("fault rates must be between 0 and 1");
  }
  if (faults.disconnect_at_seconds &&
      !(*faults.disconnect_at_seconds >= 0.0 && *faults.disconnect_at_seconds <= 1e7)) {
    return bad("the disconnect time must be between 0 and 10000000 seconds");
  }

  // The machine: the given profile; else the program's own machine file beside it (the
  // program's name with .xml), or the built-in default. Those two run on a temporary copy so
  // that the plugin's save at the end never touches a shipped file.
  Machine machine;
  std::string error;
  TempFile temp_profile;
  std::string profile_file;
  const std::string own_machine =
      std::filesystem::path(options_.program_path).replace_extension(".xml").string();
  std::error_code own_ec;
  if (options_.profile_path.empty() && own_machine != options_.program_path &&
      std::filesystem::is_regular_file(own_machine, own_ec)) {
    result.profile_label = own_machine + " (the program's own machine)";
    std::ifstream in(own_machine, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return bad("cannot read the machine file \"" + own_machine + "\"");
    if (!ParseMachine(text, own_machine, &machine, &error)) return bad(error);
    if (!temp_profile.Create("kelvro-sim-profile", text, &error)) return bad(error);
    profile_file = temp_profile.path();
  } else if (options_.profile_path.empty()) {
    result.profile_label = kDefaultProfileName;
    if (!ParseMachine(DefaultProfileText(), kDefaultProfileName, &machine, &error)) {
      return bad(error);
    }
    if (!temp_profile.Create("kelvro-sim-profile", DefaultProfileText(), &error)) return bad(error);
    profile_file = temp_profile.path();
  } else {
    result.profile_label = options_.profile_path;
    if (!CheckInputFile(options_.profile_path, "machine file", &error)) return bad(error);
    if (!LoadMachine(options_.profile_path, &machine, &error)) return bad(error);
    profile_file = options_.profile_path;
    result.profile_saved_to_given_file = true;
  }

  if (options_.g54_offset) machine.work_offsets[0] = *options_.g54_offset;
  for (const auto& [tool, length] : options_.tool_lengths) {
    if (tool < 1 || tool > kMaxTool)
      return bad("tool numbers are 1 to " + std::to_string(kMaxTool));
    machine.tool_lengths[static_cast<size_t>(tool)] = length;
  }
  result.notes = machine.notes;

  if (!options_.thc_log_dir.empty()) {
    if (!machine.thc_on) {
      return bad("the voltage log needs a machine with torch height control (THCOn 1)");
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(options_.thc_log_dir, ec)) {
      return bad("the voltage log folder \"" + options_.thc_log_dir + "\" does not exist");
    }
  }
  if ((options_.arc_fail || options_.arc_loss_seconds) && !machine.thc_on) {
    return bad("arc faults need a machine with torch height control (THCOn 1)");
  }
  if (options_.arc_fail && *options_.arc_fail < 1) {
    return bad("the failing ignition is counted from 1");
  }
  if (options_.arc_loss_seconds &&
      !(*options_.arc_loss_seconds >= 0.0 && *options_.arc_loss_seconds <= 1e7)) {
    return bad("the arc loss time must be between 0 and 10000000 seconds");
  }
  if (!CheckInputFile(options_.program_path, "part program", &error)) return bad(error);
  GcodeProgram program;
  if (!program.Load(options_.program_path, machine, &error)) {
    return bad("part program \"" + options_.program_path + "\": " + error);
  }
  result.work_offsets_used = program.work_offsets_used();
  result.notes.insert(result.notes.end(), program.notes().begin(), program.notes().end());
  ProgramPlan plan;
  if (!PlanProgram(program.blocks(), machine, &plan, &error)) {
    return bad("part program \"" + options_.program_path + "\": " + error);
  }
  result.planned_seconds = plan.seconds;
  result.planned_probing_seconds = plan.probing_seconds;
  result.lines_planned = plan.lines;

  Driver driver(options_, machine, program.TakeBlocks(), result);
  if (!driver.Prepare(profile_file, &error)) return bad(error);
  driver.Run(plan);
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  return result;
}

}  // namespace kelvro::sim
