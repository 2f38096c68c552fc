// The elementary operations on values the program never gives them, and their debug brackets.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "block_test.h"
#include "blocks/op_compute.h"
#include "blocks/op_shapes.h"

namespace {

using blk::enter;
using blk::exitHook;
using fake::Call;
using fake::Event;

uint32_t bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// Same value and same sign of zero; any NaN matches any NaN.
::testing::AssertionResult sameReal(float expected, float actual) {
  if (std::isnan(expected) && std::isnan(actual)) return ::testing::AssertionSuccess();
  if (bits(expected) == bits(actual)) return ::testing::AssertionSuccess();
  char text[96];
  std::snprintf(text, sizeof text, "expected %.9g (0x%08X), got %.9g (0x%08X)", expected,
                static_cast<unsigned>(bits(expected)), actual, static_cast<unsigned>(bits(actual)));
  return ::testing::AssertionFailure() << text;
}

// A gated use's fields: its ENO variable with the result 4 bytes behind it.
struct GatedUse {
  KX_BOOL eno;
  uint8_t pad[3];
  float result;
};
using Ops = BlockTest<GatedUse>;

TEST_F(Ops, DivRealZeroDivisorRecords140AndGivesPlusZero) {
  struct Case {
    float in1, in2, expected;
    bool error;
  };
  const Case cases[] = {
      {1.0f, 0.0f, 0.0f, true},    {1.0f, -0.0f, 0.0f, true},  {0.0f, 0.0f, 0.0f, true},
      {-1.0f, -0.0f, 0.0f, true},  {1.0f, kNaN, kNaN, false},  {1.0f, 1.0e-39f, kInf, false},
      {7.0f, 2.0f, 3.5f, false},   {-1.0f, 3.0f, -0.333333343f, false},
      {kNaN, 0.0f, 0.0f, true},
  };
  for (const Case& c : cases) {
    fake::reset(nullptr);
    const float r = kx_div_real(c.in1, c.in2);
    EXPECT_TRUE(sameReal(c.expected, r)) << c.in1 << " / " << c.in2;
    if (c.error) {
      EXPECT_EQ(fake::errorCalls(), (std::vector<Event>{{Call::SetError, 140, 0}}));
    } else {
      EXPECT_TRUE(fake::errorCalls().empty()) << c.in1 << " / " << c.in2;
    }
  }
}

TEST_F(Ops, RealArithmeticRoundsOnceToSingle) {
  struct Case {
    KX_REAL (*op)(KX_REAL, KX_REAL);
    float a, b, expected;
  };
  const Case cases[] = {
      {kx_add_real, 16777216.0f, 1.0f, 16777216.0f},
      {kx_add_real, 16777216.0f, 3.0f, 16777220.0f},   // tie to even
      {kx_add_real, 0.1f, 0.2f, 0.3f},
      {kx_sub_real, -0.0f, 0.0f, -0.0f},
      {kx_mul_real, 3.0e38f, 10.0f, kInf},
      {kx_mul_real, 1.0e-30f, 1.4e-15f, 1.0e-45f},     // a denormal
      {kx_sub_real, kInf, kInf, kNaN},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(sameReal(c.expected, c.op(c.a, c.b))) << c.a << ", " << c.b;
  EXPECT_TRUE(fake::errorCalls().empty());
}

TEST_F(Ops, LimitTestsTheLowerBoundFirstAndTheUpperBoundWins) {
  struct Case {
    float mn, in, mx, expected;
  };
  const Case cases[] = {
      {0.0f, 5.0f, 10.0f, 5.0f},    {0.0f, -1.0f, 10.0f, 0.0f},   {0.0f, 11.0f, 10.0f, 10.0f},
      {10.0f, 5.0f, 0.0f, 0.0f},    {10.0f, 20.0f, 0.0f, 0.0f},   {0.0f, kNaN, 10.0f, 0.0f},
      {kNaN, 5.0f, 10.0f, 10.0f},   {0.0f, 5.0f, kNaN, kNaN},     {0.0f, 0.0f, 10.0f, 0.0f},
      {0.0f, 10.0f, 10.0f, 10.0f},  {5.0f, 5.0f, 5.0f, 5.0f},     {-0.0f, 0.0f, 10.0f, -0.0f},
      {0.0f, kNaN, -1.0f, -1.0f},   {kNaN, kNaN, kNaN, kNaN},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(sameReal(c.expected, kx_limit_real(c.mn, c.in, c.mx)))
        << "LIMIT(" << c.mn << ", " << c.in << ", " << c.mx << ")";
}

TEST_F(Ops, SelTakesIn1ForAnyNonZeroByteAndCopiesBitsUnchanged) {
  struct Case {
    KX_BOOL g;
    float in0, expected;
  };
  const Case cases[] = {{0, 1.0f, 1.0f}, {1, 1.0f, 2.0f}, {2, 1.0f, 2.0f}, {0xFF, 1.0f, 2.0f},
                        {0, -0.0f, -0.0f}};
  for (const Case& c : cases)
    EXPECT_TRUE(sameReal(c.expected, kx_sel_real(c.g, c.in0, 2.0f))) << int(c.g) << ", " << c.in0;
  float payload;
  const uint32_t nanBits = 0x7FC12345u;
  std::memcpy(&payload, &nanBits, sizeof payload);
  EXPECT_EQ(nanBits, bits(kx_sel_real(1, 0.0f, payload)));
}

TEST_F(Ops, ComparisonsAreOrderedAndSigned) {
  struct Case {
    KX_BOOL (*op)(KX_REAL, KX_REAL);
    float a, b;
    KX_BOOL expected;
  };
  const Case real[] = {
      {kx_eq_real, 0.0f, -0.0f, 1}, {kx_eq_real, 1.0f, 1.0f, 1},  {kx_eq_real, kNaN, kNaN, 0},
      {kx_eq_real, 1.0f, kNaN, 0},  {kx_gt_real, 2.0f, 1.0f, 1},  {kx_gt_real, 1.0f, 1.0f, 0},
      {kx_gt_real, kNaN, 1.0f, 0},  {kx_gt_real, 1.0f, kNaN, 0},  {kx_lt_real, 1.0f, 2.0f, 1},
      {kx_lt_real, kNaN, 1.0f, 0},  {kx_lt_real, -kInf, kNaN, 0}, {kx_lt_real, -kInf, 0.0f, 1},
  };
  for (const Case& c : real) EXPECT_EQ(c.expected, c.op(c.a, c.b)) << c.a << " ? " << c.b;
  struct IntCase {
    KX_BOOL (*op)(KX_INT, KX_INT);
    KX_INT a, b;
    KX_BOOL expected;
  };
  const IntCase ints[] = {{kx_gt_int, -1, 1, 0},         {kx_gt_int, 1, -1, 1},
                          {kx_lt_int, -32768, 32767, 1}, {kx_lt_int, 32767, -32768, 0},
                          {kx_lt_int, 5, 5, 0}};
  for (const IntCase& c : ints) EXPECT_EQ(c.expected, c.op(c.a, c.b)) << c.a << " ? " << c.b;
}

TEST_F(Ops, RealToIntRoundsHalfAwayFromZeroAndKeepsTheLow16Bits) {
  struct Case {
    float in;
    int16_t expected;
  };
  const Case cases[] = {
      {2.5f, 3},           {-2.5f, -3},          {1.5f, 2},          {0.49999997f, 0},
      {-0.4f, 0},          {-0.5f, -1},          {-0.0f, 0},         {32767.5f, -32768},
      {-32768.5f, 32767},  {40000.0f, -25536},   {1.0e9f, -13824},   {3.0e9f, 0},
      {-3.0e9f, 0},        {kNaN, 0},            {kInf, 0},          {-kInf, 0},
      {2147483520.0f, -128},   // the largest REAL below 2^31
      {-2147483648.0f, 0},     // -2^31 - 0.5 truncates to -2^31 itself
      {1.0e-45f, 0},       {99.5f, 100},         {-32768.0f, -32768},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, kx_real_to_int(c.in)) << "REAL_TO_INT(" << c.in << ")";
  EXPECT_TRUE(fake::errorCalls().empty());
}

TEST_F(Ops, IntConversionsAndAbsoluteValues) {
  for (KX_INT in : {-32768, 32767}) EXPECT_TRUE(sameReal(float(in), kx_int_to_real(in)));
  const std::pair<KX_INT, KX_INT> absInt[] = {{-5, 5}, {5, 5}, {-32767, 32767}, {-32768, -32768}};
  for (const auto& [in, expected] : absInt) EXPECT_EQ(expected, kx_abs_int(in)) << in;
  const std::pair<float, float> absReal[] = {{-0.0f, 0.0f}, {-3.5f, 3.5f}, {-kInf, kInf},
                                             {-kNaN, kNaN}};
  for (const auto& [in, expected] : absReal) EXPECT_TRUE(sameReal(expected, kx_abs_real(in))) << in;
  EXPECT_TRUE(fake::errorCalls().empty());
}

TEST_F(Ops, TimeConversionsGoThroughTheRuntime) {
  const std::pair<KX_TIME, float> toReal[] = {
      {1193182, 1.0f}, {-1193182, -1.0f}, {0, 0.0f}, {596591, 0.5f}};
  for (const auto& [in, expected] : toReal)
    EXPECT_TRUE(sameReal(expected, kx_time_to_real(in))) << in;
  EXPECT_EQ(4, fake::state.timeCalls);

  const std::pair<KX_UINT, KX_TIME> toTime[] = {{0, 0}, {1000, 1193182000}, {65535, 78195182370}};
  for (const auto& [in, expected] : toTime) EXPECT_EQ(expected, kx_uint_to_time(in)) << in;
  EXPECT_EQ(4 + 6, fake::state.timeCalls);   // two runtime calls each
}

TEST_F(Ops, BooleanOperationsOnArbitraryBytes) {
  struct Case {
    KX_BOOL (*op)(KX_BOOL, KX_BOOL);
    KX_BOOL a, b, expected;
  };
  const Case cases[] = {
      {kx_and_bool, 2, 1, 1},    {kx_and_bool, 0, 2, 0}, {kx_and_bool, 0x80, 0xFF, 1},
      {kx_xor_bool, 1, 1, 0},    {kx_xor_bool, 0, 1, 1},
      {kx_xor_bool, 2, 1, 1},    // XOR compares the bytes
      {kx_xor_bool, 2, 2, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, c.op(c.a, c.b)) << int(c.a) << ", " << int(c.b);
  EXPECT_EQ(0, kx_not_bool(2));
  EXPECT_EQ(1, kx_not_bool(0));
}

TEST_F(Ops, RisingEdgeOverASequence) {
  RTrigRecord edge{};
  const KX_BOOL clk[] = {0, 1, 1, 0, 1, 2, 0, 2};
  const KX_BOOL q[] = {0, 1, 0, 0, 1, 0, 0, 1};
  for (size_t i = 0; i < sizeof clk; ++i) {
    kx_r_trig(&edge, &clk[i], &d);
    EXPECT_EQ(q[i], edge.Q) << "execution " << i;
    EXPECT_EQ(clk[i], edge.M) << "execution " << i;   // M is a byte copy of CLK
    EXPECT_EQ(clk[i], edge.CLK);
  }
  RTrigRecord zeroed{};
  const KX_BOOL one = 1;
  fake::reset(&zeroed);
  kx_r_trig(&zeroed, &one, &d);
  EXPECT_EQ(1, zeroed.Q);
  EXPECT_EQ(fake::hooks(), (std::vector<Event>{enter(13, 0, 1), enter(13, 0, 6), exitHook()}));
}

// A gated use whose enable is FALSE: only its kind-1 event, no error-information call, the
// result and a previously recorded error stay.
TEST_F(Ops, ClosedGateIssuesOnlyItsStepEvent) {
  GatedUse& use = inst;
  use = {1, {}, 42.0f};
  const KX_BOOL en = 0;
  fake::state.errorCode = 140;
  if (kx_gate_open(KX_TYPE_DIV_REAL, &use.eno, &en, &d)) {
    use.result = kx_div_real(1.0f, 0.0f);
    kx_gate_close(&use.eno, &d);
  }
  EXPECT_EQ(0, use.eno);
  EXPECT_EQ(42.0f, use.result);
  EXPECT_EQ(fake::state.log, (std::vector<Event>{enter(5, 0, 1)}));
  EXPECT_EQ(140, fake::state.errorCode);
}

// EN is a byte copy of the earlier ENO; the error that the operation records decides ENO, and
// the error information is cleared before the operation and read right after it.
TEST_F(Ops, OpenGateBracketsTheOperationWithTheErrorInformation) {
  GatedUse& use = inst;
  use = {0, {}, 42.0f};
  const KX_BOOL en = 2;
  ASSERT_TRUE(kx_gate_open(KX_TYPE_DIV_REAL, &use.eno, &en, &d));
  EXPECT_EQ(2, use.eno);
  use.result = kx_div_real(1.0f, -0.0f);
  kx_gate_close(&use.eno, &d);
  EXPECT_EQ(0, use.eno);
  EXPECT_TRUE(sameReal(0.0f, use.result));
  EXPECT_EQ(fake::state.log, (std::vector<Event>{enter(5, 0, 1), enter(5, 0, 6),
                                                 {Call::ClrError},
                                                 {Call::SetError, 140, 0},
                                                 {Call::GetError},
                                                 exitHook()}));
}

}  // namespace
