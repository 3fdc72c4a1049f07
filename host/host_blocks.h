// The host's four data blocks and its callbacks.
//
// The host owns these blocks and hands the plugin pointers to them; the plugin only
// borrows them. Their layout is defined here (the stand-in host uses the same structs),
// with fields named by the role the plugin gives them. All fields are plain data so the
// blocks can be zero-initialised and shared across the DLL boundary.
#pragma once

#include <cstdint>

#include "host/host_fields.h"

#if defined(_WIN32) && !defined(_WIN64)
#define KELVRO_CDECL __cdecl
#else
#define KELVRO_CDECL
#endif

namespace kelvro {

inline constexpr int kAxisCount = 6;   // X, Y, Z, A, B, C
inline constexpr int kMotorCount = 7;  // the six axes and the spindle
inline constexpr int kSpindleMotor = 6;
inline constexpr int kRingSize = 4096;  // host trajectory ring entries
inline constexpr int kInputSignalCount = 53;
inline constexpr int kOutputSignalCount = 30;
inline constexpr int kHostEncoderCount = 7;  // host encoders 1..4, MPG 1..3
inline constexpr int kHostParamCount = 16384;
inline constexpr int kPulleyCount = 25;
inline constexpr int kStatusTextSize = 256;
inline constexpr int kPathTextSize = 260;

// One motor record of HostMachineState (axes X..C, then the spindle).
struct HostMotor {
  int32_t step_position;  // current position in steps, written by the plugin
  int32_t velocity;       // measured velocity, written by the plugin
  uint8_t enabled;
  uint8_t step_pin;
  uint8_t step_port;
  uint8_t step_active_low;
  uint8_t dir_pin;
  uint8_t dir_port;
  uint8_t dir_active_low;
  uint8_t jog_active;  // per-axis jog-active flag
  int32_t jog_direction;
  uint8_t homing;  // per-axis homing flag (also bit 1 of the axis config flags)
  uint8_t referenced;
  uint8_t probe_pending;
  uint8_t slave;            // the host marks this axis as a slave
  int32_t probe_hit_steps;  // hit position in steps
  int32_t probe_distance;   // trunc(1000 * (end X - start X)) written by Probe
  uint8_t dir_reversed;     // the host reverses this motor's direction
};

// 16-byte input-signal record.
struct HostInputSignal {
  uint8_t enabled;
  uint8_t pin;
  uint8_t port;
  uint8_t active_low;
  uint8_t reserved[10];
  uint8_t state;
  uint8_t emulated;
};
static_assert(sizeof(HostInputSignal) == 16);

struct HostOutputSignal {
  uint8_t enabled;
  uint8_t pin;
  uint8_t port;
  uint8_t active_low;
  uint8_t active;  // the host wants the output on (before active-low inversion)
  uint8_t reserved[3];
};

struct HostEncoder {
  uint8_t enabled;
  uint8_t a_pin;
  uint8_t a_port;
  uint8_t b_pin;
  uint8_t b_port;
  uint8_t reserved[3];
  int32_t count;
};

struct HostMachineState {
  HostMotor motors[kMotorCount];
  int32_t ring_read;   // trajectory ring read index (advanced by the plugin)
  int32_t ring_write;  // trajectory ring write index (advanced by the host)
  HostInputSignal inputs[kInputSignalCount];
  HostOutputSignal outputs[kOutputSignalCount];
  HostEncoder encoders[kHostEncoderCount];
  int32_t estop;             // E-stop flag
  int32_t stop_code;         // why the host stopped (8 = forced by the plugin)
  int32_t second_stop_flag;  // set together with stop code 7
  int32_t dwell_active;      // dwell word
  int32_t thc_mode;          // torch height control on
  int32_t thc_z_offset;      // THC / Z-correction Z offset in steps
  int32_t soft_limits_on;
  int32_t z_readback_request;
  int32_t positions_resynced;
  int32_t limit_override_latch;  // latched by the tick, becomes config flag bit 2
  int32_t homing_in_progress;
  int32_t threading_active;
  int32_t threading_start_request;
  int32_t status_word;       // bit 0: jogging
  int32_t jog_active;        // machine-wide jog-active flag
  int32_t idle;              // host idle flag
  int32_t homed_axes;        // bit mask of homed axes
  int32_t option_flag;       // copied into config flags bit 1
  int32_t pulse_timing;      // clamped by Reset to 256..20480
  int32_t passthrough_flag;  // SetOutputs mode flags bit 2
  int32_t counter_flag;      // with counter_a < counter_b: SetOutputs mode flags bit 5
  int32_t counter_a;
  int32_t counter_b;
  int32_t torch_on;          // the host has switched the torch (spindle output) on
  int32_t cleared_words[6];  // six host words PostInitControl clears
};

// One entry of the host trajectory ring.
struct HostRingEntry {
  double target[kAxisCount];  // absolute targets in steps
  int32_t line_id;            // host line number, 0 = none
  int32_t sync_output;        // 0 = none; low byte 47/48, second byte output number + 7
};

struct HostAxisTuning {
  double steps_per_unit;
  double max_velocity;   // units per second
  double acceleration;   // units per second squared
  double max_step_rate;  // steps per second
  double soft_min;       // units
  double soft_max;       // units
  double home_position;  // units
  double homing_speed_percent;
  double homing_offset;      // units
  int32_t homing_direction;  // config flags bit 0
  int32_t rotary;
  int32_t soft_limit_on;  // per-axis soft-limit flag
  int32_t slave_master;   // master axis index, -1 when not a slave
};

struct HostParams {
  double values[kHostParamCount];
};

struct HostPlanner {
  HostRingEntry ring[kRingSize];
  HostAxisTuning axes[kMotorCount];
  int32_t rotary_soft_limits;  // from the ROTSOFT preference
  // Spindle.
  int32_t spindle_motor_control;
  int32_t spindle_pwm;     // PWM when set, step and direction when clear
  uint8_t spindle_option;  // copied into config byte 238
  uint8_t spindle_running;
  uint8_t option_bytes[3];  // preset 0, 0, 1 by PostInitControl
  double spindle_pwm_min_percent;
  double spindle_pwm_base;  // preset 100.0
  int32_t pwm_frequency;
  double spindle_speed;
  double speed_ratio;
  int32_t spindle_direction;  // 0 = forward
  int32_t current_pulley;     // pulley index 0..24
  int32_t pulley_max_speed[kPulleyCount];
  int32_t pulley_reversed[kPulleyCount];
  double measured_spindle_speed;
  // Jogging and MPG.
  int32_t jog_mode;        // 2 = MPG
  int32_t no_jog_scaling;  // application flag: no jog-rate scaling
  int32_t mpg_axis;
  double mpg_step_per_count;
  double mpg_feed;  // units per minute
  double encoder_counts_per_unit[kHostEncoderCount];
  // Program execution.
  int32_t motion_in_progress[2];
  int32_t dwell_in_ms;
  int32_t flush;         // the host has flushed: no more ring entries follow
  int32_t sync_outputs;  // synchronous outputs option
  int32_t current_line;  // ID of the executing ring entry
  double feed_rate;      // commanded feed, units per second
  double feed_override_percent;
  double plugin_move_feed;  // feed for plugin straight moves, units per second
  // Probing.
  int32_t probe_log_enabled[2];
  double probe_target[kAxisCount];      // work coordinates
  double current_position[kAxisCount];  // work coordinates
  double probe_result[4];               // X, Y, Z, A work coordinates
  // Homing.
  int32_t alternative_homing;
  int32_t verify_positions[kAxisCount];
  // THC.
  double thc_speed_percent;
  double thc_z_limit1;
  double thc_z_limit2;
  int32_t arc_ok_emulation;
  // SafeZ.
  double safe_z;
  int32_t safe_z_mode;
  // Presets written by PostInitControl.
  uint16_t option_word;
  double option_double;
  int32_t option_value;
  int32_t option_flag;  // copied into config flags bit 0
  // Texts.
  char profile_name[kPathTextSize];
  char program_name[kPathTextSize];
  char status_text[kStatusTextSize];
};

struct HostApp {
  void* main_window;  // window handle of the host's main window
  uint8_t flag;       // cleared by InitControl
};

extern "C" {
typedef int16_t(KELVRO_CDECL* GetMenuRangeFn)(int16_t count);
typedef void(KELVRO_CDECL* DoButtonFn)(int16_t button);
typedef void(KELVRO_CDECL* SetDroFn)(int16_t dro, double value);
typedef double(KELVRO_CDECL* GetDroFn)(int16_t dro);
typedef int32_t(KELVRO_CDECL* GetLedFn)(int16_t led);
typedef void(KELVRO_CDECL* SetLedFn)(int16_t led, int32_t on);
typedef void(KELVRO_CDECL* CodeFn)(const char* line);
}

struct HostCallbacks {
  GetMenuRangeFn get_menu_range = nullptr;
  DoButtonFn do_button = nullptr;
  SetDroFn set_dro = nullptr;
  GetDroFn get_dro = nullptr;
  GetLedFn get_led = nullptr;
  SetLedFn set_led = nullptr;
  CodeFn code = nullptr;
};

}  // namespace kelvro
