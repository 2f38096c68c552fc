// Lag_PT1's body on the scripted runtime: the filter step, its EN/ENO chain and the hook events.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/program.h"
#include "fake_runtime.h"

namespace {

using blk::Closed;
using blk::enter;
using blk::exitHook;
using fake::Call;
using fake::Event;

constexpr KX_TIME kOneSecond = 1193182;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

template <typename T>
T v(T packedField) {   // packed fields cannot bind to the references that EXPECT_EQ takes
  return packedField;
}

int count(Call call) {
  int n = 0;
  for (const Event& e : fake::state.log) n += e.call == call;
  return n;
}

class LagPt1 : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset(&lag);
    d.localDebugFlag = 1;
    lag.In = 10.0f;
    lag.Gain = 2.0f;
    lag.T1 = kOneSecond;
  }
  // One call as the program makes it, after the clock has moved by dt ticks.
  void call(KX_TIME dt) {
    fake::state.now += dt;
    fake::state.log.clear();
    lag.ENO = 1;
    Lag_PT1(&lag, &d);
  }
  LagPt1Instance lag{};
  EntryPointDescriptor d{};
};

TEST_F(LagPt1, FirstCallDividesByZeroTwiceAndGivesZero) {
  call(0);
  EXPECT_EQ(fake::hooks(), blk::lagBody(true));
  EXPECT_EQ(0.0f, v(lag.Out));
  EXPECT_EQ(0.0f, v(lag.Y));
  EXPECT_EQ(0.0f, v(lag.PrevY));
  EXPECT_EQ(0.0f, v(lag.Denominator));
  EXPECT_EQ(0, v(lag.LastET));
  EXPECT_EQ(10.0f, v(lag.Numerator));   // the filter path ran with Ratio 0.0
  EXPECT_EQ(0, v(lag.RatioENO));
  EXPECT_EQ(0, v(lag.QuotientENO));
  EXPECT_EQ(0, v(lag.DenominatorENO));
  EXPECT_EQ(0, v(lag.GainedENO));
  EXPECT_EQ(0, v(lag.YCopyENO));
  EXPECT_EQ(0, v(lag.YSelENO));
  EXPECT_EQ(1, v(lag.ENO));
  EXPECT_EQ(140, fake::state.errorCode);   // step 12's error stays after the call
  // Gates that ran: steps 3 to 10 and 12; the four closed ones touch no error information.
  EXPECT_EQ(9, count(Call::ClrError));
  EXPECT_EQ(9, count(Call::GetError));
  EXPECT_EQ(2, count(Call::SetError));
  // The clock: IN TRUE, PT T#1000000d.
  EXPECT_EQ(1, v(lag.Clock.IN));
  EXPECT_EQ(103090924800000000, v(lag.Clock.PT));
}

TEST_F(LagPt1, OneSecondStepsApproachGainTimesInput) {
  const float out[] = {0.0f, 10.0f, 15.0f, 17.5f};
  const float y[] = {0.0f, 5.0f, 7.5f, 8.75f};
  for (int i = 0; i < 4; ++i) {
    call(i == 0 ? 0 : kOneSecond);
    EXPECT_EQ(out[i], v(lag.Out)) << "call " << i + 1;
    EXPECT_EQ(y[i], v(lag.Y)) << "call " << i + 1;
    EXPECT_EQ(y[i], v(lag.PrevY)) << "call " << i + 1;
    if (i > 0) {
      EXPECT_EQ(fake::hooks(), blk::lagBody(false)) << "call " << i + 1;
      EXPECT_EQ(0, fake::state.errorCode);
      EXPECT_EQ(1.0f, v(lag.Ratio));
      EXPECT_EQ(kOneSecond * i, v(lag.LastET));
      EXPECT_EQ(kOneSecond, v(lag.Delta));
    }
  }
  // A call with no time passed: step 8 fails, step 11 keeps Denominator 2.0, the filter runs
  // with Ratio 0.0, and since steps 12 to 15 ran no error remains.
  call(0);
  EXPECT_EQ(0, v(lag.RatioENO));
  EXPECT_EQ(0.0f, v(lag.Ratio));
  EXPECT_EQ(2.0f, v(lag.Denominator));
  EXPECT_EQ(0.0f, v(lag.Weighted));
  EXPECT_EQ(10.0f, v(lag.Numerator));
  EXPECT_EQ(5.0f, v(lag.Y));
  EXPECT_EQ(5.0f, v(lag.PrevY));
  EXPECT_EQ(10.0f, v(lag.Out));
  EXPECT_EQ(0, fake::state.errorCode);
}

TEST_F(LagPt1, ZeroTimeConstantPassesTheInputThrough) {
  lag.T1 = 0;
  call(0);
  for (int i = 0; i < 3; ++i) {
    call(kOneSecond);
    EXPECT_EQ(0.0f, v(lag.Ratio));
    EXPECT_EQ(1, v(lag.RatioENO));
    EXPECT_EQ(1.0f, v(lag.Denominator));
    EXPECT_EQ(10.0f, v(lag.Y));
    EXPECT_EQ(20.0f, v(lag.Out));
    EXPECT_EQ(0, count(Call::SetError));
  }
}

TEST_F(LagPt1, ResetZeroesOutAndStateForOneCall) {
  call(0);
  call(kOneSecond);
  call(kOneSecond);   // Y 7.5
  lag.Reset = 1;
  call(kOneSecond);
  EXPECT_EQ(0.0f, v(lag.Out));
  EXPECT_EQ(0.0f, v(lag.PrevY));
  EXPECT_EQ(8.75f, v(lag.Y));        // still computed
  EXPECT_EQ(17.5f, v(lag.Gained));
  EXPECT_EQ(kOneSecond * 3, v(lag.LastET));   // the clock path is not reset
  lag.Reset = 0;
  call(kOneSecond);
  EXPECT_EQ(5.0f, v(lag.Y));   // x*dt/(T1+dt) = 10*1/2
  EXPECT_EQ(10.0f, v(lag.Out));
}

TEST_F(LagPt1, NaNInputPoisonsTheStateUntilReset) {
  call(0);
  call(kOneSecond);
  lag.In = kNaN;
  call(kOneSecond);
  EXPECT_TRUE(std::isnan(v(lag.Y)));
  EXPECT_TRUE(std::isnan(v(lag.Gained)));
  EXPECT_TRUE(std::isnan(v(lag.Out)));
  EXPECT_TRUE(std::isnan(v(lag.PrevY)));
  EXPECT_EQ(0, count(Call::SetError));
  lag.In = 10.0f;
  call(0);   // even Ratio 0.0 keeps the NaN: NaN * 0.0 is NaN
  EXPECT_TRUE(std::isnan(v(lag.PrevY)));
  call(kOneSecond);
  EXPECT_TRUE(std::isnan(v(lag.Out)));
  lag.Reset = 1;
  call(kOneSecond);
  EXPECT_EQ(0.0f, v(lag.PrevY));
  EXPECT_EQ(0.0f, v(lag.Out));
  lag.Reset = 0;
  call(kOneSecond);
  EXPECT_EQ(10.0f, v(lag.Out));
}

// A zero Denominator fails step 12: Y still receives its 0.0, steps 13 to 15 are skipped, and
// Out falls back on the Gained of the last call that computed one.
TEST_F(LagPt1, FailedQuotientHandsOnZeroAndClosesTheFilterPath) {
  call(0);
  call(kOneSecond);   // Y 5, Gained 10
  lag.T1 = -kOneSecond;   // Ratio -1, Denominator 0
  call(kOneSecond);
  EXPECT_EQ(0.0f, v(lag.Denominator));
  EXPECT_EQ(0, v(lag.QuotientENO));
  EXPECT_EQ(0.0f, v(lag.Quotient));
  EXPECT_EQ(0.0f, v(lag.Y));
  EXPECT_EQ(10.0f, v(lag.Gained));
  EXPECT_EQ(5.0f, v(lag.PrevY));
  EXPECT_EQ(10.0f, v(lag.Out));
  EXPECT_EQ(0, v(lag.GainedENO));
  EXPECT_EQ(140, fake::state.errorCode);
  EXPECT_EQ(fake::hooks(), blk::body(4, {{10, 92},
                                         {6, 32},
                                         {7, 48},
                                         {9, 144},
                                         {9, 80},
                                         {7, 40},
                                         {5, 168},
                                         {11, 136},
                                         {12, 160},
                                         {12, 188},
                                         {5, 24},
                                         {11, 128, Closed},
                                         {6, 56, Closed},
                                         {8, 72, Closed},
                                         {8, 196}}));
}

// An error recorded by the TIME subtraction of step 5 closes step 6: LastET stays, while Delta
// still receives what step 5 stored.
TEST_F(LagPt1, FailedTimeSubtractionKeepsLastET) {
  call(0);
  call(kOneSecond);
  fake::state.failSubCall = fake::state.subCalls;   // the next call's first subtraction
  call(kOneSecond);
  EXPECT_EQ(0, v(lag.DeltaENO));
  EXPECT_EQ(0, v(lag.CopyENO));
  EXPECT_EQ(kOneSecond, v(lag.LastET));
  EXPECT_EQ(kOneSecond, v(lag.EtCopy));
  EXPECT_EQ(kOneSecond, v(lag.Delta));
  EXPECT_EQ(1.0f, v(lag.DeltaSec));
  EXPECT_EQ(fake::hooks(), blk::body(4, {{10, 92},
                                         {6, 32},
                                         {7, 48},
                                         {9, 144},
                                         {9, 80, Closed},
                                         {7, 40},
                                         {5, 168},
                                         {11, 136},
                                         {12, 160},
                                         {12, 188},
                                         {5, 24},
                                         {11, 128},
                                         {6, 56},
                                         {8, 72},
                                         {8, 196}}));
}

// T#0s is built between the error clear and the subtraction, nothing else runs in between.
TEST_F(LagPt1, TimeLiteralIsBuiltInsideTheGate) {
  call(0);
  const std::vector<Event>& log = fake::state.log;
  size_t i = 0;
  while (i < log.size() && !(log[i] == enter(9, 80, 6))) ++i;
  ASSERT_LT(i + 5, log.size());
  EXPECT_EQ(log[i + 1], (Event{Call::ClrError}));
  EXPECT_EQ(log[i + 2], (Event{Call::Literal, 0, 0, 0}));
  EXPECT_EQ(log[i + 3], (Event{Call::SubTime}));
  EXPECT_EQ(log[i + 4], (Event{Call::GetError}));
  EXPECT_EQ(log[i + 5], exitHook());
}

}  // namespace
