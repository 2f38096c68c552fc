// The debugger's model, plain logic without a module: the breakpoints, the blocks a running cycle
// has entered and not yet left, and the stepper that decides at each debug event and at the end
// of each cycle whether to stop.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "abi/kx_debug.h"
#include "softplc/expr/expression.h"
#include "softplc/symbols/place.h"
#include "softplc/symbols/source_map.h"

namespace softplc {

// Event kinds as the debugger sees them: the module's KX_EVENT_STEP (1) and KX_EVENT_ENTRY (6), and
// the ExitHook, which has no kind of its own: we give it 0.
inline constexpr int32_t kEventExit = 0;

// Which hits of a breakpoint stop: "5" or "= 5" (the fifth), ">= 5", "> 5", "< 5", "<= 5", "% 5" (every
// fifth).
struct HitCondition {
  enum class Op : uint8_t { Equal, AtLeast, Above, Below, AtMost, Every };
  Op op = Op::Equal;
  uint64_t count = 1;

  static Result<HitCondition> parse(std::string_view text);
  bool stops(uint64_t hits) const;
  std::string text() const;
};

struct Breakpoint {
  enum class Target {
    BlockType,   // the entry (kind 6) of every block of a type
    Record,      // the entry of one instance or embedded record
    Variable,    // the entry of the operation whose events report the variable
    TypeId,      // every event of a type identifier, exits included
    Line,        // a statement of the listing: its first event (`kind`, an ExitHook for an END line)
                 // at `typeId` in the instances at `offsets`
  };
  int number = 0;
  Target target = Target::BlockType;
  int32_t typeId = 0;
  uint32_t offset = 0;
  std::string name;        // the block type, record or variable as the symbol file spells it
  std::string blockName;   // the type identifier's block name
  uint64_t hits = 0;
  // A statement's:
  int32_t kind = 0;
  std::vector<uint32_t> offsets{};   // the data-area offsets its events report, one per instance
  uint32_t line = 0;
  std::string text{};                // its description
  // Only when this holds (over the data area at the event) does the breakpoint count a hit.
  std::optional<Expression> condition{};
  // Which hits stop (none: every one).
  std::optional<HitCondition> hitCondition{};
  // A logpoint: instead of stopping, the message is told with each {EXPRESSION} replaced by its value.
  std::string logMessage{};
  // The instance whose fields a condition or a log message may name by their own names ("Value" for
  // IntRamp.Value): the one instance of a line's block, or the one its condition names.
  std::string scope{};

  bool matches(int32_t kind, const Place& place) const;
  std::string label() const;         // "Ramp_Int", "typeid 14", "RealRamp:288"
  std::string description() const;  // "Ramp_Int, the entry of every Ramp_Int block (type 14)", with its
                                     // condition, hit condition and message
  std::string where() const;        // the same without them
};

class Breakpoints {
 public:
  // Numbers the breakpoint (1, 2, ...) and keeps it.
  const Breakpoint& add(Breakpoint breakpoint);
  bool remove(int number);
  std::size_t clear();
  bool empty() const { return list_.empty(); }
  std::span<const Breakpoint> all() const { return list_; }
  std::span<Breakpoint> all() { return list_; }
  // The first breakpoint the event hits (its hit count goes up), or null. With a condition, a
  // breakpoint hits only when `holds` says it holds now.
  const Breakpoint* hit(int32_t kind, const Place& place,
                        const std::function<bool(const Breakpoint&)>& holds = nullptr);
  Breakpoint* find(int number);

 private:
  std::vector<Breakpoint> list_;
  int next_ = 1;
};

// A block entered with kind 6 and not yet left: where, and the line of the listing that runs in it
// (0: the listing does not say).
struct Frame {
  Place place;
  const SourceLocation* source = nullptr;   // the statement of its entry, when the listing has it
  uint32_t line = 0;
};

// The blocks entered with kind 6 and not yet left, outermost first.
class CallStack {
 public:
  // Takes an event into account: an entry opens a block, an exit closes the innermost one (and
  // gives it back; an exit with nothing open gives an empty frame). `source`: the event's
  // statement; one of the innermost block's own moves that block's line there, an entry opens the
  // new block on it.
  void enter(int32_t kind, const Place& place, const SourceLocation* source = nullptr);
  Frame exit_frame();
  Place exit() { return exit_frame().place; }
  void clear() { open_.clear(); }
  std::size_t depth() const { return open_.size(); }
  bool empty() const { return open_.empty(); }
  // Innermost first.
  std::vector<Frame> innermost_first() const { return {open_.rbegin(), open_.rend()}; }

 private:
  std::vector<Frame> open_;
};

// Where a running program stops. A resume command sets the mode; then every event and the end of
// every cycle ask whether to stop there.
class Stepper {
 public:
  enum class Mode {
    Idle,       // at the prompt
    Step,       // stop at the next event (or the end of the cycle), `count` times
    Next,       // stop at the next event at the depth of the start or shallower, `count` times
    NextLine,   // stop at the next event at the depth of the start or shallower on another line of the
                // listing (an editor's "step over": the next statement of this block)
    StepLine,   // stop at the next event on another line of the listing (an editor's "step in")
    Finish,     // stop at the exit that leaves the innermost open block (none open: the cycle's end)
    Continue,   // stop at a breakpoint; cycles run on
    Cycles,     // run `count` cycles to their end without stopping
    Quit,       // no more stops
  };

  Mode mode() const { return mode_; }
  void idle() { mode_ = Mode::Idle; }
  void step(uint64_t count);
  // `depth`: the open blocks now. Between cycles, next is a step.
  void next(uint64_t count, std::size_t depth, bool inCycle);
  // From the event at `line` of the listing with `depth` blocks open; between cycles (or at no line),
  // both stop at the first event on a line.
  void next_line(std::size_t depth, uint32_t line, bool inCycle);
  void step_line(uint32_t line, bool inCycle);
  // `depth`: the open blocks now.
  void finish(std::size_t depth);
  void resume() { mode_ = Mode::Continue; }
  void cycles(uint64_t count);
  void quit() { mode_ = Mode::Quit; }

  // An event, with the depth after it was taken into account; `breakpoint` or `watch`: a
  // breakpoint was hit or a stopping watch saw a change. A stop makes the stepper idle.
  // `line`: the event's line of the listing (0: none).
  bool stop_at_event(int32_t kind, std::size_t depth, bool breakpoint, bool watch, bool interrupted,
                     uint32_t line = 0);
  // The end of a cycle.
  bool stop_at_cycle_end(bool watch, bool interrupted);

 private:
  bool counted();

  Mode mode_ = Mode::Idle;
  uint64_t count_ = 0;
  std::optional<std::size_t> depth_;
  uint32_t line_ = 0;
};

}  // namespace softplc
