// The Z correction page through the configuration dialog model with a scripted user: the
// statistics and offset texts, the enable rule, the normalisation that reloads a loaded map,
// "Open file...", "Show Z map..." with its remembered palette, the host's probing command
// behind "Measure...", the group box title, and a point file opened on the page driving the
// next program on the simulated controller.
#include "ui/zcorr_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/plugin.h"
#include "resources/resource_ids.h"
#include "sim/standin_host.h"
#include "tests/ui/page_test_fixture.h"
#include "tests/ui/straight_program.h"
#include "tests/ui/ui_test_support.h"
#include "tests/zcorr/z_map_test_support.h"

namespace kelvro {
namespace {

using test::MapControls;
using test::ScriptedRunner;
using test::UserStep;

constexpr int kZTab = 4;
constexpr char kLoadError[] = "Error loading Z correction file!";
constexpr char kTooFewPoints[] = "Z correction data must have at least 4 points.";

// A 3 x 2 grid from (0, 0) to (20, 10), Z rising by 0.1 from 0.1 in file order.
constexpr char kGrid3x2[] = "0,0,0.1\n10,0,0.2\n20,0,0.3\n0,10,0.4\n10,10,0.5\n20,10,0.6\n";

class ZCorrectionPageTest : public test::PageTest<kZTab> {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    settings().z_file_name = dir.File("missing.txt");
  }
  ZCorrection& zcorr() { return host.plugin().zcorrection(); }
  std::string Write(const char* name, const char* text) { return test::WriteFile(dir, name, text); }

  test::TempDir dir;
};

TEST_F(ZCorrectionPageTest, OpeningFillsTheControlsHidesTheOffsetControlsAndShowsNoFile) {
  settings().z_start_mode = 2;
  settings().z_normal = 3;
  settings().z_jog_corr = 0;
  settings().z_limit_corr = 1;
  zcorr().set_enabled(true);
  Open();
  EXPECT_TRUE(Of(IDC_ZCORR_ENABLE).checked);
  EXPECT_TRUE(Of(IDC_ZCORR_LIMIT).checked);
  EXPECT_FALSE(Of(IDC_ZCORR_JOG_CORR).checked);
  EXPECT_EQ(Of(IDC_ZCORR_START_MODE).selection, 2);
  EXPECT_EQ(Of(IDC_ZCORR_NORMAL).selection, 3);
  EXPECT_EQ(Of(IDC_ZCORR_NORMAL).items,
            (std::vector<std::string>{
                "Don't normalize", "Normalize to highest point (ZCorrection <= 0)",
                "Normalize to lowest point (ZCorrection >= 0)", "Normalize to middle point"}));
  for (int id : {IDC_ZCORR_AUTO_OFFSET, IDC_ZCORR_CORRECT_OFFSET, IDC_ZCORR_MZ}) {
    EXPECT_FALSE(Of(id).shown) << id;
  }
  EXPECT_EQ(Of(IDC_ZCORR_STATISTICS).text, "File not loaded.");
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ZCorrectionPageTest, StatisticsOfAThreeByTwoGrid) {
  settings().z_normal = kZNormalNone;
  settings().z_file_name = Write("grid.txt",
                                 "0,0,0.5\n10,0,0.5\n20,0,0.5\n0,10,0.5\n10,10,0.5\n"
                                 "20,10,0.5\n");
  ASSERT_TRUE(zcorr().EnsureLoaded());
  Open();
  EXPECT_EQ(Of(IDC_ZCORR_STATISTICS).text,
            "Xrange:   0.000,  20.000\tYrange:   0.000,  10.000\tZrange:   0.500,   0.500\n"
            "Xpoints: 3, Ypoints: 2\tMax deviation from plane (above, below): 0.000, 0.000");
}

// ---- The offset label and the enable rule ----

struct EnableCase {
  const char* name;
  double mz_offset;
  bool checked;
  const char* mz_text;
  bool auto_offset_enabled;
};

class ZPageEnableRuleTest : public ZCorrectionPageTest,
                            public ::testing::WithParamInterface<EnableCase> {};

TEST_P(ZPageEnableRuleTest, OnOpeningAndOnEveryClickOfTheCheck) {
  const EnableCase& c = GetParam();
  settings().mz_offset = c.mz_offset;
  zcorr().set_enabled(!c.checked);
  Open();
  EXPECT_EQ(Of(IDC_ZCORR_MZ).text, c.mz_text);
  // Opened the other way round, then clicked into the case's state.
  controls.SetChecked(IDC_ZCORR_ENABLE, c.checked);
  Click(IDC_ZCORR_ENABLE);
  for (int id : {IDC_ZCORR_OPEN, IDC_ZCORR_ZEROZ, IDC_ZCORR_CORRECT_OFFSET, IDC_ZCORR_SHOW_MAP,
                 IDC_ZCORR_NORMAL}) {
    EXPECT_EQ(Of(id).enabled, c.checked) << id;
  }
  EXPECT_EQ(Of(IDC_ZCORR_AUTO_OFFSET).enabled, c.auto_offset_enabled);
  // The same on a fresh opening in that state.
  zcorr().set_enabled(c.checked);
  controls = MapControls();
  Open();
  EXPECT_EQ(Of(IDC_ZCORR_SHOW_MAP).enabled, c.checked);
  EXPECT_EQ(Of(IDC_ZCORR_AUTO_OFFSET).enabled, c.auto_offset_enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZPageEnableRuleTest,
    ::testing::Values(EnableCase{"Unset_On", 1e30, true, "MZ not set", false},
                      EnableCase{"Unset_Off", 1e30, false, "MZ not set", false},
                      EnableCase{"JustBelowLimit_On", 9.9e19, true, "MZ=99000000000000000000.00000",
                                 true},
                      EnableCase{"AtLimit_On", 1e20, true, "MZ not set", false},
                      EnableCase{"Set_On", -1.25, true, "MZ=  -1.25000", true},
                      EnableCase{"Set_Off", 3.5, false, "MZ=   3.50000", false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Normalisation ----

TEST_F(ZCorrectionPageTest, NormalisationWithoutAMapChangesOnlyTheSetting) {
  settings().z_normal = kZNormalNone;
  settings().z_file_name = Write("grid.txt", kGrid3x2);
  zcorr().set_enabled(true);
  Open();
  Choose(IDC_ZCORR_NORMAL, kZNormalLowest);
  EXPECT_EQ(settings().z_normal, kZNormalLowest);
  EXPECT_FALSE(zcorr().map().IsZCorrectionLoaded());
  EXPECT_EQ(Of(IDC_ZCORR_STATISTICS).text, "File not loaded.");
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ZCorrectionPageTest, NormalisationWithAMapReloadsItAtOnce) {
  settings().z_normal = kZNormalNone;
  settings().z_file_name = Write("grid.txt", kGrid3x2);
  ASSERT_TRUE(zcorr().EnsureLoaded());
  zcorr().set_enabled(true);
  Open();
  EXPECT_NE(Of(IDC_ZCORR_STATISTICS).text.find("Zrange:   0.100,   0.600"), std::string::npos);
  // Z values 0.1 to 0.6: lowest point to zero, then highest, then middle (0.35).
  const struct {
    int mode;
    const char* range;
  } steps[] = {{kZNormalLowest, "Zrange:   0.000,   0.500"},
               {kZNormalHighest, "Zrange:  -0.500,   0.000"},
               {kZNormalMiddle, "Zrange:  -0.250,   0.250"},
               {kZNormalNone, "Zrange:   0.100,   0.600"}};
  for (const auto& step : steps) {
    Choose(IDC_ZCORR_NORMAL, step.mode);
    EXPECT_EQ(settings().z_normal, step.mode);
    EXPECT_TRUE(zcorr().map().IsZCorrectionLoaded());
    EXPECT_NE(Of(IDC_ZCORR_STATISTICS).text.find(step.range), std::string::npos)
        << step.mode << ": " << Of(IDC_ZCORR_STATISTICS).text;
  }
}

// ---- Open file... ----

struct OpenCase {
  const char* name;
  const char* content;  // null: the chosen file does not exist
  std::vector<std::string> boxes;
  bool loaded_after;  // a map was loaded before
};

class ZPageOpenFileTest : public ZCorrectionPageTest,
                          public ::testing::WithParamInterface<OpenCase> {};

TEST_P(ZPageOpenFileTest, LoadsTheChosenFileAndKeepsItsName) {
  const OpenCase& c = GetParam();
  settings().z_file_name = Write("before.txt", kGrid3x2);
  ASSERT_TRUE(zcorr().EnsureLoaded());
  zcorr().set_enabled(true);
  Open();
  const std::string chosen = c.content ? Write("chosen.txt", c.content) : dir.File("none.txt");
  runner.file_answers = {chosen};
  Click(IDC_ZCORR_OPEN);
  ASSERT_EQ(runner.file_requests.size(), 1u);
  EXPECT_EQ(runner.file_requests[0].default_extension, "txt");
  EXPECT_EQ(runner.file_requests[0].file_name, dir.File("before.txt"));
  EXPECT_EQ(runner.file_requests[0].filter, "*.txt|*.txt|All files(*.*)|*.*||");
  EXPECT_EQ(boxes(), c.boxes);
  EXPECT_EQ(settings().z_file_name, chosen);
  EXPECT_EQ(zcorr().map().IsZCorrectionLoaded(), c.loaded_after);
  EXPECT_EQ(Of(IDC_ZCORR_GROUP).text, "Correction data (" + chosen + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZPageOpenFileTest,
    ::testing::Values(OpenCase{"Good", "0,0,1\n5,0,1\n0,5,2\n5,5,2\n", {}, true},
                      // A file that opens is read: the old map is gone when it turns out no grid.
                      OpenCase{"Header",
                               "X,Y,Z\n0,0,1\n5,0,1\n0,5,2\n5,5,2\n",
                               {kTooFewPoints, "Error loading file!"},
                               false},
                      // A file that does not open leaves the old map.
                      OpenCase{"Missing", nullptr, {"Error loading file!"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ZCorrectionPageTest, OpenFileCancelledChangesNothing) {
  settings().z_file_name = "zfile.txt";
  Open();
  Click(IDC_ZCORR_OPEN);
  EXPECT_EQ(runner.file_requests.size(), 1u);
  EXPECT_EQ(settings().z_file_name, "zfile.txt");
  EXPECT_TRUE(boxes().empty());
}

// ---- Show Z map... ----

TEST_F(ZCorrectionPageTest, ShowMapWithoutAMapTellsAndOpensNoDialog) {
  Open();
  Click(IDC_ZCORR_SHOW_MAP);
  EXPECT_EQ(boxes(), (std::vector<std::string>{kLoadError, "Z correction file not loaded."}));
  EXPECT_EQ(runner.modal_runs, 0);
}

TEST_F(ZCorrectionPageTest, ShowMapLoadsTheFileAndRemembersThePalette) {
  settings().z_file_name = Write("grid.txt", kGrid3x2);
  Open();
  EXPECT_EQ(Of(IDC_ZCORR_STATISTICS).text, "File not loaded.");
  runner.modal_steps = {
      {UserStep::Choose(IDC_ZMAP_PALETTE, 0), UserStep::Click(IDC_ZMAP_PALETTE), UserStep::Ok()},
      {}};
  Click(IDC_ZCORR_SHOW_MAP);
  EXPECT_TRUE(boxes().empty());
  ASSERT_EQ(runner.modal_runs, 1);
  EXPECT_NE(Of(IDC_ZCORR_STATISTICS).text.find("Xpoints: 3, Ypoints: 2"), std::string::npos);
  // Rainbow at first; the Greyscale chosen then is shown the next time.
  EXPECT_EQ(runner.modals[0]->controls[IDC_ZMAP_PALETTE].items,
            (std::vector<std::string>{"Greyscale", "Rainbow"}));
  EXPECT_EQ(dialog().zcorrection().map_dialog().palette(), ZMapPalette::kGreyscale);
  Click(IDC_ZCORR_SHOW_MAP);
  ASSERT_EQ(runner.modal_runs, 2);
  EXPECT_EQ(runner.modals[1]->controls[IDC_ZMAP_PALETTE].selection, 0);
}

TEST_F(ZCorrectionPageTest, TheMapDialogStartsInRainbow) {
  settings().z_file_name = Write("grid.txt", kGrid3x2);
  Open();
  Click(IDC_ZCORR_SHOW_MAP);
  ASSERT_EQ(runner.modal_runs, 1);
  EXPECT_EQ(runner.modals[0]->controls[IDC_ZMAP_PALETTE].selection, 1);
}

// ---- Measure... ----

HostMenuItem Item(const char* text, int command, bool plain = true) {
  HostMenuItem item;
  item.text = text;
  item.command = command;
  item.plain = plain;
  return item;
}
HostMenuItem Menu(const char* text, std::vector<HostMenuItem> items) {
  HostMenuItem menu = Item(text, 0);
  menu.has_submenu = true;
  menu.submenu = std::move(items);
  return menu;
}

struct MeasureCase {
  const char* name;
  std::vector<HostMenuItem> bar;
  int command;  // 0: none found
};

class ZPageMeasureTest : public ZCorrectionPageTest,
                         public ::testing::WithParamInterface<MeasureCase> {};

TEST_P(ZPageMeasureTest, SendsTheHostsProbingCommandWhenTheMenuHasIt) {
  const MeasureCase& c = GetParam();
  host.platform().menu_bar = c.bar;
  Open();
  EXPECT_EQ(Of(IDC_ZCORR_MEASURE).enabled, c.command != 0);
  host.platform().menu_commands.clear();
  Click(IDC_ZCORR_MEASURE);
  EXPECT_EQ(host.platform().menu_commands,
            c.command ? std::vector<int>{c.command} : std::vector<int>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZPageMeasureTest,
    ::testing::Values(MeasureCase{"Found",
                                  {Menu("File", {Item("Probe plugin", 11)}),
                                   Menu("PlugIn Control", {Item("KELVRO config...", 300),
                                                           Item("Probe plugin", 0x12345)})},
                                  0x2345},
                      MeasureCase{"FirstPlainItemWins",
                                  {Menu("PlugIn Control",
                                        {Item("Probe plugin", 7, false), Item("Probe plugin", 8),
                                         Item("Probe plugin", 9)})},
                                  8},
                      MeasureCase{"NoMenu", {}, 0},
                      MeasureCase{"OtherText",
                                  {Menu("PlugIn Control", {Item("Probe plugin...", 5)}),
                                   Menu("Plugin Control", {Item("Probe plugin", 6)})},
                                  0},
                      MeasureCase{"NoSubmenu", {Item("PlugIn Control", 5)}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The group box title ----

// Six pixels a character; paths lose their middle to "..." until they fit.
class FixedFitter final : public PathFitter {
 public:
  int ClientWidth(int control) override { return control == IDC_ZCORR_GROUP ? 400 : 0; }
  int TextWidth(std::string_view text) override { return 6 * static_cast<int>(text.size()); }
  std::string CompactPath(std::string_view path, int width) override {
    widths.push_back(width);
    const size_t room = static_cast<size_t>(width / 6);
    if (path.size() <= room) return std::string(path);
    const size_t keep = room > 3 ? room - 3 : 0;
    return std::string(path.substr(0, keep / 2)) + "..." +
           std::string(path.substr(path.size() - (keep - keep / 2)));
  }
  std::vector<int> widths;
};

TEST_F(ZCorrectionPageTest, TheGroupTitleShowsTheFileShortenedToFit) {
  FixedFitter fitter;
  dialog().zcorrection().set_fitter(&fitter);
  const std::string name = "C:\\Mach3\\Probing\\Results\\Board seventeen\\surface_fine.txt";
  settings().z_file_name = name;
  Open();
  // 400 pixels less "Correction data ()" (18 characters) less 20: room for 42 characters.
  ASSERT_EQ(fitter.widths, std::vector<int>{400 - 6 * 18 - 20});
  EXPECT_EQ(Of(IDC_ZCORR_GROUP).text,
            "Correction data (C:\\Mach3\\Probing\\Resu...teen\\surface_fine.txt)");
  settings().z_file_name.clear();
  Click(IDC_ZCORR_ZEROZ);
  EXPECT_EQ(Of(IDC_ZCORR_GROUP).text, "Correction data ");
  dialog().zcorrection().set_fitter(nullptr);
}

// ---- A point file opened on the page drives the next program ----

TEST_F(ZCorrectionPageTest, APointFileOpenedOnThePageCorrectsTheNextProgram) {
  ASSERT_EQ(host.Reset(), 0xFFFF);
  // A plane rising 1 unit per 100 in X.
  const std::string path =
      Write("plane.txt", "0,0,0\n50,0,0.5\n100,0,1\n0,100,0\n50,100,0.5\n100,100,1\n");
  settings().z_normal = kZNormalNone;
  runner.file_answers = {path};
  runner.config_steps = {UserStep::Tab(kZTab), UserStep::Check(IDC_ZCORR_ENABLE, true),
                         UserStep::Click(IDC_ZCORR_ENABLE), UserStep::Click(IDC_ZCORR_OPEN),
                         UserStep::Ok()};
  EXPECT_EQ(dialog().Show(&runner), 1);  // the reload after OK succeeded
  EXPECT_TRUE(zcorr().enabled());
  EXPECT_EQ(settings().z_file_name, path);
  host.machine().estop = 0;  // OK put the host into E-stop; the user resets
  ASSERT_EQ(host.Reset(), 0xFFFF);
  ASSERT_TRUE(host.RunUntil([&] { return zcorr().active(); }, 5000));
  // A program at Z 0 from the origin to (100, 20): the machine's Z rises with the plane to 1
  // unit (1000 steps) at the end, the program's own Z staying 0.
  ASSERT_TRUE(test::RunStraightProgram(host, 100.0, 20.0, 3000));
  EXPECT_EQ(host.controller().position(0), 100000);
  EXPECT_NEAR(static_cast<double>(host.controller().position(2)), 1000.0, 1.0);
}

}  // namespace
}  // namespace kelvro
