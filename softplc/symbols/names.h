// Names as people type them: compared without regard to case, and the distance between two names
// for "did you mean" suggestions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace softplc {

bool same_name(std::string_view a, std::string_view b);

// The Levenshtein distance between two names, ignoring case.
std::size_t edit_distance(std::string_view a, std::string_view b);

// "; did you mean A, B or C?" for the candidates (best first), "" when there are none.
std::string did_you_mean(const std::vector<std::string>& candidates);

// Up to `limit` of `candidates` closest to `name` by edit distance, best first; only names that are
// plausibly a misspelling (at most a third of the name away, at least one edit) are offered. A
// query without a dot is also compared with the last part of a dotted candidate ("Out1" for
// "Ext1.Out1"), one edit further.
std::vector<std::string> closest(std::string_view name, const std::vector<std::string_view>& candidates,
                                 std::size_t limit = 3);

}  // namespace softplc
