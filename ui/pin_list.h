// The Input filter page's per-pin list, apart from its window: for each of the controller's
// 14 input pins its number, its own debounce switch and time (the settings' fields, edited in
// place, so an edit stands whatever the dialog's end) and what the host has wired to it. The
// model owns the list's geometry (row height, column widths, scroll position), hit-testing,
// the focused cell, the in-place editor's state and text, and the drawing of each row; the
// window only reports input and shows what the model says.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "host/host_blocks.h"
#include "settings/plugin_settings.h"
#include "ui/canvas.h"

namespace kelvro {

inline constexpr int kPinRowCount = kDebouncePinCount;
inline constexpr int kPinTimeMin = 0;
inline constexpr int kPinTimeMax = 10000;
inline constexpr int kPinListMinRowHeight = 20;

// Icons of the Enable column.
inline constexpr int kIconPinEnabled = 1003;
inline constexpr int kIconPinDisabled = 1004;

inline constexpr Colour kPinUnusedColour = MakeColour(150, 150, 150);
inline constexpr Colour kPinUsedColour = MakeColour(0, 0, 150);
inline constexpr Colour kPinGridColour = MakeColour(180, 180, 180);

// The host's input signal names, by record number.
extern const std::array<const char*, kInputSignalCount> kInputFunctionNames;

// The virtual keys the list acts on (Win32 values).
inline constexpr int kKeyReturn = 0x0D;
inline constexpr int kKeyEscape = 0x1B;
inline constexpr int kKeySpace = 0x20;
inline constexpr int kKeyLeft = 0x25;
inline constexpr int kKeyRight = 0x27;

struct PinDescription {
  std::string text;
  Colour colour = kPinUnusedColour;
  bool operator==(const PinDescription&) const = default;
};

// What the host has wired to each pin: its enabled, not emulated input signals on port 1 in
// record order, then the pins of its first two enabled encoder/MPG records with both ports 1,
// joined by ", "; "unused" in gray for a pin with nothing. Without the host's block every
// pin is unused.
std::array<PinDescription, kPinRowCount> DescribePins(const HostMachineState* machine);

// Reads an editor's text as the C library's atoi does (optional spaces and sign, then
// digits; no digits gives 0) and limits it to kPinTimeMin..kPinTimeMax.
int ClampedPinTime(std::string_view text);

enum PinColumn : int { kColumnNumber = 0, kColumnEnable = 1, kColumnTime = 2, kColumnInfo = 3 };
inline constexpr int kPinColumnCount = 4;
extern const std::array<const char*, kPinColumnCount> kPinColumnTitles;

class PinList {
 public:
  PinList(std::array<int, kPinRowCount>& enable, std::array<int, kPinRowCount>& time)
      : enable_(enable), time_(time) {}

  // ---- Contents ----
  void Describe(const HostMachineState* machine) { descriptions_ = DescribePins(machine); }
  const PinDescription& description(int row) const;
  bool enabled(int row) const;
  int time(int row) const;
  // The texts of a row's first three cells: pin number, "" (an icon), time.
  std::string CellText(int row, int column) const;

  // ---- Geometry, in the list's client pixels ----
  // From the client height of the page's first time edit; at least 20.
  void SetRowHeight(int edit_client_height);
  int row_height() const { return row_height_; }
  // The columns' first widths: of the client width less a vertical scroll bar, 15 %, 15 %,
  // 40 % and the rest.
  void LayOut(int client_width, int scroll_bar_width);
  // The widths after the user dragged a divider (the editor follows its cell).
  void SetColumnWidths(const std::array<int, kPinColumnCount>& widths);
  const std::array<int, kPinColumnCount>& column_widths() const { return widths_; }
  // Where row 0 would start (below the header) and the first visible row and horizontal
  // scroll position.
  void SetViewport(int header_height, int top_row, int scroll_x);
  PixelRect RowRect(int row) const;
  // The row under a point, or none.
  std::optional<int> RowAt(int x, int y) const;
  // The column whose inside (not its dividers) holds x, or none.
  std::optional<int> ColumnAt(int x) const;

  // ---- Focus and input ----
  int focused_column() const { return focused_column_; }
  std::optional<int> focused_row() const { return focused_row_; }
  // The list's selection moved to `row`.
  void Select(std::optional<int> row);
  // A left click at (x, y).
  void Click(int x, int y);
  // A key-down in the list; true when the list acted on it.
  bool KeyDown(int virtual_key);
  // Enter or Escape in the editor; true when it was one of them.
  bool EditorKey(int virtual_key);

  // ---- The in-place editor ----
  bool editing() const { return edited_row_.has_value(); }
  std::optional<int> edited_row() const { return edited_row_; }
  // Counts editors started, so a window can tell a new editor from the one it shows.
  int edit_session() const { return edit_session_; }
  const std::string& editor_text() const { return editor_text_; }
  // The editor's place: the edited row's time cell shrunk by one pixel on each side; none
  // when not editing or the row is scrolled above the list's top.
  std::optional<PixelRect> EditorRect() const;
  // Starts editing `row` with `initial` (without one, the row's time), committing a running
  // edit first.
  void StartEdit(int row, std::optional<std::string> initial = std::nullopt);
  // The user changed the editor's text.
  void SetEditorText(std::string_view text) { editor_text_ = std::string(text); }
  // Stores the editor's text as the edited row's time (clamped) and ends the edit.
  void Commit();
  // Ends the edit without storing.
  void Cancel();
  // The editor lost the focus, the list scrolled, or a divider drag started or ended.
  void FocusLost() { Commit(); }
  void Scrolled() { Commit(); }
  void DividerDrag() { Commit(); }

  // ---- Drawing ----
  // Draws `row` into `rect` (the row's rectangle in the canvas); a selected row is the
  // focused one and gets a black frame around its focused cell.
  void PaintRow(int row, const PixelRect& rect, bool selected, Canvas& canvas);

 private:
  bool ValidRow(int row) const { return row >= 0 && row < kPinRowCount; }
  void Toggle(int row);
  // Left edges of the columns relative to a row's left edge; [4] is the right end.
  std::array<int, kPinColumnCount + 1> Edges() const;

  std::array<int, kPinRowCount>& enable_;
  std::array<int, kPinRowCount>& time_;
  std::array<PinDescription, kPinRowCount> descriptions_ = DescribePins(nullptr);
  int row_height_ = kPinListMinRowHeight;
  std::array<int, kPinColumnCount> widths_{};
  int header_height_ = 0;
  int top_row_ = 0;
  int scroll_x_ = 0;
  int focused_column_ = kColumnEnable;
  std::optional<int> focused_row_;
  std::optional<int> edited_row_;
  std::string editor_text_;
  int edit_session_ = 0;
};

}  // namespace kelvro
