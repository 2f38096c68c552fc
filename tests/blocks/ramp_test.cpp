// Ramp_Int and Ramp_Real on the scripted runtime: movement, limits, priorities, bad inputs and
// the hook events of both bodies.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/program.h"
#include "fake_runtime.h"

namespace {

using blk::Closed;
using fake::Call;
using fake::Event;

constexpr KX_TIME kOneSecond = 1193182;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

template <typename T>
T v(T packedField) {
  return packedField;
}

// ---- Ramp_Int ---------------------------------------------------------------------------------

class RampInt : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset(&ramp);
    d.localDebugFlag = 1;
    ramp.Enable = 1;
    ramp.Start = 0;
    ramp.Target = 100;
    ramp.Step = 1;
    ramp.Period = kOneSecond;
  }
  void call(KX_TIME dt) {
    fake::state.now += dt;
    fake::state.log.clear();
    ramp.ENO = 1;
    Ramp_Int(&ramp, &d);
  }
  RampIntInstance ramp{};
  EntryPointDescriptor d{};
};

TEST_F(RampInt, HookEventsAndErrorCallsOfOneCall) {
  call(0);
  EXPECT_EQ(fake::hooks(), blk::rampIntBody());
  EXPECT_EQ(fake::errorCalls(), (std::vector<Event>{{Call::ClrError}, {Call::GetError},
                                                    {Call::ClrError}, {Call::GetError}}));
  EXPECT_EQ(3762818755200000, v(ramp.Clock.PT));   // T#36500d
}

TEST_F(RampInt, MostNegativeStepMovesTowardsStart) {
  ramp.Step = -32768;
  ramp.Value = 50.0f;
  call(0);
  EXPECT_EQ(-32768, v(ramp.AbsStep));
  EXPECT_EQ(-32768.0f, v(ramp.AbsStepReal));
  EXPECT_EQ(-32768.0f, v(ramp.Rate));
  EXPECT_EQ(50.0f, v(ramp.Value));
  call(kOneSecond);
  EXPECT_EQ(0.0f, v(ramp.Value));
  call(kOneSecond);
  EXPECT_EQ(0, v(ramp.Out));
}

TEST_F(RampInt, NegativePeriodMovesTowardsStart) {
  ramp.Period = -kOneSecond;
  ramp.Value = 50.0f;
  call(0);
  call(kOneSecond);
  EXPECT_EQ(-1.0f, v(ramp.Rate));
  EXPECT_EQ(49.0f, v(ramp.Value));
}

TEST_F(RampInt, ZeroPeriodRecordsTheErrorAndJumpsToTargetWhenEnabled) {
  ramp.Period = 0;
  ramp.Enable = 0;
  ramp.Value = 30.0f;
  call(0);
  EXPECT_EQ(30.0f, v(ramp.Value));
  EXPECT_EQ(fake::errorCalls(),
            (std::vector<Event>{{Call::SetError, 140, 0}, {Call::ClrError}, {Call::GetError},
                                {Call::ClrError}, {Call::GetError}}));
  ramp.Enable = 1;
  call(kOneSecond);
  EXPECT_EQ(0.0f, v(ramp.Rate));
  EXPECT_EQ(100.0f, v(ramp.Value));
  EXPECT_EQ(100, v(ramp.Out));
}

TEST_F(RampInt, FallingRampAndItsLimits) {
  ramp.Start = 100;
  ramp.Target = 0;
  ramp.Value = 100.0f;
  call(0);
  call(kOneSecond);
  EXPECT_EQ(99.0f, v(ramp.Value));
  ramp.Value = 0.4f;
  call(kOneSecond);
  EXPECT_EQ(0.0f, v(ramp.Value));
}

TEST_F(RampInt, FailedElapsedTimeSubtractionKeepsLastET) {
  call(0);
  call(kOneSecond);
  fake::state.failSubCall = fake::state.subCalls;
  call(kOneSecond);
  EXPECT_EQ(0, v(ramp.DeltaENO));
  EXPECT_EQ(0, v(ramp.CopyENO));
  EXPECT_EQ(kOneSecond, v(ramp.LastET));
  EXPECT_EQ(kOneSecond, v(ramp.DeltaET));
  EXPECT_EQ(2.0f, v(ramp.Value));   // DeltaET as stored is still used
  EXPECT_EQ(fake::hooks(), blk::rampIntBody(0, Closed));
}

// ---- Ramp_Real --------------------------------------------------------------------------------

class RampReal : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset(&ramp);
    d.localDebugFlag = 1;
    ramp.Enable = 1;
    ramp.Start = 0.0f;
    ramp.Target = 100.0f;
    ramp.Step = 1.0f;
    ramp.Period = kOneSecond;
  }
  void call(KX_TIME dt) {
    fake::state.now += dt;
    fake::state.log.clear();
    ramp.ENO = 1;
    Ramp_Real(&ramp, &d);
  }
  RampRealInstance ramp{};
  EntryPointDescriptor d{};
};

TEST_F(RampReal, HookEventsOfOneCall) {
  call(0);
  EXPECT_EQ(fake::hooks(), blk::rampRealBody());
  EXPECT_EQ(3762818755200000, v(ramp.Clock.PT));
}

TEST_F(RampReal, StepSignDoesNotMatterAndZeroStepHolds) {
  ramp.Step = -1.0f;
  call(0);
  call(kOneSecond);
  EXPECT_EQ(1.0f, v(ramp.AbsStep));
  EXPECT_EQ(1.0f, v(ramp.Out));
  ramp.Step = -0.0f;
  call(kOneSecond);
  EXPECT_EQ(1.0f, v(ramp.Out));
}

TEST_F(RampReal, NaNBoundsHoldThePosition) {
  ramp.Out = 30.0f;
  ramp.Start = kNaN;
  call(0);
  call(kOneSecond);
  EXPECT_EQ(30.0f, v(ramp.Out));
  ramp.Start = 0.0f;
  ramp.Target = kNaN;
  call(kOneSecond);
  EXPECT_EQ(30.0f, v(ramp.Out));
  EXPECT_EQ(0, v(ramp.Reached));
}

TEST_F(RampReal, TargetReversalChangesDirectionInTheSameCycle) {
  call(0);
  call(kOneSecond * 10);
  EXPECT_EQ(10.0f, v(ramp.Out));
  ramp.Target = -5.0f;   // falling now, limited to -5..0
  call(kOneSecond);
  EXPECT_EQ(0.0f, v(ramp.Out));
  call(kOneSecond);
  EXPECT_EQ(-1.0f, v(ramp.Out));
}

TEST_F(RampReal, InfiniteAndHugeInputsStayDefined) {
  ramp.Step = std::numeric_limits<float>::infinity();
  call(0);
  call(kOneSecond);
  EXPECT_EQ(100.0f, v(ramp.Out));
  ramp.Step = 1.0f;
  ramp.Period = 1;   // one tick: a rate of 1193182 units per second
  call(kOneSecond);
  EXPECT_EQ(100.0f, v(ramp.Out));
  ramp.Reset = 1;
  call(kOneSecond);
  EXPECT_EQ(0.0f, v(ramp.Out));
}

TEST_F(RampReal, FailedElapsedTimeSubtractionKeepsLastET) {
  call(0);
  call(kOneSecond);
  fake::state.failSubCall = fake::state.subCalls;
  call(kOneSecond);
  EXPECT_EQ(0, v(ramp.CopyENO));
  EXPECT_EQ(kOneSecond, v(ramp.LastET));
  EXPECT_EQ(2.0f, v(ramp.Out));
  EXPECT_EQ(fake::hooks(), blk::rampRealBody(0, Closed));
}

}  // namespace
