// Where each element of a profile lies in its working text (see text_codec.h), found by a
// small scanner that knows just enough of XML to tell markup from text: start and end tags
// with quoted attribute values, comments, CDATA sections, processing instructions and a
// document type declaration with an internal subset.
//
// The scanner does not check well-formedness beyond the nesting of tags; the parser of the
// build does that. Both must agree on the elements before a file is edited.
#pragma once

#include <string>
#include <vector>

#include "settings/text_codec.h"

namespace kelvro {

struct SourceElement {
  std::string name;           // as written, in working text
  size_t start = 0;           // the '<' of the start tag
  size_t open_end = 0;        // one past the start tag's '>'
  size_t close_start = 0;     // the '<' of the end tag; open_end for an empty-element tag
  size_t end = 0;             // one past the end tag's '>'; open_end for an empty-element tag
  bool self_closing = false;  // written as <name/>
  int parent = -1;            // index of the parent element; -1 for the root
  std::vector<int> children;  // indexes of the child elements, in order
};

// The elements of the working text in document order (the root first). False unless the
// text is exactly one root element with nothing but white space, comments, processing
// instructions and a document type declaration around it, and every tag is closed by a
// matching end tag.
bool MapSourceElements(const std::string& text, std::vector<SourceElement>& elements);

// The text an XML parser reports for a piece of element content (markup of child
// elements included): character data and CDATA sections in order, as UTF-8, with
// references resolved; comments, processing instructions and tags left out.
std::string TextOfContent(const std::string& content, TextEncoding encoding);

}  // namespace kelvro
