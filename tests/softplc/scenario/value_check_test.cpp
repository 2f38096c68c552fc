// What the runner decides without running anything: an expectation as written against a value of its
// variable's type (REAL in 32 bits, TIME in ticks), the refusals of expectations that make no sense,
// and text made safe for the JUnit report.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "softplc/scenario/junit.h"
#include "softplc/scenario/value_check.h"

namespace softplc {
namespace {

constexpr uint32_t kTicks = 1'000'000;   // TIME ticks per second

Variable variable(ValueType type) { return Variable{"V", 0, type}; }

template <typename T>
long double as_number(ValueType type, T raw) {
  uint8_t bytes[8] = {};
  std::memcpy(bytes, &raw, sizeof raw);
  return number_at(bytes, variable(type));
}

TEST(ValueCheck, HoldsOrNotForTheValuesOfItsType) {
  struct Case {
    const char* text;
    ValueType type;
    long double actual;
    bool holds;
  };
  const std::vector<Case> cases = {
      {"5", ValueType::Int, 5, true},
      {"5", ValueType::Int, 4, false},
      {"0.01", ValueType::Real, as_number(ValueType::Real, 0.01f), true},          // 32-bit, as the program
      {"0.01", ValueType::Real, static_cast<long double>(0.01), false},
      {"100 ± 0.5", ValueType::Real, 100.5L, true},                                  // both ends included
      {"100 ± 0.5", ValueType::Real, 99.49L, false},
      {"100 +- 0.5", ValueType::Real, 99.5L, true},
      {"-80 ± 0.01", ValueType::Real, -79.995L, true},
      {"49 .. 51", ValueType::Int, 51, true},
      {"49 .. 51", ValueType::Int, 52, false},
      {"-1.5 .. 2", ValueType::Real, -1.5L, true},
      {"T#1s ± T#10ms", ValueType::Time, 1'010'000, true},                            // ticks
      {"T#1s ± T#10ms", ValueType::Time, 1'010'001, false},
      {"TRUE", ValueType::Bool, as_number(ValueType::Bool, uint8_t{2}), true},      // any non-zero byte
      {"FALSE", ValueType::Bool, 1, false},
  };
  for (const Case& c : cases) {
    auto check = parse_value_check(c.text, variable(c.type), kTicks, false);
    ASSERT_TRUE(check) << c.text << ": " << check.error().message;
    EXPECT_EQ(value_holds(*check, c.actual, 0), c.holds) << c.text << " against " << static_cast<double>(c.actual);
  }
}

TEST(ValueCheck, UnchangedComparesWithTheValueBeforeTheInterval) {
  auto check = parse_value_check("unchanged", variable(ValueType::Real), kTicks, true);
  ASSERT_TRUE(check);
  EXPECT_TRUE(value_holds(*check, 5.0L, 5.0L));
  EXPECT_FALSE(value_holds(*check, 5.01L, 5.0L));
  const long double nan = as_number(ValueType::Real, __builtin_nanf(""));
  EXPECT_TRUE(value_holds(*check, nan, nan));   // a NaN that stays is unchanged
}

TEST(ValueCheck, RefusesWhatMakesNoSense) {
  struct Case {
    const char* text;
    ValueType type;
    bool interval;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"unchanged", ValueType::Int, false, "'unchanged' is an expectation over an interval: write it under always"},
      {"TRUE ± 1", ValueType::Bool, false, "V is a BOOL: expect TRUE or FALSE, not a range or a tolerance"},
      {"5 .. 4", ValueType::Int, false, "the range '5 .. 4' is empty: its low end is above its high end"},
      {"5 ± -1", ValueType::Real, false, "the tolerance '-1' is not a number of 0 or more"},
      {"5 ± x", ValueType::Real, false, "the tolerance 'x' is not a number of 0 or more"},
      {"40000", ValueType::Int, true, nullptr},   // out of INT's range: the value parser's message
      {"", ValueType::Real, true, nullptr},
  };
  for (const Case& c : cases) {
    auto check = parse_value_check(c.text, variable(c.type), kTicks, c.interval);
    ASSERT_FALSE(check) << c.text;
    if (c.message != nullptr) EXPECT_EQ(check.error().message, c.message) << c.text;
  }
}

TEST(JunitText, EscapedForXml) {
  struct Case {
    std::string text;
    bool attribute;
    std::string escaped;
  };
  const std::vector<Case> cases = {
      {"a < b && c > \"d\" 'e'", false, "a &lt; b &amp;&amp; c &gt; \"d\" 'e'"},
      {"a < b && c > \"d\" 'e'", true, "a &lt; b &amp;&amp; c &gt; &quot;d&quot; &apos;e&apos;"},
      {"one\ntwo\tthree\r", false, "one\ntwo\tthree&#13;"},
      {"one\ntwo\tthree\r", true, "one&#10;two&#9;three&#13;"},
      {std::string("nul\0bell\a", 9), false, "nul\xEF\xBF\xBD" "bell\xEF\xBF\xBD"},   // XML 1.0 cannot hold them
      {"100 \xC2\xB1 0.5", false, "100 \xC2\xB1 0.5"},                                // UTF-8 kept
      {"cut \xC2", false, "cut \xEF\xBF\xBD"},                                         // not UTF-8
      {"\xED\xA0\x80 \xEF\xBF\xBE", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) EXPECT_EQ(xml_escaped(c.text, c.attribute), c.escaped) << c.text;
}

}  // namespace
}  // namespace softplc
