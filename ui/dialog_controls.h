// The controls of one dialog or page, as the page models see them: texts, check boxes,
// selections, enabling, visibility and focus, addressed by control id. Production: over a
// window's child controls. Tests: a map of control states.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kelvro {

class DialogControls {
 public:
  virtual ~DialogControls() = default;
  virtual std::string Text(int id) = 0;
  virtual void SetText(int id, std::string_view text) = 0;
  virtual bool Checked(int id) = 0;
  virtual void SetChecked(int id, bool checked) = 0;
  // The items of a list or drop-down list, replacing any before.
  virtual void SetItems(int id, std::span<const char* const> items) = 0;
  // Selected item of a list or drop-down list, -1 when none.
  virtual int Selection(int id) = 0;
  virtual void SetSelection(int id, int index) = 0;
  virtual void Enable(int id, bool enabled) = 0;
  virtual void Show(int id, bool shown) = 0;
  virtual void Focus(int id) = 0;
};

}  // namespace kelvro
