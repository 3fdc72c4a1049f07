#include "settings/source_preserving_dom.h"

#include <cstdint>
#include <utility>

#include "settings/file_replace.h"

namespace kelvro {
namespace {

XmlNode HandleOf(int node) {
  if (node < 0) return {};
  return XmlNode{reinterpret_cast<void*>(static_cast<uintptr_t>(node) + 1)};
}

int NodeOf(XmlNode handle) {
  if (!handle) return SourceSplicer::kNone;
  return static_cast<int>(reinterpret_cast<uintptr_t>(handle.handle) - 1);
}

}  // namespace

std::unique_ptr<XmlDom> MakeXmlDom() {
  auto dom = std::make_unique<SourcePreservingDom>();
  if (!dom->ok()) return nullptr;
  return dom;
}

SourcePreservingDom::SourcePreservingDom(ParserFactory make_parser)
    : make_parser_(make_parser), parser_(make_parser ? make_parser() : nullptr) {
  Clear();
}

void SourcePreservingDom::Clear() {
  encoding_ = SourceEncoding{};
  splicer_.Reset({}, {});
  parsed_.clear();
  encoded_names_.clear();
}

XmlLoadOutcome SourcePreservingDom::Load(const std::string& path) {
  try {
    Clear();
    if (!parser_) return XmlLoadOutcome::kUnreadable;
    std::string bytes;
    switch (ReadWholeFile(path, kMaxFileBytes, bytes)) {
      case FileReadOutcome::kRead:
        break;
      case FileReadOutcome::kMissing:
        return XmlLoadOutcome::kMissing;
      case FileReadOutcome::kUnreadable:
        return XmlLoadOutcome::kUnreadable;
    }
    // An empty file holds nothing that could be lost.
    if (bytes.empty()) return XmlLoadOutcome::kMissing;
    return LoadBytes(bytes);
  } catch (...) {
    Clear();
    return XmlLoadOutcome::kUnreadable;
  }
}

XmlLoadOutcome SourcePreservingDom::LoadBytes(const std::string& bytes) {
  Clear();
  const SourceEncoding encoding = DetectEncoding(bytes);
  std::string working;
  std::vector<SourceElement> elements;
  const bool loaded = parser_ && DecodeSource(bytes, encoding, working) &&
                      parser_->Parse(bytes, WorkingToUtf8(working, encoding.encoding)) &&
                      MapSourceElements(working, elements) &&
                      MatchParsedTree(elements, encoding.encoding);
  if (!loaded) {
    Clear();
    return XmlLoadOutcome::kUnreadable;
  }
  encoding_ = encoding;
  splicer_.Reset(std::move(working), std::move(elements));
  return XmlLoadOutcome::kLoaded;
}

// Walks the parser's elements beside the scanned ones and keeps the parser's handle for
// each: same names, same children, in the same order, or the file is not taken.
bool SourcePreservingDom::MatchParsedTree(const std::vector<SourceElement>& elements,
                                          TextEncoding encoding) {
  parsed_.assign(elements.size() + 1, XmlNode{});
  const auto same_name = [&](XmlNode node, int index) {
    std::string name;
    return node && parser_->Name(node, name) &&
           name == WorkingToUtf8(elements[static_cast<size_t>(index)].name, encoding);
  };
  const XmlNode root = parser_->Root();
  if (elements.empty() || !same_name(root, 0)) return false;
  parsed_[1] = root;
  std::vector<int> pending = {0};
  while (!pending.empty()) {
    const int index = pending.back();
    pending.pop_back();
    XmlNode child = parser_->FirstChildElement(parsed_[static_cast<size_t>(index) + 1]);
    for (const int c : elements[static_cast<size_t>(index)].children) {
      if (!same_name(child, c)) return false;
      parsed_[static_cast<size_t>(c) + 1] = child;
      pending.push_back(c);
      child = parser_->NextSiblingElement(child);
    }
    if (child) return false;
  }
  return true;
}

std::string SourcePreservingDom::Serialize() const {
  return EncodeSource(splicer_.Render(), encoding_);
}

bool SourcePreservingDom::Save(const std::string& path) {
  try {
    const std::string bytes = Serialize();
    return WriteWholeFile(path, bytes) && ReadsBackAsThisDocument(path, bytes);
  } catch (...) {
    return false;
  }
}

bool SourcePreservingDom::ReadsBackAsThisDocument(const std::string& path,
                                                  const std::string& bytes) {
  std::string back;
  if (ReadWholeFile(path, kMaxFileBytes, back) != FileReadOutcome::kRead || back != bytes) {
    return false;
  }
  SourcePreservingDom check(make_parser_);
  if (!check.ok() || check.LoadBytes(back) != XmlLoadOutcome::kLoaded ||
      !(check.encoding_ == encoding_)) {
    return false;
  }
  // Both documents side by side: the same elements everywhere, and every text the plugin
  // wrote reads back as written.
  std::vector<std::pair<int, int>> pending = {{SourceSplicer::kDocument, SourceSplicer::kDocument}};
  while (!pending.empty()) {
    const auto [mine, theirs] = pending.back();
    pending.pop_back();
    if (splicer_.ContentIsNew(mine)) {
      std::string mine_text;
      std::string their_text;
      if (!Utf8Text(mine, mine_text) || !check.Utf8Text(theirs, their_text) ||
          mine_text != their_text) {
        return false;
      }
    }
    const std::vector<int>& my_children = splicer_.Children(mine);
    const std::vector<int>& their_children = check.splicer_.Children(theirs);
    if (my_children.size() != their_children.size()) return false;
    for (size_t i = 0; i < my_children.size(); ++i) {
      if (splicer_.Name(my_children[i]) != check.splicer_.Name(their_children[i])) return false;
      pending.emplace_back(my_children[i], their_children[i]);
    }
  }
  return true;
}

XmlNode SourcePreservingDom::Document() {
  return HandleOf(SourceSplicer::kDocument);
}

XmlNode SourcePreservingDom::DocumentElement() {
  return HandleOf(splicer_.Root());
}

const std::string* SourcePreservingDom::EncodedName(const std::string& name) {
  auto [it, added] = encoded_names_.try_emplace(name);
  if (added) {
    std::string utf8;
    if (!PluginTextToUtf8(name, utf8) || !EncodeName(utf8, encoding_.encoding, it->second)) {
      it->second.clear();
    }
  }
  return it->second.empty() ? nullptr : &it->second;
}

XmlNode SourcePreservingDom::FindChild(XmlNode parent, const std::string& name) {
  const int p = NodeOf(parent);
  if (!splicer_.Exists(p)) return {};
  const std::string* wanted = EncodedName(name);
  if (!wanted) return {};
  return HandleOf(splicer_.ChildNamed(p, *wanted));
}

bool SourcePreservingDom::Utf8Text(int node, std::string& utf8) {
  if (node == SourceSplicer::kDocument || !splicer_.Exists(node)) return false;
  if (splicer_.Unchanged(node)) {
    return parser_->Text(parsed_[static_cast<size_t>(node)], utf8);
  }
  utf8 = TextOfContent(splicer_.RenderContent(node), encoding_.encoding);
  return true;
}

bool SourcePreservingDom::GetText(XmlNode element, std::string& text) {
  text.clear();
  std::string utf8;
  if (!Utf8Text(NodeOf(element), utf8)) return false;
  text = Utf8ToPluginText(utf8);
  return true;
}

bool SourcePreservingDom::SetText(XmlNode element, const std::string& text) {
  std::string utf8;
  std::string content;
  return PluginTextToUtf8(text, utf8) && EscapeContent(utf8, encoding_.encoding, content) &&
         splicer_.SetContent(NodeOf(element), std::move(content));
}

XmlNode SourcePreservingDom::AppendNewElement(XmlNode parent, const std::string& name) {
  const std::string* encoded = EncodedName(name);
  if (!encoded) return {};
  return HandleOf(splicer_.Append(NodeOf(parent), *encoded));
}

bool SourcePreservingDom::RemoveChild(XmlNode parent, XmlNode child) {
  return splicer_.Remove(NodeOf(parent), NodeOf(child));
}

}  // namespace kelvro
