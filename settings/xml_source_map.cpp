#include "settings/xml_source_map.h"

namespace kelvro {
namespace {

constexpr size_t kNpos = std::string::npos;

enum class Markup { kText, kStartTag, kEndTag, kComment, kPi, kCData, kDoctype };

struct Token {
  Markup kind = Markup::kText;
  size_t begin = 0;
  size_t end = 0;  // one past
  size_t name_begin = 0;
  size_t name_end = 0;
  bool self_closing = false;
};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool At(const std::string& t, size_t i, const char* s) {
  return t.compare(i, std::char_traits<char>::length(s), s) == 0;
}

// One past the end of what starts at `from` and ends with `terminator`, or npos.
size_t PastTerminator(const std::string& t, size_t from, const char* terminator) {
  const size_t at = t.find(terminator, from);
  return at == kNpos ? kNpos : at + std::char_traits<char>::length(terminator);
}

// Index of the '>' that ends a tag, skipping quoted attribute values, or npos.
size_t TagEnd(const std::string& t, size_t from) {
  char quote = 0;
  for (size_t i = from; i < t.size(); ++i) {
    const char c = t[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '<') {
      return kNpos;  // a tag never holds an unquoted '<'
    } else if (c == '>') {
      return i;
    }
  }
  return kNpos;
}

// One past the '>' that ends a document type declaration starting at i, or npos. Quoted
// literals, comments and processing instructions of the internal subset may hold '>'.
size_t DoctypeEnd(const std::string& t, size_t i) {
  bool subset = false;
  for (size_t j = i + 9; j < t.size();) {
    const char c = t[j];
    if (c == '"' || c == '\'') {
      const size_t close = t.find(c, j + 1);
      if (close == kNpos) return kNpos;
      j = close + 1;
    } else if (subset && At(t, j, "<!--")) {
      j = PastTerminator(t, j + 4, "-->");
      if (j == kNpos) return kNpos;
    } else if (subset && At(t, j, "<?")) {
      j = PastTerminator(t, j + 2, "?>");
      if (j == kNpos) return kNpos;
    } else if (c == '[') {
      subset = true;
      ++j;
    } else if (c == ']') {
      subset = false;
      ++j;
    } else if (c == '>' && !subset) {
      return j + 1;
    } else {
      ++j;
    }
  }
  return kNpos;
}

size_t NameEnd(const std::string& t, size_t from) {
  size_t i = from;
  while (i < t.size() && !IsSpace(t[i]) && t[i] != '/' && t[i] != '>' && t[i] != '<') ++i;
  return i;
}

// The token starting at i (i < t.size()); false when the markup there is not closed or not
// known.
bool NextToken(const std::string& t, size_t i, Token& tok) {
  tok = Token{};
  tok.begin = i;
  if (t[i] != '<') {
    const size_t next = t.find('<', i);
    tok.end = next == kNpos ? t.size() : next;
    return true;
  }
  if (At(t, i, "<?")) {
    tok.kind = Markup::kPi;
    tok.end = PastTerminator(t, i + 2, "?>");
  } else if (At(t, i, "<!--")) {
    tok.kind = Markup::kComment;
    tok.end = PastTerminator(t, i + 4, "-->");
  } else if (At(t, i, "<![CDATA[")) {
    tok.kind = Markup::kCData;
    tok.end = PastTerminator(t, i + 9, "]]>");
  } else if (At(t, i, "<!DOCTYPE")) {
    tok.kind = Markup::kDoctype;
    tok.end = DoctypeEnd(t, i);
  } else if (At(t, i, "<!")) {
    return false;
  } else if (At(t, i, "</")) {
    tok.kind = Markup::kEndTag;
    tok.name_begin = i + 2;
    tok.name_end = NameEnd(t, tok.name_begin);
    size_t j = tok.name_end;
    while (j < t.size() && IsSpace(t[j])) ++j;
    if (tok.name_end == tok.name_begin || j >= t.size() || t[j] != '>') return false;
    tok.end = j + 1;
  } else {
    tok.kind = Markup::kStartTag;
    tok.name_begin = i + 1;
    tok.name_end = NameEnd(t, tok.name_begin);
    if (tok.name_end == tok.name_begin) return false;
    const size_t gt = TagEnd(t, tok.name_end);
    if (gt == kNpos) return false;
    tok.self_closing = t[gt - 1] == '/';
    tok.end = gt + 1;
  }
  return tok.end != kNpos;
}

bool AllSpace(const std::string& t, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (!IsSpace(t[i])) return false;
  }
  return true;
}

// Line ends as an XML parser reports them: CR LF and a lone CR become LF.
std::string NormaliseLineEnds(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\r') {
      out.push_back(s[i]);
      continue;
    }
    out.push_back('\n');
    if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
  }
  return out;
}

}  // namespace

bool MapSourceElements(const std::string& text, std::vector<SourceElement>& elements) {
  elements.clear();
  std::vector<int> open;
  int roots = 0;
  Token tok;
  for (size_t i = 0; i < text.size(); i = tok.end) {
    if (!NextToken(text, i, tok)) return false;
    switch (tok.kind) {
      case Markup::kText:
        if (open.empty() && !AllSpace(text, tok.begin, tok.end)) return false;
        break;
      case Markup::kCData:
        if (open.empty()) return false;
        break;
      case Markup::kDoctype:
        if (roots > 0) return false;
        break;
      case Markup::kComment:
      case Markup::kPi:
        break;
      case Markup::kStartTag: {
        if (open.empty() && roots++ > 0) return false;
        SourceElement e;
        e.name = text.substr(tok.name_begin, tok.name_end - tok.name_begin);
        e.start = tok.begin;
        e.open_end = e.close_start = e.end = tok.end;
        e.self_closing = tok.self_closing;
        e.parent = open.empty() ? -1 : open.back();
        const int index = static_cast<int>(elements.size());
        if (e.parent >= 0) elements[static_cast<size_t>(e.parent)].children.push_back(index);
        elements.push_back(std::move(e));
        if (!tok.self_closing) open.push_back(index);
        break;
      }
      case Markup::kEndTag: {
        if (open.empty()) return false;
        SourceElement& e = elements[static_cast<size_t>(open.back())];
        if (text.compare(tok.name_begin, tok.name_end - tok.name_begin, e.name) != 0) {
          return false;
        }
        e.close_start = tok.begin;
        e.end = tok.end;
        open.pop_back();
        break;
      }
    }
  }
  return open.empty() && roots == 1;
}

std::string TextOfContent(const std::string& content, TextEncoding encoding) {
  std::string out;
  Token tok;
  for (size_t i = 0; i < content.size(); i = tok.end) {
    if (!NextToken(content, i, tok)) break;
    if (tok.kind == Markup::kText) {
      out += UnescapeContent(content.substr(tok.begin, tok.end - tok.begin), encoding);
    } else if (tok.kind == Markup::kCData) {
      const std::string raw = content.substr(tok.begin + 9, tok.end - tok.begin - 12);
      out += NormaliseLineEnds(WorkingToUtf8(raw, encoding));
    }
  }
  return out;
}

}  // namespace kelvro
