// Changes to a profile kept as splices into its original text: every element the plugin
// did not change is written back with exactly the bytes it had (tags, attributes, white
// space, empty-element form, line ends); only the content of changed elements, new
// elements and the removal of elements make new text.
//
// Nodes are numbered: 0 is the document, 1..n are the elements of the file in document
// order, later numbers are elements made since. Numbers are never reused.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "settings/xml_source_map.h"

namespace kelvro {

class SourceSplicer {
 public:
  static constexpr int kDocument = 0;
  static constexpr int kNone = -1;

  // Starts over with the working text of a file and its element map; an empty text and no
  // elements for a document without a file.
  void Reset(std::string text, std::vector<SourceElement> elements);

  // The document element, or kNone.
  int Root() const;
  // True for the document and for elements that exist and are not below a removed one.
  bool Exists(int node) const;
  // Child elements in their order now.
  const std::vector<int>& Children(int node) const;
  // The element's name as written (working text).
  const std::string& Name(int node) const;
  // The node's first child element named name (working text), or kNone. Settings look up
  // every key by name, so each node keeps an index of its children by name, made on the
  // first lookup and kept up to date from then on.
  int ChildNamed(int node, const std::string& name) const;
  // The element came from the file and neither it nor anything below it changed.
  bool Unchanged(int node) const;
  // The element's content was written since the load (set, or the element is new).
  bool ContentIsNew(int node) const;

  // Replaces everything inside the element by content (working text, already escaped).
  bool SetContent(int node, std::string content);
  // Makes an element named name (working text) after the parent's last child; its number,
  // or kNone. The document takes no second root.
  int Append(int parent, std::string name);
  // Removes a child element and everything below it. The root is not removed.
  bool Remove(int parent, int child);

  // The working text of the whole document with all changes.
  std::string Render() const;
  // What lies between the element's start and end tag now.
  std::string RenderContent(int node) const;

 private:
  struct Node {
    std::string name;
    int parent = kNone;
    std::vector<int> children;           // now
    std::vector<int> original_children;  // as in the file
    bool original = false;
    bool self_closing = false;
    size_t start = 0, open_end = 0, close_start = 0, end = 0;
    bool removed = false;
    bool replaced = false;  // content set since the load
    std::string content;
    bool touched = false;  // it or something below it changed
    // First child of each name, while indexed is true.
    mutable std::unordered_map<std::string, int> child_named;
    mutable bool indexed = false;
  };

  bool Valid(int node) const { return node >= 0 && static_cast<size_t>(node) < nodes_.size(); }
  void Touch(int node);
  void DropIndex(int node);
  void AppendNode(int node, std::string& out) const;
  void AppendContent(int node, std::string& out) const;

  std::string text_;
  std::vector<Node> nodes_;
};

}  // namespace kelvro
