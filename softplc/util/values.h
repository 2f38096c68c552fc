// Parsing and formatting of values: durations (for the command line and for TIME variables),
// values of the elementary types as the user writes them, and values as the host prints them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "softplc/util/result.h"
#include "softplc/util/value_type.h"

namespace softplc {

// A duration exactly as the user wrote it: its sign, whole seconds and nanoseconds below a second.
struct Duration {
  bool negative = false;
  uint64_t seconds = 0;
  uint32_t nanos = 0;
};

// A duration: "10ms", "1.5s", "2min", "1h30m", or the IEC forms "T#10ms", "TIME#1h2m3s4ms" (units
// d, h, m or min, s, ms, us, ns, largest first; a fraction only in the last part; underscores
// between digits). A sign is accepted only when `allowNegative`.
Result<Duration> parse_duration(std::string_view text, bool allowNegative = false);
// The same in nanoseconds (up to about 292 years).
Result<int64_t> parse_duration_ns(std::string_view text, bool allowNegative = false);

// A duration (or nanoseconds) as TIME ticks at `ticksPerSecond`, rounded toward zero; the whole
// 64-bit range of TIME is reachable (about 245,000 years at 1193182 ticks per second), beyond it
// the value is refused.
Result<int64_t> duration_to_ticks(const Duration& duration, uint32_t ticksPerSecond);
Result<int64_t> ns_to_ticks(int64_t ns, uint32_t ticksPerSecond);

// A value as the user gave it, checked against its type: BOOL TRUE/FALSE/1/0, INT and UINT in
// their ranges (decimal, or IEC based literals such as 16#FF), REAL as a float (nan and inf
// included), TIME as a duration.
struct Value {
  ValueType type = ValueType::Bool;
  bool boolean = false;
  int32_t integer = 0;   // INT and UINT
  float real = 0.0f;
  Duration duration;     // TIME, converted to ticks by encode()
};

Result<Value> parse_value(ValueType type, std::string_view text);

// The bytes of a value as they lie in the data area (little-endian, size_of(type) bytes).
struct Encoded {
  std::array<uint8_t, 8> bytes{};
  uint32_t size = 0;
  std::span<const uint8_t> view() const { return {bytes.data(), size}; }
};
Result<Encoded> encode(const Value& value, uint32_t ticksPerSecond);

enum class BoolStyle { Word, Digit };   // TRUE/FALSE or 1/0

// A value read from the data area, as text: BOOL per `style`, INT and UINT as integers, REAL in
// the shortest form that reads back to the same float, TIME as its tick count.
std::string format_value(ValueType type, std::span<const uint8_t> bytes, BoolStyle style);

// A TIME value of `ticks` at `ticksPerSecond` as a person reads it, an IEC literal: "T#0s", "T#1s",
// "T#-5s", "T#36500d", "T#1h30m", "T#9ms999us464ns". Parts that do not fall on a whole nanosecond
// are rounded away from zero, so that the literal reads back (as parse_value does) to the same
// tick count.
std::string format_time(int64_t ticks, uint32_t ticksPerSecond);

// A value for people: as format_value with BOOL as TRUE/FALSE, and TIME as an IEC literal.
std::string format_for_people(ValueType type, std::span<const uint8_t> bytes, uint32_t ticksPerSecond);

// Nanoseconds as an exact decimal number of seconds without trailing zeros: 0, 0.01, 120,
// 1.000000001. Integer arithmetic only, so every platform prints the same digits.
std::string format_seconds(int64_t ns);

}  // namespace softplc
