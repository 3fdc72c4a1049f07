#include "settings/profile_xml.h"

#include <utility>

#include "settings/file_replace.h"
#include "settings/number_text.h"

namespace kelvro {
namespace {

constexpr const char* kRootName = "profile";
// The new document is written here first and then moved over the profile.
constexpr const char* kSaveSuffix = ".kelvro-new";

}  // namespace

ProfileXml::ProfileXml(std::string path, UserMessages& messages, std::unique_ptr<XmlDom> dom,
                       std::string own_section)
    : path_(std::move(path)),
      messages_(messages),
      dom_(std::move(dom)),
      own_section_(std::move(own_section)) {
  if (!dom_) {
    messages_.MessageBox("Error creating XMLDoc instance!", MessageBoxKind::kOk);
    return;
  }
  load_outcome_ = path_.empty() ? XmlLoadOutcome::kMissing : dom_->Load(path_);
  root_ = dom_->DocumentElement();
  if (!root_) {
    root_ = dom_->AppendNewElement(dom_->Document(), kRootName);
    if (root_) dirty_ = true;
  }
}

ProfileXml::~ProfileXml() {
  try {
    Close();
  } catch (...) {
    // Out of memory while saving: the old file stays as it was.
  }
}

XmlNode ProfileXml::Find(const std::string& section, const std::string& key,
                         XmlNode* section_node) {
  if (!dom_ || !root_) return {};
  const XmlNode sec = dom_->FindChild(root_, section);
  if (section_node) *section_node = sec;
  if (!sec) return {};
  return dom_->FindChild(sec, key);
}

XmlNode ProfileXml::FindOrCreate(const std::string& section, const std::string& key) {
  if (!dom_ || !root_) return {};
  XmlNode sec = dom_->FindChild(root_, section);
  if (!sec) {
    sec = dom_->AppendNewElement(root_, section);
    if (!sec) return {};
    dirty_ = true;
  }
  XmlNode node = dom_->FindChild(sec, key);
  if (!node) {
    node = dom_->AppendNewElement(sec, key);
    if (node) dirty_ = true;
  }
  return node;
}

bool ProfileXml::ReadText(const std::string& section, const std::string& key, std::string& text) {
  XmlNode sec;
  const XmlNode node = Find(section, key, &sec);
  if (!node) return false;
  if (!dom_->GetText(node, text)) return false;
  if (!text.empty()) return true;
  // An empty key is dropped from our own section so that the next save rewrites it with a
  // real value. The host's sections are left exactly as the host wrote them.
  if (section == own_section_ && dom_->RemoveChild(sec, node)) dirty_ = true;
  return false;
}

int ProfileXml::ReadInt(const std::string& section, const std::string& key, int default_value) {
  std::string text;
  if (!ReadText(section, key, text)) return default_value;
  return ParseLeadingInt(text);
}

std::string ProfileXml::ReadString(const std::string& section, const std::string& key,
                                   const std::string& default_value) {
  std::string text;
  if (!ReadText(section, key, text)) return default_value;
  return text;
}

bool ProfileXml::WriteText(const std::string& section, const std::string& key,
                           const std::string& text) {
  const XmlNode node = FindOrCreate(section, key);
  if (!node) return false;
  std::string old_text;
  const bool same = dom_->GetText(node, old_text) && old_text == text;
  if (same) return true;
  if (!dom_->SetText(node, text)) return false;
  dirty_ = true;
  return true;
}

void ProfileXml::WriteInt(const std::string& section, const std::string& key, int value) {
  if (!dom_) return;
  if (!WriteText(section, key, std::to_string(value))) {
    messages_.MessageBox("Error writing profile int!", MessageBoxKind::kOk);
  }
}

void ProfileXml::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
  if (!dom_) return;
  if (!WriteText(section, key, value)) {
    messages_.MessageBox("Error writing profile string!", MessageBoxKind::kOk);
  }
}

bool ProfileXml::SaveReplacing() {
  const std::string fresh = path_ + kSaveSuffix;
  if (!dom_->Save(fresh)) {
    RemoveFileQuietly(fresh);
    return false;
  }
  if (!ReplaceFileAtomically(fresh, path_)) {
    RemoveFileQuietly(fresh);
    return false;
  }
  return true;
}

bool ProfileXml::Close() {
  if (closed_) return close_result_;
  closed_ = true;
  if (!dom_) {
    close_result_ = false;
    return false;
  }
  closed_with_document_ = true;
  if (!dirty_) {
    close_result_ = true;
  } else if (path_.empty() || load_outcome_ == XmlLoadOutcome::kUnreadable) {
    // Never replace a profile we could not read: it may hold the whole machine setup.
    close_result_ = false;
  } else {
    close_result_ = SaveReplacing();
  }
  dom_.reset();
  return close_result_;
}

}  // namespace kelvro
