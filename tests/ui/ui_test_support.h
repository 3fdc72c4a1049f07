// Test doubles for the user interface: a dialog's controls as a map, and a runner that plays
// the user from a script (type, tick, choose, click, switch tabs, OK, Cancel).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/config_dialog.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_runner.h"

namespace kelvro::test {

class MapControls final : public DialogControls {
 public:
  struct Control {
    std::string text;
    std::vector<std::string> items;
    bool checked = false;
    int selection = -1;
    bool enabled = true;
    bool shown = true;
  };

  std::string Text(int id) override { return controls[id].text; }
  void SetText(int id, std::string_view text) override { controls[id].text = std::string(text); }
  bool Checked(int id) override { return controls[id].checked; }
  void SetChecked(int id, bool checked) override { controls[id].checked = checked; }
  void SetItems(int id, std::span<const char* const> items) override {
    controls[id].items.assign(items.begin(), items.end());
  }
  int Selection(int id) override { return controls[id].selection; }
  // As a Win32 list: an index that is no item's clears the selection.
  void SetSelection(int id, int index) override {
    Control& control = controls[id];
    const bool item = index >= 0 && static_cast<size_t>(index) < control.items.size();
    control.selection = item ? index : -1;
  }
  void Enable(int id, bool enabled) override { controls[id].enabled = enabled; }
  void Show(int id, bool shown) override { controls[id].shown = shown; }
  void Focus(int id) override { focus = id; }

  std::map<int, Control> controls;
  int focus = 0;
};

// One step of the user: acts on the visible page's controls (or the open modal dialog's).
struct UserStep {
  enum class Kind { kType, kCheck, kChoose, kClick, kTab, kOk, kCancel, kAct };
  Kind kind = Kind::kOk;
  int control = 0;  // or the tab index for kTab
  std::string text;
  bool checked = false;
  int index = 0;
  // kAct: what the user does in a window that draws itself (drags in the curve area).
  std::function<void(PageModel&)> act;

  static UserStep Make(Kind kind, int control = 0) {
    UserStep step;
    step.kind = kind;
    step.control = control;
    return step;
  }
  static UserStep Type(int control, std::string text) {
    UserStep step = Make(Kind::kType, control);
    step.text = std::move(text);
    return step;
  }
  static UserStep Check(int control, bool on) {
    UserStep step = Make(Kind::kCheck, control);
    step.checked = on;
    return step;
  }
  static UserStep Choose(int control, int index) {
    UserStep step = Make(Kind::kChoose, control);
    step.index = index;
    return step;
  }
  static UserStep Click(int control) { return Make(Kind::kClick, control); }
  static UserStep Tab(int index) { return Make(Kind::kTab, index); }
  static UserStep Ok() { return Make(Kind::kOk); }
  static UserStep Cancel() { return Make(Kind::kCancel); }
  static UserStep Act(std::function<void(PageModel&)> act) {
    UserStep step = Make(Kind::kAct);
    step.act = std::move(act);
    return step;
  }
};

class ScriptedRunner final : public DialogRunner {
 public:
  // Steps for the configuration dialog, and for each modal dialog opened from it, in order.
  std::vector<UserStep> config_steps;
  std::vector<std::vector<UserStep>> modal_steps;
  // The answers of the file dialogs, in order (nothing: cancelled).
  std::vector<std::optional<std::string>> file_answers;

  // What happened.
  int config_runs = 0;
  int modal_runs = 0;
  std::vector<FileDialogRequest> file_requests;
  std::vector<int> tabs_shown;                       // every page window opened, by tab
  std::unique_ptr<MapControls> visible;              // the page window of the last run
  std::vector<std::unique_ptr<MapControls>> modals;  // each modal dialog's controls

  DialogResult RunConfigDialog(ConfigDialogModel& dialog) override {
    ++config_runs;
    int tab = dialog.current_tab();
    visible = std::make_unique<MapControls>();
    dialog.PageOpened(tab, *visible);
    tabs_shown.push_back(tab);
    for (const UserStep& step : config_steps) {
      switch (step.kind) {
        case UserStep::Kind::kTab:
          if (step.control == tab || !dialog.LeavePage(visible.get())) break;
          tab = step.control;
          visible = std::make_unique<MapControls>();
          dialog.PageOpened(tab, *visible);
          tabs_shown.push_back(tab);
          break;
        case UserStep::Kind::kOk:
          if (dialog.LeavePage(visible.get())) return DialogResult::kOk;
          break;
        case UserStep::Kind::kCancel:
          return DialogResult::kCancel;
        case UserStep::Kind::kClick:
          dialog.Command(*visible, step.control, *this);
          break;
        default:
          Apply(step, *visible);
          break;
      }
    }
    return DialogResult::kCancel;  // the script ended without a button: closed
  }

  DialogResult RunModal(PageModel& model) override {
    const size_t run = static_cast<size_t>(modal_runs++);
    modals.push_back(std::make_unique<MapControls>());
    MapControls& controls = *modals.back();
    model.Exchange(controls, ExchangeDirection::kLoad);
    model.ApplyEnableRules(controls);
    if (run >= modal_steps.size()) return DialogResult::kCancel;
    for (const UserStep& step : modal_steps[run]) {
      if (step.kind == UserStep::Kind::kOk) {
        const ExchangeResult result = model.Exchange(controls, ExchangeDirection::kSave);
        if (result.ok) return DialogResult::kOk;
        modal_failures.push_back(result.message);
        controls.Focus(result.failed_control);
        continue;
      }
      if (step.kind == UserStep::Kind::kCancel) return DialogResult::kCancel;
      if (step.kind == UserStep::Kind::kClick) {
        model.OnCommand(controls, step.control, *this);
        continue;
      }
      if (step.kind == UserStep::Kind::kAct) {
        step.act(model);
        continue;
      }
      Apply(step, controls);
    }
    return DialogResult::kCancel;
  }

  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override {
    const size_t index = file_requests.size();
    file_requests.push_back(request);
    return index < file_answers.size() ? file_answers[index] : std::nullopt;
  }

  std::vector<std::string> modal_failures;

 private:
  static void Apply(const UserStep& step, MapControls& controls) {
    switch (step.kind) {
      case UserStep::Kind::kType:
        controls.SetText(step.control, step.text);
        break;
      case UserStep::Kind::kCheck:
        controls.SetChecked(step.control, step.checked);
        break;
      case UserStep::Kind::kChoose:
        controls.SetSelection(step.control, step.index);
        break;
      default:
        break;
    }
  }
};

}  // namespace kelvro::test
