#include "ui/pin_list.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

namespace kelvro {

const std::array<const char*, kInputSignalCount> kInputFunctionNames = {
    "LimitX+",       "LimitX-",       "HomeX",         "LimitY+",       "LimitY-",
    "HomeY",         "LimitsZ+",      "LimitsZ-",      "HomeZ",         "LimitsA+",
    "LimitsA-",      "HomeA",         "LimitsB+",      "LimitsB-",      "HomeB",
    "LimitsC+",      "LimitsC-",      "HomeC",         "Activation1",   "Activation2",
    "Activation3",   "Activation4",   "Probe",         "Index",         "Limit override",
    "ESTOP",         "THC on",        "THC up",        "THC down",      "OEM trigger1",
    "OEM trigger2",  "OEM trigger3",  "OEM trigger4",  "OEM trigger5",  "OEM trigger6",
    "OEM trigger7",  "OEM trigger8",  "OEM trigger9",  "OEM trigger10", "OEM trigger11",
    "OEM trigger12", "OEM trigger13", "OEM trigger14", "OEM trigger15", "Timing",
    "JOGX+",         "JOGX-",         "JOGY+",         "JOGY-",         "JOGZ+",
    "JOGZ-",         "JOGA+",         "JOGA-"};

const std::array<const char*, kPinColumnCount> kPinColumnTitles = {
    "Input No", "Enable", "Debounce time (x100 us)", "Pin info"};

namespace {

constexpr char kUnused[] = "unused";
constexpr char kEncoderMpg[] = "Encoder/MPG";
constexpr int kIconSize = 16;
// How far the pin info starts right of its column's left edge.
constexpr int kInfoIndent = 6;
// Encoder/MPG records looked at: the first two enabled ones.
constexpr int kEncoderRecordsUsed = 2;

void Append(PinDescription& pin, std::string_view name) {
  if (!pin.text.empty()) pin.text += ", ";
  pin.text += name;
  pin.colour = kPinUsedColour;
}

// Row index of a host pin number, when it is one of the list's pins.
std::optional<size_t> RowOfPin(int pin) {
  if (pin < 1 || pin > kPinRowCount) return std::nullopt;
  return static_cast<size_t>(pin - 1);
}

}  // namespace

std::array<PinDescription, kPinRowCount> DescribePins(const HostMachineState* machine) {
  std::array<PinDescription, kPinRowCount> pins{};
  for (PinDescription& pin : pins) pin = {"", kPinUnusedColour};
  if (machine) {
    for (int i = 0; i < kInputSignalCount; ++i) {
      const HostInputSignal& input = machine->inputs[i];
      if (!input.enabled || input.port != 1 || input.emulated) continue;
      if (const auto row = RowOfPin(input.pin)) Append(pins[*row], kInputFunctionNames[i]);
    }
    int enabled_seen = 0;
    for (int e = 0; e < kHostEncoderCount && enabled_seen < kEncoderRecordsUsed; ++e) {
      const HostEncoder& encoder = machine->encoders[e];
      if (!encoder.enabled) continue;
      ++enabled_seen;
      if (encoder.a_port != 1 || encoder.b_port != 1) continue;
      for (int pin : {static_cast<int>(encoder.a_pin), static_cast<int>(encoder.b_pin)}) {
        if (const auto row = RowOfPin(pin)) Append(pins[*row], kEncoderMpg);
      }
    }
  }
  for (PinDescription& pin : pins) {
    if (pin.text.empty()) pin.text = kUnused;
  }
  return pins;
}

int ClampedPinTime(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    // Anything beyond the range is clamped anyway; stop growing well before overflow.
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{1} << 40);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<int64_t>(value, kPinTimeMin, kPinTimeMax));
}

const PinDescription& PinList::description(int row) const {
  return descriptions_[static_cast<size_t>(std::clamp(row, 0, kPinRowCount - 1))];
}

bool PinList::enabled(int row) const {
  return ValidRow(row) && enable_[static_cast<size_t>(row)] != 0;
}

int PinList::time(int row) const {
  return ValidRow(row) ? time_[static_cast<size_t>(row)] : 0;
}

std::string PinList::CellText(int row, int column) const {
  switch (column) {
    case kColumnNumber:
      return std::to_string(row + 1);
    case kColumnTime:
      return std::to_string(time(row));
    case kColumnInfo:
      return description(row).text;
    default:
      return {};
  }
}

void PinList::SetRowHeight(int edit_client_height) {
  row_height_ = std::max(edit_client_height, kPinListMinRowHeight);
}

void PinList::LayOut(int client_width, int scroll_bar_width) {
  const int w = std::max(client_width - scroll_bar_width, 0);
  // Truncated toward zero, as the conversion of each product to a whole pixel count.
  widths_[kColumnNumber] = static_cast<int>(w * 0.15);
  widths_[kColumnEnable] = static_cast<int>(w * 0.15);
  widths_[kColumnTime] = static_cast<int>(w * 0.4);
  widths_[kColumnInfo] = w - widths_[0] - widths_[1] - widths_[2];
}

void PinList::SetColumnWidths(const std::array<int, kPinColumnCount>& widths) {
  for (size_t i = 0; i < widths.size(); ++i) widths_[i] = std::max(widths[i], 0);
}

void PinList::SetViewport(int header_height, int top_row, int scroll_x) {
  header_height_ = header_height;
  top_row_ = std::clamp(top_row, 0, kPinRowCount - 1);
  scroll_x_ = scroll_x;
}

std::array<int, kPinColumnCount + 1> PinList::Edges() const {
  const int w0 = widths_[0] - 1;
  const int e1 = w0 + widths_[1];
  const int e2 = e1 + widths_[2];
  return {0, w0, e1, e2, e2 + widths_[3]};
}

PixelRect PinList::RowRect(int row) const {
  const int top = header_height_ + (row - top_row_) * row_height_;
  return {-scroll_x_, top, -scroll_x_ + Edges()[kPinColumnCount] + 1, top + row_height_};
}

std::optional<int> PinList::RowAt(int x, int y) const {
  if (y < header_height_ || x < -scroll_x_) return std::nullopt;
  const int row = top_row_ + (y - header_height_) / row_height_;
  if (!ValidRow(row) || x >= RowRect(row).right) return std::nullopt;
  return row;
}

std::optional<int> PinList::ColumnAt(int x) const {
  const auto edges = Edges();
  const int rx = x + scroll_x_;
  for (int c = 0; c < kPinColumnCount; ++c) {
    if (rx > edges[static_cast<size_t>(c)] && rx < edges[static_cast<size_t>(c) + 1]) return c;
  }
  return std::nullopt;
}

void PinList::Select(std::optional<int> row) {
  focused_row_ = row && ValidRow(*row) ? row : std::nullopt;
}

void PinList::Toggle(int row) {
  int& enable = enable_[static_cast<size_t>(row)];
  enable = enable ? 0 : 1;
}

void PinList::Click(int x, int y) {
  Commit();
  const std::optional<int> row = RowAt(x, y);
  if (!row) return;
  focused_row_ = row;
  const std::optional<int> column = ColumnAt(x);
  if (column == kColumnEnable) {
    Toggle(*row);
    focused_column_ = kColumnEnable;
  } else if (column == kColumnTime) {
    StartEdit(*row);
    focused_column_ = kColumnTime;
  }
}

bool PinList::KeyDown(int virtual_key) {
  if (virtual_key >= '0' && virtual_key <= '9') {
    if (!focused_row_ || focused_column_ != kColumnTime) return false;
    StartEdit(*focused_row_, std::string(1, static_cast<char>(virtual_key)));
    return true;
  }
  switch (virtual_key) {
    case kKeySpace:
      if (!focused_row_ || focused_column_ != kColumnEnable) return false;
      Toggle(*focused_row_);
      return true;
    case kKeyLeft:
      if (focused_column_ == kColumnTime) focused_column_ = kColumnEnable;
      return true;
    case kKeyRight:
      if (focused_column_ == kColumnEnable) focused_column_ = kColumnTime;
      return true;
    default:
      return false;
  }
}

bool PinList::EditorKey(int virtual_key) {
  if (virtual_key == kKeyReturn) {
    Commit();
    return true;
  }
  if (virtual_key == kKeyEscape) {
    Cancel();
    return true;
  }
  return false;
}

std::optional<PixelRect> PinList::EditorRect() const {
  if (!edited_row_ || *edited_row_ < top_row_) return std::nullopt;
  const PixelRect row = RowRect(*edited_row_);
  const auto edges = Edges();
  return PixelRect{row.left + edges[kColumnTime] + 1, row.top + 1,
                   row.left + edges[kColumnTime + 1] - 1, row.bottom - 1};
}

void PinList::StartEdit(int row, std::optional<std::string> initial) {
  if (!ValidRow(row)) return;
  Commit();
  editor_text_ = initial ? std::move(*initial) : std::to_string(time(row));
  edited_row_ = row;
  ++edit_session_;
}

void PinList::Commit() {
  if (!edited_row_) return;
  time_[static_cast<size_t>(*edited_row_)] = ClampedPinTime(editor_text_);
  Cancel();
}

void PinList::Cancel() {
  edited_row_.reset();
  editor_text_.clear();
}

void PinList::PaintRow(int row, const PixelRect& rect, bool selected, Canvas& canvas) {
  if (!ValidRow(row)) return;
  const auto edges = Edges();
  const int left = rect.left;
  const int x1 = left + edges[kColumnEnable];
  const int x2 = left + edges[kColumnTime];
  const int x3 = left + edges[kColumnInfo];
  const int end = left + edges[kPinColumnCount];
  canvas.Fill({left, rect.top + 1, x1, rect.bottom}, canvas.ButtonFace());
  canvas.Fill({x1, rect.top + 1, rect.right, rect.bottom}, kWhite);
  canvas.Line(left, rect.top, rect.right, rect.top, kPinGridColour);
  canvas.Line(left, rect.bottom, rect.right, rect.bottom, kPinGridColour);
  for (int x : {x1, x2, x3}) canvas.Line(x, rect.top, x, rect.bottom, kPinGridColour);
  canvas.Text({left, rect.top, x1, rect.bottom}, CellText(row, kColumnNumber), kBlack,
              TextAlign::kCentre);
  canvas.Icon(enabled(row) ? kIconPinEnabled : kIconPinDisabled, x1 + (x2 - x1 - kIconSize) / 2,
              rect.top + (rect.height() - kIconSize) / 2);
  canvas.Text({x2, rect.top, x3, rect.bottom}, CellText(row, kColumnTime), kBlack,
              TextAlign::kCentre);
  const PinDescription& info = description(row);
  if (!info.text.empty()) {
    canvas.Text({x3 + kInfoIndent, rect.top, end, rect.bottom}, info.text, info.colour,
                TextAlign::kLeft);
  }
  if (!selected) return;
  focused_row_ = row;
  const int cell_left = focused_column_ == kColumnTime ? x2 : x1;
  const int cell_right = focused_column_ == kColumnTime ? x3 : x2;
  canvas.Frame({cell_left, rect.top, cell_right + 1, rect.bottom + 1}, kBlack);
}

}  // namespace kelvro
