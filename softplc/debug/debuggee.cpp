#include "softplc/debug/debuggee.h"

#include "kxrt.h"
#include "softplc/engine/interrupt.h"

namespace softplc {

namespace {

// The live channels' view of a stop: held from here until the front end lets the program go on.
class HeldForChannels {
 public:
  HeldForChannels(RunStatus* status, HeldAt at) : status_(status) {
    if (status_ != nullptr) status_->hold(std::move(at));
  }
  ~HeldForChannels() {
    if (status_ != nullptr) status_->resume();
  }
  HeldForChannels(const HeldForChannels&) = delete;
  HeldForChannels& operator=(const HeldForChannels&) = delete;

 private:
  RunStatus* status_;
};

}  // namespace

std::string event_text(int32_t kind, const Place& place) {
  if (kind == kEventExit) return "exit " + place.text();
  return "enter(" + std::to_string(kind) + ") " + place.text();
}

Debuggee::Debuggee(Run& run, DebugFront& front)
    : run_(run),
      engine_(run.engine()),
      front_(front),
      places_(engine_.plc().symbols()),
      source_(engine_.plc().symbols()) {
  run.add_front_end(*this);
}

Debuggee::~Debuggee() {
  if (!handling_) return;
  kxdbg_set_handler(nullptr, nullptr, nullptr);
  plc().set_hooks(false);
  plc().set_local_hooks(false);
}

Status Debuggee::start() {
  if (auto status = run_.start(); !status) return status;
  kxdbg_set_handler(&on_enter, &on_exit, this);
  handling_ = true;
  plc().set_hooks(true);
  return ok_status();
}

Status Debuggee::run() {
  Stop stop;   // before the first cycle
  for (;;) {
    {
      const HeldForChannels held(run_.status(),
                                 softplc::held_at(source_, nullptr, false, stop.cycle, "before cycle " + std::to_string(stop.cycle)));
      front_.stopped(stop);
    }
    if (stepper_.mode() == Stepper::Mode::Quit) return ok_status();
    auto next = run_cycles();
    if (!next) return next.error();
    if (stepper_.mode() == Stepper::Mode::Quit) return ok_status();
    stop = *next;
  }
}

Result<Stop> Debuggee::run_cycles() {
  for (;;) {
    stack_.clear();
    inCycle_ = true;
    auto ran = engine_.run_cycle();
    inCycle_ = false;
    stack_.clear();
    if (!ran) return ran.error();
    Stop stop;
    stop.interrupted = interrupted();
    if (*ran) {
      const CycleCalls calls = engine_.runtime().cycle_calls();
      stop.ended = Stop::Ended{cycle_, engine_.last_time_ns(), calls.errorCount(), calls.firstError()};
      ++cycle_;
    }
    stop.cycle = cycle_;
    if (stepper_.mode() == Stepper::Mode::Quit) return stop;
    const bool watchStop = *ran && check_watches("cycle " + std::to_string(cycle_ - 1) + ", at its end");
    if (*ran && !stepper_.stop_at_cycle_end(watchStop, stop.interrupted)) continue;
    stepper_.idle();
    clear_interruption();
    // The program stops between two cycles: what the live channels wrote meanwhile is applied now.
    if (Exchange* exchange = run_.exchange(); exchange != nullptr && *ran) exchange->serve_requests();
    return stop;
  }
}

void KX_CDECL Debuggee::on_enter(void* user, int32_t typeId, void* address, int32_t kind,
                                 EntryPointDescriptor* descriptor) {
  // Runs inside the module's hook call: nothing may escape from here.
  auto* debuggee = static_cast<Debuggee*>(user);
  try {
    const Place place = debuggee->places_.resolve(typeId, address, descriptor);
    const SourceLocation* source = place.offset ? debuggee->source_.find(typeId, *place.offset, kind) : nullptr;
    debuggee->stack_.enter(kind, place, source);
    debuggee->event(kind, place, {place, source, source != nullptr ? source->line() : 0});
  } catch (...) {
    debuggee->stepper_.quit();
  }
}

void KX_CDECL Debuggee::on_exit(void* user, EntryPointDescriptor*) {
  auto* debuggee = static_cast<Debuggee*>(user);
  try {
    // An ExitHook with no block open (hooks switched on inside a block) names nothing.
    Frame frame = debuggee->stack_.exit_frame();
    frame.line = frame.source != nullptr ? frame.source->exit_line() : 0;
    debuggee->event(kEventExit, frame.place, frame);
  } catch (...) {
    debuggee->stepper_.quit();
  }
}

void Debuggee::event(int32_t kind, const Place& place, const Frame& frame) {
  const Stepper::Mode mode = stepper_.mode();
  if (mode == Stepper::Mode::Quit) return;
  const bool watchStop =
      !watches_.empty() && check_watches("cycle " + std::to_string(cycle_) + ", seen at " + event_text(kind, place));
  const Breakpoint* hit = mode == Stepper::Mode::Cycles ? nullptr : breakpoints_.hit(kind, place);
  Stop stop;
  stop.interrupted = interrupted();
  if (!stepper_.stop_at_event(kind, stack_.depth(), hit != nullptr, watchStop, stop.interrupted)) return;
  clear_interruption();
  stop.cycle = cycle_;
  stop.atEvent = true;
  stop.kind = kind;
  stop.place = place;
  stop.frame = frame;
  stop.breakpoint = hit;
  held_ = frame;
  {
    const HeldForChannels held(run_.status(),
                               softplc::held_at(source_, frame.source, kind == kEventExit, cycle_, event_text(kind, place)));
    front_.stopped(stop);
  }
  held_ = {};
}

bool Debuggee::check_watches(const std::string& where) {
  bool stop = false;
  for (Watch& watch : watches_) {
    auto now = plc().read(watch.variable);
    if (!now || now->bytes == watch.value.bytes) continue;
    const Encoded before = std::exchange(watch.value, *now);
    front_.watch_changed(watch, before, where);
    stop = stop || watch.stop;
  }
  return stop;
}

void Debuggee::module_changed(Engine&) {
  places_ = PlaceResolver(symbols());
  source_ = SourceMap(symbols());
  // Watches follow their variables by name into the new module.
  std::vector<Watch> kept;
  for (Watch& watch : watches_) {
    auto now = plc().variable(watch.variable.name);
    if (now && now->type == watch.variable.type) {
      watch.variable = *now;
      kept.push_back(std::move(watch));
    } else {
      front_.watch_ended(watch);
    }
  }
  watches_ = std::move(kept);
}

}  // namespace softplc
