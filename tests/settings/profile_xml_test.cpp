// Behaviour of the profile accessor, through whatever XmlDom this build makes.
#include "settings/profile_xml.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "profile_test_support.h"
#include "sim/scripted_platform.h"

namespace kelvro {
namespace {

using test::FaultyDom;
using test::KeysInSection;
using test::KeyText;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

constexpr const char* kSentinel = "sentinel: the profile was not rewritten";

class ProfileXmlTest : public ::testing::Test {
 protected:
  std::unique_ptr<ProfileXml> Open(std::unique_ptr<XmlDom> dom = MakeXmlDom()) {
    return std::make_unique<ProfileXml>(path_, platform_, std::move(dom));
  }
  void Put(const std::string& xml) { ASSERT_TRUE(WriteBytes(path_, xml)); }
  std::string Saved() const { return ReadBytes(path_); }
  // Replaces the file behind the open accessor's back: if it is still there after Close,
  // Close did not write the profile.
  void PlantSentinel() { ASSERT_TRUE(WriteBytes(path_, kSentinel)); }

  TempDir dir_;
  std::string path_ = dir_.File("Mach3Mill.xml");
  sim::ScriptedPlatform platform_;
};

struct IntText {
  const char* stored;
  int expected;
};

TEST_F(ProfileXmlTest, ReadIntTakesTheLeadingNumberOfTheText) {
  const IntText cases[] = {
      {"42", 42},
      {"  17", 17},
      {"+8", 8},
      {"-5", -5},
      {"12abc", 12},
      {"abc", 0},
      {"x12", 0},
      {"3.9", 3},
      {"1e5", 1},
      {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN},
      {"&#52;2", 42},
      {"<b>5</b>", 5},
  };
  std::string xml = "<profile><kelvro_mach_drv>";
  for (size_t i = 0; i < std::size(cases); ++i) {
    xml += "<K" + std::to_string(i) + ">" + cases[i].stored + "</K" + std::to_string(i) + ">";
  }
  xml += "</kelvro_mach_drv></profile>";
  Put(xml);
  auto profile = Open();
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(profile->ReadInt(kPluginSection, "K" + std::to_string(i), 77), cases[i].expected)
        << "stored \"" << cases[i].stored << "\"";
  }
  EXPECT_FALSE(profile->dirty());
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(Saved(), xml);
  EXPECT_TRUE(platform_.message_boxes.empty());
}

TEST_F(ProfileXmlTest, ReadStringReturnsTheTextWithReferencesResolved) {
  Put("<profile><kelvro_mach_drv><ZFileName>C:\\jobs\\a&amp;b.txt</ZFileName>"
      "<Q>&lt;x&gt; &#65;&#x42;</Q><S>  spaced  </S></kelvro_mach_drv></profile>");
  auto profile = Open();
  EXPECT_EQ(profile->ReadString(kPluginSection, "ZFileName", "zfile.txt"), "C:\\jobs\\a&b.txt");
  EXPECT_EQ(profile->ReadString(kPluginSection, "Q", ""), "<x> AB");
  EXPECT_EQ(profile->ReadString(kPluginSection, "S", ""), "  spaced  ");
  EXPECT_EQ(profile->ReadString(kPluginSection, "Missing", "dflt"), "dflt");
}

TEST_F(ProfileXmlTest, MissingSectionOrKeyGivesTheDefaultAndChangesNothing) {
  const std::string xml =
      "<?xml version=\"1.0\"?>\n<profile>\n <Preferences>\n  <Steps6>2000.</Steps6>\n"
      " </Preferences>\n</profile>\n";
  Put(xml);
  auto profile = Open();
  EXPECT_EQ(profile->load_outcome(), XmlLoadOutcome::kLoaded);
  EXPECT_EQ(profile->ReadInt(kPluginSection, "PWMFreq", 10000), 10000);
  EXPECT_EQ(profile->ReadString(kPluginSection, "ZFileName", "zfile.txt"), "zfile.txt");
  EXPECT_EQ(profile->ReadInt(kHostSection, "ROTSOFT", 3), 3);
  EXPECT_EQ(profile->ReadString(kHostSection, "Steps6", "1000."), "2000.");
  EXPECT_FALSE(profile->dirty());
  PlantSentinel();
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(Saved(), kSentinel);
}

TEST_F(ProfileXmlTest, EmptyKeyOfOurSectionReadsTheDefaultAndIsGoneFromTheSavedFile) {
  Put("<profile><Preferences><Vel6>3.</Vel6></Preferences><kelvro_mach_drv><A/><B></B>"
      "<C>7</C></kelvro_mach_drv></profile>");
  auto profile = Open();
  EXPECT_EQ(profile->ReadInt(kPluginSection, "A", 5), 5);
  EXPECT_EQ(profile->ReadString(kPluginSection, "B", "dflt"), "dflt");
  EXPECT_EQ(profile->ReadInt(kPluginSection, "C", 0), 7);
  EXPECT_TRUE(profile->dirty());
  EXPECT_TRUE(profile->Close());
  const std::string saved = Saved();
  EXPECT_EQ(KeysInSection(saved, kPluginSection), (std::vector<std::string>{"C"}));
  EXPECT_EQ(KeyText(saved, kPluginSection, "C"), "7");
  EXPECT_EQ(KeyText(saved, kHostSection, "Vel6"), "3.");
  // A second reader no longer finds the keys.
  auto again = Open();
  EXPECT_EQ(again->ReadInt(kPluginSection, "A", 6), 6);
  EXPECT_FALSE(again->dirty());
}

TEST_F(ProfileXmlTest, EmptyKeyOfTheHostsSectionIsLeftAsTheHostWroteIt) {
  Put("<profile><Preferences><Steps6/><Vel6></Vel6></Preferences></profile>");
  auto profile = Open();
  EXPECT_EQ(profile->ReadString(kHostSection, "Steps6", "1000."), "1000.");
  EXPECT_EQ(profile->ReadInt(kHostSection, "Vel6", 1), 1);
  EXPECT_FALSE(profile->dirty());
  PlantSentinel();
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(Saved(), kSentinel);
}

TEST_F(ProfileXmlTest, NewSectionIsAppendedAsLastChildWithKeysInWriteOrder) {
  const std::string head = "<profile>\n<Preferences><X>1</X></Preferences>\n";
  Put(head + "</profile>\n");
  auto profile = Open();
  profile->WriteInt(kPluginSection, "C", 3);
  profile->WriteInt(kPluginSection, "A", 1);
  profile->WriteString(kPluginSection, "B", "two");
  profile->WriteInt(kPluginSection, "A", 4);  // existing key: changed in place
  EXPECT_TRUE(profile->Close());
  const std::string saved = Saved();
  EXPECT_EQ(saved.substr(0, head.size()), head);
  const std::string section = "<kelvro_mach_drv><C>3</C><A>4</A><B>two</B></kelvro_mach_drv>";
  ASSERT_EQ(saved.find(section), head.size()) << saved;
  const std::string rest = saved.substr(head.size() + section.size());
  EXPECT_EQ(rest.substr(0, rest.find('<')).find_first_not_of(" \r\n\t"), std::string::npos);
  EXPECT_EQ(rest.substr(rest.find('<'), 10), "</profile>");
  EXPECT_TRUE(platform_.message_boxes.empty());
}

TEST_F(ProfileXmlTest, WriteIntStoresDecimalTextWithMinusSign) {
  Put("<profile/>");
  auto profile = Open();
  profile->WriteInt(kPluginSection, "Neg", -5);
  profile->WriteInt(kPluginSection, "Min", INT_MIN);
  profile->WriteInt(kPluginSection, "Zero", 0);
  EXPECT_TRUE(profile->Close());
  const std::string saved = Saved();
  EXPECT_EQ(KeyText(saved, kPluginSection, "Neg"), "-5");
  EXPECT_EQ(KeyText(saved, kPluginSection, "Min"), "-2147483648");
  EXPECT_EQ(KeyText(saved, kPluginSection, "Zero"), "0");
  auto again = Open();
  EXPECT_EQ(again->ReadInt(kPluginSection, "Neg", 0), -5);
  EXPECT_EQ(again->ReadInt(kPluginSection, "Min", 0), INT_MIN);
}

TEST_F(ProfileXmlTest, WriteStringEscapesMarkup) {
  Put("<profile/>");
  auto profile = Open();
  profile->WriteString(kPluginSection, "ZFileName", "a<b>&c]]>d");
  EXPECT_TRUE(profile->Close());
  auto again = Open();
  EXPECT_EQ(again->ReadString(kPluginSection, "ZFileName", ""), "a<b>&c]]>d");
}

TEST_F(ProfileXmlTest, TextReadsBackExactlyAsWritten) {
  Put("<profile/>");
  const std::string texts[] = {"a\r\nb\rc\nd", " lead and trail ", "tab\there", "\"q\" 'a'"};
  {
    auto profile = Open();
    for (size_t i = 0; i < std::size(texts); ++i) {
      profile->WriteString(kPluginSection, "S" + std::to_string(i), texts[i]);
    }
    EXPECT_TRUE(profile->Close());
  }
  auto again = Open();
  for (size_t i = 0; i < std::size(texts); ++i) {
    EXPECT_EQ(again->ReadString(kPluginSection, "S" + std::to_string(i), "?"), texts[i]);
  }
  EXPECT_TRUE(platform_.message_boxes.empty());
}

TEST_F(ProfileXmlTest, TextAnXmlFileCannotHoldIsRefusedAndTheFileStaysReadable) {
  const std::string xml = "<profile><kelvro_mach_drv><A>1</A></kelvro_mach_drv></profile>";
  Put(xml);
  {
    auto profile = Open();
    profile->WriteString(kPluginSection, "A", std::string("bell\x07", 5));
    profile->WriteString(kPluginSection, "B", std::string("nul\0", 4));
    EXPECT_EQ(platform_.message_boxes, (std::vector<std::string>{"Error writing profile string!",
                                                                 "Error writing profile string!"}));
    profile->WriteInt(kPluginSection, "C", 3);
    EXPECT_TRUE(profile->Close());
  }
  const std::string saved = Saved();
  EXPECT_EQ(KeyText(saved, kPluginSection, "A"), "1");
  EXPECT_EQ(KeyText(saved, kPluginSection, "C"), "3");
  auto again = Open();
  EXPECT_EQ(again->load_outcome(), XmlLoadOutcome::kLoaded);
  EXPECT_EQ(again->ReadInt(kPluginSection, "C", 0), 3);
}

TEST_F(ProfileXmlTest, MissingFileGivesDefaultsAndTheSaveCreatesIt) {
  auto profile = Open();
  EXPECT_EQ(profile->load_outcome(), XmlLoadOutcome::kMissing);
  EXPECT_EQ(profile->ReadInt(kPluginSection, "PWMFreq", 10000), 10000);
  EXPECT_EQ(profile->ReadString(kHostSection, "Steps6", "1000."), "1000.");
  profile->WriteInt(kPluginSection, "PWMFreq", 2500);
  EXPECT_TRUE(profile->Close());
  const std::string saved = Saved();
  EXPECT_NE(saved.find("<profile>"), std::string::npos) << saved;
  EXPECT_EQ(KeyText(saved, kPluginSection, "PWMFreq"), "2500");
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"}));
}

TEST_F(ProfileXmlTest, ReadingAMissingFileCreatesAnEmptyProfile) {
  auto profile = Open();
  EXPECT_EQ(profile->ReadInt(kPluginSection, "A", 9), 9);
  EXPECT_TRUE(profile->Close());
  auto again = Open();
  EXPECT_EQ(again->load_outcome(), XmlLoadOutcome::kLoaded);
  EXPECT_FALSE(again->dirty());  // the root is there now
}

TEST_F(ProfileXmlTest, AnotherRootNameIsUsedAsItIs) {
  Put("<mach3 version=\"2\"><kelvro_mach_drv><A>3</A></kelvro_mach_drv></mach3>\n");
  auto profile = Open();
  EXPECT_EQ(profile->ReadInt(kPluginSection, "A", 0), 3);
  profile->WriteInt(kPluginSection, "A", 4);
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(Saved(), "<mach3 version=\"2\"><kelvro_mach_drv><A>4</A></kelvro_mach_drv></mach3>\n");
}

TEST_F(ProfileXmlTest, NamesMatchExactlyAndTheFirstOfTwinsCounts) {
  Put("<profile><kelvro_mach_drv><LaserSyncPort>3</LaserSyncPort><laserSync>4</laserSync>"
      "<A>1</A><A>2</A></kelvro_mach_drv></profile>\n");
  auto profile = Open();
  EXPECT_EQ(profile->ReadInt(kPluginSection, "LaserSync", -1), -1);
  EXPECT_EQ(profile->ReadInt(kPluginSection, "A", 0), 1);
  profile->WriteInt(kPluginSection, "A", 5);
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(Saved(),
            "<profile><kelvro_mach_drv><LaserSyncPort>3</LaserSyncPort><laserSync>4</laserSync>"
            "<A>5</A><A>2</A></kelvro_mach_drv></profile>\n");
}

TEST_F(ProfileXmlTest, WritingTheSameValueDoesNotRewriteTheFile) {
  Put("<profile><kelvro_mach_drv><A>1</A><S>x</S></kelvro_mach_drv></profile>");
  {
    auto profile = Open();
    profile->WriteInt(kPluginSection, "A", 1);
    profile->WriteString(kPluginSection, "S", "x");
    EXPECT_FALSE(profile->dirty());
    PlantSentinel();
    EXPECT_TRUE(profile->Close());
    EXPECT_EQ(Saved(), kSentinel);
  }
  Put("<profile><kelvro_mach_drv><A>1</A></kelvro_mach_drv></profile>");
  auto profile = Open();
  profile->WriteInt(kPluginSection, "A", 2);
  EXPECT_TRUE(profile->dirty());
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(KeyText(Saved(), kPluginSection, "A"), "2");
}

TEST_F(ProfileXmlTest, WriteReplacesTheWholeContentOfTheKey) {
  Put("<profile><kelvro_mach_drv><A>x<b>5</b>y</A></kelvro_mach_drv></profile>\n");
  auto profile = Open();
  profile->WriteString(kPluginSection, "A", "7");
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(Saved(), "<profile><kelvro_mach_drv><A>7</A></kelvro_mach_drv></profile>\n");
}

TEST_F(ProfileXmlTest, DestroyingTheAccessorSavesIt) {
  Put("<profile/>");
  { Open()->WriteInt(kPluginSection, "A", 12); }
  EXPECT_EQ(KeyText(Saved(), kPluginSection, "A"), "12");
}

TEST_F(ProfileXmlTest, FailedTextWritesShowTheirMessages) {
  const std::string xml = "<profile><kelvro_mach_drv><A>1</A></kelvro_mach_drv></profile>";
  Put(xml);
  auto dom = std::make_unique<FaultyDom>();
  FaultyDom* faulty = dom.get();
  auto profile = Open(std::move(dom));
  faulty->fail_set_text = true;
  profile->WriteInt(kPluginSection, "A", 2);
  profile->WriteString(kPluginSection, "A", "3");
  faulty->fail_set_text = false;
  faulty->fail_append = true;
  profile->WriteInt(kPluginSection, "New", 2);
  profile->WriteString(kPluginSection, "New", "2");
  EXPECT_EQ(
      platform_.message_boxes,
      (std::vector<std::string>{"Error writing profile int!", "Error writing profile string!",
                                "Error writing profile int!", "Error writing profile string!"}));
  EXPECT_FALSE(profile->dirty());
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(Saved(), xml);
}

TEST_F(ProfileXmlTest, WithoutADocumentReadsGiveDefaultsAndNothingIsWritten) {
  const std::string xml = "<profile><kelvro_mach_drv><A>1</A></kelvro_mach_drv></profile>";
  Put(xml);
  auto profile = Open(nullptr);
  EXPECT_EQ(platform_.message_boxes, (std::vector<std::string>{"Error creating XMLDoc instance!"}));
  EXPECT_EQ(profile->ReadInt(kPluginSection, "A", 9), 9);
  EXPECT_EQ(profile->ReadString(kPluginSection, "A", "d"), "d");
  profile->WriteInt(kPluginSection, "A", 5);
  profile->WriteString(kPluginSection, "B", "5");
  EXPECT_EQ(platform_.message_boxes.size(), 1u);
  EXPECT_FALSE(profile->Close());
  EXPECT_EQ(Saved(), xml);
}

TEST_F(ProfileXmlTest, InterruptedSaveLeavesTheOldFileWhole) {
  const std::string xml = "<profile><Preferences><Steps6>3.</Steps6></Preferences></profile>";
  Put(xml);
  auto dom = std::make_unique<FaultyDom>();
  dom->fail_save = true;
  auto profile = Open(std::move(dom));
  profile->WriteInt(kPluginSection, "A", 5);
  EXPECT_FALSE(profile->Close());
  EXPECT_EQ(Saved(), xml);
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"}));
}

TEST_F(ProfileXmlTest, SuccessfulSaveLeavesNoScratchFileBehind) {
  Put("<profile/>");
  auto profile = Open();
  profile->WriteInt(kPluginSection, "A", 5);
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"}));
  EXPECT_TRUE(profile->Close());  // a second close changes nothing
}

TEST_F(ProfileXmlTest, ReadOnlyProfileIsReadButNeverReplaced) {
  const std::string xml = "<profile><kelvro_mach_drv><A>1</A></kelvro_mach_drv></profile>";
  Put(xml);
  test::MakeReadOnly(path_, true);
  auto profile = Open();
  EXPECT_EQ(profile->ReadInt(kPluginSection, "A", 0), 1);
  profile->WriteInt(kPluginSection, "A", 2);
  EXPECT_FALSE(profile->Close());
  EXPECT_EQ(Saved(), xml);
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"}));
  test::MakeReadOnly(path_, false);
}

TEST_F(ProfileXmlTest, EmptyPathMeansNoFile) {
  ProfileXml profile("", platform_, MakeXmlDom());
  EXPECT_EQ(profile.ReadInt(kPluginSection, "A", 4), 4);
  profile.WriteInt(kPluginSection, "A", 5);
  EXPECT_EQ(profile.ReadInt(kPluginSection, "A", 4), 5);
  EXPECT_FALSE(profile.Close());
  EXPECT_TRUE(dir_.Entries().empty());
  EXPECT_FALSE(test::FileExists(".kelvro-new"));
}

}  // namespace
}  // namespace kelvro
