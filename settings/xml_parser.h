// The XML parser of the build, as the profile document uses it: it decides whether a file
// is well-formed and reads element names and texts the way the platform does. It never
// changes or writes anything; the document keeps its changes as splices into the file's
// own bytes (source_preserving_dom.h).
//
// Two implementations exist: the platform's XML DOM through COM in the DLL, and pugixml in
// the native build. Names and texts cross this interface as UTF-8.
#pragma once

#include <memory>
#include <string>

#include "settings/xml_dom.h"

namespace kelvro {

class XmlParser {
 public:
  virtual ~XmlParser() = default;

  // Parses one file: its bytes as read, and the same text as UTF-8 where the encoding is
  // known (for parsers that take only UTF-8). True when it is well-formed with a root
  // element. Handles given out before are invalid afterwards.
  virtual bool Parse(const std::string& file_bytes, const std::string& utf8) = 0;

  // The root element, or none.
  virtual XmlNode Root() = 0;
  // First child element, and the next element after one, or none.
  virtual XmlNode FirstChildElement(XmlNode parent) = 0;
  virtual XmlNode NextSiblingElement(XmlNode element) = 0;
  virtual bool Name(XmlNode element, std::string& utf8) = 0;
  // All text below the element, concatenated, with references resolved.
  virtual bool Text(XmlNode element, std::string& utf8) = 0;
};

// The parser of this build; null when none can be created.
std::unique_ptr<XmlParser> MakeXmlParser();

}  // namespace kelvro
