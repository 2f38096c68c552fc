// KX_fv_TON and KX_fv_TOF over call sequences on the simulated clock. Setting the clock latches
// it, so each step is one cycle at the given instant. Tick values: T#1s = 1193182 ticks, and the
// clock's instants convert as 0.5 s -> 596591, 1 s -> 1193182, 1.5 s -> 1789773,
// 1.499999999 s -> 1789772 ticks.
#include <cstring>

#include "runtime_fixture.h"

namespace {

constexpr int64_t kMs = 1000000;   // nanoseconds
constexpr int64_t kOneSecond = 1193182;   // ticks

using TimerFn = void(KX_CDECL*)(TimerRecord*, EntryPointDescriptor*);

constexpr int64_t kNoWrite = INT64_MIN;

struct Step {
  int64_t ns;     // the cycle's instant
  uint8_t in;     // IN written before the call
  bool q;         // Q expected after it
  int64_t et;     // ET expected after it
  int64_t write_et = kNoWrite;   // ET written before the call, as a debugger or an HMI would
};

// Record fields are packed: read them into values before comparing.
bool q(const TimerRecord& t) { return t.Q != 0; }
int64_t et(const TimerRecord& t) { return t.ET; }

class TimerTest : public RuntimeTest {
 protected:
  void run(TimerFn timer, int64_t pt, std::initializer_list<Step> steps) {
    int index = 0;
    for (const Step& s : steps) {
      ASSERT_EQ(kxrt_clock_set_ns(s.ns), 0);
      record.IN = s.in;
      record.PT = pt;
      if (s.write_et != kNoWrite) record.ET = s.write_et;
      timer(&record, nullptr);
      EXPECT_EQ(q(record), s.q) << "step " << index << " at " << s.ns << " ns";
      EXPECT_EQ(et(record), s.et) << "step " << index << " at " << s.ns << " ns";
      const uint8_t outputs = record.Q;
      EXPECT_TRUE(outputs == 0 || outputs == 1);
      ++index;
    }
  }
  TimerRecord record{};
};

TEST_F(TimerTest, OnDelayCountsFromTheRisingCallAndStopsAtPT) {
  run(KX_fv_TON, kOneSecond,
      {{0, 0, false, 0},
       {500 * kMs, 1, false, 0},             // IN rises: ET 0 in this call
       {1000 * kMs, 1, false, 596591},
       {1499999999, 1, false, 1193181},      // one tick short
       {1500 * kMs, 1, true, 1193182},       // ET reaches PT: Q
       {3000 * kMs, 1, true, 1193182},       // ET stops at PT
       {3500 * kMs, 0, false, 0},            // IN falls: both cleared
       {4000 * kMs, 1, false, 0},            // rises again: counts anew
       {5000 * kMs, 1, true, 1193182}});
}

TEST_F(TimerTest, OnDelayFirstCallWithInTrueIsTheRisingCall) {
  run(KX_fv_TON, kOneSecond, {{7000 * kMs, 1, false, 0}, {8000 * kMs, 1, true, 1193182}});
}

TEST_F(TimerTest, OnDelayWithPTZeroOrNegativeGivesQInTheRisingCall) {
  for (int64_t pt : {int64_t{0}, int64_t{-5}, INT64_MIN}) {
    record = TimerRecord{};
    run(KX_fv_TON, pt,
        {{0, 0, false, 0}, {1000 * kMs, 1, true, 0}, {2000 * kMs, 1, true, 0},
         {3000 * kMs, 0, false, 0}, {3000 * kMs, 1, true, 0}});
  }
}

TEST_F(TimerTest, AnyNonZeroInByteIsTrue) {
  run(KX_fv_TON, kOneSecond, {{0, 2, false, 0}, {1000 * kMs, 0x80, true, 1193182}});
  record = TimerRecord{};
  run(KX_fv_TOF, kOneSecond, {{0, 0xFF, true, 0}, {1000 * kMs, 0, true, 0}});
}

TEST_F(TimerTest, OnDelayComparesARunningPhaseWithTheNewPT) {
  run(KX_fv_TON, kOneSecond, {{500 * kMs, 1, false, 0}, {1500 * kMs, 1, true, 1193182}});
  run(KX_fv_TON, 2 * kOneSecond, {{2000 * kMs, 1, false, 1789773}});   // longer PT: Q drops
  run(KX_fv_TON, 500000, {{2000 * kMs, 1, true, 500000}});             // shorter PT: at once
}

TEST_F(TimerTest, OnDelayNeverLosesTimeWhenTheClockGoesBack) {
  run(KX_fv_TON, kOneSecond,
      {{10000 * kMs, 1, false, 0},
       {10500 * kMs, 1, false, 596591},
       {2000 * kMs, 1, false, 596591},   // the clock went back 8.5 s: ET holds
       {2500 * kMs, 1, true, 1193182},   // and goes on from there
       {INT64_MIN, 1, true, 1193182}});
}

// ET is an output: a value written into it between two calls does not move the timer.
TEST_F(TimerTest, WrittenETDoesNotMoveARunningTimer) {
  constexpr int64_t kTen = 10 * kOneSecond;
  run(KX_fv_TON, kTen,
      {{0, 1, false, 0},
       {1000 * kMs, 1, false, 1193182},
       {3000 * kMs, 1, false, 3579546, 9 * kOneSecond},
       {5000 * kMs, 1, false, 5965910, 0},
       {9999999999, 1, false, 11931819},          // one tick short
       {10000 * kMs, 1, true, kTen}});
  record = TimerRecord{};
  run(KX_fv_TOF, kTen,
      {{0, 1, true, 0},
       {1000 * kMs, 0, true, 0},                             // the off-delay starts
       {2000 * kMs, 0, true, 1193182, 9 * kOneSecond},
       {4000 * kMs, 0, true, 3579546, -kOneSecond},
       {10999999999, 0, true, 11931819},
       {11000 * kMs, 0, false, kTen}});
}

TEST_F(TimerTest, OffDelayHoldsQUntilPTAfterTheFallingCall) {
  run(KX_fv_TOF, kOneSecond,
      {{0, 0, false, 0},                    // never on: Q FALSE, ET 0
       {100 * kMs, 1, true, 0},
       {500 * kMs, 0, true, 0},             // IN falls: the off-delay starts
       {1000 * kMs, 0, true, 596591},
       {1499999999, 0, true, 1193181},
       {1500 * kMs, 0, false, 1193182},     // expired
       {9000 * kMs, 0, false, 1193182},     // ET holds PT
       {9500 * kMs, 1, true, 0}});          // until IN rises again
}

TEST_F(TimerTest, OffDelayWithPTZeroDropsQInTheFallingCall) {
  for (int64_t pt : {int64_t{0}, int64_t{-1}}) {
    record = TimerRecord{};
    run(KX_fv_TOF, pt,
        {{0, 1, true, 0}, {1000 * kMs, 0, false, 0}, {2000 * kMs, 0, false, 0}, {2000 * kMs, 1, true, 0}});
  }
}

TEST_F(TimerTest, OffDelayRestartsWhenInFallsAgain) {
  run(KX_fv_TOF, kOneSecond,
      {{0, 1, true, 0},
       {1000 * kMs, 0, true, 0},
       {1500 * kMs, 1, true, 0},            // IN back during the off-delay
       {2000 * kMs, 0, true, 0},            // falls again: a fresh off-delay
       {2500 * kMs, 0, true, 596591},
       {3000 * kMs, 0, false, 1193182}});
}

TEST_F(TimerTest, OffDelayNeverLosesTimeWhenTheClockGoesBack) {
  run(KX_fv_TOF, kOneSecond,
      {{0, 1, true, 0},
       {10000 * kMs, 0, true, 0},
       {10500 * kMs, 0, true, 596591},
       {1000 * kMs, 0, true, 596591},
       {1500 * kMs, 0, false, 1193182}});
}

TEST_F(TimerTest, TimersWriteOnlyQETAndTheirState) {
  for (TimerFn timer : {TimerFn{KX_fv_TON}, TimerFn{KX_fv_TOF}}) {
    uint8_t before[sizeof(TimerRecord)];
    std::memset(before, 0xCC, sizeof before);
    before[0] = 1;   // IN
    std::memcpy(&record, before, sizeof record);
    timer(&record, nullptr);
    uint8_t after[sizeof(TimerRecord)];
    std::memcpy(after, &record, sizeof after);
    for (size_t i = 0; i < sizeof after; ++i) {
      const bool output = i == 12 || (i >= 16 && i < 36);   // Q, ET, state
      if (!output) {
        EXPECT_EQ(after[i], before[i]) << "byte " << i;
      }
    }
  }
}

TEST_F(TimerTest, NullRecordDoesNothing) {
  KX_fv_TON(nullptr, nullptr);
  KX_fv_TOF(nullptr, nullptr);
}

// The pulse generator's ring: a TON timing the low phase, a TOF the high phase, the TON's IN the
// negation of the previous Q.
class PulseRing {
 public:
  PulseRing(int64_t low, int64_t high) : low_(low), high_(high) {}
  bool call() {
    on_.IN = q_ ? 0 : 1;
    on_.PT = low_;
    KX_fv_TON(&on_, nullptr);
    off_.IN = on_.Q;
    off_.PT = high_;
    KX_fv_TOF(&off_, nullptr);
    q_ = off_.Q != 0;
    return q_;
  }

 private:
  int64_t low_, high_;
  TimerRecord on_{}, off_{};
  bool q_ = false;
};

TEST_F(TimerTest, RingWithZeroTimesAlternatesEveryCall) {
  PulseRing ring(0, 0);
  for (int call = 1; call <= 6; ++call) {
    ASSERT_EQ(kxrt_clock_advance_ns(10 * kMs), 0);
    EXPECT_EQ(ring.call(), call % 2 == 1) << "call " << call;
  }
}

TEST_F(TimerTest, RingPhasesLastTheirTimePlusOneCall) {
  // One-second phases, a call every 100 ms from t = 0: Q rises in call 11 (1 s after call 1),
  // falls in call 22 (1 s after call 12), rises in call 33 and falls in call 44.
  PulseRing ring(kOneSecond, kOneSecond);
  std::vector<int> changes;
  bool previous = false;
  for (int call = 1; call <= 50; ++call) {
    ASSERT_EQ(kxrt_clock_set_ns((call - 1) * 100 * kMs), 0);
    const bool now = ring.call();
    if (now != previous) changes.push_back(call);
    previous = now;
  }
  EXPECT_EQ(changes, (std::vector<int>{11, 22, 33, 44}));
}

}  // namespace
