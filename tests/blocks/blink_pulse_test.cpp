// Blink_Pulse on the scripted runtime: the ring of TON and TOF, the toggle and the hook events.
#include <gtest/gtest.h>

#include <string>

#include "app/program.h"
#include "fake_runtime.h"

namespace {

constexpr KX_TIME kQuarterSecond = 298296;   // just over a quarter second: four make T#1s
constexpr KX_TIME kOneSecond = 1193182;

template <typename T>
T v(T packedField) {
  return packedField;
}

class BlinkPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset(&blink);
    d.localDebugFlag = 1;
  }
  void call(KX_TIME dt) {
    fake::state.now += dt;
    fake::state.log.clear();
    blink.ENO = 1;
    Blink_Pulse(&blink, &d);
  }
  // Q over n calls, dt apart (the first call without delay), as a string of 0 and 1.
  std::string run(int n, KX_TIME dt, std::string* toggle = nullptr) {
    std::string q;
    for (int i = 0; i < n; ++i) {
      call(i == 0 ? 0 : dt);
      q += static_cast<char>('0' + v(blink.Q));
      if (toggle != nullptr) *toggle += static_cast<char>('0' + v(blink.Toggle));
    }
    return q;
  }
  BlinkPulseInstance blink{};
  EntryPointDescriptor d{};
};

TEST_F(BlinkPulse, TwentyNineHookCallsPerCall) {
  blink.OnTime = blink.OffTime = 1000;
  call(0);
  const std::vector<blk::Event> expected = blk::blinkBody();
  EXPECT_EQ(29u, expected.size());
  EXPECT_EQ(fake::hooks(), expected);
  EXPECT_TRUE(fake::errorCalls().empty());   // no step touches the error information
}

TEST_F(BlinkPulse, BothTimesZeroAlternateEveryCall) {
  std::string toggle;
  EXPECT_EQ("101010", run(6, kQuarterSecond, &toggle));
  EXPECT_EQ("110011", toggle);
}

TEST_F(BlinkPulse, ZeroOffTimeMakesTheLowPhaseOneCall) {
  blink.OnTime = 1000;
  EXPECT_EQ("111110111110", run(12, kQuarterSecond));
}

TEST_F(BlinkPulse, ZeroOnTimeMakesTheHighPhaseOneCall) {
  blink.OffTime = 1000;
  EXPECT_EQ("000010000010", run(12, kQuarterSecond));
}

TEST_F(BlinkPulse, OneSecondPhasesInMilliseconds) {
  blink.OnTime = blink.OffTime = 1000;
  std::string toggle;
  // Low until the first call at least T#1s after the first; then each phase its time plus one
  // call interval.
  EXPECT_EQ("00001111100000111110", run(20, kQuarterSecond, &toggle));
  EXPECT_EQ("00001111111111000000", toggle);
  EXPECT_EQ(1193182000, v(blink.OffTimeConv));
  EXPECT_EQ(1193182000, v(blink.OnTimeConv));
  EXPECT_EQ(kOneSecond, v(blink.OffTimePT));
  EXPECT_EQ(kOneSecond, v(blink.OnTimePT));
}

TEST_F(BlinkPulse, ShorterOffTimeTakesEffectInTheRunningPhase) {
  blink.OnTime = blink.OffTime = 1000;
  EXPECT_EQ("000", run(3, kQuarterSecond));   // 0.5 s into the low phase
  blink.OffTime = 200;
  call(kQuarterSecond);
  EXPECT_EQ(1, v(blink.Q));
  EXPECT_EQ(1, v(blink.Toggle));
}

// The ring reads the Q of the previous call as a byte: any non-zero byte counts as TRUE for NOT.
TEST_F(BlinkPulse, NonCanonicalQByteCountsAsTrue) {
  blink.OnTime = blink.OffTime = 1000;
  blink.Q = 2;
  call(0);
  EXPECT_EQ(0, v(blink.NotQ));
  EXPECT_EQ(0, v(blink.Q));
}

}  // namespace
