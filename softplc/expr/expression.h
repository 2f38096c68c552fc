// Expressions over the program's variables, written as Structured Text writes them: the conditions
// of the debugger's breakpoints, the values of its logpoints and the checks of scenario files.
//
//   IntRamp.Value > 50 AND NOT LagResetCmd
//   ABS(LagOut - 2.0 * LagIn) < 0.01
//   BlinkerTimeHigh >= T#500ms OR @16:INT = 3
//
// Operators, loosest first: OR; XOR; AND (also &); = and <>; < <= > >=; + and -; * / MOD; the
// unary - and NOT. Literals: TRUE/FALSE, integers (16#FF, 1_000), reals (0.5, 1.5E3), durations
// (T#1s, TIME#2m30s). Names are the symbol file's (any case) or @OFFSET:TYPE. The only function is
// ABS.
//
// Types are checked when the expression is parsed, so that a condition that can never be evaluated
// is refused before it is used. Arithmetic follows the program's types: INT and UINT values compute
// as whole numbers, anything with a REAL in it as a 32-bit REAL, as the program itself would; TIME
// plus or minus TIME is a TIME, and TIME times or divided by a number is a TIME.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "softplc/symbols/symbol_table.h"
#include "softplc/util/result.h"

namespace softplc {

enum class ExprType : uint8_t { Bool, Integer, Real, Time };
std::string_view expr_type_name(ExprType type);   // "BOOL", "integer", "REAL", "TIME"

struct ExprValue {
  ExprType type = ExprType::Bool;
  bool boolean = false;
  int64_t integer = 0;   // Integer; TIME in ticks
  float real = 0.0f;
};

// How the names in an expression become variables of the data area ("IntRamp.Value", "@16:INT").
using NameResolver = std::function<Result<Variable>(std::string_view name)>;

class Expression {
 public:
  // Parses and type-checks `text`. Errors name the column of the mistake ("column 12: ...").
  static Result<Expression> parse(std::string_view text, const NameResolver& resolve, uint32_t ticksPerSecond);

  const std::string& text() const { return text_; }
  ExprType type() const { return nodes_.back().type; }
  // The variables it reads, each once, in the order they first appear.
  const std::vector<Variable>& variables() const { return variables_; }

  // The value over a data area. Fails on a division by zero of whole numbers, an overflow of a whole
  // number or a TIME, and a variable that lies beyond `data`.
  Result<ExprValue> evaluate(std::span<const uint8_t> data) const;
  // A BOOL expression's value; any other type is refused.
  Result<bool> holds(std::span<const uint8_t> data) const;

  // Finds the variables again by name (after an online change, the same names may lie elsewhere).
  Status rebind(const NameResolver& resolve);

 private:
  enum class Op : uint8_t {
    Constant, Load, Abs, Negate, Not, And, Or, Xor, Add, Sub, Mul, Div, Mod, Eq, Ne, Lt, Le, Gt, Ge
  };
  struct Node {
    Op op = Op::Constant;
    ExprType type = ExprType::Bool;
    ExprType operands = ExprType::Bool;   // the type both operands are computed in
    int32_t left = -1;                    // node indexes
    int32_t right = -1;
    uint32_t variable = 0;                // Load: index into variables_
    ExprValue constant;
  };
  class Parser;

  Result<ExprValue> eval(int32_t index, std::span<const uint8_t> data) const;

  std::string text_;
  std::vector<Node> nodes_;   // the root last
  std::vector<Variable> variables_;
};

// "TRUE", "42", "99.5", "T#1s500ms" (TIME as an IEC literal at `ticksPerSecond`).
std::string format_expr_value(const ExprValue& value, uint32_t ticksPerSecond);

}  // namespace softplc
