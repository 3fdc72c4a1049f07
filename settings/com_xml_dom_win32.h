// The DLL's XML parser: the platform's XML DOM (MSXML 3 through COM). It decides whether
// the profile is well-formed and reads names and texts for the profile document
// (source_preserving_dom.h), which keeps the file's bytes and writes them itself.
//
// The document object is created in process on the calling thread. Node handles are COM
// interface pointers kept alive by this object until the next parse or its destruction.
#pragma once

#include <string>
#include <vector>

#include "settings/xml_parser.h"

struct IXMLDOMDocument;
struct IXMLDOMNode;

namespace kelvro {

class ComXmlParser final : public XmlParser {
 public:
  // Creates the document object; ok() tells whether that worked.
  ComXmlParser();
  ~ComXmlParser() override;
  ComXmlParser(const ComXmlParser&) = delete;
  ComXmlParser& operator=(const ComXmlParser&) = delete;

  bool ok() const { return doc_ != nullptr; }

  bool Parse(const std::string& file_bytes, const std::string& utf8) override;
  XmlNode Root() override;
  XmlNode FirstChildElement(XmlNode parent) override;
  XmlNode NextSiblingElement(XmlNode element) override;
  bool Name(XmlNode element, std::string& utf8) override;
  bool Text(XmlNode element, std::string& utf8) override;

 private:
  XmlNode Keep(IXMLDOMNode* node);  // takes over one reference
  void ReleaseNodes();
  bool Configure();
  // The first element among node and its following siblings; takes over node's reference.
  XmlNode ElementFrom(IXMLDOMNode* node);

  IXMLDOMDocument* doc_ = nullptr;
  std::vector<IXMLDOMNode*> nodes_;  // every handle given out
  bool com_initialized_ = false;
};

}  // namespace kelvro
