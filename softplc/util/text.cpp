#include "softplc/util/text.h"

#include <cctype>

namespace softplc {

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string lower(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = fold(c);
  return folded;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (fold(text[i]) != fold(prefix[i])) return false;
  return true;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && starts_with_ignoring_case(a, b);
}

std::string_view trimmed(std::string_view text, std::string_view blanks) {
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const auto at = text.find(separator);
    pieces.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    text.remove_prefix(at + 1);
  }
}

}  // namespace softplc
