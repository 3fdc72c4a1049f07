#include "sim/machine_profile.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <pugixml.hpp>
#include <sstream>
#include <string_view>

namespace kelvro::sim {
namespace {

// Numbers beyond this are typing mistakes, and would overflow the controller's fields.
constexpr double kMaxMagnitude = 1e9;
constexpr char kAxisLetters[kAxisCount + 1] = "XYZABC";

std::string_view Trim(std::string_view text) {
  const char* space = " \t\r\n";
  const size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

std::string FormatNumber(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%g", value);
  return buffer;
}

// Reads keys of the "Preferences" section, remembering the first error.
class PreferencesReader {
 public:
  PreferencesReader(pugi::xml_node section, std::string source)
      : section_(section), source_(std::move(source)) {}

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  void Fail(const std::string& message) {
    if (error_.empty()) error_ = "machine file \"" + source_ + "\": " + message;
  }

  // Real key: the whole trimmed text must be one finite decimal number.
  void Real(const std::string& key, double* value, double min, double max) {
    std::string_view text;
    if (!Text(key, &text)) return;
    if (text.size() > 1 && text.front() == '+' && IsDigitOrDot(text[1])) text.remove_prefix(1);
    double parsed = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(parsed)) {
      Fail(key + " is not a number: \"" + std::string(Raw(key)) + "\"");
      return;
    }
    if (parsed < min || parsed > max) {
      Fail(key + " must be between " + FormatNumber(min) + " and " + FormatNumber(max) + " (is " +
           FormatNumber(parsed) + ")");
      return;
    }
    *value = parsed;
  }

  void Int(const std::string& key, int* value, int min, int max) {
    std::string_view text;
    if (!Text(key, &text)) return;
    if (text.size() > 1 && text.front() == '+' && IsDigitOrDot(text[1])) text.remove_prefix(1);
    long long parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
      Fail(key + " is not an integer: \"" + std::string(Raw(key)) + "\"");
      return;
    }
    if (parsed < min || parsed > max) {
      Fail(key + " must be between " + std::to_string(min) + " and " + std::to_string(max) +
           " (is " + std::to_string(parsed) + ")");
      return;
    }
    *value = static_cast<int>(parsed);
  }

  void Flag(const std::string& key, bool* value) {
    int v = *value ? 1 : 0;
    Int(key, &v, 0, 1);
    *value = v != 0;
  }

  // An integer as the host writes it: decimal text, also in real form ("1.", "2.0").
  void HostInt(const std::string& key, int* value, int min, int max) {
    std::string_view text;
    if (!Text(key, &text)) return;
    if (text.size() > 1 && text.front() == '+' && IsDigitOrDot(text[1])) text.remove_prefix(1);
    double parsed = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || parsed != std::floor(parsed) ||
        !(std::fabs(parsed) <= kMaxMagnitude)) {
      Fail(key + " is not an integer: \"" + std::string(Raw(key)) + "\"");
      return;
    }
    if (parsed < min || parsed > max) {
      Fail(key + " must be between " + std::to_string(min) + " and " + std::to_string(max) +
           " (is " + FormatNumber(parsed) + ")");
      return;
    }
    *value = static_cast<int>(parsed);
  }

  // The host's key when the profile has it, else the fallback; false when it has neither.
  bool RealOf(const std::string& host_key, const std::string& key, double* value, double min,
              double max) {
    const std::string found = KeyOf(host_key, key);
    if (!found.empty()) Real(found, value, min, max);
    return !found.empty();
  }
  bool IntOf(const std::string& host_key, const std::string& key, int* value, int min, int max) {
    const std::string found = KeyOf(host_key, key);
    if (found.empty()) return false;
    if (found == host_key) {
      HostInt(found, value, min, max);
    } else {
      Int(found, value, min, max);
    }
    return true;
  }
  bool FlagOf(const std::string& host_key, const std::string& key, bool* value) {
    int v = *value ? 1 : 0;
    const bool present = IntOf(host_key, key, &v, 0, 1);
    *value = v != 0;
    return present;
  }

  bool Has(const std::string& key) const { return !Trim(Raw(key)).empty(); }
  std::string KeyOf(const std::string& host_key, const std::string& key) const {
    return Has(host_key) ? host_key : Has(key) ? key : std::string();
  }

  void Pin(const std::string& name, const std::string& index, PinConfig* pin) {
    Int(name + "Pin" + index, &pin->pin, 0, kMaxPin);
    Int(name + "Port" + index, &pin->port, 0, 255);
    Flag(name + "Low" + index, &pin->active_low);
  }

  // The key's trimmed text; false when the key is missing or empty (default applies).
  bool Text(const std::string& key, std::string_view* text) {
    if (!ok()) return false;
    *text = Trim(Raw(key));
    return !text->empty();
  }

 private:
  static bool IsDigitOrDot(char c) { return (c >= '0' && c <= '9') || c == '.'; }

  std::string_view Raw(const std::string& key) const {
    return section_.child(key.c_str()).text().get();
  }

  pugi::xml_node section_;
  std::string source_;
  std::string error_;
};

int LineOfOffset(const std::string& text, ptrdiff_t offset) {
  if (offset < 0) return 1;
  const size_t end = std::min(static_cast<size_t>(offset), text.size());
  int line = 1;
  for (size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') ++line;
  }
  return line;
}

}  // namespace

Machine::Machine() {
  for (int k = 0; k < 3; ++k) axes[k].enabled = true;
  // A, B and C turn: their words are degrees.
  for (int k = 3; k < kAxisCount; ++k) axes[k].rotary = true;
  axes[kSpindleMotor].velocity = 1.0;
  axes[kSpindleMotor].acceleration = 1.0;
}

bool Machine::SoftLimitsApply(int axis) const {
  if (axis < 0 || axis >= kAxisCount || !soft_limits_on || !axes[axis].enabled) return false;
  return axis < 3 || rotary_soft_limits || !axes[axis].rotary;
}

bool ParseMachine(const std::string& xml, const std::string& source, Machine* machine,
                  std::string* error) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
  if (!parsed) {
    if (error) {
      *error = "machine file \"" + source + "\" is not valid XML (line " +
               std::to_string(LineOfOffset(xml, parsed.offset)) + ": " + parsed.description() + ")";
    }
    return false;
  }
  const pugi::xml_node root = document.document_element();
  const pugi::xml_node section = root.child("Preferences");
  if (!root || !section) {
    if (error) *error = "machine file \"" + source + "\" has no \"Preferences\" section";
    return false;
  }

  Machine m;
  PreferencesReader reader(section, source);
  for (int k = 0; k < kMotorCount; ++k) {
    AxisConfig& axis = m.axes[k];
    const std::string n = std::to_string(k);
    const std::string motor = "Motor" + n;
    // What the profile has neither key for, with the default taken (the active-low flags
    // are left out: off is what an unset flag means).
    std::vector<std::string> defaulted;
    const auto row = [&](bool present, const std::string& keys, double value) {
      if (!present) defaulted.push_back(keys + " " + FormatNumber(value));
    };
    row(reader.FlagOf(motor + "Active", "Enabled" + n, &axis.enabled), motor + "Active/Enabled" + n,
        axis.enabled ? 1 : 0);
    row(reader.RealOf("Steps" + n, "Steps" + n, &axis.steps_per_unit, -kMaxMagnitude,
                      kMaxMagnitude),
        "Steps" + n, axis.steps_per_unit);
    row(reader.RealOf("Vel" + n, "Vel" + n, &axis.velocity, -kMaxMagnitude, kMaxMagnitude),
        "Vel" + n, axis.velocity);
    row(reader.RealOf("Acc" + n, "Acc" + n, &axis.acceleration, -kMaxMagnitude, kMaxMagnitude),
        "Acc" + n, axis.acceleration);
    if (k != kSpindleMotor) {
      row(reader.RealOf("M" + n + "Min", "SoftMin" + n, &axis.soft_min, -kMaxMagnitude,
                        kMaxMagnitude),
          "M" + n + "Min/SoftMin" + n, axis.soft_min);
      row(reader.RealOf("M" + n + "Max", "SoftMax" + n, &axis.soft_max, -kMaxMagnitude,
                        kMaxMagnitude),
          "M" + n + "Max/SoftMax" + n, axis.soft_max);
    }
    row(reader.IntOf(motor + "StepPin", "StepPin" + n, &axis.step.pin, 0, kMaxPin),
        motor + "StepPin/StepPin" + n, axis.step.pin);
    reader.Int("StepPort" + n, &axis.step.port, 0, 255);
    reader.FlagOf(motor + "StepNeg", "StepLow" + n, &axis.step.active_low);
    row(reader.IntOf(motor + "DirPin", "DirPin" + n, &axis.dir.pin, 0, kMaxPin),
        motor + "DirPin/DirPin" + n, axis.dir.pin);
    reader.Int("DirPort" + n, &axis.dir.port, 0, 255);
    reader.FlagOf(motor + "DirNeg", "DirLow" + n, &axis.dir.active_low);
    if (axis.enabled && !defaulted.empty() && reader.ok()) {
      std::string note = k == kSpindleMotor ? std::string("spindle motor")
                                            : std::string("axis ") + kAxisLetters[k];
      note += ": defaults taken for what the profile does not give: ";
      for (size_t i = 0; i < defaulted.size(); ++i) {
        note += (i == 0 ? "" : ", ") + defaulted[i];
      }
      m.notes.push_back(note);
    }
    if (k == kSpindleMotor) continue;
    reader.Real("HomePos" + n, &axis.home_position, -kMaxMagnitude, kMaxMagnitude);
    reader.Int("HomeDir" + n, &axis.home_direction, 0, 1);
    reader.Real("HomeSpeed" + n, &axis.homing_speed_percent, 0.0, 100.0);
    reader.Flag("Rotary" + n, &axis.rotary);
    if (k >= 3) reader.Int("Slave" + n, &axis.slave_master, -1, 2);
    reader.Pin("Home", n, &m.home[k]);
    reader.Pin("LimitMin", n, &m.limit_min[k]);
    reader.Pin("LimitMax", n, &m.limit_max[k]);
  }
  for (int k = 0; k < kAxisCount; ++k) {
    const std::string letter(1, kAxisLetters[k]);
    for (int i = 0; i < kWorkOffsetCount; ++i) {
      reader.Real("G5" + std::to_string(4 + i) + letter, &m.work_offsets[i][k], -kMaxMagnitude,
                  kMaxMagnitude);
    }
    reader.Real("G28" + letter, &m.g28_position[k], -kMaxMagnitude, kMaxMagnitude);
    reader.Real("G30" + letter, &m.g30_position[k], -kMaxMagnitude, kMaxMagnitude);
  }
  for (int t = 1; t <= kMaxTool; ++t) {
    reader.Real("ToolLength" + std::to_string(t), &m.tool_lengths[t], -kMaxMagnitude,
                kMaxMagnitude);
  }
  reader.Int("FloodOutput", &m.flood_output, 0, kMachineOutputCount);
  reader.Int("MistOutput", &m.mist_output, 0, kMachineOutputCount);
  reader.Pin("Probe", "", &m.probe);
  reader.Pin("EStop", "", &m.estop);
  reader.Pin("Index", "", &m.index);
  for (int i = 0; i < kMachineOutputCount; ++i) {
    reader.Pin("Output", std::to_string(i + 1), &m.outputs[i]);
  }
  reader.Pin("SpindleOut", "", &m.spindle_output);
  reader.Flag("SpindleMotor", &m.spindle_motor_control);
  reader.Flag("SpindlePWM", &m.spindle_pwm);
  reader.Real("SpindlePWMMin", &m.spindle_pwm_min_percent, 0.0, 100.0);
  reader.Flag("SoftLimits", &m.soft_limits_on);
  reader.Flag("THCOn", &m.thc_on);
  reader.Real("THCSpeed", &m.thc_speed_percent, 1.0, 100.0);
  reader.Real("THCMinZ", &m.thc_min_z, -1e6, 1e6);
  reader.Real("THCMaxZ", &m.thc_max_z, -1e6, 1e6);
  reader.Real("THCPierceDelay", &m.thc_pierce_delay, 0.0, 60.0);
  if (m.thc_min_z > m.thc_max_z) {
    reader.Fail("THCMinZ (" + FormatNumber(m.thc_min_z) + ") is above THCMaxZ (" +
                FormatNumber(m.thc_max_z) + ")");
  }
  int rotsoft = 0;
  reader.Int("ROTSOFT", &rotsoft, -2147483647, 2147483647);
  m.rotary_soft_limits = rotsoft != 0;
  std::string_view units;
  if (reader.Text("Units", &units)) {
    // The host writes 0 (millimetres) or 1 (inches).
    if (units == "mm" || units == "0" || units == "0.") {
      m.units = Units::kMillimetre;
    } else if (units == "inch" || units == "1" || units == "1.") {
      m.units = Units::kInch;
    } else {
      reader.Fail("Units must be \"mm\" or 0, \"inch\" or 1 (is \"" + std::string(units) + "\")");
    }
  } else if (reader.ok()) {
    m.notes.push_back("units: the profile has no Units key (millimetres taken)");
  }

  // Cross-checks that only make sense once every key is read.
  for (int k = 0; k < kMotorCount && reader.ok(); ++k) {
    const AxisConfig& axis = m.axes[k];
    const std::string n = std::to_string(k);
    if (!axis.enabled) continue;
    if (!(axis.steps_per_unit > 0.0)) {
      reader.Fail("Steps" + n + " must be above 0 for an enabled motor (is " +
                  FormatNumber(axis.steps_per_unit) + ")");
    } else if (!(axis.velocity > 0.0)) {
      reader.Fail("Vel" + n + " must be above 0 for an enabled motor (is " +
                  FormatNumber(axis.velocity) + ")");
    } else if (!(axis.acceleration > 0.0)) {
      reader.Fail("Acc" + n + " must be above 0 for an enabled motor (is " +
                  FormatNumber(axis.acceleration) + ")");
    } else if (k < kAxisCount && axis.soft_min > axis.soft_max) {
      const std::string min_key = reader.Has("M" + n + "Min") ? "M" + n + "Min" : "SoftMin" + n;
      const std::string max_key = reader.Has("M" + n + "Max") ? "M" + n + "Max" : "SoftMax" + n;
      reader.Fail(min_key + " (" + FormatNumber(axis.soft_min) + ") is above " + max_key + " (" +
                  FormatNumber(axis.soft_max) + ")");
    } else if (axis.slave_master >= 0 && !m.axes[axis.slave_master].enabled) {
      reader.Fail("Slave" + n + " names axis " + std::to_string(axis.slave_master) +
                  ", which is not enabled");
    }
  }
  if (!reader.ok()) {
    if (error) *error = reader.error();
    return false;
  }
  *machine = m;
  return true;
}

bool LoadMachine(const std::string& path, Machine* machine, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = "machine file \"" + path + "\" cannot be opened";
    return false;
  }
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) {
    if (error) *error = "machine file \"" + path + "\" cannot be read";
    return false;
  }
  return ParseMachine(content.str(), path, machine, error);
}

namespace {

void ApplyInput(const PinConfig& pin, HostInputSignal& record) {
  record.enabled = pin.connected() ? 1 : 0;
  record.pin = static_cast<uint8_t>(pin.pin);
  record.port = static_cast<uint8_t>(pin.port);
  record.active_low = pin.active_low ? 1 : 0;
  record.emulated = 0;
}

void ApplyOutput(const PinConfig& pin, HostOutputSignal& record) {
  record.enabled = pin.connected() ? 1 : 0;
  record.pin = static_cast<uint8_t>(pin.pin);
  record.port = static_cast<uint8_t>(pin.port);
  record.active_low = pin.active_low ? 1 : 0;
}

}  // namespace

void ApplyMachine(const Machine& machine, HostMachineState& state, HostPlanner& planner) {
  for (int k = 0; k < kMotorCount; ++k) {
    const AxisConfig& axis = machine.axes[k];
    HostAxisTuning& tuning = planner.axes[k];
    tuning.steps_per_unit = axis.steps_per_unit;
    tuning.max_velocity = axis.velocity;
    tuning.acceleration = axis.acceleration;
    tuning.max_step_rate = kMaxStepRate;
    tuning.soft_min = axis.soft_min;
    tuning.soft_max = axis.soft_max;
    tuning.home_position = axis.home_position;
    tuning.homing_speed_percent = axis.homing_speed_percent;
    tuning.homing_offset = 0.0;
    tuning.homing_direction = axis.home_direction;
    tuning.rotary = axis.rotary ? 1 : 0;
    tuning.soft_limit_on = (k < kAxisCount && axis.enabled) ? 1 : 0;
    tuning.slave_master = axis.enabled ? axis.slave_master : -1;

    HostMotor& motor = state.motors[k];
    motor.enabled = axis.enabled ? 1 : 0;
    motor.step_pin = static_cast<uint8_t>(axis.step.pin);
    motor.step_port = static_cast<uint8_t>(axis.step.port);
    motor.step_active_low = axis.step.active_low ? 1 : 0;
    motor.dir_pin = static_cast<uint8_t>(axis.dir.pin);
    motor.dir_port = static_cast<uint8_t>(axis.dir.port);
    motor.dir_active_low = axis.dir.active_low ? 1 : 0;
    motor.slave = (axis.enabled && axis.slave_master >= 0) ? 1 : 0;
    motor.dir_reversed = 0;
  }
  planner.rotary_soft_limits = machine.rotary_soft_limits ? 1 : 0;
  planner.spindle_motor_control = machine.spindle_motor_control ? 1 : 0;
  planner.spindle_pwm = machine.spindle_pwm ? 1 : 0;
  planner.spindle_pwm_min_percent = machine.spindle_pwm_min_percent;
  state.soft_limits_on = machine.soft_limits_on ? 1 : 0;
  state.thc_mode = machine.thc_on ? 1 : 0;
  planner.thc_speed_percent = machine.thc_speed_percent;
  planner.thc_z_limit1 = machine.thc_min_z;
  planner.thc_z_limit2 = machine.thc_max_z;

  for (int k = 0; k < kAxisCount; ++k) {
    ApplyInput(machine.home[k], state.inputs[kHomeInputRecord[k]]);
    ApplyInput(machine.limit_min[k], state.inputs[kLimitMinInputRecord[k]]);
    ApplyInput(machine.limit_max[k], state.inputs[kLimitMaxInputRecord[k]]);
  }
  ApplyInput(machine.probe, state.inputs[kInputProbe]);
  ApplyInput(machine.index, state.inputs[kInputIndex]);
  ApplyInput(machine.estop, state.inputs[kInputEstop]);
  for (int i = 0; i < kMachineOutputCount; ++i) {
    ApplyOutput(machine.outputs[i], state.outputs[OutputRecord(i + 1)]);
  }
  ApplyOutput(machine.spindle_output, state.outputs[kSpindleOutputRecord]);
}

}  // namespace kelvro::sim
