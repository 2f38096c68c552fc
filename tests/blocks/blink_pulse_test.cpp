// Blink_Pulse on the scripted runtime: the ring of TON and TOF, the toggle and the hook events.
#include <string>

#include "block_test.h"

namespace {

constexpr KX_TIME kQuarterSecond = 298296;   // just over a quarter second: four make T#1s

class BlinkPulse : public BlockTest<BlinkPulseInstance> {
 protected:
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
  BlinkPulseInstance& blink = inst;
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
  expectFields<KX_TIME>({IS(blink.OffTimeConv, 1193182000), IS(blink.OnTimeConv, 1193182000),
                         IS(blink.OffTimePT, kOneSecond), IS(blink.OnTimePT, kOneSecond)});
}

TEST_F(BlinkPulse, ShorterOffTimeTakesEffectInTheRunningPhase) {
  blink.OnTime = blink.OffTime = 1000;
  EXPECT_EQ("000", run(3, kQuarterSecond));   // 0.5 s into the low phase
  blink.OffTime = 200;
  call(kQuarterSecond);
  expectFields<KX_BOOL>({IS(blink.Q, 1), IS(blink.Toggle, 1)});
}

// The ring reads the Q of the previous call as a byte: any non-zero byte counts as TRUE for NOT.
TEST_F(BlinkPulse, NonCanonicalQByteCountsAsTrue) {
  blink.OnTime = blink.OffTime = 1000;
  blink.Q = 2;
  call(0);
  expectFields<KX_BOOL>({IS(blink.NotQ, 0), IS(blink.Q, 0)});
}

}  // namespace
