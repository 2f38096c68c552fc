// Parsing what the user types (durations, values of every type) and formatting what softplc
// prints (seconds, REAL, BOOL).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "softplc/util/values.h"

using softplc::BoolStyle;
using softplc::ValueType;

namespace {

TEST(Durations, AcceptedSpellings) {
  const struct {
    const char* text;
    int64_t ns;
  } cases[] = {
      {"10ms", 10'000'000},          {"T#10ms", 10'000'000},     {"t#10MS", 10'000'000},
      {"TIME#1s", 1'000'000'000},    {"1.5s", 1'500'000'000},    {"0.5ms", 500'000},
      {"2min", 120'000'000'000},     {"1m", 60'000'000'000},     {"1h30m", 5'400'000'000'000},
      {"T#1s500ms", 1'500'000'000},  {"100us", 100'000},         {"7ns", 7},
      {"T#1d", 86'400'000'000'000},  {"1_000ms", 1'000'000'000}, {"120s", 120'000'000'000},
      {"1h2m3s4ms5us6ns", 3'723'004'005'006}, {"0.000000001s", 1},
  };
  for (const auto& c : cases) {
    auto parsed = softplc::parse_duration_ns(c.text);
    ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.error().message;
    EXPECT_EQ(*parsed, c.ns) << c.text;
  }
}

TEST(Durations, RejectedSpellings) {
  const char* cases[] = {
      "",          "10",        "ms",    "10 ms",   "10xs",  "T#",       "1s1h",   "1s1s",
      "1.5s3ms",   "0.5ns",     "-5ms",  "1..5s",   "1.s",   "_1s",      "1__0ms", "99999999999d",
      "T#10ms ",
  };
  for (const char* text : cases) {
    auto parsed = softplc::parse_duration_ns(text);
    EXPECT_FALSE(parsed.ok()) << "'" << text << "' parsed as " << (parsed.ok() ? *parsed : 0);
    if (!parsed.ok()) {
      EXPECT_EQ(parsed.error().kind, softplc::ErrorKind::usage);
    }
  }
}

TEST(Durations, TicksAt1193182PerSecond) {
  const struct {
    int64_t ns;
    int64_t ticks;
  } cases[] = {
      {1'000'000'000, 1193182}, {1'000'000, 1193},        {10'000'000, 11931},  {2'500'000'000, 2982955},
      {-1'000'000'000, -1193182}, {0, 0},                 {86'400'000'000'000, 103'090'924'800},
  };
  for (const auto& c : cases) {
    auto ticks = softplc::ns_to_ticks(c.ns, 1193182);
    ASSERT_TRUE(ticks.ok());
    EXPECT_EQ(*ticks, c.ticks) << c.ns;
  }
  // Ticks are coarser than nanoseconds at this rate; a faster time base can overflow.
  EXPECT_TRUE(softplc::ns_to_ticks(std::numeric_limits<int64_t>::max(), 1193182).ok());
  EXPECT_FALSE(softplc::ns_to_ticks(std::numeric_limits<int64_t>::max(), 4'000'000'000u).ok());
}

template <class T>
T decode(const softplc::Encoded& encoded) {
  T value{};
  EXPECT_EQ(encoded.size, sizeof(T));
  std::memcpy(&value, encoded.bytes.data(), sizeof(T));
  return value;
}

softplc::Encoded encoded(ValueType type, const char* text) {
  auto value = softplc::parse_value(type, text);
  EXPECT_TRUE(value.ok()) << text << ": " << (value.ok() ? "" : value.error().message);
  if (!value.ok()) return {};
  auto bytes = softplc::encode(*value, 1193182);
  EXPECT_TRUE(bytes.ok()) << text;
  return bytes.ok() ? *bytes : softplc::Encoded{};
}

TEST(Values, BoolSpellings) {
  for (const char* text : {"TRUE", "true", "True", "1"}) EXPECT_EQ(decode<uint8_t>(encoded(ValueType::Bool, text)), 1) << text;
  for (const char* text : {"FALSE", "false", "0"}) EXPECT_EQ(decode<uint8_t>(encoded(ValueType::Bool, text)), 0) << text;
  for (const char* text : {"", "yes", "2", "TRUEX", "on"}) EXPECT_FALSE(softplc::parse_value(ValueType::Bool, text).ok()) << text;
}

TEST(Values, IntAndUintRanges) {
  const struct {
    ValueType type;
    const char* text;
    int32_t value;
  } accepted[] = {
      {ValueType::Int, "32767", 32767},   {ValueType::Int, "-32768", -32768}, {ValueType::Int, "+5", 5},
      {ValueType::Int, "0", 0},           {ValueType::Int, "16#7FFF", 32767}, {ValueType::Int, "-16#8000", -32768},
      {ValueType::Int, "2#101", 5},       {ValueType::Int, "1_000", 1000},    {ValueType::Int, "INT#12", 12},
      {ValueType::Uint, "65535", 65535},  {ValueType::Uint, "0", 0},          {ValueType::Uint, "16#FFFF", 65535},
  };
  for (const auto& c : accepted) {
    const softplc::Encoded bytes = encoded(c.type, c.text);
    const int32_t got = c.type == ValueType::Int ? decode<int16_t>(bytes) : decode<uint16_t>(bytes);
    EXPECT_EQ(got, c.value) << c.text;
  }
  const struct {
    ValueType type;
    const char* text;
  } rejected[] = {
      {ValueType::Int, "32768"},  {ValueType::Int, "-32769"}, {ValueType::Int, "16#8000"},
      {ValueType::Int, "1.5"},    {ValueType::Int, "abc"},    {ValueType::Int, ""},
      {ValueType::Int, "-"},      {ValueType::Int, "12a"},    {ValueType::Int, "99999999999999999999999"},
      {ValueType::Int, "--5"},    {ValueType::Uint, "-1"},    {ValueType::Uint, "65536"},
  };
  for (const auto& c : rejected) {
    auto value = softplc::parse_value(c.type, c.text);
    EXPECT_FALSE(value.ok()) << c.text;
  }
  auto outOfRange = softplc::parse_value(ValueType::Int, "40000");
  ASSERT_FALSE(outOfRange.ok());
  EXPECT_NE(outOfRange.error().message.find("out of range"), std::string::npos) << outOfRange.error().message;
}

TEST(Values, RealAsFloat) {
  EXPECT_EQ(decode<float>(encoded(ValueType::Real, "102.6")), 102.6f);
  EXPECT_EQ(decode<float>(encoded(ValueType::Real, "+1.5")), 1.5f);
  EXPECT_EQ(decode<float>(encoded(ValueType::Real, "-2e3")), -2000.0f);
  EXPECT_TRUE(std::isnan(decode<float>(encoded(ValueType::Real, "nan"))));
  EXPECT_TRUE(std::isnan(decode<float>(encoded(ValueType::Real, "NaN"))));
  EXPECT_EQ(decode<float>(encoded(ValueType::Real, "inf")), std::numeric_limits<float>::infinity());
  EXPECT_EQ(decode<float>(encoded(ValueType::Real, "-Infinity")), -std::numeric_limits<float>::infinity());
  const float negativeZero = decode<float>(encoded(ValueType::Real, "-0"));
  EXPECT_TRUE(negativeZero == 0.0f && std::signbit(negativeZero));
  for (const char* text : {"", "abc", "1.5x", "1e40", "-1e40", "1,5", "0x10"}) {
    EXPECT_FALSE(softplc::parse_value(ValueType::Real, text).ok()) << text;
  }
}

TEST(Values, TimeAsDurationInTicks) {
  EXPECT_EQ(decode<int64_t>(encoded(ValueType::Time, "T#1s")), 1193182);
  EXPECT_EQ(decode<int64_t>(encoded(ValueType::Time, "500ms")), 596591);
  EXPECT_EQ(decode<int64_t>(encoded(ValueType::Time, "T#-5s")), -5965910);
  EXPECT_EQ(decode<int64_t>(encoded(ValueType::Time, "T#0s")), 0);
  // The whole 64-bit range, far beyond what nanoseconds reach; one tick of 838 ns is the finest step.
  EXPECT_EQ(decode<int64_t>(encoded(ValueType::Time, "T#106752d")), 11'005'162'404'249'600);
  EXPECT_EQ(decode<int64_t>(encoded(ValueType::Time, "T#89000000d")), 9'175'092'307'200'000'000);
  EXPECT_EQ(decode<int64_t>(encoded(ValueType::Time, "T#-89000000d")), -9'175'092'307'200'000'000);
  EXPECT_EQ(decode<int64_t>(encoded(ValueType::Time, "T#1.5ms")), 1789);
  for (const char* text : {"1193182", "", "1s2", "T#1y", "T#90000000d", "T#99999999999999999999s"}) {
    EXPECT_FALSE(softplc::parse_value(ValueType::Time, text).ok() &&
                 softplc::encode(*softplc::parse_value(ValueType::Time, text), 1193182).ok())
        << text;
  }
}

TEST(Values, TimeLiteralsForPeopleReadBackToTheirTicks) {
  const struct {
    int64_t ticks;
    const char* text;
  } cases[] = {
      {0, "T#0s"},
      {1193182, "T#1s"},
      {-5965910, "T#-5s"},
      {3'762'818'755'200'000, "T#36500d"},
      {11931, "T#9ms999us313ns"},
      {1, "T#839ns"},
      {std::numeric_limits<int64_t>::max(), "T#89468321d19h42m34s401ms765us196ns"},
      {std::numeric_limits<int64_t>::min(), "T#-89468321d19h42m34s401ms766us35ns"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(softplc::format_time(c.ticks, 1193182), c.text);
    EXPECT_EQ(decode<int64_t>(encoded(ValueType::Time, c.text)), c.ticks) << c.text;
  }
}

std::string formatted(ValueType type, const void* raw, BoolStyle style = BoolStyle::Word) {
  uint8_t bytes[8] = {};
  std::memcpy(bytes, raw, softplc::size_of(type));
  return softplc::format_value(type, std::span<const uint8_t>(bytes, softplc::size_of(type)), style);
}

TEST(Formatting, ValuesAsPrinted) {
  const uint8_t yes = 1, no = 0, other = 2;
  EXPECT_EQ(formatted(ValueType::Bool, &yes), "TRUE");
  EXPECT_EQ(formatted(ValueType::Bool, &no), "FALSE");
  EXPECT_EQ(formatted(ValueType::Bool, &other), "TRUE");
  EXPECT_EQ(formatted(ValueType::Bool, &yes, BoolStyle::Digit), "1");
  EXPECT_EQ(formatted(ValueType::Bool, &other, BoolStyle::Digit), "1");
  EXPECT_EQ(formatted(ValueType::Bool, &no, BoolStyle::Digit), "0");

  const int16_t negative = -32768;
  const uint16_t large = 65535;
  EXPECT_EQ(formatted(ValueType::Int, &negative), "-32768");
  EXPECT_EQ(formatted(ValueType::Uint, &large), "65535");

  const struct {
    float value;
    const char* text;
  } reals[] = {
      {102.6f, "102.6"}, {0.1f, "0.1"}, {100.0f, "100"}, {0.0f, "0"}, {-1.5f, "-1.5"},
      {1e-45f, "1e-45"}, {3.4028235e38f, "3.4028235e+38"}, {16777216.0f, "16777216"},
      {std::numeric_limits<float>::infinity(), "inf"}, {-std::numeric_limits<float>::infinity(), "-inf"},
  };
  for (const auto& r : reals) EXPECT_EQ(formatted(ValueType::Real, &r.value), r.text);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(formatted(ValueType::Real, &nan), "nan");

  const int64_t ticks = 1193182;
  EXPECT_EQ(formatted(ValueType::Time, &ticks), "1193182");
}

TEST(Formatting, SecondsFromNanosecondsExactly) {
  const struct {
    int64_t ns;
    const char* text;
  } cases[] = {
      {0, "0"},
      {10'000'000, "0.01"},
      {20'000'000, "0.02"},
      {1'000'000'000, "1"},
      {119'990'000'000, "119.99"},
      {120'000'000'000, "120"},
      {1'000'000'001, "1.000000001"},
      {123'456'789, "0.123456789"},
      {-1'500'000'000, "-1.5"},
      {std::numeric_limits<int64_t>::max(), "9223372036.854775807"},
  };
  for (const auto& c : cases) EXPECT_EQ(softplc::format_seconds(c.ns), c.text) << c.ns;
}

}  // namespace
