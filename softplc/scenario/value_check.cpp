#include "softplc/scenario/value_check.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

namespace {

// One number of the expectation, of the variable's type.
Result<long double> number(std::string_view text, const Variable& variable, uint32_t ticksPerSecond) {
  auto value = parse_value(variable.type, trimmed(text));
  if (!value) return value.error();
  auto bytes = encode(*value, ticksPerSecond);
  if (!bytes) return bytes.error();
  Variable at0 = variable;
  at0.offset = 0;
  return number_at(bytes->view(), at0);
}

// A tolerance: 0 or more, a decimal number for a REAL (not rounded to 32 bits), a duration for a TIME.
Result<long double> tolerance(std::string_view text, const Variable& variable, uint32_t ticksPerSecond) {
  text = trimmed(text);
  if (variable.type == ValueType::Real) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(value >= 0) || std::isinf(value)) {
      return usage_error("the tolerance '" + shown(text) + "' is not a number of 0 or more");
    }
    return static_cast<long double>(value);
  }
  auto value = number(text, variable, ticksPerSecond);
  if (!value) return usage_error("the tolerance: " + value.error().message);
  if (*value < 0) return usage_error("the tolerance '" + shown(text) + "' is less than 0");
  return *value;
}

}  // namespace

Result<ValueCheck> parse_value_check(std::string_view text, const Variable& variable, uint32_t ticksPerSecond,
                                     bool interval) {
  ValueCheck check;
  check.variable = variable;
  check.text = std::string(trimmed(text));
  const std::string_view written = check.text;
  if (equal_ignoring_case(written, "unchanged")) {
    if (!interval) return usage_error("'unchanged' is an expectation over an interval: write it under always");
    check.form = ValueCheck::Form::Unchanged;
    return check;
  }
  const auto range = written.find("..");
  std::size_t plusMinus = written.find("\xC2\xB1");   // ±
  std::size_t signLength = 2;
  if (plusMinus == std::string_view::npos) plusMinus = written.find("+-");
  if (range != std::string_view::npos || plusMinus != std::string_view::npos) {
    if (variable.type == ValueType::Bool) {
      return usage_error(variable.name + " is a BOOL: expect TRUE or FALSE, not a range or a tolerance");
    }
  }
  if (range != std::string_view::npos) {
    auto low = number(written.substr(0, range), variable, ticksPerSecond);
    if (!low) return low.error();
    auto high = number(written.substr(range + 2), variable, ticksPerSecond);
    if (!high) return high.error();
    if (*low > *high) return usage_error("the range '" + shown(written) + "' is empty: its low end is above its high end");
    check.form = ValueCheck::Form::Range;
    check.expected = *low;
    check.high = *high;
    return check;
  }
  if (plusMinus != std::string_view::npos) {
    auto expected = number(written.substr(0, plusMinus), variable, ticksPerSecond);
    if (!expected) return expected.error();
    auto tol = tolerance(written.substr(plusMinus + signLength), variable, ticksPerSecond);
    if (!tol) return tol.error();
    check.form = ValueCheck::Form::Tolerance;
    check.expected = *expected;
    check.tolerance = *tol;
    return check;
  }
  auto expected = number(written, variable, ticksPerSecond);
  if (!expected) return expected.error();
  check.expected = *expected;
  return check;
}

long double number_at(std::span<const uint8_t> data, const Variable& variable) {
  const auto read = [&](auto raw) {
    if (variable.offset + sizeof raw <= data.size()) std::memcpy(&raw, data.data() + variable.offset, sizeof raw);
    return static_cast<long double>(raw);
  };
  switch (variable.type) {
    case ValueType::Bool: return read(uint8_t{0}) != 0 ? 1 : 0;
    case ValueType::Int: return read(int16_t{0});
    case ValueType::Uint: return read(uint16_t{0});
    case ValueType::Real: return read(0.0f);
    case ValueType::Time: return read(int64_t{0});
  }
  return 0;
}

bool value_holds(const ValueCheck& check, long double actual, long double reference) {
  switch (check.form) {
    case ValueCheck::Form::Exact: return actual == check.expected;
    case ValueCheck::Form::Tolerance: return std::fabs(actual - check.expected) <= check.tolerance;
    case ValueCheck::Form::Range: return actual >= check.expected && actual <= check.high;
    case ValueCheck::Form::Unchanged: return actual == reference || (std::isnan(actual) && std::isnan(reference));
  }
  return false;
}

std::string value_text(std::span<const uint8_t> data, const Variable& variable, uint32_t ticksPerSecond) {
  if (variable.offset + variable.size() > data.size()) return "?";
  return format_for_people(variable.type, data.subspan(variable.offset, variable.size()), ticksPerSecond);
}

}  // namespace softplc
