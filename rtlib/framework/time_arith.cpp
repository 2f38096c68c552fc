// The 64-bit TIME helpers: TIME is a signed count of ticks (1193182 per second). Every result is
// defined for every operand: a result beyond the int64 range saturates to its nearest end and
// records KXRT_ERROR_TIME_OVERFLOW in the running cycle's error information; a division by 0 gives
// 0 and records KXRT_ERROR_TIME_DIV_BY_ZERO. The detail names the helper (KXRT_DETAIL_TIME_*).
// Division truncates toward zero, like C++: 1193182000 / 1000 = 1193182, -7 / 2 = -3.
#include "internal.h"

namespace {

int64_t failed(int32_t code, int32_t detail, int64_t result) {
  KXoplck_setErrorInfo(code, detail);
  return result;
}

// The double behind kxtQwCnvSQw2DPtr, valid until the next call. One per process, like the error
// information: cycles run on one thread at a time (see the debug library).
double g_time_as_double;

}  // namespace

extern "C" {

KXAPI_API KX_TIME KX_CDECL kxtQwCnvUlL2SQw(uint32_t low, int32_t high) {
  const uint64_t bits = uint64_t{static_cast<uint32_t>(high)} << 32 | low;
  return static_cast<int64_t>(bits);   // two's complement: high * 2^32 + low
}

KXAPI_API KX_TIME KX_CDECL kxtQwCnvUl2SQw(uint32_t value) { return value; }

KXAPI_API KX_TIME KX_CDECL kxtQwMulQwUl(KX_TIME a, uint32_t b) {
  int64_t product = 0;
  if (__builtin_mul_overflow(a, int64_t{b}, &product)) {
    return failed(KXRT_ERROR_TIME_OVERFLOW, KXRT_DETAIL_TIME_MUL, a < 0 ? kxrt::kTimeMin : kxrt::kTimeMax);
  }
  return product;
}

KXAPI_API KX_TIME KX_CDECL kxtQwDivQwL(KX_TIME a, int32_t b) {
  if (b == 0) return failed(KXRT_ERROR_TIME_DIV_BY_ZERO, KXRT_DETAIL_TIME_DIV, 0);
  if (a == kxrt::kTimeMin && b == -1) {
    return failed(KXRT_ERROR_TIME_OVERFLOW, KXRT_DETAIL_TIME_DIV, kxrt::kTimeMax);
  }
  // A dividend that fits 32 bits (the usual case) divides without a 64-bit library division.
  if (a > INT32_MIN && a <= INT32_MAX) return static_cast<int32_t>(a) / b;
  return a / b;
}

KXAPI_API KX_TIME KX_CDECL kxtQwSubQwQw(KX_TIME a, KX_TIME b) {
  int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) {
    return failed(KXRT_ERROR_TIME_OVERFLOW, KXRT_DETAIL_TIME_SUB, kxrt::saturating_sub(a, b));
  }
  return difference;
}

KXAPI_API const double* KX_CDECL kxtQwCnvSQw2DPtr(KX_TIME value) {
  g_time_as_double = static_cast<double>(value);
  return &g_time_as_double;
}

}  // extern "C"
