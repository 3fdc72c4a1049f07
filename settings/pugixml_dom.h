// The native build's XML parser, pugixml: well-formedness, element names and texts for the
// profile document (source_preserving_dom.h), which keeps the file's bytes itself.
#pragma once

#include <pugixml.hpp>
#include <string>

#include "settings/xml_parser.h"

namespace kelvro {

class PugiXmlParser final : public XmlParser {
 public:
  bool Parse(const std::string& file_bytes, const std::string& utf8) override;
  XmlNode Root() override;
  XmlNode FirstChildElement(XmlNode parent) override;
  XmlNode NextSiblingElement(XmlNode element) override;
  bool Name(XmlNode element, std::string& utf8) override;
  bool Text(XmlNode element, std::string& utf8) override;

 private:
  pugi::xml_document doc_;
};

}  // namespace kelvro
