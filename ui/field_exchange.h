// Data exchange between a page's fields and its controls, in both directions, with the
// checks every page shares. A page lists its bindings in its exchange order; *load* writes
// the fields into the controls, *save* reads them back, checking each value right after it
// is read, and stops at the first bad one: the fields before it keep their new values, the
// bad field keeps its old one, and the result names the control for the focus and the
// message to show.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "settings/plugin_settings.h"

namespace kelvro {

class DialogControls;

enum class ExchangeDirection { kLoad, kSave };

enum class BindingKind {
  kCheck,     // check box: 0 or 1
  kUnsigned,  // unsigned decimal integer edit, optionally with a range
  kNumber,    // decimal number edit, optionally with a range
  kChoice,    // list or drop-down list: the item index (no selection saves 0)
  kText,      // plain text edit
};

struct Binding {
  int control = 0;
  BindingKind kind = BindingKind::kCheck;
  int* int_field = nullptr;           // check, unsigned, choice
  double* number_field = nullptr;     // number
  std::string* text_field = nullptr;  // text
  std::optional<int64_t> min;
  std::optional<int64_t> max;
};

// A binding to an integer setting of the settings table by its key: the field and the range
// come from the table. `kind` is kUnsigned, kCheck or kChoice.
Binding SettingBinding(int control, BindingKind kind, PluginSettings& settings,
                       std::string_view key);
Binding CheckBinding(int control, int& field);
Binding UnsignedBinding(int control, int& field, std::optional<int64_t> min = std::nullopt,
                        std::optional<int64_t> max = std::nullopt);
Binding NumberBinding(int control, double& field, std::optional<int64_t> min = std::nullopt,
                      std::optional<int64_t> max = std::nullopt);
Binding ChoiceBinding(int control, int& field);

struct ExchangeResult {
  bool ok = true;
  int failed_control = 0;  // the control to focus
  std::string message;     // the message box text

  static ExchangeResult Failure(int control, std::string message) {
    return ExchangeResult{false, control, std::move(message)};
  }
};

// The shared messages.
inline constexpr char kMessagePositiveInteger[] = "Please enter a positive integer.";
inline constexpr char kMessageIntegerBetween[] = "Please enter an integer between %1 and %2.";
inline constexpr char kMessageNumber[] = "Please enter a number.";
inline constexpr char kMessageNumberBetween[] = "Please enter a number between %1 and %2.";

// "%1" and "%2" of `message` replaced by the bounds.
std::string FormatBounds(std::string_view message, int64_t min, int64_t max);

// An unsigned decimal integer with spaces and tabs around it; nothing else (an empty text,
// a sign, any other character, or a value beyond 32 bits fails).
std::optional<uint32_t> ParseUnsigned(std::string_view text);
// A decimal number (optional sign, digits with an optional fraction, an optional exponent)
// with spaces and tabs around it; nothing else, and only finite values.
std::optional<double> ParseNumber(std::string_view text);
// The text a number edit shows for a value: the shortest form that reads back exactly.
std::string FormatNumber(double value);

ExchangeResult Exchange(std::span<const Binding> bindings, DialogControls& controls,
                        ExchangeDirection direction);

}  // namespace kelvro
