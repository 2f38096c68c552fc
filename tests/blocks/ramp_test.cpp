// Ramp_Int and Ramp_Real on the scripted runtime: movement, limits, priorities, bad inputs and
// the hook events of both bodies.
#include <cmath>

#include "block_test.h"

namespace {

using fake::Call;
using fake::Event;

// Both ramps from 0 towards 100, one unit per second, enabled.
template <class Instance>
class Ramp : public BlockTest<Instance> {
 protected:
  void SetUp() override {
    BlockTest<Instance>::SetUp();
    ramp.Enable = 1;
    ramp.Start = 0;
    ramp.Target = 100;
    ramp.Step = 1;
    ramp.Period = kOneSecond;
  }
  Instance& ramp = this->inst;
};

// What differs between the two: the hook events and where the position lies (Ramp_Int keeps it
// in Value, Ramp_Real in Out).
template <class Instance>
struct RampOf;
template <>
struct RampOf<RampIntInstance> {
  static std::vector<Event> body() { return blk::rampIntBody(); }
  static float position(const RampIntInstance& r) { return r.Value; }
};
template <>
struct RampOf<RampRealInstance> {
  static std::vector<Event> body() { return blk::rampRealBody(); }
  static float position(const RampRealInstance& r) { return r.Out; }
};

using Ramps = ::testing::Types<RampIntInstance, RampRealInstance>;
TYPED_TEST_SUITE(Ramp, Ramps);

// Two gates, each with its error clear and read; the clock runs for 36500 days.
TYPED_TEST(Ramp, HookEventsAndErrorCallsOfOneCall) {
  this->call(0);
  EXPECT_EQ(fake::hooks(), RampOf<TypeParam>::body());
  EXPECT_EQ(fake::errorCalls(), (std::vector<Event>{{Call::ClrError}, {Call::GetError},
                                                    {Call::ClrError}, {Call::GetError}}));
  EXPECT_EQ(3762818755200000, v(this->ramp.Clock.PT));   // T#36500d
}

// An error of the elapsed-time subtraction closes the gate that records ET: LastET stays, and the
// DeltaET as stored still moves the ramp.
TYPED_TEST(Ramp, FailedElapsedTimeSubtractionKeepsLastET) {
  this->call(0);
  this->call(kOneSecond);
  fake::state.failSubCall = fake::state.subCalls;
  this->call(kOneSecond);
  expectFields<KX_BOOL>({IS(this->ramp.DeltaENO, 0), IS(this->ramp.CopyENO, 0)});
  expectFields<KX_TIME>({IS(this->ramp.LastET, kOneSecond), IS(this->ramp.DeltaET, kOneSecond)});
  EXPECT_EQ(2.0f, RampOf<TypeParam>::position(this->ramp));
  EXPECT_EQ(fake::hooks(), blk::closed(RampOf<TypeParam>::body(), {52}));
}

// ---- Ramp_Int ---------------------------------------------------------------------------------

using RampInt = Ramp<RampIntInstance>;

TEST_F(RampInt, MostNegativeStepMovesTowardsStart) {
  ramp.Step = -32768;
  ramp.Value = 50.0f;
  call(0);
  EXPECT_EQ(-32768, v(ramp.AbsStep));
  expectFields<float>({IS(ramp.AbsStepReal, -32768.0f), IS(ramp.Rate, -32768.0f),
                       IS(ramp.Value, 50.0f)});
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
  expectFields<float>({IS(ramp.Rate, -1.0f), IS(ramp.Value, 49.0f)});
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
  expectFields<float>({IS(ramp.Rate, 0.0f), IS(ramp.Value, 100.0f)});
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

// ---- Ramp_Real --------------------------------------------------------------------------------

using RampReal = Ramp<RampRealInstance>;

TEST_F(RampReal, StepSignDoesNotMatterAndZeroStepHolds) {
  ramp.Step = -1.0f;
  call(0);
  call(kOneSecond);
  expectFields<float>({IS(ramp.AbsStep, 1.0f), IS(ramp.Out, 1.0f)});
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
  ramp.Step = kInf;
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

}  // namespace
