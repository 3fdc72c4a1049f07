#include "ui/field_exchange.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

#include "settings/settings_table.h"
#include "ui/dialog_controls.h"

namespace kelvro {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool InRange(double value, const Binding& b) {
  if (b.min() && value < static_cast<double>(*b.min())) return false;
  if (b.max() && value > static_cast<double>(*b.max())) return false;
  return true;
}

// The range message needs both bounds; a one-sided range names the type's end.
ExchangeResult RangeFailure(const Binding& b, const char* message) {
  const bool is_unsigned = b.kind() == BindingKind::kUnsigned;
  const int64_t low = b.min().value_or(is_unsigned ? 0 : INT32_MIN);
  const int64_t high = b.max().value_or(is_unsigned ? UINT32_MAX : INT32_MAX);
  return ExchangeResult::Failure(b.control(), FormatBounds(message, low, high));
}

// The index of the first checked button of a radio group, -1 when none is.
int CheckedButton(const Binding& b, DialogControls& controls) {
  const std::span<const int> buttons = b.buttons();
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (controls.Checked(buttons[i])) return static_cast<int>(i);
  }
  return -1;
}

void Load(const Binding& b, int& field, DialogControls& controls) {
  switch (b.kind()) {
    case BindingKind::kCheck:
      controls.SetChecked(b.control(), field != 0);
      break;
    case BindingKind::kUnsigned:
      controls.SetText(b.control(), std::to_string(field));
      break;
    case BindingKind::kChoice:
      controls.SetItems(b.control(), b.items());
      controls.SetSelection(b.control(), field);
      break;
    case BindingKind::kRadioGroup: {
      const std::span<const int> buttons = b.buttons();
      for (size_t i = 0; i < buttons.size(); ++i) {
        controls.SetChecked(buttons[i], field >= 0 && static_cast<size_t>(field) == i);
      }
      break;
    }
    default:
      break;
  }
}

ExchangeResult Save(const Binding& b, int& field, DialogControls& controls) {
  switch (b.kind()) {
    case BindingKind::kCheck:
      field = controls.Checked(b.control()) ? 1 : 0;
      return {};
    case BindingKind::kUnsigned: {
      const std::optional<uint32_t> value = ParseUnsigned(controls.Text(b.control()));
      if (!value) return ExchangeResult::Failure(b.control(), kMessagePositiveInteger);
      if (!InRange(*value, b)) return RangeFailure(b, kMessageIntegerBetween);
      // The fields are 32-bit signed; a value above their range is refused like any other
      // value outside the field's range.
      if (*value > static_cast<uint32_t>(std::numeric_limits<int>::max())) {
        return RangeFailure(b, kMessageIntegerBetween);
      }
      field = static_cast<int>(*value);
      return {};
    }
    case BindingKind::kChoice: {
      // A list shows no selection when the field held no item's index (a profile value the
      // page does not offer); the field keeps it until the user picks an item.
      const int selection = controls.Selection(b.control());
      if (selection >= 0 && static_cast<size_t>(selection) < b.items().size()) {
        field = selection;
      }
      return {};
    }
    case BindingKind::kRadioGroup: {
      const int checked = CheckedButton(b, controls);
      if (checked >= 0) field = checked;
      return {};
    }
    default:
      return {};
  }
}

ExchangeResult Save(const Binding& b, double& field, DialogControls& controls) {
  const std::optional<double> value = ParseNumber(controls.Text(b.control()));
  if (!value) return ExchangeResult::Failure(b.control(), kMessageNumber);
  if (!InRange(*value, b)) return RangeFailure(b, kMessageNumberBetween);
  field = *value;
  return {};
}

ExchangeResult ExchangeOne(const Binding& b, DialogControls& controls,
                           ExchangeDirection direction) {
  const bool load = direction == ExchangeDirection::kLoad;
  const BoundField& bound = b.field();
  if (int* const* field = std::get_if<int*>(&bound)) {
    if (!load) return Save(b, **field, controls);
    Load(b, **field, controls);
  } else if (double* const* number = std::get_if<double*>(&bound)) {
    if (!load) return Save(b, **number, controls);
    controls.SetText(b.control(), FormatNumber(**number));
  } else if (std::string* const* text = std::get_if<std::string*>(&bound)) {
    if (load) {
      controls.SetText(b.control(), **text);
    } else {
      **text = controls.Text(b.control());
    }
  }
  // An unresolved binding by key has no field: nothing to exchange.
  return {};
}

ExchangeResult ExchangeWhere(std::span<const Binding> bindings, DialogControls& controls,
                             ExchangeDirection direction, const std::initializer_list<int>* only) {
  for (const Binding& b : bindings) {
    if (only &&
        std::none_of(only->begin(), only->end(), [&b](int id) { return b.HasControl(id); })) {
      continue;
    }
    ExchangeResult result = ExchangeOne(b, controls, direction);
    if (!result.ok) return result;
  }
  return {};
}

// The kind of setting each binding kind exchanges.
SettingKind SettingKindOf(BindingKind kind) {
  switch (kind) {
    case BindingKind::kNumber:
      return SettingKind::kReal;
    case BindingKind::kText:
      return SettingKind::kText;
    default:
      return SettingKind::kInt;
  }
}

}  // namespace

int ReadSigned(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{INT_MAX} + 1);
  }
  return static_cast<int>(std::clamp<int64_t>(negative ? -value : value, INT_MIN, INT_MAX));
}

Binding Binding::Check(int control, int& field) {
  return Binding(control, BindingKind::kCheck, &field);
}

Binding Binding::Unsigned(int control, int& field, std::optional<int64_t> min,
                          std::optional<int64_t> max) {
  return Binding(control, BindingKind::kUnsigned, &field, min, max);
}

Binding Binding::Number(int control, double& field, std::optional<int64_t> min,
                        std::optional<int64_t> max) {
  return Binding(control, BindingKind::kNumber, &field, min, max);
}

Binding Binding::Choice(int control, int& field, std::span<const char* const> items) {
  Binding b(control, BindingKind::kChoice, &field);
  b.items_ = items;
  return b;
}

Binding Binding::RadioGroup(std::initializer_list<int> buttons, int& field) {
  Binding b(buttons.size() > 0 ? *buttons.begin() : 0, BindingKind::kRadioGroup, &field);
  b.buttons_.assign(buttons.begin(), buttons.end());
  return b;
}

Binding Binding::Text(int control, std::string& field) {
  return Binding(control, BindingKind::kText, &field);
}

Binding Binding::ByKey(int control, BindingKind kind, PluginSettings& settings,
                       std::string_view key) {
  Binding b(control, kind, std::monostate{});
  b.key_ = std::string(key);
  b.setting_ = FindSetting(key);
  const SettingDetail* detail = b.setting_;
  // A key that is not in the table, or a setting of another type, leaves the binding
  // without a field; the page tests name it.
  if (!detail || detail->kind != SettingKindOf(kind)) return b;
  switch (detail->kind) {
    case SettingKind::kInt:
      b.field_ = &IntField(settings, *detail);
      if (kind == BindingKind::kUnsigned && detail->range) {
        b.min_ = detail->range->min;
        b.max_ = detail->range->max;
      }
      break;
    case SettingKind::kReal:
      b.field_ = &RealField(settings, *detail);
      break;
    case SettingKind::kText:
      b.field_ = &TextField(settings, *detail);
      break;
    case SettingKind::kLaserCurve:
      break;
  }
  return b;
}

Binding Binding::Check(int control, PluginSettings& settings, std::string_view key) {
  return ByKey(control, BindingKind::kCheck, settings, key);
}

Binding Binding::Unsigned(int control, PluginSettings& settings, std::string_view key) {
  return ByKey(control, BindingKind::kUnsigned, settings, key);
}

Binding Binding::Number(int control, PluginSettings& settings, std::string_view key) {
  return ByKey(control, BindingKind::kNumber, settings, key);
}

Binding Binding::Choice(int control, PluginSettings& settings, std::string_view key,
                        std::span<const char* const> items) {
  Binding b = ByKey(control, BindingKind::kChoice, settings, key);
  b.items_ = items;
  return b;
}

Binding Binding::RadioGroup(std::initializer_list<int> buttons, PluginSettings& settings,
                            std::string_view key) {
  Binding b =
      ByKey(buttons.size() > 0 ? *buttons.begin() : 0, BindingKind::kRadioGroup, settings, key);
  b.buttons_.assign(buttons.begin(), buttons.end());
  return b;
}

Binding Binding::Text(int control, PluginSettings& settings, std::string_view key) {
  return ByKey(control, BindingKind::kText, settings, key);
}

bool Binding::HasControl(int id) const {
  if (kind_ != BindingKind::kRadioGroup) return id == control_;
  return std::find(buttons_.begin(), buttons_.end(), id) != buttons_.end();
}

std::optional<std::pair<int64_t, int64_t>> Binding::StoredRange() const {
  switch (kind_) {
    case BindingKind::kCheck:
      return std::pair<int64_t, int64_t>{0, 1};
    case BindingKind::kUnsigned:
      return std::pair<int64_t, int64_t>{min_.value_or(0),
                                         max_.value_or(std::numeric_limits<int>::max())};
    case BindingKind::kChoice:
      return std::pair<int64_t, int64_t>{0, static_cast<int64_t>(items_.size()) - 1};
    case BindingKind::kRadioGroup:
      return std::pair<int64_t, int64_t>{0, static_cast<int64_t>(buttons_.size()) - 1};
    default:
      return std::nullopt;
  }
}

std::string FormatBounds(std::string_view message, int64_t min, int64_t max) {
  return FormatBounds(message, std::to_string(min), std::to_string(max));
}

std::string FormatBounds(std::string_view message, std::string_view min, std::string_view max) {
  std::string out;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '%' && i + 1 < message.size() &&
        (message[i + 1] == '1' || message[i + 1] == '2')) {
      out += message[i + 1] == '1' ? min : max;
      ++i;
    } else {
      out += message[i];
    }
  }
  return out;
}

std::optional<uint32_t> ParseUnsigned(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

std::optional<double> ScanNumber(std::string_view text, size_t& length) {
  length = 0;
  // The grammar is checked here; from_chars only converts text that passed it (so that
  // hexadecimal forms, "inf" and "nan" never come into play; the host's locale never does).
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  // An exponent belongs to the number only with its digits.
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    size_t exponent_digits = 0;
    while (j < text.size() && IsDigit(text[j])) ++j, ++exponent_digits;
    if (exponent_digits > 0) i = j;
  }
  std::string_view number = text.substr(0, i);
  // from_chars takes no leading plus sign.
  if (number.front() == '+') number.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  length = i;
  return value;
}

std::optional<double> ParseNumber(std::string_view text) {
  text = Trim(text);
  size_t length = 0;
  const std::optional<double> value = ScanNumber(text, length);
  if (!value || length != text.size()) return std::nullopt;
  return value;
}

std::string FormatNumber(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

ExchangeResult Exchange(std::span<const Binding> bindings, DialogControls& controls,
                        ExchangeDirection direction) {
  return ExchangeWhere(bindings, controls, direction, nullptr);
}

ExchangeResult ExchangeControls(std::span<const Binding> bindings, DialogControls& controls,
                                ExchangeDirection direction, std::initializer_list<int> ids) {
  return ExchangeWhere(bindings, controls, direction, &ids);
}

}  // namespace kelvro
