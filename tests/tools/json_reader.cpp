#include "tests/tools/json_reader.h"

#include <cctype>
#include <cstdlib>

namespace kelvro::sim::test {
namespace {

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  bool Document(JsonValue* value, std::string* error) {
    const bool ok = Value(value) && (Space(), pos_ == text_.size());
    if (!ok && error) *error = "not JSON at offset " + std::to_string(pos_);
    return ok;
  }

 private:
  void Space() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool Take(char c) {
    Space();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    const std::string w(word);
    if (text_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }

  bool Value(JsonValue* v) {
    Space();
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '{') return Object(v);
    if (c == '[') return Array(v);
    if (c == '"') {
      v->type = JsonValue::Type::kString;
      return String(&v->text);
    }
    if (Word("true")) {
      v->type = JsonValue::Type::kBool;
      v->boolean = true;
      return true;
    }
    if (Word("false")) {
      v->type = JsonValue::Type::kBool;
      return true;
    }
    if (Word("null")) return true;
    return Number(v);
  }

  bool Object(JsonValue* v) {
    v->type = JsonValue::Type::kObject;
    ++pos_;
    if (Take('}')) return true;
    do {
      Space();
      std::string key;
      if (!String(&key) || !Take(':')) return false;
      JsonValue member;
      if (!Value(&member)) return false;
      if (!v->members.emplace(key, member).second) return false;  // duplicate key
    } while (Take(','));
    return Take('}');
  }

  bool Array(JsonValue* v) {
    v->type = JsonValue::Type::kArray;
    ++pos_;
    if (Take(']')) return true;
    do {
      JsonValue item;
      if (!Value(&item)) return false;
      v->items.push_back(item);
    } while (Take(','));
    return Take(']');
  }

  bool String(std::string* out) {
    if (pos_ >= text_.size() || text_[pos_] != '"') return false;
    ++pos_;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= text_.size()) return false;
      const char e = text_[pos_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          *out += e;
          break;
        case 'n':
          *out += '\n';
          break;
        case 't':
          *out += '\t';
          break;
        case 'r':
          *out += '\r';
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'u': {
          if (pos_ + 4 > text_.size()) return false;
          const long code = std::strtol(text_.substr(pos_, 4).c_str(), nullptr, 16);
          pos_ += 4;
          if (code >= 0x80) return false;  // the tool only escapes control characters
          *out += static_cast<char>(code);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool Number(JsonValue* v) {
    const size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    size_t digits = 0;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      ++pos_;
      ++digits;
    }
    if (digits == 0) return false;
    v->integral = true;
    if (pos_ < text_.size() && (text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E')) {
      v->integral = false;
      ++pos_;
      while (pos_ < text_.size() &&
             (std::isdigit(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '-' ||
              text_[pos_] == '+' || text_[pos_] == 'e' || text_[pos_] == 'E')) {
        ++pos_;
      }
    }
    v->type = JsonValue::Type::kNumber;
    v->number = std::strtod(text_.substr(start, pos_ - start).c_str(), nullptr);
    return true;
  }

  const std::string& text_;
  size_t pos_ = 0;
};

}  // namespace

bool ParseJson(const std::string& text, JsonValue* value, std::string* error) {
  *value = JsonValue{};
  return Reader(text).Document(value, error);
}

}  // namespace kelvro::sim::test
