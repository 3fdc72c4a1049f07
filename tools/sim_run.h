// One simulation run: a part program carried out by the stand-in host through the plugin
// against the simulated controller, on virtual time.
//
// The host starts the plugin the way Mach3 does (start-up order with the profile, the
// machine from the profile's "Preferences" section in its blocks, Reset); its planner
// (sim/program_runner.h) then plans the program into the trajectory ring, about a second
// ahead of the plugin, at every Update, and carries out the program's other words in
// program order once the motion before them has been executed. This side watches the run.
//
// The simulated workpiece for G31 is the plane Z = surface_z + surface_slope_x * X +
// surface_slope_y * Y in the coordinates of the first work offset (G54) as the machine has
// it when the program starts (by default Z = -3 + 0.02 X + 0.01 Y, so probes at different
// places touch at different heights); the probe touches when the tool's Z is at or below it.
//
// An underrun is a stretch of milliseconds during a continuous move in which the
// controller executed nothing although segments of that move were still to come: the move
// had started executing, the host had written more of it into the ring than the controller
// had executed, and no E-stop had stopped the machine. Every such stretch counts once; its
// milliseconds add to starved_ms. The queue fill statistics cover the milliseconds of
// steady streaming: a move is executing and the host has more of it still to hand over
// (the ring is not empty or the planner has more samples before the next event or the end),
// so the queue's normal drain at the end of a move does not count as a low fill.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host_blocks.h"
#include "sim/gcode.h"
#include "sim/machine_profile.h"
#include "sim/sim_controller.h"
#include "tools/laser_burn.h"

namespace kelvro::sim {

struct FaultOptions {
  bool jitter = false;
  double lose_rate = 0.0;     // per status read, 0..1
  double corrupt_rate = 0.0;  // per status read, 0..1
  std::optional<double> disconnect_at_seconds;
  uint64_t seed = 1;
};

struct RunOptions {
  std::string program_path;
  std::string profile_path;  // empty: the built-in default machine
  std::string trace_path;    // empty: no trace file
  FaultOptions faults;
  bool record_plot = false;
  // Replaces the machine's first work offset (G54), machine units.
  std::optional<Position> g54_offset;
  // Tool lengths (tool number 1..255, machine units) over the machine's tool table.
  std::vector<std::pair<int, double>> tool_lengths;
  // Z correction: a point file loaded through the plugin, with its start mode and
  // normalisation (the settings ZStartMode and ZNormal); empty: no correction.
  std::string zmap_path;
  int zstart = 0;
  int znormal = 1;
  // Firmware: the version the simulated controller reports (empty: the one the plugin
  // needs), the answer to the plugin's update question, and faults of the update.
  std::string controller_version;
  bool update_answer_yes = true;
  SimFlashFaults flash_faults;
  // Plasma (a machine with THCOn): a folder for the plugin's voltage log "thc_voltage.log",
  // switched on as the THC page's option does; empty: no log.
  std::string thc_log_dir;
  // The status window's lines, one block per status report (or every Nth); empty: no log.
  std::string status_log_path;
  uint32_t status_log_every = 1;
  // Plasma faults: the Nth torch start (from 1) never strikes an arc; the arc goes out at
  // this many seconds after the program's start (the first moment it burns from then on).
  std::optional<int> arc_fail;
  std::optional<double> arc_loss_seconds;
  // The cell size of the laser's burn picture, machine units.
  double burn_pixel = 0.1;
  double surface_z = -3.0;
  double surface_slope_x = 0.02;
  double surface_slope_y = 0.01;
  // Called about every 100 ms of wall time with the virtual time reached and the planned
  // length of the program (seconds).
  std::function<void(double sim_seconds, double planned_seconds)> progress;
};

enum class RunStatus {
  kCompleted,   // the controller executed the whole program
  kBadInput,    // the program, the profile or an output file could not be used
  kIncomplete,  // the run stopped before the end (E-stop, refused operation, no progress)
};

struct ProbeReport {
  int line = 0;
  bool hit = false;
  std::array<double, 4> result{};  // X, Y, Z, A program coordinates as the plugin reported
  std::array<double, 4> offset{};  // machine minus program coordinates at the probe
};

// One stretch of a move during which the controller had nothing to execute.
struct UnderrunReport {
  double at_seconds = 0.0;           // the first millisecond without a segment
  uint64_t ms = 0;                   // how long it lasted
  int line = 0;                      // the program line whose segment ran last before it
  double ms_since_move_start = 0.0;  // since the move began executing
  bool queue_was_full = false;       // the queue had reached its working level in this move
};

struct FaultReport {
  // Jitter.
  uint64_t timer_periods = 0;
  uint64_t stalls = 0;
  uint32_t shortest_period_ms = 0;
  uint32_t longest_period_ms = 0;
  // Status reads and the link.
  uint64_t status_reads_lost = 0;
  uint64_t status_reads_corrupted = 0;
  int max_missed_polls = 0;
  std::optional<double> disconnected_at_seconds;
  std::optional<double> link_closed_at_seconds;
  std::optional<double> estop_at_seconds;
  int stop_code = 0;
};

// The Z correction of a run with a point file: the map as the plugin loaded it, and how
// closely the machine followed it.
struct ZCorrectionReport {
  int cols = 0;
  int rows = 0;
  double z_min = 0.0;
  double z_max = 0.0;
  double norm_offset = 0.0;
  double max_correction = 0.0;
  std::array<double, 4> plane{};  // Nx, Ny, Nz, D
  double dev_above = 0.0;
  double dev_below = 0.0;
  // Over the host's segments executed once the follower had first settled, the difference
  // between the executed Z and the planned Z plus the map's correction there: the largest
  // where the program holds Z still (the depth it cuts at), and the largest lag while the
  // program moves Z itself and until Z has come back within a step of the target.
  double max_hold_error_steps = 0.0;
  uint64_t hold_segments = 0;
  double max_z_move_lag_steps = 0.0;
  uint64_t z_move_segments = 0;
  // The executed Z over the whole run, one value per millisecond: the largest speed (steps
  // per ms) and the largest change of speed from one millisecond to the next (steps per ms
  // per ms), to hold against the Z axis's maximum velocity and acceleration.
  double max_z_speed = 0.0;
  double max_z_speed_change = 0.0;
  double z_speed_limit = 0.0;
  double z_acceleration_limit = 0.0;
};

// The firmware update the plugin offered at Reset, when the controller reported another
// version than the plugin needs.
struct FirmwareUpdateRunReport {
  std::string controller_version;  // what the controller reported before
  std::string required_version;    // what the plugin needs
  bool answered_yes = false;
  bool ran = false;      // the update dialog ran
  bool updated = false;  // the controller runs the new image and the link is open again
  int chunks = 0;        // image chunks written (the closing length word not counted)
  uint64_t bytes = 0;    // data bytes in those chunks, padding included
  uint32_t elapsed_ms = 0;
  int reconnect_attempts = 0;
  // The dialog's heading and step texts in the order they appeared, from the heading it
  // opens with.
  std::vector<std::string> texts;
  std::string version_after;        // what the controller reports at the end of the run
  std::vector<std::string> faults;  // what the simulated controller was told to do wrong

  // "updated", "failed" or "declined".
  std::string Result() const { return updated ? "updated" : ran ? "failed" : "declined"; }
};

// The torch's height above the sheet while the THC loop regulated (units), and the share
// of that time within 0.25 mm (0.01 inch) of the cutting height the program asked for.
struct TorchHeightReport {
  uint64_t ms = 0;  // regulated milliseconds
  double min = 0.0;
  double max = 0.0;
  double sum = 0.0;
  uint64_t within_ms = 0;

  void Add(double height, bool within);
  void Merge(const TorchHeightReport& other);
  double mean() const { return ms ? sum / static_cast<double>(ms) : 0.0; }
  double within_share() const {
    return ms ? static_cast<double>(within_ms) / static_cast<double>(ms) : 0.0;
  }
};

// One cut of a plasma run: torch start to torch stop.
struct ThcCutReport {
  int line = 0;                         // the line of the torch start
  double start_seconds = 0.0;           // torch on
  bool arc_ok = false;                  // a report with arc OK reached the plugin
  uint64_t arc_ok_wait_ms = 0;          // from the torch start to that report
  uint64_t segments_before_arc_ok = 0;  // segments executed in between (must be 0)
  double cut_seconds = 0.0;             // from that report to the torch stop
  double z_offset_min = 0.0;            // the controller's THC Z offset during the cut, units
  double z_offset_max = 0.0;
  bool z_read_back = false;     // the plugin read Z back after the torch stop
  int64_t latched_z_steps = 0;  // what the controller latched for it (Z plus THC offset)
  // Once the torch stop is over: the host's Z, and where the torch is (the controller's Z
  // plus its THC offset).
  int64_t host_z_steps = 0;
  int64_t controller_z_steps = 0;
  TorchHeightReport torch_height;
  uint64_t locked_ms = 0;                  // regulating, the correction held by the voltage lock
  uint64_t kerf_hold_ms = 0;               // ... and by the kerf detection
  bool ignition_failed = false;            // the arc never struck (--arc-fail)
  std::optional<double> arc_lost_seconds;  // the arc went out (--arc-loss)
  std::optional<uint64_t> arc_ok_off_report_ms;  // from then to the report without arc OK
  double uncut_units = 0.0;            // path travelled with the torch on and no arc after arc OK
  uint64_t regulated_piercing_ms = 0;  // the loop regulated before the torch left the pierce
};

struct ThcReport {
  int torch_starts = 0;
  int ignitions = 0;         // the plugin's count (arc OK rising edges)
  double cut_seconds = 0.0;  // the plugin's cut time
  std::vector<ThcCutReport> cuts;
  double z_offset_min = 0.0;  // over all cuts, units
  double z_offset_max = 0.0;
  double arc_volts_min = 0.0;  // arc voltage while the loop regulated
  double arc_volts_max = 0.0;
  uint64_t thc_active_reports = 0;  // reports that reached the plugin with THC active
  std::string voltage_log_path;     // empty: no log
  bool voltage_log_header_ok = false;
  uint64_t voltage_log_rows = 0;
  TorchHeightReport torch_height;  // over all cuts
  uint64_t locked_ms = 0;
  uint64_t kerf_hold_ms = 0;
  uint64_t kerf_crossing_ms = 0;  // the torch over an earlier kerf with the arc burning
  // Settings of the plugin that the run finds questionable (the torch-start hold that only
  // M5 can end).
  std::vector<std::string> warnings;
};

// Executed tool path and queue fill, sampled at every timer tick.
struct PlotSample {
  double t_seconds = 0.0;
  double x = 0.0;  // machine units
  double y = 0.0;
  double z = 0.0;
  int fill = 0;
  double arc_volts = 0.0;     // plasma runs
  double thc_offset = 0.0;    // units
  double torch_height = 0.0;  // units above the sheet, while the arc burns
};

// What the laser did: the milliseconds its beam was on (power above 0), their energy
// (full-power seconds) and the range of its power (percent of full duty) while on, and what
// it burned. In gray-level engraving (LaserGL), `gray_correlation` is the correlation between
// the mean gray level (the A axis's position in steps) each cell was passed with, the gate
// open, and the energy the cell received per second of that time (GrayCorrelation).
struct LaserReport {
  double on_time_s = 0.0;
  double energy = 0.0;
  double power_min = 100.0;
  double power_max = 0.0;
  LaserBurn burn{0.1};
  LaserBurn gray{0.1};   // gray level x seconds, with the gate open
  LaserBurn dwell{0.1};  // seconds with the gate open
  std::optional<double> gray_correlation;
};

struct RunResult {
  RunStatus status = RunStatus::kBadInput;
  std::string error;          // kBadInput: what was wrong; kIncomplete: why it stopped
  std::string profile_label;  // the profile file, or the built-in default's name
  std::string program_path;
  std::string units = "mm";  // machine units
  std::string output_error;  // the run went through but an output file could not be written

  double sim_seconds = 0.0;
  double wall_seconds = 0.0;
  double planned_seconds = 0.0;          // the program as planned before the run
  double planned_probing_seconds = 0.0;  // its probe moves at most take this long
  int lines_planned = 0;                 // program lines with motion or an action
  int lines_executed = 0;                // of those, the lines the machine carried out
  std::vector<int> lines_missed;         // planned lines the machine did not carry out (first 20)
  uint64_t samples_written = 0;          // ring entries the host wrote
  uint64_t segments_streamed = 0;
  uint64_t segments_executed = 0;
  uint64_t segments_dropped = 0;
  uint64_t segments_dropped_probing = 0;  // of those, the rest of probe moves after contact
  uint64_t phase_mismatches = 0;
  int fill_min = 0;
  int fill_max = 0;
  double fill_average = 0.0;
  uint64_t fill_samples = 0;  // milliseconds of steady streaming behind the statistics
  int underruns = 0;
  uint64_t starved_ms = 0;
  std::vector<UnderrunReport> underrun_list;  // the first kMaxUnderrunReports of them

  std::array<bool, kAxisCount> axis_enabled{};
  // Where the program ends as the host planned it: after homing and probing from where they
  // really left the machine; for a run that stopped early, the end of the program as
  // planned before the run.
  std::array<int64_t, kAxisCount> planned_final_steps{};
  std::array<int64_t, kAxisCount> executed_final_steps{};  // the controller's positions
  std::array<int64_t, kAxisCount> host_final_steps{};      // what the plugin told the host

  int spindle_actions = 0;
  int coolant_actions = 0;
  int dwells = 0;
  int homings = 0;
  int pauses = 0;                      // M0 and M1, resumed at once
  std::vector<int> tool_changes;       // the tool of each M6, in order
  std::vector<int> work_offsets_used;  // 1..6 for G54..G59, in the order of first use
  std::vector<std::string> notes;      // what the machine and the program could not show
  std::vector<ProbeReport> probes;
  std::vector<std::string> status_texts;
  std::vector<std::string> message_boxes;
  FaultReport faults;
  std::optional<ZCorrectionReport> zcorr;
  std::optional<FirmwareUpdateRunReport> firmware;
  std::optional<ThcReport> thc;
  std::optional<LaserReport> laser;  // the laser's beam was on at least once
  bool profile_saved_to_given_file = false;

  std::vector<PlotSample> plot;

  bool PositionsMatch() const { return planned_final_steps == executed_final_steps; }
};

inline constexpr size_t kMaxUnderrunReports = 20;

class SimRun {
 public:
  explicit SimRun(RunOptions options);
  RunResult Execute();

 private:
  RunOptions options_;
};

// The program as planned before the run, with homing and probing taken to end where the
// program expects them (home positions, probe targets) and taking no time.
struct ProgramPlan {
  double seconds = 0.0;          // samples (one per millisecond) and dwells
  double probing_seconds = 0.0;  // probe moves, if each went all the way to its target
  Position final_steps{};
  int lines = 0;                  // program lines with motion or an action
  std::vector<int> line_numbers;  // those lines, ascending
  std::vector<int> output_lines;  // lines of M10/M11, in program order
};

// False with "line N: ..." when the planner stops on a move it cannot plan.
bool PlanProgram(std::vector<Block> blocks, const Machine& machine, ProgramPlan* plan,
                 std::string* error);

}  // namespace kelvro::sim
