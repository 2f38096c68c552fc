// The program under the debugger, apart from any front end: while it lives it is the runtime's
// hook handler and a participant of the run (its front end, run/order.h); it drives the run's
// cycles, keeps the breakpoints, the open blocks, the watches and the stepper, and at every debug
// event and at the end of every cycle asks the stepper whether to stop. A stop is a call of the
// front end's stopped(): the cycle stays held (inside the module's hook call, or between two
// cycles) until it returns, and goes on as the stepper then says. The text prompt (session.h) is
// one front end; an editor's debug adapter would be another, on the same debuggee.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "softplc/debug/model.h"
#include "softplc/live/status.h"
#include "softplc/run/run.h"
#include "softplc/symbols/place.h"
#include "softplc/symbols/source_map.h"
#include "softplc/util/values.h"

namespace softplc {

struct Watch {
  Variable variable;
  Encoded value;      // as last seen
  bool stop = false;  // stop when it changes
};

// Where and why the program is held.
struct Stop {
  uint64_t cycle = 0;        // the cycle held at an event; between two cycles, the next one
  bool atEvent = false;
  // At an event: its kind, where its address lies, and the statement of the listing it lands on.
  int32_t kind = 0;
  Place place;
  Frame frame;
  const Breakpoint* breakpoint = nullptr;   // the breakpoint the event hit, if one did
  bool watch = false;                       // a stopping watch saw its variable change
  bool paused = false;                      // a front end asked for a pause
  bool interrupted = false;                 // Ctrl-C stopped what ran
  // Between two cycles, after one ran: that cycle, its time and the errors it recorded.
  struct Ended {
    uint64_t cycle = 0;
    int64_t timeNs = 0;
    uint32_t errors = 0;
    int32_t firstError = 0;
  };
  std::optional<Ended> ended;
};

// The words of a command line, split at blanks.
std::vector<std::string> words_of(const std::string& line);

// "enter(6) 14 Ramp_Int at IntRamp (260)", "exit 15 REAL_TO_INT at IntRamp.IntValue (296)".
std::string event_text(int32_t kind, const Place& place);

class DebugFront {
 public:
  virtual ~DebugFront() = default;
  // The program is held; it goes on when this returns, as the stepper says then (a resume sets its
  // mode; quit ends the session).
  virtual void stopped(const Stop& stop) = 0;
  // A watched variable changed (`before`: what it was), whether or not the watch stops; `where`:
  // "cycle 3, seen at enter(1) ...", "cycle 3, at its end".
  virtual void watch_changed(const Watch& watch, const Encoded& before, const std::string& where) = 0;
  // An online change replaced the module, and the new one has no variable of this watch's name and
  // type: the watch is gone.
  virtual void watch_ended(const Watch& watch) = 0;
  // On the cycle's thread at every event and before every cycle: the place for a front end that
  // reads its requests on a thread of its own to have them carried out here.
  virtual void poll() {}
  // A logpoint's message, its expressions replaced by their values.
  virtual void logged(const Breakpoint& breakpoint, const std::string& text) { (void)breakpoint, (void)text; }
  // Something the front end should tell its user (a condition that could not be evaluated).
  virtual void note(const std::string& text) { (void)text; }
  // A cycle ended (a run that the debugger does not drive: the run's own cycles).
  virtual void cycle_ended(const CycleInfo& cycle) { (void)cycle; }
  // An online change replaced the module: names, the listing and the watches are the new one's.
  virtual void module_changed() {}
};

class Debuggee : public CycleObserver {
 public:
  // Joins the run as its front end; the run is started by start().
  Debuggee(Run& run, DebugFront& front);
  // Switches the hooks off and stops being the hook handler.
  ~Debuggee() override;
  Debuggee(const Debuggee&) = delete;
  Debuggee& operator=(const Debuggee&) = delete;

  // Starts the run (the module initialised, its --set values written), becomes the hook handler
  // and switches the hooks on.
  Status start();
  // Becomes the hook handler, for a run that its owner started (and drives: see run()).
  void handle_events();
  // Holds the program before its first cycle, then runs cycles, stopping where the stepper says,
  // until the stepper quits. Fails only when a cycle or the clock does.
  //
  // Without run(), the run drives its own cycles (Run::run_to_limit) and the debuggee follows them:
  // it stops at events as the stepper says, between two cycles at a pause or where the stepper
  // stops at a cycle's end (before the next cycle), and the stepper idles as `continue` does.
  Status run();

  // Any thread: stop at the next event, or before the next cycle, whichever comes first.
  void request_pause() { pause_.store(true, std::memory_order_release); }

  // What the front ends share: breakpoints made from what the user names (locations.cpp), their
  // conditions, expressions over the data area and writes through the data-access exports.
  Result<Breakpoint> line_breakpoint(std::string_view qualifier, uint32_t line);
  // A block type, an instance, a variable whose operation reports it, or LINE / NAME:LINE.
  Result<Breakpoint> name_breakpoint(std::string_view name);
  Result<Breakpoint> typeid_breakpoint(std::string_view text);
  // "IntRamp.Value > 50": the breakpoint stops only when it holds. A line's breakpoint in every
  // instance of its block may name one of them first ("RealRamp", "RealRamp AND Out > 5"): it then
  // stops in that one alone, and the names in the rest may be its fields.
  Status set_condition(Breakpoint& breakpoint, std::string_view text);
  // Names as the symbol file spells them, @OFFSET:TYPE, or a field of `instance` by its own name.
  Result<Expression> parse_expression(std::string_view text, std::string_view instance = {});
  Result<ExprValue> evaluate(const Expression& expression);
  // "{IntRamp.Value} of {IntRamp.Target}": each {EXPRESSION} replaced by its value (or why not).
  // `instance`: whose fields the expressions may name by their own names.
  std::string interpolate(std::string_view message, std::string_view instance = {});
  // Writes a value given as text (as --set reads it) and gives it back as people read it; the
  // watches take the new value as seen (a write is not a change the program made).
  Result<std::string> set_value(const Variable& variable, std::string_view text);
  Result<std::string> value_text(const Variable& variable);

  Run& owner() { return run_; }
  Engine& engine() { return engine_; }
  Plc& plc() { return engine_.plc(); }
  const Symbols* symbols() { return engine_.plc().symbols(); }
  bool hooks_on() { return plc().hooks() || plc().local_hooks(); }

  Stepper& stepper() { return stepper_; }
  const CallStack& stack() const { return stack_; }
  Breakpoints& breakpoints() { return breakpoints_; }
  std::vector<Watch>& watches() { return watches_; }
  const SourceMap& source() const { return source_; }
  bool in_cycle() const { return inCycle_; }
  uint64_t cycle() const { return cycle_; }        // the running cycle, or the next one between cycles
  const Frame& held_at() const { return held_; }   // where a cycle held at an event stands

  // A participant of the run: after an online change (`change`, a reload, a live channel's) the
  // names, the listing and the watches are the new module's. Before and after every cycle it follows
  // a run that it does not drive, and lets the front end poll.
  unsigned points() const override { return kModuleChanged | kBeforeCycle | kAfterCycle; }
  void module_changed(Engine& engine) override;
  void before_cycle(Engine& engine, uint64_t index) override;
  void after_cycle(Engine& engine, const CycleInfo& cycle) override;

 private:
  static void KX_CDECL on_enter(void* user, int32_t typeId, void* address, int32_t kind,
                                EntryPointDescriptor* descriptor);
  static void KX_CDECL on_exit(void* user, EntryPointDescriptor* descriptor);
  void event(int32_t kind, const Place& place, const Frame& frame);
  // Runs cycles until one ends in a stop (or the stepper quits); gives that stop.
  Result<Stop> run_cycles();
  // Whether a watch that stops saw a change; tells the front end of every change.
  bool check_watches(const std::string& where);
  // The front end's stopped(), with the live channels told where the program is held and the
  // engine told how long it was held.
  void hold(const Stop& stop, HeldAt at);
  bool condition_holds(const Breakpoint& breakpoint);

  Run& run_;
  Engine& engine_;
  DebugFront& front_;
  PlaceResolver places_;
  SourceMap source_;
  Stepper stepper_;
  CallStack stack_;
  Breakpoints breakpoints_;
  std::vector<Watch> watches_;
  bool inCycle_ = false;
  Frame held_;
  uint64_t cycle_ = 0;
  bool handling_ = false;   // the hook handler is installed
  bool driving_ = false;    // run() drives the cycles
  std::atomic<bool> pause_{false};
  std::optional<Stop> cycleEndStop_;   // a run it follows: the stop at a cycle's end, made before the next
  std::vector<uint8_t> area_;          // the data area, read for a condition
};

}  // namespace softplc
