// The words of one part-program line: letters with their numbers, comments dropped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvro::sim {

struct Word {
  char letter = 0;  // upper case
  double value = 0.0;
  std::string text;  // as written, letter in upper case: "G99", "X-1.5"
};

// Splits one line into words: letters in either case, each followed by a decimal number
// (spaces between the letter and the number allowed, no exponent), comments in
// parentheses and after ';' dropped. False with a message (no line prefix) for anything
// else: a character that starts no word, a letter without a number, an unclosed comment,
// a number beyond ±1e9.
bool SplitWords(std::string_view line, std::vector<Word>* words, std::string* error);

// The line holds only '%' (the tape start and end marker), with spaces around it.
bool IsPercentLine(std::string_view line);

// G and M numbers as tenths (G28.1 = 281); -1 when the value is no such number.
int CodeOf(double value);

}  // namespace kelvro::sim
