// Data exchange between a page's fields and its controls, in both directions, with the
// checks every page shares. A page lists its bindings in its exchange order; *load* writes
// the fields into the controls, *save* reads them back, checking each value right after it
// is read, and stops at the first bad one: the fields before it keep their new values, the
// bad field keeps its old one, and the result names the control for the focus and the
// message to show.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "settings/plugin_settings.h"

namespace kelvro {

class DialogControls;
struct SettingDetail;

enum class ExchangeDirection { kLoad, kSave };

enum class BindingKind {
  kCheck,       // check box: 0 or 1
  kUnsigned,    // unsigned decimal integer edit, optionally with a range
  kNumber,      // decimal number edit, optionally with a range
  kChoice,      // list or drop-down list: the item index
  kRadioGroup,  // a set of radio buttons: the index of the checked one
  kText,        // plain text edit
};

// The field a binding moves: exactly one, of the type its kind exchanges. A binding by
// settings key whose key is not in the table (or names a setting of another type) holds
// none; it exchanges nothing, and the page tests report it.
using BoundField = std::variant<std::monostate, int*, double*, std::string*>;

// One line of a page's binding table: control, kind, field, range. Made only by the
// factories below, each of which takes the one field type its kind exchanges, so that a
// wrong combination does not compile. The bindings by settings key look the key up once,
// when the page builds its table.
class Binding {
 public:
  static Binding Check(int control, int& field);
  static Binding Unsigned(int control, int& field, std::optional<int64_t> min = std::nullopt,
                          std::optional<int64_t> max = std::nullopt);
  static Binding Number(int control, double& field, std::optional<int64_t> min = std::nullopt,
                        std::optional<int64_t> max = std::nullopt);
  // `items` are the list's items, set on every load; they must outlive the binding.
  static Binding Choice(int control, int& field, std::span<const char* const> items);
  // `buttons` in the order of the values 0, 1, ...
  static Binding RadioGroup(std::initializer_list<int> buttons, int& field);
  static Binding Text(int control, std::string& field);

  // By the key of a setting in the plugin's section of the settings table: the field and,
  // for an unsigned edit, the range come from the table.
  static Binding Check(int control, PluginSettings& settings, std::string_view key);
  static Binding Unsigned(int control, PluginSettings& settings, std::string_view key);
  static Binding Number(int control, PluginSettings& settings, std::string_view key);
  static Binding Choice(int control, PluginSettings& settings, std::string_view key,
                        std::span<const char* const> items);
  static Binding RadioGroup(std::initializer_list<int> buttons, PluginSettings& settings,
                            std::string_view key);
  static Binding Text(int control, PluginSettings& settings, std::string_view key);

  // The control (a radio group's first button: the one the focus goes to).
  int control() const { return control_; }
  BindingKind kind() const { return kind_; }
  const BoundField& field() const { return field_; }
  bool resolved() const { return !std::holds_alternative<std::monostate>(field_); }
  std::optional<int64_t> min() const { return min_; }
  std::optional<int64_t> max() const { return max_; }
  std::span<const char* const> items() const { return items_; }
  std::span<const int> buttons() const { return buttons_; }
  // The settings key of a binding by key (empty for a page's own field) and its table entry
  // (null when the key is not in the plugin's section).
  const std::string& key() const { return key_; }
  const SettingDetail* setting() const { return setting_; }
  // Whether `id` is this binding's control (any button of a radio group).
  bool HasControl(int id) const;
  // The integer values a save can store, for the integer kinds: 0 and 1 for a check box,
  // the item or button indices, an unsigned edit's range (the field's type bounds where it
  // has none). Empty for number and text edits.
  std::optional<std::pair<int64_t, int64_t>> StoredRange() const;

 private:
  Binding(int control, BindingKind kind, BoundField field,
          std::optional<int64_t> min = std::nullopt,
          std::optional<int64_t> max = std::nullopt) noexcept
      : control_(control), kind_(kind), field_(field), min_(min), max_(max) {}
  static Binding ByKey(int control, BindingKind kind, PluginSettings& settings,
                       std::string_view key);

  int control_ = 0;
  BindingKind kind_ = BindingKind::kCheck;
  BoundField field_;
  std::optional<int64_t> min_;
  std::optional<int64_t> max_;
  std::span<const char* const> items_;
  std::vector<int> buttons_;
  std::string key_;
  const SettingDetail* setting_ = nullptr;
};

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
// The same with the bounds as texts (numbers with fractions).
std::string FormatBounds(std::string_view message, std::string_view min, std::string_view max);

// An unsigned decimal integer with spaces and tabs around it; nothing else (an empty text,
// a sign, any other character, or a value beyond 32 bits fails).
std::optional<uint32_t> ParseUnsigned(std::string_view text);
// A decimal number (optional sign, digits with an optional fraction, an optional exponent)
// with spaces and tabs around it; nothing else, and only finite values.
std::optional<double> ParseNumber(std::string_view text);
// The signed integer an edit's text starts with (spaces, an optional sign, digits), as the
// pages that show live values read their edits: a text without one reads 0, and values
// beyond an int are limited.
int ReadSigned(std::string_view text);
// The decimal number at the start of `text` (same grammar, no blanks before it; an "e"
// without exponent digits ends it): its value and in `length` the characters it took.
// Nothing (length 0) when the text does not start with one, or its value is not finite.
std::optional<double> ScanNumber(std::string_view text, size_t& length);
// The text a number edit shows for a value: the shortest form that reads back exactly.
std::string FormatNumber(double value);

// Every binding, in the table's order. A list without a selection and a radio group without
// a checked button save nothing: the field keeps the value it had (the value the load
// showed, which the control could not show when it is no item's or button's index).
ExchangeResult Exchange(std::span<const Binding> bindings, DialogControls& controls,
                        ExchangeDirection direction);
// Only the bindings of the controls `ids` (a radio group by any of its buttons), in the
// table's order, with the same checks and messages.
ExchangeResult ExchangeControls(std::span<const Binding> bindings, DialogControls& controls,
                                ExchangeDirection direction, std::initializer_list<int> ids);

}  // namespace kelvro
