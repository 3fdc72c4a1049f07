// The profile's encodings: detection, lossless decoding and encoding of whole files, and
// text going in and out of element content. Expected bytes are written out by hand from
// the encodings' tables.
#include "settings/text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvro {
namespace {

using TE = TextEncoding;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (const int v : values) s.push_back(static_cast<char>(v));
  return s;
}

struct DetectCase {
  const char* what;
  std::string bytes;
  TE encoding;
  size_t bom_size;
};

TEST(TextCodecTest, DetectsTheEncodingFromMarkLayoutAndDeclaration) {
  const DetectCase cases[] = {
      {"host file, no declaration", "<profile></profile>\r\n", TE::kUtf8, 0},
      {"UTF-8 mark", "\xEF\xBB\xBF<profile/>", TE::kUtf8, 3},
      {"mark decides over the declaration",
       "\xEF\xBB\xBF<?xml version='1.0' encoding='ISO-8859-1'?><p/>", TE::kUtf8, 3},
      {"Latin-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><p/>", TE::kLatin1, 0},
      {"latin1 in lower case, spaces", "<?xml version='1.0' encoding = 'latin1' ?><p/>",
       TE::kLatin1, 0},
      {"windows-1252", "<?xml version=\"1.0\" encoding=\"Windows-1252\"?><p/>", TE::kWindows1252,
       0},
      {"another 8-bit set", "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?><p/>",
       TE::kOtherAsciiSet, 0},
      {"ASCII holds no other letters", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?><p/>",
       TE::kOtherAsciiSet, 0},
      {"declaration without encoding", "<?xml version=\"1.0\"?><p/>", TE::kUtf8, 0},
      {"UTF-16 LE mark", Bytes({0xFF, 0xFE, '<', 0, 'p', 0}), TE::kUtf16Le, 2},
      {"UTF-16 BE mark", Bytes({0xFE, 0xFF, 0, '<', 0, 'p'}), TE::kUtf16Be, 2},
      {"UTF-16 LE without mark", Bytes({'<', 0, 'p', 0}), TE::kUtf16Le, 0},
      {"UTF-16 BE without mark", Bytes({0, '<', 0, 'p'}), TE::kUtf16Be, 0},
      {"UTF-32 LE mark", Bytes({0xFF, 0xFE, 0, 0, '<', 0, 0, 0}), TE::kUtf32Le, 4},
      {"UTF-32 BE mark", Bytes({0, 0, 0xFE, 0xFF, 0, 0, 0, '<'}), TE::kUtf32Be, 4},
      {"UTF-32 LE without mark", Bytes({'<', 0, 0, 0}), TE::kUtf32Le, 0},
      {"empty", "", TE::kUtf8, 0},
  };
  for (const DetectCase& c : cases) {
    const SourceEncoding e = DetectEncoding(c.bytes);
    EXPECT_EQ(e.encoding, c.encoding) << c.what;
    EXPECT_EQ(e.bom, c.bytes.substr(0, c.bom_size)) << c.what;
  }
}

TEST(TextCodecTest, WideFilesBecomeUtf8AndComeBackByteForByte) {
  // "<a>é𝄞</a>": é is U+00E9, 𝄞 is U+1D11E (the surrogates D834 DD1E in UTF-16).
  const std::string working = "<a>\xC3\xA9\xF0\x9D\x84\x9E</a>";
  const std::string le = Bytes({0xFF, 0xFE, '<',  0,   'a', 0,   '>', 0,   0xE9, 0,   0x34,
                                0xD8, 0x1E, 0xDD, '<', 0,   '/', 0,   'a', 0,    '>', 0});
  const std::string be = Bytes(
      {0, '<', 0, 'a', 0, '>', 0, 0xE9, 0xD8, 0x34, 0xDD, 0x1E, 0, '<', 0, '/', 0, 'a', 0, '>'});
  const std::string utf32 =
      Bytes({0xFF, 0xFE, 0, 0, '<', 0, 0, 0, 0xE9, 0, 0, 0, 0x1E, 0xD1, 0x01, 0, '>', 0, 0, 0});
  for (const std::string* file : {&le, &be}) {
    const SourceEncoding e = DetectEncoding(*file);
    std::string decoded;
    ASSERT_TRUE(DecodeSource(*file, e, decoded));
    EXPECT_EQ(decoded, working);
    EXPECT_EQ(EncodeSource(decoded, e), *file);
  }
  std::string decoded;
  ASSERT_TRUE(DecodeSource(utf32, DetectEncoding(utf32), decoded));
  EXPECT_EQ(decoded, "<\xC3\xA9\xF0\x9D\x84\x9E>");
  EXPECT_EQ(EncodeSource(decoded, DetectEncoding(utf32)), utf32);
}

TEST(TextCodecTest, BrokenWideFilesAreRefused) {
  const std::string broken[] = {
      Bytes({0xFF, 0xFE, '<', 0, 'a'}),                 // odd length
      Bytes({0xFF, 0xFE, '<', 0, 0x34, 0xD8, '>', 0}),  // high surrogate without low
      Bytes({0xFF, 0xFE, '<', 0, 0x1E, 0xDD}),          // low surrogate alone
      Bytes({0xFF, 0xFE, 0, 0, 0, 0, 0x11, 0}),         // beyond U+10FFFF
  };
  for (const std::string& file : broken) {
    std::string decoded;
    EXPECT_FALSE(DecodeSource(file, DetectEncoding(file), decoded)) << file.size();
  }
}

TEST(TextCodecTest, EightBitFilesKeepTheirBytesAsWorkingText) {
  const std::string file = "\xEF\xBB\xBF<a>caf\xC3\xA9</a>\r\n";
  std::string working;
  ASSERT_TRUE(DecodeSource(file, DetectEncoding(file), working));
  EXPECT_EQ(working, "<a>caf\xC3\xA9</a>\r\n");
  EXPECT_EQ(EncodeSource(working, DetectEncoding(file)), file);
}

TEST(TextCodecTest, WorkingTextToUtf8FollowsEachCodePage) {
  EXPECT_EQ(WorkingToUtf8("caf\xE9 \x80", TE::kLatin1), "caf\xC3\xA9 \xC2\x80");
  // windows-1252: 0x80 is the euro sign U+20AC, 0x9F is U+0178, 0x81 is unused.
  EXPECT_EQ(WorkingToUtf8("\x80\x9F\x81\xE9", TE::kWindows1252),
            "\xE2\x82\xAC\xC5\xB8\xC2\x81\xC3\xA9");
  EXPECT_EQ(WorkingToUtf8("caf\xC3\xA9", TE::kUtf8), "caf\xC3\xA9");
}

struct EscapeCase {
  std::string utf8;
  TE encoding;
  std::string expected;
};

TEST(TextCodecTest, ContentIsEscapedSoThatItReadsBackAsWritten) {
  const EscapeCase cases[] = {
      {"a<b>&c]]>d", TE::kUtf8, "a&lt;b&gt;&amp;c]]&gt;d"},
      {"x\r\ny\tz\n", TE::kUtf8, "x&#13;\ny\tz\n"},
      {"\"q\" 'a'", TE::kUtf8, "\"q\" 'a'"},
      {"caf\xC3\xA9", TE::kUtf8, "caf\xC3\xA9"},
      {"caf\xC3\xA9", TE::kLatin1, "caf\xE9"},
      {"caf\xC3\xA9", TE::kUtf16Le, "caf\xC3\xA9"},  // working text of wide files is UTF-8
      {"\xE2\x82\xAC", TE::kLatin1, "&#8364;"},
      {"\xE2\x82\xAC", TE::kWindows1252, "\x80"},
      {"\xCE\xA9", TE::kWindows1252, "&#937;"},
      {"caf\xC3\xA9", TE::kOtherAsciiSet, "caf&#233;"},
      {"\xF0\x9D\x84\x9E", TE::kLatin1, "&#119070;"},
      {"", TE::kUtf8, ""},
  };
  for (const EscapeCase& c : cases) {
    std::string out;
    ASSERT_TRUE(EscapeContent(c.utf8, c.encoding, out)) << c.utf8;
    EXPECT_EQ(out, c.expected) << c.utf8;
    EXPECT_EQ(UnescapeContent(out, c.encoding), c.utf8) << "reads back";
  }
}

TEST(TextCodecTest, TextAnXmlFileCannotHoldIsRefused) {
  const std::string refused[] = {
      std::string("a\0b", 3),
      "bell\x07",
      "esc\x1B",
      "\xC3",              // truncated sequence
      "\xC0\xAF",          // overlong '/'
      "\xED\xA0\x80",      // a surrogate in UTF-8
      "\xEF\xBF\xBF",      // U+FFFF
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
  };
  for (const std::string& text : refused) {
    std::string out;
    EXPECT_FALSE(EscapeContent(text, TE::kUtf8, out)) << text;
  }
}

TEST(TextCodecTest, NamesAreEncodedWithoutReferences) {
  std::string out;
  EXPECT_TRUE(EncodeName("Steps6", TE::kUtf8, out));
  EXPECT_EQ(out, "Steps6");
  EXPECT_TRUE(EncodeName("DebPin0_ena", TE::kLatin1, out));
  EXPECT_TRUE(
      EncodeName("Gr\xC3\xB6\xC3\x9F"
                 "e",
                 TE::kLatin1, out));
  EXPECT_EQ(out,
            "Gr\xF6\xDF"
            "e");
  EXPECT_FALSE(EncodeName("\xE2\x82\xAC", TE::kLatin1, out));  // no byte, and no reference
  EXPECT_TRUE(EncodeName("\xE2\x82\xAC", TE::kWindows1252, out));
  EXPECT_EQ(out, "\x80");
  for (const char* bad : {"", "6x", "-x", "a b", "a<b", "a/b", "a&b", "a=b"}) {
    EXPECT_FALSE(EncodeName(bad, TE::kUtf8, out)) << bad;
  }
}

TEST(TextCodecTest, ContentIsReadAsAParserReportsIt) {
  EXPECT_EQ(UnescapeContent("&lt;&gt;&amp;&quot;&apos;", TE::kUtf8), "<>&\"'");
  EXPECT_EQ(UnescapeContent("&#65;&#x42;&#x43;", TE::kUtf8), "ABC");
  EXPECT_EQ(UnescapeContent("&#233;", TE::kLatin1), "\xC3\xA9");
  EXPECT_EQ(UnescapeContent("&shop; &#0; &#xD800; &#; & x", TE::kUtf8),
            "&shop; &#0; &#xD800; &#; & x");
  EXPECT_EQ(UnescapeContent("a\r\nb\rc\n", TE::kUtf8), "a\nb\nc\n");
  EXPECT_EQ(UnescapeContent("&#13;\r\n", TE::kUtf8), "\r\n");
  EXPECT_EQ(UnescapeContent("caf\xE9", TE::kLatin1), "caf\xC3\xA9");
}

TEST(TextCodecTest, PlainTextCrossesThePluginBoundaryUnchanged) {
  std::string utf8;
  ASSERT_TRUE(PluginTextToUtf8("C:\\Mach3\\zfile.txt", utf8));
  EXPECT_EQ(utf8, "C:\\Mach3\\zfile.txt");
  EXPECT_EQ(Utf8ToPluginText("1000."), "1000.");
}

}  // namespace
}  // namespace kelvro
