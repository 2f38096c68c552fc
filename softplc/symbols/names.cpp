#include "softplc/symbols/names.h"

#include <algorithm>

#include "softplc/util/text.h"

namespace softplc {

namespace {

// How far `query` is from `name`: the edit distance to the whole name, or, for a query without an
// instance prefix, one more than the distance to the name's last part.
std::size_t closeness(std::string_view query, std::string_view name) {
  std::size_t best = edit_distance(query, name);
  if (query.find('.') == std::string_view::npos) {
    const auto dot = name.rfind('.');
    if (dot != std::string_view::npos) best = std::min(best, edit_distance(query, name.substr(dot + 1)) + 1);
  }
  return best;
}

}  // namespace

bool same_name(std::string_view a, std::string_view b) { return equal_ignoring_case(a, b); }

std::size_t edit_distance(std::string_view a, std::string_view b) {
  // One row at a time.
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const std::size_t substitute = diagonal + (fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, substitute});
      diagonal = above;
    }
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
  const std::size_t threshold = std::max<std::size_t>(1, name.size() / 3);
  std::vector<std::pair<std::size_t, std::string_view>> scored;
  for (std::string_view candidate : candidates) {
    const std::size_t score = closeness(name, candidate);
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
