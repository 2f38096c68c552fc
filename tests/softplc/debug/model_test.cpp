// The debugger's stepping and breakpoint logic on a scripted event sequence, without a module.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "softplc/debug/model.h"

namespace softplc {
namespace {

struct Event {
  int32_t kind;
  int32_t typeId;
  uint32_t offset;
  const char* name;
};

// One cycle: the program, a block with one operation inside, a second block with its body, the
// program's exit. Indices in comments.
const std::vector<Event> kCycle = {
    {KX_EVENT_ENTRY, 3, 0, ""},              // 0
    {KX_EVENT_STEP, 14, 260, "IntRamp"},     // 1
    {KX_EVENT_ENTRY, 14, 260, "IntRamp"},    // 2
    {KX_EVENT_STEP, 20, 412, "IntRamp.StartReal"},    // 3
    {KX_EVENT_ENTRY, 20, 412, "IntRamp.StartReal"},   // 4
    {kEventExit, 0, 0, ""},               // 5 leaves the operation
    {kEventExit, 0, 0, ""},               // 6 leaves IntRamp
    {KX_EVENT_STEP, 28, 720, "Ext1"},        // 7
    {KX_EVENT_ENTRY, 28, 720, "Ext1"},       // 8
    {kEventExit, 0, 0, ""},               // 9
    {kEventExit, 0, 0, ""},               // 10 leaves the program
};
constexpr int kCycleEnd = 100;   // the end of a cycle in a list of stops

// Runs `cycles` cycles; at each stop (event index, or kCycleEnd + cycle) `resume` is called with the
// stepper and the stack to set the next mode. Gives the stops.
std::vector<int> run(Stepper& stepper, Breakpoints& breakpoints, int cycles,
                     const std::function<void(Stepper&, const CallStack&)>& resume) {
  std::vector<int> stops;
  CallStack stack;
  for (int c = 0; c < cycles; ++c) {
    stack.clear();
    for (std::size_t i = 0; i < kCycle.size(); ++i) {
      const Event& e = kCycle[i];
      Place place{e.typeId, {}, nullptr, e.offset, e.name};
      if (e.kind == kEventExit) {
        place = stack.exit();
      } else {
        stack.enter(e.kind, place);
      }
      const bool hit = stepper.mode() != Stepper::Mode::Cycles && breakpoints.hit(e.kind, place) != nullptr;
      if (stepper.stop_at_event(e.kind, stack.depth(), hit, false, false)) {
        stops.push_back(static_cast<int>(i) + c * 1000);
        resume(stepper, stack);
      }
    }
    stack.clear();
    if (stepper.stop_at_cycle_end(false, false)) {
      stops.push_back(kCycleEnd + c * 1000);
      resume(stepper, stack);
    }
  }
  return stops;
}

TEST(DebuggerModel, SteppingCommandsStopWhereTheyShould) {
  const struct {
    const char* what;
    std::function<void(Stepper&)> start;
    std::function<void(Stepper&, const CallStack&)> resume;
    std::vector<int> stops;
  } cases[] = {
      {"step stops at every event and the cycle's end", [](Stepper& s) { s.step(1); },
       [](Stepper& s, const CallStack&) { s.step(1); }, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, kCycleEnd}},
      {"step 4 counts four events", [](Stepper& s) { s.step(4); },
       [](Stepper& s, const CallStack&) { s.step(4); }, {3, 7, kCycleEnd, 1003}},
      {"next steps over blocks", [](Stepper& s) { s.step(1); },
       [](Stepper& s, const CallStack& stack) { s.next(1, stack.depth(), true); }, {0, 1, 6, 7, 9, 10, kCycleEnd}},
      {"next 2", [](Stepper& s) { s.step(2); },
       [](Stepper& s, const CallStack& stack) { s.next(2, stack.depth(), true); }, {1, 7, 10}},
      {"finish leaves the innermost block", [](Stepper& s) { s.step(5); },
       [](Stepper& s, const CallStack& stack) { s.finish(stack.depth()); }, {4, 5, 6, 10, kCycleEnd}},
      {"cycle 2 stops only at the second cycle's end", [](Stepper& s) { s.cycles(2); },
       [](Stepper& s, const CallStack&) { s.quit(); }, {1000 + kCycleEnd}},
      {"quit never stops", [](Stepper& s) { s.quit(); }, [](Stepper&, const CallStack&) {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Stepper stepper;
    Breakpoints none;
    c.start(stepper);
    // After the listed stops the test quits, so that a stepper that stops too often shows it.
    std::size_t seen = 0;
    const std::size_t wanted = c.stops.size();
    EXPECT_EQ(run(stepper, none, 2,
                  [&](Stepper& s, const CallStack& stack) {
                    if (++seen >= wanted) {
                      s.quit();
                    } else {
                      c.resume(s, stack);
                    }
                  }),
              c.stops);
  }
}

TEST(DebuggerModel, BreakpointsFireOnTheirEventsOnly) {
  const struct {
    Breakpoint breakpoint;
    std::vector<int> stops;
  } cases[] = {
      {{0, Breakpoint::Target::BlockType, 14, 0, "Ramp_Int", "Ramp_Int", 0}, {2, 1002}},
      {{0, Breakpoint::Target::Record, 28, 720, "Ext1", "Ext_Block", 0}, {8, 1008}},
      {{0, Breakpoint::Target::Record, 28, 260, "Elsewhere", "Ext_Block", 0}, {}},
      {{0, Breakpoint::Target::Variable, 20, 412, "IntRamp.StartReal", "INT_TO_REAL", 0}, {4, 1004}},
      {{0, Breakpoint::Target::TypeId, 20, 0, "", "INT_TO_REAL", 0}, {3, 4, 5, 1003, 1004, 1005}},
      // A statement of the listing: its first event in the instances named, or the block's exit.
      {{0, Breakpoint::Target::Line, 20, 0, "line 192", "Ramp_Int", 0, KX_EVENT_STEP, {412}, 192}, {3, 1003}},
      {{0, Breakpoint::Target::Line, 20, 0, "line 192", "Ramp_Int", 0, KX_EVENT_STEP, {600, 700}, 192}, {}},
      {{0, Breakpoint::Target::Line, 14, 0, "line 224", "Ramp_Int", 0, kEventExit, {260}, 224}, {6, 1006}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.breakpoint.description());
    Stepper stepper;
    Breakpoints breakpoints;
    breakpoints.add(c.breakpoint);
    stepper.resume();
    EXPECT_EQ(run(stepper, breakpoints, 2, [](Stepper& s, const CallStack&) { s.resume(); }), c.stops);
    EXPECT_EQ(breakpoints.all()[0].hits, c.stops.size());
  }
}

TEST(DebuggerModel, BreakpointsAreNumberedAndRemovedByNumber) {
  Breakpoints breakpoints;
  EXPECT_EQ(breakpoints.add({}).number, 1);
  EXPECT_EQ(breakpoints.add({}).number, 2);
  EXPECT_TRUE(breakpoints.remove(1));
  EXPECT_FALSE(breakpoints.remove(1));
  EXPECT_EQ(breakpoints.add({}).number, 3);
  EXPECT_EQ(breakpoints.clear(), 2u);
  EXPECT_TRUE(breakpoints.empty());
}

}  // namespace
}  // namespace softplc
