// XmlDom over the platform's XML DOM (MSXML 3 through COM), for the DLL.
//
// The document is created in process on the calling thread. Node handles are COM
// interface pointers kept alive by this object until it is destroyed. Text crosses the
// interface in the ANSI code page and is converted to and from UTF-16 for the DOM.
#pragma once

#include <string>
#include <vector>

#include "settings/xml_dom.h"

struct IXMLDOMDocument;
struct IXMLDOMNode;

namespace kelvro {

class ComXmlDom final : public XmlDom {
 public:
  // Creates the document object; ok() tells whether that worked.
  ComXmlDom();
  ~ComXmlDom() override;
  ComXmlDom(const ComXmlDom&) = delete;
  ComXmlDom& operator=(const ComXmlDom&) = delete;

  bool ok() const { return doc_ != nullptr; }

  XmlLoadOutcome Load(const std::string& path) override;
  bool Save(const std::string& path) override;
  XmlNode Document() override;
  XmlNode DocumentElement() override;
  XmlNode FindChild(XmlNode parent, const std::string& name) override;
  bool GetText(XmlNode element, std::string& text) override;
  bool SetText(XmlNode element, const std::string& text) override;
  XmlNode AppendNewElement(XmlNode parent, const std::string& name) override;
  bool RemoveChild(XmlNode parent, XmlNode child) override;

 private:
  XmlNode Keep(IXMLDOMNode* node);  // takes over one reference
  void ReleaseNodes();
  bool Configure();
  bool ReadsBackAsDocument(const std::string& path);

  IXMLDOMDocument* doc_ = nullptr;
  std::vector<IXMLDOMNode*> nodes_;  // every handle given out
  bool com_initialized_ = false;
  bool utf8_bom_ = false;          // the loaded file began with a UTF-8 byte order mark
  std::string declared_encoding_;  // of the loaded file's XML declaration, lower case
};

}  // namespace kelvro
