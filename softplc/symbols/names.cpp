#include "softplc/symbols/names.h"

#include <algorithm>

#include "softplc/util/text.h"

namespace softplc {

namespace {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// How far `query` is from `name`, when at most `limit`: the edit distance to the whole name, or,
// for a query without an instance prefix (`dotless`), one more than the distance to the name's
// last part. More than `limit` otherwise.
std::size_t closeness(std::string_view query, bool dotless, std::string_view name, std::size_t limit) {
  std::size_t best = edit_distance(query, name, limit);
  const auto dot = name.rfind('.');
  if (dotless && dot != std::string_view::npos && best > 1) {
    best = std::min(best, edit_distance(query, name.substr(dot + 1), limit - 1) + 1);
  }
  return best;
}

}  // namespace

bool is_identifier(std::string_view text) {
  return !text.empty() && is_letter(text.front()) &&
         std::all_of(text.begin(), text.end(), [](char c) { return is_letter(c) || is_digit(c); });
}

std::string name_fault(std::string_view text) {
  if (text.empty()) return "it is empty";
  if (text.size() > kMaxNameLength) return "it is longer than " + std::to_string(kMaxNameLength) + " characters";
  for (std::string_view part : split(text, '.')) {
    if (part.empty()) return "it has an empty part (a dot at its start or end, or two dots in a row)";
    if (is_digit(part.front())) return "a part starts with a digit";
    for (char c : part) {
      if (!is_letter(c) && !is_digit(c)) return "it holds the character '" + shown(std::string_view(&c, 1)) + "'";
    }
  }
  return "";
}

bool same_name(std::string_view a, std::string_view b) { return equal_ignoring_case(a, b); }

std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t limit) {
  if (a.size() > b.size()) std::swap(a, b);   // a is the shorter
  const std::size_t beyond = limit + 1;
  if (b.size() - a.size() > limit) return beyond;
  // One row at a time, only the cells within `limit` of the diagonal; the others count as beyond.
  std::vector<std::size_t> row(b.size() + 1, beyond);
  for (std::size_t j = 0; j <= std::min(b.size(), limit); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    const std::size_t from = i > limit ? i - limit : 1;
    const std::size_t to = std::min(b.size(), i + limit);
    std::size_t diagonal = row[from - 1];
    row[from - 1] = from == 1 ? std::min(i, beyond) : beyond;
    std::size_t smallest = row[from - 1];
    for (std::size_t j = from; j <= to; ++j) {
      const std::size_t above = row[j];
      const std::size_t substitute = diagonal + (fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, substitute, beyond});
      diagonal = above;
      smallest = std::min(smallest, row[j]);
    }
    if (smallest > limit) return beyond;   // every path to the end crosses this row
  }
  return row[b.size()];
}

std::string did_you_mean(const std::vector<std::string>& candidates) {
  if (candidates.empty()) return "";
  std::string text = "; did you mean ";
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (i > 0) text += i + 1 == candidates.size() ? " or " : ", ";
    text += candidates[i];
  }
  return text + "?";
}

std::vector<std::string> closest(std::string_view name, const std::vector<std::string_view>& candidates,
                                 std::size_t limit) {
  const std::size_t threshold = std::clamp<std::size_t>(name.size() / 3, 1, kMaxSuggestionEdits);
  const bool dotless = name.find('.') == std::string_view::npos;
  std::vector<std::pair<std::size_t, std::string_view>> scored;
  for (std::string_view candidate : candidates) {
    const std::size_t score = closeness(name, dotless, candidate, threshold);
    if (score <= threshold) scored.emplace_back(score, candidate);
  }
  std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> result;
  for (const auto& [score, candidate] : scored) {
    if (result.size() == limit) break;
    if (std::find(result.begin(), result.end(), candidate) == result.end()) result.emplace_back(candidate);
  }
  return result;
}

}  // namespace softplc
