// Expressions over a hand-made data area: values as the program's types compute them, and every
// kind of mistake refused with its column before anything is evaluated.
#include "softplc/expr/expression.h"

#include <gtest/gtest.h>

#include <cstring>

#include "softplc/symbols/variable_spec.h"

namespace softplc {
namespace {

constexpr uint32_t kTicks = 1000;   // ticks per second, so that T#1s is 1000 ticks

// A: INT 5 at 0, U: UINT 65535 at 2, B: REAL 1.5 at 4, F: BOOL FALSE at 8, G: BOOL TRUE at 9,
// C: REAL 0.1 at 12, T: TIME 1000 ticks at 16.
struct Area {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(24, 0);
  Symbols symbols;
  Area() {
    const int16_t a = 5;
    const uint16_t u = 65535;
    const float b = 1.5f, c = 0.1f;
    const int64_t t = 1000;
    std::memcpy(&bytes[0], &a, 2);
    std::memcpy(&bytes[2], &u, 2);
    std::memcpy(&bytes[4], &b, 4);
    bytes[9] = 7;   // any byte but 0 is TRUE
    std::memcpy(&bytes[12], &c, 4);
    std::memcpy(&bytes[16], &t, 8);
    symbols.variables = {{"A", 0, ValueType::Int}, {"U", 2, ValueType::Uint}, {"B", 4, ValueType::Real},
                         {"F", 8, ValueType::Bool}, {"G", 9, ValueType::Bool}, {"C", 12, ValueType::Real},
                         {"T", 16, ValueType::Time}};
  }
  NameResolver resolver() const {
    return [this](std::string_view name) { return find_variable(name, &symbols, "no names"); };
  }
};

TEST(Expression, ComputesAsTheProgramsTypesDo) {
  const Area area;
  const struct {
    const char* text;
    const char* value;
  } cases[] = {
      {"A + 1", "6"},
      {"a * 2 > 9", "TRUE"},            // names in any case
      {"A / 2", "2"},                   // whole numbers divide toward zero
      {"-7 MOD 3", "-1"},
      {"16#FF + 2#101 + 1_000", "1260"},
      {"U", "65535"},                   // UINT is unsigned
      {"B * 2.0", "3"},
      {"B > 1", "TRUE"},                // INT against REAL compares as REAL
      {"C = 0.1", "TRUE"},              // a REAL literal is a 32-bit REAL, as in the program
      {"16777216.0 + 1.0 = 16777216.0", "TRUE"},   // ... and so is its arithmetic
      {"NOT F AND A = 5", "TRUE"},
      {"G = TRUE", "TRUE"},
      {"TRUE XOR G", "FALSE"},
      {"F OR A > 4 & NOT (A < 0)", "TRUE"},
      {"T >= T#1s AND T < TIME#1s1ms", "TRUE"},
      {"T * 2", "T#2s"},
      {"2 * T - T#500ms", "T#1s500ms"},
      {"T / 4", "T#250ms"},
      {"T * 0.5", "T#500ms"},
      {"-T", "T#-1s"},
      {"ABS(-A) + ABS(B - 3.0)", "6.5"},
      {"A = 5 OR 1 / 0 = 1", "TRUE"},   // OR looks no further once it holds
      {"@8:BOOL OR @0:INT = 5", "TRUE"},
      {"1.5E3 = 1500", "TRUE"},
  };
  for (const auto& c : cases) {
    auto expression = Expression::parse(c.text, area.resolver(), kTicks);
    ASSERT_TRUE(expression) << c.text << ": " << expression.error().message;
    auto value = expression->evaluate(area.bytes);
    ASSERT_TRUE(value) << c.text << ": " << value.error().message;
    EXPECT_EQ(format_expr_value(*value, kTicks), c.value) << c.text;
  }
}

TEST(Expression, RefusesMistakesWithTheirColumn) {
  const Area area;
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "an empty expression"},
      {"A +", "column 4: the expression ends where a value is expected"},
      {"A == 5", "column 3: '==' is written '=' in Structured Text"},
      {"A != 5", "column 3: '!' is not an operator"},
      {"NOT A", "column 1: NOT needs a BOOL operand, not integer"},
      {"A AND F", "column 3: AND needs BOOL operands, not integer AND BOOL"},
      {"T > 5", "column 3: cannot compare TIME > integer"},
      {"F < G", "column 3: cannot compare BOOL < BOOL"},
      {"T + 1", "cannot compute TIME + integer"},
      {"B MOD 2", "MOD needs whole numbers, not REAL MOD integer"},
      {"(A + 1", "column 7: ')' expected to close the '(' at column 1"},
      {"A 5", "column 3: unexpected '5' after the expression"},
      {"A > AND", "column 5: 'AND' where a value is expected"},
      {"ABS A", "ABS needs its argument in parentheses"},
      {"99999999999999999999", "too large"},
      {"8#9", "is not a number"},
      {"T#5q", "invalid duration"},
      {"A ? 1", "column 3: unexpected character '?'"},
      {"Nope > 1", "column 1: "},
  };
  for (const auto& c : cases) {
    auto expression = Expression::parse(c.text, area.resolver(), kTicks);
    ASSERT_FALSE(expression) << c.text;
    EXPECT_NE(expression.error().message.find(c.message), std::string::npos)
        << c.text << ": " << expression.error().message;
  }
}

TEST(Expression, EvaluationFailsWithoutACrash) {
  const Area area;
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"A / (A - 5) = 1", "a division by zero"},
      {"A MOD 0", "MOD by zero"},
      {"T / (A - 5)", "a TIME divided by zero"},
      {"T * 9223372036854775807", "too large"},
      {"@40:INT = 1", "lies beyond the data area"},
  };
  for (const auto& c : cases) {
    auto expression = Expression::parse(c.text, area.resolver(), kTicks);
    ASSERT_TRUE(expression) << c.text << ": " << expression.error().message;
    auto value = expression->evaluate(area.bytes);
    ASSERT_FALSE(value) << c.text;
    EXPECT_NE(value.error().message.find(c.message), std::string::npos) << value.error().message;
  }
  auto sum = Expression::parse("A + 1", area.resolver(), kTicks);
  ASSERT_TRUE(sum);
  EXPECT_EQ(sum->holds(area.bytes).error().message, "'A + 1' is integer, not a condition (BOOL)");
}

TEST(Expression, RebindsByNameAfterTheVariablesMoved) {
  Area area;
  auto expression = Expression::parse("A = 5 AND a > 0", area.resolver(), kTicks);
  ASSERT_TRUE(expression);
  ASSERT_EQ(expression->variables().size(), 1u);   // each variable once
  area.symbols.variables[0].offset = 20;          // A moves; 20..21 hold 0
  ASSERT_TRUE(expression->rebind(area.resolver()));
  EXPECT_FALSE(*expression->holds(area.bytes));
  area.symbols.variables[0].type = ValueType::Real;
  EXPECT_EQ(expression->rebind(area.resolver()).error().message, "A is REAL now, not INT");
}

}  // namespace
}  // namespace softplc
