#include "ui/field_exchange.h"

#include <charconv>
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
  if (b.min && value < static_cast<double>(*b.min)) return false;
  if (b.max && value > static_cast<double>(*b.max)) return false;
  return true;
}

// The range message needs both bounds; a one-sided range names the type's end.
ExchangeResult RangeFailure(const Binding& b, const char* message) {
  const int64_t low = b.min.value_or(b.kind == BindingKind::kUnsigned ? 0 : INT32_MIN);
  const int64_t high = b.max.value_or(b.kind == BindingKind::kUnsigned ? UINT32_MAX : INT32_MAX);
  return ExchangeResult::Failure(b.control, FormatBounds(message, low, high));
}

void Load(const Binding& b, DialogControls& controls) {
  switch (b.kind) {
    case BindingKind::kCheck:
      controls.SetChecked(b.control, *b.int_field != 0);
      break;
    case BindingKind::kUnsigned:
      controls.SetText(b.control, std::to_string(*b.int_field));
      break;
    case BindingKind::kNumber:
      controls.SetText(b.control, FormatNumber(*b.number_field));
      break;
    case BindingKind::kChoice:
      controls.SetSelection(b.control, *b.int_field);
      break;
    case BindingKind::kText:
      controls.SetText(b.control, *b.text_field);
      break;
  }
}

ExchangeResult Save(const Binding& b, DialogControls& controls) {
  switch (b.kind) {
    case BindingKind::kCheck:
      *b.int_field = controls.Checked(b.control) ? 1 : 0;
      return {};
    case BindingKind::kUnsigned: {
      const std::optional<uint32_t> value = ParseUnsigned(controls.Text(b.control));
      if (!value) return ExchangeResult::Failure(b.control, kMessagePositiveInteger);
      if (!InRange(*value, b)) return RangeFailure(b, kMessageIntegerBetween);
      // The fields are 32-bit signed; a value above their range is refused like any other
      // value outside the field's range.
      if (*value > static_cast<uint32_t>(std::numeric_limits<int>::max())) {
        return RangeFailure(b, kMessageIntegerBetween);
      }
      *b.int_field = static_cast<int>(*value);
      return {};
    }
    case BindingKind::kNumber: {
      const std::optional<double> value = ParseNumber(controls.Text(b.control));
      if (!value) return ExchangeResult::Failure(b.control, kMessageNumber);
      if (!InRange(*value, b)) return RangeFailure(b, kMessageNumberBetween);
      *b.number_field = *value;
      return {};
    }
    case BindingKind::kChoice: {
      const int selection = controls.Selection(b.control);
      *b.int_field = selection < 0 ? 0 : selection;
      return {};
    }
    case BindingKind::kText:
      *b.text_field = controls.Text(b.control);
      return {};
  }
  return {};
}

Binding IntBinding(int control, BindingKind kind, int& field) {
  Binding b;
  b.control = control;
  b.kind = kind;
  b.int_field = &field;
  return b;
}

}  // namespace

Binding SettingBinding(int control, BindingKind kind, PluginSettings& settings,
                       std::string_view key) {
  Binding b;
  b.control = control;
  b.kind = kind;
  const SettingDetail* detail = FindSetting(key);
  // Bindings are written against the table; a key that is not there is a programming error
  // that the page tests catch (the binding then has no field and exchanges nothing).
  if (detail && detail->kind == SettingKind::kInt) {
    b.int_field = &IntField(settings, *detail);
    if (detail->range && kind == BindingKind::kUnsigned) {
      b.min = detail->range->min;
      b.max = detail->range->max;
    }
  }
  return b;
}

Binding CheckBinding(int control, int& field) {
  return IntBinding(control, BindingKind::kCheck, field);
}

Binding UnsignedBinding(int control, int& field, std::optional<int64_t> min,
                        std::optional<int64_t> max) {
  Binding b = IntBinding(control, BindingKind::kUnsigned, field);
  b.min = min;
  b.max = max;
  return b;
}

Binding NumberBinding(int control, double& field, std::optional<int64_t> min,
                      std::optional<int64_t> max) {
  Binding b;
  b.control = control;
  b.kind = BindingKind::kNumber;
  b.number_field = &field;
  b.min = min;
  b.max = max;
  return b;
}

Binding ChoiceBinding(int control, int& field) {
  return IntBinding(control, BindingKind::kChoice, field);
}

std::string FormatBounds(std::string_view message, int64_t min, int64_t max) {
  std::string out;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '%' && i + 1 < message.size() &&
        (message[i + 1] == '1' || message[i + 1] == '2')) {
      out += std::to_string(message[i + 1] == '1' ? min : max);
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

std::optional<double> ParseNumber(std::string_view text) {
  text = Trim(text);
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
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponent_digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  // from_chars takes no leading plus sign.
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::string FormatNumber(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

ExchangeResult Exchange(std::span<const Binding> bindings, DialogControls& controls,
                        ExchangeDirection direction) {
  for (const Binding& b : bindings) {
    if (direction == ExchangeDirection::kLoad) {
      Load(b, controls);
      continue;
    }
    ExchangeResult result = Save(b, controls);
    if (!result.ok) return result;
  }
  return {};
}

}  // namespace kelvro
