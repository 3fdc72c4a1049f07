// Helpers shared by the settings tests: temporary folders, whole-file access, and
// document decorators that record or break calls of the build's XmlDom.
//
// Only the XmlDom interface is used here, so the same tests run against every backend.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "settings/xml_dom.h"

namespace kelvro::test {

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const;
  // Names of the entries in the folder, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

bool WriteBytes(const std::string& path, const std::string& bytes);
// Whole file, or "<unreadable>" when it cannot be read.
std::string ReadBytes(const std::string& path);
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
void MakeReadOnly(const std::string& path, bool read_only);
void MakeDirectory(const std::string& path);

// Forwards every call to the build's document.
class ForwardingDom : public XmlDom {
 public:
  ForwardingDom() : inner_(MakeXmlDom()) {}
  XmlLoadOutcome Load(const std::string& path) override { return inner_->Load(path); }
  bool Save(const std::string& path) override { return inner_->Save(path); }
  XmlNode Document() override { return inner_->Document(); }
  XmlNode DocumentElement() override { return inner_->DocumentElement(); }
  XmlNode FindChild(XmlNode parent, const std::string& name) override {
    return inner_->FindChild(parent, name);
  }
  bool GetText(XmlNode element, std::string& text) override {
    return inner_->GetText(element, text);
  }
  bool SetText(XmlNode element, const std::string& text) override {
    return inner_->SetText(element, text);
  }
  XmlNode AppendNewElement(XmlNode parent, const std::string& name) override {
    return inner_->AppendNewElement(parent, name);
  }
  bool RemoveChild(XmlNode parent, XmlNode child) override {
    return inner_->RemoveChild(parent, child);
  }

 protected:
  std::unique_ptr<XmlDom> inner_;
};

// Records every key looked up below a section, as "section/key", in call order, and how
// often the document was saved.
class RecordingDom : public ForwardingDom {
 public:
  explicit RecordingDom(std::vector<std::string>* log, int* saves = nullptr)
      : log_(log), saves_(saves) {}
  bool Save(const std::string& path) override;
  XmlNode DocumentElement() override;
  XmlNode FindChild(XmlNode parent, const std::string& name) override;
  XmlNode AppendNewElement(XmlNode parent, const std::string& name) override;

 private:
  bool IsRoot(XmlNode node) const;

  std::vector<std::string>* log_;
  int* saves_;
  // Handles are not node identities (a COM document hands out a new one per call), so
  // remember every handle given out for the root and for each section.
  std::vector<void*> roots_;
  std::map<void*, std::string> sections_;
};

// A document whose text writes, element creation or saves fail on request. A failing
// save first writes a torn half of the document, as an interrupted write would.
class FaultyDom : public ForwardingDom {
 public:
  bool fail_set_text = false;
  bool fail_append = false;
  bool fail_save = false;
  bool Save(const std::string& path) override;
  bool SetText(XmlNode element, const std::string& text) override {
    return fail_set_text ? false : ForwardingDom::SetText(element, text);
  }
  XmlNode AppendNewElement(XmlNode parent, const std::string& name) override {
    return fail_append ? XmlNode{} : ForwardingDom::AppendNewElement(parent, name);
  }
};

// The markup with every empty element written as <name/>: the platform's DOM writes
// <name></name> that way, and it is the same element.
std::string CollapseEmptyElements(const std::string& xml);

// Start tags of the key elements inside <section>...</section> of a saved file, in order.
std::vector<std::string> KeysInSection(const std::string& xml, const std::string& section);
// Text of <key>...</key> inside the section, or "<absent>".
std::string KeyText(const std::string& xml, const std::string& section, const std::string& key);

// A profile shaped like the ones users publish: one line of XML with a CRLF at its end, no
// indentation, the host's sections with thousands of keys, empty values written as an
// open and a close tag, at least min_bytes long.
struct HostShape {
  std::string bom;             // bytes the file starts with
  std::string declaration;     // an XML declaration, or empty (the host writes none)
  std::string accent;          // an accented letter in the file's own encoding
  std::string plugin_section;  // the plugin's section as stored, or empty for none
  size_t min_bytes = 150 * 1024;
};
std::string HostShapedProfile(const HostShape& shape);
// The plugin's keys in the order a save writes them, with a laser curve of curve_points.
std::vector<std::string> PluginSaveKeys(int curve_points);

}  // namespace kelvro::test
