#include "softplc/util/values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>

#include "softplc/util/text.h"

namespace softplc {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

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

namespace {

struct Unit {
  std::string_view name;
  uint64_t seconds;   // a whole number of seconds, or
  uint64_t nanos;     // a fraction of a second in nanoseconds
};

// Longer spellings first, so that "ms" and "min" are not read as "m".
constexpr Unit kUnits[] = {
    {"min", 60, 0}, {"ms", 0, 1'000'000}, {"us", 0, 1'000}, {"ns", 0, 1},
    {"d", 86'400, 0}, {"h", 3'600, 0}, {"m", 60, 0}, {"s", 1, 0},
};

constexpr uint64_t kNsPerSecond = 1'000'000'000;

// Adds whole seconds and nanoseconds to a duration; false when the seconds overflow.
bool add(Duration& total, uint64_t seconds, uint64_t nanos) {
  seconds += nanos / kNsPerSecond;
  nanos %= kNsPerSecond;
  uint64_t sum = 0;
  if (__builtin_add_overflow(total.seconds, seconds, &sum)) return false;
  total.seconds = sum;
  total.nanos += static_cast<uint32_t>(nanos);
  if (total.nanos >= kNsPerSecond) {
    total.nanos -= static_cast<uint32_t>(kNsPerSecond);
    if (__builtin_add_overflow(total.seconds, 1, &total.seconds)) return false;
  }
  return true;
}

}  // namespace

Result<Duration> parse_duration(std::string_view text, bool allowNegative) {
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
  Duration total;
  if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
    total.negative = rest.front() == '-';
    if (total.negative && !allowNegative) return bad("must not be negative");
    rest.remove_prefix(1);
  }
  if (rest.empty()) return bad("expected a number with a unit, e.g. 10ms or T#1.5s");

  uint64_t previousSize = std::numeric_limits<uint64_t>::max();   // nanoseconds of the previous part's unit
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
    // The parts go from the largest unit to the smallest.
    const uint64_t size = unit->seconds != 0 ? unit->seconds * kNsPerSecond : unit->nanos;
    if (size >= previousSize) return bad("units must go from the largest to the smallest, each once");
    previousSize = size;
    if (!fraction.empty() && !rest.empty()) return bad("only the last part may have a fraction");

    uint64_t value = 0;
    for (char digit : whole) {
      if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, digit - '0', &value))
        return bad("too large");
    }
    // whole × unit, then the fraction of one unit, exactly.
    uint64_t seconds = 0;
    uint64_t nanos = 0;
    uint64_t scale = 0;   // nanoseconds of one unit
    if (unit->seconds != 0) {
      if (__builtin_mul_overflow(value, unit->seconds, &seconds)) return bad("too large");
      scale = unit->seconds * kNsPerSecond;
    } else {
      const uint64_t perSecond = kNsPerSecond / unit->nanos;
      seconds = value / perSecond;
      nanos = value % perSecond * unit->nanos;
      scale = unit->nanos;
    }
    for (char digit : fraction) {
      const uint64_t d = static_cast<uint64_t>(digit - '0');
      if (scale % 10 != 0) {
        if (d != 0) return bad("finer than a nanosecond");
        continue;
      }
      scale /= 10;
      nanos += d * scale;   // below one unit of at most a day: no overflow
    }
    if (!add(total, seconds, nanos)) return bad("too large");
  }
  return total;
}

Result<int64_t> parse_duration_ns(std::string_view text, bool allowNegative) {
  auto duration = parse_duration(text, allowNegative);
  if (!duration) return duration.error();
  constexpr uint64_t kMaxSeconds = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / kNsPerSecond;
  if (duration->seconds > kMaxSeconds) {
    return usage_error("invalid duration " + quoted(text) + ": too large (at most about 292 years)");
  }
  const int64_t ns = static_cast<int64_t>(duration->seconds * kNsPerSecond + duration->nanos);
  return duration->negative ? -ns : ns;
}

Result<int64_t> duration_to_ticks(const Duration& duration, uint32_t ticksPerSecond) {
  // |ticks| = seconds × rate + nanos × rate / 1e9 (toward zero); the magnitude may reach 2^63 for
  // a negative value.
  const uint64_t limit = duration.negative ? uint64_t{1} << 63 : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  uint64_t magnitude = 0;
  const uint64_t part = static_cast<uint64_t>(duration.nanos) * ticksPerSecond / kNsPerSecond;
  if (__builtin_mul_overflow(duration.seconds, static_cast<uint64_t>(ticksPerSecond), &magnitude) ||
      __builtin_add_overflow(magnitude, part, &magnitude) || magnitude > limit) {
    const long double years = static_cast<long double>(limit) / ticksPerSecond / (365.25L * 86400);
    char text[64];
    std::snprintf(text, sizeof text, "%.0Lf", years);
    return usage_error("duration too large for a TIME value (at most about " + std::string(text) +
                       " years at this module's time base)");
  }
  return duration.negative ? static_cast<int64_t>(uint64_t{0} - magnitude) : static_cast<int64_t>(magnitude);
}

Result<int64_t> ns_to_ticks(int64_t ns, uint32_t ticksPerSecond) {
  Duration duration;
  duration.negative = ns < 0;
  const uint64_t magnitude = ns < 0 ? uint64_t{0} - static_cast<uint64_t>(ns) : static_cast<uint64_t>(ns);
  duration.seconds = magnitude / kNsPerSecond;
  duration.nanos = static_cast<uint32_t>(magnitude % kNsPerSecond);
  return duration_to_ticks(duration, ticksPerSecond);
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
      const auto parsed = parse_duration(text, true);
      if (!parsed) {
        return usage_error("invalid TIME value " + quoted(text) +
                           ": expected a duration such as T#1s, 500ms or -2.5s (" + parsed.error().message + ")");
      }
      value.duration = *parsed;
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
      const auto ticks = duration_to_ticks(value.duration, ticksPerSecond);
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
