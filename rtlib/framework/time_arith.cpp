// The 64-bit TIME helpers: TIME is a signed count of ticks (1193182 per second). Every result is
// defined for every operand: a result beyond the int64 range saturates to its nearest end and
// records KXRT_ERROR_TIME_OVERFLOW in the running cycle's error information; a division by 0 gives
// 0 and records KXRT_ERROR_TIME_DIV_BY_ZERO. The detail names the helper (KXRT_DETAIL_TIME_*).
// Division truncates toward zero, like C++: 1193182000 / 1000 = 1193182, -7 / 2 = -3.
//
// The usual path of each helper touches no global data and calls nothing: the rare cases (errors,
// a 64-bit division) live in functions of their own, so that the common call does not set up the
// GOT pointer for them.
#include <cstring>

#include "internal.h"

namespace {

// A result beyond the int64 range: its nearest end, and the error recorded.
[[gnu::cold, gnu::noinline]] int64_t overflowed(int32_t detail, bool negative) {
  KXoplck_setErrorInfo(KXRT_ERROR_TIME_OVERFLOW, detail);
  return negative ? kxrt::kTimeMin : kxrt::kTimeMax;
}

[[gnu::cold, gnu::noinline]] int64_t divided_by_zero() {
  KXoplck_setErrorInfo(KXRT_ERROR_TIME_DIV_BY_ZERO, KXRT_DETAIL_TIME_DIV);
  return 0;
}

[[gnu::noinline]] int64_t divide_wide(int64_t a, int32_t b) { return a / b; }

// The double behind kxtQwCnvSQw2DPtr, valid until the next call. One per process, like the error
// information: cycles run on one thread at a time (see the debug library).
double g_time_as_double;

}  // namespace

extern "C" {

KXAPI_API KX_TIME KX_CDECL kxtQwCnvUlL2SQw(uint32_t low, int32_t high) {
  // The two words as they lie in memory, low word first: two's complement high * 2^32 + low.
  const uint32_t words[2] = {low, static_cast<uint32_t>(high)};
  int64_t value = 0;
  std::memcpy(&value, words, sizeof value);
  return value;
}

KXAPI_API KX_TIME KX_CDECL kxtQwCnvUl2SQw(uint32_t value) { return value; }

// |a| * b from two 32 x 32 -> 64 products: |a| = h * 2^32 + l, so |a| * b = (h * b) * 2^32 + l * b.
KXAPI_API KX_TIME KX_CDECL kxtQwMulQwUl(KX_TIME a, uint32_t b) {
  const bool negative = a < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(a) : static_cast<uint64_t>(a);
  const uint64_t low = uint64_t{static_cast<uint32_t>(magnitude)} * b;
  const uint64_t high = uint64_t{static_cast<uint32_t>(magnitude >> 32)} * b;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t product = 0;
  if ((high >> 32) != 0 || __builtin_add_overflow(high << 32, low, &product) || product > limit) {
    return overflowed(KXRT_DETAIL_TIME_MUL, negative);
  }
  return static_cast<int64_t>(negative ? 0 - product : product);   // modular: -2^63 included
}

KXAPI_API KX_TIME KX_CDECL kxtQwDivQwL(KX_TIME a, int32_t b) {
  if (b == 0) return divided_by_zero();
  // A dividend that fits 32 bits (the usual case) divides without the 64-bit library division;
  // -2^31 stays out, as -2^31 / -1 does not fit.
  const int32_t narrow = static_cast<int32_t>(a);
  if (narrow == a && narrow != INT32_MIN) return narrow / b;
  if (a == kxrt::kTimeMin && b == -1) return overflowed(KXRT_DETAIL_TIME_DIV, false);
  return divide_wide(a, b);
}

KXAPI_API KX_TIME KX_CDECL kxtQwSubQwQw(KX_TIME a, KX_TIME b) {
  int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) {
    return overflowed(KXRT_DETAIL_TIME_SUB, b >= 0);   // a - b < INT64_MIN only when b > 0
  }
  return difference;
}

KXAPI_API const double* KX_CDECL kxtQwCnvSQw2DPtr(KX_TIME value) {
  g_time_as_double = static_cast<double>(value);
  return &g_time_as_double;
}

}  // extern "C"
