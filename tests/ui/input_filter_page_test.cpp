// The Input filter page in the configuration dialog: its six function times with their ranges
// and exchange order, the per-pin switch, per-pin edits in the list that stand after Cancel,
// the descriptions from the host's wiring, and a per-pin time set in the list reaching the
// simulated controller's I/O map at the next Reset.
#include "ui/input_filter_page.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/wire.h"
#include "plugin/plugin.h"
#include "resources/resource_ids.h"
#include "sim/standin_host.h"
#include "tests/ui/ui_test_support.h"

namespace kelvro {
namespace {

using test::MapControls;
using test::ScriptedRunner;
using test::UserStep;

constexpr int kInputFilterTab = 1;
constexpr char kTimeRange[] = "Please enter an integer between 0 and 10000.";

// Opens the dialog on the Input filter page and plays `user` on its controls and list; the
// dialog ends with what `user` returns (OK only when the page saves).
class ListRunner final : public DialogRunner {
 public:
  std::function<DialogResult(ConfigDialogModel&, MapControls&, PinList&)> user;
  MapControls controls;

  DialogResult RunConfigDialog(ConfigDialogModel& dialog) override {
    dialog.PageOpened(kInputFilterTab, controls);
    const DialogResult result = user(dialog, controls, dialog.input_filter().pins());
    if (result == DialogResult::kOk && !dialog.LeavePage(&controls)) return DialogResult::kCancel;
    return result;
  }
  DialogResult RunModal(PageModel&) override { return DialogResult::kCancel; }
};

class InputFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.DescribeMill();  // the probe on pin 5
    host.StartUp();
  }
  int Run(std::vector<UserStep> steps) {
    runner.config_steps = {UserStep::Tab(kInputFilterTab)};
    runner.config_steps.insert(runner.config_steps.end(), steps.begin(), steps.end());
    host.platform().message_boxes.clear();
    runner.tabs_shown.clear();
    return host.plugin().config_dialog().Show(&runner);
  }
  int RunList(std::function<DialogResult(ConfigDialogModel&, MapControls&, PinList&)> user) {
    list_runner.user = std::move(user);
    host.platform().message_boxes.clear();
    return host.plugin().config_dialog().Show(&list_runner);
  }
  PluginSettings& settings() { return host.plugin().settings(); }
  const std::vector<std::string>& boxes() { return host.platform().message_boxes; }

  sim::HostOf<Plugin> host;
  ScriptedRunner runner;
  ListRunner list_runner;
};

// ---- The function times ----

struct TimeCase {
  int control;
  int PluginSettings::*field;
};

const TimeCase kTimes[] = {
    {IDC_FILTER_ENCODER, &PluginSettings::enc_debounce},
    {IDC_FILTER_HOME, &PluginSettings::home_debounce},
    {IDC_FILTER_INDEX, &PluginSettings::index_debounce},
    {IDC_FILTER_LIMIT, &PluginSettings::limit_debounce},
    {IDC_FILTER_OTHER, &PluginSettings::other_debounce},
    {IDC_FILTER_PROBE, &PluginSettings::probe_debounce},
};

class FunctionTimeTest : public InputFilterTest, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(FunctionTimeTest, ZeroAndTenThousandAreTakenAndTenThousandOneIsRefused) {
  const TimeCase& c = GetParam();
  for (const char* text : {"0", "10000"}) {
    EXPECT_EQ(Run({UserStep::Type(c.control, text), UserStep::Ok()}), 0) << text;
    EXPECT_TRUE(boxes().empty()) << text;
    EXPECT_EQ(settings().*c.field, std::stoi(text));
  }
  EXPECT_EQ(Run({UserStep::Type(c.control, "10001"), UserStep::Ok(), UserStep::Cancel()}), 2);
  EXPECT_EQ(boxes(), std::vector<std::string>{kTimeRange});
  EXPECT_EQ(runner.visible->focus, c.control);
  EXPECT_EQ(settings().*c.field, 10000) << "the refused value is not stored";
  // Leaving the tab is refused the same way.
  Run({UserStep::Type(c.control, "10001"), UserStep::Tab(0), UserStep::Cancel()});
  EXPECT_EQ(boxes(), std::vector<std::string>{kTimeRange});
  EXPECT_EQ(runner.tabs_shown, std::vector<int>{kInputFilterTab}) << "the page stays";
  EXPECT_EQ(Run({UserStep::Type(c.control, "x"), UserStep::Ok(), UserStep::Cancel()}), 2);
  EXPECT_EQ(boxes(), std::vector<std::string>{"Please enter a positive integer."});
}

INSTANTIATE_TEST_SUITE_P(EachTime, FunctionTimeTest, ::testing::ValuesIn(kTimes));

TEST_F(InputFilterTest, TheTimesAreCheckedInTheirExchangeOrder) {
  // Every time is bad: the refusals come one by one in the page's order, and each fixed field
  // is taken before the next one is refused.
  std::vector<UserStep> bad;
  for (const TimeCase& c : kTimes) bad.push_back(UserStep::Type(c.control, "10001"));
  std::vector<int> refused;
  for (const TimeCase& c : kTimes) {
    std::vector<UserStep> steps = bad;
    for (int done : refused) steps.push_back(UserStep::Type(done, "17"));
    steps.push_back(UserStep::Check(IDC_FILTER_BY_PIN, true));
    steps.push_back(UserStep::Ok());
    steps.push_back(UserStep::Cancel());
    Run(steps);
    EXPECT_EQ(runner.visible->focus, c.control);
    EXPECT_EQ(settings().debounce_by_pin, 0) << "read after the times";
    refused.push_back(c.control);
  }
  std::vector<UserStep> fixed;
  for (const TimeCase& c : kTimes) fixed.push_back(UserStep::Type(c.control, "17"));
  fixed.push_back(UserStep::Check(IDC_FILTER_BY_PIN, true));
  fixed.push_back(UserStep::Ok());
  EXPECT_EQ(Run(fixed), 0);
  for (const TimeCase& c : kTimes) EXPECT_EQ(settings().*c.field, 17);
  EXPECT_EQ(settings().debounce_by_pin, 1);
}

TEST_F(InputFilterTest, ThePageLoadsTheTimesAndTheSwitch) {
  settings().debounce_by_pin = 1;
  settings().index_debounce = 4321;
  Run({UserStep::Cancel()});
  MapControls& page = *runner.visible;
  EXPECT_EQ(page.Text(IDC_FILTER_LIMIT), "30");
  EXPECT_EQ(page.Text(IDC_FILTER_HOME), "30");
  EXPECT_EQ(page.Text(IDC_FILTER_PROBE), "30");
  EXPECT_EQ(page.Text(IDC_FILTER_INDEX), "4321");
  EXPECT_EQ(page.Text(IDC_FILTER_ENCODER), "0");
  EXPECT_EQ(page.Text(IDC_FILTER_OTHER), "30");
  EXPECT_TRUE(page.Checked(IDC_FILTER_BY_PIN));
}

// ---- The list ----

TEST_F(InputFilterTest, PerPinEditsStandAfterCancel) {
  const int result = RunList([](ConfigDialogModel&, MapControls& controls, PinList& pins) {
    controls.SetText(IDC_FILTER_LIMIT, "77");  // a function time: not kept on Cancel
    pins.Select(3);
    pins.KeyDown(kKeySpace);
    pins.KeyDown(kKeyRight);
    pins.KeyDown('4');
    pins.SetEditorText("425");
    pins.EditorKey(kKeyReturn);
    return DialogResult::kCancel;
  });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(settings().deb_pin_ena[3], 1);
  EXPECT_EQ(settings().deb_pin_time[3], 425);
  EXPECT_EQ(settings().limit_debounce, 30);
}

TEST_F(InputFilterTest, OpeningThePageDescribesThePinsFromTheHostsWiring) {
  HostMachineState& machine = host.machine();
  machine.inputs[2] = {1, 3, 1, 0, {}, 0, 0};  // HomeX on pin 3
  machine.inputs[0] = {1, 3, 1, 0, {}, 0, 0};  // LimitX+ on pin 3
  machine.encoders[1] = {1, 5, 1, 6, 1, {}, 0};
  std::vector<std::string> texts;
  RunList([&](ConfigDialogModel&, MapControls&, PinList& pins) {
    for (int row = 0; row < kPinRowCount; ++row) texts.push_back(pins.description(row).text);
    return DialogResult::kCancel;
  });
  EXPECT_EQ(texts,
            (std::vector<std::string>{"unused", "unused", "LimitX+, HomeX", "unused",
                                      "Probe, Encoder/MPG", "Encoder/MPG", "unused", "unused",
                                      "unused", "unused", "unused", "unused", "unused", "unused"}));
  // Rewired in the host: the next opening shows the new wiring.
  machine.inputs[0].enabled = 0;
  RunList([&](ConfigDialogModel&, MapControls&, PinList& pins) {
    EXPECT_EQ(pins.description(2).text, "HomeX");
    return DialogResult::kCancel;
  });
}

// ---- Through Reset to the controller ----

TEST_F(InputFilterTest, APerPinTimeSetInTheListReachesTheControllerAtTheNextReset) {
  ASSERT_EQ(host.Reset(), 0xFFFF);
  // Pin 7 is set to its own time; the probe (pin 5) keeps the probe time.
  const int result = RunList([](ConfigDialogModel&, MapControls& controls, PinList& pins) {
    controls.SetChecked(IDC_FILTER_BY_PIN, true);
    pins.SetViewport(20, 0, 0);
    pins.LayOut(400, 17);
    pins.Click(80, 20 + 6 * 20 + 10);   // row 6's Enable cell
    pins.Click(200, 20 + 6 * 20 + 10);  // its time cell
    pins.SetEditorText("1234");
    pins.EditorKey(kKeyReturn);
    return DialogResult::kOk;
  });
  ASSERT_EQ(result, 0);
  EXPECT_EQ(settings().deb_pin_ena[6], 1);
  EXPECT_EQ(settings().deb_pin_time[6], 1234);
  host.machine().estop = 0;
  ASSERT_EQ(host.Reset(), 0xFFFF);
  const auto io = host.controller().trace().Find(sim::TraceKind::kCommand, "LoadIoConfig");
  ASSERT_EQ(io.size(), 2u);
  const std::vector<uint8_t>& before = io[0]->payload;
  const std::vector<uint8_t>& after = io[1]->payload;
  ASSERT_EQ(after.size(), 112u);
  // The debounce table: 16 little-endian words from byte 80, pin n at 80 + 2 (n - 1).
  EXPECT_EQ(GetU16(before.data(), 80 + 2 * 6), 30) << "OtherDebounce before";
  EXPECT_EQ(after[80 + 2 * 6], 1234 & 0xFF);
  EXPECT_EQ(after[80 + 2 * 6 + 1], 1234 >> 8);
  EXPECT_EQ(GetU16(after.data(), 80 + 2 * 4), 30) << "the probe pin keeps ProbeDebounce";
  EXPECT_EQ(GetU16(after.data(), 80 + 2 * 7), 30);
  for (size_t i = 0; i < after.size(); ++i) {
    if (i == 80 + 2 * 6 || i == 80 + 2 * 6 + 1) continue;
    EXPECT_EQ(after[i], before[i]) << "byte " << i;
  }
}

}  // namespace
}  // namespace kelvro
