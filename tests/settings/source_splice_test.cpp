// The markup scanner and the splicer: where elements lie in a file, which files are not
// taken, and what the bytes are after each kind of change. Expected offsets and bytes are
// written out by hand.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "settings/source_splicer.h"
#include "settings/xml_source_map.h"

namespace kelvro {
namespace {

TEST(SourceMapTest, FindsEveryElementWithItsTagsInDocumentOrder) {
  // Offsets: declaration 0..20, <p a='>'> 21..29, <k>1</k > 30..38, <e/> 39..42, the
  // comment 43..54, </p> 55..58.
  const std::string t = "<?xml version=\"1.0\"?><p a='>'><k>1</k ><e/><!-- <x> --></p>\r\n";
  std::vector<SourceElement> e;
  ASSERT_TRUE(MapSourceElements(t, e));
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].name, "p");
  EXPECT_EQ(e[0].start, 21u);
  EXPECT_EQ(e[0].open_end, 30u);
  EXPECT_EQ(e[0].close_start, 55u);
  EXPECT_EQ(e[0].end, 59u);
  EXPECT_EQ(e[0].children, (std::vector<int>{1, 2}));
  EXPECT_EQ(e[0].parent, -1);
  EXPECT_EQ(t.substr(e[1].start, e[1].end - e[1].start), "<k>1</k >");
  EXPECT_EQ(t.substr(e[1].open_end, e[1].close_start - e[1].open_end), "1");
  EXPECT_EQ(e[1].parent, 0);
  EXPECT_FALSE(e[1].self_closing);
  EXPECT_EQ(t.substr(e[2].start, e[2].end - e[2].start), "<e/>");
  EXPECT_TRUE(e[2].self_closing);
  EXPECT_EQ(e[2].close_start, e[2].open_end);
}

TEST(SourceMapTest, SkipsMarkupThatHoldsAngleBrackets) {
  const std::string t =
      "<!DOCTYPE p [ <!ENTITY e \"<q>\"> <!-- ] > --> <?pi > ?> ]>"
      "<p><![CDATA[<no>]]><?x <no>?><!--<no>--><k b=\"/>\" c='\"'/></p>";
  std::vector<SourceElement> e;
  ASSERT_TRUE(MapSourceElements(t, e));
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].name, "k");
  EXPECT_TRUE(e[1].self_closing);
  EXPECT_EQ(t.substr(e[1].start, e[1].end - e[1].start), "<k b=\"/>\" c='\"'/>");
}

TEST(SourceMapTest, RefusesWhatIsNotOneClosedRootElement) {
  const char* const refused[] = {
      "",
      "  \r\n",
      "<a></a><b></b>",
      "text <a/>",
      "<a/> text",
      "<a><b></a></b>",
      "<a><b></b>",
      "</a>",
      "<a></b>",
      "<a><!-- open </a>",
      "<a><![CDATA[ open </a>",
      "<a b='open></a>",
      "<a><!bogus></a>",
      "<![CDATA[x]]><a/>",
      "<a/><!DOCTYPE a>",
      "<>",
      "< a/>",
  };
  for (const char* t : refused) {
    std::vector<SourceElement> e;
    EXPECT_FALSE(MapSourceElements(t, e)) << t;
  }
}

TEST(SourceMapTest, DeepNestingNeedsNoRecursion) {
  std::string t;
  for (int i = 0; i < 100000; ++i) t += "<a>";
  for (int i = 0; i < 100000; ++i) t += "</a>";
  std::vector<SourceElement> e;
  ASSERT_TRUE(MapSourceElements(t, e));
  EXPECT_EQ(e.size(), 100000u);
  EXPECT_EQ(e.back().parent, 99998);
}

TEST(SourceMapTest, TextOfContentIsWhatAParserReports) {
  EXPECT_EQ(TextOfContent("a<b>x</b><!--c-->&amp;<![CDATA[<raw>&amp;]]><?p q?>\r\nz",
                          TextEncoding::kUtf8),
            "ax&<raw>&amp;\nz");
  EXPECT_EQ(TextOfContent("caf\xE9<![CDATA[\xE9]]>", TextEncoding::kLatin1), "caf\xC3\xA9\xC3\xA9");
  EXPECT_EQ(TextOfContent("", TextEncoding::kUtf8), "");
}

// A splicer over text, with its elements numbered as the splicer numbers them.
SourceSplicer Over(const std::string& text) {
  std::vector<SourceElement> e;
  EXPECT_TRUE(MapSourceElements(text, e)) << text;
  SourceSplicer s;
  s.Reset(text, std::move(e));
  return s;
}

const std::string kHost =
    "<profile><Preferences><Encoder7Cal></Encoder7Cal><Units>0</Units></Preferences>"
    "<kelvro_mach_drv><A>1</A><B></B><C/></kelvro_mach_drv></profile>\r\n";
// Nodes of kHost: 1 profile, 2 Preferences, 3 Encoder7Cal, 4 Units, 5 kelvro_mach_drv,
// 6 A, 7 B, 8 C.

TEST(SourceSplicerTest, UnchangedDocumentRendersItsOwnBytes) {
  const SourceSplicer s = Over(kHost);
  EXPECT_EQ(s.Render(), kHost);
  EXPECT_EQ(s.Root(), 1);
  EXPECT_EQ(s.Children(1), (std::vector<int>{2, 5}));
  EXPECT_EQ(s.Name(3), "Encoder7Cal");
  EXPECT_TRUE(s.Unchanged(1));
  EXPECT_EQ(s.RenderContent(4), "0");
}

struct SpliceCase {
  const char* what;
  void (*edit)(SourceSplicer&);
  std::string expected;
};

TEST(SourceSplicerTest, EachChangeMakesOnlyItsOwnBytes) {
  const std::string head =
      "<profile><Preferences><Encoder7Cal></Encoder7Cal><Units>0</Units></Preferences>";
  const std::string tail = "</profile>\r\n";
  const SpliceCase cases[] = {
      {"content replaced", [](SourceSplicer& s) { s.SetContent(6, "42"); },
       head + "<kelvro_mach_drv><A>42</A><B></B><C/></kelvro_mach_drv>" + tail},
      {"content of an open-close pair", [](SourceSplicer& s) { s.SetContent(7, "x"); },
       head + "<kelvro_mach_drv><A>1</A><B>x</B><C/></kelvro_mach_drv>" + tail},
      {"emptied content keeps the open and close tag",
       [](SourceSplicer& s) { s.SetContent(6, ""); },
       head + "<kelvro_mach_drv><A></A><B></B><C/></kelvro_mach_drv>" + tail},
      {"empty-element tag gets content", [](SourceSplicer& s) { s.SetContent(8, "5"); },
       head + "<kelvro_mach_drv><A>1</A><B></B><C>5</C></kelvro_mach_drv>" + tail},
      {"empty-element tag set empty stays as it is", [](SourceSplicer& s) { s.SetContent(8, ""); },
       kHost},
      {"key removed", [](SourceSplicer& s) { s.Remove(5, 7); },
       head + "<kelvro_mach_drv><A>1</A><C/></kelvro_mach_drv>" + tail},
      {"key appended after the last one",
       [](SourceSplicer& s) {
         const int n = s.Append(5, "D");
         s.SetContent(n, "7");
       },
       head + "<kelvro_mach_drv><A>1</A><B></B><C/><D>7</D></kelvro_mach_drv>" + tail},
      {"new empty key as an open and close tag", [](SourceSplicer& s) { s.Append(5, "D"); },
       head + "<kelvro_mach_drv><A>1</A><B></B><C/><D></D></kelvro_mach_drv>" + tail},
      {"section appended as the root's last child",
       [](SourceSplicer& s) {
         const int sec = s.Append(1, "S");
         s.SetContent(s.Append(sec, "K"), "v");
       },
       head + "<kelvro_mach_drv><A>1</A><B></B><C/></kelvro_mach_drv><S><K>v</K></S>" + tail},
      {"child appended to an empty-element tag",
       [](SourceSplicer& s) { s.SetContent(s.Append(8, "K"), "1"); },
       head + "<kelvro_mach_drv><A>1</A><B></B><C><K>1</K></C></kelvro_mach_drv>" + tail},
      {"removed, then made again at the end",
       [](SourceSplicer& s) {
         s.Remove(5, 6);
         s.SetContent(s.Append(5, "A"), "2");
       },
       head + "<kelvro_mach_drv><B></B><C/><A>2</A></kelvro_mach_drv>" + tail},
      {"section content replaced, then a key added",
       [](SourceSplicer& s) {
         s.SetContent(5, "");
         s.SetContent(s.Append(5, "Z"), "9");
       },
       head + "<kelvro_mach_drv><Z>9</Z></kelvro_mach_drv>" + tail},
      {"changes below a removed element are gone with it",
       [](SourceSplicer& s) {
         s.SetContent(6, "3");
         s.Remove(1, 5);
       },
       head + tail},
  };
  for (const SpliceCase& c : cases) {
    SourceSplicer s = Over(kHost);
    c.edit(s);
    EXPECT_EQ(s.Render(), c.expected) << c.what;
  }
}

TEST(SourceSplicerTest, RefusesChangesThatWouldBreakTheDocument) {
  SourceSplicer s = Over(kHost);
  EXPECT_EQ(s.Append(SourceSplicer::kDocument, "second"), SourceSplicer::kNone);
  EXPECT_FALSE(s.Remove(SourceSplicer::kDocument, 1));
  EXPECT_FALSE(s.SetContent(SourceSplicer::kDocument, "x"));
  EXPECT_FALSE(s.Remove(5, 3));  // not a child of that element
  EXPECT_FALSE(s.SetContent(99, "x"));
  EXPECT_TRUE(s.Remove(5, 6));
  EXPECT_FALSE(s.Remove(5, 6));
  EXPECT_FALSE(s.SetContent(6, "x"));  // removed
  EXPECT_FALSE(s.Exists(6));
  EXPECT_EQ(s.Render(),
            "<profile><Preferences><Encoder7Cal></Encoder7Cal><Units>0</Units>"
            "</Preferences><kelvro_mach_drv><B></B><C/></kelvro_mach_drv>"
            "</profile>\r\n");
}

// The first child of a name, found by walking the children as they are now.
int FirstNamedByWalk(const SourceSplicer& s, int node, const std::string& name) {
  for (const int child : s.Children(node)) {
    if (s.Name(child) == name) return child;
  }
  return SourceSplicer::kNone;
}

TEST(SourceSplicerTest, ChildNamedIsTheFirstOfThatNameAfterEveryChange) {
  // Nodes: 1 r, 2 a, 3 b, 4 a, 5 c.
  SourceSplicer s = Over("<r><a>1</a><b/><a>2</a><c/></r>");
  const char* names[] = {"a", "b", "c", "d", "A"};
  const std::vector<std::pair<const char*, void (*)(SourceSplicer&)>> steps = {
      {"nothing changed", [](SourceSplicer&) {}},
      {"first a removed, the second is first now", [](SourceSplicer& t) { t.Remove(1, 2); }},
      {"a second b appended", [](SourceSplicer& t) { t.Append(1, "b"); }},
      {"a new name appended", [](SourceSplicer& t) { t.Append(1, "d"); }},
      {"the last a removed", [](SourceSplicer& t) { t.Remove(1, 4); }},
      {"a made again at the end", [](SourceSplicer& t) { t.Append(1, "a"); }},
      {"first b removed, the appended one is first", [](SourceSplicer& t) { t.Remove(1, 3); }},
      {"content replaced: no children left", [](SourceSplicer& t) { t.SetContent(1, "x"); }},
      {"a child appended to the replaced content", [](SourceSplicer& t) { t.Append(1, "c"); }},
  };
  const std::vector<int> expected_a = {
      2, 4, 4, 4, SourceSplicer::kNone, 8, 8, SourceSplicer::kNone, SourceSplicer::kNone};
  for (size_t i = 0; i < steps.size(); ++i) {
    steps[i].second(s);
    EXPECT_EQ(s.ChildNamed(1, "a"), expected_a[i]) << steps[i].first;
    for (const char* name : names) {
      EXPECT_EQ(s.ChildNamed(1, name), FirstNamedByWalk(s, 1, name))
          << steps[i].first << ", name " << name;
    }
  }
  EXPECT_EQ(s.ChildNamed(99, "a"), SourceSplicer::kNone);
}

TEST(SourceSplicerTest, DocumentWithoutAFileTakesOneRoot) {
  SourceSplicer s;
  s.Reset({}, {});
  EXPECT_EQ(s.Root(), SourceSplicer::kNone);
  const int root = s.Append(SourceSplicer::kDocument, "profile");
  ASSERT_NE(root, SourceSplicer::kNone);
  EXPECT_EQ(s.Append(SourceSplicer::kDocument, "other"), SourceSplicer::kNone);
  s.SetContent(s.Append(s.Append(root, "kelvro_mach_drv"), "A"), "1");
  EXPECT_EQ(s.Render(), "<profile><kelvro_mach_drv><A>1</A></kelvro_mach_drv></profile>");
  EXPECT_FALSE(s.Unchanged(root));
  EXPECT_TRUE(s.ContentIsNew(root));
}

}  // namespace
}  // namespace kelvro
