#include "settings/pugixml_dom.h"

#include <memory>

namespace kelvro {
namespace {

// Texts are reported the way every XML processor reports them: references resolved, line
// ends as "\n", white space kept (also where an element holds nothing else).
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_ws_pcdata;

pugi::xml_node NodeOf(XmlNode n) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(n.handle));
}

XmlNode HandleOf(pugi::xml_node n) {
  return XmlNode{n.internal_object()};
}

pugi::xml_node ElementFrom(pugi::xml_node n) {
  while (n && n.type() != pugi::node_element) n = n.next_sibling();
  return n;
}

}  // namespace

std::unique_ptr<XmlParser> MakeXmlParser() {
  return std::make_unique<PugiXmlParser>();
}

// pugixml takes the UTF-8 form: it knows no windows-1252, and the document decides the
// encoding from the byte order mark and the declaration already.
bool PugiXmlParser::Parse(const std::string& /*file_bytes*/, const std::string& utf8) {
  const pugi::xml_parse_result r =
      doc_.load_buffer(utf8.data(), utf8.size(), kParseFlags, pugi::encoding_utf8);
  return r && doc_.document_element();
}

XmlNode PugiXmlParser::Root() {
  return HandleOf(doc_.document_element());
}

XmlNode PugiXmlParser::FirstChildElement(XmlNode parent) {
  if (!parent) return {};
  return HandleOf(ElementFrom(NodeOf(parent).first_child()));
}

XmlNode PugiXmlParser::NextSiblingElement(XmlNode element) {
  if (!element) return {};
  return HandleOf(ElementFrom(NodeOf(element).next_sibling()));
}

bool PugiXmlParser::Name(XmlNode element, std::string& utf8) {
  if (!element) return false;
  utf8 = NodeOf(element).name();
  return true;
}

bool PugiXmlParser::Text(XmlNode element, std::string& utf8) {
  utf8.clear();
  const pugi::xml_node top = NodeOf(element);
  if (!top) return false;
  // The subtree in document order, without recursion.
  pugi::xml_node n = top.first_child();
  while (n) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) utf8 += n.value();
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && n != top && !n.next_sibling()) n = n.parent();
    if (!n || n == top) break;
    n = n.next_sibling();
  }
  return true;
}

}  // namespace kelvro
