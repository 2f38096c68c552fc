// The blocks as a runtime sees them: the built module loaded by name, initialised and cycled
// through its exports on our runtime libraries, with a simulated clock of 10 ms cycles, variables
// read and written by offset between cycles and the debugger's events recorded.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "events.h"
#include "abi/exports.h"
#include "kxrt.h"
#include "loaded_module.h"

namespace {

using blk::enter;
using blk::Event;
using blk::exitHook;

constexpr int64_t kCycleNs = 10'000'000;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Data-area offsets of the variables the tests use.
enum : uint32_t {
  LagIn = 0,
  LagResetCmd = 4,
  LagOut = 8,
  IntRampEnable = 12,
  IntRampReset = 13,
  IntRampReached = 14,
  IntRampOut = 16,
  RealRampOut = 20,
  RealRampEnable = 24,
  RealRampReset = 25,
  RealRampReached = 26,
  BlinkQ = 53,
  LagFilter = 56,
  LagFilterReset = 56 + 16,
  LagFilterPrevY = 56 + 156,
  LagResetEdge = 256,
  IntRamp = 260,
  IntRampValue = 260 + 84,
  IntRampPeriod = 260 + 12,
  IntRampLastET = 260 + 28,
  RealRamp = 448,
  RealRampInstOut = 448 + 32,
  Ext1 = 720,
  Ext1In9 = 720 + 15,
  Blinker = 776,
  BlinkerQ = 776 + 5,
  DataAreaSize = 896,
};

struct Recorder {
  std::vector<Event> events;
  const uint8_t* base = nullptr;
  volatile uint32_t* switchOff = nullptr;   // cleared when the event below arrives
  Event offAt{blk::Call::Exit, -1, -1, -1};
};

void KX_CDECL onEnter(void* user, int32_t typeId, void* address, int32_t kind,
                      EntryPointDescriptor*) {
  Recorder& r = *static_cast<Recorder*>(user);
  const Event e = enter(typeId, static_cast<const uint8_t*>(address) - r.base, kind);
  r.events.push_back(e);
  if (r.switchOff != nullptr && e == r.offAt) *r.switchOff = 0;
}

void KX_CDECL onExit(void* user, EntryPointDescriptor*) {
  static_cast<Recorder*>(user)->events.push_back(exitHook());
}

class Blocks : public ::testing::Test {
 protected:
  static inline std::unique_ptr<LoadedModule> module;
  static void SetUpTestSuite() { module = std::make_unique<LoadedModule>(module_path()); }
  static void TearDownTestSuite() { module.reset(); }

  // A fresh start: data area zeroed, entry point registered, initialised in cold-start mode with
  // the clock at 0, hooks off.
  void SetUp() override {
    ep = module->ep;
    ep->localDebugFlag = 0;
    globalSwitch = 0;
    ep->globalDebugFlag = &globalSwitch;
    kxrt_unregister_all();
    ASSERT_EQ(0, kxrt_register_entry_point(ep));
    const std::vector<uint8_t> zeros(DataAreaSize, 0);
    DataRef whole{ep, 0};
    ASSERT_EQ(0, module->setData(&whole, zeros.data(), DataAreaSize));
    ASSERT_EQ(0, kxrt_clock_select(KXRT_CLOCK_SIMULATED));
    ASSERT_EQ(0, module->simpleMain(KX_MODE_INIT, 0));
    recorder.base = ep->dataArea;
    kxdbg_set_handler(onEnter, onExit, &recorder);
  }
  void TearDown() override {
    kxdbg_set_handler(nullptr, nullptr, nullptr);
    ep->globalDebugFlag = nullptr;
  }

  // Cycle k runs at k * 10 ms.
  void cycle() {
    kxrt_clock_set_ns(cycles * kCycleNs);
    kxdbg_begin_cycle();
    ASSERT_EQ(0, module->simpleMain(KX_MODE_CYCLE, 0));
    ++cycles;
  }

  template <typename T>
  T get(uint32_t offset) {
    T value{};
    DataRef ref{ep, offset};
    EXPECT_EQ(0, module->getData(&ref, &value, sizeof value));
    return value;
  }
  template <typename T>
  void set(uint32_t offset, T value) {
    DataRef ref{ep, offset};
    ASSERT_EQ(0, module->setData(&ref, &value, sizeof value));
  }
  void setBool(uint32_t offset, uint8_t value) { set<uint8_t>(offset, value); }

  EntryPointDescriptor* ep = nullptr;
  volatile uint32_t globalSwitch = 0;
  Recorder recorder;
  int64_t cycles = 0;
};

// ---- the whole cycle's hook events ------------------------------------------------------------

std::vector<Event> cycleEvents(bool firstCycle) {
  std::vector<Event> all{enter(3, 0, 6), enter(13, 256, 1), enter(13, 256, 6), exitHook(),
                         enter(4, 56, 1)};
  auto append = [&all](const std::vector<Event>& part) {
    all.insert(all.end(), part.begin(), part.end());
  };
  append(blk::lagBody(firstCycle, 56));
  all.push_back(enter(14, 260, 1));
  append(blk::rampIntBody(260));
  all.push_back(enter(24, 448, 1));
  append(blk::rampRealBody(448));
  all.push_back(enter(29, 776, 1));
  append(blk::blinkBody(776));
  append({enter(28, 720, 1), enter(28, 720, 6), exitHook(), exitHook()});
  return all;
}

TEST_F(Blocks, WholeCycleEventsWithTheGlobalSwitch) {
  globalSwitch = 1;
  cycle();
  EXPECT_EQ(recorder.events, cycleEvents(true));
  recorder.events.clear();
  cycle();
  EXPECT_EQ(recorder.events, cycleEvents(false));
}

TEST_F(Blocks, WholeCycleEventsWithTheLocalSwitchAlone) {
  ep->globalDebugFlag = nullptr;
  ep->localDebugFlag = 1;
  cycle();
  cycle();
  recorder.events.clear();
  cycle();
  EXPECT_EQ(recorder.events, cycleEvents(false));
  ep->localDebugFlag = 0;
  recorder.events.clear();
  cycle();
  EXPECT_TRUE(recorder.events.empty());
}

// A callback that turns the global switch off silences the rest of the cycle at once, including
// the ExitHooks of the blocks in progress.
TEST_F(Blocks, SwitchTurnedOffInsideABodyTakesEffectAtTheNextHook) {
  cycle();
  globalSwitch = 1;
  recorder.switchOff = &globalSwitch;
  recorder.offAt = enter(10, 448 + 104, 6);   // Ramp_Real's clock
  cycle();
  std::vector<Event> expected = cycleEvents(false);
  size_t end = 0;
  while (!(expected[end] == recorder.offAt)) ++end;
  expected.resize(end + 1);
  EXPECT_EQ(recorder.events, expected);
}

// Only the first cycle records errors: Lag_PT1's two divisions by zero (Delta and Denominator
// both 0). The ramps' gated steps clear the error information again later in the cycle.
TEST_F(Blocks, ErrorInformationOfTheCycles) {
  cycle();
  EXPECT_EQ(140, kxdbg_cycle_first_error());
  EXPECT_EQ(2u, kxdbg_cycle_error_count());   // steps 8 and 12
  for (int i = 0; i < 50; ++i) {
    cycle();
    ASSERT_EQ(0u, kxdbg_cycle_error_count()) << "cycle " << cycles - 1;
  }
}

// ---- the ramps ----------------------------------------------------------------------------------

TEST_F(Blocks, RampsFromAColdStartReachTheTargetAfterAboutAHundredSeconds) {
  setBool(IntRampEnable, 1);
  setBool(RealRampEnable, 1);
  cycle();
  EXPECT_EQ(0.0f, get<float>(RealRampOut));   // the first cycle covers no distance
  EXPECT_EQ(0.0f, get<float>(IntRampValue));
  int64_t arrived = -1;
  float previous = 0.0f;
  while (cycles < 11000) {
    cycle();
    const float out = get<float>(RealRampOut);
    const float value = get<float>(IntRampValue);
    ASSERT_EQ(out, value) << "both ramps run the same arithmetic";
    ASSERT_EQ(static_cast<int16_t>(std::lround(value)), get<int16_t>(IntRampOut));
    ASSERT_GE(out, previous);
    ASSERT_LE(out, 100.0f);
    if (arrived < 0) {
      ASSERT_EQ(0, get<uint8_t>(RealRampReached)) << "cycle " << cycles - 1;
      ASSERT_EQ(0, get<uint8_t>(IntRampReached));
      if (out == 100.0f) arrived = cycles - 1;
    } else {   // from the cycle after the arrival on
      ASSERT_EQ(1, get<uint8_t>(RealRampReached)) << "cycle " << cycles - 1;
      ASSERT_EQ(1, get<uint8_t>(IntRampReached));
    }
    if (cycles == 2) {
      EXPECT_NEAR(0.01f, out, 1e-5f);
    }
    previous = out;
  }
  ASSERT_GE(arrived, 0);
  EXPECT_NEAR(10000, arrived, 50);   // about 100 s of 10 ms cycles
  EXPECT_EQ(100, get<int16_t>(IntRampOut));
}

TEST_F(Blocks, RampResetAndReenable) {
  setBool(RealRampEnable, 1);
  setBool(IntRampEnable, 1);
  for (int i = 0; i < 501; ++i) cycle();   // 5 s of movement
  const float at5s = get<float>(RealRampOut);
  EXPECT_NEAR(5.0f, at5s, 0.01f);
  EXPECT_EQ(5, get<int16_t>(IntRampOut));

  // Disabled: the position holds.
  setBool(RealRampEnable, 0);
  setBool(IntRampEnable, 0);
  for (int i = 0; i < 100; ++i) cycle();
  EXPECT_EQ(at5s, get<float>(RealRampOut));
  EXPECT_EQ(at5s, get<float>(IntRampValue));

  // Re-enabled: nothing in the first cycle, then onwards from there.
  setBool(RealRampEnable, 1);
  setBool(IntRampEnable, 1);
  cycle();
  EXPECT_EQ(at5s, get<float>(RealRampOut));
  cycle();
  EXPECT_NEAR(at5s + 0.01f, get<float>(RealRampOut), 1e-4f);

  // Reset: Start in every such cycle, Reached FALSE.
  setBool(RealRampReset, 1);
  setBool(IntRampReset, 1);
  for (int i = 0; i < 3; ++i) {
    cycle();
    EXPECT_EQ(0.0f, get<float>(RealRampOut));
    EXPECT_EQ(0, get<int16_t>(IntRampOut));
    EXPECT_EQ(0, get<uint8_t>(RealRampReached));
  }
  setBool(RealRampReset, 0);
  setBool(IntRampReset, 0);
  cycle();   // continues from Start with the time of one cycle
  EXPECT_NEAR(0.01f, get<float>(RealRampOut), 1e-4f);
}

// The program writes Start and Target in every cycle, so from outside only the position can be
// moved: a position beyond either bound is brought back to it in the next cycle.
TEST_F(Blocks, PositionWrittenFromOutside) {
  cycle();
  set<float>(RealRampInstOut, 42.0f);
  set<float>(IntRampValue, 42.0f);
  set<int16_t>(IntRampOut, 7);   // an output: replaced by the next cycle
  cycle();
  EXPECT_EQ(42.0f, get<float>(RealRampOut));
  EXPECT_EQ(42, get<int16_t>(IntRampOut));
  setBool(RealRampEnable, 1);
  setBool(IntRampEnable, 1);
  cycle();
  cycle();
  EXPECT_NEAR(42.01f, get<float>(RealRampOut), 1e-4f);
  EXPECT_NEAR(42.01f, get<float>(IntRampValue), 1e-4f);

  set<float>(RealRampInstOut, 250.0f);   // beyond Target: limited back down
  set<float>(IntRampValue, -30.0f);      // below Start: limited up
  cycle();
  EXPECT_EQ(100.0f, get<float>(RealRampOut));
  EXPECT_EQ(0.0f, get<float>(IntRampValue));
  cycle();
  EXPECT_EQ(1, get<uint8_t>(RealRampReached));
  EXPECT_NEAR(0.01f, get<float>(IntRampValue), 1e-4f);
}

// ---- the lag filter -----------------------------------------------------------------------------

TEST_F(Blocks, LagOutSettlesAtGainTimesInputAndResetsOnTheEdge) {
  cycle();
  EXPECT_EQ(0.0f, get<float>(LagOut));
  for (int i = 0; i < 2000; ++i) cycle();   // 20 time constants
  // Single precision settles a little below: with T1/dt = 100 the last steps are lost in the
  // rounding of the numerator (about 0.001 in y).
  EXPECT_NEAR(205.2f, get<float>(LagOut), 0.005f);

  setBool(LagResetCmd, 1);
  cycle();
  EXPECT_EQ(1, get<uint8_t>(LagFilterReset));
  EXPECT_EQ(0.0f, get<float>(LagOut));
  EXPECT_EQ(0.0f, get<float>(LagFilterPrevY));
  cycle();   // the command stays TRUE: no further reset, the filter starts again from 0
  EXPECT_EQ(0, get<uint8_t>(LagFilterReset));
  const float first = get<float>(LagOut);
  EXPECT_NEAR(2.0f * 102.6f * 0.01f / 1.01f, first, 1e-3f);
  for (int i = 0; i < 100; ++i) cycle();   // one time constant
  EXPECT_NEAR(205.2f * (1.0f - std::exp(-1.0f)), get<float>(LagOut), 0.5f);
  setBool(LagResetCmd, 0);
  cycle();
  EXPECT_EQ(0, get<uint8_t>(LagFilterReset));
  EXPECT_GT(get<float>(LagOut), 100.0f);
}

TEST_F(Blocks, ResetCommandAlreadyTrueInTheFirstCycleIsAnEdge) {
  setBool(LagResetCmd, 1);
  cycle();
  EXPECT_EQ(1, get<uint8_t>(LagFilterReset));
  EXPECT_EQ(1, get<uint8_t>(LagResetEdge + 2));   // the edge memory
  cycle();
  EXPECT_EQ(0, get<uint8_t>(LagFilterReset));
}

// ---- the pulse generator ------------------------------------------------------------------------

TEST_F(Blocks, BlinkQTogglesAboutOnceASecond) {
  std::vector<int64_t> changes;
  uint8_t previous = 0;
  for (int i = 0; i < 1000; ++i) {
    cycle();
    const uint8_t q = get<uint8_t>(BlinkQ);
    ASSERT_EQ(q, get<uint8_t>(Ext1In9)) << "Ext1 gets the Q of the same cycle";
    ASSERT_EQ(q, get<uint8_t>(BlinkerQ));
    if (q != previous) changes.push_back(cycles - 1);
    previous = q;
  }
  ASSERT_GE(changes.size(), 9u);
  EXPECT_EQ(100, changes[0]);   // the first cycle at least T#1s after the first
  for (size_t i = 1; i < changes.size(); ++i) {
    const int64_t phase = changes[i] - changes[i - 1];
    EXPECT_GE(phase, 101) << "phase " << i;   // 1 s plus one cycle, stretched to the next cycle
    EXPECT_LE(phase, 102) << "phase " << i;
  }
}

// ---- bad inputs ----------------------------------------------------------------------------------

// Values no sensible runtime writes, written between cycles: the cycles go on, every output stays
// a defined value, and the program recovers once the inputs are sane again.
TEST_F(Blocks, BadInputsBetweenCyclesNeverBreakACycle) {
  const float reals[] = {kNaN, kInf, -kInf, 1.0e-40f, -1.0e-45f, 3.4e38f, -3.4e38f, -0.0f};
  const uint8_t bools[] = {2, 0x80, 0xFF, 1, 0};
  const uint32_t boolOffsets[] = {LagResetCmd, IntRampEnable, IntRampReset, RealRampEnable,
                                  RealRampReset};
  globalSwitch = 1;
  for (int round = 0; round < 40; ++round) {
    set<float>(LagIn, reals[round % 8]);
    set<float>(RealRampInstOut, reals[(round + 3) % 8]);
    set<float>(IntRampValue, reals[(round + 5) % 8]);
    set<float>(LagFilterPrevY, reals[(round + 1) % 8]);
    set<int64_t>(IntRampPeriod, -1193182);   // overwritten by the program before the body runs
    set<int64_t>(IntRampLastET, round % 2 ? INT64_MIN : INT64_MAX);
    for (size_t b = 0; b < sizeof boolOffsets / sizeof boolOffsets[0]; ++b)
      setBool(boolOffsets[b], bools[(round + b) % 5]);
    setBool(BlinkerQ, bools[round % 5]);
    recorder.events.clear();
    cycle();
    // The whole cycle ran: every kind-6 event closed, the program's ExitHook last.
    int open = 0;
    for (const Event& e : recorder.events) open += e.call == blk::Call::Exit ? -1 : e.kind == 6;
    EXPECT_EQ(0, open) << "round " << round;
    ASSERT_EQ(exitHook(), recorder.events.back());
    for (uint32_t offset : {IntRampReached, RealRampReached, BlinkQ})
      EXPECT_LE(get<uint8_t>(offset), 1) << "offset " << offset;
  }

  // Arbitrary bytes anywhere in the instances, timer states included.
  std::mt19937 random(12345);
  for (int round = 0; round < 300; ++round) {
    for (int k = 0; k < 16; ++k) {
      const uint32_t offset = LagFilter + random() % (DataAreaSize - LagFilter);
      setBool(offset, static_cast<uint8_t>(random()));
    }
    cycle();
  }

  // Sane inputs again: a reset edge and the filter and ramps work as before.
  globalSwitch = 0;
  const std::vector<uint8_t> zeros(DataAreaSize, 0);
  DataRef whole{ep, 0};
  ASSERT_EQ(0, module->setData(&whole, zeros.data(), DataAreaSize));
  ASSERT_EQ(0, module->simpleMain(KX_MODE_INIT, 0));
  for (int i = 0; i < 2000; ++i) cycle();
  EXPECT_NEAR(205.2f, get<float>(LagOut), 0.005f);
}

}  // namespace
