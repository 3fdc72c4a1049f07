// Profiles shaped like the ones users publish (one line, a CRLF at the end, empty values as
// an open and a close tag, thousands of keys, 150 KB), loaded and saved through the
// plugin: every byte outside the plugin's section must come back as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "plugin/plugin.h"
#include "profile_test_support.h"
#include "settings/plugin_settings.h"
#include "settings/profile_xml.h"
#include "sim/scripted_platform.h"
#include "sim/standin_host.h"

namespace kelvro {
namespace {

using test::HostShape;
using test::KeysInSection;
using test::KeyText;
using test::PluginSaveKeys;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// The plugin's section as a user's profile holds it: one line like the rest, one key
// empty (which the load removes), the others in the plugin's own order.
const char* const kStoredSection =
    "<kelvro_mach_drv><LaserSync>1</LaserSync><PWMFreq>5000</PWMFreq><HomeRetract></HomeRetract>"
    "<ZFileName>C:\\cut\\surface.txt</ZFileName><THCnomvoltage>120</THCnomvoltage>"
    "</kelvro_mach_drv>";

struct Shape {
  const char* name;
  std::string bom;
  std::string declaration;
  std::string accent;
};

const Shape kShapes[] = {
    {"host_utf8", "", "", "\xC3\xA4"},
    {"latin1", "", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "\xE4"},
    {"windows1252", "", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "\x80"},
    {"utf8_bom", "\xEF\xBB\xBF", "", "\xC3\xA4"},
};

void PrintTo(const Shape& shape, std::ostream* os) {
  *os << shape.name;
}

enum class Route { kSettings, kPlugin };

using Param = std::tuple<Shape, bool, Route>;

class HostShapedProfileTest : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    const auto& [shape, with_section, route] = GetParam();
    HostShape host;
    host.bom = shape.bom;
    host.declaration = shape.declaration;
    host.accent = shape.accent;
    if (with_section) host.plugin_section = kStoredSection;
    original_ = test::HostShapedProfile(host);
    ASSERT_TRUE(WriteBytes(path_, original_));
  }

  // Loads and saves the profile as the host makes the plugin do it; true when both found
  // a profile and the save succeeded.
  bool LoadAndSave() {
    if (std::get<2>(GetParam()) == Route::kPlugin) {
      sim::HostOf<Plugin> host;
      host.DescribeMill();
      host.StartUp(path_);
      after_load_ = ReadBytes(path_);
      loaded_pwm_freq_ = host.plugin().settings().pwm_freq;
      host.StopPlug();
      return true;
    }
    PluginSettings s;
    if (!LoadSettingsFromProfile(s, path_, platform_)) return false;
    after_load_ = ReadBytes(path_);
    loaded_pwm_freq_ = s.pwm_freq;
    return SaveSettingsToProfile(s, path_, platform_);
  }

  // Checks that file is the original with only the plugin's section changed: the bytes
  // up to its start tag and from its end tag on are the original's. For a profile without
  // the section, everything before and from the root's end tag is the original's, and
  // exactly the plugin's section stands between.
  void ExpectOnlyOurSectionChanged(const std::string& file, const char* what) {
    SCOPED_TRACE(what);
    std::string head, tail;
    if (std::get<1>(GetParam())) {
      const size_t open = original_.find("<kelvro_mach_drv>") + 17;
      head = original_.substr(0, open);
      tail = original_.substr(original_.find("</kelvro_mach_drv>"));
    } else {
      const size_t end = original_.rfind("</profile>");
      head = original_.substr(0, end);
      tail = original_.substr(end);
    }
    ASSERT_GE(file.size(), head.size() + tail.size());
    // compare() rather than EXPECT_EQ on 150 KB strings: a failure names the offset.
    EXPECT_EQ(Mismatch(file.substr(0, head.size()), head), std::string::npos) << "before";
    EXPECT_EQ(Mismatch(file.substr(file.size() - tail.size()), tail), std::string::npos) << "after";
    if (!std::get<1>(GetParam())) {
      const std::string inserted =
          file.substr(head.size(), file.size() - head.size() - tail.size());
      EXPECT_EQ(inserted.rfind("<kelvro_mach_drv>", 0), 0u);
      EXPECT_EQ(inserted.find("</kelvro_mach_drv>"), inserted.size() - 18);
    }
  }

  // Offset of the first differing byte, or npos.
  static size_t Mismatch(const std::string& a, const std::string& b) {
    const auto [pa, pb] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (pa == a.end() && pb == b.end()) return std::string::npos;
    return static_cast<size_t>(pa - a.begin());
  }

  TempDir dir_;
  std::string path_ = dir_.File("Mach3Mill.xml");
  sim::ScriptedPlatform platform_;
  std::string original_;
  std::string after_load_;
  int loaded_pwm_freq_ = 0;
};

TEST_P(HostShapedProfileTest, TheProfileHasTheHostsShape) {
  EXPECT_GE(original_.size(), 150u * 1024u);
  EXPECT_EQ(original_.substr(original_.size() - 2), "\r\n");
  EXPECT_EQ(std::count(original_.begin(), original_.end(), '\n'), 1);
  EXPECT_NE(original_.find("<Encoder7Cal></Encoder7Cal>"), std::string::npos);
  EXPECT_GE(KeysInSection(original_, "Preferences").size(), 2800u);
}

TEST_P(HostShapedProfileTest, LoadAndSaveKeepEveryByteOutsideOurSection) {
  const bool with_section = std::get<1>(GetParam());
  ASSERT_TRUE(LoadAndSave());
  const std::string saved = ReadBytes(path_);
  EXPECT_EQ(loaded_pwm_freq_, with_section ? 5000 : 10000);

  if (with_section) {
    ExpectOnlyOurSectionChanged(after_load_, "after the load");
  } else {
    EXPECT_EQ(after_load_, original_) << "a load finds nothing to change";
  }
  ExpectOnlyOurSectionChanged(saved, "after the save");

  // Stored keys stay where they were (the empty one is dropped at the load and written
  // again in save order); the rest follow in save order.
  std::vector<std::string> expected;
  if (with_section) expected = {"LaserSync", "PWMFreq", "ZFileName", "THCnomvoltage"};
  for (const std::string& key : PluginSaveKeys(2)) {
    if (std::find(expected.begin(), expected.end(), key) == expected.end()) {
      expected.push_back(key);
    }
  }
  EXPECT_EQ(KeysInSection(saved, kPluginSection), expected);
  EXPECT_EQ(KeyText(saved, kPluginSection, "PWMFreq"), with_section ? "5000" : "10000");
  EXPECT_EQ(KeyText(saved, kPluginSection, "THCnomvoltage"), with_section ? "120" : "150");
  EXPECT_EQ(KeyText(saved, kPluginSection, "HomeRetract"), "10");
  EXPECT_EQ(KeyText(saved, kPluginSection, "LMaxFeed"), "1000.");
  EXPECT_EQ(KeyText(saved, kPluginSection, "MapEnc2"), "4");
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"}));
}

TEST_P(HostShapedProfileTest, ASecondRunChangesNothing) {
  ASSERT_TRUE(LoadAndSave());
  const std::string first = ReadBytes(path_);
  ASSERT_TRUE(LoadAndSave());
  EXPECT_EQ(after_load_, first);
  EXPECT_EQ(ReadBytes(path_), first);
}

INSTANTIATE_TEST_SUITE_P(Shapes, HostShapedProfileTest,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Bool(),
                                            ::testing::Values(Route::kSettings, Route::kPlugin)),
                         [](const ::testing::TestParamInfo<Param>& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_with_section" : "_without_section") +
                                  (std::get<2>(info.param) == Route::kPlugin ? "_through_plugin"
                                                                             : "_through_settings");
                         });

}  // namespace
}  // namespace kelvro
