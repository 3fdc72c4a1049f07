// JSON text for the programs that report runs (the stand-in host programs, kelvro-sim).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kelvro::sim {

// A JSON string literal: quotes, backslashes and control characters escaped; other bytes
// (UTF-8 or not) are passed through.
inline std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

// A JSON array of strings.
inline std::string JsonStrings(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i) out += ", ";
    out += JsonString(texts[i]);
  }
  return out + "]";
}

}  // namespace kelvro::sim
