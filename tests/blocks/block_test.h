// The fixture of the block unit tests: one record of a block (or of an operation's fields),
// zeroed, with the hooks on, on the scripted runtime whose log holds hook addresses relative to
// that record; call() runs the block's body as the program calls it, after the clock has moved.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>

#include "app/program.h"
#include "fake_runtime.h"

constexpr KX_TIME kOneSecond = 1193182;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Packed fields cannot bind to the references that EXPECT_EQ takes: v() hands on a copy.
template <typename T>
T v(T packedField) {
  return packedField;
}

// Several fields of one type against their expected values, each failure naming its field:
// expectFields<float>({IS(lag.Out, 0.0f), IS(lag.Y, 5.0f)}).
template <typename T>
struct FieldIs {
  const char* name;
  T actual;
  T expected;
};
#define IS(field, value) {#field, v(field), value}
template <typename T>
void expectFields(std::initializer_list<FieldIs<T>> fields) {
  for (const FieldIs<T>& f : fields) EXPECT_EQ(f.expected, f.actual) << f.name;
}

// How many runtime calls of one kind the log holds.
inline int count(fake::Call call) {
  int n = 0;
  for (const fake::Event& e : fake::state.log) n += e.call == call;
  return n;
}

// The body that the program calls on each instance type.
template <class Instance>
struct Body;
template <>
struct Body<LagPt1Instance> {
  static constexpr auto run = Lag_PT1;
};
template <>
struct Body<RampIntInstance> {
  static constexpr auto run = Ramp_Int;
};
template <>
struct Body<RampRealInstance> {
  static constexpr auto run = Ramp_Real;
};
template <>
struct Body<BlinkPulseInstance> {
  static constexpr auto run = Blink_Pulse;
};

template <class Instance>
class BlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset(&inst);
    d.localDebugFlag = 1;
  }
  // One call as the program makes it (ENO set, then the body), after the clock has moved by dt
  // ticks; the log then holds this call alone.
  void call(KX_TIME dt) {
    fake::state.now += dt;
    fake::state.log.clear();
    inst.ENO = 1;
    Body<Instance>::run(&inst, &d);
  }

  Instance inst{};
  EntryPointDescriptor d{};
};
