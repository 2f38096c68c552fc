// The expectations of one variable as a scenario file writes them, read and checked against the
// variable's type: "50" (exactly), "100 ± 0.5" or "100 +- 0.5" (within a tolerance, both ends
// included), "200 .. 210" (a range, both ends included), and over an interval "unchanged" (as it was
// before the interval). REAL values compare as the 32-bit values the program computes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "softplc/scenario/scenario.h"
#include "softplc/util/result.h"

namespace softplc {

// `text` as an expectation of `variable` (`where` and `variable` are copied into it). `interval`:
// it is checked over an interval, where "unchanged" means something. The error is the fault alone.
Result<ValueCheck> parse_value_check(std::string_view text, const Variable& variable, uint32_t ticksPerSecond,
                                     bool interval);

// The variable's value in a copy of the data area, as a number (BOOL 0 or 1, TIME in ticks).
long double number_at(std::span<const uint8_t> data, const Variable& variable);

// Whether `actual` meets the expectation; `reference` is the value before the interval (Unchanged).
bool value_holds(const ValueCheck& check, long double actual, long double reference);

// The variable's value in the data area as people read it ("TRUE", "99.5", "T#1s").
std::string value_text(std::span<const uint8_t> data, const Variable& variable, uint32_t ticksPerSecond);

}  // namespace softplc
