#include "settings/source_splicer.h"

#include <algorithm>
#include <utility>

namespace kelvro {

void SourceSplicer::Reset(std::string text, std::vector<SourceElement> elements) {
  text_ = std::move(text);
  nodes_.clear();
  nodes_.reserve(elements.size() + 64);
  Node document;
  document.original = true;
  document.close_start = document.end = text_.size();
  nodes_.push_back(std::move(document));
  for (SourceElement& e : elements) {
    Node n;
    n.name = std::move(e.name);
    n.parent = e.parent + 1;  // element i is node i + 1; the root's parent is the document
    for (const int child : e.children) n.original_children.push_back(child + 1);
    n.children = n.original_children;
    n.original = true;
    n.self_closing = e.self_closing;
    n.start = e.start;
    n.open_end = e.open_end;
    n.close_start = e.close_start;
    n.end = e.end;
    nodes_.push_back(std::move(n));
  }
  if (nodes_.size() > 1) nodes_[kDocument].children = nodes_[kDocument].original_children = {1};
}

int SourceSplicer::Root() const {
  if (nodes_.empty() || nodes_[kDocument].children.empty()) return kNone;
  return nodes_[kDocument].children.front();
}

bool SourceSplicer::Exists(int node) const {
  for (int n = node; n != kNone; n = nodes_[static_cast<size_t>(n)].parent) {
    if (!Valid(n) || nodes_[static_cast<size_t>(n)].removed) return false;
  }
  return node != kNone;
}

const std::vector<int>& SourceSplicer::Children(int node) const {
  static const std::vector<int> kNoChildren;
  return Valid(node) ? nodes_[static_cast<size_t>(node)].children : kNoChildren;
}

const std::string& SourceSplicer::Name(int node) const {
  static const std::string kNoName;
  return Valid(node) ? nodes_[static_cast<size_t>(node)].name : kNoName;
}

int SourceSplicer::ChildNamed(int node, const std::string& name) const {
  if (!Valid(node)) return kNone;
  const Node& n = nodes_[static_cast<size_t>(node)];
  if (!n.indexed) {
    n.child_named.clear();
    for (const int child : n.children) n.child_named.emplace(Name(child), child);
    n.indexed = true;
  }
  const auto it = n.child_named.find(name);
  return it == n.child_named.end() ? kNone : it->second;
}

void SourceSplicer::DropIndex(int node) {
  Node& n = nodes_[static_cast<size_t>(node)];
  n.indexed = false;
  n.child_named.clear();
}

bool SourceSplicer::Unchanged(int node) const {
  return Valid(node) && nodes_[static_cast<size_t>(node)].original &&
         !nodes_[static_cast<size_t>(node)].touched;
}

bool SourceSplicer::ContentIsNew(int node) const {
  return node != kDocument && Valid(node) &&
         (nodes_[static_cast<size_t>(node)].replaced ||
          !nodes_[static_cast<size_t>(node)].original);
}

void SourceSplicer::Touch(int node) {
  for (int n = node; n != kNone && !nodes_[static_cast<size_t>(n)].touched;
       n = nodes_[static_cast<size_t>(n)].parent) {
    nodes_[static_cast<size_t>(n)].touched = true;
  }
}

bool SourceSplicer::SetContent(int node, std::string content) {
  if (node == kDocument || !Exists(node)) return false;
  Node& n = nodes_[static_cast<size_t>(node)];
  for (const int child : n.children) nodes_[static_cast<size_t>(child)].removed = true;
  n.children.clear();
  DropIndex(node);
  n.replaced = true;
  n.content = std::move(content);
  Touch(node);
  return true;
}

int SourceSplicer::Append(int parent, std::string name) {
  if (!Exists(parent) || (parent == kDocument && Root() != kNone)) return kNone;
  Node n;
  n.name = std::move(name);
  n.parent = parent;
  const int id = static_cast<int>(nodes_.size());
  nodes_.push_back(std::move(n));
  Node& p = nodes_[static_cast<size_t>(parent)];
  p.children.push_back(id);
  // The new child is the last, so an earlier one of the same name stays the first.
  if (p.indexed) p.child_named.emplace(nodes_[static_cast<size_t>(id)].name, id);
  Touch(parent);
  return id;
}

bool SourceSplicer::Remove(int parent, int child) {
  if (parent == kDocument || !Exists(parent)) return false;
  std::vector<int>& children = nodes_[static_cast<size_t>(parent)].children;
  const auto it = std::find(children.begin(), children.end(), child);
  if (it == children.end()) return false;
  children.erase(it);
  // A later child of the same name may be the first one now.
  DropIndex(parent);
  nodes_[static_cast<size_t>(child)].removed = true;
  Touch(parent);
  return true;
}

std::string SourceSplicer::Render() const {
  std::string out;
  out.reserve(text_.size() + 4096);
  if (!nodes_.empty()) AppendContent(kDocument, out);
  return out;
}

std::string SourceSplicer::RenderContent(int node) const {
  std::string out;
  if (Valid(node)) AppendContent(node, out);
  return out;
}

// Recurses only into changed elements (and elements made since the load): an unchanged
// element, however deep its own content, is copied as one piece.
void SourceSplicer::AppendNode(int node, std::string& out) const {
  const Node& n = nodes_[static_cast<size_t>(node)];
  if (n.original && !n.touched) {
    out.append(text_, n.start, n.end - n.start);
    return;
  }
  std::string inner;
  AppendContent(node, inner);
  if (!n.original) {
    // The host writes an empty element as an open and a close tag; so does the plugin.
    out += '<' + n.name + '>' + inner + "</" + n.name + '>';
  } else if (!n.self_closing) {
    out.append(text_, n.start, n.open_end - n.start);
    out += inner;
    out.append(text_, n.close_start, n.end - n.close_start);
  } else if (inner.empty()) {
    out.append(text_, n.start, n.end - n.start);
  } else {
    // <name attributes/> becomes <name attributes>content</name>.
    out.append(text_, n.start, n.open_end - 2 - n.start);
    out += '>' + inner + "</" + n.name + '>';
  }
}

void SourceSplicer::AppendContent(int node, std::string& out) const {
  const Node& n = nodes_[static_cast<size_t>(node)];
  if (n.replaced || !n.original) {
    out += n.content;
    for (const int child : n.children) AppendNode(child, out);
    return;
  }
  if (!n.touched) {
    out.append(text_, n.open_end, n.close_start - n.open_end);
    return;
  }
  size_t cursor = n.open_end;
  for (const int child : n.original_children) {
    const Node& c = nodes_[static_cast<size_t>(child)];
    out.append(text_, cursor, c.start - cursor);
    if (!c.removed) AppendNode(child, out);
    cursor = c.end;
  }
  out.append(text_, cursor, n.close_start - cursor);
  // Elements made since the load follow the existing content, just before the end tag.
  for (const int child : n.children) {
    if (!nodes_[static_cast<size_t>(child)].original) AppendNode(child, out);
  }
}

}  // namespace kelvro
