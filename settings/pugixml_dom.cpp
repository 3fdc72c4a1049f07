#include "settings/pugixml_dom.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kelvro {
namespace {

constexpr size_t kNpos = std::string::npos;
// Deeper documents are not profiles; refusing them keeps the recursion bounded.
constexpr int kMaxDepth = 256;

// Parsing keeps the text exactly as in the file: no entity expansion, no line-end or
// attribute white-space normalisation, and every comment, declaration, processing
// instruction and white-space text node stays in the tree.
constexpr unsigned kParseFlags = pugi::parse_cdata | pugi::parse_comments | pugi::parse_pi |
                                 pugi::parse_declaration | pugi::parse_doctype |
                                 pugi::parse_ws_pcdata;

pugi::xml_node NodeOf(XmlNode n) {
  return pugi::xml_node(static_cast<pugi::xml_node_struct*>(n.handle));
}
XmlNode HandleOf(pugi::xml_node n) {
  return XmlNode{n.internal_object()};
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool AllSpace(const std::string& s, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (!IsSpace(s[i])) return false;
  }
  return true;
}

// Index of the '>' that ends the tag whose name starts at from, skipping quoted values.
size_t TagEnd(const std::string& s, size_t from) {
  char quote = 0;
  for (size_t i = from; i < s.size(); ++i) {
    const char c = s[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return kNpos;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool IsLatin1Name(const std::string& encoding) {
  const std::string e = Lower(encoding);
  return e == "iso-8859-1" || e == "iso8859-1" || e == "iso_8859-1" || e == "latin1" ||
         e == "latin-1" || e == "l1" || e == "windows-1252" || e == "cp1252";
}

void AppendUtf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Latin1ToUtf8(const char* s) {
  std::string out;
  for (; *s; ++s) AppendUtf8(out, static_cast<unsigned char>(*s));
  return out;
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when it is not valid.
size_t DecodeUtf8(const std::string& s, size_t i, unsigned& cp) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len = 0;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    cp = c & 0x1F;
    len = 2;
  } else if ((c & 0xF0) == 0xE0) {
    cp = c & 0x0F;
    len = 3;
  } else if ((c & 0xF8) == 0xF0) {
    cp = c & 0x07;
    len = 4;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  return len;
}

// Text as it is stored between tags: markup characters escaped, and in a single-byte
// Latin-1 document every character above 0xFF as a character reference.
std::string EscapeForDocument(const std::string& text, bool latin1) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (latin1 && static_cast<unsigned char>(c) >= 0x80) {
      unsigned cp = 0;
      const size_t len = DecodeUtf8(text, i, cp);
      if (len == 0) {
        out.push_back(c);  // not UTF-8: keep the byte as it is
        ++i;
        continue;
      }
      if (cp <= 0xFF) {
        out.push_back(static_cast<char>(cp));
      } else {
        out += "&#" + std::to_string(cp) + ";";
      }
      i += len;
      continue;
    } else {
      out.push_back(c);
    }
    ++i;
  }
  return out;
}

// Resolves the predefined entities and character references; unknown references stay.
// Line ends are normalised to "\n" as every XML processor reports them.
std::string UnescapeText(const std::string& raw) {
  std::string out;
  for (size_t i = 0; i < raw.size();) {
    const char c = raw[i];
    if (c == '\r') {
      out.push_back('\n');
      i += (i + 1 < raw.size() && raw[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    if (c != '&') {
      out.push_back(c);
      ++i;
      continue;
    }
    const size_t semi = raw.find(';', i);
    if (semi == kNpos || semi - i > 12) {
      out.push_back(c);
      ++i;
      continue;
    }
    const std::string name = raw.substr(i + 1, semi - i - 1);
    bool done = true;
    if (name == "lt") {
      out.push_back('<');
    } else if (name == "gt") {
      out.push_back('>');
    } else if (name == "amp") {
      out.push_back('&');
    } else if (name == "quot") {
      out.push_back('"');
    } else if (name == "apos") {
      out.push_back('\'');
    } else if (name.size() >= 2 && name[0] == '#') {
      const bool hex = name[1] == 'x';
      unsigned long cp = 0;
      bool ok = name.size() > (hex ? 2u : 1u);
      for (size_t k = hex ? 2 : 1; k < name.size() && ok; ++k) {
        const char d = name[k];
        int v = -1;
        if (d >= '0' && d <= '9') v = d - '0';
        if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
        if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
        if (v < 0) ok = false;
        cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(v < 0 ? 0 : v);
        if (cp > 0x10FFFF) ok = false;
      }
      ok = ok && cp != 0 && !(cp >= 0xD800 && cp <= 0xDFFF);
      if (ok) {
        AppendUtf8(out, static_cast<unsigned>(cp));
      } else {
        done = false;
      }
    } else {
      done = false;
    }
    if (done) {
      i = semi + 1;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return out;
}

class StringWriter final : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  // The new file must be on disk before it replaces the old one.
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace

std::unique_ptr<XmlDom> MakeXmlDom() {
  return std::make_unique<PugiXmlDom>();
}

void PugiXmlDom::Clear() {
  doc_.reset();
  source_.clear();
  parsed_.clear();
  wide_ = latin1_ = bom_ = false;
  wide_encoding_ = pugi::encoding_utf8;
  leading_space_.clear();
  trailing_space_.clear();
  end_tags_.clear();
}

XmlLoadOutcome PugiXmlDom::Load(const std::string& path) {
  try {
    Clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      return (errno == ENOENT || errno == ENOTDIR) ? XmlLoadOutcome::kMissing
                                                   : XmlLoadOutcome::kUnreadable;
    }
    if (!S_ISREG(st.st_mode)) return XmlLoadOutcome::kUnreadable;
    if (st.st_size == 0) return XmlLoadOutcome::kMissing;
    if (static_cast<unsigned long long>(st.st_size) > kMaxFileBytes) {
      return XmlLoadOutcome::kUnreadable;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return XmlLoadOutcome::kUnreadable;
    char chunk[65536];
    bool ok = true;
    for (;;) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      source_.append(chunk, static_cast<size_t>(n));
      if (source_.size() > kMaxFileBytes) {
        ok = false;
        break;
      }
    }
    ::close(fd);
    if (!ok) {
      Clear();
      return XmlLoadOutcome::kUnreadable;
    }
    if (source_.empty()) return XmlLoadOutcome::kMissing;
    const XmlLoadOutcome outcome = Parse();
    if (outcome != XmlLoadOutcome::kLoaded) Clear();
    return outcome;
  } catch (...) {
    Clear();
    return XmlLoadOutcome::kUnreadable;
  }
}

XmlLoadOutcome PugiXmlDom::Parse() {
  const auto byte = [&](size_t i) {
    return i < source_.size() ? static_cast<unsigned char>(source_[i]) : 0x100u;
  };
  // UTF-16/32: byte order marks or zero bytes among the first four.
  bool zero = false;
  for (size_t i = 0; i < 4 && i < source_.size(); ++i) zero = zero || byte(i) == 0;
  wide_ = zero || (byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0xFF && byte(1) == 0xFE);
  if (wide_) {
    const pugi::xml_parse_result r =
        doc_.load_buffer(source_.data(), source_.size(), kParseFlags, pugi::encoding_auto);
    if (!r || !doc_.document_element()) return XmlLoadOutcome::kUnreadable;
    wide_encoding_ = r.encoding;
    bom_ = (byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0xFF && byte(1) == 0xFE) ||
           (byte(0) == 0 && byte(1) == 0 && byte(2) == 0xFE && byte(3) == 0xFF);
    return XmlLoadOutcome::kLoaded;
  }

  // Single-byte encodings are parsed as they are, so every original name and text points
  // into parsed_ at the same offset as in source_.
  bom_ = byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF;
  parsed_.assign(source_.begin(), source_.end());
  const pugi::xml_parse_result r =
      doc_.load_buffer_inplace(parsed_.data(), parsed_.size(), kParseFlags, pugi::encoding_utf8);
  if (!r) return XmlLoadOutcome::kUnreadable;
  const pugi::xml_node decl = doc_.first_child();
  if (decl.type() == pugi::node_declaration) {
    latin1_ = IsLatin1Name(decl.attribute("encoding").value());
  }
  return MapSource() ? XmlLoadOutcome::kLoaded : XmlLoadOutcome::kUnreadable;
}

size_t PugiXmlDom::SourceOffset(const char* p) const {
  if (parsed_.empty() || p < parsed_.data() || p >= parsed_.data() + parsed_.size()) {
    return kNpos;
  }
  return static_cast<size_t>(p - parsed_.data());
}

// Offset of the '<' that opens an original node, or npos for nodes made since the load.
size_t PugiXmlDom::NodeStart(pugi::xml_node node) const {
  const size_t name = SourceOffset(node.name());
  const size_t value = SourceOffset(node.value());
  switch (node.type()) {
    case pugi::node_element:
      return name == kNpos || name < 1 ? kNpos : name - 1;
    case pugi::node_declaration:
    case pugi::node_pi:
      return name == kNpos || name < 2 ? kNpos : name - 2;
    case pugi::node_pcdata:
      return value;
    case pugi::node_cdata:
      return value == kNpos || value < 9 ? kNpos : value - 9;
    case pugi::node_comment:
      return value == kNpos || value < 4 ? kNpos : value - 4;
    case pugi::node_doctype:
      return value == kNpos ? kNpos : source_.rfind("<!", value);
    default:
      return kNpos;
  }
}

// Checks that the tree covers the file exactly and records what the writer cannot derive
// from the tree: white space between top-level nodes and unusual end tags. A file that
// does not pass (text outside the root, several roots) is not a well-formed profile.
bool PugiXmlDom::MapSource() {
  size_t pos = bom_ ? 3 : 0;
  int elements = 0;
  for (pugi::xml_node child = doc_.first_child(); child; child = child.next_sibling()) {
    const size_t start = NodeStart(child);
    if (start == kNpos || start < pos || !AllSpace(source_, pos, start)) return false;
    leading_space_[start] = source_.substr(pos, start - pos);
    pos = MapNode(child, 0);
    if (pos == kNpos) return false;
    if (child.type() == pugi::node_element) ++elements;
  }
  if (elements != 1 || !AllSpace(source_, pos, source_.size())) return false;
  trailing_space_ = source_.substr(pos);
  return true;
}

// End offset (one past) of an original node other than an element, or npos.
size_t PugiXmlDom::LeafEnd(pugi::xml_node node) const {
  const size_t start = NodeStart(node);
  if (start == kNpos) return kNpos;
  switch (node.type()) {
    case pugi::node_pcdata:
      return start + std::strlen(node.value());
    case pugi::node_cdata:
    case pugi::node_comment: {
      const size_t end = SourceOffset(node.value()) + std::strlen(node.value()) + 3;
      return end <= source_.size() ? end : kNpos;
    }
    case pugi::node_declaration:
    case pugi::node_pi: {
      const size_t end = source_.find("?>", start + 2);
      return end == kNpos ? kNpos : end + 2;
    }
    case pugi::node_doctype: {
      // The value holds any internal subset, so the doctype ends at the '>' after it.
      const size_t end = source_.find('>', SourceOffset(node.value()) + std::strlen(node.value()));
      return end == kNpos ? kNpos : end + 1;
    }
    default:
      return kNpos;
  }
}

// End offset (one past) of an original node in source_, or npos.
size_t PugiXmlDom::MapNode(pugi::xml_node node, int depth) {
  if (depth > kMaxDepth) return kNpos;
  if (node.type() != pugi::node_element) return LeafEnd(node);
  const size_t start = NodeStart(node);
  if (start == kNpos) return kNpos;
  const size_t gt = TagEnd(source_, start + 1);
  if (gt == kNpos) return kNpos;
  if (source_[gt - 1] == '/') return node.first_child() ? kNpos : gt + 1;
  size_t pos = gt + 1;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (NodeStart(child) != pos) return kNpos;
    pos = MapNode(child, depth + 1);
    if (pos == kNpos) return kNpos;
  }
  if (source_.compare(pos, 2, "</") != 0) return kNpos;
  const size_t end_gt = source_.find('>', pos);
  if (end_gt == kNpos) return kNpos;
  const std::string end_tag = source_.substr(pos, end_gt + 1 - pos);
  if (end_tag != std::string("</") + node.name() + ">") end_tags_[start] = end_tag;
  return end_gt + 1;
}

std::string PugiXmlDom::EndTag(pugi::xml_node node) const {
  const size_t start = NodeStart(node);
  const auto it = start == kNpos ? end_tags_.end() : end_tags_.find(start);
  return it != end_tags_.end() ? it->second : std::string("</") + node.name() + ">";
}

void PugiXmlDom::EmitElement(pugi::xml_node node, std::string& out) const {
  const size_t start = NodeStart(node);
  const size_t gt = start == kNpos ? kNpos : TagEnd(source_, start + 1);
  if (gt == kNpos) {
    // Made since the load: plain form.
    out += '<';
    out += node.name();
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      out += ' ';
      out += a.name();
      out += "=\"";
      out += a.value();
      out += '"';
    }
    if (!node.first_child()) {
      out += "/>";
      return;
    }
    out += '>';
  } else {
    const bool self_closing = source_[gt - 1] == '/';
    if (!node.first_child()) {
      out.append(source_, start, gt + 1 - start);
      if (!self_closing) out += EndTag(node);
      return;
    }
    if (self_closing) {
      out.append(source_, start, gt - 1 - start);
      out += '>';
    } else {
      out.append(source_, start, gt + 1 - start);
    }
  }
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    Emit(child, out);
  }
  out += EndTag(node);
}

void PugiXmlDom::Emit(pugi::xml_node node, std::string& out) const {
  switch (node.type()) {
    case pugi::node_document:
      if (bom_) out += "\xEF\xBB\xBF";
      for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        const auto it = leading_space_.find(NodeStart(child));
        if (it != leading_space_.end()) out += it->second;
        Emit(child, out);
      }
      out += trailing_space_;
      return;
    case pugi::node_element:
      EmitElement(node, out);
      return;
    case pugi::node_pcdata:
      out += node.value();
      return;
    case pugi::node_cdata:
      out += "<![CDATA[";
      out += node.value();
      out += "]]>";
      return;
    case pugi::node_comment:
      out += "<!--";
      out += node.value();
      out += "-->";
      return;
    case pugi::node_declaration:
    case pugi::node_pi:
    case pugi::node_doctype: {
      const size_t start = NodeStart(node);
      const size_t end = LeafEnd(node);
      if (start != kNpos && end != kNpos) {
        out.append(source_, start, end - start);
        return;
      }
      StringWriter writer(out);
      node.print(writer, "", pugi::format_raw | pugi::format_no_escapes);
      return;
    }
    default:
      return;
  }
}

std::string PugiXmlDom::Serialize() const {
  std::string out;
  if (wide_) {
    StringWriter writer(out);
    unsigned flags = pugi::format_raw | pugi::format_no_escapes | pugi::format_no_declaration;
    if (bom_) flags |= pugi::format_write_bom;
    doc_.save(writer, "", flags, wide_encoding_);
    return out;
  }
  Emit(doc_, out);
  return out;
}

bool PugiXmlDom::Save(const std::string& path) {
  try {
    return WriteWholeFile(path, Serialize());
  } catch (...) {
    return false;
  }
}

XmlNode PugiXmlDom::Document() {
  return HandleOf(doc_);
}

XmlNode PugiXmlDom::DocumentElement() {
  return HandleOf(doc_.document_element());
}

XmlNode PugiXmlDom::FindChild(XmlNode parent, const std::string& name) {
  if (!parent) return {};
  for (pugi::xml_node c = NodeOf(parent).first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && name == c.name()) return HandleOf(c);
  }
  return {};
}

bool PugiXmlDom::GetText(XmlNode element, std::string& text) {
  text.clear();
  const pugi::xml_node top = NodeOf(element);
  if (!top) return false;
  // Walk the subtree in document order without recursion.
  pugi::xml_node n = top.first_child();
  while (n) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
      const std::string raw = latin1_ ? Latin1ToUtf8(n.value()) : std::string(n.value());
      text += n.type() == pugi::node_pcdata ? UnescapeText(raw) : raw;
    }
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

bool PugiXmlDom::SetText(XmlNode element, const std::string& text) {
  pugi::xml_node n = NodeOf(element);
  if (n.type() != pugi::node_element) return false;
  while (n.first_child()) {
    if (!n.remove_child(n.first_child())) return false;
  }
  if (text.empty()) return true;
  pugi::xml_node t = n.append_child(pugi::node_pcdata);
  return t && t.set_value(EscapeForDocument(text, latin1_).c_str());
}

XmlNode PugiXmlDom::AppendNewElement(XmlNode parent, const std::string& name) {
  pugi::xml_node p = NodeOf(parent);
  if (!p) return {};
  pugi::xml_node e = p.append_child(pugi::node_element);
  if (!e) return {};
  if (!e.set_name(name.c_str())) {
    p.remove_child(e);
    return {};
  }
  return HandleOf(e);
}

bool PugiXmlDom::RemoveChild(XmlNode parent, XmlNode child) {
  if (!parent || !child) return false;
  return NodeOf(parent).remove_child(NodeOf(child));
}

}  // namespace kelvro
