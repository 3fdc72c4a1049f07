// A page or dialog of the user interface, apart from its window: its template, its data
// exchange (the shared bindings plus its own checks), its enable rules and its commands.
// The window (a Win32 dialog, or a map of controls in the tests) only moves values between
// its controls and the model.
#pragma once

#include "host/platform.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_runner.h"
#include "ui/field_exchange.h"

namespace kelvro {

class PageModel {
 public:
  virtual ~PageModel() = default;

  // The dialog template the window is built from.
  virtual int template_id() const = 0;
  // Fields into controls (kLoad) or back, with the checks (kSave).
  virtual ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) = 0;
  // Enables and disables controls from the controls' current state; run after a load and
  // after every command.
  virtual void ApplyEnableRules(DialogControls& /*controls*/) {}
  // A control's command (a click, a selection change). True when the model handled it;
  // dialogs it opens run through `runner`.
  virtual bool OnCommand(DialogControls& /*controls*/, int /*control*/, DialogRunner& /*runner*/) {
    return false;
  }
};

// Saves `model` from `controls`. On failure the message is shown, the focus goes to the bad
// field and false is returned: the window stays as it is.
inline bool SavePage(PageModel& model, DialogControls& controls, UserMessages& messages) {
  const ExchangeResult result = model.Exchange(controls, ExchangeDirection::kSave);
  if (result.ok) return true;
  messages.MessageBox(result.message, MessageBoxKind::kOk);
  controls.Focus(result.failed_control);
  return false;
}

// A page without content yet: its tab shows an empty page.
class EmptyPage final : public PageModel {
 public:
  explicit EmptyPage(int template_id) : template_id_(template_id) {}
  int template_id() const override { return template_id_; }
  ExchangeResult Exchange(DialogControls&, ExchangeDirection) override { return {}; }

 private:
  int template_id_;
};

}  // namespace kelvro
