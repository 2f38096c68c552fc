// Names of the data area, blocks and types: what a name may be (IEC 61131-3 identifiers joined by
// dots), names compared without regard to case, and "did you mean" suggestions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace softplc {

// The longest name the symbol file may give (a dotted name of nested instances stays far below).
inline constexpr std::size_t kMaxNameLength = 255;

// An identifier: ASCII letters, digits and underscores, not starting with a digit.
bool is_identifier(std::string_view text);

// What is wrong with `text` as a name: identifiers joined by dots ("IntRamp.Clock.ET"), at most
// kMaxNameLength characters. "" for a good name, otherwise the reason ("it starts with a digit").
std::string name_fault(std::string_view text);
inline bool is_name(std::string_view text) { return name_fault(text).empty(); }

bool same_name(std::string_view a, std::string_view b);

// The Levenshtein distance between two names, ignoring case, when it is at most `limit`; any
// larger distance gives limit + 1. The work grows with the shorter name times the limit, so a
// long name costs no more than a short one more than it can be close to.
std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t limit);

// "; did you mean A, B or C?" for the candidates (best first), "" when there are none.
std::string did_you_mean(const std::vector<std::string>& candidates);

// Up to `limit` of `candidates` closest to `name` by edit distance, best first; only names that are
// plausibly a misspelling (at least one edit, at most a third of the name and at most
// kMaxSuggestionEdits away) are offered. A query without a dot is also compared with the last part
// of a dotted candidate ("Out1" for "Ext1.Out1"), one edit further. The cost is bounded whatever
// `name` holds: a candidate whose length is too far from the name's is not compared at all.
inline constexpr std::size_t kMaxSuggestionEdits = 5;
std::vector<std::string> closest(std::string_view name, const std::vector<std::string_view>& candidates,
                                 std::size_t limit = 3);

}  // namespace softplc
