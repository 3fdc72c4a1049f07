// The Analog input & encoder page through the configuration dialog model with a scripted
// user: the source list and its working copy, the special-function list with the THC item
// for the encoders only, the enable rules, the ID and zero-threshold checks on a source
// switch and on OK, the duplicate encoder mapping, the detent values, and a mapping set on
// the page driving the host through the service tick after the next Reset.
#include "ui/analog_page.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "device/controller_config.h"
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

constexpr int kAnalogTab = 2;
constexpr char kIdMessage[] = "Please enter positive integer less or equal to 14999!";
constexpr char kThresholdMessage[] = "Please enter positive integer less or equal to 1000!";

class AnalogPageTest : public test::PageTest<kAnalogTab> {
 protected:
  MapControls& page() { return *runner.visible; }
};

const std::vector<std::string> kFiveFunctions{"None", "FRO (0-250%)", "SRO (0-250%)",
                                              "Set User Variable", "Set User DRO"};

// ---- The two edits' checks, on a source switch and on OK ----

struct CheckCase {
  int edit;
  const char* text;
  int stored;           // the entry's value when accepted
  const char* message;  // null when accepted
};

class EditCheckTest : public AnalogPageTest, public ::testing::WithParamInterface<CheckCase> {
 protected:
  int Stored(int source) {
    const InputMapping& m = settings().mappings[static_cast<size_t>(source)];
    return GetParam().edit == IDC_ANALOG_VAR_ID ? m.var_id : m.z_thresh;
  }
};

TEST_P(EditCheckTest, ASourceSwitchTakesTheValueOrStaysOnTheSourceWithTheFocusOnTheEdit) {
  const CheckCase& c = GetParam();
  const int before = Stored(0);
  Run({UserStep::Type(c.edit, c.text), UserStep::Choose(IDC_ANALOG_SOURCES, 2),
       UserStep::Click(IDC_ANALOG_SOURCES), UserStep::Cancel()});
  if (!c.message) {
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(Stored(0), c.stored);
    EXPECT_EQ(dialog().analog().current_source(), 2);
    EXPECT_EQ(page().controls[IDC_ANALOG_SOURCES].selection, 2);
    return;
  }
  EXPECT_EQ(boxes(), std::vector<std::string>{c.message});
  EXPECT_EQ(page().focus, c.edit);
  EXPECT_EQ(dialog().analog().current_source(), 0);
  EXPECT_EQ(page().controls[IDC_ANALOG_SOURCES].selection, 0) << "the first line again";
  EXPECT_EQ(page().controls[c.edit].text, c.text) << "the text stays for correcting";
  EXPECT_EQ(Stored(0), before);
}

TEST_P(EditCheckTest, OkTakesTheValueOrStaysOpenWithTheFocusOnTheEdit) {
  const CheckCase& c = GetParam();
  const int before = Stored(0);
  const int result = Run({UserStep::Type(c.edit, c.text), UserStep::Ok(), UserStep::Cancel()});
  if (!c.message) {
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(Stored(0), c.stored);
    return;
  }
  EXPECT_EQ(result, 2);  // OK refused, then Cancel
  EXPECT_EQ(boxes(), std::vector<std::string>{c.message});
  EXPECT_EQ(page().focus, c.edit);
  EXPECT_EQ(Stored(0), before);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, EditCheckTest,
    ::testing::Values(CheckCase{IDC_ANALOG_VAR_ID, "14999", 14999, nullptr},
                      CheckCase{IDC_ANALOG_VAR_ID, "15000", 0, kIdMessage},
                      CheckCase{IDC_ANALOG_VAR_ID, "0", 0, nullptr},
                      CheckCase{IDC_ANALOG_VAR_ID, "-1", 0, kIdMessage},
                      CheckCase{IDC_ANALOG_VAR_ID, "99999999999", 0, kIdMessage},
                      CheckCase{IDC_ANALOG_VAR_ID, " 12ab", 12, nullptr},
                      CheckCase{IDC_ANALOG_VAR_ID, "abc", 0, nullptr},  // reads as 0
                      CheckCase{IDC_ANALOG_ZERO_THRESHOLD, "1000", 1000, nullptr},
                      CheckCase{IDC_ANALOG_ZERO_THRESHOLD, "1001", 0, kThresholdMessage},
                      CheckCase{IDC_ANALOG_ZERO_THRESHOLD, "-5", 0, kThresholdMessage}),
    [](const ::testing::TestParamInfo<CheckCase>& info) {
      std::string name = info.param.edit == IDC_ANALOG_VAR_ID ? "Id" : "Threshold";
      for (const char* c = info.param.text; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : 'x';
      return name + "_" + std::to_string(info.index);
    });

// ---- Enable rules ----

struct EnableCase {
  int source;
  int function;
  bool id_and_type;
  bool threshold;
};

class EnableRuleTest : public AnalogPageTest, public ::testing::WithParamInterface<EnableCase> {};

TEST_P(EnableRuleTest, IdAndTypeForUserTargetsThresholdForAnalogWithAFunction) {
  const EnableCase& c = GetParam();
  Open();
  Choose(IDC_ANALOG_SOURCES, c.source);
  Choose(IDC_ANALOG_FUNCTION, c.function);
  EXPECT_EQ(Of(IDC_ANALOG_VAR_ID).enabled, c.id_and_type);
  EXPECT_EQ(Of(IDC_ANALOG_OUTPUT_TYPE).enabled, c.id_and_type);
  EXPECT_EQ(Of(IDC_ANALOG_ZERO_THRESHOLD).enabled, c.threshold);
  EXPECT_TRUE(boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, EnableRuleTest,
    ::testing::Values(EnableCase{0, 0, false, false}, EnableCase{0, 1, false, true},
                      EnableCase{0, 2, false, true}, EnableCase{0, 3, true, true},
                      EnableCase{0, 4, true, true}, EnableCase{1, 0, false, false},
                      EnableCase{1, 1, false, false}, EnableCase{1, 4, true, false},
                      EnableCase{2, 3, true, false}, EnableCase{2, 5, false, false}));

// ---- The lists ----

TEST_F(AnalogPageTest, TheThcItemIsOfferedForTheEncodersOnly) {
  std::vector<std::string> six = kFiveFunctions;
  six.push_back("THC Vnom (50-300V)");
  Open();
  EXPECT_EQ(Of(IDC_ANALOG_FUNCTION).items, kFiveFunctions);
  Choose(IDC_ANALOG_SOURCES, 1);
  EXPECT_EQ(Of(IDC_ANALOG_FUNCTION).items, six);
  Choose(IDC_ANALOG_SOURCES, 2);
  EXPECT_EQ(Of(IDC_ANALOG_FUNCTION).items, six);
  Choose(IDC_ANALOG_FUNCTION, 5);
  Choose(IDC_ANALOG_SOURCES, 0);
  EXPECT_EQ(Of(IDC_ANALOG_FUNCTION).items, kFiveFunctions) << "removed again for Analog";
  Choose(IDC_ANALOG_SOURCES, 2);
  EXPECT_EQ(Of(IDC_ANALOG_FUNCTION).items, six);
  EXPECT_EQ(Of(IDC_ANALOG_FUNCTION).selection, 5) << "the encoder's THC function kept";
  EXPECT_EQ(settings().mappings[2].fun, 5);
}

TEST_F(AnalogPageTest, SourceLinesNameTheFunctionAndFollowAChoiceAtOnce) {
  settings().mappings[2].fun = 5;
  Open();
  EXPECT_EQ(Of(IDC_ANALOG_SOURCES).items,
            (std::vector<std::string>{"Analog (none)", "Encoder1 (none)", "Encoder2 (THCVn)"}));
  EXPECT_EQ(Of(IDC_ANALOG_SOURCES).selection, 0);
  Choose(IDC_ANALOG_SOURCES, 1);
  Choose(IDC_ANALOG_FUNCTION, 3);
  EXPECT_EQ(Of(IDC_ANALOG_SOURCES).items,
            (std::vector<std::string>{"Analog (none)", "Encoder1 (VAR)", "Encoder2 (THCVn)"}));
  EXPECT_EQ(Of(IDC_ANALOG_SOURCES).selection, 1) << "the changed line selected again";
  EXPECT_EQ(settings().mappings[1].fun, 0) << "only the working copy until the source is left";
}

TEST_F(AnalogPageTest, EachSourceShowsItsOwnValuesAndTheWorkingCopyIsStoredOnLeavingIt) {
  settings().mappings[1] = InputMapping{4, 1, 1234, 7};
  Open();
  EXPECT_EQ(Of(IDC_ANALOG_VAR_ID).text, "1000");
  EXPECT_EQ(Of(IDC_ANALOG_ZERO_THRESHOLD).text, "5");
  Choose(IDC_ANALOG_SOURCES, 1);
  EXPECT_EQ(Of(IDC_ANALOG_VAR_ID).text, "1234");
  EXPECT_EQ(Of(IDC_ANALOG_ZERO_THRESHOLD).text, "7");
  EXPECT_EQ(Of(IDC_ANALOG_FUNCTION).selection, 4);
  EXPECT_EQ(Of(IDC_ANALOG_OUTPUT_TYPE).selection, 1);
  controls.SetText(IDC_ANALOG_VAR_ID, "77");
  controls.SetSelection(IDC_ANALOG_OUTPUT_TYPE, 0);
  Choose(IDC_ANALOG_SOURCES, 0);
  EXPECT_EQ(settings().mappings[1].var_id, 77);
  EXPECT_EQ(settings().mappings[1].type, 0);
  EXPECT_EQ(Of(IDC_ANALOG_VAR_ID).text, "1000");
}

TEST_F(AnalogPageTest, AChangeOnTheVisibleSourceIsLostOnCancel) {
  Run({UserStep::Choose(IDC_ANALOG_SOURCES, 1), UserStep::Click(IDC_ANALOG_SOURCES),
       UserStep::Type(IDC_ANALOG_VAR_ID, "2222"), UserStep::Choose(IDC_ANALOG_FUNCTION, 3),
       UserStep::Click(IDC_ANALOG_FUNCTION), UserStep::Cancel()});
  EXPECT_EQ(settings().mappings[1].var_id, 1000);
  EXPECT_EQ(settings().mappings[1].fun, 0);
}

TEST_F(AnalogPageTest, ASwitchDuringTheRefusalsMessageIsNotHandledTwice) {
  Open();
  controls.SetText(IDC_ANALOG_VAR_ID, "15000");
  int nested = 0;
  host.platform().during_message_box = [&] {
    if (nested++ > 0) return;
    Choose(IDC_ANALOG_SOURCES, 2);  // the user clicks the list while the box is up
  };
  Choose(IDC_ANALOG_SOURCES, 1);
  EXPECT_EQ(boxes(), std::vector<std::string>{kIdMessage});
  EXPECT_EQ(dialog().analog().current_source(), 0);
  EXPECT_EQ(Of(IDC_ANALOG_SOURCES).selection, 0);
  EXPECT_EQ(Of(IDC_ANALOG_VAR_ID).text, "15000");
}

// ---- Encoder mapping ----

TEST_F(AnalogPageTest, BothEncodersOnOneHostEncoderAreRefusedAndNothingOfTheMappingIsTaken) {
  const int result = Run(
      {UserStep::Choose(IDC_ANALOG_RESOLUTION1, 0), UserStep::Choose(IDC_ANALOG_HOST_ENCODER1, 4),
       UserStep::Click(IDC_ANALOG_HOST_ENCODER1), UserStep::Ok(), UserStep::Cancel()});
  EXPECT_EQ(result, 2);
  EXPECT_EQ(boxes(), std::vector<std::string>{kMessageSameHostEncoder});
  EXPECT_EQ(page().focus, IDC_ANALOG_HOST_ENCODER1);
  EXPECT_EQ(settings().map_enc1, 0);
  EXPECT_EQ(settings().map_enc2, 4);
  EXPECT_EQ(settings().enc1_mult, 0) << "the resolutions before it are taken";
}

TEST_F(AnalogPageTest, DetentsShowSixDecimalsOnOpeningAndWholeCountsAfterAChange) {
  double* counts = host.planner().encoder_counts_per_unit;
  counts[0] = 100.5;
  counts[4] = 4.75;
  counts[5] = 12.9;
  counts[1] = -3.7;
  Open();
  EXPECT_EQ(Of(IDC_ANALOG_DETENT1).text, "100.500000");
  EXPECT_EQ(Of(IDC_ANALOG_DETENT2).text, "4.750000");
  EXPECT_EQ(Of(IDC_ANALOG_HOST_ENCODER1).items.size(), 7u);
  EXPECT_EQ(Of(IDC_ANALOG_HOST_ENCODER2).selection, 4);
  Choose(IDC_ANALOG_HOST_ENCODER2, 5);
  EXPECT_EQ(Of(IDC_ANALOG_DETENT2).text, "12");
  Choose(IDC_ANALOG_HOST_ENCODER1, 1);
  EXPECT_EQ(Of(IDC_ANALOG_DETENT1).text, "-3") << "truncated toward zero";
}

// ---- On the simulator: the page's mapping reaches the tick at the next Reset ----

TEST_F(AnalogPageTest, AFeedOverrideMappingSetOnThePageDrivesDro821AfterReset) {
  ASSERT_EQ(host.Reset(), 0xFFFF);
  // The host's ENC#3 on pins 10 and 11 of this controller's port.
  HostEncoder& enc3 = host.machine().encoders[2];
  enc3 = HostEncoder{1, 10, 1, 11, 1, {}, 0};
  host.planner().encoder_counts_per_unit[2] = 10.0;
  host.dros[kDroFeedOverride] = 100.0;
  ASSERT_EQ(
      Run({UserStep::Choose(IDC_ANALOG_FUNCTION, 1), UserStep::Click(IDC_ANALOG_FUNCTION),
           UserStep::Type(IDC_ANALOG_ZERO_THRESHOLD, "1000"),
           // Encoder 1 onto "ENC#3", setting user DRO 1100.
           UserStep::Choose(IDC_ANALOG_SOURCES, 1), UserStep::Click(IDC_ANALOG_SOURCES),
           UserStep::Choose(IDC_ANALOG_FUNCTION, 4), UserStep::Click(IDC_ANALOG_FUNCTION),
           UserStep::Type(IDC_ANALOG_VAR_ID, "1100"), UserStep::Choose(IDC_ANALOG_HOST_ENCODER1, 2),
           UserStep::Choose(IDC_ANALOG_RESOLUTION1, 0), UserStep::Ok()}),
      0);
  EXPECT_TRUE(boxes().empty());

  // The operator leaves the E-stop the dialog's OK forced; until the host resets the plugin
  // the tick keeps the mapping it had.
  host.machine().estop = 0;
  int reports = 0;
  host.controller().on_report_delivered = [&](const auto&) { ++reports; };
  host.controller().SetAnalogRaw(65535);
  host.Run(100);
  EXPECT_EQ(host.dros[kDroFeedOverride], 100.0);
  EXPECT_GT(reports, 0) << "the tick ran";

  ASSERT_EQ(host.Reset(), 0xFFFF);
  const auto& motion = host.controller().motion_config();
  ASSERT_TRUE(motion.has_value());
  EXPECT_EQ(motion->raw[motion_config::kEncoderMultipliers], 2)
      << "encoder 1 at x1, encoder 2 at x4";
  host.Run(100);
  EXPECT_EQ(host.dros[kDroFeedOverride], 250.0);
  host.controller().SetAnalogRaw(500);
  host.Run(100);
  EXPECT_EQ(host.dros[kDroFeedOverride], 0.0) << "below the zero threshold";
  host.controller().SetAnalogRaw(1000 + (65535 - 1000) / 2);
  host.Run(100);
  EXPECT_EQ(host.dros[kDroFeedOverride], 125.0);

  host.dros[1100] = 0.0;
  host.controller().AddEncoderCount(1, 50);
  host.Run(100);
  EXPECT_EQ(host.dros[1100], 5.0) << "50 counts at 10 counts per unit";
  EXPECT_EQ(host.machine().encoders[2].count, 50) << "the count into the host's ENC#3";
}

}  // namespace
}  // namespace kelvro
