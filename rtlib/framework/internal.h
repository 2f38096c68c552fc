// Shared pieces of the framework library: refusals with their message, the registry of data
// areas, the clock as the timers read it, saturating 64-bit arithmetic and a little-endian reader
// for the tables the module hands over. Nothing here is exported.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>
#include <span>
#include <vector>

#include "kxrt.h"

namespace kxrt {

// Records the message of a refused call for kxrt_last_message (this thread) and returns code.
// GNU printf formats on both targets (mingw-w64's C++ library selects its own ANSI stdio).
int32_t refuse(int32_t code, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

// The registered data area whose base is exactly `base`, or nothing.
std::optional<std::span<uint8_t>> find_area(const void* base);

// Online change, as the framework sees it (registry.cpp). KX_fr_init2 with flag 1 is a cold start
// (clear, then apply) unless it is the re-initialisation of an online change (apply only): the
// host has declared an online change for that area (kxrt_online_change_begin), or the last
// KX_fr_move went into that area and no latch has come since. note_move_into records a successful
// move; reinitialises() answers for an init of `base` and forgets the move.
void note_move_into(const void* base);
bool reinitialises(const void* base);

// The timers' time base (clock.cpp): ticks that never go back, advanced at each latch by the
// forward step of the latched time. Written by the host's latch, read by the timers.
extern std::atomic<int64_t> g_timer_ticks;
// Latches so far (wrapping): tells whether a latch came between two framework calls.
extern std::atomic<uint32_t> g_latches;

inline int64_t timer_ticks() { return g_timer_ticks.load(std::memory_order_acquire); }

// q = n / d and r = n % d for unsigned n and a non-zero 32-bit d. At run time with the processor's
// 64-by-32 division, long division in two steps of 32 bits (a 64-bit division is a library call
// on a 32-bit target).
struct Division {
  uint64_t quotient;
  uint32_t remainder;
};
constexpr Division divide(uint64_t n, uint32_t d) {
  if (std::is_constant_evaluated()) return {n / d, static_cast<uint32_t>(n % d)};
#if defined(__i386__)
  const uint32_t high = static_cast<uint32_t>(n >> 32);
  uint32_t remainder = high % d;
  uint32_t low = static_cast<uint32_t>(n);
  // remainder:low / d: the quotient fits 32 bits since remainder < d.
  __asm__("divl %[d]" : "+a"(low), "+d"(remainder) : [d] "rm"(d) : "cc");
  return {uint64_t{high / d} << 32 | low, remainder};
#else   // a 64-bit machine (the native core) divides 64 bits at once
  return {n / d, static_cast<uint32_t>(n % d)};
#endif
}

// floor(ns * 1193182 / 1e9), exact for every int64, without a 128-bit intermediate and with
// unsigned divisions by a 32-bit divisor only (cheap on a 32-bit target): 1193182 / 1e9 is
// 596591 / 5e8, so for m = |ns| = q * 5e8 + r the quotient is q * 596591 + (r * 596591) / 5e8,
// where q * 596591 < 1.2e16 and r * 596591 < 3e14. A negative time rounds down (toward minus
// infinity): -(that quotient), one less when the division left a remainder.
constexpr int64_t ns_to_ticks(int64_t ns) {
  constexpr uint32_t kDenominator = 500000000;   // 1e9 / 2
  constexpr uint32_t kNumerator = KX_TICKS_PER_SECOND / 2;
  const uint64_t magnitude = ns < 0 ? 0 - static_cast<uint64_t>(ns) : static_cast<uint64_t>(ns);
  const Division whole = divide(magnitude, kDenominator);
  const Division part = divide(uint64_t{whole.remainder} * kNumerator, kDenominator);
  const int64_t ticks = static_cast<int64_t>(whole.quotient * kNumerator + part.quotient);
  if (ns >= 0) return ticks;
  return -ticks - (part.remainder != 0 ? 1 : 0);
}
static_assert(KX_TICKS_PER_SECOND % 2 == 0);
static_assert(ns_to_ticks(-839) == -2 && ns_to_ticks(INT64_MIN) == -11005161493678456);

constexpr int64_t kTimeMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kTimeMin = std::numeric_limits<int64_t>::min();

// a - b, clamped to the int64 range.
constexpr int64_t saturating_sub(int64_t a, int64_t b) {
  int64_t r = 0;
  if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? kTimeMax : kTimeMin;
  return r;
}

// a + b, clamped to the int64 range.
constexpr int64_t saturating_add(int64_t a, int64_t b) {
  int64_t r = 0;
  if (__builtin_add_overflow(a, b, &r)) return b < 0 ? kTimeMin : kTimeMax;
  return r;
}

// Reads little-endian integers from a table of known extent; every read checks that the bytes are
// there, so a cut-off entry is noticed, never read past.
class TableReader {
 public:
  explicit TableReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t position() const { return pos_; }
  bool at_end() const { return pos_ == bytes_.size(); }
  size_t remaining() const { return bytes_.size() - pos_; }

  // The next n bytes, or nothing when fewer remain (the position is then unchanged).
  std::optional<std::span<const uint8_t>> take(size_t n) {
    if (n > remaining()) return std::nullopt;
    auto part = bytes_.subspan(pos_, n);
    pos_ += n;
    return part;
  }
  // An unsigned little-endian integer of `width` bytes (1 to 4).
  std::optional<uint32_t> uint(size_t width) {
    auto part = take(width);
    if (!part) return std::nullopt;
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;) value = (value << 8) | (*part)[i];
    return value;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

// The u32 length at the start of a table (the caller has checked the pointer).
inline uint32_t table_length(const uint8_t* table) {
  return uint32_t{table[0]} | uint32_t{table[1]} << 8 | uint32_t{table[2]} << 16 |
         uint32_t{table[3]} << 24;
}

// The most records a move table or a retained-data description may hold. These tables carry no
// data area to measure their length against; a length beyond this is taken for a corrupt one
// (reading up to it could run past the real table).
constexpr uint32_t kMaxRecords = 65536;

// Reads a table of fixed-size records: a u32 length in bytes, counting itself, then records of
// `Fields` u32 values each. On success fills `records` and returns KXRT_OK; a null table, a length
// below 4, one that is not 4 plus a whole number of records, or more than kMaxRecords records is
// refused (message prefixed with `caller`) and `records` is left empty.
template <size_t Fields>
int32_t read_records(const uint8_t* table, const char* caller,
                     std::vector<std::array<uint32_t, Fields>>& records) {
  constexpr uint32_t kRecordSize = 4 * Fields;
  records.clear();
  if (table == nullptr) return refuse(KXRT_E_NULL, "%s: null table", caller);
  const uint32_t length = table_length(table);
  if (length < 4 || (length - 4) % kRecordSize != 0 || (length - 4) / kRecordSize > kMaxRecords) {
    return refuse(KXRT_E_MALFORMED,
                  "%s: table length %u is not 4 + a multiple of %u up to %u records", caller,
                  length, kRecordSize, kMaxRecords);
  }
  TableReader reader(std::span<const uint8_t>(table + 4, length - 4));
  records.resize((length - 4) / kRecordSize);
  for (auto& record : records) {
    for (uint32_t& field : record) field = *reader.uint(4);
  }
  return KXRT_OK;
}

// offset + size as a 64-bit value: whether a range fits can then be tested without wrapping.
constexpr uint64_t range_end(uint32_t offset, uint32_t size) { return uint64_t{offset} + size; }

}  // namespace kxrt
