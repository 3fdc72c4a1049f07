// Access to single values of the host's XML profile, addressed by section and key.
//
// The profile is the host's own file with all of the machine's configuration, so the
// accessor is careful with it:
// - a file that exists but cannot be read or parsed is never written (reads give their
//   defaults);
// - the file is rewritten only when something changed, and always by writing a new file
//   beside it and moving that over the old one;
// - empty keys are pruned only from the plugin's own section; the host's sections are
//   never modified.
#pragma once

#include <memory>
#include <string>

#include "host/platform.h"
#include "settings/xml_dom.h"

namespace kelvro {

inline constexpr const char* kPluginSection = "kelvro_mach_drv";
inline constexpr const char* kHostSection = "Preferences";

class ProfileXml {
 public:
  // Opens the profile at path (taken unchanged; empty means no file). dom is the document
  // implementation to use; null shows "Error creating XMLDoc instance!" and leaves an
  // accessor whose reads give their defaults and whose writes do nothing.
  ProfileXml(std::string path, UserMessages& messages, std::unique_ptr<XmlDom> dom,
             std::string own_section = kPluginSection);
  ~ProfileXml();  // Close()

  ProfileXml(const ProfileXml&) = delete;
  ProfileXml& operator=(const ProfileXml&) = delete;

  int ReadInt(const std::string& section, const std::string& key, int default_value);
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& default_value);
  void WriteInt(const std::string& section, const std::string& key, int value);
  void WriteString(const std::string& section, const std::string& key, const std::string& value);

  // Saves the document if anything changed and releases it. Returns true when the file
  // holds the document's content afterwards (saved now, or nothing to save); false when
  // changes could not be saved. Later calls do nothing and return the same result.
  bool Close();

  bool has_document() const { return dom_ != nullptr || closed_with_document_; }
  XmlLoadOutcome load_outcome() const { return load_outcome_; }
  bool dirty() const { return dirty_; }

 private:
  XmlNode Find(const std::string& section, const std::string& key, XmlNode* section_node);
  XmlNode FindOrCreate(const std::string& section, const std::string& key);
  bool ReadText(const std::string& section, const std::string& key, std::string& text);
  bool WriteText(const std::string& section, const std::string& key, const std::string& text);
  bool SaveReplacing();

  std::string path_;
  UserMessages& messages_;
  std::unique_ptr<XmlDom> dom_;
  std::string own_section_;
  XmlNode root_;
  XmlLoadOutcome load_outcome_ = XmlLoadOutcome::kMissing;
  bool dirty_ = false;
  bool closed_ = false;
  bool closed_with_document_ = false;
  bool close_result_ = false;
};

}  // namespace kelvro
