// XmlDom over pugixml, for the native build.
//
// The host's profile must come back byte for byte wherever the plugin did not change it.
// pugixml's own writer normalises quotes, empty elements and spacing inside tags, so this
// document keeps an untouched copy of the file and writes every node that came from the
// file with its original bytes (start tags with their attributes, end tags, declaration,
// comments, white space, character references); only new or changed content is generated.
//
// Single-byte documents (UTF-8, ISO-8859-1, windows-1252, ...) are kept in their own
// bytes; text crossing the interface is converted between the document's encoding and
// UTF-8. UTF-16/32 documents are converted by pugixml and written back in their encoding
// without the byte-exact guarantee.
#pragma once

#include <pugixml.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "settings/xml_dom.h"

namespace kelvro {

class PugiXmlDom final : public XmlDom {
 public:
  // Files larger than this are not profiles; they are refused rather than loaded.
  static constexpr size_t kMaxFileBytes = 64u * 1024u * 1024u;

  XmlLoadOutcome Load(const std::string& path) override;
  bool Save(const std::string& path) override;
  XmlNode Document() override;
  XmlNode DocumentElement() override;
  XmlNode FindChild(XmlNode parent, const std::string& name) override;
  bool GetText(XmlNode element, std::string& text) override;
  bool SetText(XmlNode element, const std::string& text) override;
  XmlNode AppendNewElement(XmlNode parent, const std::string& name) override;
  bool RemoveChild(XmlNode parent, XmlNode child) override;

  // The document as it would be saved.
  std::string Serialize() const;

 private:
  void Clear();
  XmlLoadOutcome Parse();
  bool MapSource();
  size_t MapNode(pugi::xml_node node, int depth);
  size_t LeafEnd(pugi::xml_node node) const;
  size_t SourceOffset(const char* p) const;
  size_t NodeStart(pugi::xml_node node) const;
  void Emit(pugi::xml_node node, std::string& out) const;
  void EmitElement(pugi::xml_node node, std::string& out) const;
  std::string EndTag(pugi::xml_node node) const;

  pugi::xml_document doc_;
  std::string source_;        // the file as read
  std::vector<char> parsed_;  // copy parsed in place: original names and texts point here
  bool wide_ = false;         // UTF-16/32 document: converted, written by pugixml
  bool latin1_ = false;       // single-byte document in ISO-8859-1 / windows-1252
  bool bom_ = false;
  pugi::xml_encoding wide_encoding_ = pugi::encoding_utf8;
  // Keyed by the offset at which the node starts in the file, so that nodes made after
  // the load (which may reuse a removed node's memory) never pick them up.
  // White space before each top-level node, and after the last one.
  std::unordered_map<size_t, std::string> leading_space_;
  std::string trailing_space_;
  // End tags written differently from "</name>" in the file (e.g. "</name >").
  std::unordered_map<size_t, std::string> end_tags_;
};

}  // namespace kelvro
