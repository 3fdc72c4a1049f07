// The profile document's own safeguards, with the build's parser behind a wrapper that
// can be made to disagree: a file the parser and the scanner do not see alike is not taken,
// and a save whose file would read back differently does not replace the profile.
#include "settings/source_preserving_dom.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "profile_test_support.h"
#include "settings/profile_xml.h"
#include "settings/text_codec.h"
#include "sim/scripted_platform.h"

namespace kelvro {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// How the wrapped parser misreads, for every parser made while it is set.
struct Misreading {
  bool names = false;
  bool texts = false;
};
Misreading g_misreading;

class MisreadingParser final : public XmlParser {
 public:
  MisreadingParser() : inner_(MakeXmlParser()), how_(g_misreading) {}
  bool Parse(const std::string& bytes, const std::string& utf8) override {
    return inner_->Parse(bytes, utf8);
  }
  XmlNode Root() override { return inner_->Root(); }
  XmlNode FirstChildElement(XmlNode parent) override { return inner_->FirstChildElement(parent); }
  XmlNode NextSiblingElement(XmlNode e) override { return inner_->NextSiblingElement(e); }
  bool Name(XmlNode e, std::string& utf8) override {
    if (!inner_->Name(e, utf8)) return false;
    if (how_.names && utf8 == "B") utf8 = "b";
    return true;
  }
  bool Text(XmlNode e, std::string& utf8) override {
    if (!inner_->Text(e, utf8)) return false;
    if (how_.texts) utf8 += "?";
    return true;
  }

 private:
  std::unique_ptr<XmlParser> inner_;
  Misreading how_;
};

std::unique_ptr<XmlParser> MakeMisreadingParser() {
  return std::make_unique<MisreadingParser>();
}

class SourcePreservingDomTest : public ::testing::Test {
 protected:
  void TearDown() override { g_misreading = {}; }
  std::unique_ptr<ProfileXml> Open() {
    return std::make_unique<ProfileXml>(
        path_, platform_, std::make_unique<SourcePreservingDom>(MakeMisreadingParser));
  }

  TempDir dir_;
  std::string path_ = dir_.File("Mach3Mill.xml");
  sim::ScriptedPlatform platform_;
  const std::string xml_ = "<profile><A>1</A><B><C>2</C></B><kelvro_mach_drv/></profile>\r\n";
};

TEST_F(SourcePreservingDomTest, TheWrapperAloneChangesNothing) {
  ASSERT_TRUE(WriteBytes(path_, xml_));
  auto profile = Open();
  EXPECT_EQ(profile->load_outcome(), XmlLoadOutcome::kLoaded);
  profile->WriteInt(kPluginSection, "K", 4);
  EXPECT_TRUE(profile->Close());
  EXPECT_EQ(ReadBytes(path_),
            "<profile><A>1</A><B><C>2</C></B><kelvro_mach_drv><K>4</K></kelvro_mach_drv>"
            "</profile>\r\n");
}

TEST_F(SourcePreservingDomTest, ElementsTheParserSeesOtherwiseMakeTheFileUnreadable) {
  ASSERT_TRUE(WriteBytes(path_, xml_));
  g_misreading.names = true;
  auto profile = Open();
  EXPECT_EQ(profile->load_outcome(), XmlLoadOutcome::kUnreadable);
  EXPECT_EQ(profile->ReadInt("B", "C", 9), 9);
  profile->WriteInt(kPluginSection, "K", 4);
  EXPECT_FALSE(profile->Close());
  EXPECT_EQ(ReadBytes(path_), xml_);
}

TEST_F(SourcePreservingDomTest, ASaveThatWouldReadBackDifferentlyDoesNotReplaceTheProfile) {
  ASSERT_TRUE(WriteBytes(path_, xml_));
  auto profile = Open();
  ASSERT_EQ(profile->load_outcome(), XmlLoadOutcome::kLoaded);
  profile->WriteInt(kPluginSection, "K", 4);
  g_misreading.texts = true;  // the parser that reads the written file back
  EXPECT_FALSE(profile->Close());
  EXPECT_EQ(ReadBytes(path_), xml_);
  EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"Mach3Mill.xml"}));
}

TEST_F(SourcePreservingDomTest, SerializeShowsTheSplicedBytes) {
  ASSERT_TRUE(WriteBytes(path_, xml_));
  SourcePreservingDom dom;
  ASSERT_EQ(dom.Load(path_), XmlLoadOutcome::kLoaded);
  EXPECT_EQ(dom.Serialize(), xml_);
  const XmlNode b = dom.FindChild(dom.DocumentElement(), "B");
  std::string text;
  ASSERT_TRUE(dom.GetText(b, text));
  EXPECT_EQ(text, "2");
  ASSERT_TRUE(dom.SetText(dom.FindChild(b, "C"), "3 & 4"));
  ASSERT_TRUE(dom.GetText(b, text));
  EXPECT_EQ(text, "3 & 4");
  EXPECT_EQ(dom.Serialize(),
            "<profile><A>1</A><B><C>3 &amp; 4</C></B><kelvro_mach_drv/></profile>\r\n");
  EXPECT_TRUE(dom.RemoveChild(dom.DocumentElement(), b));
  EXPECT_FALSE(dom.GetText(b, text));
  EXPECT_FALSE(dom.AppendNewElement(dom.Document(), "second"));
  EXPECT_FALSE(dom.AppendNewElement(dom.DocumentElement(), "bad name"));
  EXPECT_EQ(dom.Serialize(), "<profile><A>1</A><kelvro_mach_drv/></profile>\r\n");
}

// A name is looked up as the loaded file writes it: one byte in an ISO-8859-1 file, two in a
// UTF-8 file, whichever file was loaded before.
TEST_F(SourcePreservingDomTest, NamesAreFoundInTheEncodingOfTheFileLoadedNow) {
  const std::string e_acute = Utf8ToPluginText("\xC3\xA9");
  const struct {
    const char* bytes;
    const char* text;
  } files[] = {
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><profile><\xE9>1</\xE9></profile>", "1"},
      {"<profile><\xC3\xA9>2</\xC3\xA9></profile>", "2"},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><profile><\xE9>3</\xE9></profile>", "3"},
  };
  SourcePreservingDom dom;
  for (const auto& file : files) {
    ASSERT_EQ(dom.LoadBytes(file.bytes), XmlLoadOutcome::kLoaded) << file.bytes;
    for (int lookup = 0; lookup < 2; ++lookup) {
      std::string text;
      ASSERT_TRUE(dom.GetText(dom.FindChild(dom.DocumentElement(), e_acute), text)) << file.bytes;
      EXPECT_EQ(text, file.text);
      EXPECT_FALSE(dom.FindChild(dom.DocumentElement(), "bad name"));
      EXPECT_FALSE(dom.AppendNewElement(dom.DocumentElement(), "bad name"));
    }
  }
  ASSERT_TRUE(dom.AppendNewElement(dom.DocumentElement(), e_acute));
  EXPECT_EQ(dom.Serialize(),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><profile><\xE9>3</\xE9><\xE9>"
            "</\xE9></profile>");
}

}  // namespace
}  // namespace kelvro
