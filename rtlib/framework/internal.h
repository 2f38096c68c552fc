// Shared pieces of the framework library: refusals with their message, the registry of data
// areas, the clock as the timers read it, saturating 64-bit arithmetic and a little-endian reader
// for the tables the module hands over. Nothing here is exported.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "kxrt.h"

namespace kxrt {

// Records the message of a refused call for kxrt_last_message (this thread) and returns code.
// GNU printf formats on both targets (mingw-w64's C++ library selects its own ANSI stdio).
int32_t refuse(int32_t code, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

// The registered data area whose base is exactly `base`, or nothing.
std::optional<std::span<uint8_t>> find_area(const void* base);

// The latched time of the running cycle, in ticks.
int64_t latched_ticks();

// floor(ns * 1193182 / 1e9) without a 128-bit intermediate: split ns into whole seconds and a
// remainder in [0, 1e9) (floored division, so negative times round toward minus infinity too);
// seconds * 1193182 is exact and at most about 1.1e16, the remainder's product below 1.2e15.
constexpr int64_t ns_to_ticks(int64_t ns) {
  constexpr int64_t kNsPerSecond = 1000000000;
  constexpr int64_t kTicks = KX_TICKS_PER_SECOND;
  int64_t seconds = ns / kNsPerSecond;
  int64_t rest = ns % kNsPerSecond;
  if (rest < 0) {
    seconds -= 1;
    rest += kNsPerSecond;
  }
  return seconds * kTicks + (rest * kTicks) / kNsPerSecond;
}

constexpr int64_t kTimeMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kTimeMin = std::numeric_limits<int64_t>::min();

// a - b, clamped to the int64 range.
constexpr int64_t saturating_sub(int64_t a, int64_t b) {
  int64_t r = 0;
  if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? kTimeMax : kTimeMin;
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
