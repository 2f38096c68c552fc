// Lag_PT1's body on the scripted runtime: the filter step, its EN/ENO chain and the hook events.
#include <cmath>

#include "block_test.h"

namespace {

using blk::enter;
using blk::exitHook;
using fake::Call;
using fake::Event;

class LagPt1 : public BlockTest<LagPt1Instance> {
 protected:
  void SetUp() override {
    BlockTest::SetUp();
    lag.In = 10.0f;
    lag.Gain = 2.0f;
    lag.T1 = kOneSecond;
  }
  LagPt1Instance& lag = inst;
};

TEST_F(LagPt1, FirstCallDividesByZeroTwiceAndGivesZero) {
  call(0);
  EXPECT_EQ(fake::hooks(), blk::lagBody(true));
  // The filter path ran with Ratio 0.0; the zero Denominator failed step 12.
  expectFields<float>({IS(lag.Out, 0.0f), IS(lag.Y, 0.0f), IS(lag.PrevY, 0.0f),
                       IS(lag.Denominator, 0.0f), IS(lag.Numerator, 10.0f)});
  expectFields<KX_BOOL>({IS(lag.RatioENO, 0), IS(lag.QuotientENO, 0), IS(lag.DenominatorENO, 0),
                         IS(lag.GainedENO, 0), IS(lag.YCopyENO, 0), IS(lag.YSelENO, 0),
                         IS(lag.ENO, 1), IS(lag.Clock.IN, 1)});
  EXPECT_EQ(0, v(lag.LastET));
  EXPECT_EQ(103090924800000000, v(lag.Clock.PT));   // T#1000000d
  EXPECT_EQ(140, fake::state.errorCode);             // step 12's error stays after the call
  // Gates that ran: steps 3 to 10 and 12; the four closed ones touch no error information.
  EXPECT_EQ(9, count(Call::ClrError));
  EXPECT_EQ(9, count(Call::GetError));
  EXPECT_EQ(2, count(Call::SetError));
}

TEST_F(LagPt1, OneSecondStepsApproachGainTimesInput) {
  const float out[] = {0.0f, 10.0f, 15.0f, 17.5f};
  const float y[] = {0.0f, 5.0f, 7.5f, 8.75f};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE("call " + std::to_string(i + 1));
    call(i == 0 ? 0 : kOneSecond);
    expectFields<float>({IS(lag.Out, out[i]), IS(lag.Y, y[i]), IS(lag.PrevY, y[i])});
    if (i > 0) {
      EXPECT_EQ(fake::hooks(), blk::lagBody(false));
      EXPECT_EQ(0, fake::state.errorCode);
      EXPECT_EQ(1.0f, v(lag.Ratio));
      expectFields<KX_TIME>({IS(lag.LastET, kOneSecond * i), IS(lag.Delta, kOneSecond)});
    }
  }
  // A call with no time passed: step 8 fails, step 11 keeps Denominator 2.0, the filter runs
  // with Ratio 0.0, and since steps 12 to 15 ran no error remains.
  call(0);
  EXPECT_EQ(0, v(lag.RatioENO));
  expectFields<float>({IS(lag.Ratio, 0.0f), IS(lag.Denominator, 2.0f), IS(lag.Weighted, 0.0f),
                       IS(lag.Numerator, 10.0f), IS(lag.Y, 5.0f), IS(lag.PrevY, 5.0f),
                       IS(lag.Out, 10.0f)});
  EXPECT_EQ(0, fake::state.errorCode);
}

TEST_F(LagPt1, ZeroTimeConstantPassesTheInputThrough) {
  lag.T1 = 0;
  call(0);
  for (int i = 0; i < 3; ++i) {
    call(kOneSecond);
    expectFields<float>({IS(lag.Ratio, 0.0f), IS(lag.Denominator, 1.0f), IS(lag.Y, 10.0f),
                         IS(lag.Out, 20.0f)});
    EXPECT_EQ(1, v(lag.RatioENO));
    EXPECT_EQ(0, count(Call::SetError));
  }
}

TEST_F(LagPt1, ResetZeroesOutAndStateForOneCall) {
  call(0);
  call(kOneSecond);
  call(kOneSecond);   // Y 7.5
  lag.Reset = 1;
  call(kOneSecond);
  // Y and Gained are still computed; the clock path is not reset.
  expectFields<float>({IS(lag.Out, 0.0f), IS(lag.PrevY, 0.0f), IS(lag.Y, 8.75f),
                       IS(lag.Gained, 17.5f)});
  EXPECT_EQ(kOneSecond * 3, v(lag.LastET));
  lag.Reset = 0;
  call(kOneSecond);
  expectFields<float>({IS(lag.Y, 5.0f), IS(lag.Out, 10.0f)});   // x*dt/(T1+dt) = 10*1/2
}

TEST_F(LagPt1, NaNInputPoisonsTheStateUntilReset) {
  call(0);
  call(kOneSecond);
  lag.In = kNaN;
  call(kOneSecond);
  for (float f : {v(lag.Y), v(lag.Gained), v(lag.Out), v(lag.PrevY)}) EXPECT_TRUE(std::isnan(f));
  EXPECT_EQ(0, count(Call::SetError));
  lag.In = 10.0f;
  call(0);   // even Ratio 0.0 keeps the NaN: NaN * 0.0 is NaN
  EXPECT_TRUE(std::isnan(v(lag.PrevY)));
  call(kOneSecond);
  EXPECT_TRUE(std::isnan(v(lag.Out)));
  lag.Reset = 1;
  call(kOneSecond);
  expectFields<float>({IS(lag.PrevY, 0.0f), IS(lag.Out, 0.0f)});
  lag.Reset = 0;
  call(kOneSecond);
  EXPECT_EQ(10.0f, v(lag.Out));
}

// A zero Denominator fails step 12: Y still receives its 0.0, steps 13 to 15 are skipped, and
// Out falls back on the Gained of the last call that computed one.
TEST_F(LagPt1, FailedQuotientHandsOnZeroAndClosesTheFilterPath) {
  call(0);
  call(kOneSecond);         // Y 5, Gained 10
  lag.T1 = -kOneSecond;     // Ratio -1, Denominator 0
  call(kOneSecond);
  expectFields<float>({IS(lag.Denominator, 0.0f), IS(lag.Quotient, 0.0f), IS(lag.Y, 0.0f),
                       IS(lag.Gained, 10.0f), IS(lag.PrevY, 5.0f), IS(lag.Out, 10.0f)});
  expectFields<KX_BOOL>({IS(lag.QuotientENO, 0), IS(lag.GainedENO, 0)});
  EXPECT_EQ(140, fake::state.errorCode);
  EXPECT_EQ(fake::hooks(), blk::closed(blk::lagBody(false), {128, 56, 72}));
}

// An error recorded by the TIME subtraction of step 5 closes step 6: LastET stays, while Delta
// still receives what step 5 stored.
TEST_F(LagPt1, FailedTimeSubtractionKeepsLastET) {
  call(0);
  call(kOneSecond);
  fake::state.failSubCall = fake::state.subCalls;   // the next call's first subtraction
  call(kOneSecond);
  expectFields<KX_BOOL>({IS(lag.DeltaENO, 0), IS(lag.CopyENO, 0)});
  expectFields<KX_TIME>({IS(lag.LastET, kOneSecond), IS(lag.EtCopy, kOneSecond),
                         IS(lag.Delta, kOneSecond)});
  EXPECT_EQ(1.0f, v(lag.DeltaSec));
  EXPECT_EQ(fake::hooks(), blk::closed(blk::lagBody(false), {80}));
}

// T#0s is built between the error clear and the subtraction, nothing else runs in between.
TEST_F(LagPt1, TimeLiteralIsBuiltInsideTheGate) {
  call(0);
  const std::vector<Event>& log = fake::state.log;
  size_t i = 0;
  while (i < log.size() && !(log[i] == enter(9, 80, 6))) ++i;
  ASSERT_LT(i + 5, log.size());
  const std::vector<Event> gate(log.begin() + i + 1, log.begin() + i + 6);
  EXPECT_EQ(gate, (std::vector<Event>{{Call::ClrError}, {Call::Literal, 0, 0, 0}, {Call::SubTime},
                                      {Call::GetError}, exitHook()}));
}

}  // namespace
