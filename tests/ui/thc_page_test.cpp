// The THC options page and the advanced THC dialog through the configuration dialog model
// with a scripted user: the radio buttons and THCtype, the enable rules, the live torch
// voltage and "Get", the torch-start warning, the advanced dialog's checks and the resend of
// ThcConfig that its OK asks for, seen at the simulated controller.
#include "ui/thc_page.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "host/host_fields.h"
#include "plugin/plugin.h"
#include "resources/resource_ids.h"
#include "sim/standin_host.h"
#include "tests/ui/page_test_fixture.h"
#include "tests/ui/ui_test_support.h"

namespace kelvro {
namespace {

using test::MapControls;
using test::ScriptedRunner;
using test::UserStep;

constexpr int kThcTab = 3;

class ThcPageTest : public test::PageTest<kThcTab> {
 protected:
  ThcPage& page() { return dialog().thc(); }
  ThcRuntime& thc() { return host.plugin().tick().thc(); }
  // The user picks a radio button: the button is checked, then its click arrives.
  void Pick(int radio) {
    controls.SetChecked(IDC_THC_EXTERNAL, radio == IDC_THC_EXTERNAL);
    controls.SetChecked(IDC_THC_INTERNAL, radio == IDC_THC_INTERNAL);
    Click(radio);
  }
};

// ---- Radio buttons, enable rule ----

TEST_F(ThcPageTest, TheRadioButtonsSetThcTypeAndTheExchangeLeavesIt) {
  settings().thc_type = 1;
  Open();
  EXPECT_FALSE(controls.controls[IDC_THC_EXTERNAL].checked);
  EXPECT_TRUE(controls.controls[IDC_THC_INTERNAL].checked);
  // A save does not read the buttons: only their clicks set THCtype.
  controls.SetChecked(IDC_THC_EXTERNAL, true);
  controls.SetChecked(IDC_THC_INTERNAL, false);
  ASSERT_TRUE(dialog().LeavePage(&controls));
  EXPECT_EQ(settings().thc_type, 1);
  Pick(IDC_THC_EXTERNAL);
  EXPECT_EQ(settings().thc_type, 0);
  Pick(IDC_THC_INTERNAL);
  EXPECT_EQ(settings().thc_type, 1);
}

// Which controls each rule enables, by hand from the page's rule.
enum class Rule { kInternal, kInternalAndArc, kAlways };
const std::map<int, Rule> kEnableRules{{IDC_THC_NOMINAL, Rule::kInternal},
                                       {IDC_THC_HYSTERESIS, Rule::kInternal},
                                       {IDC_THC_ANALOG_MV, Rule::kInternal},
                                       {IDC_THC_TORCH_V, Rule::kInternal},
                                       {IDC_THC_GET, Rule::kInternal},
                                       {IDC_THC_ARC_DETECT, Rule::kInternal},
                                       {IDC_THC_LIVE_VOLTS, Rule::kInternal},
                                       {IDC_THC_VOLTAGE_LOG, Rule::kInternal},
                                       {IDC_THC_DETECT_TIME, Rule::kInternalAndArc},
                                       {IDC_THC_DETECT_VOLTAGE, Rule::kInternalAndArc},
                                       {IDC_THC_PIERCE_DELAY, Rule::kAlways},
                                       {IDC_THC_DWELL, Rule::kAlways},
                                       {IDC_THC_ADVANCED, Rule::kAlways}};

struct EnableCase {
  int radio;
  bool arc;
};

class PageEnableTest : public ThcPageTest, public ::testing::WithParamInterface<EnableCase> {};

TEST_P(PageEnableTest, ControllerSettingsOnlyForInternalThcAndTheWindowOnlyWithDetection) {
  const EnableCase& c = GetParam();
  Open();
  Pick(c.radio);
  controls.SetChecked(IDC_THC_ARC_DETECT, c.arc);
  Click(IDC_THC_ARC_DETECT);
  const bool internal = c.radio == IDC_THC_INTERNAL;
  for (const auto& [id, rule] : kEnableRules) {
    const bool expected = rule == Rule::kAlways || (rule == Rule::kInternal && internal) ||
                          (rule == Rule::kInternalAndArc && internal && c.arc);
    EXPECT_EQ(controls.controls[id].enabled, expected) << "control " << id;
  }
}

INSTANTIATE_TEST_SUITE_P(Types, PageEnableTest,
                         ::testing::Values(EnableCase{IDC_THC_EXTERNAL, false},
                                           EnableCase{IDC_THC_EXTERNAL, true},
                                           EnableCase{IDC_THC_INTERNAL, false},
                                           EnableCase{IDC_THC_INTERNAL, true}));

// ---- Live torch voltage and "Get" ----

struct LiveCase {
  const char* name;
  int type;       // THCtype
  int analog_mv;  // THCanalogv
  uint16_t raw;
  const char* torch;  // text in 1008
  const char* input;  // text in 1007
  const char* shown;  // 1036 afterwards
  const char* got;    // 1007 after "Get"
};

// 32768 counts are 2.5 V at the input; 2.5 V x 250 V / 5.000 V = 125 V.
const LiveCase kLiveCases[] = {
    {"Calibrated", 1, 5000, 32768, "250", "5000", "125", "2500"},
    {"FullScale", 1, 5000, 65535, "250", "5000", "249", "4999"},     // 4.99992 V, 249.99 V
    {"HalfScaleInput", 1, 5000, 13107, "100", "2500", "39", "999"},  // 0.99998 V x 100 / 2.5
    {"EditReadsItsLeadingNumber", 1, 5000, 32768, "250V", " 5000x", "125", "2500"},
    {"InputEditNotANumber", 1, 5000, 32768, "250", "abc", "0", "2500"},
    {"NoCalibrationSaved", 1, 0, 32768, "250", "5000", "0", "2500"},
    {"ExternalThcIgnoresTheReading", 0, 5000, 32768, "250", "5000", "before", "0"},
};

class LiveTest : public ThcPageTest, public ::testing::WithParamInterface<LiveCase> {};

TEST_P(LiveTest, TheDisplayFollowsTheCalibrationInTheEditsAndGetTakesTheInput) {
  const LiveCase& c = GetParam();
  settings().thc_type = c.type;
  settings().thc_analog_v = c.analog_mv;
  Open();
  controls.SetText(IDC_THC_LIVE_VOLTS, "before");
  controls.SetText(IDC_THC_TORCH_V, c.torch);
  controls.SetText(IDC_THC_ANALOG_MV, c.input);
  page().ShowAnalogReading(controls, c.raw);
  EXPECT_EQ(controls.controls[IDC_THC_LIVE_VOLTS].text, c.shown);
  Click(IDC_THC_GET);
  EXPECT_EQ(controls.controls[IDC_THC_ANALOG_MV].text, c.got);
}

INSTANTIATE_TEST_SUITE_P(Readings, LiveTest, ::testing::ValuesIn(kLiveCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ThcPageTest, TheTickFeedsThePageWindowOnlyWhileItExists) {
  ASSERT_EQ(host.Reset(), 0xFFFF);
  settings().thc_type = 1;
  Open();
  controls.SetText(IDC_THC_TORCH_V, "250");
  controls.SetText(IDC_THC_ANALOG_MV, "5000");
  std::vector<uint16_t> posted;
  page().set_window_feed([&](uint16_t raw) { posted.push_back(raw); });
  host.controller().SetAnalogRaw(32768);
  host.Run(100);
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), 32768);
  page().ShowAnalogReading(controls, posted.back());
  EXPECT_EQ(controls.controls[IDC_THC_LIVE_VOLTS].text, "125");
  host.controller().SetAnalogRaw(16384);
  host.Run(100);
  EXPECT_EQ(posted.back(), 16384);
  page().set_window_feed({});  // the window is gone
  const size_t seen = posted.size();
  host.Run(100);
  EXPECT_EQ(posted.size(), seen);
}

TEST_F(ThcPageTest, GetIsSavedWithThePage) {
  settings().thc_type = 1;
  Open();
  page().ShowAnalogReading(controls, 32768);
  Click(IDC_THC_GET);
  ASSERT_TRUE(dialog().LeavePage(&controls));
  EXPECT_EQ(settings().thc_analog_v, 2500);
}

// ---- Save: ranges, order, pierce delay, voltage log ----

struct RangeCase {
  int control;
  const char* text;
  const char* message;  // null when accepted
};

class PageRangeTest : public ThcPageTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(PageRangeTest, OkRefusesAValueOutsideItsRangeWithTheFocusOnIt) {
  const RangeCase& c = GetParam();
  const int result = Run({UserStep::Type(c.control, c.text), UserStep::Ok(), UserStep::Cancel()});
  if (!c.message) {
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(boxes().empty());
    return;
  }
  EXPECT_EQ(result, 2);
  EXPECT_EQ(boxes(), std::vector<std::string>{c.message});
  EXPECT_EQ(runner.visible->focus, c.control);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, PageRangeTest,
    ::testing::Values(
        RangeCase{IDC_THC_NOMINAL, "300", nullptr},
        RangeCase{IDC_THC_NOMINAL, "301", "Please enter an integer between 1 and 300."},
        RangeCase{IDC_THC_NOMINAL, "0", "Please enter an integer between 1 and 300."},
        RangeCase{IDC_THC_HYSTERESIS, "51", "Please enter an integer between 0 and 50."},
        RangeCase{IDC_THC_TORCH_V, "401", "Please enter an integer between 1 and 400."},
        RangeCase{IDC_THC_PIERCE_DELAY, "5000", nullptr},
        RangeCase{IDC_THC_PIERCE_DELAY, "5001", "Please enter an integer between 0 and 5000."},
        RangeCase{IDC_THC_PIERCE_DELAY, "-1", "Please enter a positive integer."},
        // Checked even while disabled (external THC, no arc detection).
        RangeCase{IDC_THC_DETECT_VOLTAGE, "401", "Please enter an integer between 0 and 400."},
        RangeCase{IDC_THC_DETECT_TIME, "0", "Please enter an integer between 1 and 1000."},
        RangeCase{IDC_THC_ANALOG_MV, "499", "Please enter an integer between 500 and 5000."},
        RangeCase{IDC_THC_ANALOG_MV, "5000", nullptr}));

TEST_F(ThcPageTest, SaveStopsAtTheFirstBadFieldInTheExchangeOrder) {
  // Hysteresis comes before the torch voltage, which comes before the analog input.
  Run({UserStep::Type(IDC_THC_HYSTERESIS, "7"), UserStep::Type(IDC_THC_TORCH_V, "999"),
       UserStep::Type(IDC_THC_ANALOG_MV, "1234"), UserStep::Ok(), UserStep::Cancel()});
  EXPECT_EQ(settings().thc_hyst_voltage, 7);
  EXPECT_EQ(settings().thc_torch_v, 250);
  EXPECT_EQ(settings().thc_analog_v, 5000);
  EXPECT_EQ(runner.visible->focus, IDC_THC_TORCH_V);
}

TEST_F(ThcPageTest, PierceDelayReachesDro177AndTheVoltageLogTheRuntime) {
  EXPECT_EQ(Run({UserStep::Type(IDC_THC_PIERCE_DELAY, "750"),
                 UserStep::Check(IDC_THC_VOLTAGE_LOG, true), UserStep::Ok()}),
            0);
  EXPECT_DOUBLE_EQ(host.dros[kDroPierceDelay], 0.75);
  EXPECT_TRUE(thc().voltage_log());
  Run({UserStep::Check(IDC_THC_VOLTAGE_LOG, false), UserStep::Ok()});
  EXPECT_FALSE(thc().voltage_log());
}

// ---- Torch-start warning ----

struct WarningCase {
  const char* name;
  bool dwell;
  int radio;
  bool arc;
  int emulation;  // host arc-OK emulation
  int input;      // host arc-OK input enabled
  bool warned;
};

const WarningCase kWarningCases[] = {
    {"NoWaitNoWarning", false, IDC_THC_EXTERNAL, false, 0, 0, false},
    {"WaitWithoutAnySource", true, IDC_THC_EXTERNAL, false, 0, 0, true},
    {"WaitDetectionOffInternal", true, IDC_THC_INTERNAL, false, 0, 0, true},
    {"WaitDetectionNeedsInternal", true, IDC_THC_EXTERNAL, true, 0, 0, true},
    {"WaitWithDetection", true, IDC_THC_INTERNAL, true, 0, 0, false},
    {"WaitWithEmulation", true, IDC_THC_EXTERNAL, false, 1, 0, false},
    {"WaitWithArcOkInput", true, IDC_THC_EXTERNAL, false, 0, 1, false},
};

class WarningTest : public ThcPageTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(WarningTest, ThePageWarnsWhileTheWaitCouldNeverEnd) {
  const WarningCase& c = GetParam();
  host.planner().arc_ok_emulation = c.emulation;
  host.machine().inputs[kInputThcOn].enabled = c.input;
  Open();
  Pick(c.radio);
  controls.SetChecked(IDC_THC_ARC_DETECT, c.arc);
  controls.SetChecked(IDC_THC_DWELL, c.dwell);
  Click(IDC_THC_DWELL);
  EXPECT_EQ(controls.controls[IDC_THC_HOLD_WARNING].shown, c.warned);
  EXPECT_EQ(controls.controls[IDC_THC_HOLD_WARNING].text, c.warned ? kTorchHoldWarning : "");
  // The same judgement from the saved settings, as a run summary would ask.
  ASSERT_TRUE(dialog().LeavePage(&controls));
  EXPECT_EQ(TorchHoldWarning(settings(), host.plugin().host()).has_value(), c.warned);
}

INSTANTIATE_TEST_SUITE_P(Sources, WarningTest, ::testing::ValuesIn(kWarningCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Advanced dialog ----

class AdvancedTest : public ThcPageTest {
 protected:
  // Opens the advanced dialog from the page with these steps, then closes the configuration
  // dialog with Cancel.
  void RunAdvanced(std::vector<UserStep> steps) {
    Run({UserStep::Click(IDC_THC_ADVANCED), UserStep::Cancel()}, {std::move(steps)});
  }
  MapControls& advanced() { return *runner.modals.back(); }
};

struct LockCase {
  const char* max;
  const char* min;
  bool accepted;
};

class LockOrderTest : public AdvancedTest, public ::testing::WithParamInterface<LockCase> {};

TEST_P(LockOrderTest, VmaxBelowVminIsRefusedWithTheFocusOnVmaxAndNothingStored) {
  const LockCase& c = GetParam();
  RunAdvanced({UserStep::Check(IDC_THCADV_LOW_PASS, true),
               UserStep::Type(IDC_THCADV_LOCK_MAX, c.max),
               UserStep::Type(IDC_THCADV_LOCK_MIN, c.min), UserStep::Ok(), UserStep::Cancel()});
  if (c.accepted) {
    EXPECT_TRUE(runner.modal_failures.empty());
    EXPECT_EQ(settings().thc_lock_max, std::stoi(c.max));
    EXPECT_EQ(settings().thc_lock_min, std::stoi(c.min));
    EXPECT_EQ(settings().thc_lp, 1);
    return;
  }
  EXPECT_EQ(runner.modal_failures, std::vector<std::string>{kMessageLockOrder});
  EXPECT_EQ(advanced().focus, IDC_THCADV_LOCK_MAX);
  // The refused OK and its Cancel leave every option as it was.
  EXPECT_EQ(settings().thc_lock_max, 150);
  EXPECT_EQ(settings().thc_lock_min, 70);
  EXPECT_EQ(settings().thc_lp, 0);
}

INSTANTIATE_TEST_SUITE_P(Bands, LockOrderTest,
                         ::testing::Values(LockCase{"70", "150", false},
                                           LockCase{"100", "100", true},
                                           LockCase{"150", "70", true}, LockCase{"0", "1", false}));

TEST_F(AdvancedTest, LowPassFrequency501IsRefusedEvenWhileTheFilterIsOff) {
  settings().thc_type = 1;
  RunAdvanced({UserStep::Type(IDC_THCADV_LP_FREQ, "501"), UserStep::Ok(), UserStep::Cancel()});
  EXPECT_FALSE(advanced().controls[IDC_THCADV_LP_FREQ].enabled);
  EXPECT_EQ(runner.modal_failures,
            std::vector<std::string>{"Please enter an integer between 1 and 500."});
  EXPECT_EQ(advanced().focus, IDC_THCADV_LP_FREQ);
  EXPECT_EQ(settings().thc_lp_freq, 50);
}

struct AdvancedEnableCase {
  int type;
  bool low_pass, kerf, lock, manual;
};

class AdvancedEnableTest : public AdvancedTest,
                           public ::testing::WithParamInterface<AdvancedEnableCase> {};

TEST_P(AdvancedEnableTest, OptionsOnlyForInternalThcAndTheirValuesWithTheirBox) {
  const AdvancedEnableCase& c = GetParam();
  settings().thc_type = c.type;
  settings().thc_lp = c.low_pass;
  settings().kerf_detect = c.kerf;
  settings().thc_lock = c.lock;
  settings().manual_thc = c.manual;
  RunAdvanced({UserStep::Cancel()});
  const bool internal = c.type == 1;
  const std::map<int, bool> expected{{IDC_THCADV_LOW_PASS, internal},
                                     {IDC_THCADV_KERF, internal},
                                     {IDC_THCADV_LOCK, internal},
                                     {IDC_THCADV_LP_FREQ, internal && c.low_pass},
                                     {IDC_THCADV_KERF_VOLTAGE, internal && c.kerf},
                                     {IDC_THCADV_KERF_TIME, internal && c.kerf},
                                     {IDC_THCADV_LOCK_MAX, internal && c.lock},
                                     {IDC_THCADV_LOCK_MIN, internal && c.lock},
                                     {IDC_THCADV_MANUAL_SPEED, c.manual},
                                     {IDC_THCADV_LOCK_CMD, true},
                                     {IDC_THCADV_MANUAL, true}};
  for (const auto& [id, enabled] : expected) {
    EXPECT_EQ(advanced().controls[id].enabled, enabled) << "control " << id;
  }
}

INSTANTIATE_TEST_SUITE_P(Boxes, AdvancedEnableTest,
                         ::testing::Values(AdvancedEnableCase{0, true, true, true, false},
                                           AdvancedEnableCase{0, false, false, false, true},
                                           AdvancedEnableCase{1, true, false, true, false},
                                           AdvancedEnableCase{1, false, true, false, true}));

TEST_F(AdvancedTest, TheCutStatisticsAreShownAndResetZeroesThem) {
  // Two ignitions and 5.5 s of arc, counted by the tick.
  ASSERT_EQ(host.Reset(), 0xFFFF);
  host.machine().thc_mode = 1;
  host.machine().inputs[kInputThcOn].enabled = 1;  // a pin drives arc OK
  for (int ignition = 0; ignition < 2; ++ignition) {
    host.machine().inputs[kInputThcOn].state = 1;
    host.Run(2750);
    host.machine().inputs[kInputThcOn].state = 0;
    host.Run(100);
  }
  const int ignitions = thc().ignition_count();
  const int64_t cut_ms = thc().cut_time_ms();
  ASSERT_EQ(ignitions, 2);
  ASSERT_GE(cut_ms, 5000);
  RunAdvanced({UserStep::Cancel()});
  EXPECT_TRUE(advanced().controls[IDC_THCADV_STATS].shown);
  EXPECT_TRUE(advanced().controls[IDC_THCADV_RESET].shown);
  EXPECT_EQ(advanced().controls[IDC_THCADV_STATS].text,
            "Ignition count = 2, Cut time = " + std::to_string(cut_ms / 1000));
  RunAdvanced({UserStep::Click(IDC_THCADV_RESET), UserStep::Cancel()});
  EXPECT_EQ(advanced().controls[IDC_THCADV_STATS].text, "Ignition count = 0, Cut time = 0");
  EXPECT_EQ(thc().ignition_count(), 0);
  EXPECT_EQ(thc().cut_time_ms(), 0);
}

// ---- The resend of ThcConfig ----

class ResendTest : public AdvancedTest {
 protected:
  void SetUp() override {
    AdvancedTest::SetUp();
    host.machine().thc_mode = 1;
    ASSERT_EQ(host.Reset(), 0xFFFF);
    host.Run(200);
  }
  size_t ThcConfigsSent() {
    return host.controller().trace().Count(sim::TraceKind::kCommand, "ThcConfig");
  }
};

struct ResendCase {
  const char* name;
  std::vector<UserStep> steps;
  bool resent;
};

class ResendCaseTest : public ResendTest, public ::testing::WithParamInterface<ResendCase> {};

TEST_P(ResendCaseTest, OnlyTheAdvancedDialogsOkSendsThcConfigAgain) {
  const ResendCase& c = GetParam();
  ASSERT_GT(ThcConfigsSent(), 0u);
  const size_t before = ThcConfigsSent();
  const uint16_t lock_max_before = host.controller().last_thc()->lock_max;
  RunAdvanced(c.steps);
  EXPECT_EQ(thc().config_resend_requested(), c.resent);
  host.Run(200);
  EXPECT_EQ(ThcConfigsSent(), before + (c.resent ? 1u : 0u));
  EXPECT_FALSE(thc().config_resend_requested());
  // Vmax 180 % of the 100 V target: a later field, sent only by the resend.
  EXPECT_EQ(host.controller().last_thc()->lock_max, c.resent ? 180 : lock_max_before);
}

INSTANTIATE_TEST_SUITE_P(
    Closings, ResendCaseTest,
    ::testing::Values(
        ResendCase{"Ok", {UserStep::Type(IDC_THCADV_LOCK_MAX, "180"), UserStep::Ok()}, true},
        ResendCase{
            "Cancel", {UserStep::Type(IDC_THCADV_LOCK_MAX, "180"), UserStep::Cancel()}, false},
        ResendCase{"RefusedOkThenCancel",
                   {UserStep::Type(IDC_THCADV_LOCK_MAX, "180"),
                    UserStep::Type(IDC_THCADV_LOCK_MIN, "190"), UserStep::Ok(), UserStep::Cancel()},
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvro
