// A plugin on the stand-in mill with its configuration dialog on one tab, for the page tests:
// the whole dialog run with scripted user steps, or the page opened directly and driven
// between them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "plugin/plugin.h"
#include "sim/standin_host.h"
#include "tests/ui/ui_test_support.h"

namespace kelvro::test {

template <int kTab>
class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.DescribeMill();
    host.StartUp();
    host.plugin().SetDialogRunner(&runner);
  }
  ConfigDialogModel& dialog() { return host.plugin().config_dialog(); }
  PluginSettings& settings() { return host.plugin().settings(); }
  const std::vector<std::string>& boxes() { return host.platform().message_boxes; }

  // The whole dialog on the page's tab with these steps (and those of the modal dialogs it
  // opens); returns Show's result.
  int Run(std::vector<UserStep> steps, std::vector<std::vector<UserStep>> modal = {}) {
    steps.insert(steps.begin(), UserStep::Tab(kTab));
    runner.config_steps = std::move(steps);
    runner.modal_steps = std::move(modal);
    runner.modal_runs = 0;  // the steps are for this run's dialogs
    host.platform().message_boxes.clear();
    return dialog().Show(&runner);
  }
  // The page's window opened directly, for looking at it between the user's steps.
  void Open() {
    dialog().PageOpened(kTab, controls);
    host.platform().message_boxes.clear();
  }
  void Click(int id) { dialog().Command(controls, id, runner); }
  // The user picks an item of a drop-down list: the selection changes, then its notice arrives.
  void Choose(int list, int index) {
    controls.SetSelection(list, index);
    Click(list);
  }
  const MapControls::Control& Of(int id) { return controls.controls[id]; }

  sim::HostOf<Plugin> host;
  ScriptedRunner runner;
  MapControls controls;
};

}  // namespace kelvro::test
