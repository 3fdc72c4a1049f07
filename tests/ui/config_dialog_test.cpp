// The configuration dialog through the plugin's Config entry point, with a scripted user:
// the General setup page's ranges and order, tab switching, OK and Cancel, the steps around
// the dialog, the probe log options and the About page.
#include "ui/config_dialog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "device/wire.h"
#include "host/host_fields.h"
#include "plugin/plugin.h"
#include "resources/resource_ids.h"
#include "sim/standin_host.h"
#include "tests/ui/ui_test_support.h"
#include "ui/curve_editor.h"

namespace kelvro {
namespace {

using test::ScriptedRunner;
using test::UserStep;

constexpr int kGeneralTab = 0;
constexpr int kAboutTab = 5;

class ConfigDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.DescribeMill();
    host.StartUp();
    host.plugin().SetDialogRunner(&runner);
  }
  // Runs the dialog with these steps; returns Show's result.
  int Run(std::vector<UserStep> steps) {
    runner.config_steps = std::move(steps);
    host.platform().message_boxes.clear();
    return host.plugin().config_dialog().Show(&runner);
  }
  PluginSettings& settings() { return host.plugin().settings(); }
  const std::vector<std::string>& boxes() { return host.platform().message_boxes; }

  sim::HostOf<Plugin> host;
  ScriptedRunner runner;
};

// ---- General setup page: every range boundary ----

struct RangeCase {
  int control;
  const char* text;
  bool accepted;
  const char* message;  // when refused
};

class GeneralRangeTest : public ConfigDialogTest,
                         public ::testing::WithParamInterface<RangeCase> {};

TEST_P(GeneralRangeTest, OkTakesTheValueOrRefusesWithTheRangeMessage) {
  const RangeCase& c = GetParam();
  const int result = Run({UserStep::Type(c.control, c.text), UserStep::Ok(), UserStep::Cancel()});
  if (c.accepted) {
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(boxes().empty());
  } else {
    EXPECT_EQ(result, 2);  // OK refused, then Cancel
    EXPECT_EQ(boxes(), std::vector<std::string>{c.message});
    EXPECT_EQ(runner.visible->focus, c.control);
  }
}

const char kPwmRange[] = "Please enter an integer between 10 and 200000.";
const char kPortRange[] = "Please enter an integer between 1 and 6.";
const char kIndexRange[] = "Please enter an integer between 1 and 2000.";
const char kRetractRange[] = "Please enter an integer between 1 and 100.";

INSTANTIATE_TEST_SUITE_P(
    Boundaries, GeneralRangeTest,
    ::testing::Values(
        RangeCase{IDC_GENERAL_PWM_FREQ, "9", false, kPwmRange},
        RangeCase{IDC_GENERAL_PWM_FREQ, "10", true, ""},
        RangeCase{IDC_GENERAL_PWM_FREQ, "200000", true, ""},
        RangeCase{IDC_GENERAL_PWM_FREQ, "200001", false, kPwmRange},
        RangeCase{IDC_GENERAL_GATE_PORT, "0", false, kPortRange},
        RangeCase{IDC_GENERAL_GATE_PORT, "1", true, ""},
        RangeCase{IDC_GENERAL_GATE_PORT, "6", true, ""},
        RangeCase{IDC_GENERAL_GATE_PORT, "7", false, kPortRange},
        RangeCase{IDC_GENERAL_INDEX_COUNT, "0", false, kIndexRange},
        RangeCase{IDC_GENERAL_INDEX_COUNT, "1", true, ""},
        RangeCase{IDC_GENERAL_INDEX_COUNT, "2000", true, ""},
        RangeCase{IDC_GENERAL_INDEX_COUNT, "2001", false, kIndexRange},
        RangeCase{IDC_GENERAL_HOME_RETRACT, "0", false, kRetractRange},
        RangeCase{IDC_GENERAL_HOME_RETRACT, "1", true, ""},
        RangeCase{IDC_GENERAL_HOME_RETRACT, "100", true, ""},
        RangeCase{IDC_GENERAL_HOME_RETRACT, "101", false, kRetractRange},
        RangeCase{IDC_GENERAL_PWM_FREQ, "-5", false, "Please enter a positive integer."},
        RangeCase{IDC_GENERAL_PWM_FREQ, "", false, "Please enter a positive integer."}));

TEST_F(ConfigDialogTest, TheGeneralPageLoadsTheSettings) {
  settings().pwm_freq = 12345;
  settings().step_freq = 0;
  settings().hw_mpg = 1;
  Run({UserStep::Cancel()});
  test::MapControls& page = *runner.visible;
  EXPECT_EQ(page.Text(IDC_GENERAL_PWM_FREQ), "12345");
  EXPECT_EQ(page.Text(IDC_GENERAL_INDEX_COUNT), "1");
  EXPECT_EQ(page.Text(IDC_GENERAL_HOME_RETRACT), "10");
  EXPECT_EQ(page.Selection(IDC_GENERAL_STEP_FREQ), 0);
  EXPECT_EQ(page.controls[IDC_GENERAL_STEP_FREQ].items,
            (std::vector<std::string>{"125 KHz", "250 KHz"}));
  EXPECT_TRUE(page.Checked(IDC_GENERAL_HW_MPG));
  EXPECT_FALSE(page.Checked(IDC_GENERAL_GRAY_LEVEL));
}

TEST_F(ConfigDialogTest, TheFirstBadFieldInExchangeOrderIsReported) {
  // Index pulses come first in the page's order, the PWM frequency fourth.
  Run({UserStep::Type(IDC_GENERAL_PWM_FREQ, "5"), UserStep::Type(IDC_GENERAL_INDEX_COUNT, "0"),
       UserStep::Check(IDC_GENERAL_LASER_SYNC, true), UserStep::Ok(), UserStep::Cancel()});
  EXPECT_EQ(boxes(), std::vector<std::string>{kIndexRange});
  EXPECT_EQ(runner.visible->focus, IDC_GENERAL_INDEX_COUNT);
  EXPECT_EQ(settings().laser_sync, 0);  // after the bad field: not read
  // Fixed, the next bad one is the PWM frequency; the fields before it are already taken.
  Run({UserStep::Type(IDC_GENERAL_PWM_FREQ, "5"), UserStep::Check(IDC_GENERAL_LASER_SYNC, true),
       UserStep::Ok(), UserStep::Cancel()});
  EXPECT_EQ(boxes(), std::vector<std::string>{kPwmRange});
  EXPECT_EQ(settings().laser_sync, 1);
  EXPECT_EQ(settings().pwm_freq, 10000);
}

TEST_F(ConfigDialogTest, OkTakesEveryFieldOfThePage) {
  const int result = Run(
      {UserStep::Type(IDC_GENERAL_PWM_FREQ, " 20000 "), UserStep::Type(IDC_GENERAL_GATE_PORT, "3"),
       UserStep::Type(IDC_GENERAL_HOME_RETRACT, "55"), UserStep::Type(IDC_GENERAL_INDEX_COUNT, "4"),
       UserStep::Check(IDC_GENERAL_LASER_COMP, true),
       UserStep::Check(IDC_GENERAL_MPG_FEED_LIMIT, true),
       UserStep::Check(IDC_GENERAL_DEREFERENCE, true),
       UserStep::Check(IDC_GENERAL_PROBE_AS_LIMIT, true),
       UserStep::Choose(IDC_GENERAL_STEP_FREQ, 0), UserStep::Ok()});
  EXPECT_EQ(result, 0);
  EXPECT_EQ(settings().pwm_freq, 20000);
  EXPECT_EQ(settings().laser_sync_port, 3);
  EXPECT_EQ(settings().home_retract, 55);
  EXPECT_EQ(settings().index_cnt, 4);
  EXPECT_EQ(settings().laser_comp, 1);
  EXPECT_EQ(settings().mpg_feed_limit, 1);
  EXPECT_EQ(settings().deref_on_disc, 1);
  EXPECT_EQ(settings().probe_as_limit, 1);
  EXPECT_EQ(settings().step_freq, 0);
  // The step rate is taken over only at the next load: the running flag is unchanged.
  EXPECT_EQ(settings().step_rate_125khz, 0);
}

// A StepFreq from the profile that the list does not offer shows as no selection; a tab
// switch and OK keep it (it does not fall to 0, the 125 kHz rate); a picked item replaces it.
struct StepFreqCase {
  int stored;
  int picked;  // -1: the user leaves the list alone
  int saved;
};

class StepFreqTest : public ConfigDialogTest, public ::testing::WithParamInterface<StepFreqCase> {};

TEST_P(StepFreqTest, AValueTheListDoesNotOfferIsKeptUntilTheUserPicksAnItem) {
  const StepFreqCase& c = GetParam();
  settings().step_freq = c.stored;
  std::vector<UserStep> steps;
  if (c.picked >= 0) steps.push_back(UserStep::Choose(IDC_GENERAL_STEP_FREQ, c.picked));
  steps.push_back(UserStep::Tab(kAboutTab));
  steps.push_back(UserStep::Tab(kGeneralTab));
  steps.push_back(UserStep::Ok());
  EXPECT_EQ(Run(steps), 0);
  const bool offered = c.stored == 0 || c.stored == 1;
  const int shown = c.picked >= 0 ? c.picked : (offered ? c.stored : -1);
  EXPECT_EQ(runner.visible->Selection(IDC_GENERAL_STEP_FREQ), shown);
  EXPECT_EQ(settings().step_freq, c.saved);
}

INSTANTIATE_TEST_SUITE_P(Values, StepFreqTest,
                         ::testing::Values(StepFreqCase{2, -1, 2}, StepFreqCase{-1, -1, -1},
                                           StepFreqCase{250, -1, 250}, StepFreqCase{1, -1, 1},
                                           StepFreqCase{0, -1, 0}, StepFreqCase{2, 1, 1},
                                           StepFreqCase{7, 0, 0}));

// ---- The frame ----

TEST_F(ConfigDialogTest, ABadValueRefusesTheTabSwitchAndKeepsThePage) {
  Run({UserStep::Type(IDC_GENERAL_PWM_FREQ, "-5"), UserStep::Tab(kAboutTab), UserStep::Cancel()});
  EXPECT_EQ(boxes(), std::vector<std::string>{"Please enter a positive integer."});
  EXPECT_EQ(runner.tabs_shown, std::vector<int>{kGeneralTab});
  EXPECT_EQ(host.plugin().config_dialog().current_tab(), kGeneralTab);
  EXPECT_EQ(runner.visible->focus, IDC_GENERAL_PWM_FREQ);
}

TEST_F(ConfigDialogTest, CancelKeepsWhatAnEarlierTabSwitchSavedButNotTheVisiblePage) {
  Run({UserStep::Type(IDC_GENERAL_PWM_FREQ, "777"), UserStep::Tab(1), UserStep::Tab(kGeneralTab),
       UserStep::Type(IDC_GENERAL_HOME_RETRACT, "33"), UserStep::Cancel()});
  EXPECT_EQ(settings().pwm_freq, 777);
  EXPECT_EQ(settings().home_retract, 10);
  EXPECT_EQ(host.machine().estop, 0);  // cancelled: no E-stop
}

TEST_F(ConfigDialogTest, ReopensOnTheTabShownLast) {
  Run({UserStep::Tab(3), UserStep::Tab(kAboutTab), UserStep::Cancel()});
  EXPECT_EQ(host.plugin().config_dialog().current_tab(), kAboutTab);
  runner.tabs_shown.clear();
  Run({UserStep::Cancel()});
  EXPECT_EQ(runner.tabs_shown, std::vector<int>{kAboutTab});
}

TEST_F(ConfigDialogTest, TabsInOrder) {
  const ConfigDialogModel& dialog = host.plugin().config_dialog();
  const std::vector<std::string> expected{"General setup", "Input filter", "Analog input && Enc",
                                          "THC options",   "Z correction", "About"};
  ASSERT_EQ(dialog.tab_count(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(dialog.tab_text(i), expected[static_cast<size_t>(i)]);
}

TEST_F(ConfigDialogTest, OkForcesTheEstopEvenWhenNothingChanged) {
  EXPECT_EQ(Run({UserStep::Ok()}), 0);
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_EQ(host.machine().stop_code, 8);
}

TEST_F(ConfigDialogTest, GrayLevelWarningOnceAndStillOk) {
  host.params().values[kParamWorkOffsetX + kAxisA] = 0.5;
  EXPECT_EQ(Run({UserStep::Check(IDC_GENERAL_GRAY_LEVEL, true), UserStep::Ok()}), 0);
  EXPECT_EQ(boxes(), std::vector<std::string>{
                         "WARNING: gray level laser engraving option is selected but current "
                         "working offset for A axis is not zero."});
  EXPECT_EQ(host.machine().estop, 1);
  // Without an A offset, no warning.
  host.params().values[kParamWorkOffsetX + kAxisA] = 0.0;
  Run({UserStep::Ok()});
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ConfigDialogTest, PierceDelayAndNominalVoltageAreHandedBackAfterOk) {
  host.dros[kDroPierceDelay] = 1.2345;
  host.dros[kDroTargetVolts] = 131.7;
  host.Run(100);  // the tick follows DRO 1501
  Run({UserStep::Ok()});
  EXPECT_EQ(host.plugin().config_dialog().pierce_delay_ms(), 1234);
  EXPECT_EQ(settings().thc_nom_voltage, 131);
  EXPECT_DOUBLE_EQ(host.dros[kDroPierceDelay], 1.234);
  EXPECT_EQ(host.dros[kDroTargetVolts], 131.0);
  EXPECT_EQ(host.plugin().tick().thc().target_voltage(), 131.0);
}

TEST_F(ConfigDialogTest, WorkOffsetsAreTakenWhenTheDialogOpens) {
  host.dros[kDroWorkOffsetX] = 1.5;
  host.dros[kDroWorkOffsetY] = -2.5;
  host.dros[kDroWorkOffsetZ] = 3.25;
  Run({UserStep::Cancel()});
  EXPECT_EQ(host.plugin().config_dialog().work_offsets_at_open(),
            (std::array<double, 3>{1.5, -2.5, 3.25}));
}

TEST_F(ConfigDialogTest, TheMenuCommandAndConfigOpenTheDialog) {
  runner.config_steps = {UserStep::Cancel()};
  host.plugin().Config();
  host.plugin().Notify(host.plugin().menu_base());
  EXPECT_EQ(runner.config_runs, 2);
}

TEST_F(ConfigDialogTest, AnAcceptedValueReachesTheControllerAtTheNextReset) {
  ASSERT_EQ(host.Reset(), 0xFFFF);
  Run({UserStep::Type(IDC_GENERAL_HOME_RETRACT, "42"),
       UserStep::Type(IDC_GENERAL_PWM_FREQ, "31000"), UserStep::Ok()});
  EXPECT_EQ(host.machine().estop, 1);
  host.machine().estop = 0;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  const auto& config = host.controller().motion_config();
  ASSERT_TRUE(config.has_value());
  EXPECT_EQ(config->raw[256], 42);                    // home retract
  EXPECT_EQ(GetI32(config->raw.data(), 240), 31000);  // PWM frequency
}

TEST_F(ConfigDialogTest, OkReloadsTheZCorrectionMapWhenCorrectionIsEnabled) {
  const std::string path = ::testing::TempDir() + "kelvro_config_dialog_map.txt";
  {
    std::ofstream out(path);
    out << "0,0,0\n10,0,0.1\n0,10,0.2\n10,10,0.3\n";
  }
  settings().z_file_name = path;
  // Not enabled: nothing is loaded.
  EXPECT_EQ(Run({UserStep::Ok()}), 0);
  EXPECT_FALSE(host.plugin().zcorrection().map().IsZCorrectionLoaded());
  host.plugin().zcorrection().set_enabled(true);
  EXPECT_EQ(Run({UserStep::Ok()}), 1);
  EXPECT_TRUE(host.plugin().zcorrection().map().IsZCorrectionLoaded());
  std::remove(path.c_str());
  EXPECT_EQ(Run({UserStep::Ok()}), 0);
  EXPECT_EQ(boxes(), std::vector<std::string>{"Error loading Z correction file!"});
  EXPECT_FALSE(host.plugin().zcorrection().map().IsZCorrectionLoaded());
}

// ---- The curve editor and the probe log options from the General page ----

TEST_F(ConfigDialogTest, CurveEditorChangesTheCurveOnlyOnOk) {
  // The user drags the middle point down to (50, 20) and types a nominal feed of 2500.
  const UserStep drag = UserStep::Act([](PageModel& model) {
    CurveArea& area = dynamic_cast<CurveEditorDialog&>(model).area();
    area.SetSize(200, 200);
    ASSERT_TRUE(area.LeftDown(100, 100).capture);  // on the diagonal: a point at 50 %
    area.Move(100, 160);
    area.LeftUp();
  });
  const std::vector<UserStep> edit = {drag, UserStep::Type(IDC_CURVE_FEED, "2500")};
  std::vector<UserStep> cancelled = edit;
  cancelled.push_back(UserStep::Cancel());
  std::vector<UserStep> confirmed = edit;
  confirmed.push_back(UserStep::Ok());
  runner.modal_steps = {cancelled, confirmed};
  Run({UserStep::Click(IDC_GENERAL_CURVE_EDIT), UserStep::Cancel()});
  ASSERT_EQ(runner.modal_runs, 1);
  EXPECT_EQ(settings().laser_curve.count, 2);
  EXPECT_EQ(settings().l_max_feed, 1000.0);
  // Confirmed in the editor, kept even though the configuration dialog is cancelled. (The
  // second opening starts from the page's curve again: its press on the diagonal would
  // otherwise miss the cancelled point, and the drag's check would fail.)
  Run({UserStep::Click(IDC_GENERAL_CURVE_EDIT), UserStep::Cancel()});
  ASSERT_EQ(settings().laser_curve.count, 3);
  EXPECT_EQ(settings().laser_curve.x[1], 50.0);
  EXPECT_EQ(settings().laser_curve.y[1], 20.0);
  EXPECT_EQ(settings().l_max_feed, 2500.0);
}

TEST_F(ConfigDialogTest, CurveEditorRefusesANominalFeedBeyondWhatTheAxesCanRun) {
  // The mill's axes run at most 50 units per second: 3000 units per minute.
  runner.modal_steps = {{UserStep::Type(IDC_CURVE_FEED, "3000.5"), UserStep::Ok(),
                         UserStep::Type(IDC_CURVE_FEED, "0.5"), UserStep::Ok(),
                         UserStep::Type(IDC_CURVE_FEED, "fast"), UserStep::Ok(),
                         UserStep::Type(IDC_CURVE_FEED, "3000"), UserStep::Ok()}};
  Run({UserStep::Click(IDC_GENERAL_CURVE_EDIT), UserStep::Cancel()});
  EXPECT_EQ(runner.modal_failures,
            (std::vector<std::string>{"Please enter a number between 1 and 3000.",
                                      "Please enter a number between 1 and 3000.",
                                      "Please enter a number."}));
  EXPECT_EQ(runner.modals[0]->focus, IDC_CURVE_FEED);
  EXPECT_EQ(settings().l_max_feed, 3000.0);
}

TEST_F(ConfigDialogTest, ProbeLogOptionsReachTheProbeLogAtOnce) {
  runner.modal_steps = {{UserStep::Check(IDC_PROBE_LOG_ENABLE, true),
                         UserStep::Check(IDC_PROBE_LOG_COMPENSATION, true),
                         UserStep::Type(IDC_PROBE_LOG_TIP_D, "1000.0001"), UserStep::Ok(),
                         UserStep::Type(IDC_PROBE_LOG_TIP_D, "1000"),
                         UserStep::Type(IDC_PROBE_LOG_TIP_C1, "0.1"),
                         UserStep::Choose(IDC_PROBE_LOG_SEPARATOR, 3), UserStep::Ok()}};
  Run({UserStep::Click(IDC_GENERAL_PROBE_LOG), UserStep::Cancel()});
  EXPECT_EQ(runner.modal_failures,
            std::vector<std::string>{"Please enter a number between 0 and 1000."});
  const ProbeLogOptions& log = host.plugin().tick().probing().log_options();
  EXPECT_TRUE(log.log_enabled);
  EXPECT_TRUE(log.compensation);
  EXPECT_EQ(log.d, 1000.0);
  EXPECT_EQ(log.c1, 0.1);
  EXPECT_EQ(log.c2, 0.05);
  EXPECT_EQ(log.separator, "\t");  // without the item's trailing space
}

TEST_F(ConfigDialogTest, ProbeLogOptionsCancelledOrRefusedStoreNothing) {
  runner.modal_steps = {
      {UserStep::Check(IDC_PROBE_LOG_ENABLE, true), UserStep::Type(IDC_PROBE_LOG_TIP_C2, "x"),
       UserStep::Ok(), UserStep::Cancel()},
      {UserStep::Check(IDC_PROBE_LOG_ENABLE, true), UserStep::Cancel()}};
  Run({UserStep::Click(IDC_GENERAL_PROBE_LOG), UserStep::Click(IDC_GENERAL_PROBE_LOG),
       UserStep::Cancel()});
  EXPECT_EQ(runner.modal_failures, std::vector<std::string>{"Please enter a number."});
  EXPECT_FALSE(host.plugin().tick().probing().log_options().log_enabled);
  // The dialog opens with the options as they are.
  ASSERT_EQ(runner.modals.size(), 2u);
  EXPECT_EQ(runner.modals[1]->Text(IDC_PROBE_LOG_TIP_D), "2");
  EXPECT_EQ(runner.modals[1]->Selection(IDC_PROBE_LOG_SEPARATOR), 0);
  EXPECT_EQ(runner.modals[1]->controls[IDC_PROBE_LOG_SEPARATOR].items,
            (std::vector<std::string>{"comma", "space", "semicolon", "TAB "}));
}

// ---- About ----

TEST_F(ConfigDialogTest, AboutShowsTheVersionsAndTheLinks) {
  Run({UserStep::Tab(kAboutTab), UserStep::Cancel()});
  test::MapControls& page = *runner.visible;
  EXPECT_EQ(page.Text(IDC_ABOUT_PLUGIN), "KELVRO Mach3 plugin: v01.18");
  EXPECT_EQ(page.Text(IDC_ABOUT_FIRMWARE), "Firmware: unknown (controller is offline)");
  EXPECT_FALSE(page.controls[IDC_ABOUT_SPARE_LINK].shown);
  // The tests build with the repository's test image, and the page says so.
  EXPECT_EQ(page.Text(IDC_ABOUT_IMAGE), "Update image: TEST IMAGE, not controller firmware");
  EXPECT_EQ(AboutPage::LinkTarget(IDC_ABOUT_MAIL), "mailto:" + page.Text(IDC_ABOUT_MAIL));
  EXPECT_EQ(AboutPage::LinkTarget(IDC_ABOUT_WEB), page.Text(IDC_ABOUT_WEB));
  ASSERT_EQ(host.Reset(), 0xFFFF);
  Run({UserStep::Cancel()});
  EXPECT_EQ(runner.visible->Text(IDC_ABOUT_FIRMWARE), "Firmware: v01.22");
}

}  // namespace
}  // namespace kelvro
