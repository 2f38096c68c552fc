// Small text helpers of the parsers (command line, debugger, symbol file, register map, requests):
// ASCII case folding, trimming and splitting.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace softplc {

char fold(char c);   // an ASCII letter in lower case; every other byte as it is
std::string lower(std::string_view text);
bool equal_ignoring_case(std::string_view a, std::string_view b);
bool starts_with_ignoring_case(std::string_view text, std::string_view prefix);

// `text` without the characters of `blanks` at either end.
std::string_view trimmed(std::string_view text, std::string_view blanks = " \t\r");

// The pieces between the separators, empty ones included: "a,,b" gives "a", "", "b"; "" gives "".
std::vector<std::string_view> split(std::string_view text, char separator);

}  // namespace softplc
