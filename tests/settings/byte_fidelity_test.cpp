// Files in unusual but well-formed shapes come back byte for byte, and text is converted
// between the file's encoding and the plugin's strings.
#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "profile_test_support.h"
#include "settings/profile_xml.h"
#include "sim/scripted_platform.h"

namespace kelvro {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

class ByteFidelityTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.File("profile.xml");
  sim::ScriptedPlatform platform_;
};

TEST_F(ByteFidelityTest, UnusualFormsSurviveAChangeElsewhere) {
  const std::string before =
      "\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1' ?>\r\n"
      "<!DOCTYPE profile [\r\n <!ENTITY shop \"Werkstatt\">\r\n]>\r\n"
      "<!----><?host-pi some data?>\r\n"
      "<profile  a='1'   b=\"x>y\"\r\n  c=\"&quot;&#233;\" >\r\n"
      " <Preferences>&shop; &#233;&#xE9; caf\xE9<![CDATA[ raw <b> ]]><![CDATA[]]><?pi data?>\r\n"
      "  <Empty></Empty>\r\n  <Self />\r\n  <Tight/>\r\n"
      "  <Steps6>2000.</Steps6 >\r\n </Preferences >\r\n";
  const std::string after = "</profile >\r\n<!-- after -->\r\n";
  ASSERT_TRUE(WriteBytes(path_, before + " <kelvro_mach_drv />\r\n" + after));
  {
    ProfileXml profile(path_, platform_, MakeXmlDom());
    ASSERT_EQ(profile.load_outcome(), XmlLoadOutcome::kLoaded);
    EXPECT_EQ(profile.ReadString(kHostSection, "Steps6", ""), "2000.");
    profile.WriteInt(kPluginSection, "A", 1);
    profile.WriteInt(kPluginSection, "B", 2);
    EXPECT_TRUE(profile.Close());
  }
  EXPECT_EQ(ReadBytes(path_),
            before + " <kelvro_mach_drv ><A>1</A><B>2</B></kelvro_mach_drv>\r\n" + after);
}

TEST_F(ByteFidelityTest, RemovedNodesLeaveNothingBehindForNewOnes) {
  const std::string xml =
      "<profile>\n<kelvro_mach_drv><A></A ><B>1</B ><E><x></x "
      "></E></kelvro_mach_drv>\n</profile>\n";
  ASSERT_TRUE(WriteBytes(path_, xml));
  {
    ProfileXml profile(path_, platform_, MakeXmlDom());
    EXPECT_EQ(profile.ReadInt(kPluginSection, "A", 3), 3);
    EXPECT_EQ(profile.ReadInt(kPluginSection, "E", 4), 4);
    profile.WriteInt(kPluginSection, "E", 9);
    for (int i = 0; i < 20; ++i) profile.WriteInt(kPluginSection, "N" + std::to_string(i), i);
    EXPECT_TRUE(profile.Close());
  }
  std::string expected = "<profile>\n<kelvro_mach_drv><B>1</B ><E>9</E>";
  for (int i = 0; i < 20; ++i) {
    expected +=
        "<N" + std::to_string(i) + ">" + std::to_string(i) + "</N" + std::to_string(i) + ">";
  }
  EXPECT_EQ(ReadBytes(path_), expected + "</kelvro_mach_drv>\n</profile>\n");
}

// Accented letters as the plugin's strings hold them, and a character Latin-1 has no byte
// for, with the reference that stands for it in the file.
#ifdef _WIN32
// The DLL's strings are in the ANSI code page, windows-1252 in the test prefix.
const std::string kEAcute = "\xE9";
const std::string kBeyondLatin1 = "\x80";  // the euro sign
const std::string kBeyondLatin1Stored = "&#8364;";
#else
const std::string kEAcute = "\xC3\xA9";
const std::string kBeyondLatin1 = "\xCE\xA9";  // capital omega
const std::string kBeyondLatin1Stored = "&#937;";
#endif

TEST_F(ByteFidelityTest, Latin1TextIsConvertedAtTheInterface) {
#ifdef _WIN32
  ASSERT_EQ(GetACP(), 1252u);
#endif
  const std::string head = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<profile>";
  ASSERT_TRUE(WriteBytes(path_, head + "<kelvro_mach_drv><ZFileName>caf\xE9.txt</ZFileName>"
                                       "</kelvro_mach_drv></profile>\n"));
  const std::string written = kEAcute + "t" + kEAcute + " " + kBeyondLatin1;
  {
    ProfileXml profile(path_, platform_, MakeXmlDom());
    EXPECT_EQ(profile.ReadString(kPluginSection, "ZFileName", ""), "caf" + kEAcute + ".txt");
    // Characters beyond Latin-1 are stored as character references.
    profile.WriteString(kPluginSection, "ZFileName", written);
    EXPECT_TRUE(profile.Close());
  }
  EXPECT_EQ(ReadBytes(path_), head + "<kelvro_mach_drv><ZFileName>\xE9t\xE9 " +
                                  kBeyondLatin1Stored +
                                  "</ZFileName></kelvro_mach_drv></profile>\n");
  ProfileXml again(path_, platform_, MakeXmlDom());
  EXPECT_EQ(again.ReadString(kPluginSection, "ZFileName", ""), written);
}

TEST_F(ByteFidelityTest, Utf16ProfileIsReadAndWrittenInItsEncoding) {
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<profile><Preferences><Steps6>2500.</Steps6>"
      "</Preferences></profile>\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : text) {
    utf16.push_back(c);
    utf16.push_back('\0');
  }
  ASSERT_TRUE(WriteBytes(path_, utf16));
  {
    ProfileXml profile(path_, platform_, MakeXmlDom());
    ASSERT_EQ(profile.load_outcome(), XmlLoadOutcome::kLoaded);
    EXPECT_EQ(profile.ReadString(kHostSection, "Steps6", ""), "2500.");
    profile.WriteInt(kPluginSection, "A", 7);
    EXPECT_TRUE(profile.Close());
  }
  const std::string saved = ReadBytes(path_);
  ASSERT_GE(saved.size(), 4u);
  EXPECT_EQ(saved.substr(0, 4), std::string("\xFF\xFE<\0", 4));
  ProfileXml again(path_, platform_, MakeXmlDom());
  EXPECT_EQ(again.ReadInt(kPluginSection, "A", 0), 7);
  EXPECT_EQ(again.ReadString(kHostSection, "Steps6", ""), "2500.");
}

}  // namespace
}  // namespace kelvro
