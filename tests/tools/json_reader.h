// A small JSON reader for the tests: enough to check that kelvro-sim's JSON parses and that
// its fields have the right types, independently of the code that writes it.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kelvro::sim::test {

struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  double number = 0.0;
  bool integral = false;  // written without fraction or exponent
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;

  bool Has(const std::string& key) const { return members.count(key) != 0; }
  const JsonValue& operator[](const std::string& key) const { return members.at(key); }
};

// False with a message (and the offset) when the text is not one JSON value.
bool ParseJson(const std::string& text, JsonValue* value, std::string* error);

}  // namespace kelvro::sim::test
