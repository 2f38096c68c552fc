// The TIME helpers (values, saturation and the errors they record), byte copy, the version check,
// the clock and its nanosecond-to-tick conversion.
#include <gmock/gmock.h>

#include <chrono>
#include <cstring>

#include "runtime_fixture.h"

namespace {

constexpr int64_t kMax = INT64_MAX;
constexpr int64_t kMin = INT64_MIN;

// The error information a helper call left: code and detail, or 0/0 for none.
struct Recorded {
  int32_t code = 0;
  int32_t detail = 0;
};

constexpr Recorded kNone{};
constexpr Recorded kOverflow(int32_t detail) { return {KXRT_ERROR_TIME_OVERFLOW, detail}; }

class TimeHelperTest : public RuntimeTest {
 protected:
  // Runs one helper call between a clear and a read of the error information, as a gated
  // operation does, and checks what it recorded.
  template <class Call>
  void check(const char* what, Call call, int64_t expected, Recorded recorded) {
    KXoplck_clrErrorInfo();
    const int64_t result = call();
    EXPECT_EQ(result, expected) << what;
    EXPECT_EQ(KXoplck_getErrorInfo() != 0, recorded.code != 0) << what;
    EXPECT_EQ(kxdbg_error_code(), recorded.code) << what;
    EXPECT_EQ(kxdbg_error_detail(), recorded.detail) << what;
  }
};

TEST_F(TimeHelperTest, Conversions) {
  struct Row { uint32_t low; int32_t high; int64_t time; };
  const Row rows[] = {
      {0, 0, 0},
      {0x001234DE, 0, 1193182},                          // T#1s
      {0x83420400, 0x000D5E43, 3762818755200000},        // T#36500d
      {0x60454000, 0x016E40A6, 103090924800000000},      // T#1000000d
      {0xFFFFFFFF, 0, 4294967295},
      {0xFFFFFFFF, -1, -1},
      {0, -1, -4294967296},
      {0, INT32_MIN, kMin},
      {0xFFFFFFFF, INT32_MAX, kMax},
  };
  for (const Row& r : rows) {
    check("kxtQwCnvUlL2SQw", [&] { return kxtQwCnvUlL2SQw(r.low, r.high); }, r.time, kNone);
  }
  check("kxtQwCnvUl2SQw", [] { return kxtQwCnvUl2SQw(0); }, 0, kNone);
  check("kxtQwCnvUl2SQw", [] { return kxtQwCnvUl2SQw(65535); }, 65535, kNone);
  check("kxtQwCnvUl2SQw", [] { return kxtQwCnvUl2SQw(0xFFFFFFFF); }, 4294967295, kNone);
}

TEST_F(TimeHelperTest, Multiplication) {
  struct Row { int64_t a; uint32_t b; int64_t product; Recorded recorded; };
  const Row rows[] = {
      {1000, 1193182, 1193182000, kNone},
      {65535, 1193182, 78195182370, kNone},
      {0, 1193182, 0, kNone},
      {kMax, 0, 0, kNone},
      {-2, 3, -6, kNone},
      {kMin, 1, kMin, kNone},
      {4611686018427387904, 2, kMax, kOverflow(KXRT_DETAIL_TIME_MUL)},   // 2^62 * 2
      {kMax, 0xFFFFFFFF, kMax, kOverflow(KXRT_DETAIL_TIME_MUL)},
      {kMin, 2, kMin, kOverflow(KXRT_DETAIL_TIME_MUL)},
      {-4611686018427387905, 2, kMin, kOverflow(KXRT_DETAIL_TIME_MUL)},
      {-4611686018427387904, 2, kMin, kNone},                            // exactly INT64_MIN
  };
  for (const Row& r : rows) {
    check("kxtQwMulQwUl", [&] { return kxtQwMulQwUl(r.a, r.b); }, r.product, r.recorded);
  }
}

TEST_F(TimeHelperTest, DivisionTruncatesTowardZero) {
  struct Row { int64_t a; int32_t b; int64_t quotient; Recorded recorded; };
  const Recorded byZero{KXRT_ERROR_TIME_DIV_BY_ZERO, KXRT_DETAIL_TIME_DIV};
  const Row rows[] = {
      {1193182000, 1000, 1193182, kNone},
      {1193182, 1000, 1193, kNone},
      {78195182370, 1000, 78195182, kNone},
      {-7, 2, -3, kNone},
      {7, -2, -3, kNone},
      {-7, -2, 3, kNone},
      {-1193182, 1000, -1193, kNone},
      {kMin, 1, kMin, kNone},
      {kMin, 2, -4611686018427387904, kNone},
      {kMax, -1, -kMax, kNone},
      {5, 0, 0, byZero},
      {kMin, 0, 0, byZero},
      {kMin, -1, kMax, kOverflow(KXRT_DETAIL_TIME_DIV)},
  };
  for (const Row& r : rows) {
    check("kxtQwDivQwL", [&] { return kxtQwDivQwL(r.a, r.b); }, r.quotient, r.recorded);
  }
}

TEST_F(TimeHelperTest, SubtractionSaturates) {
  struct Row { int64_t a; int64_t b; int64_t difference; Recorded recorded; };
  const Row rows[] = {
      {5, 7, -2, kNone},
      {1193182, 0, 1193182, kNone},
      {-1, kMax, kMin, kNone},   // exactly INT64_MIN
      {kMax, kMax, 0, kNone},
      {kMin, 1, kMin, kOverflow(KXRT_DETAIL_TIME_SUB)},
      {kMax, -1, kMax, kOverflow(KXRT_DETAIL_TIME_SUB)},
      {0, kMin, kMax, kOverflow(KXRT_DETAIL_TIME_SUB)},
      {kMin, kMax, kMin, kOverflow(KXRT_DETAIL_TIME_SUB)},
  };
  for (const Row& r : rows) {
    check("kxtQwSubQwQw", [&] { return kxtQwSubQwQw(r.a, r.b); }, r.difference, r.recorded);
  }
}

TEST_F(TimeHelperTest, ErrorsCountIntoTheCycleRecord) {
  kxdbg_begin_cycle();
  kxtQwDivQwL(1, 0);
  kxtQwSubQwQw(kMin, 1);
  EXPECT_EQ(kxdbg_cycle_error_count(), 2u);
  EXPECT_EQ(kxdbg_cycle_first_error(), KXRT_ERROR_TIME_DIV_BY_ZERO);
  EXPECT_EQ(kxdbg_error_code(), KXRT_ERROR_TIME_OVERFLOW);
}

TEST_F(TimeHelperTest, TimeAsDouble) {
  struct Row { int64_t time; double value; };
  const Row rows[] = {
      {0, 0.0},
      {1193182, 1193182.0},
      {-1193182, -1193182.0},
      {9007199254740993, 9007199254740992.0},   // 2^53 + 1 rounds to nearest (even)
      {kMin, -9223372036854775808.0},
  };
  for (const Row& r : rows) EXPECT_EQ(*kxtQwCnvSQw2DPtr(r.time), r.value) << r.time;
}

TEST_F(TimeHelperTest, ByteCopy) {
  EXPECT_EQ(kx_memcpy(nullptr, nullptr, 0), nullptr);
  uint8_t destination[6] = {9, 9, 9, 9, 9, 9};
  const uint8_t source[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(kx_memcpy(destination, nullptr, 0), destination);
  EXPECT_EQ(kx_memcpy(destination, source, 5), destination);
  EXPECT_THAT(destination, ::testing::ElementsAre(1, 2, 3, 4, 5, 9));
  EXPECT_EQ(kx_memcpy(destination + 1, destination, 5), destination + 1);   // overlapping
  EXPECT_THAT(destination, ::testing::ElementsAre(1, 1, 2, 3, 4, 5));
  rtc_diag_timefunc();
}

TEST_F(TimeHelperTest, VersionCheck) {
  struct Row { uint32_t selector, target, a, b; bool match; };
  const Row rows[] = {
      {1, 0, 1, 1, true},
      {1, KXRT_TARGET_VERSION, 1, 1, true},
      {1, KXRT_TARGET_VERSION, 1, 0, true},
      {1, KXRT_TARGET_VERSION + 1, 1, 1, false},
      {1, 0xFFFFFFFF, 1, 1, false},
      {1, 0, 2, 0, false},
      {1, 0, 1, 2, false},
      {0, 0, 1, 1, false},
      {2, KXRT_TARGET_VERSION, 1, 1, false},
  };
  for (const Row& r : rows) {
    const int32_t result = KX_fs_doesTargetVersionMatch(r.selector, r.target, r.a, r.b);
    EXPECT_EQ(result == 0, r.match) << r.selector << " " << r.target << " " << r.a << "." << r.b;
  }
}

class ClockTest : public RuntimeTest {};

TEST_F(ClockTest, NanosecondsToTicksIsExactlyRoundedDown) {
  struct Row { int64_t ns; int64_t ticks; };
  const Row rows[] = {
      {0, 0},
      {1, 0},
      {838, 0},
      {839, 1},
      {999999999, 1193181},
      {1000000000, 1193182},
      {-1, -1},
      {-838, -1},
      {-839, -2},
      {-1000000000, -1193182},
      {-1000000001, -1193183},
      {123456789012345678, 147306418427328},
      {1000000000000000000, 1193182000000000},
      {9208512000000000000, 10987430765184000},   // 292 years of 365 days
      {kMax, 11005161493678455},
      {kMin, -11005161493678456},
  };
  for (const Row& r : rows) EXPECT_EQ(kxrt_ns_to_ticks(r.ns), r.ticks) << r.ns << " ns";
}

TEST_F(ClockTest, SimulatedClockMovesOnlyWhenTheHostMovesItAndLatches) {
  EXPECT_EQ(kxrt_clock_source(), KXRT_CLOCK_SIMULATED);
  EXPECT_EQ(kxrt_clock_now_ns(), 0);
  ASSERT_EQ(kxrt_clock_set_ns(1500000000), 0);
  EXPECT_EQ(kxrt_clock_latched_ns(), 1500000000);
  EXPECT_EQ(kxrt_clock_latched_ticks(), 1789773);
  ASSERT_EQ(kxrt_clock_advance_ns(500000000), 0);
  EXPECT_EQ(kxrt_clock_now_ns(), 2000000000);
  EXPECT_EQ(kxrt_clock_latched_ticks(), 2386364);

  EXPECT_EQ(kxrt_clock_advance_ns(-1), KXRT_E_ARGUMENT);
  EXPECT_EQ(kxrt_clock_set_ns(kMax), 0);
  EXPECT_EQ(kxrt_clock_advance_ns(1), KXRT_E_ARGUMENT);   // would leave the int64 range
  EXPECT_EQ(kxrt_clock_now_ns(), kMax);

  ASSERT_EQ(kxrt_clock_set_ns(-1000000000), 0);   // before the origin
  EXPECT_EQ(kxrt_clock_latched_ticks(), -1193182);
}

TEST_F(ClockTest, TicksDoNotDriftOverManySmallSteps) {
  // 1 ms is 1193.182 ticks: rounding each step would lose 0.182 ticks per step.
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(kxrt_clock_advance_ns(1000000), 0);
  EXPECT_EQ(kxrt_clock_latched_ticks(), 11931820);
}

TEST_F(ClockTest, LatchedTimeStaysUntilTheNextLatch) {
  const auto steady = [] { return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1); };
  const int64_t before = steady();
  ASSERT_EQ(kxrt_clock_select(KXRT_CLOCK_MONOTONIC), 0);
  const int64_t after = steady();
  // The origin is the steady clock's reading at the selection; the clock counts from it.
  EXPECT_GE(kxrt_clock_origin_ns(), before);
  EXPECT_LE(kxrt_clock_origin_ns(), after);
  const int64_t sinceOrigin = kxrt_clock_now_ns();
  EXPECT_LE(sinceOrigin, steady() - kxrt_clock_origin_ns());
  EXPECT_EQ(kxrt_clock_source(), KXRT_CLOCK_MONOTONIC);
  EXPECT_EQ(kxrt_clock_latched_ns(), 0);
  EXPECT_NE(kxrt_clock_set_ns(5), 0);
  EXPECT_NE(kxrt_clock_advance_ns(5), 0);
  kxrt_clock_latch();
  const int64_t latched = kxrt_clock_latched_ns();
  EXPECT_GE(latched, 0);
  int64_t now = kxrt_clock_now_ns();
  while (now == latched) now = kxrt_clock_now_ns();   // wait for the clock to move on
  EXPECT_GT(now, latched);
  EXPECT_EQ(kxrt_clock_latched_ns(), latched);
  EXPECT_EQ(kxrt_clock_latched_ticks(), kxrt_ns_to_ticks(latched));

  EXPECT_EQ(kxrt_clock_select(2), KXRT_E_ARGUMENT);
  EXPECT_EQ(kxrt_clock_source(), KXRT_CLOCK_MONOTONIC);
  ASSERT_EQ(kxrt_clock_select(KXRT_CLOCK_SIMULATED), 0);
  EXPECT_EQ(kxrt_clock_now_ns(), 0);
}

}  // namespace
