// The narrow XML document interface the profile accessor works through.
//
// Every decision about the profile (what to create, what to remove, when to save) is taken
// by ProfileXml above this interface. Below it, one implementation serves both builds
// (SourcePreservingDom): the build's parser reads the file (xml_parser.h), and changes are
// spliced into the file's own bytes, so everything the plugin did not touch stays exactly
// as it was.
//
// Text crosses this interface in the plugin's narrow character set: the ANSI code page in
// the DLL, UTF-8 natively.
#pragma once

#include <memory>
#include <string>

namespace kelvro {

// Handle of a node inside one XmlDom; valid until that document is destroyed. Handles are
// not identities: two lookups of the same node may give different handles.
struct XmlNode {
  void* handle = nullptr;
  explicit operator bool() const { return handle != nullptr; }
};

enum class XmlLoadOutcome {
  kLoaded,      // the file was read and parsed
  kMissing,     // no file, or an empty one: nothing there that could be lost
  kUnreadable,  // the file exists but cannot be read or is not well-formed XML
};

class XmlDom {
 public:
  virtual ~XmlDom() = default;

  // Replaces the document with the file's content. Whatever the outcome, the document is
  // usable afterwards (empty when the file could not be loaded).
  virtual XmlLoadOutcome Load(const std::string& path) = 0;
  // Writes the document to path (creating or truncating that file).
  virtual bool Save(const std::string& path) = 0;

  // The document node itself (parent of the document element).
  virtual XmlNode Document() = 0;
  // The root element, or none.
  virtual XmlNode DocumentElement() = 0;
  // First child element of parent whose name is exactly name, or none.
  virtual XmlNode FindChild(XmlNode parent, const std::string& name) = 0;
  // All text below the element, concatenated, with character references resolved.
  virtual bool GetText(XmlNode element, std::string& text) = 0;
  // Replaces the element's whole content with the text (no content for empty text).
  virtual bool SetText(XmlNode element, const std::string& text) = 0;
  // Creates an element and appends it after parent's last child.
  virtual XmlNode AppendNewElement(XmlNode parent, const std::string& name) = 0;
  // Removes child (and everything below it) from parent.
  virtual bool RemoveChild(XmlNode parent, XmlNode child) = 0;
};

// The document implementation of this build; null when none can be created.
std::unique_ptr<XmlDom> MakeXmlDom();

}  // namespace kelvro
