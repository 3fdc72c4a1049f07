#include "settings/text_codec.h"

#include <array>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kelvro {
namespace {

constexpr size_t kNpos = std::string::npos;

// Unicode characters of windows-1252 at 0x80..0x9F. The five unused positions map to the
// C1 control of the same number, as the platform's own conversion does.
constexpr std::array<uint16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

unsigned char Byte(const std::string& s, size_t i) {
  return i < s.size() ? static_cast<unsigned char>(s[i]) : 0xFF;
}

bool StartsWith(const std::string& s, const char* prefix, size_t length) {
  return s.size() >= length && s.compare(0, length, prefix, length) == 0;
}

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void AppendUtf8(std::string& out, uint32_t cp) {
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

// Decodes the UTF-8 sequence at s[i]; its length, or 0 when it is not valid UTF-8
// (truncated, overlong, a surrogate, beyond U+10FFFF).
size_t DecodeUtf8(const std::string& s, size_t i, uint32_t& cp) {
  const unsigned char c = Byte(s, i);
  size_t len = 0;
  uint32_t min = 0;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    cp = c & 0x1F;
    len = 2;
    min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    cp = c & 0x0F;
    len = 3;
    min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    cp = c & 0x07;
    len = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char t = Byte(s, i + k);
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

uint32_t Windows1252ToUnicode(unsigned char b) {
  return (b >= 0x80 && b < 0xA0) ? kWindows1252High[b - 0x80] : b;
}

// The single byte that stands for cp in an 8-bit encoding, or -1 when it has none.
int SingleByteFor(uint32_t cp, TextEncoding encoding) {
  if (cp < 0x80) return static_cast<int>(cp);
  switch (encoding) {
    case TextEncoding::kLatin1:
      return cp <= 0xFF ? static_cast<int>(cp) : -1;
    case TextEncoding::kWindows1252:
      if (cp >= 0xA0 && cp <= 0xFF) return static_cast<int>(cp);
      for (size_t k = 0; k < kWindows1252High.size(); ++k) {
        if (kWindows1252High[k] == cp) return static_cast<int>(0x80 + k);
      }
      return -1;
    default:
      return -1;
  }
}

bool UsesUtf8Working(TextEncoding encoding) {
  return encoding == TextEncoding::kUtf8 || encoding == TextEncoding::kUtf16Le ||
         encoding == TextEncoding::kUtf16Be || encoding == TextEncoding::kUtf32Le ||
         encoding == TextEncoding::kUtf32Be;
}

// Appends cp to out in the working text of the encoding; false when it has no bytes there.
bool AppendEncoded(std::string& out, uint32_t cp, TextEncoding encoding) {
  if (UsesUtf8Working(encoding)) {
    AppendUtf8(out, cp);
    return true;
  }
  const int b = SingleByteFor(cp, encoding);
  if (b < 0) return false;
  out.push_back(static_cast<char>(b));
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The encoding attribute of an XML declaration at the start of 8-bit text, lower case;
// empty when there is none.
std::string DeclaredEncoding(const std::string& text) {
  if (text.compare(0, 5, "<?xml") != 0 || text.size() < 6 || !IsXmlSpace(text[5])) return {};
  const size_t end = text.find("?>");
  const size_t at = text.find("encoding", 5);
  if (end == kNpos || at == kNpos || at > end) return {};
  size_t i = at + 8;
  while (i < end && IsXmlSpace(text[i])) ++i;
  if (i >= end || text[i] != '=') return {};
  ++i;
  while (i < end && IsXmlSpace(text[i])) ++i;
  if (i >= end || (text[i] != '"' && text[i] != '\'')) return {};
  const size_t close = text.find(text[i], i + 1);
  if (close == kNpos || close > end) return {};
  return Lower(text.substr(i + 1, close - i - 1));
}

TextEncoding EightBitEncodingNamed(const std::string& name) {
  if (name.empty() || name == "utf-8" || name == "utf8") return TextEncoding::kUtf8;
  if (name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" || name == "latin1" ||
      name == "latin-1" || name == "l1") {
    return TextEncoding::kLatin1;
  }
  if (name == "windows-1252" || name == "cp1252" || name == "x-cp1252") {
    return TextEncoding::kWindows1252;
  }
  return TextEncoding::kOtherAsciiSet;
}

size_t UnitSize(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kUtf16Le:
    case TextEncoding::kUtf16Be:
      return 2;
    case TextEncoding::kUtf32Le:
    case TextEncoding::kUtf32Be:
      return 4;
    default:
      return 1;
  }
}

bool BigEndian(TextEncoding encoding) {
  return encoding == TextEncoding::kUtf16Be || encoding == TextEncoding::kUtf32Be;
}

uint32_t ReadUnit(const std::string& s, size_t at, size_t size, bool big_endian) {
  uint32_t v = 0;
  for (size_t k = 0; k < size; ++k) {
    const uint32_t b = Byte(s, at + k);
    v |= big_endian ? b << (8 * (size - 1 - k)) : b << (8 * k);
  }
  return v;
}

void AppendUnit(std::string& out, uint32_t v, size_t size, bool big_endian) {
  for (size_t k = 0; k < size; ++k) {
    const size_t shift = big_endian ? 8 * (size - 1 - k) : 8 * k;
    out.push_back(static_cast<char>((v >> shift) & 0xFF));
  }
}

// UTF-16/32 bytes (after the byte order mark) to UTF-8; false on broken input.
bool WideToUtf8(const std::string& bytes, size_t from, TextEncoding encoding, std::string& out) {
  const size_t unit = UnitSize(encoding);
  const bool big = BigEndian(encoding);
  if ((bytes.size() - from) % unit != 0) return false;
  for (size_t i = from; i < bytes.size(); i += unit) {
    uint32_t cp = ReadUnit(bytes, i, unit, big);
    if (unit == 2 && cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 2 >= bytes.size()) return false;
      const uint32_t low = ReadUnit(bytes, i + 2, 2, big);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    AppendUtf8(out, cp);
  }
  return true;
}

void Utf8ToWide(const std::string& utf8, TextEncoding encoding, std::string& out) {
  const size_t unit = UnitSize(encoding);
  const bool big = BigEndian(encoding);
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    size_t len = DecodeUtf8(utf8, i, cp);
    if (len == 0) {
      cp = 0xFFFD;  // not reached for working text made by DecodeSource and EscapeContent
      len = 1;
    }
    if (unit == 2 && cp >= 0x10000) {
      AppendUnit(out, 0xD800 + ((cp - 0x10000) >> 10), 2, big);
      AppendUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF), 2, big);
    } else {
      AppendUnit(out, cp, unit, big);
    }
    i += len;
  }
}

// One character reference or predefined entity at raw[i] ('&'); its length and the
// character, or 0 when it is not one.
size_t ResolveReference(const std::string& raw, size_t i, uint32_t& cp) {
  const size_t semi = raw.find(';', i);
  if (semi == kNpos || semi - i > 12) return 0;
  const std::string name = raw.substr(i + 1, semi - i - 1);
  if (name == "lt") {
    cp = '<';
  } else if (name == "gt") {
    cp = '>';
  } else if (name == "amp") {
    cp = '&';
  } else if (name == "quot") {
    cp = '"';
  } else if (name == "apos") {
    cp = '\'';
  } else if (name.size() >= 2 && name[0] == '#') {
    const bool hex = name[1] == 'x';
    const size_t first = hex ? 2 : 1;
    if (name.size() <= first) return 0;
    uint32_t value = 0;
    for (size_t k = first; k < name.size(); ++k) {
      const char d = name[k];
      int v = -1;
      if (d >= '0' && d <= '9') v = d - '0';
      if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
      if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
      if (v < 0) return 0;
      value = value * (hex ? 16 : 10) + static_cast<uint32_t>(v);
      if (value > 0x10FFFF) return 0;
    }
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    cp = value;
  } else {
    return 0;
  }
  return semi + 1 - i;
}

bool IsNameStart(uint32_t cp) {
  return (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || cp == '_' || cp == ':' ||
         cp >= 0xC0;
}

bool IsNameChar(uint32_t cp) {
  return IsNameStart(cp) || (cp >= '0' && cp <= '9') || cp == '-' || cp == '.' || cp == 0xB7;
}

}  // namespace

SourceEncoding DetectEncoding(const std::string& bytes) {
  SourceEncoding e;
  const unsigned char b0 = Byte(bytes, 0), b1 = Byte(bytes, 1), b2 = Byte(bytes, 2),
                      b3 = Byte(bytes, 3);
  if (StartsWith(bytes, "\xEF\xBB\xBF", 3)) {
    e.bom = bytes.substr(0, 3);
  } else if (StartsWith(bytes, "\x00\x00\xFE\xFF", 4)) {
    e = {TextEncoding::kUtf32Be, bytes.substr(0, 4)};
  } else if (StartsWith(bytes, "\xFF\xFE\x00\x00", 4)) {
    e = {TextEncoding::kUtf32Le, bytes.substr(0, 4)};
  } else if (StartsWith(bytes, "\xFE\xFF", 2)) {
    e = {TextEncoding::kUtf16Be, bytes.substr(0, 2)};
  } else if (StartsWith(bytes, "\xFF\xFE", 2)) {
    e = {TextEncoding::kUtf16Le, bytes.substr(0, 2)};
  } else if (b0 == '<' && b1 == 0 && b2 == 0 && b3 == 0 && bytes.size() >= 4) {
    e.encoding = TextEncoding::kUtf32Le;
  } else if (b0 == 0 && b1 == 0 && b2 == 0 && b3 == '<') {
    e.encoding = TextEncoding::kUtf32Be;
  } else if (b0 == '<' && b1 == 0 && bytes.size() >= 2) {
    e.encoding = TextEncoding::kUtf16Le;
  } else if (b0 == 0 && b1 == '<') {
    e.encoding = TextEncoding::kUtf16Be;
  } else {
    e.encoding = EightBitEncodingNamed(DeclaredEncoding(bytes));
  }
  return e;
}

bool DecodeSource(const std::string& bytes, const SourceEncoding& encoding, std::string& working) {
  working.clear();
  if (bytes.compare(0, encoding.bom.size(), encoding.bom) != 0) return false;
  const size_t from = encoding.bom.size();
  if (UnitSize(encoding.encoding) == 1) {
    working.assign(bytes, from, kNpos);
    return true;
  }
  if (!WideToUtf8(bytes, from, encoding.encoding, working)) return false;
  return EncodeSource(working, encoding) == bytes;
}

std::string EncodeSource(const std::string& working, const SourceEncoding& encoding) {
  std::string out = encoding.bom;
  if (UnitSize(encoding.encoding) == 1) {
    out += working;
  } else {
    Utf8ToWide(working, encoding.encoding, out);
  }
  return out;
}

std::string WorkingToUtf8(const std::string& working, TextEncoding encoding) {
  if (encoding != TextEncoding::kLatin1 && encoding != TextEncoding::kWindows1252) {
    return working;
  }
  std::string out;
  out.reserve(working.size());
  for (const char c : working) {
    const unsigned char b = static_cast<unsigned char>(c);
    AppendUtf8(out, encoding == TextEncoding::kWindows1252 ? Windows1252ToUnicode(b) : b);
  }
  return out;
}

bool EscapeContent(const std::string& utf8, TextEncoding encoding, std::string& out) {
  out.clear();
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(utf8, i, cp);
    if (len == 0) return false;
    i += len;
    if (cp == '&') {
      out += "&amp;";
    } else if (cp == '<') {
      out += "&lt;";
    } else if (cp == '>') {
      out += "&gt;";
    } else if (cp == '\r') {
      out += "&#13;";  // a raw carriage return would read back as a line feed
    } else if ((cp < 0x20 && cp != '\t' && cp != '\n') || cp == 0xFFFE || cp == 0xFFFF) {
      return false;
    } else if (!AppendEncoded(out, cp, encoding)) {
      out += "&#" + std::to_string(cp) + ";";
    }
  }
  return true;
}

bool EncodeName(const std::string& utf8, TextEncoding encoding, std::string& out) {
  out.clear();
  if (utf8.empty()) return false;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    const size_t len = DecodeUtf8(utf8, i, cp);
    if (len == 0 || !(i == 0 ? IsNameStart(cp) : IsNameChar(cp))) return false;
    if (!AppendEncoded(out, cp, encoding)) return false;
    i += len;
  }
  return true;
}

std::string UnescapeContent(const std::string& raw_working, TextEncoding encoding) {
  const std::string raw = WorkingToUtf8(raw_working, encoding);
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    const char c = raw[i];
    if (c == '\r') {
      out.push_back('\n');
      i += (i + 1 < raw.size() && raw[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    uint32_t cp = 0;
    const size_t len = c == '&' ? ResolveReference(raw, i, cp) : 0;
    if (len == 0) {
      out.push_back(c);
      ++i;
      continue;
    }
    AppendUtf8(out, cp);
    i += len;
  }
  return out;
}

#ifdef _WIN32

bool PluginTextToUtf8(const std::string& text, std::string& utf8) {
  utf8.clear();
  if (text.empty()) return true;
  const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      wide.data(), n);
  const int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return false;
  utf8.assign(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, utf8.data(), m, nullptr, nullptr);
  return true;
}

std::string Utf8ToPluginText(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  const int m = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return {};
  std::string text(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), n, text.data(), m, nullptr, nullptr);
  return text;
}

#else

// Natively the plugin's strings are UTF-8 already; EscapeContent and EncodeName check them.
bool PluginTextToUtf8(const std::string& text, std::string& utf8) {
  utf8 = text;
  return true;
}

std::string Utf8ToPluginText(const std::string& utf8) {
  return utf8;
}

#endif

}  // namespace kelvro
