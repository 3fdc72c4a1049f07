// The profile's character encoding: which one a file uses, how its bytes become text the
// markup scanner can work on and back again without changing a byte, and how text goes in
// and out of element content.
//
// "Working text" is the file without its byte order mark, in an encoding whose markup
// characters are plain ASCII bytes: the file's own bytes for the 8-bit encodings, UTF-8 for
// UTF-16 and UTF-32 files. Every offset the scanner and the splicer use is an offset into
// the working text.
#pragma once

#include <string>

namespace kelvro {

enum class TextEncoding {
  kUtf8,
  kLatin1,         // ISO-8859-1
  kWindows1252,    // Latin-1 with printable characters at 0x80..0x9F
  kOtherAsciiSet,  // any other declared 8-bit encoding: only its ASCII part is known here
  kUtf16Le,
  kUtf16Be,
  kUtf32Le,
  kUtf32Be,
};

struct SourceEncoding {
  TextEncoding encoding = TextEncoding::kUtf8;
  std::string bom;  // the byte order mark the file starts with, as its bytes; may be empty

  bool operator==(const SourceEncoding&) const = default;
};

// From the byte order mark, the layout of the first characters and the XML declaration.
// A byte order mark decides over the declaration.
SourceEncoding DetectEncoding(const std::string& bytes);

// The file as working text. False when the bytes do not encode back to exactly themselves
// (broken UTF-16/32): such a file cannot be kept byte for byte.
bool DecodeSource(const std::string& bytes, const SourceEncoding& encoding, std::string& working);
// The file's bytes for working text (the byte order mark put back).
std::string EncodeSource(const std::string& working, const SourceEncoding& encoding);

// Working text as UTF-8. Bytes of an unknown 8-bit encoding above 0x7F are kept as they are.
std::string WorkingToUtf8(const std::string& working, TextEncoding encoding);

// Encodes UTF-8 text as element content in working text: markup characters and carriage
// returns as references (so that they read back as themselves), characters the encoding
// cannot hold as character references. False for text an XML file cannot hold: invalid
// UTF-8, or control characters other than tab, line feed and carriage return.
bool EscapeContent(const std::string& utf8, TextEncoding encoding, std::string& out);

// Encodes a UTF-8 element name into working text. Names cannot use references, so false
// when the encoding cannot hold a character, or when the text is not a plain element name.
bool EncodeName(const std::string& utf8, TextEncoding encoding, std::string& out);

// Character data of working text as UTF-8, the way an XML parser reports it: predefined
// entities and character references resolved (other references kept as written), line
// ends as "\n".
std::string UnescapeContent(const std::string& raw, TextEncoding encoding);

// The plugin's own strings (the ANSI code page in the DLL, UTF-8 natively) to and from
// UTF-8. PluginTextToUtf8 fails on text that is not valid in the plugin's character set.
bool PluginTextToUtf8(const std::string& text, std::string& utf8);
std::string Utf8ToPluginText(const std::string& utf8);

}  // namespace kelvro
