// A page or dialog of the user interface, apart from its window: its template, its data
// exchange (its binding table plus its own checks), its enable rules, its commands, and
// whether its window needs a view of its own. The window (a Win32 dialog, or a map of
// controls in the tests) only moves values between its controls and the model.
#pragma once

#include <memory>
#include <span>

#include "host/platform.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_runner.h"
#include "ui/field_exchange.h"

namespace kelvro {

class AboutPage;
class CurveEditorDialog;
class InputFilterPage;
class ThcPage;
class ZCorrectionPage;
class ZMapDialog;

// What a page's window does beyond the generic page window (drawing, links, cursors),
// made by the platform's views; the generic window hands its messages to it first.
class PageView {
 public:
  virtual ~PageView() = default;
};

// The platform's maker of page views: one method per page that has a view of its own.
class PageViewMaker {
 public:
  virtual ~PageViewMaker() = default;
  virtual std::unique_ptr<PageView> About(AboutPage& page) = 0;
  virtual std::unique_ptr<PageView> InputFilter(InputFilterPage& page) = 0;
  virtual std::unique_ptr<PageView> Thc(ThcPage& page) = 0;
  virtual std::unique_ptr<PageView> ZCorrection(ZCorrectionPage& page) = 0;
  virtual std::unique_ptr<PageView> ZMap(ZMapDialog& dialog) = 0;
  virtual std::unique_ptr<PageView> CurveEditor(CurveEditorDialog& editor) = 0;
};

class PageModel {
 public:
  PageModel() = default;
  // Binding tables point into the page's own fields.
  PageModel(const PageModel&) = delete;
  PageModel& operator=(const PageModel&) = delete;
  virtual ~PageModel() = default;

  // The dialog template the window is built from.
  virtual int template_id() const = 0;
  // The page's binding table in exchange order, built with the page (empty when it has
  // none).
  virtual std::span<const Binding> bindings() const { return {}; }
  // Fields into controls (kLoad) or back, with the checks (kSave): the binding table unless
  // the page adds checks of its own.
  virtual ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) {
    return kelvro::Exchange(bindings(), controls, direction);
  }
  // Enables and disables controls from the controls' current state; run after a load and
  // after every command.
  virtual void ApplyEnableRules(DialogControls& /*controls*/) {}
  // A control's command (a click, a selection change). True when the model handled it;
  // dialogs it opens run through `runner`.
  virtual bool OnCommand(DialogControls& /*controls*/, int /*control*/, DialogRunner& /*runner*/) {
    return false;
  }
  // The view of a page that draws or needs window behaviour of its own; null for a page the
  // generic window shows alone.
  virtual std::unique_ptr<PageView> MakeView(PageViewMaker& /*maker*/) { return nullptr; }
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

 private:
  int template_id_;
};

}  // namespace kelvro
