#include "softplc/util/values.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace softplc {

namespace {

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (fold(text[i]) != fold(prefix[i])) return false;
  return true;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && starts_with_ignoring_case(a, b);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

struct Unit {
  std::string_view name;
  int64_t ns;
};

// Longer spellings first, so that "ms" and "min" are not read as "m".
constexpr Unit kUnits[] = {
    {"min", 60'000'000'000LL}, {"ms", 1'000'000LL}, {"us", 1'000LL}, {"ns", 1LL},
    {"d", 86'400'000'000'000LL}, {"h", 3'600'000'000'000LL}, {"m", 60'000'000'000LL}, {"s", 1'000'000'000LL},
};

// Digits with single underscores between them (IEC style); returns the digits alone.
bool take_digits(std::string_view& rest, std::string& digits) {
  digits.clear();
  while (!rest.empty()) {
    const char c = rest.front();
    if (is_digit(c)) {
      digits.push_back(c);
    } else if (c == '_' && !digits.empty() && rest.size() > 1 && is_digit(rest[1])) {
      // an underscore between two digits is only a separator
    } else {
      break;
    }
    rest.remove_prefix(1);
  }
  return !digits.empty();
}

}  // namespace

Result<int64_t> parse_duration_ns(std::string_view text, bool allowNegative) {
  const auto bad = [&](const std::string& why) {
    return usage_error("invalid duration " + quoted(text) + ": " + why);
  };
  std::string_view rest = text;
  for (std::string_view prefix : {"TIME#", "T#", "LTIME#", "LT#"}) {
    if (starts_with_ignoring_case(rest, prefix)) {
      rest.remove_prefix(prefix.size());
      break;
    }
  }
  bool negative = false;
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
    negative = rest.front() == '-';
    if (negative && !allowNegative) return bad("must not be negative");
    rest.remove_prefix(1);
  }
  if (rest.empty()) return bad("expected a number with a unit, e.g. 10ms or T#1.5s");

  int64_t total = 0;
  int64_t previousUnit = std::numeric_limits<int64_t>::max();
  std::string whole;
  std::string fraction;
  while (!rest.empty()) {
    if (!take_digits(rest, whole)) return bad("expected a number at " + quoted(rest));
    fraction.clear();
    if (!rest.empty() && rest.front() == '.') {
      rest.remove_prefix(1);
      if (!take_digits(rest, fraction)) return bad("expected digits after the decimal point");
    }
    const Unit* unit = nullptr;
    for (const Unit& candidate : kUnits) {
      if (starts_with_ignoring_case(rest, candidate.name)) {
        unit = &candidate;
        break;
      }
    }
    if (unit == nullptr) {
      return bad(rest.empty() ? "missing unit (ns, us, ms, s, min, h, d)"
                              : "unknown unit at " + quoted(rest) + " (ns, us, ms, s, min, h, d)");
    }
    rest.remove_prefix(unit->name.size());
    if (unit->ns >= previousUnit) return bad("units must go from the largest to the smallest, each once");
    previousUnit = unit->ns;
    if (!fraction.empty() && !rest.empty()) return bad("only the last part may have a fraction");

    // whole * unit + fraction * unit, exactly, in nanoseconds.
    int64_t value = 0;
    for (char digit : whole) {
      if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, digit - '0', &value))
        return bad("too large");
    }
    int64_t part = 0;
    if (__builtin_mul_overflow(value, unit->ns, &part)) return bad("too large");
    int64_t scale = unit->ns;
    for (char digit : fraction) {
      const int64_t d = digit - '0';
      if (scale % 10 != 0) {
        if (d != 0) return bad("finer than a nanosecond");
        continue;
      }
      scale /= 10;
      if (__builtin_add_overflow(part, d * scale, &part)) return bad("too large");
    }
    if (__builtin_add_overflow(total, part, &total)) return bad("too large");
  }
  return negative ? -total : total;
}

Result<int64_t> ns_to_ticks(int64_t ns, uint32_t ticksPerSecond) {
  // Whole seconds and the rest separately, so that nothing overflows before the result would.
  constexpr int64_t kNsPerSecond = 1'000'000'000;
  const int64_t seconds = ns / kNsPerSecond;
  const int64_t rest = ns % kNsPerSecond;   // same sign as ns, |rest| < 1e9
  int64_t ticks = 0;
  if (__builtin_mul_overflow(seconds, static_cast<int64_t>(ticksPerSecond), &ticks))
    return usage_error("duration too large for a TIME value");
  // |rest * ticksPerSecond| < 1e9 * 2^32 < 2^63
  const int64_t restTicks = rest * static_cast<int64_t>(ticksPerSecond) / kNsPerSecond;
  if (__builtin_add_overflow(ticks, restTicks, &ticks)) return usage_error("duration too large for a TIME value");
  return ticks;
}

namespace {

Result<int64_t> parse_integer(std::string_view text, ValueType type, int64_t low, int64_t high) {
  const std::string name(type_name(type));
  const auto bad = [&] {
    return usage_error("invalid " + name + " value " + quoted(text) + ": expected a whole number" +
                       (type == ValueType::Int ? " from -32768 to 32767" : " from 0 to 65535"));
  };
  std::string_view rest = text;
  if (starts_with_ignoring_case(rest, name + "#")) rest.remove_prefix(name.size() + 1);
  bool negative = false;
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  int base = 10;
  for (int candidate : {2, 8, 16}) {
    const std::string prefix = std::to_string(candidate) + "#";
    if (rest.substr(0, prefix.size()) == prefix) {
      base = candidate;
      rest.remove_prefix(prefix.size());
      break;
    }
  }
  // Drop IEC digit separators (single underscores between digits).
  std::string digits;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '_' && i > 0 && i + 1 < rest.size() && rest[i - 1] != '_' && rest[i + 1] != '_') continue;
    digits.push_back(rest[i]);
  }
  if (digits.empty()) return bad();
  uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (end != digits.data() + digits.size()) return bad();
  const bool tooLarge = ec == std::errc::result_out_of_range || magnitude > uint64_t{1} << 62;
  const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (ec != std::errc() && !tooLarge) return bad();
  if (tooLarge || value < low || value > high) {
    return usage_error(name + " value " + quoted(text) + " is out of range (" + std::to_string(low) + " to " +
                       std::to_string(high) + ")");
  }
  return value;
}

Result<float> parse_real(std::string_view text) {
  std::string_view rest = text;
  if (starts_with_ignoring_case(rest, "REAL#")) rest.remove_prefix(5);
  // from_chars takes no leading '+'; keep the '-' so that -nan and -0 keep their sign.
  if (!rest.empty() && rest.front() == '+' && rest.size() > 1 && rest[1] != '-') rest.remove_prefix(1);
  float value = 0.0f;
  const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (rest.empty() || end != rest.data() + rest.size() || ec == std::errc::invalid_argument) {
    return usage_error("invalid REAL value " + quoted(text) + ": expected a number such as 1.5, -2e3, nan or inf");
  }
  if (ec == std::errc::result_out_of_range) {
    return usage_error("REAL value " + quoted(text) + " does not fit in a 32-bit float");
  }
  return value;
}

}  // namespace

Result<Value> parse_value(ValueType type, std::string_view text) {
  Value value;
  value.type = type;
  switch (type) {
    case ValueType::Bool: {
      if (equal_ignoring_case(text, "TRUE") || text == "1") {
        value.boolean = true;
      } else if (equal_ignoring_case(text, "FALSE") || text == "0") {
        value.boolean = false;
      } else {
        return usage_error("invalid BOOL value " + quoted(text) + ": expected TRUE, FALSE, 1 or 0");
      }
      return value;
    }
    case ValueType::Int:
    case ValueType::Uint: {
      const auto parsed = type == ValueType::Int ? parse_integer(text, type, -32768, 32767)
                                                 : parse_integer(text, type, 0, 65535);
      if (!parsed) return parsed.error();
      value.integer = static_cast<int32_t>(*parsed);
      return value;
    }
    case ValueType::Real: {
      const auto parsed = parse_real(text);
      if (!parsed) return parsed.error();
      value.real = *parsed;
      return value;
    }
    case ValueType::Time: {
      const auto parsed = parse_duration_ns(text, true);
      if (!parsed) {
        return usage_error("invalid TIME value " + quoted(text) +
                           ": expected a duration such as T#1s, 500ms or -2.5s (" + parsed.error().message + ")");
      }
      value.ns = *parsed;
      return value;
    }
  }
  return usage_error("unsupported type");
}

Result<Encoded> encode(const Value& value, uint32_t ticksPerSecond) {
  Encoded out;
  out.size = size_of(value.type);
  const auto put = [&](const auto& raw) {
    static_assert(std::numeric_limits<float>::is_iec559, "REAL is an IEEE single");
    std::memcpy(out.bytes.data(), &raw, sizeof raw);   // i386: little-endian, as in the data area
  };
  switch (value.type) {
    case ValueType::Bool: put(static_cast<uint8_t>(value.boolean ? 1 : 0)); break;
    case ValueType::Int: put(static_cast<int16_t>(value.integer)); break;
    case ValueType::Uint: put(static_cast<uint16_t>(value.integer)); break;
    case ValueType::Real: put(value.real); break;
    case ValueType::Time: {
      const auto ticks = ns_to_ticks(value.ns, ticksPerSecond);
      if (!ticks) return ticks.error();
      put(*ticks);
      break;
    }
  }
  return out;
}

std::string format_value(ValueType type, std::span<const uint8_t> bytes, BoolStyle style) {
  if (bytes.size() < size_of(type)) return "?";
  const auto get = [&](auto raw) {
    std::memcpy(&raw, bytes.data(), sizeof raw);
    return raw;
  };
  switch (type) {
    case ValueType::Bool: {
      // Any byte other than 0 counts as TRUE.
      const bool on = get(uint8_t{}) != 0;
      if (style == BoolStyle::Digit) return on ? "1" : "0";
      return on ? "TRUE" : "FALSE";
    }
    case ValueType::Int: return std::to_string(get(int16_t{}));
    case ValueType::Uint: return std::to_string(get(uint16_t{}));
    case ValueType::Real: {
      char buffer[64];
      const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, get(float{}));
      return ec == std::errc() ? std::string(buffer, end) : "?";
    }
    case ValueType::Time: return std::to_string(get(int64_t{}));
  }
  return "?";
}

std::string format_time(int64_t ticks, uint32_t ticksPerSecond) {
  if (ticksPerSecond == 0) return std::to_string(ticks);
  const uint64_t magnitude = ticks < 0 ? uint64_t{0} - static_cast<uint64_t>(ticks) : static_cast<uint64_t>(ticks);
  const uint64_t seconds = magnitude / ticksPerSecond;
  // rest < ticksPerSecond < 2^32, so rest * 1e9 fits; rounded up, it stays below a whole second.
  const uint64_t rest = magnitude % ticksPerSecond;
  const uint64_t nanos = (rest * 1'000'000'000ULL + ticksPerSecond - 1) / ticksPerSecond;
  const struct {
    uint64_t value;
    const char* unit;
  } parts[] = {
      {seconds / 86400, "d"},
      {seconds / 3600 % 24, "h"},
      {seconds / 60 % 60, "m"},
      {seconds % 60, "s"},
      {nanos / 1'000'000, "ms"},
      {nanos / 1000 % 1000, "us"},
      {nanos % 1000, "ns"},
  };
  std::string text = ticks < 0 ? "T#-" : "T#";
  bool any = false;
  for (const auto& part : parts) {
    if (part.value == 0) continue;
    text += std::to_string(part.value) + part.unit;
    any = true;
  }
  return any ? text : "T#0s";
}

std::string format_for_people(ValueType type, std::span<const uint8_t> bytes, uint32_t ticksPerSecond) {
  if (type == ValueType::Time && bytes.size() >= sizeof(int64_t)) {
    int64_t ticks = 0;
    std::memcpy(&ticks, bytes.data(), sizeof ticks);
    return format_time(ticks, ticksPerSecond);
  }
  return format_value(type, bytes, BoolStyle::Word);
}

std::string format_seconds(int64_t ns) {
  constexpr int64_t kNsPerSecond = 1'000'000'000;
  std::string text = ns < 0 ? "-" : "";
  // Work on the magnitude as unsigned, so that the smallest int64 has one too.
  const uint64_t magnitude = ns < 0 ? uint64_t{0} - static_cast<uint64_t>(ns) : static_cast<uint64_t>(ns);
  text += std::to_string(magnitude / kNsPerSecond);
  uint64_t rest = magnitude % kNsPerSecond;
  if (rest != 0) {
    std::string digits = std::to_string(rest);
    digits.insert(0, 9 - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    text += "." + digits;
  }
  return text;
}

}  // namespace softplc
