// The profile document of both builds: the build's parser (pugixml natively, the
// platform's XML DOM in the DLL) decides whether the file is well-formed and reads names
// and texts; every change is kept as a splice into the file's own bytes, so a save leaves
// each byte outside the changed elements exactly as it was (layout, empty-element form,
// line ends, encoding, byte order mark).
//
// A file whose elements the scanner and the parser do not see alike is not loaded
// (kUnreadable): it could not be changed faithfully. A save reads the written file back
// and parses it again; it fails unless that gives this document's elements and texts.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "settings/source_splicer.h"
#include "settings/text_codec.h"
#include "settings/xml_dom.h"
#include "settings/xml_parser.h"

namespace kelvro {

class SourcePreservingDom final : public XmlDom {
 public:
  using ParserFactory = std::unique_ptr<XmlParser> (*)();
  // Files larger than this are not profiles; they are refused rather than loaded.
  static constexpr size_t kMaxFileBytes = 64u * 1024u * 1024u;

  explicit SourcePreservingDom(ParserFactory make_parser = MakeXmlParser);
  // A parser could be created.
  bool ok() const { return parser_ != nullptr; }

  XmlLoadOutcome Load(const std::string& path) override;
  bool Save(const std::string& path) override;
  XmlNode Document() override;
  XmlNode DocumentElement() override;
  XmlNode FindChild(XmlNode parent, const std::string& name) override;
  bool GetText(XmlNode element, std::string& text) override;
  bool SetText(XmlNode element, const std::string& text) override;
  XmlNode AppendNewElement(XmlNode parent, const std::string& name) override;
  bool RemoveChild(XmlNode parent, XmlNode child) override;

  // The file's bytes as a save would write them.
  std::string Serialize() const;
  // Replaces the document with a file's content given as bytes (Load reads them).
  XmlLoadOutcome LoadBytes(const std::string& bytes);

 private:
  void Clear();
  bool MatchParsedTree(const std::vector<SourceElement>& elements, TextEncoding encoding);
  bool Utf8Text(int node, std::string& utf8);
  bool ReadsBackAsThisDocument(const std::string& path, const std::string& bytes);
  // The plugin's name as this file writes names, or nullptr where the file cannot hold it.
  const std::string* EncodedName(const std::string& name);

  ParserFactory make_parser_;
  std::unique_ptr<XmlParser> parser_;
  SourceEncoding encoding_;
  SourceSplicer splicer_;
  std::vector<XmlNode> parsed_;  // the parser's element for each element of the file
  // Names already encoded for the file loaded now (empty: cannot be encoded).
  std::unordered_map<std::string, std::string> encoded_names_;
};

}  // namespace kelvro
