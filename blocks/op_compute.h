// The computations of the elementary operations on values: arithmetic, comparisons, selection,
// conversions, absolute values and Boolean logic. Each is written out in place (always inlined)
// at its point of use; the generated code brackets it with one of the shapes of op_shapes.h and
// stores the result into the operation's own result variable.
//
// REAL operations read their operands as stored, compute in double precision and round once to
// single precision on return. A REAL never passes through the x87 stack (always inlined, SSE2
// arithmetic), so a selected or moved value keeps its bits.
//
// BOOL operands count as TRUE when their byte is not 0, except XOR, which compares the bytes;
// every computed BOOL is 0 or 1.
#pragma once

#include <emmintrin.h>
#include <math.h>
#include <stdlib.h>

#include "abi/kx_debug.h"
#include "abi/kx_framework.h"
#include "abi/kx_types.h"

#define KX_OP static inline __attribute__((always_inline))

// abs and fabs are real calls into the C library: msvcrt.dll on Windows, libc/libm elsewhere.
// mingw's math.h inlines fabs as an x87 instruction and its libmingwex carries a static copy, so
// on Windows both are declared here as imports under their msvcrt names, called through the
// import table.
#if defined(_WIN32)
extern "C" __declspec(dllimport) int __cdecl kx_crt_abs(int value) __asm__("abs");
extern "C" __declspec(dllimport) double __cdecl kx_crt_fabs(double value) __asm__("fabs");
#else
#define kx_crt_abs abs
#define kx_crt_fabs fabs
#endif

// Ticks per second as a double: the divisor of TIME_TO_REAL.
#define KX_TICKS_PER_SECOND_REAL 1193182.0

// ---- REAL arithmetic ---------------------------------------------------------------------------

KX_OP KX_REAL kx_add_real(KX_REAL in1, KX_REAL in2) {
  return (KX_REAL)((double)in1 + (double)in2);
}

KX_OP KX_REAL kx_sub_real(KX_REAL in1, KX_REAL in2) {
  return (KX_REAL)((double)in1 - (double)in2);
}

KX_OP KX_REAL kx_mul_real(KX_REAL in1, KX_REAL in2) {
  return (KX_REAL)((double)in1 * (double)in2);
}

// A divisor equal to 0.0 (either sign) records error 140 and gives +0.0. A NaN divisor compares
// unequal and divides through to NaN; a tiny divisor overflows to an infinity; neither records.
KX_OP KX_REAL kx_div_real(KX_REAL in1, KX_REAL in2) {
  if ((double)in2 == 0.0) {
    KXoplck_setErrorInfo(KX_ERROR_REAL_DIV_BY_ZERO, 0);
    return 0.0f;
  }
  return (KX_REAL)((double)in1 / (double)in2);
}

// ---- selection ---------------------------------------------------------------------------------

KX_OP KX_REAL kx_sel_real(KX_BOOL g, KX_REAL in0, KX_REAL in1) { return g != 0 ? in1 : in0; }

// The lower bound is tested first and the upper bound wins; every comparison is ordered, so a NaN
// makes it FALSE. IN equal to MN takes the second branch.
KX_OP KX_REAL kx_limit_real(KX_REAL mn, KX_REAL in, KX_REAL mx) {
  if (in > mn) return mx > in ? in : mx;
  return mx > mn ? mn : mx;
}

// ---- comparisons -------------------------------------------------------------------------------

KX_OP KX_BOOL kx_eq_real(KX_REAL in1, KX_REAL in2) { return (double)in1 == (double)in2 ? 1 : 0; }
KX_OP KX_BOOL kx_gt_real(KX_REAL in1, KX_REAL in2) { return (double)in1 > (double)in2 ? 1 : 0; }
KX_OP KX_BOOL kx_lt_real(KX_REAL in1, KX_REAL in2) { return (double)in1 < (double)in2 ? 1 : 0; }
KX_OP KX_BOOL kx_gt_int(KX_INT in1, KX_INT in2) { return in1 > in2 ? 1 : 0; }
KX_OP KX_BOOL kx_lt_int(KX_INT in1, KX_INT in2) { return in1 < in2 ? 1 : 0; }

// ---- Boolean logic -----------------------------------------------------------------------------

KX_OP KX_BOOL kx_and_bool(KX_BOOL in1, KX_BOOL in2) { return (in1 != 0 && in2 != 0) ? 1 : 0; }
KX_OP KX_BOOL kx_not_bool(KX_BOOL in) { return in == 0 ? 1 : 0; }
KX_OP KX_BOOL kx_xor_bool(KX_BOOL in1, KX_BOOL in2) { return in1 != in2 ? 1 : 0; }

// ---- conversions -------------------------------------------------------------------------------

KX_OP KX_REAL kx_int_to_real(KX_INT in) { return (KX_REAL)in; }

// Half away from zero, then the low 16 bits. The sum is formed in double (exact for every REAL
// that can reach the 32-bit range) and truncated by cvttsd2si, which truncates whatever the
// rounding mode is and gives 0x80000000 for NaN, infinities and everything outside the 32-bit
// range -- no out-of-range float-to-int conversion happens in C++ terms.
KX_OP KX_INT kx_real_to_int(KX_REAL in) {
  const double x = (double)in;
  const double biased = x >= 0.0 ? x + 0.5 : x - 0.5;
  const int32_t wide = _mm_cvttsd_si32(_mm_set_sd(biased));
  return (KX_INT)(uint16_t)(uint32_t)wide;   // modular since C++20
}

// Seconds: the runtime hands back the TIME as a double, which is read before any other call.
KX_OP KX_REAL kx_time_to_real(KX_TIME in) {
  const double ticks = *kxtQwCnvSQw2DPtr(in);
  return (KX_REAL)(ticks / KX_TICKS_PER_SECOND_REAL);
}

// A UINT counts whole seconds.
KX_OP KX_TIME kx_uint_to_time(KX_UINT in) {
  const KX_TIME value = kxtQwCnvUl2SQw((uint32_t)in);
  return kxtQwMulQwUl(value, KX_TICKS_PER_SECOND);
}

// ---- absolute values -----------------------------------------------------------------------------

// abs of the sign-extended value cannot overflow; its low 16 bits wrap 32768 to -32768.
KX_OP KX_INT kx_abs_int(KX_INT in) {
  const int32_t magnitude = kx_crt_abs((int32_t)in);
  return (KX_INT)(uint16_t)(uint32_t)magnitude;
}

KX_OP KX_REAL kx_abs_real(KX_REAL in) { return (KX_REAL)kx_crt_fabs((double)in); }
