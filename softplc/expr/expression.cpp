#include "softplc/expr/expression.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "softplc/util/text.h"
#include "softplc/util/values.h"

namespace softplc {

std::string_view expr_type_name(ExprType type) {
  switch (type) {
    case ExprType::Bool: return "BOOL";
    case ExprType::Integer: return "integer";
    case ExprType::Real: return "REAL";
    case ExprType::Time: return "TIME";
  }
  return "?";
}

namespace {

enum class Tok { End, Name, Integer, Real, Time, Offset, LParen, RParen, Op };

struct Token {
  Tok kind = Tok::End;
  std::string_view text;
  std::size_t column = 1;   // 1-based, of its first character
};

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_alpha(c) || is_digit(c); }

bool numeric(ExprType type) { return type == ExprType::Integer || type == ExprType::Real; }

// A piece of the expression in a message, quoted and safe to print.
std::string quoted(std::string_view text) { return "'" + shown(text, 40) + "'"; }

// The one place every token's extent is decided.
class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  Result<Token> next() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    Token token;
    token.column = pos_ + 1;
    if (pos_ >= text_.size()) return token;
    const std::size_t start = pos_;
    const char c = text_[pos_];
    const auto take = [&](Tok kind) {
      token.kind = kind;
      token.text = text_.substr(start, pos_ - start);
      return token;
    };
    if (is_alpha(c)) {
      while (pos_ < text_.size() && is_alnum(text_[pos_])) ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '#') {   // T#1s, TIME#2m
        ++pos_;
        if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+')) ++pos_;
        while (pos_ < text_.size() && (is_alnum(text_[pos_]) || text_[pos_] == '.')) ++pos_;
        return take(Tok::Time);
      }
      while (pos_ + 1 < text_.size() && text_[pos_] == '.' && is_alpha(text_[pos_ + 1])) {
        ++pos_;
        while (pos_ < text_.size() && is_alnum(text_[pos_])) ++pos_;
      }
      return take(Tok::Name);
    }
    if (is_digit(c)) {
      while (pos_ < text_.size() && (is_digit(text_[pos_]) || text_[pos_] == '_')) ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '#') {   // 16#FF
        ++pos_;
        while (pos_ < text_.size() && is_alnum(text_[pos_])) ++pos_;
        return take(Tok::Integer);
      }
      bool real = false;
      if (pos_ + 1 < text_.size() && text_[pos_] == '.' && is_digit(text_[pos_ + 1])) {
        real = true;
        ++pos_;
        while (pos_ < text_.size() && (is_digit(text_[pos_]) || text_[pos_] == '_')) ++pos_;
      }
      if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
        std::size_t after = pos_ + 1;
        if (after < text_.size() && (text_[after] == '+' || text_[after] == '-')) ++after;
        if (after < text_.size() && is_digit(text_[after])) {
          real = true;
          pos_ = after;
          while (pos_ < text_.size() && is_digit(text_[pos_])) ++pos_;
        }
      }
      return take(real ? Tok::Real : Tok::Integer);
    }
    if (c == '@') {
      ++pos_;
      while (pos_ < text_.size() && (is_alnum(text_[pos_]) || text_[pos_] == ':')) ++pos_;
      return take(Tok::Offset);
    }
    ++pos_;
    switch (c) {
      case '(': return take(Tok::LParen);
      case ')': return take(Tok::RParen);
      case '+': case '-': case '*': case '/': case '&': return take(Tok::Op);
      case '=':
        if (pos_ < text_.size() && text_[pos_] == '=') {
          return usage_error("column " + std::to_string(start + 1) + ": '==' is written '=' in Structured Text");
        }
        return take(Tok::Op);
      case '<':
        if (pos_ < text_.size() && (text_[pos_] == '=' || text_[pos_] == '>')) ++pos_;
        return take(Tok::Op);
      case '>':
        if (pos_ < text_.size() && text_[pos_] == '=') ++pos_;
        return take(Tok::Op);
      case '!':
        return usage_error("column " + std::to_string(start + 1) +
                           ": '!' is not an operator; write NOT, and '<>' for 'not equal'");
      default:
        return usage_error("column " + std::to_string(start + 1) + ": unexpected character " +
                           quoted(text_.substr(start, 1)));
    }
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

bool keyword(const Token& token, std::string_view word) {
  return token.kind == Tok::Name && equal_ignoring_case(token.text, word);
}

bool is_reserved(std::string_view name) {
  for (std::string_view word : {"AND", "OR", "XOR", "NOT", "MOD", "TRUE", "FALSE", "ABS"}) {
    if (equal_ignoring_case(name, word)) return true;
  }
  return false;
}

Result<int64_t> parse_integer(std::string_view text) {
  std::string digits;
  int base = 10;
  std::string_view rest = text;
  if (const auto hash = text.find('#'); hash != std::string_view::npos) {
    const std::string_view prefix = text.substr(0, hash);
    if (prefix == "2") base = 2;
    else if (prefix == "8") base = 8;
    else if (prefix == "16") base = 16;
    else return usage_error("the base of " + quoted(text) + " is not 2, 8 or 16");
    rest = text.substr(hash + 1);
  }
  for (char c : rest)
    if (c != '_') digits.push_back(c);
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
    return usage_error(quoted(text) + (ec == std::errc::result_out_of_range ? " is too large" : " is not a number"));
  }
  return value;
}

}  // namespace

class Expression::Parser {
 public:
  Parser(Expression& out, std::string_view text, const NameResolver& resolve, uint32_t ticksPerSecond)
      : out_(out), lexer_(text), resolve_(resolve), ticksPerSecond_(ticksPerSecond) {}

  Status parse() {
    if (auto status = advance(); !status) return status;
    if (token_.kind == Tok::End) return usage_error("an empty expression");
    auto root = parse_or();
    if (!root) return root.error();
    if (token_.kind != Tok::End) return fail(token_, "unexpected " + quoted(token_.text) + " after the expression");
    // The evaluator starts from the last node.
    if (*root != static_cast<int32_t>(out_.nodes_.size()) - 1) {
      out_.nodes_.push_back(out_.nodes_[static_cast<std::size_t>(*root)]);
    }
    return ok_status();
  }

 private:
  using Index = Result<int32_t>;

  Error fail(const Token& at, const std::string& what) const {
    return usage_error("column " + std::to_string(at.column) + ": " + what);
  }

  Status advance() {
    auto next = lexer_.next();
    if (!next) return next.error();
    token_ = *next;
    return ok_status();
  }

  ExprType type_of(int32_t index) const { return out_.nodes_[static_cast<std::size_t>(index)].type; }

  int32_t add(Node node) {
    out_.nodes_.push_back(node);
    return static_cast<int32_t>(out_.nodes_.size()) - 1;
  }

  // One level of left-associative binary operators.
  template <class Next>
  Index binary_level(Next next, std::initializer_list<std::pair<std::string_view, Op>> ops) {
    auto left = (this->*next)();
    if (!left) return left;
    for (;;) {
      const Op* found = nullptr;
      for (const auto& [word, op] : ops) {
        const bool match = token_.kind == Tok::Op ? token_.text == word : keyword(token_, word);
        if (match) found = &op;
      }
      if (found == nullptr) return left;
      const Token opToken = token_;
      if (auto status = advance(); !status) return status.error();
      auto right = (this->*next)();
      if (!right) return right;
      auto combined = combine(*found, opToken, *left, *right);
      if (!combined) return combined;
      left = *combined;
    }
  }

  Index parse_or() { return binary_level(&Parser::parse_xor, {{"OR", Op::Or}}); }
  Index parse_xor() { return binary_level(&Parser::parse_and, {{"XOR", Op::Xor}}); }
  Index parse_and() { return binary_level(&Parser::parse_equality, {{"AND", Op::And}, {"&", Op::And}}); }
  Index parse_equality() { return binary_level(&Parser::parse_comparison, {{"=", Op::Eq}, {"<>", Op::Ne}}); }
  Index parse_comparison() {
    return binary_level(&Parser::parse_sum, {{"<", Op::Lt}, {"<=", Op::Le}, {">", Op::Gt}, {">=", Op::Ge}});
  }
  Index parse_sum() { return binary_level(&Parser::parse_product, {{"+", Op::Add}, {"-", Op::Sub}}); }
  Index parse_product() {
    return binary_level(&Parser::parse_unary, {{"*", Op::Mul}, {"/", Op::Div}, {"MOD", Op::Mod}});
  }

  Index parse_unary() {
    const Token at = token_;
    const bool negate = token_.kind == Tok::Op && token_.text == "-";
    const bool invert = keyword(token_, "NOT");
    if (!negate && !invert) return parse_primary();
    if (auto status = advance(); !status) return status.error();
    auto operand = parse_unary();
    if (!operand) return operand;
    const ExprType type = type_of(*operand);
    if (invert && type != ExprType::Bool) {
      return fail(at, "NOT needs a BOOL operand, not " + std::string(expr_type_name(type)));
    }
    if (negate && type == ExprType::Bool) return fail(at, "'-' needs a number or a TIME, not a BOOL");
    Node node;
    node.op = invert ? Op::Not : Op::Negate;
    node.type = type;
    node.operands = type;
    node.left = *operand;
    return add(node);
  }

  Index parse_primary() {
    const Token at = token_;
    switch (token_.kind) {
      case Tok::End: return fail(at, "the expression ends where a value is expected");
      case Tok::RParen: return fail(at, "')' where a value is expected");
      case Tok::Op: return fail(at, quoted(at.text) + " where a value is expected");
      case Tok::LParen: {
        if (auto status = advance(); !status) return status.error();
        auto inner = parse_or();
        if (!inner) return inner;
        if (token_.kind != Tok::RParen) return fail(token_, "')' expected to close the '(' at column " + std::to_string(at.column));
        if (auto status = advance(); !status) return status.error();
        return inner;
      }
      case Tok::Integer: {
        auto value = parse_integer(at.text);
        if (!value) return fail(at, value.error().message);
        return constant_then_advance(ExprValue{ExprType::Integer, false, *value, 0.0f});
      }
      case Tok::Real: {
        std::string digits;
        for (char c : at.text)
          if (c != '_') digits.push_back(c);
        double value = 0.0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (ec != std::errc() || end != digits.data() + digits.size() ||
            std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max())) {
          return fail(at, quoted(at.text) + " is not a REAL number");
        }
        return constant_then_advance(ExprValue{ExprType::Real, false, 0, static_cast<float>(value)});
      }
      case Tok::Time: {
        auto duration = parse_duration(at.text, true);
        if (!duration) return fail(at, duration.error().message);
        auto ticks = duration_to_ticks(*duration, ticksPerSecond_);
        if (!ticks) return fail(at, ticks.error().message);
        return constant_then_advance(ExprValue{ExprType::Time, false, *ticks, 0.0f});
      }
      case Tok::Offset: return variable_then_advance(at);
      case Tok::Name: break;
    }
    if (keyword(at, "TRUE") || keyword(at, "FALSE")) {
      return constant_then_advance(ExprValue{ExprType::Bool, keyword(at, "TRUE"), 0, 0.0f});
    }
    if (keyword(at, "ABS")) return parse_abs(at);
    if (is_reserved(at.text)) return fail(at, quoted(at.text) + " where a value is expected");
    return variable_then_advance(at);
  }

  Index parse_abs(const Token& at) {
    if (auto status = advance(); !status) return status.error();
    if (token_.kind != Tok::LParen) return fail(token_, "ABS needs its argument in parentheses: ABS(x)");
    auto inner = parse_primary();   // the parenthesised argument
    if (!inner) return inner;
    const ExprType type = type_of(*inner);
    if (type == ExprType::Bool) return fail(at, "ABS needs a number or a TIME, not a BOOL");
    Node node;
    node.op = Op::Abs;
    node.type = type;
    node.operands = type;
    node.left = *inner;
    return add(node);
  }

  Index constant_then_advance(const ExprValue& value) {
    Node node;
    node.op = Op::Constant;
    node.type = value.type;
    node.operands = value.type;
    node.constant = value;
    if (auto status = advance(); !status) return status.error();
    return add(node);
  }

  Index variable_then_advance(const Token& at) {
    auto variable = resolve_(at.text);
    if (!variable) return fail(at, variable.error().message);
    uint32_t slot = 0;
    while (slot < out_.variables_.size() && !equal_ignoring_case(out_.variables_[slot].name, variable->name)) ++slot;
    if (slot == out_.variables_.size()) out_.variables_.push_back(*variable);
    Node node;
    node.op = Op::Load;
    node.variable = slot;
    switch (variable->type) {
      case ValueType::Bool: node.type = ExprType::Bool; break;
      case ValueType::Int:
      case ValueType::Uint: node.type = ExprType::Integer; break;
      case ValueType::Real: node.type = ExprType::Real; break;
      case ValueType::Time: node.type = ExprType::Time; break;
    }
    node.operands = node.type;
    if (auto status = advance(); !status) return status.error();
    return add(node);
  }

  // Checks the operands' types and gives the result's type.
  Index combine(Op op, const Token& at, int32_t left, int32_t right) {
    const ExprType a = type_of(left);
    const ExprType b = type_of(right);
    const std::string pair =
        std::string(expr_type_name(a)) + " " + std::string(at.text) + " " + std::string(expr_type_name(b));
    Node node;
    node.op = op;
    node.left = left;
    node.right = right;
    const ExprType common = (a == ExprType::Real || b == ExprType::Real) ? ExprType::Real : ExprType::Integer;
    switch (op) {
      case Op::And:
      case Op::Or:
      case Op::Xor:
        if (a != ExprType::Bool || b != ExprType::Bool) return fail(at, std::string(at.text) + " needs BOOL operands, not " + pair);
        node.type = node.operands = ExprType::Bool;
        break;
      case Op::Eq:
      case Op::Ne:
      case Op::Lt:
      case Op::Le:
      case Op::Gt:
      case Op::Ge: {
        const bool ordered = op != Op::Eq && op != Op::Ne;
        if (numeric(a) && numeric(b)) {
          node.operands = common;
        } else if (a == b && (a == ExprType::Time || (a == ExprType::Bool && !ordered))) {
          node.operands = a;
        } else {
          return fail(at, "cannot compare " + pair);
        }
        node.type = ExprType::Bool;
        break;
      }
      case Op::Add:
      case Op::Sub:
        if (numeric(a) && numeric(b)) {
          node.type = node.operands = common;
        } else if (a == ExprType::Time && b == ExprType::Time) {
          node.type = node.operands = ExprType::Time;
        } else {
          return fail(at, "cannot compute " + pair);
        }
        break;
      case Op::Mul:
      case Op::Div:
        if (numeric(a) && numeric(b)) {
          node.type = node.operands = common;
        } else if (a == ExprType::Time && numeric(b)) {
          node.type = ExprType::Time;
          node.operands = b;
        } else if (op == Op::Mul && numeric(a) && b == ExprType::Time) {
          node.type = ExprType::Time;
          node.operands = a;
          std::swap(node.left, node.right);   // the TIME first
        } else {
          return fail(at, "cannot compute " + pair);
        }
        break;
      case Op::Mod:
        if (a != ExprType::Integer || b != ExprType::Integer) return fail(at, "MOD needs whole numbers, not " + pair);
        node.type = node.operands = ExprType::Integer;
        break;
      default: return fail(at, "unexpected operator");
    }
    return add(node);
  }

  Expression& out_;
  Lexer lexer_;
  const NameResolver& resolve_;
  uint32_t ticksPerSecond_;
  Token token_;
};

Result<Expression> Expression::parse(std::string_view text, const NameResolver& resolve, uint32_t ticksPerSecond) {
  Expression expression;
  expression.text_ = std::string(trimmed(text, " \t\r\n"));
  Parser parser(expression, expression.text_, resolve, ticksPerSecond);
  if (auto status = parser.parse(); !status) return status.error();
  return expression;
}

Status Expression::rebind(const NameResolver& resolve) {
  std::vector<Variable> found;
  for (const Variable& variable : variables_) {
    auto now = resolve(variable.name);
    if (!now) return now.error();
    if (now->type != variable.type) {
      return usage_error(variable.name + " is " + std::string(type_name(now->type)) + " now, not " +
                         std::string(type_name(variable.type)));
    }
    found.push_back(*now);
  }
  variables_ = std::move(found);
  return ok_status();
}

namespace {

Error overflow() { return runtime_error("the result is too large"); }

float as_real(const ExprValue& value) {
  return value.type == ExprType::Real ? value.real : static_cast<float>(value.integer);
}

Result<ExprValue> load(const Variable& variable, std::span<const uint8_t> data) {
  if (uint64_t{variable.offset} + variable.size() > data.size()) {
    return runtime_error(variable.name + " lies beyond the data area (" + std::to_string(data.size()) + " bytes)");
  }
  const uint8_t* at = data.data() + variable.offset;
  ExprValue value;
  switch (variable.type) {
    case ValueType::Bool:
      value.type = ExprType::Bool;
      value.boolean = *at != 0;
      break;
    case ValueType::Int: {
      int16_t v;
      std::memcpy(&v, at, sizeof v);
      value.type = ExprType::Integer;
      value.integer = v;
      break;
    }
    case ValueType::Uint: {
      uint16_t v;
      std::memcpy(&v, at, sizeof v);
      value.type = ExprType::Integer;
      value.integer = v;
      break;
    }
    case ValueType::Real:
      value.type = ExprType::Real;
      std::memcpy(&value.real, at, sizeof value.real);
      break;
    case ValueType::Time:
      value.type = ExprType::Time;
      std::memcpy(&value.integer, at, sizeof value.integer);
      break;
  }
  return value;
}

template <class T>
bool compare(std::string_view op, T a, T b) {
  if (op == "=") return a == b;
  if (op == "<>") return a != b;
  if (op == "<") return a < b;
  if (op == "<=") return a <= b;
  if (op == ">") return a > b;
  return a >= b;
}

// A TIME scaled by a number, rounded toward zero.
Result<int64_t> scale_time(int64_t ticks, const ExprValue& by, bool divide) {
  if (by.type == ExprType::Integer) {
    if (divide) {
      if (by.integer == 0) return runtime_error("a TIME divided by zero");
      if (ticks == std::numeric_limits<int64_t>::min() && by.integer == -1) return overflow();
      return ticks / by.integer;
    }
    int64_t product = 0;
    if (__builtin_mul_overflow(ticks, by.integer, &product)) return overflow();
    return product;
  }
  const double factor = static_cast<double>(by.real);
  const double result = divide ? static_cast<double>(ticks) / factor : static_cast<double>(ticks) * factor;
  if (!std::isfinite(result) || std::fabs(result) >= 9.2e18) return overflow();
  return static_cast<int64_t>(result);
}

}  // namespace

Result<ExprValue> Expression::eval(int32_t index, std::span<const uint8_t> data) const {
  const Node& node = nodes_[static_cast<std::size_t>(index)];
  if (node.op == Op::Constant) return node.constant;
  if (node.op == Op::Load) return load(variables_[node.variable], data);
  auto left = eval(node.left, data);
  if (!left) return left;
  ExprValue a = *left;
  ExprValue out;
  out.type = node.type;
  switch (node.op) {
    case Op::Not: out.boolean = !a.boolean; return out;
    case Op::Negate:
    case Op::Abs: {
      const bool flip = node.op == Op::Negate || (a.type == ExprType::Real ? a.real < 0.0f : a.integer < 0);
      if (a.type == ExprType::Real) {
        out.real = flip ? -a.real : a.real;
      } else {
        if (flip && __builtin_sub_overflow(int64_t{0}, a.integer, &out.integer)) return overflow();
        if (!flip) out.integer = a.integer;
      }
      return out;
    }
    default: break;
  }
  // AND and OR look at their right side only when they must.
  if (node.op == Op::And && !a.boolean) return out;
  if (node.op == Op::Or && a.boolean) {
    out.boolean = true;
    return out;
  }
  auto right = eval(node.right, data);
  if (!right) return right;
  const ExprValue b = *right;
  switch (node.op) {
    case Op::And:
    case Op::Or: out.boolean = b.boolean; return out;
    case Op::Xor: out.boolean = a.boolean != b.boolean; return out;
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: {
      static constexpr std::string_view kNames[] = {"=", "<>", "<", "<=", ">", ">="};
      const std::string_view op = kNames[static_cast<int>(node.op) - static_cast<int>(Op::Eq)];
      if (node.operands == ExprType::Bool) out.boolean = compare(op, a.boolean, b.boolean);
      else if (node.operands == ExprType::Real) out.boolean = compare(op, as_real(a), as_real(b));
      else out.boolean = compare(op, a.integer, b.integer);
      return out;
    }
    default: break;
  }
  if (node.type == ExprType::Time && (node.op == Op::Mul || node.op == Op::Div)) {
    auto ticks = scale_time(a.integer, b, node.op == Op::Div);
    if (!ticks) return ticks.error();
    out.integer = *ticks;
    return out;
  }
  if (node.operands == ExprType::Real) {
    const float x = as_real(a);
    const float y = as_real(b);
    switch (node.op) {
      case Op::Add: out.real = x + y; break;
      case Op::Sub: out.real = x - y; break;
      case Op::Mul: out.real = x * y; break;
      default: out.real = x / y; break;   // IEEE: a division by zero gives an infinity or a NaN
    }
    return out;
  }
  // Whole numbers and TIMEs, checked.
  bool overflowed = false;
  switch (node.op) {
    case Op::Add: overflowed = __builtin_add_overflow(a.integer, b.integer, &out.integer); break;
    case Op::Sub: overflowed = __builtin_sub_overflow(a.integer, b.integer, &out.integer); break;
    case Op::Mul: overflowed = __builtin_mul_overflow(a.integer, b.integer, &out.integer); break;
    case Op::Div:
    case Op::Mod:
      if (b.integer == 0) return runtime_error(node.op == Op::Div ? "a division by zero" : "MOD by zero");
      if (a.integer == std::numeric_limits<int64_t>::min() && b.integer == -1) return overflow();
      out.integer = node.op == Op::Div ? a.integer / b.integer : a.integer % b.integer;
      break;
    default: break;
  }
  if (overflowed) return overflow();
  return out;
}

Result<ExprValue> Expression::evaluate(std::span<const uint8_t> data) const {
  return eval(static_cast<int32_t>(nodes_.size()) - 1, data);
}

Result<bool> Expression::holds(std::span<const uint8_t> data) const {
  if (type() != ExprType::Bool) {
    return usage_error("'" + text_ + "' is " + std::string(expr_type_name(type())) + ", not a condition (BOOL)");
  }
  auto value = evaluate(data);
  if (!value) return value.error();
  return value->boolean;
}

std::string format_expr_value(const ExprValue& value, uint32_t ticksPerSecond) {
  switch (value.type) {
    case ExprType::Bool: return value.boolean ? "TRUE" : "FALSE";
    case ExprType::Integer: return std::to_string(value.integer);
    case ExprType::Real: {
      uint8_t bytes[4];
      std::memcpy(bytes, &value.real, sizeof bytes);
      return format_value(ValueType::Real, bytes, BoolStyle::Word);
    }
    case ExprType::Time: return format_time(value.integer, ticksPerSecond);
  }
  return "?";
}

}  // namespace softplc
